#!/usr/bin/env bash
# Builds Tarnwick and runs its benchmarks under Wine in a fresh copy of the
# template prefix; each prints its table.
#   scripts/bench.sh [pass|graph|all] [--quick]
# pass: the enforcement pass; graph: the utilization graph's collection and
# tick; all (the default): both. --quick makes short runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
. "$root/scripts/wine-session.sh"

which=all
case "${1:-}" in
  pass|graph|all) which=$1; shift ;;
esac

tarnwick_build "$root" "$build" >&2
tarnwick_wine_environment
trap tarnwick_stop_xvfb EXIT
tarnwick_start_xvfb 90
tarnwick_prepare_template "$build/wine/template"
export TARNWICK_WINE_TEMPLATE="$build/wine/template"
if [ "$which" != graph ]; then
  "$root/tests/wine/run-in-prefix.sh" "$build/bench/tarnwick_pass_bench.exe" "$@"
fi
if [ "$which" != pass ]; then
  [ "$which" = all ] && echo
  "$root/tests/wine/run-in-prefix.sh" "$build/bench/tarnwick_graph_bench.exe" "$@"
fi
