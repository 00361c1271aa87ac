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
mkdir -p "$WINEPREFIX"
(
  flock 9
  # Fails at once when a server already runs for this prefix.
  if setsid -w "$WINESERVER" -p60 </dev/null >/dev/null 2>&1 9>&-; then
    init=()
    [ -f "$WINEPREFIX/system.reg" ] || init=(-i)
    setsid -w "$WINE" wineboot "${init[@]}" </dev/null >/dev/null 2>&1 9>&- || true
    # No display here: Wine's null graphics driver, so the first window a test makes (the
    # device-change notifier's) never waits for a desktop that tries to reach an X server.
    if [ ${#init[@]} -gt 0 ]; then
      setsid -w "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 9>&- || true
    fi
  fi
) 9>"$WINEPREFIX.lock"
exec "$WINE" "$@"
