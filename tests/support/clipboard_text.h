// What a test program reads back from the clipboard.
#pragma once

#include <string>

namespace tarnwick {

// The clipboard's Unicode text; empty when it holds none or cannot be opened.
std::wstring ClipboardText();

}  // namespace tarnwick
