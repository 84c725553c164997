#include "ui/status_format.h"

#include <cwchar>

namespace tarnwick {

namespace {

template <typename... Args>
std::wstring Format(const wchar_t* format, Args... args) {
  wchar_t buffer[128] = {};
  const int length = std::swprintf(buffer, std::size(buffer), format, args...);
  return length < 0 ? std::wstring() : std::wstring(buffer, static_cast<size_t>(length));
}

// NaN compares unequal to everything, so an unreadable mean always counts as new.
bool Differs(double a, double b) { return !(a == b); }

}  // namespace

void StatusDisplay::Reset() { *this = StatusDisplay{}; }

std::wstring StatusWord(uint32_t running) {
  switch (running) {
    case 0:
      return L"STOPPED";
    case 1:
      return L"MONITORING";
    case 2:
      return L"ERROR";
    default:
      return L"UNKNOWN";
  }
}

double ShownUsage(double mean) { return mean < 1.0 ? 0.0 : mean; }

std::wstring FormatPUsagePart(double usage) { return Format(L"P-Core usage: %.2f%%", usage); }
std::wstring FormatEUsagePart(double usage) { return Format(L"E-Core usage: %.2f%%", usage); }

std::wstring FormatMatchedPart(uint32_t matched, uint32_t scanned) {
  return Format(L"Matched processes: %u of %u", matched, scanned);
}

std::wstring FormatCountLabel(uint32_t matched, uint32_t scanned) { return Format(L"%u of %u", matched, scanned); }

StatusChanges RefreshStatus(StatusDisplay& display, const StatusReading& reading) {
  const double pUsage = ShownUsage(reading.pUsage);
  const double eUsage = ShownUsage(reading.eUsage);
  bool textChanged = false;
  bool countsChanged = false;

  if (display.LastShownStatus != reading.running) {
    display.LastShownStatus = reading.running;
    display.StatusPartTexts[0] = StatusWord(reading.running);
    textChanged = true;
  }
  if (Differs(pUsage, display.LastShownPUsage)) {
    display.LastShownPUsage = pUsage;
    display.StatusPartTexts[1] = FormatPUsagePart(pUsage);
    textChanged = true;
  }
  if (Differs(eUsage, display.LastShownEUsage)) {
    display.LastShownEUsage = eUsage;
    display.StatusPartTexts[2] = FormatEUsagePart(eUsage);
    textChanged = true;
  }
  if (reading.scanned != display.LastShownScanned || reading.matched != display.LastShownMatched) {
    display.LastShownScanned = reading.scanned;
    display.LastShownMatched = reading.matched;
    display.StatusPartTexts[kMatchedStatusPart] = FormatMatchedPart(reading.matched, reading.scanned);
    countsChanged = true;
  } else if (!textChanged) {
    return {};
  }

  StatusChanges changes;
  for (size_t part = 0; part < kStatusPartCount; ++part) {
    if (display.StatusPartTexts[part] != display.ShownPartTexts[part]) {
      display.ShownPartTexts[part] = display.StatusPartTexts[part];
      changes.partsToSend.push_back(part);
    }
  }
  changes.measureParts = true;
  if (countsChanged) {
    std::wstring countText = FormatCountLabel(reading.matched, reading.scanned);
    if (countText != display.LastCountText) {
      display.LastCountText = countText;
      changes.countLabel = std::move(countText);
    }
  }
  return changes;
}

std::vector<int> StatusPartRightEdges(std::span<const int> textWidths, int padding) {
  if (textWidths.empty() || textWidths.size() > 255) return {};
  std::vector<int> edges;
  edges.reserve(textWidths.size());
  int total = 0;
  for (const int width : textWidths) {
    total += width + padding;
    edges.push_back(total);
  }
  edges.back() = -1;
  return edges;
}

}  // namespace tarnwick
