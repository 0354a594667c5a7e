#!/usr/bin/env bash
# A complete run of doppioni.exe under wine, in a console: a fixed-size tmux
# session runs the program in a generated tree, answers "s" to its question
# and presses a key at the end; then its four reports, its screen and what
# is left on disk are checked. Called by scripts/test-windows, after the
# build; exits non-zero on the first difference.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
EXE="$ROOT/build/mingw/doppioni.exe"
WORK="$ROOT/build/mingw/complete-run"
TREE="$WORK/tree"
SESSION="doppioni-win-$$"
export WINEPREFIX="${WINEPREFIX:-$ROOT/build/mingw/wineprefix}"
export WINEDEBUG=-all
export TERM="${TERM:-xterm}"  # tmux needs one, even detached
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=;winedbg.exe=d}"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- the tree ------------------------------------------------------------------
rm -rf "$WORK"
mkdir -p "$TREE"
file() {  # file REL CONTENT
  mkdir -p "$(dirname "$TREE/$1")"
  printf '%s' "$2" >"$TREE/$1"
}
file note.txt n
file Foto/2004/mare.jpg onde
file Foto/2005/mare.jpg onde
file Foto/2006/mare.jpg onde
file Copia/solo.txt s
file Documenti/solo.txt s
file Documenti/lettera.doc testo
file 'Documenti/~$lettera.doc' blocco
file Documenti/Thumbs.db tt
file Copia2/index.htm '<html>'
file Copia2/index_file/img.png png
file Pagine/index.htm '<html>'
file Pagine/index_file/img.png png
file Recycled/vecchio.txt v
file Recycled/Sotto/x.txt x
mkdir -p "$TREE/Vuota/A/B"
# Copies are copies only with the same write time.
for copy in Foto/2004/mare.jpg Foto/2005/mare.jpg Foto/2006/mare.jpg Copia/solo.txt \
  Documenti/solo.txt Copia2/index.htm Copia2/index_file/img.png Pagine/index.htm \
  Pagine/index_file/img.png; do
  touch -d @1100000000 "$TREE/$copy"
done
chmod a-w "$TREE/Documenti/solo.txt"  # read-only: its deletion is refused

R="$(winepath -w "$TREE")"  # the working directory as the program sees it

# --- the run -------------------------------------------------------------------
# Waits until the screen (and what scrolled off it) shows the text.
screen() { tmux capture-pane -p -J -t "$SESSION" -S - 2>/dev/null || true; }
wait_for() {
  for _ in $(seq 1 600); do
    if screen | grep -qF -- "$1"; then return 0; fi
    sleep 0.1
  done
  echo "--- screen:" >&2
  screen >&2
  fail "\"$1\" never appeared"
  return 1
}
cleanup() { tmux kill-session -t "$SESSION" 2>/dev/null || true; }
trap cleanup EXIT

tmux new-session -d -s "$SESSION" -x 100 -y 50 \
  "cd '$TREE' && wine '$EXE'; echo \$? >'$WORK/status'; sleep 600"
wait_for "(s/n)" || exit 1
tmux send-keys -t "$SESSION" s
wait_for "Premi un tasto per finire" || exit 1
tmux send-keys -t "$SESSION" x
for _ in $(seq 1 300); do
  [[ -s "$WORK/status" ]] && break
  sleep 0.1
done
final_screen="$(screen)"
status="$(cat "$WORK/status" 2>/dev/null || echo none)"
[[ "$status" == 0 ]] || fail "exit status $status, not 0"

# --- the screen ----------------------------------------------------------------
first_line="$(printf '%s\n' "$final_screen" | sed -n 1p)"
[[ "$first_line" == "$(printf '%29s' '')ELIMINAZIONE DOPPIONI" ]] ||
  fail "title not at column 30 of row 1: '$first_line'"
[[ "$(printf '%s\n' "$final_screen" | sed -n 2p)" == "$R" ]] || fail "working directory not on row 2"
for text in "Elenco fatto, 15 files trovati" "Vuoi cancellare i files ?  (s/n) s" \
  "Trovate 15 cartelle" "Cartelle rimosse 9" "Accesso negato a 1 cartelle"; do
  grep -qF -- "$text" <<<"$final_screen" || fail "the screen lacks \"$text\""
done

# --- the reports ---------------------------------------------------------------
# A report as text with "\n" lines and its time in a fixed form; every line
# must have been written in text mode, ending in "\r\n".
report() {
  local path="$TREE/$1"
  if [[ ! -f "$path" ]]; then
    fail "$1 was not written"
    return
  fi
  if grep -qv $'\r$' "$path"; then fail "$1 has lines without \\r\\n"; fi
  tr -d '\r' <"$path" |
    sed -E 's#Compilato il [0-9]{2}/[0-9]{2}/[0-9]{4} alle [0-9]{2}:[0-9]{2}:[0-9]{2}#Compilato il <ora>#'
}
expect_same() {  # expect_same WHAT EXPECTED ACTUAL
  if [[ "$2" != "$3" ]]; then
    fail "$1 differs:"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") >&2 || true
  fi
}

expect_same Rapporto_doppioni.txt "RAPPORTO DOPPIONI

Compilato il <ora>

C - da cancellare
0 - normale
1 - file htm
2 - associato ad un htm
3 - inutile

C 3 Thumbs.db 2 in ... Documenti
  2 img.png 3 in ... Copia2\\index_file
