// The delay-load import table of a loaded PE32+ image: finding the import
// address table slot through which the image calls one function of another
// DLL imported by ordinal, and planting a replacement in that slot. The walk is
// a pure function over the image's bytes that checks every bound before it
// reads, so a damaged or foreign image ends it without a result.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tarnwick {

// The offset, from the image's start, of the 8-byte address slot of
// `ordinal` in the delay imports from `dllName` (compared without regard to
// case); nullopt when the image has no such import or is damaged.
[[nodiscard]] std::optional<size_t> FindDelayImportSlot(std::span<const std::byte> image, std::string_view dllName,
                                                        uint16_t ordinal) noexcept;

// The whole mapped image of a module loaded in this process (from its base
// to SizeOfImage); empty when its headers are not those of a PE32+ image.
[[nodiscard]] std::span<const std::byte> LoadedImage(HMODULE module) noexcept;

// Writes `replacement` into that slot of the loaded `module` (made writable
// for the write and protected again afterwards). False, planting nothing,
// when the slot is not found or its protection cannot be changed.
bool PlantDelayImportHook(HMODULE module, std::string_view dllName, uint16_t ordinal, void* replacement) noexcept;

}  // namespace tarnwick
