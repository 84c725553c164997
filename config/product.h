// The product's fixed names, shared by every layer.
#pragma once

#define TARNWICK_PRODUCT_NAME L"Tarnwick"

namespace tarnwick {

inline constexpr const wchar_t* kProductName = TARNWICK_PRODUCT_NAME;
// The name of earlier releases, still found in their logon task.
inline constexpr const wchar_t* kLegacyProductName = L"Tarn Wick";

}  // namespace tarnwick
