#!/usr/bin/env bash
# Builds Tarnwick twice, with MinGW-w64 GCC (build/) and with Clang over the
# same MinGW-w64 headers and libraries (build-clang/), and runs the test suite
# under Wine through CTest: every test of the GCC build, and the unit tests of
# the Clang build. TARNWICK_CLANG=0 leaves the Clang build out. Installs
# whatever is missing first. Without arguments (the whole suite) it also runs
# scripts/lint.sh, the layout and naming checks; TARNWICK_LINT=1 runs them
# with arguments too, TARNWICK_LINT=0 never. Exits with CTest's status (the
# first failing run's), or 1 when the tests passed and the checks found
# something.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
clang_build=${TARNWICK_CLANG_BUILD_DIR:-$root/build-clang}
with_clang=${TARNWICK_CLANG:-1}
. "$root/scripts/wine-session.sh"

mapfile -t update_settings < <(tarnwick_test_update_settings "$build")
tarnwick_build "$root" "$build" "${update_settings[@]}" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
if [ "$with_clang" != 0 ]; then
  started=$SECONDS
  mapfile -t clang_update_settings < <(tarnwick_test_update_settings "$clang_build")
  TARNWICK_TOOLCHAIN_FILE="$root/cmake/clang-mingw-w64-x86_64.cmake" \
    tarnwick_build "$root" "$clang_build" "${clang_update_settings[@]}"
  echo "Clang build: $((SECONDS - started)) s" >&2
fi

lint_status=0
if [ "${TARNWICK_LINT:-$([ $# -eq 0 ] && echo 1 || echo 0)}" = 1 ]; then
  "$root/scripts/lint.sh" "$build" || lint_status=1
fi

tarnwick_wine_environment
trap tarnwick_stop_xvfb EXIT
tarnwick_start_xvfb 90
tarnwick_prepare_template "$build/wine/template"
export TARNWICK_WINE_TEMPLATE="$build/wine/template"

status=0
export TARNWICK_ARTIFACTS="$build/artifacts"
mkdir -p "$TARNWICK_ARTIFACTS"
ctest --test-dir "$build" --output-on-failure -j "${TARNWICK_TEST_JOBS:-2}" "$@" || status=$?

# The end-to-end tests drive the program as a user does and run once, with the
# GCC build; the unit tests show what the other compiler made of the code.
if [ "$with_clang" != 0 ]; then
  started=$SECONDS
  export TARNWICK_ARTIFACTS="$clang_build/artifacts"
  mkdir -p "$TARNWICK_ARTIFACTS"
  clang_status=0
  ctest --test-dir "$clang_build" --output-on-failure -j "${TARNWICK_TEST_JOBS:-2}" -L unit "$@" || clang_status=$?
  echo "Clang build's unit tests: $((SECONDS - started)) s" >&2
  [ "$status" -ne 0 ] || status=$clang_status
fi
[ "$status" -ne 0 ] || [ $lint_status -eq 0 ] || { echo "scripts/lint.sh found what is listed above" >&2; status=1; }
exit "$status"
