#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for
# FUZZ_SECONDS (default 30), seeded with the golden test files. Any crash,
# leak or sanitizer report fails the run.
set -eu
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
if [ ! -f build-fuzz/build.ninja ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTALVEN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build-fuzz --target $(cd fuzz && ls *_fuzz.cpp | sed 's/\.cpp$//')
status=0
for target in build-fuzz/fuzz/*_fuzz; do
  name=$(basename "$target")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  find tests -name '*.lsp' -exec cp {} "$corpus" \; 2>/dev/null || true
  echo "== $name for ${seconds}s =="
  if ! "$target" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 "$corpus" 2>build-fuzz/$name.log; then
    tail -n 40 build-fuzz/$name.log
    status=1
  else
    tail -n 1 build-fuzz/$name.log
  fi
done
exit $status
