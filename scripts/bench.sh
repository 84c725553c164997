#!/usr/bin/env bash
# Builds Tarnwick and runs its benchmarks under Wine in a fresh copy of the
# template prefix; each prints its table.
#   scripts/bench.sh [pass|graph|all] [--quick]
#   scripts/bench.sh listbox [--large] [--all]
#   scripts/bench.sh fuzz [--count N] [--seed S]
#   scripts/bench.sh start [--quick]
# pass: the enforcement pass; graph: the utilization graph's collection and
# tick; all (the default): both. --quick makes short runs. listbox: filling
# the main window's list box with large lists. fuzz: the byte walkers under
# mutated input, each input ending at a page that cannot be read. start: how
# soon the program places a listed process after it starts, through its start
# event and by the pass alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
. "$root/scripts/wine-session.sh"

which=all
case "${1:-}" in
  pass|graph|all|listbox|fuzz|start) which=$1; shift ;;
esac

tarnwick_build "$root" "$build" >&2
tarnwick_wine_environment
trap tarnwick_stop_xvfb EXIT
tarnwick_start_xvfb 90
tarnwick_prepare_template "$build/wine/template"
export TARNWICK_WINE_TEMPLATE="$build/wine/template"
run() { "$root/tests/wine/run-in-prefix.sh" "$build/bench/$1.exe" "${@:2}"; }
case "$which" in
  listbox) run tarnwick_list_box_bench "$@" ;;
  fuzz) run tarnwick_fuzz "$@" ;;
  start) run tarnwick_start_bench "$@" ;;
  *)
    if [ "$which" != graph ]; then run tarnwick_pass_bench "$@"; fi
    if [ "$which" != pass ]; then
      [ "$which" = all ] && echo
      run tarnwick_graph_bench "$@"
    fi
    ;;
esac
