// Fonts for text the engine draws onto pages. A font description becomes one of three PDF
// fonts: a simple TrueType font (one byte per character in a named encoding), a standard
// Type 1 substitute for a face whose TrueType program cannot be read, or a composite font
// whose codes are glyph numbers (any character set beyond the Western one). Metrics come
// from the desktop's font services; the program (TrueType or CFF outlines) can be embedded
// whole or as a subset of the glyphs drawn.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ksFonts.h"

class TksCustomPDFDocument;

struct TksColor {
  uint8_t R = 0, G = 0, B = 0;
  bool operator==(const TksColor&) const = default;
};

// A font as callers describe it.
struct TksFont {
  std::string Name = "Arial";
  double Size = 12;  // points
  bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
  TksColor Color;
  // The desktop's character sets: 0 ANSI, 1 default, 2 symbol, 204 Russian, 128 Japanese, ...
  uint8_t Charset = 0;
  uint8_t Pitch = 0;  // 0 default, 1 fixed, 2 variable
  // Height in screen pixels, negative: the desktop's way of asking for a character size.
  double Height() const { return -Size * 96.0 / 72.0; }
  int32_t Weight() const { return Bold ? 700 : 400; }
};

// What the font is made from: 0 an embeddable TrueType face, 1 a device font (the desktop
// here has none), 2 anything else (a standard Type 1 font stands in).
enum TksFontKind : uint8_t { ftkTrueType = 0, ftkDevice = 1, ftkOther = 2 };

// The simple-font encodings by index, as the PDF names them.
inline constexpr const char* kFontEncodingNames[] = {"/WinAnsiEncoding", "/MacRomanEncoding", "/MacExpertEncoding",
                                                     "/StandardEncoding", "/PDFDocEncoding"};
inline constexpr int32_t kFontEncodingCount = 5;

// The metrics of one font, in 1/1000 of the font size unless said otherwise.
struct TksPDFFontInfo {
  TksPDFFontInfo(const TksFont& font, TksCustomPDFDocument* owner);
  int32_t DescriptorFlags = 0;
  std::array<int32_t, 4> FontBBox = {-250, -200, 1000, 900};  // left, top, right, bottom
  double Ascent = 800, Descent = -200, CapHeight = 700;
  int32_t AvgWidth = 576, MaxWidth = 576;
  int32_t StemV = 0, ItalicAngle = 0;
  // Decoration in points at the font's size: positions of the line's top above the
  // baseline (negative below), thicknesses.
  double UnderlinePosition, UnderlineThickness, StrikeoutPosition, StrikeoutThickness;
  TksFontKind FontKind = ftkOther;
  bool FixedPitch = false;
  std::array<int32_t, 224> Widths;  // codes 32-255 in WinAnsi
  TksCustomPDFDocument* Owner;
};

class TksPDFFont {
 public:
  // The document's fonts are made with charsetCheck off and glyphMode on.
  TksPDFFont(const TksFont& font, bool charsetCheck, bool glyphMode, TksCustomPDFDocument* owner);
  ~TksPDFFont();
  TksPDFFont(const TksPDFFont&) = delete;
  TksPDFFont& operator=(const TksPDFFont&) = delete;

  const TksFont& Font() const { return font_; }
  TksPDFFontInfo& Info() { return info_; }
  const TksPDFFontInfo& Info() const { return info_; }
  const ksplatform::FontFace& Face() const { return face_; }

  // The face name without spaces, then "," when bold or italic, "Bold", "Italic".
  static std::string BaseFontText(const TksFont& font);
  // The ANSI and symbol sets, and the default set (the desktop's code page is 1252).
  static bool IsWesternCharset(uint8_t charset) { return charset <= 2; }
  bool IsWestern() const { return IsWesternCharset(font_.Charset); }

  // Composite text: four upper-case hex digits of the glyph per character shown; the
  // characters are recorded as drawn. Characters without a glyph are left out and counted.
  std::string EncodeTextForFont(std::u32string_view text, int32_t* dropped = nullptr);
  // The glyph of a character; none when the face has none (or no character map was read).
  std::optional<uint16_t> GlyphOf(char32_t character) const;
  // Records characters drawn with a simple font (their glyphs go into a subset).
  void RecordDrawn(std::u32string_view text);
  // The width of text at size points, as the face's advances give it (no kerning).
  double MeasuredWidth(std::u32string_view text, double size) const;
  // Advance of a character in 1/1000 em; none without a glyph.
  std::optional<int32_t> CharacterWidth(char32_t character) const;
  // Widths of codes 32-255 of a simple font in encoding (an index of kFontEncodingNames).
  std::array<int32_t, 224> WidthsFor(int32_t encoding) const;

