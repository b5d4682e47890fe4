// The document layer that carries the text-rendering declarations.
#pragma once
#include <memory>
#include <vector>

#include "compat/ksExPDFDoc.h"
#include "content/ksPDFFont.h"

// What a caller that renders text itself is told about a text.
struct TksTextInfo {
  int32_t PageNo = 0;
  double X = 0, Y = 0;
};
struct TksFontStyle {
  bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
};
// A rectangle to be highlighted, with its colour.
struct TksHighlightRect {
  TksPageRect Rect;
  TksColor Color{255, 255, 255};
};
// Fonts kept for the caller's own text rendering.
using TksPDFFontList = std::vector<std::unique_ptr<TksPDFFont>>;

class TksExProPDFDocument : public TksExPDFDocument {
 public:
  TksExProPDFDocument() { HighlightRects.emplace_back(); }
  // Whether the caller renders text itself; stored for the caller, read by nothing here.
  bool CustomRenderText = false;
  // Published for the caller's own text rendering; no operation of the engine raises it.
  std::function<void(TksCustomPDFDocument* sender, const TksTextInfo& textInfo, TksFontStyle& fontStyle,
                     std::u16string& text, TksColor& textColor)>
      OnRenderText;
  std::vector<TksHighlightRect> HighlightRects;
  TksPDFFontList FontList;
};
