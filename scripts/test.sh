#!/usr/bin/env bash
# Builds Tarnwick and runs the whole test suite under Wine through CTest.
# Installs whatever is missing first. Exits with CTest's status.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
. "$root/scripts/wine-session.sh"

mapfile -t update_settings < <(tarnwick_test_update_settings "$build")
tarnwick_build "$root" "$build" "${update_settings[@]}"

tarnwick_wine_environment
trap tarnwick_stop_xvfb EXIT
tarnwick_start_xvfb 90
tarnwick_prepare_template "$build/wine/template"
export TARNWICK_WINE_TEMPLATE="$build/wine/template"
export TARNWICK_ARTIFACTS="$build/artifacts"
mkdir -p "$TARNWICK_ARTIFACTS"

ctest --test-dir "$build" --output-on-failure -j "${TARNWICK_TEST_JOBS:-2}" "$@"
