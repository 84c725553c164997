#include "update/update_check.h"

namespace tarnwick {

std::wstring FetchLatestVersion() { return {}; }

}  // namespace tarnwick
