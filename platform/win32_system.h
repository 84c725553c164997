// The Win32 implementations of the platform seams, one shared instance each,
// alive for the whole run.
#pragma once

#include "platform/path_matcher.h"
#include "platform/process_api.h"
#include "platform/topology_api.h"

namespace tarnwick {

[[nodiscard]] ProcessApi& Win32ProcessApi();
[[nodiscard]] TopologyApi& Win32TopologyApi();
[[nodiscard]] PathMatcher& Win32PathMatcher();

}  // namespace tarnwick
