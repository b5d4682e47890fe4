#include "ksFonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H
#include FT_SFNT_NAMES_H
#include FT_ADVANCES_H
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace ksplatform {

namespace {

// fontconfig keeps its configuration process-wide; FreeType's library handle is shared
// and its calls on one handle are serialised here.
std::mutex& FontLock() {
  static std::mutex lock;
  return lock;
}

FT_Library Library() {
  static FT_Library library = [] {
    FT_Library l = nullptr;
    if (FT_Init_FreeType(&l) != 0) throw std::runtime_error("The font library cannot be started");
    return l;
  }();
  return library;
}

// The language fontconfig should cover for a character set; empty for the sets that
// need nothing beyond Latin.
const char* LanguageOfCharset(uint8_t charset) {
  switch (charset) {
    case 204: return "ru";
    case 161: return "el";
    case 238: return "cs";
    case 162: return "tr";
    case 177: return "he";
    case 178: return "ar";
    case 186: return "lt";
    case 163: return "vi";
    case 222: return "th";
    case 128: return "ja";
    case 134: return "zh-cn";
    case 136: return "zh-tw";
    case 129: return "ko";
    default: return "";
  }
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The family names fontconfig's configuration maps to metric-compatible faces: asking for
// them and getting their stand-in is no substitution.
bool IsMetricAlias(const std::string& asked, const std::string& found) {
  static const std::pair<const char*, const char*> kAliases[] = {
      {"arial", "liberation sans"},      {"helvetica", "liberation sans"},
      {"times new roman", "liberation serif"}, {"times", "liberation serif"},
      {"courier new", "liberation mono"}, {"courier", "liberation mono"},
  };
  const std::string a = Lower(asked), f = Lower(found);
  for (const auto& [from, to] : kAliases)
    if (a == from && f == to) return true;
  return false;
}

std::string PatternString(FcPattern* pattern, const char* object) {
  FcChar8* value = nullptr;
  if (FcPatternGetString(pattern, object, 0, &value) != FcResultMatch || !value) return {};
  return reinterpret_cast<const char*>(value);
}

// The English family name of a matched face: fontconfig lists a family per language; the
// entry whose FC_FAMILYLANG is "en" wins, else the first.
std::string EnglishFamily(FcPattern* pattern) {
  std::string first;
  for (int i = 0;; ++i) {
    FcChar8* family = nullptr;
    if (FcPatternGetString(pattern, FC_FAMILY, i, &family) != FcResultMatch) break;
    if (i == 0) first = reinterpret_cast<const char*>(family);
    FcChar8* lang = nullptr;
    if (FcPatternGetString(pattern, FC_FAMILYLANG, i, &lang) == FcResultMatch &&
        std::strcmp(reinterpret_cast<const char*>(lang), "en") == 0)
      return reinterpret_cast<const char*>(family);
  }
  return first;
}

bool HasTrueTypeOutlines(FcPattern* pattern) {
  // "TrueType" is also what fontconfig says of OpenType files with glyf outlines; CFF
  // outlines say "CFF".
  return PatternString(pattern, FC_FONTFORMAT) == "TrueType";
}

bool CoversLanguage(FcPattern* pattern, const char* language) {
  if (!*language) return true;
  FcLangSet* langs = nullptr;
  if (FcPatternGetLangSet(pattern, FC_LANG, 0, &langs) != FcResultMatch || !langs) return false;
  return FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>(language)) != FcLangDifferentLang;
}

uint16_t Get16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) << 8 | static_cast<uint8_t>(b[at + 1]));
}
uint32_t Get32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(Get16(b, at)) << 16 | Get16(b, at + 2);
}
void Put16(std::string& b, uint16_t v) {
  b.push_back(static_cast<char>(v >> 8));
  b.push_back(static_cast<char>(v & 0xFF));
}
void Put32(std::string& b, uint32_t v) {
  Put16(b, static_cast<uint16_t>(v >> 16));
  Put16(b, static_cast<uint16_t>(v & 0xFFFF));
}

