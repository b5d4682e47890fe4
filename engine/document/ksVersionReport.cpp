// The feature table and the report's texts.
#include "document/ksVersionReport.h"

#include <algorithm>
#include <optional>

#include "base/ksPDFResStrs.h"
#include "objects/ksPDFObjects.h"

namespace {

// Versions as the PDF Reference (sixth edition, for 1.0-1.7) and ISO 32000-2 (for 2.0)
// give them where each feature is introduced.
constexpr TksPDFFeatureRow kFeatures[] = {
    {pfFlate, pvPDF12, "Flate compression"},                 // Reference 3.3.3, FlateDecode
    {pfUnicodeText, pvPDF12, "Unicode text strings"},        // Reference 3.8.1, text strings
    {pfInteractiveForm, pvPDF12, "interactive forms"},       // Reference 8.6, interactive forms
    {pfEmbeddedFile, pvPDF13, "embedded files"},             // Reference 3.10.3, embedded file streams
    {pfJavaScript, pvPDF13, "JavaScript"},                   // Reference 8.6.4, JavaScript actions
    {pfSmoothShading, pvPDF13, "smooth shadings"},           // Reference 4.6.3, shading dictionaries
    {pfTransparencyGroup, pvPDF14, "transparency groups"},   // Reference 7.5.5, group XObjects
    {pfSoftMask, pvPDF14, "soft masks"},                     // Reference 7.5.4, SMask
    {pfConstantAlpha, pvPDF14, "constant opacity (/CA, /ca)"},  // Reference 4.3.4 table 4.8
    {pfBlendMode, pvPDF14, "blend modes"},                   // Reference 7.2.4, /BM
    {pfJBIG2, pvPDF14, "JBIG2 images"},                      // Reference 3.3.6, JBIG2Decode
    {pfKey128, pvPDF14, "encryption keys over 40 bits"},     // Reference 3.5.2, /Length of RC4 keys
    {pfTaggedStructure, pvPDF14, "tagged structure"},        // Reference 10.7, tagged PDF
    {pfXMPMetadata, pvPDF14, "XMP metadata"},                // Reference 10.2.2, metadata streams
    {pfOptionalContent, pvPDF15, "optional content"},        // Reference 4.10, optional content
    {pfJPX, pvPDF15, "JPEG 2000 images"},                    // Reference 3.3.8, JPXDecode
    {pfOpenType, pvPDF16, "OpenType font programs"},         // Reference 5.8, FontFile3 /OpenType
    {pfPortfolio, pvPDF17, "portfolios"},                    // Reference 8.2.4, collections
    {pfAssociatedFile, pvPDF20, "associated files"},         // ISO 32000-2 14.13, /AF
    {pfAES128, pvPDF16, "AES-128 encryption"},               // Reference 3.5.2, /AESV2 crypt filters
    {pfAES256, pvPDF20, "AES-256 encryption"},               // ISO 32000-2 7.6.4, revision 6 and /AESV3
};
static_assert(std::size(kFeatures) == pfCount, "one row per feature");

bool IsNameIn(const TksPDFObject* value, std::initializer_list<std::string_view> names) {
  if (!value || value->ObjectType != otName) return false;
  const std::string& text = static_cast<const TksPDFNameObject*>(value)->Text;
  return std::find(names.begin(), names.end(), text) != names.end();
}

uint32_t FilterFeatures(const TksPDFObject* name) {
  if (IsNameIn(name, {"/FlateDecode", "/Fl"})) return FeatureBit(pfFlate);
  if (IsNameIn(name, {"/JBIG2Decode"})) return FeatureBit(pfJBIG2);
  if (IsNameIn(name, {"/JPXDecode"})) return FeatureBit(pfJPX);
  return 0;
}

// A number's value (either kind); none for anything else.
std::optional<double> NumberOf(const TksPDFObject* value) {
  if (value && value->ObjectType == otReal) return static_cast<const TksPDFRealObject*>(value)->Value;
  if (std::optional<int64_t> i = IntegerValue(value)) return static_cast<double>(*i);
  return std::nullopt;
}

bool IsSeparableBlendMode(const TksPDFObject* value) { return IsNameIn(value, {"/Normal", "/Compatible"}); }

}  // namespace

const TksPDFFeatureRow& PDFFeatureRow(TksPDFFeature feature) { return kFeatures[feature < pfCount ? feature : 0]; }

uint32_t FeaturesOfString(const TksPDFObject* value) {
  if (!value || value->ObjectType != otString) return 0;
  const std::string& bytes = static_cast<const TksPDFStringObject*>(value)->Bytes();
  return bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF
             ? FeatureBit(pfUnicodeText)
             : 0;
}

