#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix.
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
set -euo pipefail
export WINEPREFIX="$1"; shift
export WINEDEBUG=-all
# No crash dialog and no debugger: a crash ends the process with a failure code.
# No Mono or Gecko install prompts when the prefix is made.
export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d;mscoree=d;mshtml=d"
export DISPLAY=
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$WINE" wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$WINE" "$@"
