#!/usr/bin/env bash
# Builds Tarnwick and runs it under Wine in a private prefix kept in the build
# folder. Arguments go to tarnwick.exe, so "scripts/run.sh --close" from a
# second terminal stops a running Tarnwick.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
. "$root/scripts/wine-session.sh"

tarnwick_build "$root" "$build" >&2
tarnwick_wine_environment

display_file="$build/wine/run-display"
if [ -z "${DISPLAY:-}" ]; then
  # A second call (such as --close) reuses the virtual display of the first.
  if [ -f "$display_file" ] && DISPLAY=$(cat "$display_file") xdpyinfo >/dev/null 2>&1; then
    export DISPLAY=$(cat "$display_file")
  else
    trap tarnwick_stop_xvfb EXIT
    tarnwick_start_xvfb 50
    mkdir -p "$build/wine"
    echo "$DISPLAY" > "$display_file"
  fi
fi

tarnwick_prepare_template "$build/wine/template"
export WINEPREFIX="$build/wine/run-prefix"
[ -d "$WINEPREFIX" ] || cp -a "$build/wine/template" "$WINEPREFIX"

if [ -n "$TARNWICK_STARTED_XVFB_PID" ]; then
  cat >&2 <<MSG
Tarnwick runs on the virtual display $DISPLAY (no DISPLAY was set).
  See it:   import -display $DISPLAY -window root tarnwick.png
  Stop it:  $root/scripts/run.sh --close
MSG
else
  cat >&2 <<MSG
Tarnwick runs on $DISPLAY in the Wine prefix $WINEPREFIX; its icon is in the
notification area of the Wine desktop window: click it to open the main window.
  Stop it:  $root/scripts/run.sh --close
MSG
fi
set +e
wine "$build/tarnwick.exe" "$@"
status=$?
set -e
if [ -n "$TARNWICK_STARTED_XVFB_PID" ]; then
  WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
  rm -f "$display_file"
fi
exit $status
