// Whole-body HTTP GETs, behind a seam so that the update logic can be run
// against scripted answers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

class UrlFetcher {
 public:
  UrlFetcher() = default;
  virtual ~UrlFetcher() = default;
  UrlFetcher(const UrlFetcher&) = delete;
  UrlFetcher& operator=(const UrlFetcher&) = delete;

  // The body of a successful (status 200) answer to a GET of `url`, or nullopt
  // when there is none: no connection, another status, a failed read, an empty
  // body, or a body longer than `max_bytes` (nothing of it is kept).
  [[nodiscard]] virtual std::optional<std::vector<std::byte>> Fetch(const std::wstring& url, size_t max_bytes) = 0;
};

}  // namespace tarnwick
