#!/usr/bin/env bash
# A complete run of doppioni.exe under wine in a tmux console, answered "s": what
# only Windows shows. Paths with backslashes, names beyond ASCII on the screen, in
# the reports and on disk, reports in text mode, read-only files, the runtime's
# error number, the exit status. Called by scripts/test-windows after the build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WORK="$ROOT/build/mingw/complete-run"
TREE="$WORK/cartella è"
SESSION="doppioni-win-$$"
export WINEPREFIX="${WINEPREFIX:-$ROOT/build/mingw/wineprefix}" WINEDEBUG=-all LC_ALL=C.UTF-8
export TERM="${TERM:-xterm}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=;winedbg.exe=d}"
failures=0
expect_same() {  # expect_same WHAT EXPECTED ACTUAL
  [[ "$2" == "$3" ]] && return
  echo "FAIL: $1 differs:" >&2 && diff <(echo "$2") <(echo "$3") >&2 || true
  failures=$((failures + 1))
}

rm -rf "$WORK"
for rel in Documenti/Thumbs.db Foto/2004/mare.jpg Foto/2005/mare.jpg "perché è.txt" \
  "Città/perché è.txt" Copia/solo.txt Documenti/solo.txt; do
  mkdir -p "$(dirname "$TREE/$rel")" && printf x >"$TREE/$rel"
  touch -d @1100000000 "$TREE/$rel"  # copies are copies only with one write time
done
chmod a-w "$TREE/Documenti/solo.txt" "$TREE/Documenti/Thumbs.db"  # read-only
R="$(winepath -w "$TREE")"  # the working directory as the program sees it

screen() { tmux capture-pane -p -J -t "$SESSION" -S - 2>/dev/null || true; }
wait_for() {  # until the screen, or what scrolled off it, shows the text
  for _ in $(seq 1 600); do screen | grep -qF -- "$1" && return 0; sleep 0.1; done
  screen >&2 && echo "FAIL: \"$1\" never appeared" >&2 && exit 1
}
trap 'tmux kill-session -t "$SESSION" 2>/dev/null || true' EXIT
tmux new-session -d -s "$SESSION" -x 100 -y 50 \
  "cd '$TREE' && wine '$ROOT/build/mingw/doppioni.exe'; echo \$? >'$WORK/status'; sleep 600"
wait_for "(s/n)" && tmux send-keys -t "$SESSION" s
wait_for "Premi un tasto per finire" && tmux send-keys -t "$SESSION" x
for _ in $(seq 1 300); do [[ -s "$WORK/status" ]] && break; sleep 0.1; done
expect_same "exit status" 0 "$(cat "$WORK/status" 2>/dev/null || echo none)"
expect_same "rows 1 and 2" "$(printf '%29s' '')ELIMINAZIONE DOPPIONI"$'\n'"$R" \
  "$(screen | head -n 2)"

# The reports, written in text mode: every line ends in "\r\n".
for file in "$TREE"/Rapporto_*.txt "$TREE"/Elenco_*.txt; do
  grep -q . "$file" && ! grep -qv $'\r$' "$file" || expect_same "${file##*/}" CRLF LF
done
report() { tr -d '\r' <"$TREE/$1" | sed -E 's#Compilato il [0-9/]{10} alle [0-9:]{8}#<ora>#'; }
lines() { printf '%s\n' "$@"; }
expect_same Rapporto_doppioni.txt "$(lines "RAPPORTO DOPPIONI" "" "<ora>" "" "C - da cancellare" \
  "0 - normale" "1 - file htm" "2 - associato ad un htm" "3 - inutile" "" \
  "C 3 Thumbs.db 1 in ... Documenti" "  0 mare.jpg 1 in ... Foto\\2004" \
  "C 0 mare.jpg 1 in ... Foto\\2005" "  0 perché è.txt 1 in ... $R" \
  "C 0 perché è.txt 1 in ... Città" "  0 solo.txt 1 in ... Copia" \
  "C 0 solo.txt 1 in ... Documenti" "fine del rapporto")" "$(report Rapporto_doppioni.txt)"
expect_same Elenco_files_cancellati.txt "$(lines "Elenco dei files cancellati" "" "<ora>" "" \
  "C - cancellato, R - accesso negato" "" "" "C Thumbs.db in $R\\Documenti" \
  "C mare.jpg in $R\\Foto\\2005" "C perché è.txt in $R\\Città" "R solo.txt in $R\\Documenti")" \
  "$(report Elenco_files_cancellati.txt)"
