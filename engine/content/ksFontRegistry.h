// The fonts a document created for drawn text. Every application of a font adds the
// characters it drew; the embedded programs (subsets of the union) and the ToUnicode maps
// are written just before each save, so no page's characters are missing from them.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "content/ksPDFFont.h"
#include "document/ksCstPDFDoc.h"

struct TksCreatedFont {
  std::unique_ptr<TksPDFFont> Font;
  uint8_t EmbedMode = 0;
  int32_t Encoding = 0;
  // As written into the font dictionary (names with their "/"; no encoding for Standard).
  std::string BaseFont, Subtype, EncodingName;
  int32_t FontObject = -1;
  int32_t FontFileObject = -1;   // "/FontFile2" ("/FontFile3" for CFF outlines), when embedded
  int32_t ToUnicodeObject = -1;  // composite fonts
  int32_t DescriptorObject = -1;
  int32_t CidFontObject = -1;    // composite fonts: the descendant, whose /W is set at a save
  int32_t CidToGidObject = -1;   // composite subsets of TrueType outlines: CID -> new glyph
};

class TksFontRegistry : public TksDocumentExtension {
 public:
  // The registry of document, made on first use.
  static TksFontRegistry& Of(TksCustomPDFDocument& document);

  // The font written with these names from the face of file and index (a face that stands
  // in for another character set may be another program under the same name).
  TksCreatedFont* Find(const std::string& baseFont, const std::string& subtype, const std::string& encodingName,
                       uint8_t embedMode, const ksplatform::FontFace& face);
  TksCreatedFont* FindObject(int32_t objectNumber);
  TksCreatedFont& Add(std::unique_ptr<TksCreatedFont> font);
  bool WarnedCompositeEmbedding = false;
  // The faces fonts were made from, by request (see TksFontSource).
  std::map<std::string, std::shared_ptr<TksFontSource>> Sources;

  void PrepareForSave(TksCustomPDFDocument& document) override;

 private:
  std::vector<std::unique_ptr<TksCreatedFont>> fonts_;
};

// Six upper-case letters derived from a subset's program, so that different subsets are
// named apart and the same subset is always named alike.
std::string SubsetTag(std::string_view program);

// A name of text: bytes outside "!"-"~" and the delimiters written as #xx.
std::string EscapedName(std::string_view text);
