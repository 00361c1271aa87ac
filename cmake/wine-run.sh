#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix.
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
#
# The prefix is made on first use. Its wineserver and Wine's system services are started
# in a session of their own and kept running until a minute after the last program has
# ended, so a test does not pay for Wine's start (about 1.5 s each time), and a test
# runner that ends a test's process group does not take them down with the test.
set -euo pipefail
export WINEPREFIX="$1"; shift
export WINEDEBUG=-all
# No crash dialog and no debugger: a crash ends the process with a failure code.
# No Mono or Gecko install prompts when the prefix is made.
export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d;mscoree=d;mshtml=d"
export DISPLAY=
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
mkdir -p "$WINEPREFIX"

quiet() { setsid -w "$@" </dev/null >/dev/null 2>&1 9>&-; }

(
  flock 9
  ready="$WINEPREFIX/.prefix-ready"
  if [ ! -f "$ready" ]; then
    # A new prefix: boot it once, then give it Wine's null graphics driver (there is no
    # display here), then stop that first server. The desktop process started during the
    # boot has already failed to find a driver, and a server that keeps it answers every
    # later window with a ten-second wait; the next start reads the driver setting.
    quiet "$WINESERVER" -k || true
    quiet "$WINE" wineboot -i || true
    quiet "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f || true
    quiet "$WINESERVER" -k || true
    quiet "$WINESERVER" -w || true
    touch "$ready"
  fi
  # Fails at once when a server already runs for this prefix.
  if quiet "$WINESERVER" -p60; then
    quiet "$WINE" wineboot || true
  fi
) 9>"$WINEPREFIX.lock"

# Every program run here prints before it does anything else (GoogleTest's first line).
# A run that fails without a line of output never started: Wine itself failed to bring
# the process up, and one more try tells that apart from a failure of the program.
#
# The output goes to a file, not a pipe: a Wine service that the program starts on demand
# inherits its output, and a pipe would stay open (and the caller waiting) for as long as
# that service runs, minutes when other programs keep the session busy.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for attempt in 1 2; do
  set +e
  "$WINE" "$@" >"$out" 2>&1 </dev/null
  rc=$?
  cat "$out"
  set -e
  if [ "$rc" -eq 0 ] || [ -s "$out" ] || [ "$attempt" -eq 2 ]; then exit "$rc"; fi
  echo "wine-run: $1 ended with $rc before it printed anything; starting it once more" >&2
  sleep 1
done
