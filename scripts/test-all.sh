#!/usr/bin/env bash
# Builds every preset and runs all of its tests: native, asan (ASan + UBSan), tsan,
# windows (cross build, tests under Wine), and fuzz (libFuzzer targets, a bounded run of
# each and their corpus). Exits non-zero when any build or test fails.
# Pass preset names to run only those.
#
# The builds keep both cores busy one after the other; the tests mostly wait on the
# programmers' time limits, so each preset's tests run while the next preset builds.
# The Windows tests (one at a time under Wine, the longest) start first. Each preset's
# test output is kept in build-<preset>-test.log and printed when it ends.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(windows native asan tsan fuzz)
failed=()
start_all=$(date +%s)

build() {
  local p=$1 start
  start=$(date +%s)
  echo "=== $p: build"
  if ! { cmake --preset "$p" >/dev/null && cmake --build --preset "$p" -j 2; } >"build-$p.log" 2>&1; then
    tail -50 "build-$p.log"
    return 1
  fi
  echo "=== $p: built in $(( $(date +%s) - start )) s"
}

# Runs a preset's tests in the background; its pid goes into test_pid[preset].
declare -A test_pid
run_tests() {
  local p=$1
  ( start=$(date +%s)
    if [ "$p" = fuzz ]; then
      scripts/fuzz-bounded.sh >"build-$p-test.log" 2>&1
    else
      ctest --preset "$p" >"build-$p-test.log" 2>&1
    fi
    rc=$?
    echo "=== $p: tests took $(( $(date +%s) - start )) s" >>"build-$p-test.log"
    exit $rc ) &
  test_pid[$p]=$!
}

finish_tests() {
  local p=$1
  [ -n "${test_pid[$p]:-}" ] || return 0
  wait "${test_pid[$p]}"
  local rc=$?
  echo "=== $p: test"
  cat "build-$p-test.log"
  [ $rc -eq 0 ] || failed+=("$p(test)")
  unset "test_pid[$p]"
}

previous_linux=""
for p in "${presets[@]}"; do
  if ! build "$p"; then
    failed+=("$p(build)")
    continue
  fi
  if [ "$p" != windows ] && [ "$p" != fuzz ]; then
    # One Linux preset's tests at a time beside the Windows tests.
    [ -n "$previous_linux" ] && finish_tests "$previous_linux"
    previous_linux=$p
  fi
  run_tests "$p"
done
for p in "${presets[@]}"; do finish_tests "$p"; done

echo "=== all: $(( $(date +%s) - start_all )) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all presets passed: ${presets[*]}"
