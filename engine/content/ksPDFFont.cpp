// Fonts for drawn text: measuring a face, its base font name, its character map and
// glyph widths, composite text, subsets, and the texts composite fonts are written with.
#include "content/ksPDFFont.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>

#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"
#include "content/ksFontRegistry.h"
#include "content/ksPageEditor.h"
#include "content/ksTrueType.h"

namespace {

// StandardEncoding beyond ASCII, and the two ASCII codes it gives curly quotes.
constexpr std::pair<uint8_t, char32_t> kStandardEncoding[] = {
    {0x27, 0x2019}, {0x60, 0x2018}, {0xA1, 0x00A1}, {0xA2, 0x00A2}, {0xA3, 0x00A3}, {0xA4, 0x2044},
    {0xA5, 0x00A5}, {0xA6, 0x0192}, {0xA7, 0x00A7}, {0xA8, 0x00A4}, {0xA9, 0x0027}, {0xAA, 0x201C},
    {0xAB, 0x00AB}, {0xAC, 0x2039}, {0xAD, 0x203A}, {0xAE, 0xFB01}, {0xAF, 0xFB02}, {0xB1, 0x2013},
    {0xB2, 0x2020}, {0xB3, 0x2021}, {0xB4, 0x00B7}, {0xB6, 0x00B6}, {0xB7, 0x2022}, {0xB8, 0x201A},
    {0xB9, 0x201E}, {0xBA, 0x201D}, {0xBB, 0x00BB}, {0xBC, 0x2026}, {0xBD, 0x2030}, {0xBF, 0x00BF},
    {0xC1, 0x0060}, {0xC2, 0x00B4}, {0xC3, 0x02C6}, {0xC4, 0x02DC}, {0xC5, 0x00AF}, {0xC6, 0x02D8},
    {0xC7, 0x02D9}, {0xC8, 0x00A8}, {0xCA, 0x02DA}, {0xCB, 0x00B8}, {0xCD, 0x02DD}, {0xCE, 0x02DB},
    {0xCF, 0x02C7}, {0xD0, 0x2014}, {0xE1, 0x00C6}, {0xE3, 0x00AA}, {0xE8, 0x0141}, {0xE9, 0x00D8},
    {0xEA, 0x0152}, {0xEB, 0x00BA}, {0xF1, 0x00E6}, {0xF5, 0x0131}, {0xF8, 0x0142}, {0xF9, 0x00F8},
    {0xFA, 0x0153}, {0xFB, 0x00DF}};

// One table per encoding, code -> character (0: none), built once.
struct TksEncodingTable {
  std::array<char32_t, 256> Characters{};
  std::unordered_map<char32_t, uint8_t> Codes;
};

TksEncodingTable BuildTable(int32_t encoding) {
  TksEncodingTable table;
  if (encoding == 0 || encoding == 1) {
    // The code pages through the desktop's conversions; bytes they leave undefined stay 0.
    const int32_t codePage = encoding == 0 ? 1252 : 10000;
    for (int code = 32; code < 256; ++code) {
      const std::string byte(1, static_cast<char>(code));
      const std::u16string text = ksplatform::DecodeCodePage(codePage, byte);
      if (text.size() == 1 && text[0] != u'\uFFFD') table.Characters[code] = text[0];
    }
  } else if (encoding == 3) {
    for (int code = 32; code < 127; ++code) table.Characters[code] = static_cast<char32_t>(code);
    for (const auto& [code, character] : kStandardEncoding) table.Characters[code] = character;
  }
  // MacExpert (small capitals, fractions) and PDFDoc (no font encoding) show no text.
  for (int code = 255; code >= 32; --code)
    if (table.Characters[code] != 0) table.Codes[table.Characters[code]] = static_cast<uint8_t>(code);
  return table;
}

const TksEncodingTable& EncodingTable(int32_t encoding) {
  static std::once_flag once;
  static std::array<TksEncodingTable, kFontEncodingCount> tables;
  std::call_once(once, [] {
    for (int32_t i = 0; i < kFontEncodingCount; ++i) tables[i] = BuildTable(i);
  });
  return tables[std::clamp(encoding, 0, kFontEncodingCount - 1)];
}

std::string Hex4(uint32_t value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", value & 0xFFFF);
  return buf;
}

// A character as UTF-16BE hex digits (a surrogate pair beyond the Basic Multilingual Plane).
std::string Utf16Hex(char32_t c) {
  if (c < 0x10000) return Hex4(c);
  const char32_t v = c - 0x10000;
  return Hex4(0xD800 + (v >> 10)) + Hex4(0xDC00 + (v & 0x3FF));
}

constexpr const char* kStandardNames[] = {
    "Times-Roman", "Times-Bold",        "Times-Italic",    "Times-BoldItalic",   "Helvetica",
    "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique", "Courier", "Courier-Bold",
    "Courier-Oblique", "Courier-BoldOblique", "Symbol", "ZapfDingbats"};

std::string WithoutSpaces(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ') out += c;
  return out;
}

// The source of request: the document's, found once per request; a font without a
// document finds its own.
std::shared_ptr<TksFontSource> FontSource(TksCustomPDFDocument* owner, const ksplatform::FontRequest& request) {
  const auto load = [&] {
    auto source = std::make_shared<TksFontSource>();
    source->Face = ksplatform::FindFontFace(request);
    source->File = std::make_shared<ksplatform::FontFile>(source->Face);
    return source;
  };
  if (!owner) return load();
  std::string key = request.Face;
  for (int32_t v : {request.Weight, static_cast<int32_t>(request.Italic), static_cast<int32_t>(request.Charset),
                    static_cast<int32_t>(request.Pitch)})
    key += '\0' + std::to_string(v);
  std::shared_ptr<TksFontSource>& slot = TksFontRegistry::Of(*owner).Sources[key];
  if (!slot) slot = load();
  return slot;
}

// Reads the program once and checks it, so a damaged program is found before the font is
// called embeddable. Faces without TrueType outlines are OpenType fonts of CFF outlines,
// or programs we cannot embed (Type 1 files, bitmaps): only the first are kept.
void ReadProgram(TksFontSource& source) {
  if (source.ProgramRead) return;
  source.ProgramRead = true;
  std::string program = source.File->Program();
  if (program.empty()) return;
  try {
    TksTrueTypeProgram check(program);
    if (!source.Face.TrueTypeOutlines && !(check.HasTable("CFF ") && check.HasTable("cmap"))) return;
    source.CharacterMap = check.CharacterMap();
    source.GlyphWidths = check.GlyphWidths();
    if (source.Face.TrueTypeOutlines) {
      source.TrueType = true;
    } else {
      source.Cff = true;
      source.CidKeyed = check.CidKeyedOutlines();
    }
    source.Program = std::make_shared<const std::string>(std::move(program));
  } catch (const EFontProgramError& e) {
    if (source.Face.TrueTypeOutlines) source.Damage = e.what();
    source.TrueType = source.Cff = source.CidKeyed = false;
  }
}

}  // namespace

