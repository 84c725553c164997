#!/usr/bin/env bash
# CTest's launcher for Windows test programs: runs the program in a fresh copy
# of the template prefix and removes the copy afterwards, whatever happened.
set -u
template=${TARNWICK_WINE_TEMPLATE:?"run the tests through scripts/test.sh"}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-test.XXXXXX")
# Ends every Linux process started for this prefix that is still alive. A
# Wine process that was starting (services.exe launching rpcss.exe, say) when
# the server was killed has not joined it yet: it survives "wineserver -k",
# then waits for ever for a server, holding CTest's output pipe, and CTest
# waits with it until the test's time-out. Reads /proc with builtins only, so
# that the scan starts no process of its own.
kill_prefix_leftovers() {
  local environ pid entry
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    [ "$pid" = "$$" ] && continue
    while IFS= read -r -d '' entry; do
      if [ "$entry" = "WINEPREFIX=$prefix" ]; then
        kill -KILL "$pid" 2>/dev/null
        break
      fi
    done 2>/dev/null < "$environ"
  done
}
# Ends the prefix's Wine session, whatever it still runs.
end_session() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
  kill_prefix_leftovers
}
# Starts the prefix's session so that its desktop shell serves its windows
# over COM, as a user's does. The first Wine process of a prefix starts the
# desktop's explorer at the same time as the service manager; explorer
# registers the shell windows once, at its start, through the RPC service,
# which it has the service manager start: when that does not answer yet, the
# registration fails for good and the shell never serves them. Such a
# session is ended and started again (a few times at most).
start_desktop_session() {
  local attempt
  for attempt in 1 2 3; do
    wine "$TARNWICK_DESKTOP_SHELL_CHECK" && return
    echo "run-in-prefix: the desktop shell of the prefix does not serve its windows; starting it again" >&2
    end_session
  done
}
cleanup() {
  # What this script starts from here on is no process of the prefix.
  unset WINEPREFIX
  end_session
  # A test that mounted a small file system in its prefix (a full disk) and
  # could not unmount it.
  awk -v p="$prefix/" 'index($2, p) == 1 { print $2 }' /proc/mounts | sort -r |
    while read -r mounted; do umount -l "$mounted" 2>/dev/null; done
  rm -rf "$prefix"
}
trap cleanup EXIT
cp -a "$template/." "$prefix/"
# TARNWICK_WINEDEBUG: Wine's channels for a look inside (such as +server to
# count the program's requests to the Wine server); none by default.
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=${TARNWICK_WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
unset http_proxy https_proxy ftp_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY NO_PROXY
# A virtual desktop of another size than the template's (WIDTHxHEIGHT), such
# as one that holds the main window at 200 %: written into the copy's registry
# file, as the desktop is made by the first Wine program of the session.
if [ -n "${TARNWICK_DESKTOP_SIZE:-}" ]; then
  sed -i "s/^\"Default\"=\"[0-9]*x[0-9]*\"/\"Default\"=\"$TARNWICK_DESKTOP_SIZE\"/" "$prefix/user.reg"
fi
# A test of the windows at a display scaling: the prefix's DPI, as Wine reads
# it at every program's start (96 is 100 %, 192 is 200 %).
if [ -n "${TARNWICK_LOGPIXELS:-}" ]; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$TARNWICK_LOGPIXELS" /f >/dev/null 2>&1
fi
[ -n "${TARNWICK_DESKTOP_SHELL_CHECK:-}" ] && start_desktop_session
wine "$@"
