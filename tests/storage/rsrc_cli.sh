#!/bin/sh
# The resource inspector on the command line: listings of the sample forks
# (when the corpus is there), extraction, refusal of a damaged file.
# Usage: rsrc_cli.sh TALVEN SOURCE_DIR
set -u
talven=$1
src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

"$talven" rsrc --help >/dev/null; check "--help answers 0" '[ $? -eq 0 ]'
"$talven" rsrc list >/dev/null 2>&1; check "missing FILE is a usage error" '[ $? -eq 2 ]'
printf 'not a resource file at all' > "$tmp/bad"
"$talven" rsrc list "$tmp/bad" >"$tmp/out" 2>"$tmp/err"; status=$?
check "a refused file answers 1" '[ $status -eq 1 ]'
check "with one line naming the file" '[ "$(wc -l < "$tmp/err")" -eq 1 ] && grep -q "$tmp/bad" "$tmp/err"'
check "and nothing on standard output" '[ ! -s "$tmp/out" ]'

corpus=""
for d in "$src/../shared/corpus/rsrc" "$src/../../shared/corpus/rsrc"; do
  [ -d "$d" ] && corpus=$d && break
done
if [ -n "$corpus" ]; then
  for f in "$corpus"/*.rsrc "$corpus"/*.appledouble; do
    base=$(basename "$f"); base=${base%.rsrc}; base=${base%.appledouble}
    "$talven" rsrc list "$f" > "$tmp/list" 2>&1
    check "listing of $(basename "$f")" 'cmp -s "$tmp/list" "$corpus/$base.listing.tsv"'
  done
  "$talven" rsrc extract "$corpus/DiskCopy42.rsrc" 'STR ' -16396 "$tmp/str"
  check "extract writes the data" '[ "$(sha256sum < "$tmp/str" | cut -d" " -f1)" = 59f22254aab4dd7e26e190c7dedd65679be6924c220dcc1694f06e3bb806dfd0 ]'
  "$talven" rsrc extract "$corpus/DiskCopy42.rsrc" 'STR ' 1 "$tmp/none" 2>/dev/null; status=$?
  check "extract of a missing resource answers 1 and writes nothing" '[ $status -eq 1 ] && [ ! -e "$tmp/none" ]'
else
  echo "skipped: no corpus at $src/../shared/corpus/rsrc (the listings and extractions of the sample files)"
fi
exit $fail