# Folders of one depth come in the order the system lists them: compared sorted.
r="$(report Rapporto_rimozione_cartelle.txt)"
expect_same Rapporto_rimozione_cartelle.txt "$(lines "Rapporto rimozione cartelle" "" "<ora>" "" \
  "$R\\Città	rimossa" "$R\\Foto	accesso negato 41" "$R\\Foto\\2005	rimossa" "" "" \
  "Totale cartelle 6" "Cartelle senza files 3" "Cartelle rimosse 2" \
  "Accesso negato a 1 cartelle" "" "Fine rapporto")" \
  "$(sed -n 1,4p <<<"$r"; sed -n 5,7p <<<"$r" | LC_ALL=C sort; sed -n '8,$p' <<<"$r")"
expect_same "what is left on disk" "$(lines Copia Copia/solo.txt Documenti Documenti/solo.txt \
  Elenco_files_cancellati.txt Foto Foto/2004 Foto/2004/mare.jpg Rapporto_cartelle.txt \
  Rapporto_doppioni.txt Rapporto_rimozione_cartelle.txt "perché è.txt")" \
  "$(cd "$TREE" && find . -mindepth 1 | sed 's#^\./##' | LC_ALL=C sort)"

# The work folder moved while the question waits, and another folder put at its
# old path (wine lets Linux do what Windows refuses): the folder stage finds
# another folder there and stops before it removes anything of it.
tmux kill-session -t "$SESSION" 2>/dev/null || true
SESSION="$SESSION-moved"
rm -rf "$TREE" "$WORK/spostata" "$WORK/status" && mkdir -p "$TREE/vuota"
tmux new-session -d -s "$SESSION" -x 100 -y 50 \
  "cd '$TREE' && wine '$ROOT/build/mingw/doppioni.exe'; echo \$? >'$WORK/status'; sleep 600"
wait_for "(s/n)" && mv "$TREE" "$WORK/spostata" && mkdir -p "$TREE/altra/vuota"
tmux send-keys -t "$SESSION" s
for _ in $(seq 1 300); do [[ -s "$WORK/status" ]] && break; sleep 0.1; done
expect_same "exit status, work folder moved" 255 "$(cat "$WORK/status" 2>/dev/null || echo none)"
expect_same "the other folder" "altra/vuota" "$(cd "$TREE" && find . -mindepth 2 -type d | cut -c3-)"
wait_for "La cartella di lavoro non e' piu' quella esaminata"

# --tieni and --sposta-in, their folders read from where the program starts: the copy in the
# kept folder stays, the other goes below the destination with its folders, beside the tree
# (a rename through the handle) and, where there is one, on another volume (a copy).
for dest in "$WORK/altrove" /dev/shm/doppioni-$$; do
  tmux kill-session -t "$SESSION" 2>/dev/null || true
  rm -rf "$TREE" "$dest" "$WORK/status" && mkdir -p "$TREE/A/sub" "$TREE/Z" "$dest" || continue
  for f in A/sub/foto.jpg Z/foto.jpg; do printf x >"$TREE/$f" && touch -d @1100000000 "$TREE/$f"; done
  tmux new-session -d -s "$SESSION" -x 100 -y 50 "cd '$WORK' && wine '$ROOT/build/mingw/doppioni.exe' \
    --tieni 'cartella è\Z' --sposta-in '$(winepath -w "$dest")' 'cartella è'; echo \$? >status; sleep 600"
  wait_for "(s/n)" && tmux send-keys -t "$SESSION" s
  wait_for "Premi un tasto per finire" && tmux send-keys -t "$SESSION" x
  for _ in $(seq 1 300); do [[ -s "$WORK/status" ]] && break; sleep 0.1; done
  listed() { (cd "$1" && find . -mindepth 1 ! -name '*.txt' | sed 's#^\./##' | LC_ALL=C sort); }
  expect_same "what is left, and what moved to $dest" "$(lines Z Z/foto.jpg A A/sub A/sub/foto.jpg)" \
    "$(listed "$TREE"; listed "$dest")"
  expect_same "the list of $dest" "C foto.jpg in $R\\A\\sub" "$(report Elenco_files_cancellati.txt | tail -1)"
  rm -rf "$dest"
done

echo "complete run under wine: $((failures == 0)) passed, $((failures != 0)) failed"
exit $((failures != 0))
