#!/usr/bin/env bash
# The fuzzing step of the test command: builds the fuzz preset, runs every corpus file of
# every target once (a regression run of the seeds and of every crash input kept), then
# fuzzes each target for a bounded time, about 60 s for all of them together
# (NURVA_FUZZ_SECONDS per target, default 6). New inputs go to a scratch directory, not to
# fuzz/corpus. Exits non-zero on any crash, hang or failed check; the input that caused it
# is kept in build/fuzz/crashes/ and named in the output.
set -uo pipefail
cd "$(dirname "$0")/.."
secs=${NURVA_FUZZ_SECONDS:-6}
targets=(prog_check proj_files params download jobs blocks readback identify args)
bin=build/fuzz/fuzz
crashes=build/fuzz/crashes
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

start=$(date +%s)
if ! { cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j 2; } >build-fuzz-bounded.log 2>&1; then
  tail -50 build-fuzz-bounded.log
  exit 1
fi
echo "=== fuzz: built in $(( $(date +%s) - start )) s"

failed=()
echo "=== fuzz: corpus regression"
if ! ctest --preset fuzz; then failed+=("corpus"); fi

scratch=$(mktemp -d /tmp/nurva-fuzz-bounded-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$crashes"
printf '%-11s %10s %8s %s\n' target execs exec/s result
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t"
  log="$scratch/$t.log"
  "$bin/fuzz_$t" -max_total_time="$secs" -timeout=10 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$crashes/$t-" "$scratch/$t" "fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  result=ok
  if [ $rc -ne 0 ]; then
    result="FAILED ($(grep -m1 -o 'Test unit written to .*' "$log" || echo "exit $rc"))"
    failed+=("$t")
  fi
  printf '%-11s %10s %8s %s\n' "$t" "${execs:-?}" "${rate:-?}" "$result"
  if [ $rc -ne 0 ]; then
    grep -E 'ERROR|check failed|runtime error|SUMMARY|#[0-9]+ ' "$log" | head -30
  fi
done
echo "=== fuzz: $(( $(date +%s) - start )) s in all"
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
