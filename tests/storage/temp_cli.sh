#!/bin/sh
# The temporary folder: a run that makes no temporary file leaves it alone;
# the first temporary file of a run removes what earlier runs left there,
# except a file another run still holds open under a lock.
# Usage: temp_cli.sh TALVEN
set -u
talven=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export TMPDIR="$tmp" XDG_STATE_HOME="$tmp/state" XDG_CONFIG_HOME="$tmp/config" TALVEN_NO_FSYNC=1
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
dir="$tmp/talven-$(id -u)"

"$talven" -e '(+ 1 2)' >/dev/null
check "a run without temporary files makes no folder" '[ ! -e "$dir" ]'

mkdir -m 700 "$dir"
: >"$dir/talven41.tmp"
: >"$dir/talven42.tmp"
: >"$dir/notes.txt"
"$talven" -e '(+ 1 2)' >/dev/null
check "start-up leaves leftovers alone" '[ -e "$dir/talven41.tmp" ]'

# Another run holds talven42.tmp open under a lock while this one starts.
flock -x "$dir/talven42.tmp" sleep 3 &
holder=$!
sleep 0.5
out=$("$talven" -e '(define f (talven-file-create () "ABCD" "TEXT" () t t)) (file-exists? f)' | tail -n 1)
check "a temporary file is made" '[ "$out" = "t" ]'
check "a leftover nobody holds is removed" '[ ! -e "$dir/talven41.tmp" ]'
check "a leftover held under a lock stays" '[ -e "$dir/talven42.tmp" ]'
check "other files stay" '[ -e "$dir/notes.txt" ]'
kill $holder 2>/dev/null
wait 2>/dev/null
exit $fail
