#!/bin/sh
# The database inspector on the command line: a listing of a database made
# by the primitives, escaping, refusal of files that are no database.
# Usage: db_cli.sh TALVEN
set -u
talven=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_STATE_HOME="$tmp/state" TALVEN_NO_FSYNC=1
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

"$talven" db --help >/dev/null; check "--help answers 0" '[ $? -eq 0 ]'
"$talven" db list >/dev/null 2>&1; check "missing FILE is a usage error" '[ $? -eq 2 ]'
"$talven" db show x >/dev/null 2>&1; check "an unknown action is a usage error" '[ $? -eq 2 ]'

"$talven" -e "(create-database-subr \"$tmp/a.db\" \"CREA\" \"TYPE\")
(define d (open-database \"$tmp/a.db\" 2))
(put-record-number -70000 \"NUMB\" -2 d)
(put-record-string \"hi\" \"T\\\\x1\" 3 d)
(define h (new-handle 0))
(add-record h \"DATA\" 100000 \"a	tab\" d)
(close-database d ())" >/dev/null 2>"$tmp/err"
check "the database is made" '[ -s "$tmp/a.db" ]'
"$talven" db list "$tmp/a.db" > "$tmp/out"; status=$?
check "listing answers 0" '[ $status -eq 0 ]'
cat > "$tmp/want" <<'END'
type	id	name	attrs	length	sha256
NUMB	-2		0x40	4	f3d5bb0d03f6e3d2b14e4fcaab2ebaf5b9a3257ae5f8bd4ec5c1fa7ac5d5ef4d
T\\x1	3		0x40	3	a79fb1b43da8a56b8a0e9ba7ce65d8c3d4c2d3e57c5ea3c8e9ab3e5e1e1b0b3b
DATA	100000	a\x09tab	0x40	0	e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855
END
# The digests of the data are computed here rather than trusted.
num=$(printf '\377\376\356\220' | sha256sum | cut -d' ' -f1)
str=$(printf 'hi\000' | sha256sum | cut -d' ' -f1)
sed -i "s/f3d5bb0d03f6e3d2b14e4fcaab2ebaf5b9a3257ae5f8bd4ec5c1fa7ac5d5ef4d/$num/; s/a79fb1b43da8a56b8a0e9ba7ce65d8c3d4c2d3e57c5ea3c8e9ab3e5e1e1b0b3b/$str/" "$tmp/want"
check "the listing" 'cmp -s "$tmp/out" "$tmp/want" || { diff "$tmp/want" "$tmp/out"; false; }'

printf 'not a database at all' > "$tmp/bad"
"$talven" db list "$tmp/bad" >"$tmp/out" 2>"$tmp/err"; status=$?
check "a refused file answers 1" '[ $status -eq 1 ]'
check "with one line naming the file" '[ "$(wc -l < "$tmp/err")" -eq 1 ] && grep -q "$tmp/bad" "$tmp/err"'
check "and nothing on standard output" '[ ! -s "$tmp/out" ]'
"$talven" db list "$tmp/none" >/dev/null 2>&1; check "a missing file answers 1" '[ $? -eq 1 ]'
exit $fail
