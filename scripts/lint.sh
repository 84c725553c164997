#!/usr/bin/env bash
# Holds the tree to .clang-format (layout) and .clang-tidy (the naming
# convention and the fault checks). Exits non-zero on any finding.
#
#   scripts/lint.sh [--fix] [build-folder]
#
# The build folder (default: build) holds the compile_commands.json of a
# configured build; scripts/test.sh makes one. --fix applies clang-tidy's
# fixes (renames included) and reformats; check again after a build.
# TARNWICK_LINT_JOBS sets the parallel clang-tidy runs (default: the cores).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fix=0
if [ "${1:-}" = "--fix" ]; then fix=1; shift; fi
build=${1:-$root/build}
jobs=${TARNWICK_LINT_JOBS:-$(nproc)}

"$root/scripts/bootstrap.sh" >/dev/null
[ -f "$build/compile_commands.json" ] ||
  { echo "lint: no $build/compile_commands.json; configure a build first (scripts/test.sh does)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$root"

# The sources of the tree, and the translation units of the build that are ours.
git ls-files -- '*.cpp' '*.h' > "$work/sources"
python3 - "$build/compile_commands.json" "$root" > "$work/units" <<'EOF'
import json, os, sys
root = sys.argv[2] + os.sep
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(root) and path.endswith(".cpp") and path not in seen:
        seen.add(path)
        print(path)
EOF

# clang-tidy parses with Clang for the build's target, over the MinGW
# compiler's own C++ headers (the build itself may be GCC's).
cxx_headers=$(x86_64-w64-mingw32-g++-posix -print-file-name=include/c++)
tidy_args=(-p "$build" --quiet
  --extra-arg-before=--target=x86_64-w64-mingw32
  "--extra-arg=-isystem$cxx_headers" "--extra-arg=-isystem$cxx_headers/x86_64-w64-mingw32"
  --extra-arg=-Wno-unknown-warning-option)

run_tidy() {  # with FIXES set: also export clang-tidy's fixes there
  mkdir -p "$work/tidy"
  rm -f "$work/tidy"/*
  # shellcheck disable=SC2016
  xargs -P "$jobs" -I{} sh -c '
    out="$1/tidy/$(printf %s "$2" | tr / _)"
    shift 2
    if [ -n "$FIXES" ]; then set -- "$@" "--export-fixes=$FIXES/$(basename "$out").yaml"; fi
    clang-tidy "$@" >"$out" 2>&1 || echo failed >"$out.failed"
  ' _ "$work" {} "${tidy_args[@]}" {} < "$work/units"
}

status=0
# File names: lower_case .cpp and .h.
if grep -vE '(^|/)[a-z0-9_]+\.(cpp|h)$' "$work/sources"; then
  echo "lint: the files above are not named in lower_case" >&2
  status=1
fi
if [ "$fix" -eq 1 ]; then
  # Renames first: a header's fix comes from every unit that includes it, and
  # clang-apply-replacements applies each once.
  mkdir -p "$work/fixes"
  export FIXES="$work/fixes"
  run_tidy
  clang-apply-replacements "$work/fixes"
  xargs -P "$jobs" clang-format -i < "$work/sources"
  echo "lint: fixes applied; build, then run scripts/lint.sh again for what is left" >&2
  exit $status
fi
if ! xargs -P "$jobs" clang-format --dry-run -Werror < "$work/sources" > "$work/format" 2>&1; then
  grep -E '^[^ ].*: (error|warning):' "$work/format" | sed 's/ \[-Wclang-format-violations\]//' | sort -u | head -50 || true
  echo "lint: clang-format would change $(grep -cE ': (error|warning):' "$work/format") lines (scripts/lint.sh --fix reformats)" >&2
  status=1
fi

start=$SECONDS
export FIXES=""
run_tidy
if compgen -G "$work/tidy/*.failed" >/dev/null; then
  # A header's finding shows in every unit that includes it: once is enough.
  cat "$work"/tidy/* | grep -v '^failed$' | awk '
    /^[^ ].*:[0-9]+:[0-9]+: (warning|error):/ { key = $0; keep = !(key in seen); seen[key] = 1 }
    /^[0-9]+ (warnings?|errors?) generated|^Suppressed |^Use -header-filter|^Error while processing/ { next }
    keep { print }'
  echo "lint: clang-tidy found $(cat "$work"/tidy/* | grep -E '^[^ ].*:[0-9]+:[0-9]+: (warning|error):' | sort -u | wc -l) findings" >&2
  status=1
fi
echo "lint: clang-tidy checked $(wc -l < "$work/units") units in $((SECONDS - start)) s" >&2
exit $status