uint32_t FeaturesOfEntry(std::string_view key, const TksPDFObject* value) {
  if (!value || key.size() < 2) return 0;
  switch (key[1]) {
    case 'A':
      if (key == "/AF") return FeatureBit(pfAssociatedFile);
      break;
    case 'B':
      if (key == "/BM") {
        // Normal and Compatible draw as older versions do; an array is a list to choose from.
        if (value->ObjectType == otArray) {
          const auto* modes = static_cast<const TksPDFArrayObject*>(value);
          for (int32_t i = 0; i < modes->Count(); ++i)
            if (modes->GetItem(i) && modes->GetItem(i)->ObjectType == otName && !IsSeparableBlendMode(modes->GetItem(i)))
              return FeatureBit(pfBlendMode);
          return 0;
        }
        return value->ObjectType == otName && !IsSeparableBlendMode(value) ? FeatureBit(pfBlendMode) : 0;
      }
      break;
    case 'C':
    case 'c':
      if (key == "/CA" || key == "/ca") {
        // Full opacity is what older versions draw anyway.
        const std::optional<double> alpha = NumberOf(value);
        return alpha && *alpha != 1 ? FeatureBit(pfConstantAlpha) : 0;
      }
      break;
    case 'E':
      if (key == "/EF") return value->ObjectType == otDictionary || value->ObjectType == otIndirectReference
                                   ? FeatureBit(pfEmbeddedFile)
                                   : 0;
      break;
    case 'F':
      if (key == "/Filter") {
        if (value->ObjectType != otArray) return FilterFeatures(value);
        uint32_t found = 0;
        const auto* filters = static_cast<const TksPDFArrayObject*>(value);
        for (int32_t i = 0; i < filters->Count(); ++i) found |= FilterFeatures(filters->GetItem(i));
        return found;
      }
      break;
    case 'J':
      if (key == "/JS") return FeatureBit(pfJavaScript);
      break;
    case 'O':
      if (key == "/OC") return FeatureBit(pfOptionalContent);
      break;
    case 'S':
      if (key == "/SMask") return IsNameIn(value, {"/None"}) ? 0 : FeatureBit(pfSoftMask);
      if (key == "/ShadingType") return FeatureBit(pfSmoothShading);
      if (key == "/S") {
        if (IsNameIn(value, {"/Transparency"})) return FeatureBit(pfTransparencyGroup);
        if (IsNameIn(value, {"/JavaScript"})) return FeatureBit(pfJavaScript);
      }
      if (key == "/Subtype" && IsNameIn(value, {"/OpenType"})) return FeatureBit(pfOpenType);
      break;
    case 'T':
      if (key == "/Type" && IsNameIn(value, {"/EmbeddedFile"})) return FeatureBit(pfEmbeddedFile);
      break;
    default:
      break;
  }
  return FeaturesOfString(value);
}

void TksVersionReport::Clear() {
  documentWide_ = 0;
  for (auto& pages : pages_) pages.clear();
}

void TksVersionReport::Note(uint32_t features, int32_t page) {
  if (page <= 0) {
    documentWide_ |= features;
    return;
  }
  for (uint8_t f = 0; features && f < pfCount; ++f) {
    if (!(features & FeatureBit(static_cast<TksPDFFeature>(f)))) continue;
    features &= ~FeatureBit(static_cast<TksPDFFeature>(f));
    std::vector<int32_t>& pages = pages_[f];
    if (pages.empty() || pages.back() != page) pages.push_back(page);
  }
}

std::vector<TksVersionFinding> TksVersionReport::Findings(TksPDFVersion target) const {
  std::vector<TksVersionFinding> findings;
  for (const TksPDFFeatureRow& row : kFeatures) {
    if (row.Since <= target) continue;
    const bool wide = documentWide_ & FeatureBit(row.Feature);
    if (!wide && pages_[row.Feature].empty()) continue;
    TksVersionFinding finding{row.Feature, row.Since, pages_[row.Feature]};
    std::sort(finding.Pages.begin(), finding.Pages.end());
    finding.Pages.erase(std::unique(finding.Pages.begin(), finding.Pages.end()), finding.Pages.end());
    findings.push_back(std::move(finding));
  }
  return findings;
}

std::string TksVersionReport::PageListText(const std::vector<int32_t>& pages) {
  std::string text;
  for (size_t i = 0; i < pages.size();) {
    size_t j = i;
    while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += std::to_string(pages[i]);
    if (j > i) text += "\xE2\x80\x93" + std::to_string(pages[j]);  // an en dash
    i = j + 1;
  }
  return text;
}

std::string TksVersionReport::Text(TksPDFVersion target, const TksVersionFinding& finding) {
  const char* name = PDFFeatureRow(finding.Feature).Name;
  if (finding.Pages.empty())
    return ksFormat(ksres::SVersionLacksFeature, PDFVersionText(target), name, PDFVersionText(finding.Since));
  const bool one = finding.Pages.size() == 1;
  return ksFormat(ksres::SVersionLacksFeatureOnPages, PDFVersionText(target), name, PDFVersionText(finding.Since),
                  one ? "page" : "pages", PageListText(finding.Pages).c_str());
}
