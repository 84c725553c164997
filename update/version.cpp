#include "update/version.h"

#include <cwchar>
#include <string>

namespace tarnwick {
namespace {

// Little-endian reads that refuse to pass the end of the image.
class ImageReader {
 public:
  explicit ImageReader(std::span<const std::byte> image) : image_(image) {}

  [[nodiscard]] bool Has(uint64_t offset, uint64_t length) const {
    return offset <= image_.size() && length <= image_.size() - offset;
  }
  [[nodiscard]] std::optional<uint32_t> U16(uint64_t offset) const { return Read(offset, 2); }
  [[nodiscard]] std::optional<uint32_t> U32(uint64_t offset) const { return Read(offset, 4); }

 private:
  [[nodiscard]] std::optional<uint32_t> Read(uint64_t offset, unsigned length) const {
    if (!Has(offset, length)) return std::nullopt;
    uint32_t value = 0;
    for (unsigned i = length; i-- > 0;) value = value << 8 | std::to_integer<uint32_t>(image_[offset + i]);
    return value;
  }
  std::span<const std::byte> image_;
};

constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr uint32_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr uint32_t kSubdirectoryBit = 0x80000000u;

// The file offset of `length` bytes at the relative virtual address `rva`,
// when one section holds them all in the file.
std::optional<uint64_t> FileOffsetOf(const ImageReader& image, uint64_t sections, uint32_t sectionCount, uint32_t rva,
                                     uint32_t length) {
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint64_t header = sections + 40ull * i;
    const auto address = image.U32(header + 12);
    const auto rawSize = image.U32(header + 16);
    const auto rawOffset = image.U32(header + 20);
    if (!address || !rawSize || !rawOffset) return std::nullopt;
    if (rva < *address || rva - *address >= *rawSize) continue;
    if (length > *rawSize - (rva - *address)) return std::nullopt;
    const uint64_t offset = uint64_t{*rawOffset} + (rva - *address);
    if (!image.Has(offset, length)) return std::nullopt;
    return offset;
  }
  return std::nullopt;
}

// The offset field of the entry of resource directory `directory` (relative to
// the resource section at `base`, `size` bytes) whose id is `id`, or of its
// first entry when `id` is empty.
std::optional<uint32_t> DirectoryEntry(const ImageReader& image, uint64_t base, uint32_t size, uint32_t directory,
                                       std::optional<uint32_t> id) {
  if (directory > size || size - directory < 16) return std::nullopt;
  const auto named = image.U16(base + directory + 12);
  const auto numbered = image.U16(base + directory + 14);
  if (!named || !numbered) return std::nullopt;
  const uint64_t count = uint64_t{*named} + *numbered;
  if (count > (size - directory - 16) / 8) return std::nullopt;
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t entry = base + directory + 16 + 8 * i;
    const auto name = image.U32(entry);
    const auto offset = image.U32(entry + 4);
    if (!name || !offset) return std::nullopt;
    if (!id || *name == *id) return *offset;
  }
  return std::nullopt;
}

}  // namespace

uint32_t PackVersion(std::wstring_view text) {
  if (text.size() < 7) return 0;
  const std::wstring terminated(text);
  unsigned int a = 0, b = 0, c = 0, d = 0;
  std::swscanf(terminated.c_str(), L"%u.%u.%u.%u", &a, &b, &c, &d);
  return static_cast<uint32_t>(((a << 8 | b) << 8 | c) << 8 | d);
}

std::optional<uint32_t> ParseStrictVersion(std::wstring_view text) {
  uint32_t packed = 0;
  for (int field = 0; field < 4; ++field) {
    if (field > 0) {
      if (text.empty() || text.front() != L'.') return std::nullopt;
      text.remove_prefix(1);
    }
    uint32_t value = 0;
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9') {
      value = value * 10 + static_cast<uint32_t>(text[digits] - L'0');
      if (value > 255) return std::nullopt;
      ++digits;
    }
    if (digits == 0) return std::nullopt;
    text.remove_prefix(digits);
    packed = packed << 8 | value;
  }
  if (!text.empty()) return std::nullopt;
  return packed;
}