char32_t FontEncodingCharacter(int32_t encoding, uint8_t code) { return EncodingTable(encoding).Characters[code]; }

std::optional<uint8_t> FontEncodingCode(int32_t encoding, char32_t character) {
  const auto& codes = EncodingTable(encoding).Codes;
  auto it = codes.find(character);
  if (it == codes.end()) return std::nullopt;
  return it->second;
}

std::optional<char32_t> PlainEquivalent(char32_t c) {
  // No-break, typographic (en quad to hair), narrow no-break, medium mathematical and
  // ideographic spaces.
  if (c == 0x00A0 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F || c == 0x3000) return U' ';
  if (c == 0x2011) return U'-';
  return std::nullopt;
}

uint8_t CharsetForText(std::u32string_view text) {
  for (char32_t c : text) {
    if (c == U'\n' || FontEncodingCode(0, c) || PlainEquivalent(c)) continue;
    if (c >= 0x400 && c < 0x530) return 204;
    if (c >= 0x370 && c < 0x400) return 161;
    if (c >= 0x590 && c < 0x600) return 177;
    if (c >= 0x600 && c < 0x700) return 178;
    if (c >= 0xE00 && c < 0xE80) return 222;
    if (c >= 0x3040 && c < 0x3100) return 128;
    if ((c >= 0xAC00 && c < 0xD7B0) || (c >= 0x1100 && c < 0x1200)) return 129;
    if (c >= 0x2E80 && c < 0xA000) return 134;
    return 238;
  }
  return 0;
}