std::string ReadWholeFile(const std::string& path) {
  // In one read of the size the file has: programs of large faces run to megabytes.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  const std::streamoff size = in.tellg();
  if (size < 0) return {};
  std::string bytes(static_cast<size_t>(size), '\0');
  in.seekg(0);
  if (!in.read(bytes.data(), size)) return {};
  return bytes;
}

const char* IconvName(int32_t codePage) {
  switch (codePage) {
    case 10000: return "MACINTOSH";
    case 437: return "CP437";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    default: return nullptr;
  }
}

std::string CodePageName(int32_t codePage) {
  if (const char* name = IconvName(codePage)) return name;
  return "WINDOWS-" + std::to_string(codePage);
}

// The advance in font units; the caller holds the font lock.
std::optional<int32_t> AdvanceOf(FT_Face face, char32_t character) {
  const FT_UInt glyph = FT_Get_Char_Index(face, character);
  if (glyph == 0) return std::nullopt;
  FT_Fixed advance = 0;
  if (FT_Get_Advance(face, glyph, FT_LOAD_NO_SCALE, &advance) != 0) return std::nullopt;
  return static_cast<int32_t>(advance);
}

}  // namespace

FontFace FindFontFace(const FontRequest& request) {
  std::lock_guard<std::mutex> guard(FontLock());
  static const bool configured = [] {
    if (!FcInit()) return false;
    // The configuration is released at exit, so leak checkers see only our own memory.
    std::atexit([] { FcFini(); });
    return true;
  }();
  if (!configured) throw std::runtime_error("The font configuration cannot be read");
  FcPattern* pattern = FcPatternCreate();
  if (!request.Face.empty())
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(request.Face.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(std::clamp(request.Weight, 1, 1000)));
  FcPatternAddInteger(pattern, FC_SLANT, request.Italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  if (request.Pitch == 1) FcPatternAddInteger(pattern, FC_SPACING, FC_MONO);
  const char* language = LanguageOfCharset(request.Charset);
  if (*language) FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(language));
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);

  FcResult result = FcResultNoMatch;
  FcFontSet* sorted = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
  FcPattern* best = nullptr;
  if (sorted && sorted->nfont > 0) {
    best = sorted->fonts[0];
    // Among the faces of the family found first, one with TrueType outlines is taken over
    // one without: only those can be embedded.
    if (!HasTrueTypeOutlines(best)) {
      const std::string family = PatternString(best, FC_FAMILY);
      for (int i = 1; i < sorted->nfont; ++i)
        if (PatternString(sorted->fonts[i], FC_FAMILY) == family && HasTrueTypeOutlines(sorted->fonts[i])) {
          best = sorted->fonts[i];
          break;
        }
    }
  }
  FontFace face;
  if (best) {
    FcPattern* rendered = FcFontRenderPrepare(nullptr, pattern, best);
    face.File = PatternString(rendered, FC_FILE);
    int index = 0;
    FcPatternGetInteger(rendered, FC_INDEX, 0, &index);
    face.Index = index & 0xFFFF;  // the upper bits name a variation instance
    face.Family = EnglishFamily(best);
    face.Style = PatternString(best, FC_STYLE);
    face.TrueTypeOutlines = HasTrueTypeOutlines(best);
    face.CoversCharset = CoversLanguage(best, language);
    FcPatternDestroy(rendered);
  }
  if (sorted) FcFontSetDestroy(sorted);
  FcPatternDestroy(pattern);
  if (face.File.empty()) throw std::runtime_error("No font is installed");
  face.Substituted = !request.Face.empty() && Lower(request.Face) != Lower(face.Family) &&
                     !IsMetricAlias(request.Face, face.Family);
  return face;
}

struct FontFile::Impl {
  FT_Face face = nullptr;
  FontFace source;
};

