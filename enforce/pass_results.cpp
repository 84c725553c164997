#include "enforce/pass_results.h"

#include <algorithm>
#include <utility>

namespace tarnwick {

ProcessResult& PassResultsExchange::NextRow() {
  if (used_ == filling_.processes.size()) filling_.processes.emplace_back();
  ProcessResult& row = filling_.processes[used_++];
  row.processId = 0;
  row.matched = false;
  row.pattern.clear();
  row.methods = {};
  return row;
}

void PassResultsExchange::Publish(uint32_t scanned, uint32_t matched) {
  // Rows past the end of this pass go: a shrinking system frees what it no longer needs.
  filling_.processes.resize(used_);
  filling_.pass = ++passes_;
  filling_.scanned = scanned;
  filling_.matched = matched;
  {
    std::lock_guard lock(lock_);
    std::swap(filling_, published_);
  }
  used_ = 0;
}

void PassResultsExchange::PublishStartPlacement(const ProcessResult& row) {
  std::lock_guard lock(lock_);
  auto& rows = published_.processes;
  auto same = std::find_if(rows.begin(), rows.end(), [&row](const ProcessResult& shown) {
    return shown.processId == row.processId && shown.fileName == row.fileName;
  });
  if (same != rows.end()) {
    *same = row;
  } else {
    rows.push_back(row);
  }
  published_.pass = ++passes_;
}

bool PassResultsExchange::CopyLatest(PassResults& out) const {
  std::lock_guard lock(lock_);
  if (published_.pass == 0 || published_.pass == out.pass) return false;
  out.pass = published_.pass;
  out.scanned = published_.scanned;
  out.matched = published_.matched;
  out.methodsOn = published_.methodsOn;
  out.startWatch = published_.startWatch;
  // Element-wise assignment: strings keep the reader's storage where it suffices.
  out.processes = published_.processes;
  return true;
}

}  // namespace tarnwick
