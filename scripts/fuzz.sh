#!/usr/bin/env bash
# Builds the reader's libFuzzer target with clang and runs it for a fixed
# budget (FUZZ_SECONDS, 60 by default), seeded with the golden test files.
# Fails on any crash, leak or sanitizer report.
set -eu
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
dir=build-fuzz
if [ ! -f "$dir/build.ninja" ]; then
  CXX=clang++ cmake -S . -B "$dir" -G Ninja -DTALVEN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$dir" --target fuzz_reader
corpus="$dir/corpus"
mkdir -p "$corpus"
find tests examples -name '*.lsp' -exec cp {} "$corpus/" \;
ASAN_OPTIONS=detect_leaks=1 "$dir/fuzz_reader" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 "$corpus"
