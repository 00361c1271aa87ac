#!/bin/sh
# Runs a host program against virtual programmers on a bus of their own:
#   run-with-sim.sh NURVA_SIM WORKDIR COUNT [--sim ARG]... [--expect TEXT] [--exit N] PROGRAM [ARGS...]
# serves COUNT programmers with the sample project (DEMO.PACK, open) on their cards in
# WORKDIR (each --sim ARG is passed on to the simulator, e.g. --sim --fault=verify-error),
# runs PROGRAM with NURVA_VUSB_DIR set to that bus and stops the simulator. Without
# --expect and --exit it exits with PROGRAM's status; with them, 0 when PROGRAM ended with
# status N (default 0) and its output holds TEXT, else 1.
set -u
sim=$1 work=$2 count=$3
shift 3
expect="" want="" simargs=""
while :; do
  case "${1:-}" in
    --sim) simargs="$simargs $2"; shift 2 ;;
    --expect) expect=$2; shift 2 ;;
    --exit) want=$2; shift 2 ;;
    *) break ;;
  esac
done
rm -rf "$work"
mkdir -p "$work/bus" "$work/cards" || exit 2
# Jobs 20 times faster than a real programmer; everything else at its own pace.
# shellcheck disable=SC2086  # the simulator's extra arguments are words
"$sim" --dir "$work/bus" --card "$work/cards" -n "$count" --sample --job-speed 20 $simargs >"$work/sim.log" 2>&1 &
sim_pid=$!
stop() { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
trap stop EXIT
trap 'exit 130' INT TERM
# The programmers are served once their sockets are there (up to 10 s).
last=$(printf 'nurva-sim-%02d' $((count - 1)))
i=0
while [ ! -S "$work/bus/$last" ]; do
  if [ $i -ge 100 ] || ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "the simulator did not serve $count programmer(s):" >&2
    cat "$work/sim.log" >&2
    exit 2
  fi
  sleep 0.1
  i=$((i + 1))
done
NURVA_VUSB_DIR="$work/bus" "$@" >"$work/out.txt" 2>&1
rc=$?
cat "$work/out.txt"
stop
trap - EXIT
if [ -n "$expect$want" ]; then
  if [ "$rc" -ne "${want:-0}" ]; then
    echo "run-with-sim.sh: exit status $rc, wanted ${want:-0}" >&2
    exit 1
  fi
  if [ -n "$expect" ] && ! grep -qF -- "$expect" "$work/out.txt"; then
    echo "run-with-sim.sh: the output lacks \"$expect\"" >&2
    exit 1
  fi
  exit 0
fi
exit $rc
