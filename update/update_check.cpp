#include "update/update_check.h"

#include "app/hooks.h"

namespace tarnwick {

std::wstring FetchLatestVersion() { return {}; }

// The periodic check needs the server query; until then there is nothing to start.
void StartUpdateChecker() {}

}  // namespace tarnwick
