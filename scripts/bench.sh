#!/usr/bin/env bash
# Builds Tarnwick and runs the enforcement pass benchmark under Wine in a
# fresh copy of the template prefix; prints its table. Arguments go to the
# benchmark (--quick for a short run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
. "$root/scripts/wine-session.sh"

tarnwick_build "$root" "$build" >&2
tarnwick_wine_environment
trap tarnwick_stop_xvfb EXIT
tarnwick_start_xvfb 90
tarnwick_prepare_template "$build/wine/template"
export TARNWICK_WINE_TEMPLATE="$build/wine/template"
"$root/tests/wine/run-in-prefix.sh" "$build/bench/tarnwick_pass_bench.exe" "$@"