std::u32string ToCharacters(std::u16string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      out += static_cast<char32_t>(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

TksPDFFontInfo::TksPDFFontInfo(const TksFont& font, TksCustomPDFDocument* owner)
    : UnderlinePosition(font.Size / 20),
      UnderlineThickness(std::abs(font.Height()) / 5),
      StrikeoutPosition(font.Size / 10),
      StrikeoutThickness(-1),
      Owner(owner) {
  Widths.fill(600);
}

TksPDFFont::TksPDFFont(const TksFont& font, bool charsetCheck, bool glyphMode, TksCustomPDFDocument* owner)
    : GlyphMode(glyphMode), font_(font), info_(font, owner) {
  MeasureFont(charsetCheck);
  ChooseBaseFontName();
  if ((info_.FontKind == ftkTrueType || cff_) && (!IsWestern() || GlyphMode)) {
    ReadCMap();
    ReadGlyphWidths();
  }
}

TksPDFFont::~TksPDFFont() = default;

std::string TksPDFFont::BaseFontText(const TksFont& font) {
  std::string text = WithoutSpaces(font.Name);
  if (font.Bold || font.Italic) text += ',';
  if (font.Bold) text += "Bold";
  if (font.Italic) text += "Italic";
  return text;
}

void TksPDFFont::MeasureFont(bool charsetCheck) {
  ksplatform::FontRequest request;
  request.Face = font_.Name;
  request.Weight = font_.Weight();
  request.Italic = font_.Italic;
  request.Charset = font_.Charset;
  request.Pitch = font_.Pitch;
  std::shared_ptr<TksFontSource> source = FontSource(info_.Owner, request);
  source_ = source;
  face_ = source->Face;
  if (face_.Substituted && info_.Owner)
    TksPageEditor(*info_.Owner).Warning(ksFormat(ksres::SFontSubstituted, font_.Name.c_str(), face_.Family.c_str()));
  file_ = source->File;
  program_ = std::make_shared<const std::string>();
  const ksplatform::FontMetrics& m = file_->Metrics();
  const double perEm = m.UnitsPerEm;

  if (!charsetCheck || face_.CoversCharset) {
    ReadProgram(*source);
    program_ = source->Program;
    if (source->TrueType) info_.FontKind = ftkTrueType;
    cff_ = source->Cff;
    cidKeyed_ = source->CidKeyed;
    if (!source->Damage.empty() && info_.Owner)
      TksPageEditor(*info_.Owner).Warning(ksFormat(ksres::SFontNotEmbeddable, font_.Name.c_str(), source->Damage.c_str()));
  }
  info_.FixedPitch = m.FixedPitch;

  for (int code = 32; code < 256; ++code) {
    const char32_t c = FontEncodingCharacter(0, static_cast<uint8_t>(code));
    info_.Widths[code - 32] = c ? CharacterWidth(c).value_or(0) : 0;
  }
  if (info_.FixedPitch && !GlyphMode) info_.MaxWidth = CharacterWidth(U' ').value_or(info_.MaxWidth);

  const int32_t family = static_cast<int32_t>(m.Family);
  int32_t flags = 33;
  if (family & 0x10) flags += 2;
  if (family & 0x40) flags += 8;
  if (!info_.FixedPitch) flags -= 1;
  if (font_.Charset == 2) flags -= 28;
  if (font_.Italic) flags += 64;
  info_.DescriptorFlags = flags;

  info_.Ascent = m.Ascent * 1000.0 / perEm;
  info_.Descent = -std::abs(m.Descent * 1000.0 / perEm);
  info_.CapHeight = info_.Ascent;
  // The widths pass through whole screen pixels at 1000 points, as measured on a screen.
  const auto pixelPoints = [&](int32_t units) {
    const int32_t pixels = static_cast<int32_t>(std::lround(units * 1000.0 * ksplatform::kScreenPixelsPerInch / 72.0 / perEm));
    return pixels / ksplatform::kScreenPixelsPerInch * 72;
  };
  info_.AvgWidth = pixelPoints(m.AvgWidth);
  if (!(info_.FixedPitch && !GlyphMode)) info_.MaxWidth = pixelPoints(m.MaxWidth);
  info_.FontBBox = {-250, static_cast<int32_t>(std::lround(info_.Ascent)), info_.MaxWidth,
                    static_cast<int32_t>(std::lround(info_.Descent))};

  if (info_.FontKind == ftkTrueType) {
    info_.ItalicAngle = static_cast<int32_t>(std::lround(m.ItalicAngle));
    info_.StemV = 78;
  }
  // Any face the services open has its decoration metrics; they beat the guesses.
  if (m.UnderlineThickness > 0) {
    info_.UnderlinePosition = m.UnderlinePosition * font_.Size / perEm;
    info_.UnderlineThickness = m.UnderlineThickness * font_.Size / perEm;
  }
  if (m.StrikeoutSize > 0) {
    info_.StrikeoutPosition = m.StrikeoutPosition * font_.Size / perEm;
    info_.StrikeoutThickness = m.StrikeoutSize * font_.Size / perEm;
  }
}

void TksPDFFont::ChooseBaseFontName() {
  if (info_.FontKind != ftkOther) {
    BaseFontName = WithoutSpaces(font_.Name);
    if (font_.Name != "Symbol") {
      if (font_.Bold || font_.Italic) BaseFontName += ',';
      if (font_.Bold) BaseFontName += "Bold";
      if (font_.Italic) BaseFontName += "Italic";
    }
    return;
  }
  for (const char* name : kStandardNames)
    if (font_.Name == name) {
      BaseFontName = name;
      return;
    }
  if (font_.Charset == 2) {
    BaseFontName = "ZapfDingbats";
    return;
  }
  if (!IsWestern()) {
    BaseFontName = "Symbol";
    return;
  }
  const auto family = file_ ? file_->Metrics().Family : ksplatform::FontFamilyClass::DontCare;
  int32_t row;
  if (family == ksplatform::FontFamilyClass::Swiss || family == ksplatform::FontFamilyClass::Modern)
    row = 7;
  else if (family == ksplatform::FontFamilyClass::Roman || family == ksplatform::FontFamilyClass::Decorative)
    row = 3;
  else if (info_.FixedPitch)
    row = 11;
  else {
    BaseFontName = font_.Name;
    return;
  }
  if (!font_.Italic) row -= 2;
  if (font_.Weight() < 700) row -= 1;
  BaseFontName = kStandardNames[row];
}

void TksPDFFont::ReadCMap() {
  // Read with the program when it was checked.
  const std::map<char32_t, uint16_t>& map = source_->CharacterMap;
  GlyphIDs.reserve(map.size());
  CodePoints.reserve(map.size());
  glyphOf_.reserve(map.size());
  for (const auto& [character, glyph] : map) {
    GlyphIDs.push_back(glyph);
    CodePoints.push_back(character);
    glyphOf_.emplace(character, glyph);
  }
}

void TksPDFFont::ReadGlyphWidths() {
  GlyphWidths = source_->GlyphWidths;
}

std::optional<uint16_t> TksPDFFont::GlyphOf(char32_t character) const {
  auto it = glyphOf_.find(character);
  if (it == glyphOf_.end()) return std::nullopt;
  return it->second;
}

std::string TksPDFFont::EncodeTextForFont(std::u32string_view text, int32_t* dropped) {
  std::string out;
  out.reserve(text.size() * 4);
  for (char32_t c : text) {
    if (auto glyph = GlyphOf(c)) {
      UsedCodePoints.insert(c);
      UsedGlyphs.insert(*glyph);
      out += Hex4(*glyph);
    } else if (dropped) {
      ++*dropped;
    }
  }
  return out;
}

void TksPDFFont::RecordDrawn(std::u32string_view text) {
  if (program_->empty()) return;
  for (char32_t c : text)
    if (auto glyph = GlyphOf(c)) {
      UsedCodePoints.insert(c);
      UsedGlyphs.insert(*glyph);
    }
}

std::optional<int32_t> TksPDFFont::CharacterWidth(char32_t character) const {
  if (!file_) return std::nullopt;
  std::optional<int32_t> advance = file_->Advance(character);
  // Symbol faces map their characters into the private-use page.
  if (!advance && font_.Charset == 2 && character < 0x100) advance = file_->Advance(0xF000 + character);
  if (!advance) return std::nullopt;
  return static_cast<int32_t>(std::lround(*advance * 1000.0 / file_->Metrics().UnitsPerEm));
}

double TksPDFFont::MeasuredWidth(std::u32string_view text, double size) const {
  if (!file_) return 0;
  int64_t units = 0;
  for (char32_t c : text) {
    std::optional<int32_t> advance = file_->Advance(c);
    if (!advance && font_.Charset == 2 && c < 0x100) advance = file_->Advance(0xF000 + c);
    units += advance.value_or(0);
  }
  return static_cast<double>(units) * size / file_->Metrics().UnitsPerEm;
}

std::array<int32_t, 224> TksPDFFont::WidthsFor(int32_t encoding) const {
  if (encoding == 0) return info_.Widths;
  std::array<int32_t, 224> widths{};
  for (int code = 32; code < 256; ++code) {
    const char32_t c = FontEncodingCharacter(encoding, static_cast<uint8_t>(code));
    widths[code - 32] = c ? CharacterWidth(c).value_or(0) : 0;
  }
  return widths;
}

std::optional<ksplatform::FontSubset> TksPDFFont::BuildSubsetFont(bool keepGlyphNumbers) const {
  if (program_->empty()) return std::nullopt;
  const std::vector<char32_t> characters(UsedCodePoints.begin(), UsedCodePoints.end());
  const std::vector<uint32_t> glyphs(UsedGlyphs.begin(), UsedGlyphs.end());
  std::optional<ksplatform::FontSubset> subset =
      ksplatform::SubsetFontProgram(*program_, characters, glyphs, keepGlyphNumbers);
  if (!subset || subset->Program.size() >= program_->size()) return std::nullopt;
  return subset;
}

std::string ToUnicodeCMap(const std::vector<std::pair<uint16_t, char32_t>>& pairs) {
  std::map<uint16_t, char32_t> byGlyph;
  for (const auto& [glyph, character] : pairs) byGlyph.emplace(glyph, character);  // first wins
  std::string out =
      "/CIDInit /ProcSet findresource begin\r\n"
      "12 dict begin\r\n"
      "begincmap\r\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\r\n"
      "/CMapName /Adobe-Identity-UCS def\r\n"
      "/CMapType 2 def\r\n"
      "1 begincodespacerange\r\n"
      "<0000> <FFFF>\r\n"
      "endcodespacerange\r\n";
  auto it = byGlyph.begin();
  while (it != byGlyph.end()) {
    std::string block;
    int32_t count = 0;
    for (; it != byGlyph.end() && count < 100; ++it, ++count)
      block += "<" + Hex4(it->first) + "> <" + Utf16Hex(it->second) + ">\r\n";
    out += std::to_string(count) + " beginbfchar\r\n" + block + "endbfchar\r\n";
  }
  out +=
      "endcmap\r\n"
      "CMapName currentdict /CMap defineresource pop\r\n"
      "end\r\n"
      "end\r\n";
  return out;
}
