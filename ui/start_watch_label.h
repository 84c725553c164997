// The Running Processes window's label over the list: whether listed
// processes are placed as they start, or only by the pass, and why.
#pragma once

#include "platform/process_start_source.h"

#include <windows.h>

#include <string>

namespace tarnwick {

[[nodiscard]] std::wstring StartWatchLabelText(const StartWatchStatus& status);

// Sets the label's text when it differs: a static control repaints at every set.
void ShowStartWatchLabel(HWND label, const StartWatchStatus& status) noexcept;

}  // namespace tarnwick