  // The whole program (empty when it cannot be read), and a subset holding every glyph
  // recorded so far (UsedGlyphs, in that order in NewGlyphs) with the character map of the
  // characters recorded; keepGlyphNumbers leaves the glyphs at their numbers. None when a
  // subset cannot be made or is not smaller.
  const std::string& Program() const { return *program_; }
  std::optional<ksplatform::FontSubset> BuildSubsetFont(bool keepGlyphNumbers) const;
  // The program has CFF outlines (an OpenType font of PostScript outlines): it embeds as
  // such, while the font stays a Type 1 stand-in when it is not embedded.
  bool CffOutlines() const { return cff_; }
  // Its CFF font is CID-keyed: glyph numbers are no CIDs of it.
  bool CidKeyedOutlines() const { return cidKeyed_; }

  std::string BaseFontName;             // the standard name for a Type 1 substitute
  std::vector<uint16_t> GlyphIDs;       // parallel to CodePoints, in character order
  std::vector<char32_t> CodePoints;
  std::vector<int32_t> GlyphWidths;     // by glyph number, 1/1000 em
  bool GlyphMode;
  std::set<char32_t> UsedCodePoints;
  std::set<uint16_t> UsedGlyphs;  // the glyphs drawn (of the characters recorded)

 private:
  void MeasureFont(bool charsetCheck);
  void ChooseBaseFontName();
  void ReadCMap();
  void ReadGlyphWidths();

  TksFont font_;
  TksPDFFontInfo info_;
  ksplatform::FontFace face_;
  // Shared by the fonts of a document made from one face (see TksFontSource).
  std::shared_ptr<const struct TksFontSource> source_;
  std::shared_ptr<ksplatform::FontFile> file_;
  std::shared_ptr<const std::string> program_;
  bool cff_ = false, cidKeyed_ = false;
  std::unordered_map<char32_t, uint16_t> glyphOf_;
};

// What every font of a document made from one request (face, weight, italic, character
// set, pitch) shares, found and read once: the face, the opened file, and the program as
// checked with its character map and glyph widths. Formatted text makes a font per run,
// and each used to find, open, read and parse the face again.
struct TksFontSource {
  ksplatform::FontFace Face;
  std::shared_ptr<ksplatform::FontFile> File;
  bool ProgramRead = false;  // the fields below are known
  std::shared_ptr<const std::string> Program = std::make_shared<const std::string>();  // empty: none usable
  bool TrueType = false, Cff = false, CidKeyed = false;
  std::string Damage;  // why a TrueType program that was read cannot be embedded
  std::map<char32_t, uint16_t> CharacterMap;
  std::vector<int32_t> GlyphWidths;
};

// ---- text in the simple-font encodings ----

// The character of code in encoding (0: the code has none).
char32_t FontEncodingCharacter(int32_t encoding, uint8_t code);
// The code of character in encoding; none when the encoding cannot show it.
std::optional<uint8_t> FontEncodingCode(int32_t encoding, char32_t character);

// The plain character drawn for character when a font or an encoding lacks it: the space
// for no-break and typographic spaces, the hyphen for the no-break hyphen; none for any
// other character.
std::optional<char32_t> PlainEquivalent(char32_t character);
// The character set text is drawn with: 0 (Western) when Windows-1252 holds all of it
// (line feeds and characters with a plain equivalent count as held), else the set of the
// first character beyond it, for which a composite font draws the text.
uint8_t CharsetForText(std::u32string_view text);

// ---- text conversions ----

// UTF-16 to characters: a surrogate pair is one character; a lone surrogate is kept as it
// stands (no font has a glyph for it).
std::u32string ToCharacters(std::u16string_view text);

// ---- what composite fonts are written with ----

// A ToUnicode CMap for pairs of glyph and character (the first character per glyph wins).
std::string ToUnicodeCMap(const std::vector<std::pair<uint16_t, char32_t>>& pairs);
