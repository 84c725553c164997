#include "enforce/process_matching.h"

#include <atomic>
#include <cwchar>

namespace tarnwick {
namespace {

bool SameFileName(const std::wstring& known, const wchar_t* snapshotName) {
  return ::CompareStringOrdinal(known.c_str(), static_cast<int>(known.size()), snapshotName, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

ProcessRecord& ProcessPathCache::Resolve(ProcessApi& processes, DWORD processId, DWORD parentProcessId,
                                         const wchar_t* fileName) {
  auto [it, inserted] = entries_.try_emplace(processId);
  ProcessRecord& record = it->second;
  if (inserted) {
    record.fileName = fileName;
    record.parentProcessId = parentProcessId;
  } else if (record.parentProcessId != parentProcessId || !SameFileName(record.fileName, fileName)) {
    // The id now names another process (the old one ended within a pass
    // interval): its path, attempts and match results do not carry over.
    record = ProcessRecord{};
    record.fileName = fileName;
    record.parentProcessId = parentProcessId;
  }
  if (record.imagePath.empty() && record.lookupAttempts++ < kImagePathAttempts) {
    ProcessApiHandle process(processes, processes.OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, processId));
    if (process) {
      wchar_t path[kImagePathCapacity] = {};
      DWORD size = kImagePathCapacity;
      // Up to the terminating zero, and never past the buffer should it lack one.
      if (processes.QueryFullProcessImageNameW(process.get(), 0, path, size)) {
        record.imagePath.assign(path, ::wcsnlen(path, kImagePathCapacity));
      }
    }
  }
  record.seen = true;
  return record;
}

void ProcessPathCache::Purge() {
  std::erase_if(entries_, [](const auto& entry) { return !entry.second.seen; });
  for (auto& entry : entries_) entry.second.seen = false;
}

const ProcessRecord* ProcessPathCache::Find(DWORD processId) const {
  auto it = entries_.find(processId);
  return it == entries_.end() ? nullptr : &it->second;
}

bool ProcessMatches(PathMatcher& matcher, const wchar_t* fileName, const ProcessRecord& record,
                    const std::wstring& pattern) {
  if (matcher.PathMatchSpecW(fileName, pattern.c_str())) return true;
  if (record.imagePath.empty()) return false;
  return matcher.PathMatchSpecW(record.imagePath.c_str(), pattern.c_str());
}

PatternList::PatternList(std::vector<std::wstring> patterns, PathMatcher& matcher, MatchCaching caching)
    : patterns_(std::move(patterns)), matcher_(&matcher), caching_(caching) {
  static std::atomic<uint64_t> lastGeneration{0};
  generation_ = ++lastGeneration;
}

void PatternList::UpdateMatchResults(ProcessRecord& record, const wchar_t* fileName) {
  if (record.matchGeneration != generation_) {
    record.matchBits.assign((patterns_.size() + 63) / 64, 0);
    for (size_t i = 0; i < patterns_.size(); ++i) {
      if (ProcessMatches(*matcher_, fileName, record, patterns_[i]))
        record.matchBits[i / 64] |= uint64_t{1} << (i % 64);
    }
    record.matchGeneration = generation_;
    record.matchedWithImagePath = !record.imagePath.empty();
    return;
  }
  if (record.matchedWithImagePath || record.imagePath.empty()) return;
  // The path arrived after the first results: only patterns that failed on
  // the file name can change, and only through the path.
  for (size_t i = 0; i < patterns_.size(); ++i) {
    uint64_t& word = record.matchBits[i / 64];
    const uint64_t bit = uint64_t{1} << (i % 64);
    if ((word & bit) == 0 && matcher_->PathMatchSpecW(record.imagePath.c_str(), patterns_[i].c_str())) word |= bit;
  }
  record.matchedWithImagePath = true;
}

}  // namespace tarnwick
