#include "platform/delay_import.h"

#include <cstring>

namespace tarnwick {

namespace {

// Offsets into the PE32+ headers.
constexpr uint64_t kDosHeaderSize = 0x40;
constexpr uint64_t kNtHeadersOffsetField = 0x3C;
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint64_t kFileHeaderSize = 20;
constexpr uint64_t kOptionalHeaderSizeField = 16;  // within the file header
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint64_t kSizeOfImageField = 56;  // within the optional header
constexpr uint64_t kRvaAndSizesCountField = 108;
constexpr uint64_t kDataDirectoriesOffset = 112;
constexpr uint32_t kDelayImportDirectory = 13;
// Delay-load descriptor: 32 bytes, addresses relative to the image base.
constexpr uint64_t kDescriptorSize = 32;
constexpr uint64_t kDescriptorNameField = 4;
constexpr uint64_t kDescriptorAddressTableField = 12;
constexpr uint64_t kDescriptorNameTableField = 16;
constexpr uint64_t kThunkSize = 8;
constexpr uint64_t kOrdinalFlag = 0x8000000000000000ull;
// No DLL name is longer; a longer run of bytes is not a name.
constexpr uint64_t kMaxDllNameLength = 260;

// A value of type T at `offset`, or nullopt when it does not lie wholly inside the image.
template <typename T>
std::optional<T> ReadAt(std::span<const std::byte> image, uint64_t offset) noexcept {
  if (offset > image.size() || image.size() - offset < sizeof(T)) return std::nullopt;
  T value;
  std::memcpy(&value, image.data() + offset, sizeof(T));
  return value;
}

char LowerAscii(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether the NUL-terminated name at `offset` equals `wanted` without regard to case.
bool NameAtEquals(std::span<const std::byte> image, uint64_t offset, std::string_view wanted) noexcept {
  for (uint64_t i = 0; i <= kMaxDllNameLength; ++i) {
    const std::optional<char> c = ReadAt<char>(image, offset + i);
    if (!c) return false;
    if (*c == '\0') return i == wanted.size();
    if (i >= wanted.size() || LowerAscii(*c) != LowerAscii(wanted[i])) return false;
  }
  return false;
}

// The optional header's offset once the DOS and NT headers check out.
std::optional<uint64_t> OptionalHeaderOffset(std::span<const std::byte> image) noexcept {
  if (image.size() < kDosHeaderSize) return std::nullopt;
  const std::optional<uint16_t> dosMagic = ReadAt<uint16_t>(image, 0);
  if (dosMagic != uint16_t{0x5A4D}) return std::nullopt;  // "MZ"
  const std::optional<uint32_t> ntOffset = ReadAt<uint32_t>(image, kNtHeadersOffsetField);
  if (!ntOffset || ReadAt<uint32_t>(image, *ntOffset) != kPeSignature) return std::nullopt;
  const uint64_t fileHeader = uint64_t{*ntOffset} + 4;
  const std::optional<uint16_t> optionalSize = ReadAt<uint16_t>(image, fileHeader + kOptionalHeaderSizeField);
  const uint64_t optionalHeader = fileHeader + kFileHeaderSize;
  if (!optionalSize || *optionalSize < kDataDirectoriesOffset) return std::nullopt;
  if (ReadAt<uint16_t>(image, optionalHeader) != kPe32PlusMagic) return std::nullopt;
  return optionalHeader;
}

}  // namespace

std::optional<size_t> FindDelayImportSlot(std::span<const std::byte> image, std::string_view dllName,
                                          uint16_t ordinal) noexcept {
  const std::optional<uint64_t> optionalHeader = OptionalHeaderOffset(image);
  if (!optionalHeader) return std::nullopt;
  const std::optional<uint32_t> directoryCount = ReadAt<uint32_t>(image, *optionalHeader + kRvaAndSizesCountField);
  if (!directoryCount || *directoryCount <= kDelayImportDirectory) return std::nullopt;
  const uint64_t entry = *optionalHeader + kDataDirectoriesOffset + uint64_t{kDelayImportDirectory} * 8;
  const std::optional<uint32_t> directory = ReadAt<uint32_t>(image, entry);
  const std::optional<uint32_t> directorySize = ReadAt<uint32_t>(image, entry + 4);
  if (!directory || !directorySize || *directory == 0) return std::nullopt;

  for (uint64_t at = 0; at + kDescriptorSize <= *directorySize; at += kDescriptorSize) {
    const uint64_t descriptor = uint64_t{*directory} + at;
    // A descriptor cut off by the end of the image is damage, whichever fields are read.
    if (descriptor > image.size() || image.size() - descriptor < kDescriptorSize) return std::nullopt;
    const std::optional<uint32_t> name = ReadAt<uint32_t>(image, descriptor + kDescriptorNameField);
    const std::optional<uint32_t> addressTable = ReadAt<uint32_t>(image, descriptor + kDescriptorAddressTableField);
    const std::optional<uint32_t> nameTable = ReadAt<uint32_t>(image, descriptor + kDescriptorNameTableField);
    if (!name || !addressTable || !nameTable || *name == 0) return std::nullopt;
    if (!NameAtEquals(image, *name, dllName)) continue;
    // The name table and the address table run side by side to a zero entry.
    for (uint64_t thunk = 0;; thunk += kThunkSize) {
      const std::optional<uint64_t> imported = ReadAt<uint64_t>(image, uint64_t{*nameTable} + thunk);
      const uint64_t slot = uint64_t{*addressTable} + thunk;
      if (!imported || *imported == 0 || !ReadAt<uint64_t>(image, slot)) return std::nullopt;
      if ((*imported & kOrdinalFlag) != 0 && (*imported & 0xFFFF) == ordinal) return static_cast<size_t>(slot);
    }
  }
  return std::nullopt;
}

std::span<const std::byte> LoadedImage(HMODULE module) noexcept {
  if (module == nullptr) return {};
  // The headers of a loaded image lie in its first page.
  const std::span<const std::byte> headers(reinterpret_cast<const std::byte*>(module), 0x1000);
  const std::optional<uint64_t> optionalHeader = OptionalHeaderOffset(headers);
  if (!optionalHeader) return {};
  const std::optional<uint32_t> size = ReadAt<uint32_t>(headers, *optionalHeader + kSizeOfImageField);
  if (!size || *size < headers.size()) return {};
  return {headers.data(), *size};
}

bool PlantDelayImportHook(HMODULE module, std::string_view dllName, uint16_t ordinal, void* replacement) noexcept {
  const std::span<const std::byte> image = LoadedImage(module);
  const std::optional<size_t> slot = FindDelayImportSlot(image, dllName, ordinal);
  if (!slot) return false;
  void* address = reinterpret_cast<std::byte*>(module) + *slot;
  DWORD former = 0;
  if (!::VirtualProtect(address, sizeof(void*), PAGE_READWRITE, &former)) return false;
  std::memcpy(address, &replacement, sizeof(void*));
  DWORD ignored = 0;
  ::VirtualProtect(address, sizeof(void*), former, &ignored);
  return true;
}

}  // namespace tarnwick
