// The About dialog: product name, version and credits.
#pragma once

#include <windows.h>

#include <string>

namespace tarnwick {

// The five lines of the About text, separated by line feeds alone.
[[nodiscard]] std::wstring AboutText();

// Runs the dialog modally, owned by `owner`.
void RunAboutDialog(HWND owner) noexcept;

}  // namespace tarnwick
