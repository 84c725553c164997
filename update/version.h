// The program's own version and the packing that orders version texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tarnwick {

inline constexpr std::wstring_view CurrentVersionText = L"1.2.2.4";

// "a.b.c.d" packed as ((a << 8 | b) << 8 | c) << 8 | d in 32 bits; a field
// above 255 spills into the one before it. Unmatched fields count as 0, and a
// text shorter than 7 characters packs to 0.
[[nodiscard]] uint32_t PackVersion(std::wstring_view text);

// The packed version of a text that is exactly four fields of decimal digits
// separated by points, each 0-255; nullopt for anything else (a sign, a
// space, a fifth field, a field above 255).
[[nodiscard]] std::optional<uint32_t> ParseStrictVersion(std::wstring_view text);

// The file version in the version resource of a Windows program image (its
// fixed part), packed as above; nullopt when the image has no readable
// version resource or a field is above 255.
[[nodiscard]] std::optional<uint32_t> ReadImageFileVersion(std::span<const std::byte> image);

enum class UpdateAnswer { NoAnswer, NotNewer, Newer };

// How a fetched version text compares with the program's own version; an
// empty text means nothing could be learned.
[[nodiscard]] UpdateAnswer CompareWithCurrentVersion(std::wstring_view latest);

}  // namespace tarnwick
