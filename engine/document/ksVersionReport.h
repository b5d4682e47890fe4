// What a document holds that an older PDF version does not know: one table of features
// with the version that introduced each, and what the structure walk found of them.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/ksConsts.h"

class TksPDFObject;

enum TksPDFFeature : uint8_t {
  pfFlate = 0,
  pfUnicodeText,
  pfInteractiveForm,
  pfEmbeddedFile,
  pfJavaScript,
  pfSmoothShading,
  pfTransparencyGroup,
  pfSoftMask,
  pfConstantAlpha,
  pfBlendMode,
  pfJBIG2,
  pfKey128,
  pfTaggedStructure,
  pfXMPMetadata,
  pfOptionalContent,
  pfJPX,
  pfOpenType,
  pfPortfolio,
  pfAssociatedFile,
  pfAES128,
  pfAES256,
  pfCount
};
static_assert(pfCount <= 32, "features are kept as bits of a 32-bit mask");

struct TksPDFFeatureRow {
  TksPDFFeature Feature;
  TksPDFVersion Since;
  const char* Name;  // as the report names it
};
// The table, in feature order.
const TksPDFFeatureRow& PDFFeatureRow(TksPDFFeature feature);

constexpr uint32_t FeatureBit(TksPDFFeature feature) { return uint32_t{1} << feature; }

// The features one dictionary entry shows by itself (key with its "/"; value as it
// stands, references not followed), as bits.
uint32_t FeaturesOfEntry(std::string_view key, const TksPDFObject* value);
// The features a string value shows (a text string in UTF-16).
uint32_t FeaturesOfString(const TksPDFObject* value);

// One feature the output holds that its version does not know.
struct TksVersionFinding {
  TksPDFFeature Feature;
  TksPDFVersion Since;
  std::vector<int32_t> Pages;  // 1-based, rising; empty when no page uses it
};

// Where the walk found each feature: on which pages, or elsewhere in the document.
class TksVersionReport {
 public:
  void Clear();
  // page: 1-based, 0 for the document outside its pages.
  void Note(uint32_t features, int32_t page);
  // The features newer than target, in table order.
  std::vector<TksVersionFinding> Findings(TksPDFVersion target) const;
  // "PDF 1.3 does not support transparency groups (PDF 1.4), used on pages 2–5".
  static std::string Text(TksPDFVersion target, const TksVersionFinding& finding);
  // "1, 3–5, 9": rising page numbers with their runs joined.
  static std::string PageListText(const std::vector<int32_t>& pages);

 private:
  uint32_t documentWide_ = 0;              // found outside pages
  std::vector<int32_t> pages_[pfCount];    // in the order noted; sorted when reported
};
