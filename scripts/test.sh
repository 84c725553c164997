#!/usr/bin/env bash
# Builds Tarnwick and runs the whole test suite under Wine through CTest.
# Installs whatever is missing first. Without arguments (the whole suite) it
# also runs scripts/lint.sh, the layout and naming checks; TARNWICK_LINT=1
# runs them with arguments too, TARNWICK_LINT=0 never. Exits with CTest's
# status, or 1 when CTest passed and the checks found something.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
. "$root/scripts/wine-session.sh"

mapfile -t update_settings < <(tarnwick_test_update_settings "$build")
tarnwick_build "$root" "$build" "${update_settings[@]}" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

lint_status=0
if [ "${TARNWICK_LINT:-$([ $# -eq 0 ] && echo 1 || echo 0)}" = 1 ]; then
  "$root/scripts/lint.sh" "$build" || lint_status=1
fi

tarnwick_wine_environment
trap tarnwick_stop_xvfb EXIT
tarnwick_start_xvfb 90
tarnwick_prepare_template "$build/wine/template"
export TARNWICK_WINE_TEMPLATE="$build/wine/template"
export TARNWICK_ARTIFACTS="$build/artifacts"
mkdir -p "$TARNWICK_ARTIFACTS"

ctest --test-dir "$build" --output-on-failure -j "${TARNWICK_TEST_JOBS:-2}" "$@"
[ $lint_status -eq 0 ] || { echo "scripts/lint.sh found what is listed above" >&2; exit 1; }
