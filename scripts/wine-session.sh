# Shared by scripts/run.sh and scripts/test.sh (sourced, not run): the X
# display, the Wine template prefix and the clean-up of what they started.

TARNWICK_STARTED_XVFB_PID=""

# Starts Xvfb on the first free display number at or above $1 and exports
# DISPLAY. Another Xvfb may take the same number at the same moment, so a
# server that dies at start is retried on the next number.
tarnwick_start_xvfb() {
  local n=${1:-90} tries=0
  while [ $tries -lt 20 ]; do
    tries=$((tries + 1))
    if [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then n=$((n + 1)); continue; fi
    # Room for a test's virtual desktop that holds the main window at 200 %.
    Xvfb ":$n" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
    TARNWICK_STARTED_XVFB_PID=$!
    export DISPLAY=":$n"
    local deadline=$((SECONDS + 20))
    while kill -0 "$TARNWICK_STARTED_XVFB_PID" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
      xdpyinfo >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    tarnwick_stop_xvfb
    n=$((n + 1))
  done
  echo "Xvfb did not start" >&2
  return 1
}

tarnwick_stop_xvfb() {
  if [ -n "$TARNWICK_STARTED_XVFB_PID" ]; then
    kill "$TARNWICK_STARTED_XVFB_PID" 2>/dev/null || true
    wait "$TARNWICK_STARTED_XVFB_PID" 2>/dev/null || true
    TARNWICK_STARTED_XVFB_PID=""
  fi
}

tarnwick_wine_environment() {
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # WinINet honours proxy variables; the program and its tests talk only to
  # the hosts they name.
  unset http_proxy https_proxy ftp_proxy all_proxy no_proxy \
        HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY NO_PROXY
}

# The test build's update servers: one HTTPS server on localhost that the
# update tests start, on a port of its own for each build folder, so that
# test runs of several checkouts side by side do not meet.
tarnwick_test_update_settings() {
  local build=$1 port
  port=$((20000 + $(printf '%s' "$build" | cksum | cut -d' ' -f1) % 20000))
  printf '%s\n' "-DTARNWICK_UPDATE_SERVER_URL=https://localhost:$port" \
    "-DTARNWICK_FILE_SERVER_URL=https://localhost:$port" \
    "-DTARNWICK_WEB_SITE_URL=https://localhost:$port"
}

# Makes the template prefix at $1 once: Windows 10, a 1024x768 virtual desktop
# as the default so that the program and a test driver share one desktop.
tarnwick_prepare_template() {
  local template=$1
  [ -f "$template/.tarnwick-ready-2" ] && return 0
  rm -rf "$template"
  mkdir -p "$template"
  echo "Preparing the Wine template prefix (once, about 20 s)..." >&2
  (
    export WINEPREFIX=$template
    wine wineboot -u >/dev/null 2>&1
    wine winecfg -v win10 >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    # A program that crashes ends with its crash code instead of waiting in
    # the debugger's dialog until the test's time-out.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    # Let the wineserver write the registry files before the prefix is copied.
    wineserver -w
  )
  grep -q '"Desktop"="Default"' "$template/user.reg" && grep -q '"ShowCrashDialog"=dword:00000000' "$template/user.reg" ||
    { echo "Wine template prefix is incomplete" >&2; return 1; }
  touch "$template/.tarnwick-ready-2"
}

# Configures and builds into $2 from the source tree $1; further arguments go
# to CMake's configure step. TARNWICK_TOOLCHAIN_FILE chooses the compiler
# (MinGW-w64 GCC unless it names another toolchain file of cmake/).
tarnwick_build() {
  local root=$1 build=$2 boost
  shift 2
  boost=$("$root/scripts/bootstrap.sh")
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="${TARNWICK_TOOLCHAIN_FILE:-$root/cmake/mingw-w64-x86_64.cmake}" \
    -DCMAKE_BUILD_TYPE=Release \
    -DTARNWICK_BOOST_SOURCE_DIR="$boost" "$@" >/dev/null
  cmake --build "$build"
}
