#!/usr/bin/env bash
# A complete run of doppioni.exe under wine in a tmux console, answered "s", on a
# generated tree; then its screen, its four reports and the disk are checked.
# Called by scripts/test-windows after the build; exits non-zero on a difference.
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
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect_same() {  # expect_same WHAT EXPECTED ACTUAL
  if [[ "$2" != "$3" ]]; then
    fail "$1 differs:"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") >&2 || true
  fi
}

# Each file in the duplicates report's order: its marks there, what the
# deletion does with it (C deleted, R refused, - not tried) and its path.
FILES=("C 3 C Documenti/Thumbs.db" "  2 - Copia2/index_file/img.png"
  "C 2 C Pagine/index_file/img.png" "  1 - Copia2/index.htm" "C 1 C Pagine/index.htm"
  "  0 - Documenti/lettera.doc" "  0 - Foto/2004/mare.jpg" "C 0 C Foto/2005/mare.jpg"
  "C 0 C Foto/2006/mare.jpg" "  0 - note.txt" "  0 - Copia/solo.txt" "C 0 R Documenti/solo.txt"
  "C 3 C Recycled/vecchio.txt" "C 3 C Recycled/Sotto/x.txt" "C 3 C Documenti/~\$lettera.doc")
# Each folder: its files after the deletion, its removal (r removed, n refused
# as it holds a folder with a file, - not tried) and its path.
FOLDERS=("1 - Copia" "1 - Copia2" "1 - Copia2/index_file" "2 - Documenti" "0 n Foto" "1 - Foto/2004"
  "0 r Foto/2005" "0 r Foto/2006" "0 r Pagine" "0 r Pagine/index_file" "0 r Recycled"
  "0 r Recycled/Sotto" "0 r Vuota" "0 r Vuota/A" "0 r Vuota/A/B")

