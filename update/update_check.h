// Asking the update server for the latest version.
#pragma once

#include <string>

namespace tarnwick {

// The version text of the latest release, or empty when nothing could be
// learned. The server query is not built yet, so the answer is always empty.
[[nodiscard]] std::wstring FetchLatestVersion();

}  // namespace tarnwick
