#!/bin/sh
# The sound inspector on the command line: the header fields of the sample
# sounds against their independent readings, WAV files against the
# references, refusals with one line (when the corpus is there).
# Usage: snd_cli.sh TALVEN SOURCE_DIR
set -u
talven=$1
src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

"$talven" snd --help >/dev/null; check "--help answers 0" '[ $? -eq 0 ]'
"$talven" snd info >/dev/null 2>&1; check "missing FILE is a usage error" '[ $? -eq 2 ]'
printf 'not a sound at all' > "$tmp/bad"
"$talven" snd info "$tmp/bad" >"$tmp/out" 2>"$tmp/err"; status=$?
check "a refused file answers 1" '[ $status -eq 1 ]'
check "with one line naming the file" '[ "$(wc -l < "$tmp/err")" -eq 1 ] && grep -q "$tmp/bad" "$tmp/err"'
check "and nothing on standard output" '[ ! -s "$tmp/out" ]'

corpus=""
for d in "$src/../shared/corpus" "$src/../../shared/corpus"; do
  [ -d "$d/snd" ] && corpus=$d && break
done
if [ -z "$corpus" ]; then
  echo "skipped: no corpus at $src/../shared/corpus/snd (the sample sounds)"
  exit $fail
fi
for f in "$corpus"/snd/*.snd; do
  base=${f%.snd}
  "$talven" snd info "$f" > "$tmp/info"; check "info of $(basename "$f") answers 0" '[ $? -eq 0 ]'
  for key in header_offset header sample_rate_fixed sample_rate channels loop_start loop_end base_frequency; do
    want=$(grep "^$key=" "$base.info.txt")
    check "$(basename "$f") $want" 'grep -qx "$want" "$tmp/info"'
  done
done
"$talven" snd wav "$corpus/snd/mael_105_Boom1.snd" "$tmp/boom.wav"
check "an 8-bit sound is written as its samples" 'cmp -s "$tmp/boom.wav" "$corpus/snd/mael_105_Boom1.pcm.wav"'
"$talven" snd wav "$corpus/rsrc/Maelstrom_Sounds.rsrc" "$tmp/boom2.wav" --id 105
check "the same sound from its resource file" 'cmp -s "$tmp/boom2.wav" "$corpus/snd/mael_105_Boom1.pcm.wav"'
"$talven" snd wav "$corpus/snd/nano_Main_10000_Rocket.pcm.wav" "$tmp/rocket.wav"
check "a 16-bit WAV file is written as it is" 'cmp -s "$tmp/rocket.wav" "$corpus/snd/nano_Main_10000_Rocket.pcm.wav"'
"$talven" snd info "$corpus/rsrc/Maelstrom_Sounds.rsrc" --id 9999 >/dev/null 2>"$tmp/err"; status=$?
check "a missing resource answers 1 with one line" '[ $status -eq 1 ] && [ "$(wc -l < "$tmp/err")" -eq 1 ]'
head -c 100 "$corpus/snd/nano_Main_10000_Rocket.snd" > "$tmp/cut.snd"
"$talven" snd wav "$tmp/cut.snd" "$tmp/cut.wav" 2>"$tmp/err"; status=$?
check "a cut sound answers 1, says why, and writes nothing" \
  '[ $status -eq 1 ] && grep -q "runs past the end" "$tmp/err" && [ ! -e "$tmp/cut.wav" ]'
exit $fail
