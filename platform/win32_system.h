// The Win32 implementations of the platform seams, one shared instance each,
// alive for the whole run.
#pragma once

#include "platform/path_matcher.h"
#include "platform/process_api.h"
#include "platform/topology_api.h"
#include "platform/trace_api.h"

namespace tarnwick {

[[nodiscard]] ProcessApi& Win32ProcessApi();
[[nodiscard]] TopologyApi& Win32TopologyApi();
// The shell's own PathMatchSpecW, whose cost grows exponentially with the
// '*' in a pattern: kept to compare the worker's matcher with.
[[nodiscard]] PathMatcher& Win32PathMatcher();
// The same rule in bounded time (MatchesPathSpec): the worker's matcher.
[[nodiscard]] PathMatcher& BoundedPathMatcher();
[[nodiscard]] TraceApi& Win32TraceApi();

}  // namespace tarnwick
