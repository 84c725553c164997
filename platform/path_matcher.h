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

}  // namespace tarnwick
