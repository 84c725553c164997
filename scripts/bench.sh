#!/usr/bin/env bash
# Builds Tarnwick and runs a benchmark under Wine in a fresh copy of the
# template prefix; prints its table. The first argument may name the program
# (tarnwick_list_box_bench, tarnwick_fuzz, ...; the enforcement pass benchmark
# tarnwick_pass_bench without one); the other arguments go to it (--quick for
# a short pass benchmark).
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
program=tarnwick_pass_bench
case "${1:-}" in tarnwick_*) program=$1; shift ;; esac
"$root/tests/wine/run-in-prefix.sh" "$build/bench/$program.exe" "$@"
