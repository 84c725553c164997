// UTF-8 bytes to the program's wide text: the version file from the update
// server and list files saved by editors that write UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

// Invalid sequences become U+FFFD; empty text, or text too long for the
// conversion call, gives an empty string.
[[nodiscard]] std::wstring Utf8ToWide(std::string_view bytes);

}  // namespace tarnwick
