// Registry value names under "Software\Tarnwick". All are REG_DWORD; their
// defaults belong to the readers.
#pragma once

#include "config/product.h"

namespace tarnwick {

inline constexpr const wchar_t* kDarkModeDisabled = L"darkmode_disabled";
inline constexpr const wchar_t* kNoThemedProgressBars = L"no_themed_progressbars";
inline constexpr const wchar_t* kBetaUpdates = L"BetaUpdates";
inline constexpr const wchar_t* kMethodEfficiencyMode = L"MethodEfficiencyMode";
inline constexpr const wchar_t* kMethodCpuAffinity = L"MethodCPUAffinity";
inline constexpr const wchar_t* kMethodCpuSets = L"MethodCPUSets";
inline constexpr const wchar_t* kLastScannedCount = L"LastScannedCount";
inline constexpr const wchar_t* kCurrentEnforcedCount = L"CurrentEnforcedCount";
// The Running Processes window's size at 96 DPI; its column widths are
// "ProcessesColumn<N>Width", N counting from 0.
inline constexpr const wchar_t* kProcessesWindowWidth = L"ProcessesWindowWidth";
inline constexpr const wchar_t* kProcessesWindowHeight = L"ProcessesWindowHeight";
// Its place (the top left corner in screen pixels, as signed 32-bit values),
// its sort (the column plus 1, 0 for matched first) and direction, and
// "Only matched processes".
inline constexpr const wchar_t* kProcessesWindowLeft = L"ProcessesWindowLeft";
inline constexpr const wchar_t* kProcessesWindowTop = L"ProcessesWindowTop";
inline constexpr const wchar_t* kProcessesSortColumn = L"ProcessesSortColumn";
inline constexpr const wchar_t* kProcessesSortDescending = L"ProcessesSortDescending";
inline constexpr const wchar_t* kProcessesOnlyMatched = L"ProcessesOnlyMatched";

// The key every value lives under, below HKEY_CURRENT_USER (and, for
// "BetaUpdates", HKEY_LOCAL_MACHINE).
inline constexpr const wchar_t* kSettingsKeyPath = L"Software\\" TARNWICK_PRODUCT_NAME;

}  // namespace tarnwick