rm -rf "$WORK"
mkdir -p "$TREE"
R="$(winepath -w "$TREE")"  # the working directory as the program sees it
base_depth="$(tr -cd '\\' <<<"$R" | wc -c)"
stamp='Compilato il <ora>'
report="RAPPORTO DOPPIONI"$'\n\n'"$stamp"$'\n\nC - da cancellare\n0 - normale\n1 - file htm\n'
report+=$'2 - associato ad un htm\n3 - inutile\n\n'
deleted="Elenco dei files cancellati"$'\n\n'"$stamp"$'\n\nC - cancellato, R - accesso negato\n\n\n'
left=$'Elenco_files_cancellati.txt\nRapporto_cartelle.txt\nRapporto_doppioni.txt\n'
left+=$'Rapporto_rimozione_cartelle.txt\n'
for line in "${FILES[@]}"; do
  marks="${line:0:3}" outcome="${line:4:1}" rel="${line:6}"
  mkdir -p "$(dirname "$TREE/$rel")" && printf x >"$TREE/$rel"
  touch -d @1100000000 "$TREE/$rel"  # copies are copies only with one write time
  name="${rel##*/}" dir="${rel%/*}"
  [[ "$rel" == */* ]] && dir="${dir//\//\\}" || dir=''
  report+="$marks $name 1 in ... ${dir:-$R}"$'\n'
  [[ "$outcome" != - ]] && deleted+="$outcome $name in $R\\$dir"$'\n'
  [[ "$outcome" != C ]] && left+="$rel"$'\n'
done
chmod a-w "$TREE/Documenti/solo.txt" "$TREE/Documenti/Thumbs.db"  # read-only
folder_lines='' attempts=''
for line in "${FOLDERS[@]}"; do
  read -r files removal rel <<<"$line"
  mkdir -p "$TREE/$rel"
  win="$R\\${rel//\//\\}"
  depth=$((base_depth + $(tr -cd / <<<"$rel" | wc -c) + 1))
  folder_lines+="$(printf '%4d    %3d    %s' "$files" "$depth" "$win")"$'\n'
  [[ $removal == r ]] && attempts+="$win"$'\trimossa\n'
  # The folder that still holds a folder with a file: the runtime's ENOTEMPTY.
  [[ $removal == n ]] && attempts+="$win"$'\taccesso negato 41\n'
  [[ $removal != r ]] && left+="$rel"$'\n'
done

# --- the run -------------------------------------------------------------------
screen() { tmux capture-pane -p -J -t "$SESSION" -S - 2>/dev/null || true; }
wait_for() {  # waits until the screen, or what scrolled off it, shows the text
  for _ in $(seq 1 600); do if screen | grep -qF -- "$1"; then return 0; fi; sleep 0.1; done
  screen >&2
  fail "\"$1\" never appeared"
  exit 1
}
trap 'tmux kill-session -t "$SESSION" 2>/dev/null || true' EXIT
tmux new-session -d -s "$SESSION" -x 100 -y 50 \
  "cd '$TREE' && wine '$EXE'; echo \$? >'$WORK/status'; sleep 600"
wait_for "(s/n)"
tmux send-keys -t "$SESSION" s
wait_for "Premi un tasto per finire"
tmux send-keys -t "$SESSION" x
for _ in $(seq 1 300); do if [[ -s "$WORK/status" ]]; then break; fi; sleep 0.1; done
final_screen="$(screen)"
expect_same "exit status" 0 "$(cat "$WORK/status" 2>/dev/null || echo none)"

expect_same "rows 1 and 2" "$(printf '%29s' '')ELIMINAZIONE DOPPIONI"$'\n'"$R" \
  "$(sed -n 1,2p <<<"$final_screen")"
for text in "Elenco fatto, 15 files trovati" "Vuoi cancellare i files ?  (s/n) s" \
  "Trovate 15 cartelle" "Cartelle rimosse 9" "Accesso negato a 1 cartelle"; do
  grep -qF -- "$text" <<<"$final_screen" || fail "the screen lacks \"$text\""
done

# --- the reports and the disk --------------------------------------------------
# A report with "\n" lines and its time in a fixed form; every line must have
# been written in text mode, ending in "\r\n".
report() {
  [[ -f "$TREE/$1" ]] || fail "$1 was not written"
  if grep -qv $'\r$' "$TREE/$1"; then fail "$1 has lines without \\r\\n"; fi
  tr -d '\r' <"$TREE/$1" | sed -E "s#Compilato il [0-9/]{10} alle [0-9:]{8}#$stamp#"
}
expect_same Rapporto_doppioni.txt "${report}fine del rapporto" "$(report Rapporto_doppioni.txt)"
expect_same Elenco_files_cancellati.txt "${deleted%$'\n'}" "$(report Elenco_files_cancellati.txt)"
# Folders of one depth come in the order the system lists them: the lines are
# compared sorted, the depths as an order.
folders="$(report Rapporto_cartelle.txt)"
expect_same "Rapporto_cartelle.txt" "$stamp"$'\n\nNumero cartelle: 15\n\nfiles slashes cartella\n\n'"$(
  LC_ALL=C sort <<<"${folder_lines%$'\n'}")"$'\n\nfine del rapporto' \
  "$(head -n 6 <<<"$folders"; sed -n '7,21p' <<<"$folders" | LC_ALL=C sort; tail -n 2 <<<"$folders")"
cut -c9-11 <<<"$(sed -n '7,21p' <<<"$folders")" | sort -rn -c || fail "folders not deepest first"
removal="$(report Rapporto_rimozione_cartelle.txt)"
totals=$'Totale cartelle 15\nCartelle senza files 10\nCartelle rimosse 9\nAccesso negato a 1 cartelle'
expect_same Rapporto_rimozione_cartelle.txt "Rapporto rimozione cartelle"$'\n\n'"$stamp"$'\n\n'"$(
  LC_ALL=C sort <<<"${attempts%$'\n'}")"$'\n\n\n'"$totals"$'\n\nFine rapporto' \
  "$(head -n 4 <<<"$removal"; sed -n '5,14p' <<<"$removal" | LC_ALL=C sort; tail -n 8 <<<"$removal")"
expect_same "what is left on disk" "$(LC_ALL=C sort <<<"${left%$'\n'}")" \
  "$(cd "$TREE" && find . -mindepth 1 | sed 's#^\./##' | LC_ALL=C sort)"

if [[ $failures -ne 0 ]]; then
  echo "complete run under wine: 0 passed, 1 failed ($failures differences)"
  exit 1
fi
echo "complete run under wine: 1 passed, 0 failed"
