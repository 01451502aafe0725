#!/usr/bin/env bash
# Builds and runs the whole suite in three builds: normal (build/),
# sanitizer (build-asan/, AddressSanitizer + UndefinedBehaviorSanitizer) and
# collect-always (build-gc/, skipped with TALVEN_GC_STRESS_SUITE=0), each
# through ctest, then one closing line with the counts.
set -u
cd "$(dirname "$0")/.."
jobs=$(nproc)
total_pass=0
total_fail=0
status=0

run_suite() {
  local dir=$1
  shift
  echo "== $dir =="
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null || { status=1; total_fail=$((total_fail + 1)); return; }
  fi
  if ! cmake --build "$dir" -j "$jobs"; then
    echo "build failed in $dir"
    status=1
    total_fail=$((total_fail + 1))
    return
  fi
  local log="$dir/ctest.log"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300) | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -n 1)
  local failed total
  failed=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
  total=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
  if [ -z "$line" ]; then failed=1; total=1; fi
  total_pass=$((total_pass + total - failed))
  total_fail=$((total_fail + failed))
  [ "$rc" -eq 0 ] || status=1
}

run_suite build
run_suite build-asan -DTALVEN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
if [ "${TALVEN_GC_STRESS_SUITE:-1}" = 1 ]; then
  run_suite build-gc -DTALVEN_GC_STRESS=ON
fi

echo "== summary: $total_pass passed, $total_fail failed =="
exit $status