std::optional<uint32_t> ReadImageFileVersion(std::span<const std::byte> bytes) {
  const ImageReader image(bytes);
  if (image.U16(0) != 0x5A4Du) return std::nullopt;  // "MZ"
  const auto nt = image.U32(0x3C);
  if (!nt || image.U32(*nt) != kPeSignature) return std::nullopt;
  const auto sectionCount = image.U16(uint64_t{*nt} + 6);
  const auto optionalSize = image.U16(uint64_t{*nt} + 20);
  const uint64_t optionalHeader = uint64_t{*nt} + 24;
  const auto magic = image.U16(optionalHeader);
  if (!sectionCount || !optionalSize || !magic) return std::nullopt;
  // The data directories follow the fixed fields of PE32 (96 bytes) or PE32+ (112).
  const uint64_t directories = *magic == 0x20B ? 112 : *magic == 0x10B ? 96 : 0;
  if (directories == 0) return std::nullopt;
  const auto directoryCount = image.U32(optionalHeader + directories - 4);
  if (!directoryCount || *directoryCount < 3 || directories + 3 * 8 > *optionalSize) return std::nullopt;
  const auto resourceRva = image.U32(optionalHeader + directories + 2 * 8);
  const auto resourceSize = image.U32(optionalHeader + directories + 2 * 8 + 4);
  if (!resourceRva || !resourceSize || *resourceSize == 0) return std::nullopt;
  const uint64_t sections = optionalHeader + *optionalSize;
  const auto base = FileOffsetOf(image, sections, *sectionCount, *resourceRva, *resourceSize);
  if (!base) return std::nullopt;

  // Type RT_VERSION, its first name, its first language: three levels, each
  // but the last a subdirectory.
  std::optional<uint32_t> entry = DirectoryEntry(image, *base, *resourceSize, 0, kResourceTypeVersion);
  for (int level = 0; level < 2; ++level) {
    if (!entry || (*entry & kSubdirectoryBit) == 0) return std::nullopt;
    entry = DirectoryEntry(image, *base, *resourceSize, *entry & ~kSubdirectoryBit, std::nullopt);
  }
  if (!entry || (*entry & kSubdirectoryBit) != 0 || *entry > *resourceSize || *resourceSize - *entry < 8) {
    return std::nullopt;
  }
  const auto dataRva = image.U32(*base + *entry);
  const auto dataSize = image.U32(*base + *entry + 4);
  if (!dataRva || !dataSize) return std::nullopt;

  // VS_VERSIONINFO: three 16-bit words, "VS_VERSION_INFO" and its NUL in
  // UTF-16 (32 bytes), padding to 40, then VS_FIXEDFILEINFO (52 bytes).
  constexpr uint32_t kFixedInfoOffset = 40;
  constexpr uint32_t kFixedInfoSize = 52;
  if (*dataSize < kFixedInfoOffset + kFixedInfoSize) return std::nullopt;
  const auto info = FileOffsetOf(image, sections, *sectionCount, *dataRva, *dataSize);
  if (!info) return std::nullopt;
  constexpr std::wstring_view kKey = L"VS_VERSION_INFO";
  for (size_t i = 0; i <= kKey.size(); ++i) {
    const uint32_t expected = i < kKey.size() ? static_cast<uint32_t>(kKey[i]) : 0u;
    if (image.U16(*info + 6 + 2 * i) != expected) return std::nullopt;
  }
  if (image.U16(*info + 2).value_or(0) < kFixedInfoSize) return std::nullopt;
  const uint64_t fixed = *info + kFixedInfoOffset;
  if (image.U32(fixed) != kFixedFileInfoSignature) return std::nullopt;
  const auto most = image.U32(fixed + 8);
  const auto least = image.U32(fixed + 12);
  if (!most || !least) return std::nullopt;
  const uint32_t fields[] = {*most >> 16, *most & 0xFFFF, *least >> 16, *least & 0xFFFF};
  uint32_t packed = 0;
  for (const uint32_t field : fields) {
    if (field > 255) return std::nullopt;
    packed = packed << 8 | field;
  }
  return packed;
}

UpdateAnswer CompareWithCurrentVersion(std::wstring_view latest) {
  if (latest.empty()) return UpdateAnswer::NoAnswer;
  return PackVersion(latest) > PackVersion(CurrentVersionText) ? UpdateAnswer::Newer : UpdateAnswer::NotNewer;
}

}  // namespace tarnwick
