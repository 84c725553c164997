#!/usr/bin/env bash
# Builds Tarnwick and runs it under Wine in a private prefix kept in the build
# folder. Arguments go to tarnwick.exe, so "scripts/run.sh --close" from a
# second terminal stops a running Tarnwick.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
. "$root/scripts/wine-session.sh"

# Two calls at once (a start and a quick "--close") take turns until the
# first has built, made the prefix and recorded its display: otherwise both
# would build into one folder, make the prefix twice, and the second would
# not find the first's display and start a display of its own.
mkdir -p "$build/wine"
exec 9>"$build/wine/run.lock"
flock 9

tarnwick_build "$root" "$build" >&2
tarnwick_wine_environment

# The one-shot commands open no window, so they need no display once the
# prefix exists; a display started for them would be taken down at their end,
# under an instance that started meanwhile and shares it.
one_shot=""
case " $* " in
  *" --close "* | *" -c "* | *" --help "* | *" -h "* | \
  *" --install "* | *" -i "* | *" --uninstall "* | *" -u "*) one_shot=1 ;;
esac

display_file="$build/wine/run-display"
reused_display=""
if [ -n "$one_shot" ] && [ -f "$build/wine/template/.tarnwick-ready" ]; then
  :
elif [ -z "${DISPLAY:-}" ]; then
  if [ -f "$display_file" ] && DISPLAY=$(cat "$display_file") xdpyinfo >/dev/null 2>&1; then
    export DISPLAY=$(cat "$display_file")
    reused_display=1
  else
    trap tarnwick_stop_xvfb EXIT
    tarnwick_start_xvfb 50
    # Only a start shares its display: a one-shot here only makes the prefix.
    [ -n "$one_shot" ] || echo "$DISPLAY" > "$display_file"
  fi
fi

tarnwick_prepare_template "$build/wine/template"
export WINEPREFIX="$build/wine/run-prefix"
[ -d "$WINEPREFIX" ] || cp -a "$build/wine/template" "$WINEPREFIX"
# Wine and its server must not inherit the lock.
flock -u 9
exec 9>&-

if [ -n "$one_shot" ]; then
  :
elif [ -n "$TARNWICK_STARTED_XVFB_PID" ]; then
  cat >&2 <<MSG
Tarnwick runs on the virtual display $DISPLAY (no DISPLAY was set).
  See it:   import -display $DISPLAY -window root tarnwick.png
  Stop it:  $root/scripts/run.sh --close
MSG
elif [ -z "$reused_display" ]; then
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
  [ -n "$one_shot" ] || rm -f "$display_file"
  # The prefix's server ends by itself a few seconds after its last program;
  # killing it instead would also end programs that other calls started on
  # another display (a Tarnwick started with DISPLAY set, say).
  timeout 30 wineserver -w 2>/dev/null || true
fi
exit $status
