// What the font operations and stamping share: the font a description is written as,
// the search of a page's fonts for an equal one, and the making of a new font.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "content/ksFontRegistry.h"

class TksPageEditor;

// The names a font is written with; composite fonts are always embedded.
struct TksWantedFont {
  std::string BaseFont, Subtype, EncodingName;
  ksplatform::FontFace Face;  // the program drawn with
  uint8_t EmbedMode = 0;
  bool Composite = false;
};
// EUnsupportedFontError for a composite font of a face that is no TrueType face.
TksWantedFont WantedFontOf(const TksPDFFont& font, uint8_t embedMode, int32_t encoding);
// EInvalidValueError for an embedding mode or encoding the fonts cannot be made with.
void CheckFontRequest(uint8_t embedMode, int32_t encoding);
// The key of the first entry of fonts that is the wanted font: one this document made,
// or a loaded simple font that is no subset and holds widths for the codes of text.
// Empty when none; objectNumber receives the font's object (-1 when held directly).
std::string MatchingFontKey(TksPageEditor& editor, TksPDFDictObject& fonts, const TksWantedFont& wanted,
                            int32_t encoding, std::u32string_view text, int32_t* objectNumber);
// The font for pdfFont: one of the document's fonts when an equal one exists (the text is
// added to what it draws), else a new font object with its descriptor, program and map.
TksCreatedFont* CreateFontResource(TksCustomPDFDocument& document, std::unique_ptr<TksPDFFont> pdfFont,
                                   const std::string& resourceName, uint8_t embedMode, int32_t encoding,
                                   std::u32string_view text);
