#!/usr/bin/env bash
# Builds every preset and runs all of its tests: native, asan (ASan + UBSan), tsan, and
# windows (cross build, tests under Wine). Exits non-zero when any build or test fails.
# Pass preset names to run only those.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native asan tsan windows)
failed=()
for p in "${presets[@]}"; do
  echo "=== $p: build"
  start=$(date +%s)
  if ! { cmake --preset "$p" >/dev/null && cmake --build --preset "$p"; } >"build-$p.log" 2>&1; then
    tail -50 "build-$p.log"
    failed+=("$p(build)")
    continue
  fi
  echo "=== $p: test"
  if ! ctest --preset "$p"; then failed+=("$p(test)"); fi
  echo "=== $p: $(( $(date +%s) - start )) s"
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all presets passed: ${presets[*]}"