FontFile::FontFile(const FontFace& face) : impl_(std::make_unique<Impl>()) {
  impl_->source = face;
  std::lock_guard<std::mutex> guard(FontLock());
  if (FT_New_Face(Library(), face.File.c_str(), face.Index, &impl_->face) != 0)
    throw std::runtime_error("Cannot open font file \"" + face.File + "\"");
  FT_Face f = impl_->face;
  FontMetrics& m = metrics_;
  m.UnitsPerEm = f->units_per_EM > 0 ? f->units_per_EM : 1000;
  m.FixedPitch = FT_IS_FIXED_WIDTH(f);
  m.Ascent = f->ascender;
  m.Descent = std::abs(f->descender);
  m.MaxWidth = f->max_advance_width;
  m.UnderlinePosition = f->underline_position;
  m.UnderlineThickness = f->underline_thickness;
  m.CapHeight = m.Ascent;
  m.StrikeoutSize = m.UnderlineThickness;
  m.StrikeoutPosition = m.Ascent / 4;
  uint8_t familyByte = 0, panoseFamily = 0, panoseSerif = 0;
  if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2)); os2 && os2->version != 0xFFFF) {
    if (os2->usWinAscent || os2->usWinDescent) {
      m.Ascent = os2->usWinAscent;
      m.Descent = os2->usWinDescent;
    }
    m.AvgWidth = os2->xAvgCharWidth;
    m.Weight = os2->usWeightClass;
    m.StrikeoutSize = os2->yStrikeoutSize;
    m.StrikeoutPosition = os2->yStrikeoutPosition;
    if (os2->version >= 2 && os2->sCapHeight > 0) m.CapHeight = os2->sCapHeight;
    familyByte = static_cast<uint8_t>(static_cast<uint16_t>(os2->sFamilyClass) >> 8);
    panoseFamily = os2->panose[0];
    panoseSerif = os2->panose[1];
  }
  if (auto* post = static_cast<TT_Postscript*>(FT_Get_Sfnt_Table(f, FT_SFNT_POST))) {
    m.ItalicAngle = static_cast<double>(post->italicAngle) / 65536.0;
    if (post->isFixedPitch) m.FixedPitch = true;
  }
  if (m.AvgWidth <= 0) {
    // No OS/2 table: the advance of "x" is what the desktop would report.
    m.AvgWidth = AdvanceOf(f, U'x').value_or(m.MaxWidth / 2);
  }
  // The desktop's family classes: a fixed-pitch face is Modern; otherwise the IBM class
  // of the OS/2 table, else the PANOSE family and serif style decide.
  using C = FontFamilyClass;
  if (m.FixedPitch) {
    m.Family = C::Modern;
  } else if (familyByte >= 1 && familyByte <= 7) {
    m.Family = C::Roman;
  } else if (familyByte == 8) {
    m.Family = C::Swiss;
  } else if (familyByte == 9 || familyByte == 12) {
    m.Family = C::Decorative;
  } else if (familyByte == 10) {
    m.Family = C::Script;
  } else if (panoseFamily == 3) {
    m.Family = C::Script;
  } else if (panoseFamily == 4 || panoseFamily == 5) {
    m.Family = C::Decorative;
  } else if (panoseFamily == 2) {
    m.Family = panoseSerif >= 11 && panoseSerif <= 13 ? C::Swiss : C::Roman;
  } else {
    // Many faces with CFF outlines carry neither; their family name is the only hint.
    const std::string family = Lower(face.Family);
    const auto has = [&](const char* word) { return family.find(word) != std::string::npos; };
    if (has("mono") || has("courier"))
      m.Family = C::Modern;
    else if (has("sans"))
      m.Family = C::Swiss;
    else if (has("serif") || has("roman") || has("times"))
      m.Family = C::Roman;
  }
}

FontFile::~FontFile() {
  std::lock_guard<std::mutex> guard(FontLock());
  if (impl_->face) FT_Done_Face(impl_->face);
}

uint32_t FontFile::GlyphIndex(char32_t character) const {
  std::lock_guard<std::mutex> guard(FontLock());
  return FT_Get_Char_Index(impl_->face, character);
}

std::optional<int32_t> FontFile::Advance(char32_t character) const {
  std::lock_guard<std::mutex> guard(FontLock());
  return AdvanceOf(impl_->face, character);
}

std::string FontFile::Program() const {
  std::string bytes = ReadWholeFile(impl_->source.File);
  if (bytes.size() >= 4 && bytes.compare(0, 4, "ttcf") == 0) {
    try {
      return ExtractCollectionFace(bytes, impl_->source.Index);
    } catch (const std::runtime_error&) {
      return {};
    }
  }
  return bytes;
}

