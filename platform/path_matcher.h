// The shell's wildcard match of a file name or path against a pattern.
#pragma once

namespace tarnwick {

class PathMatcher {
 public:
  PathMatcher() = default;
  PathMatcher(const PathMatcher&) = delete;
  PathMatcher& operator=(const PathMatcher&) = delete;
  virtual ~PathMatcher() = default;

  // PathMatchSpecW(name, pattern): letter case ignored, '*' any run, '?' one character,
  // the pattern covers the whole name.
  [[nodiscard]] virtual bool PathMatchSpecW(const wchar_t* name, const wchar_t* pattern) = 0;
};

// The shell's PathMatchSpecW rule, answered here without its backtracking,
// which takes minutes on a pattern such as "****************z": the pattern
// is a list of masks separated by ';', each with its leading spaces skipped;
// "*.*" alone matches everything; '*' matches any run (a run of '*' counts as
// one), '?' exactly one character, other characters match themselves with
// letter case ignored. At most (name length + 1) x (pattern length) steps.
[[nodiscard]] bool MatchesPathSpec(const wchar_t* name, const wchar_t* spec);

}  // namespace tarnwick