C 2 img.png 3 in ... Pagine\\index_file
  1 index.htm 6 in ... Copia2
C 1 index.htm 6 in ... Pagine
  0 lettera.doc 5 in ... Documenti
  0 mare.jpg 4 in ... Foto\\2004
C 0 mare.jpg 4 in ... Foto\\2005
C 0 mare.jpg 4 in ... Foto\\2006
  0 note.txt 1 in ... $R
  0 solo.txt 1 in ... Copia
C 0 solo.txt 1 in ... Documenti
C 3 vecchio.txt 1 in ... Recycled
C 3 x.txt 1 in ... Recycled\\Sotto
C 3 ~\$lettera.doc 6 in ... Documenti
fine del rapporto" "$(report Rapporto_doppioni.txt)"

expect_same Elenco_files_cancellati.txt "Elenco dei files cancellati

Compilato il <ora>

C - cancellato, R - accesso negato


C Thumbs.db in $R\\Documenti
C img.png in $R\\Pagine\\index_file
C index.htm in $R\\Pagine
C mare.jpg in $R\\Foto\\2005
C mare.jpg in $R\\Foto\\2006
R solo.txt in $R\\Documenti
C vecchio.txt in $R\\Recycled
C x.txt in $R\\Recycled\\Sotto
C ~\$lettera.doc in $R\\Documenti" "$(report Elenco_files_cancellati.txt)"

# Folders of one depth come in the order the system lists them: the lines
# are compared as a set, the depths as an order.
base_depth="$(tr -cd '\\' <<<"$R" | wc -c)"
folder_line() {  # folder_line FILES DEPTH REL
  printf '%4d    %3d    %s\\%s' "$1" $((base_depth + $2)) "$R" "$3"
}
folders="$(report Rapporto_cartelle.txt)"
expect_same "Rapporto_cartelle.txt (head and tail)" "Compilato il <ora>

Numero cartelle: 15

files slashes cartella

--

fine del rapporto" "$(sed -n '1,6p' <<<"$folders"; echo --; tail -n 2 <<<"$folders")"
folder_lines="$(sed -n '7,21p' <<<"$folders")"
expect_same "Rapporto_cartelle.txt (folders)" "$(
  {
    folder_line 1 1 Copia
    echo
    folder_line 1 1 Copia2
    echo
    folder_line 1 2 'Copia2\index_file'
    echo
    folder_line 2 1 Documenti
    echo
    folder_line 0 1 Foto
    echo
    folder_line 1 2 'Foto\2004'
    echo
    folder_line 0 2 'Foto\2005'
    echo
    folder_line 0 2 'Foto\2006'
    echo
    folder_line 0 1 Pagine
    echo
    folder_line 0 2 'Pagine\index_file'
    echo
    folder_line 0 1 Recycled
    echo
    folder_line 0 2 'Recycled\Sotto'
    echo
    folder_line 0 1 Vuota
    echo
    folder_line 0 2 'Vuota\A'
    echo
    folder_line 0 3 'Vuota\A\B'
    echo
  } | LC_ALL=C sort
)" "$(LC_ALL=C sort <<<"$folder_lines")"
cut -c9-11 <<<"$folder_lines" | sort -rn -c 2>/dev/null || fail "Rapporto_cartelle.txt: not deepest first"

removal="$(report Rapporto_rimozione_cartelle.txt)"
expect_same "Rapporto_rimozione_cartelle.txt (head and summary)" "Rapporto rimozione cartelle

Compilato il <ora>

--


Totale cartelle 15
Cartelle senza files 10
Cartelle rimosse 9
Accesso negato a 1 cartelle

Fine rapporto" "$(sed -n '1,4p' <<<"$removal"; echo --; tail -n 8 <<<"$removal")"
# The folder that still holds a file is refused with the runtime's ENOTEMPTY.
expect_same "Rapporto_rimozione_cartelle.txt (attempts)" "$(
  printf '%s\n' "$R\\Vuota\\A\\B	rimossa" "$R\\Vuota\\A	rimossa" "$R\\Vuota	rimossa" \
    "$R\\Foto\\2005	rimossa" "$R\\Foto\\2006	rimossa" "$R\\Foto	accesso negato 41" \
    "$R\\Pagine\\index_file	rimossa" "$R\\Pagine	rimossa" "$R\\Recycled\\Sotto	rimossa" \
    "$R\\Recycled	rimossa" | LC_ALL=C sort
)" "$(sed -n '5,14p' <<<"$removal" | LC_ALL=C sort)"

# --- the disk ------------------------------------------------------------------
expect_same "what is left on disk" "Copia
Copia/solo.txt
Copia2
Copia2/index.htm
Copia2/index_file
Copia2/index_file/img.png
Documenti
Documenti/lettera.doc
Documenti/solo.txt
Elenco_files_cancellati.txt
Foto
Foto/2004
Foto/2004/mare.jpg
Rapporto_cartelle.txt
Rapporto_doppioni.txt
Rapporto_rimozione_cartelle.txt
note.txt" "$(cd "$TREE" && find . -mindepth 1 | sed 's#^\./##' | LC_ALL=C sort)"

if [[ $failures -ne 0 ]]; then
  echo "complete run under wine: 0 passed, 1 failed ($failures differences)"
  exit 1
fi
echo "complete run under wine: 1 passed, 0 failed"
