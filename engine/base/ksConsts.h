// Product texts and enumerations shared across the engine.
#pragma once

// Built with AddressSanitizer: leaving memory to process exit steps aside so freeing is
// checked, and the object pool poisons the cells it holds.
#if defined(__SANITIZE_ADDRESS__)
#define KS_ADDRESS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KS_ADDRESS_SANITIZED 1
#endif
#endif
#ifndef KS_ADDRESS_SANITIZED
#define KS_ADDRESS_SANITIZED 0
#endif
#include <cstdint>
#include <optional>
#include <string_view>

namespace ksconst {
inline constexpr const char* ProductName = "Pagewright";
inline constexpr const char* ProducerText = "Kestrine Pagewright V2.5";
inline constexpr const char* ComponentVersion = "2.5";
inline constexpr const char* ComponentAbout = "Kestrine Pagewright PDF engine";
}  // namespace ksconst

enum TksPDFVersion : uint8_t {
  pvPDF10 = 0, pvPDF11, pvPDF12, pvPDF13, pvPDF14, pvPDF15, pvPDF16, pvPDF17, pvPDF20
};
inline const char* PDFVersionText(TksPDFVersion v) {
  static const char* const texts[] = {"1.0", "1.1", "1.2", "1.3", "1.4", "1.5", "1.6", "1.7", "2.0"};
  return v <= pvPDF20 ? texts[v] : "1.4";
}
// The version a text names ("1.0" ... "1.7", "2.0"); none for any other text.
inline std::optional<TksPDFVersion> PDFVersionFromText(std::string_view text) {
  for (int v = pvPDF10; v <= pvPDF20; ++v)
    if (text == PDFVersionText(static_cast<TksPDFVersion>(v))) return static_cast<TksPDFVersion>(v);
  return std::nullopt;
}
