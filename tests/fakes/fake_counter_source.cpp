#include "tests/fakes/fake_counter_source.h"

#include <algorithm>
#include <string>

namespace tarnwick {
namespace {

std::string Narrow(std::wstring_view text) {
  std::string narrow;
  for (const wchar_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

}  // namespace

void FakeCounterSource::SetOpenQueryFails(bool fails) {
  std::lock_guard guard(lock_);
  openQueryFails_ = fails;
}

void FakeCounterSource::SetCounter(const std::wstring& path, std::optional<long> value) {
  std::lock_guard guard(lock_);
  values_[path] = value;
}

void FakeCounterSource::SetProcessorTimes(WORD group, std::vector<ProcessorTimes> times) {
  std::lock_guard guard(lock_);
  processorTimes_[group] = std::move(times);
}

void FakeCounterSource::SetOnCollect(std::function<void()> onCollect) {
  std::lock_guard guard(lock_);
  onCollect_ = std::move(onCollect);
}

void FakeCounterSource::SetRecording(bool recording) {
  std::lock_guard guard(lock_);
  recording_ = recording;
}

std::vector<std::string> FakeCounterSource::Calls() const {
  std::lock_guard guard(lock_);
  return calls_;
}

size_t FakeCounterSource::CountCalls(std::string_view prefix) const {
  std::lock_guard guard(lock_);
  return static_cast<size_t>(std::count_if(calls_.begin(), calls_.end(), [&](const std::string& call) {
    return std::string_view(call).substr(0, prefix.size()) == prefix;
  }));
}

void FakeCounterSource::ClearCalls() {
  std::lock_guard guard(lock_);
  calls_.clear();
}

size_t FakeCounterSource::OpenQueries() const {
  std::lock_guard guard(lock_);
  return openQueries_;
}

size_t FakeCounterSource::OpenCounters() const {
  std::lock_guard guard(lock_);
  return counters_.size();
}

// Called with lock_ held.
void FakeCounterSource::Record(std::string call) {
  if (recording_) calls_.push_back(std::move(call));
}

bool FakeCounterSource::OpenQuery(PDH_HQUERY& query) {
  std::lock_guard guard(lock_);
  Record("OpenQuery");
  if (openQueryFails_) return false;
  ++openQueries_;
  query = reinterpret_cast<PDH_HQUERY>(nextHandle_);
  nextHandle_ += 8;
  return true;
}

bool FakeCounterSource::AddEnglishCounter(PDH_HQUERY, const wchar_t* path, PDH_HCOUNTER& counter) {
  std::lock_guard guard(lock_);
  Record("AddEnglishCounter " + Narrow(path));
  if (values_.find(path) == values_.end()) return false;
  counters_[nextHandle_] = path;
  counter = reinterpret_cast<PDH_HCOUNTER>(nextHandle_);
  nextHandle_ += 8;
  return true;
}

bool FakeCounterSource::CollectQueryData(PDH_HQUERY) {
  std::function<void()> onCollect;
  {
    std::lock_guard guard(lock_);
    Record("CollectQueryData");
    onCollect = onCollect_;
  }
  if (onCollect) onCollect();
  ++collections_;
  return true;
}

bool FakeCounterSource::GetFormattedLongValue(PDH_HCOUNTER counter, long& value) {
  std::lock_guard guard(lock_);
  const auto found = counters_.find(reinterpret_cast<uintptr_t>(counter));
  if (found == counters_.end()) return false;
  const std::optional<long>& scripted = values_[found->second];
  if (!scripted) return false;
  value = *scripted;
  return true;
}

void FakeCounterSource::RemoveCounter(PDH_HCOUNTER counter) {
  std::lock_guard guard(lock_);
  const auto found = counters_.find(reinterpret_cast<uintptr_t>(counter));
  Record("RemoveCounter " + (found == counters_.end() ? std::string("unknown") : Narrow(found->second)));
  if (found != counters_.end()) counters_.erase(found);
}

void FakeCounterSource::CloseQuery(PDH_HQUERY) {
  std::lock_guard guard(lock_);
  Record("CloseQuery");
  if (openQueries_ > 0) --openQueries_;
}

size_t FakeCounterSource::QueryProcessorTimes(WORD group, std::span<ProcessorTimes> times) {
  std::lock_guard guard(lock_);
  Record("QueryProcessorTimes " + std::to_string(group));
  const auto found = processorTimes_.find(group);
  if (found == processorTimes_.end()) return 0;
  const size_t count = std::min(times.size(), found->second.size());
  std::copy_n(found->second.begin(), count, times.begin());
  return count;
}

}  // namespace tarnwick
