#!/usr/bin/env bash
# Longer fuzzing: scripts/fuzz.sh [seconds per target, default 60] [targets...]
#
# Builds the fuzz preset, fuzzes each target for the given time (its inputs kept in
# build/fuzz/corpus-work/<target>, seeded from fuzz/corpus/<target>), then replays every
# kept input once in a coverage build (build/fuzz-cov: clang's source-based coverage, no
# sanitizers) and prints per target the executions, exec/s and crashes, and the line
# coverage of commands/*.cpp over all targets. A crash stops its target; the input is kept
# in build/fuzz/crashes/ (copy it into fuzz/corpus/<target>/ once the fault is fixed).
set -uo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(prog_check proj_files params download jobs blocks readback identify args)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

mkdir -p build
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j 2 >build/fuzz-build.log 2>&1 ||
  { tail -40 build/fuzz-build.log; echo "fuzz build failed"; exit 1; }
cov=build/fuzz-cov
cmake -S . -B "$cov" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping -fsanitize=fuzzer-no-link" \
  -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" \
  -DNURVA_BUILD_FUZZ=ON -DNURVA_BUILD_TESTS=OFF -DNURVA_BUILD_TOOLS=OFF -DNURVA_BUILD_EXAMPLES=OFF >/dev/null &&
  cmake --build "$cov" -j 2 --target nurva_fuzz >build/fuzz-cov-build.log 2>&1 ||
  { tail -40 build/fuzz-cov-build.log; echo "coverage build failed"; exit 1; }

work=build/fuzz/corpus-work
crashes=build/fuzz/crashes
mkdir -p "$crashes"
rm -rf "$cov/profiles"
mkdir -p "$cov/profiles"
total_crashes=0
printf '%-11s %10s %8s %8s\n' target execs exec/s crashes
for t in "${targets[@]}"; do
  mkdir -p "$work/$t"
  log="$work/$t.log"
  before=$(ls "$crashes" | grep -c "^$t-" || true)
  build/fuzz/fuzz/fuzz_$t -max_total_time="$secs" -timeout=10 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$crashes/$t-" "$work/$t" "fuzz/corpus/$t" >"$log" 2>&1
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  after=$(ls "$crashes" | grep -c "^$t-" || true)
  found=$(( after - before ))
  total_crashes=$(( total_crashes + found ))
  printf '%-11s %10s %8s %8s\n' "$t" "${execs:-?}" "${rate:-?}" "$found"
  [ $found -eq 0 ] || grep -E 'ERROR|check failed|runtime error|SUMMARY' "$log" | head -5
  LLVM_PROFILE_FILE="$cov/profiles/$t-%p.profraw" "$cov/fuzz/fuzz_$t" -runs=0 "$work/$t" "fuzz/corpus/$t" \
    >"$work/$t.cov.log" 2>&1
done

llvm-profdata-14 merge -sparse "$cov"/profiles/*.profraw -o "$cov/fuzz.profdata"
objects=()
for t in "${targets[@]}"; do objects+=(-object "$cov/fuzz/fuzz_$t"); done
echo
echo "line coverage of commands/*.cpp (all targets):"
# (Inline functions of the shared libraries differ between the binaries; llvm-cov warns.)
llvm-cov-14 report "${objects[@]:1}" -instr-profile="$cov/fuzz.profdata" commands/*.cpp 2>/dev/null |
  awk '/\.cpp/ || /^TOTAL/ {printf "%-28s %6s lines %5s missed %8s\n", $1, $8, $9, $10}'
echo "crashes: $total_crashes"
[ $total_crashes -eq 0 ]
