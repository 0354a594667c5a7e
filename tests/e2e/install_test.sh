#!/usr/bin/env bash
# The installed program: cmake --install into a temporary prefix, the
# installed doppioni on a small tree for each answer, the manual page through
# groff's warnings, and its options and version against the program's own;
# the page, the licence and the changelog where Debian wants them.
#   install_test.sh BUILD_DIR VERSION
set -euo pipefail

BUILD="$(cd "$1" && pwd)"
command -v groff >/dev/null || { echo "groff is missing (Debian: groff-base)"; exit 77; }
WORK="$(cd "$(mktemp -d)" && pwd -P)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"  # nothing may run in a folder that matters
cmake --install "$BUILD" --prefix "$WORK/prefix" >/dev/null
BIN="$WORK/prefix/bin/doppioni" MAN="$WORK/prefix/share/man/man1/doppioni.1.gz"
DOC="$WORK/prefix/share/doc/doppioni"
fail() { echo "FAIL: $*" >&2; exit 1; }

# A copy in b/ and a junk file: "n" keeps both, "s" then a key deletes both
# and the emptied b/. One run in the tree, one with the tree as argument.
for answer in n s; do
  tree="$WORK/tree-$answer"
  mkdir -p "$tree/a" "$tree/b" && echo uno >"$tree/a/nota.txt" && echo x >"$tree/Thumbs.db"
  cp -p "$tree/a/nota.txt" "$tree/b/nota.txt" && status=0
  if [[ $answer == n ]]; then (cd "$tree" && "$BIN") <<<"n" >/dev/null || status=$?
  else printf 'sx' | "$BIN" "$tree" >/dev/null || status=$?; fi
  reports=$(cd "$tree" && ls -- *.txt 2>/dev/null | tr '\n' ' ') || true
  if [[ $answer == n ]]; then
    [[ $status == 1 && $reports == "Rapporto_doppioni.txt " ]] || fail "n: $status, $reports"
    [[ -f $tree/b/nota.txt && -f $tree/Thumbs.db ]] || fail "n deleted something"
  else
    [[ $status == 0 && $(wc -w <<<"$reports") == 4 ]] || fail "s: $status, $reports"
    [[ -f $tree/a/nota.txt && ! -e $tree/b && ! -e $tree/Thumbs.db ]] || fail "s: wrong deletions"
    grep -qx "C nota.txt in $tree/b" "$tree/Elenco_files_cancellati.txt" || fail "s: not listed"
  fi
done

[[ -f $DOC/copyright && -f $DOC/changelog.gz ]] || fail "no copyright or changelog in $DOC"
gzip -t "$MAN" "$DOC/changelog.gz" || fail "the manual page or the changelog is not compressed"
zcat "$MAN" | groff -man -ww -z -Tutf8 2>&1 | { ! grep .; } || fail "warnings on the manual page"
# Every option and exit status of the page is one of --help's, and back.
page=$(zcat "$MAN" | groff -man -Tascii -P-cbou 2>/dev/null)
help=$("$BIN" --help </dev/null)
options() { grep -oE '(^|[[:space:][:punct:]])--?[[:alpha:]][[:alnum:]-]*' | grep -oE -- '--?.*' | sort -u; }
[[ $(options <<<"$page") == $(options <<<"$help") ]] || fail "options of the page and --help differ"
statuses() { grep -oE '^ +-?[0-9]+( |$)' | tr -d ' ' | sort; }
[[ $(sed -n "/^STATO DI USCITA/,/^[A-Z]/p" <<<"$page" | statuses) == \
   $(sed -n '/^Stato di uscita/,$p' <<<"$help" | statuses) ]] || fail "exit statuses differ"
[[ $("$BIN" --version </dev/null) == "doppioni $2" ]] || fail "--version is not doppioni $2"
zgrep -q "doppioni $2" "$MAN" || fail "the manual page is not of version $2"
echo "installed program, manual page and --help agree"
