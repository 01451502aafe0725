#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/NAME_fuzz.cpp is the target fuzz_NAME)
# with clang and runs each for a fixed budget (FUZZ_SECONDS, 60 by default),
# seeded with the golden test files. Fails on any crash, leak or sanitizer
# report.
set -eu
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
dir=build-fuzz
if [ ! -f "$dir/build.ninja" ]; then
  CXX=clang++ cmake -S . -B "$dir" -G Ninja -DTALVEN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
targets=$(cd fuzz && ls *_fuzz.cpp | sed -E 's/^(.*)_fuzz\.cpp$/fuzz_\1/')
cmake --build "$dir" --target $targets
status=0
for target in $targets; do
  corpus="$dir/corpus/$target"
  mkdir -p "$corpus"
  find tests examples -name '*.lsp' -exec cp {} "$corpus/" \; 2>/dev/null || true
  # The resource fork target also starts from the sample forks, when present.
  if [ "$target" = fuzz_rsrc ]; then
    for d in ../shared/corpus/rsrc ../../shared/corpus/rsrc; do
      [ -d "$d" ] && cp "$d"/*.rsrc "$d"/*.appledouble "$corpus/" 2>/dev/null || true
    done
  fi
  # Pictures for the image decoders.
  case $target in
    fuzz_png | fuzz_dib) cp tests/platform/golden/*.png "$corpus/" 2>/dev/null || true ;;
    # The corpus pictures beside the project, when they are there.
    fuzz_pict) cp ../shared/corpus/pict/* ../../shared/corpus/pict/* "$corpus/" 2>/dev/null || true ;;
    # Sounds: the single resources, their decodes and the forks of sounds.
    fuzz_snd) cp ../shared/corpus/snd/*.snd ../shared/corpus/snd/*.wav ../shared/corpus/rsrc/*.rsrc \
                 ../../shared/corpus/snd/*.snd ../../shared/corpus/snd/*.wav "$corpus/" 2>/dev/null || true ;;
  esac
  echo "== $target for ${seconds}s =="
  ASAN_OPTIONS=detect_leaks=1 "$dir/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 "$corpus" || status=1
done
exit $status
