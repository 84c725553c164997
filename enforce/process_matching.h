// Matching running processes against the user's patterns: a pattern is tried
// on the snapshot's file name, then on the full image path once that is
// known. Image paths and match results are cached per process id.
#pragma once

#include "platform/path_matcher.h"
#include "platform/process_api.h"

#include <windows.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarnwick {

inline constexpr int32_t kImagePathAttempts = 5;
inline constexpr DWORD kImagePathCapacity = 1024;  // characters

struct ProcessRecord {
  std::wstring fileName;      // the snapshot's name when the entry was made
  DWORD parentProcessId = 0;  // the snapshot's parent id, fixed for a process's life
  std::wstring imagePath;     // empty until a query succeeded
  int32_t lookupAttempts = 0;
  bool seen = false;
  // results of the pattern list whose generation is matchGeneration (0: none):
  // bit i set when pattern i matches. The names never change during a
  // process's life, so they are computed when it is first seen and once more
  // when its image path becomes known.
  uint64_t matchGeneration = 0;
  bool matchedWithImagePath = false;
  std::vector<uint64_t> matchBits;
  // The creation time a start event gave for this process (0: none came):
  // the same event again is a repeat, another time a new process on the id.
  uint64_t startEventCreateTime = 0;
  // The placement failures already reported to diagnostics, a bit per
  // method (and one for the priority class): each is told once per process,
  // not at every pass.
  uint8_t reportedFailures = 0;
};

// Process id -> what is known of the process. Lives for the whole run and is
// touched only by the worker thread.
class ProcessPathCache {
 public:
  // Finds or creates the entry of processId, queries its image path when due
  // (at most kImagePathAttempts passes in all), and marks it seen. An entry
  // whose snapshot name differs (ignoring case) from fileName, or whose
  // parent id differs from parentProcessId, belongs to an ended process whose
  // id was reused (a build starts many cl.exe from different folders): it
  // starts afresh.
  ProcessRecord& Resolve(ProcessApi& processes, DWORD processId, DWORD parentProcessId, const wchar_t* fileName);
  // Drops the entries not seen since the last purge and clears the others' seen flag.
  void Purge();

  [[nodiscard]] size_t Size() const { return entries_.size(); }
  [[nodiscard]] const ProcessRecord* Find(DWORD processId) const;

 private:
  std::unordered_map<DWORD, ProcessRecord> entries_;
};

// The match rule: the file name, else the image path when known.
[[nodiscard]] bool ProcessMatches(PathMatcher& matcher, const wchar_t* fileName, const ProcessRecord& record,
                                  const std::wstring& pattern);

// Uncached applies the rule to every pattern at every call, as if no result
// were kept: the reference that tests and the benchmark compare the cache with.
enum class MatchCaching { Cached, Uncached };

// A worker's own copy of the pattern list, and the match results it caches in
// the process records. Each list is a new generation, so a restarted worker
// never sees the results of the previous list.
class PatternList {
 public:
  PatternList(std::vector<std::wstring> patterns, PathMatcher& matcher, MatchCaching caching = MatchCaching::Cached);
  // The records' match bits name this list by its generation: a copy would
  // share it, and a moved-from list would leave bits pointing past its end.
  PatternList(const PatternList&) = delete;
  PatternList& operator=(const PatternList&) = delete;

  [[nodiscard]] const std::vector<std::wstring>& Patterns() const { return patterns_; }

  // Calls visit(pattern index) for every pattern that matches the process, in
  // list order; a process matching two patterns is visited for each.
  template <typename Visit>
  void ForEachMatch(ProcessRecord& record, const wchar_t* fileName, Visit&& visit) {
    if (caching_ == MatchCaching::Uncached) {
      for (size_t i = 0; i < patterns_.size(); ++i) {
        if (ProcessMatches(*matcher_, fileName, record, patterns_[i])) visit(i);
      }
      return;
    }
    UpdateMatchResults(record, fileName);
    for (size_t word = 0; word < record.matchBits.size(); ++word) {
      for (uint64_t bits = record.matchBits[word]; bits != 0; bits &= bits - 1) {
        visit(word * 64 + static_cast<size_t>(std::countr_zero(bits)));
      }
    }
  }

 private:
  void UpdateMatchResults(ProcessRecord& record, const wchar_t* fileName);

  std::vector<std::wstring> patterns_;
  PathMatcher* matcher_;
  MatchCaching caching_;
  uint64_t generation_;
};

}  // namespace tarnwick