std::string ExtractCollectionFace(std::string_view c, int32_t index) {
  if (c.size() < 12 || c.substr(0, 4) != "ttcf") return std::string(c);
  const auto fail = [] { throw std::runtime_error("Damaged font collection"); };
  const uint32_t faces = Get32(c, 8);
  if (index < 0 || static_cast<uint32_t>(index) >= faces || 12 + 4ull * faces > c.size()) fail();
  const uint32_t at = Get32(c, 12 + 4 * static_cast<size_t>(index));
  if (at > c.size() || c.size() - at < 12) fail();
  const uint16_t tables = Get16(c, at + 4);
  if (tables == 0 || c.size() - at - 12 < 16ull * tables) fail();

  struct Record {
    uint32_t tag, checksum, offset, length;
  };
  std::vector<Record> records;
  for (uint16_t i = 0; i < tables; ++i) {
    const size_t r = at + 12 + 16 * static_cast<size_t>(i);
    Record rec{Get32(c, r), Get32(c, r + 4), Get32(c, r + 8), Get32(c, r + 12)};
    if (rec.offset > c.size() || rec.length > c.size() - rec.offset) fail();
    records.push_back(rec);
  }
  // The directory's search fields follow from the table count.
  uint16_t power = 1, selector = 0;
  while (power * 2u <= tables) {
    power = static_cast<uint16_t>(power * 2);
    ++selector;
  }
  std::string out;
  Put32(out, Get32(c, at));  // the face's own version (TrueType or OpenType)
  Put16(out, tables);
  Put16(out, static_cast<uint16_t>(power * 16));
  Put16(out, selector);
  Put16(out, static_cast<uint16_t>(tables * 16 - power * 16));
  uint64_t next = 12 + 16ull * tables;
  for (const Record& rec : records) {
    Put32(out, rec.tag);
    Put32(out, rec.checksum);
    Put32(out, static_cast<uint32_t>(next));
    Put32(out, rec.length);
    next += (rec.length + 3ull) & ~3ull;
  }
  for (const Record& rec : records) {
    out.append(c.substr(rec.offset, rec.length));
    out.append((4 - rec.length % 4) % 4, '\0');
  }
  return out;
}

int32_t CodePageOfCharset(uint8_t charset) {
  switch (charset) {
    case 204: return 1251;
    case 238: return 1250;
    case 161: return 1253;
    case 162: return 1254;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 163: return 1258;
    case 222: return 874;
    case 128: return 932;
    case 134: return 936;
    case 129: return 949;
    case 136: return 950;
    case 77: return 10000;
    case 255: return 437;
    default: return 1252;
  }
}

std::u16string DecodeCodePage(int32_t codePage, std::string_view bytes) {
  std::u16string out;
  iconv_t cd = iconv_open("UTF-16LE", CodePageName(codePage).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("Code page " + std::to_string(codePage) + " is not known");
  char* src = const_cast<char*>(bytes.data());
  size_t left = bytes.size();
  char16_t buf[1024];
  while (left > 0) {
    char* dst = reinterpret_cast<char*>(buf);
    size_t room = sizeof buf;
    const size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, (sizeof buf - room) / 2);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      out.push_back(u'\uFFFD');  // a byte the code page does not define
      ++src;
      --left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  // Code pages with combining marks hold the last character back until the end.
  char* dst = reinterpret_cast<char*>(buf);
  size_t room = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &room);
  out.append(buf, (sizeof buf - room) / 2);
  iconv_close(cd);
  return out;
}

std::optional<std::string> EncodeCodePage(int32_t codePage, std::u16string_view text) {
  iconv_t cd = iconv_open(CodePageName(codePage).c_str(), "UTF-16LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("Code page " + std::to_string(codePage) + " is not known");
  std::string out;
  char* src = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
  size_t left = text.size() * 2;
  char buf[1024];
  bool ok = true;
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    const size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, sizeof buf - room);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  if (ok) {
    char* dst = buf;
    size_t room = sizeof buf;
    iconv(cd, nullptr, nullptr, &dst, &room);
    out.append(buf, sizeof buf - room);
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace ksplatform
