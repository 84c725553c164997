// What the main window's status bar and count label show, decided apart from
// the controls: the texts of the four parts, which of them changed since the
// last refresh, and the right edges of the parts once their texts are measured.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarnwick {

inline constexpr size_t kStatusPartCount = 4;
// The part that shows "Matched processes: %d of %d".
inline constexpr size_t kMatchedStatusPart = 3;
// Pixels added to each part's measured text width, at 96 DPI.
inline constexpr int kStatusPartPadding = 20;

// The values one refresh reads: the worker's running flag, the registry
// counters of the last pass and the mean usages of the two core classes.
struct StatusReading {
  uint32_t running = 0;
  uint32_t scanned = 0;
  uint32_t matched = 0;
  double pUsage = 0.0;
  double eUsage = 0.0;
};

// The remembered values of one opening of the main window. A new opening
// starts from Reset(), so that its first refresh writes everything.
struct StatusDisplay {
  // Empty until the first refresh; a running flag of any value is then new.
  std::optional<uint32_t> LastShownStatus;
  uint32_t LastShownScanned = 0xFFFFFFFF;
  uint32_t LastShownMatched = 0xFFFFFFFF;
  double LastShownPUsage = -1.0;
  double LastShownEUsage = -1.0;
  std::wstring LastCountText;
  std::array<std::wstring, kStatusPartCount> StatusPartTexts;
  std::array<std::wstring, kStatusPartCount> ShownPartTexts;

  void Reset();
};

// What a refresh must hand to the controls.
struct StatusChanges {
  std::vector<size_t> partsToSend;         // indices whose text changed, ascending
  bool measureParts = false;               // recompute and send the part edges
  std::optional<std::wstring> countLabel;  // new text of the count label
  [[nodiscard]] bool Empty() const { return partsToSend.empty() && !measureParts && !countLabel; }
};

[[nodiscard]] std::wstring StatusWord(uint32_t running);
// A mean below 1 % is shown as 0.
[[nodiscard]] double ShownUsage(double mean);
[[nodiscard]] std::wstring FormatPUsagePart(double usage);
[[nodiscard]] std::wstring FormatEUsagePart(double usage);
[[nodiscard]] std::wstring FormatMatchedPart(uint32_t matched, uint32_t scanned);
[[nodiscard]] std::wstring FormatCountLabel(uint32_t matched, uint32_t scanned);

// Compares the reading with what is shown, updates `display` and returns only
// what changed. Marks the sent part texts as shown.
[[nodiscard]] StatusChanges RefreshStatus(StatusDisplay& display, const StatusReading& reading);

// Right edges of the parts from their text widths: a running total of each
// width plus `padding` (kStatusPartPadding at the window's DPI); the last
// part reaches the right border (-1). Empty when the count is 0 or above 255.
[[nodiscard]] std::vector<int> StatusPartRightEdges(std::span<const int> textWidths, int padding = kStatusPartPadding);

}  // namespace tarnwick
