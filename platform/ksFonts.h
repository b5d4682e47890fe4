// The desktop's font services for the engine: finding an installed face for a font
// description, its metrics from its own tables, character advances, its whole font
// program, and the code page that belongs to a character set. The engine sees only
// these types; the font libraries stay inside.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ksplatform {

// Pixels per inch of the screen that lengths in pixels refer to. There is no screen on
// the command line, so the value is fixed.
inline constexpr int32_t kScreenPixelsPerInch = 96;

// A font as callers describe it: a family name, a weight (100-900, 400 regular, 700 bold),
// upright or italic, a character set (the desktop's numbers: 0 ANSI, 1 default, 2 symbol,
// 204 Russian, 128 Japanese, ...) and a pitch (0 default, 1 fixed, 2 variable).
struct FontRequest {
  std::string Face;
  int32_t Weight = 400;
  bool Italic = false;
  uint8_t Charset = 0;
  uint8_t Pitch = 0;
};

// The installed face chosen for a request.
struct FontFace {
  std::string File;   // the font file
  int32_t Index = 0;  // the face within it (a collection holds several)
  std::string Family; // the face's family name, in English where it has several
  std::string Style;
  // The family asked for is not installed and another one stands in for it. False for the
  // metric-compatible stand-ins of the common desktop faces (Arial, Times New Roman,
  // Courier New), which fontconfig's configuration names as their aliases.
  bool Substituted = false;
  // The face has TrueType outlines (a "glyf" table): its program can be embedded as a
  // TrueType font. Faces with CFF outlines or bitmaps cannot.
  bool TrueTypeOutlines = false;
  // The face covers the language of the requested character set (always true for the
  // ANSI, default and symbol sets).
  bool CoversCharset = true;
};

// Finds the installed face that best matches request, preferring TrueType outlines among
// faces of the family found. std::runtime_error when no face is installed at all.
FontFace FindFontFace(const FontRequest& request);

// A face's family as the desktop classifies faces: the values are the desktop's family
// bits (0x10 Roman, 0x20 Swiss, 0x30 Modern, 0x40 Script, 0x50 Decorative).
enum class FontFamilyClass : uint8_t {
  DontCare = 0x00,
  Roman = 0x10,
  Swiss = 0x20,
  Modern = 0x30,
  Script = 0x40,
  Decorative = 0x50,
};

// Metrics from the face's own tables, in font units (UnitsPerEm to the em).
struct FontMetrics {
  int32_t UnitsPerEm = 1000;
  int32_t Ascent = 0;   // above the baseline (OS/2 usWinAscent, else hhea)
  int32_t Descent = 0;  // below the baseline, positive (OS/2 usWinDescent, else hhea)
  int32_t CapHeight = 0;
  int32_t AvgWidth = 0;  // OS/2 xAvgCharWidth
  int32_t MaxWidth = 0;  // hhea advanceWidthMax
  bool FixedPitch = false;
  FontFamilyClass Family = FontFamilyClass::DontCare;
  int32_t Weight = 400;      // OS/2 usWeightClass
  double ItalicAngle = 0;    // degrees, counter-clockwise from vertical (negative leans right)
  int32_t UnderlinePosition = 0;  // of the line's top, negative below the baseline
  int32_t UnderlineThickness = 0;
  int32_t StrikeoutPosition = 0;
  int32_t StrikeoutSize = 0;
};

// An opened face. Not copyable; cheap to keep while a font is being built.
class FontFile {
 public:
  // std::runtime_error when the file cannot be opened as a font.
  explicit FontFile(const FontFace& face);
  ~FontFile();
  FontFile(const FontFile&) = delete;
  FontFile& operator=(const FontFile&) = delete;

  const FontMetrics& Metrics() const { return metrics_; }
  // The advance of the character's glyph in font units, without kerning; none when the
  // face has no glyph for it.
  std::optional<int32_t> Advance(char32_t character) const;
  // The glyph number of the character (0: none).
  uint32_t GlyphIndex(char32_t character) const;
  // The whole font program: the file's bytes, or for a face inside a collection that
  // face's own tables assembled into a single font. Empty when it cannot be read.
  std::string Program() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  FontMetrics metrics_;
};

// The single font of face index inside collection (a TrueType collection file's bytes),
// its tables copied after a new directory; the bytes unchanged when they are no collection.
// std::runtime_error when the collection's structure does not fit its size.
std::string ExtractCollectionFace(std::string_view collection, int32_t index);

// A subset of a font program: only the outlines of the glyphs asked for (with the
// components of composite glyphs), as a font that opens on its own.
struct FontSubset {
  std::string Program;
  // The new number of each glyph asked for, in the order asked (the numbers are kept when
  // the subset keeps glyph numbers).
  std::vector<uint32_t> NewGlyphs;
};
// A subset of program (a single font with TrueType or CFF outlines) holding glyphs and the
// glyphs of characters, whose character map keeps those characters. keepGlyphNumbers
// leaves every glyph at its number (the others empty), for text that names glyphs by
// number. Tables only layout needs are left out. None when the subsetter refuses the program.
std::optional<FontSubset> SubsetFontProgram(std::string_view program, const std::vector<char32_t>& characters,
                                            const std::vector<uint32_t>& glyphs, bool keepGlyphNumbers);

// The code page that belongs to a character set (1252 for the ANSI and default sets and
// any set the table does not list; 10000 for Mac Roman, 437 for OEM).
int32_t CodePageOfCharset(uint8_t charset);
// Bytes of a code page to UTF-16, and back; Encode gives none when a character has no
// byte in the code page.
std::u16string DecodeCodePage(int32_t codePage, std::string_view bytes);
std::optional<std::string> EncodeCodePage(int32_t codePage, std::u16string_view text);

}  // namespace ksplatform
