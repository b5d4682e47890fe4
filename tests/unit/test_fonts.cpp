// The desktop's font services on fontconfig and FreeType: which installed face answers a
// description, the metrics read from its tables, faces taken out of collections, code
// pages of character sets, and dates in the locale's formats.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "ksDates.h"
#include "ksFixture.h"
#include "ksFonts.h"
#include "ksPlatform.h"

using ksplatform::FontFace;
using ksplatform::FontFamilyClass;
using ksplatform::FontFile;
using ksplatform::FontRequest;

namespace {

struct FaceCase {
  FontRequest request;
  std::string family;
  bool substituted;
  bool trueType;
  bool coversCharset;
};

TEST(FindFontFace, ResolvesDescriptionsToInstalledFaces) {
  const FaceCase cases[] = {
      {{"Arial"}, "Liberation Sans", false, true, true},
      {{"Times New Roman"}, "Liberation Serif", false, true, true},
      {{"Courier New"}, "Liberation Mono", false, true, true},
      {{"DejaVu Sans Mono"}, "DejaVu Sans Mono", false, true, true},
      // Not installed: another face stands in, and the caller is told.
      {{"Verdana"}, "DejaVu Sans", true, true, true},
      // CFF outlines: found, but not a TrueType program.
      {{"Nimbus Sans"}, "Nimbus Sans", false, false, true},
      {{"Arial", 400, false, 204}, "Liberation Sans", false, true, true},
      {{"Arial", 400, false, 128}, "Liberation Sans", false, true, false},
      {{"Droid Sans Fallback", 400, false, 128}, "Droid Sans Fallback", false, true, true},
  };
  for (const FaceCase& c : cases) {
    SCOPED_TRACE(c.request.Face + " charset " + std::to_string(c.request.Charset));
    const FontFace face = ksplatform::FindFontFace(c.request);
    EXPECT_EQ(face.Family, c.family);
    EXPECT_EQ(face.Substituted, c.substituted);
    EXPECT_EQ(face.TrueTypeOutlines, c.trueType);
    EXPECT_EQ(face.CoversCharset, c.coversCharset);
    EXPECT_FALSE(face.File.empty());
  }
}

TEST(FindFontFace, WeightAndSlantChooseTheStyle) {
  EXPECT_EQ(ksplatform::FindFontFace({"Arial", 700, false}).Style, "Bold");
  EXPECT_EQ(ksplatform::FindFontFace({"Arial", 400, true}).Style, "Italic");
  EXPECT_EQ(ksplatform::FindFontFace({"Arial", 700, true}).Style, "Bold Italic");
}

TEST(FontFile, MetricsComeFromTheFacesTables) {
  FontFile sans(ksplatform::FindFontFace({"Arial"}));
  const auto& m = sans.Metrics();
  EXPECT_EQ(m.UnitsPerEm, 2048);
  EXPECT_EQ(m.Family, FontFamilyClass::Swiss);
  EXPECT_FALSE(m.FixedPitch);
  EXPECT_EQ(m.Ascent, 1854);  // usWinAscent, not the typographic ascender
  EXPECT_EQ(m.Descent, 434);
  EXPECT_EQ(m.Weight, 400);
  EXPECT_EQ(m.ItalicAngle, 0);
  EXPECT_GT(m.AvgWidth, 0);
  EXPECT_GT(m.MaxWidth, m.AvgWidth);
  EXPECT_LT(m.UnderlinePosition, 0);
  EXPECT_GT(m.StrikeoutPosition, 0);
  EXPECT_EQ(sans.Advance(U'A'), 1366);
  EXPECT_EQ(sans.Advance(U' '), 569);
  EXPECT_EQ(sans.Advance(U'\U0010FFFD'), std::nullopt);
  EXPECT_EQ(sans.GlyphIndex(U'\U0010FFFD'), 0u);
  EXPECT_NE(sans.GlyphIndex(U'A'), 0u);

  FontFile mono(ksplatform::FindFontFace({"Courier New"}));
  EXPECT_TRUE(mono.Metrics().FixedPitch);
  EXPECT_EQ(mono.Metrics().Family, FontFamilyClass::Modern);
  EXPECT_EQ(mono.Advance(U'i'), mono.Advance(U'W'));

  FontFile serif(ksplatform::FindFontFace({"Times New Roman", 400, true}));
  EXPECT_EQ(serif.Metrics().Family, FontFamilyClass::Roman);
  EXPECT_LT(serif.Metrics().ItalicAngle, 0);

  FontFile bold(ksplatform::FindFontFace({"Arial", 700}));
  EXPECT_EQ(bold.Metrics().Weight, 700);
}

TEST(FontFile, ProgramOfASingleFaceIsTheFile) {
  const FontFace face = ksplatform::FindFontFace({"Arial"});
  FontFile file(face);
  EXPECT_EQ(file.Program(), ksfixture::ReadFile(face.File));
}

// The tables of a single font: tag -> bytes.
std::map<std::string, std::string> Tables(const std::string& font) {
  auto u16 = [&](size_t at) { return static_cast<uint32_t>(static_cast<uint8_t>(font[at]) << 8 | static_cast<uint8_t>(font[at + 1])); };
  auto u32 = [&](size_t at) { return u16(at) << 16 | u16(at + 2); };
  std::map<std::string, std::string> tables;
  for (uint32_t i = 0; i < u16(4); ++i) {
    const size_t r = 12 + 16 * i;
    tables[font.substr(r, 4)] = font.substr(u32(r + 8), u32(r + 12));
  }
  return tables;
}

// A collection of two fonts, each font's directory kept with its offsets moved.
std::string Collection(const std::string& a, const std::string& b) {
  auto put32 = [](std::string& s, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) s[at + k] = static_cast<char>(v >> (24 - 8 * k));
  };
  std::string out("ttcf\0\1\0\0\0\0\0\2", 12);
  out.append(8, '\0');
  for (int f = 0; f < 2; ++f) {
    const std::string& font = f == 0 ? a : b;
    const size_t base = out.size();
    put32(out, 12 + 4 * f, static_cast<uint32_t>(base));
    out += font;
    const uint32_t tables = static_cast<uint8_t>(font[4]) << 8 | static_cast<uint8_t>(font[5]);
    for (uint32_t i = 0; i < tables; ++i) {
      const size_t r = base + 12 + 16 * i + 8;
      uint32_t offset = 0;
      for (int k = 0; k < 4; ++k) offset = offset << 8 | static_cast<uint8_t>(out[r + k]);
      put32(out, r, static_cast<uint32_t>(offset + base));
    }
    out.append((4 - out.size() % 4) % 4, '\0');
  }
  return out;
}

TEST(ExtractCollectionFace, TakesOneFaceWithItsOwnTables) {
  const std::string sans = ksfixture::ReadFile(ksplatform::FindFontFace({"Arial"}).File);
  const std::string mono = ksfixture::ReadFile(ksplatform::FindFontFace({"Courier New"}).File);
  const std::string ttc = Collection(sans, mono);
  EXPECT_EQ(Tables(ksplatform::ExtractCollectionFace(ttc, 0)), Tables(sans));
  const std::string second = ksplatform::ExtractCollectionFace(ttc, 1);
  EXPECT_EQ(Tables(second), Tables(mono));
  EXPECT_EQ(second.size() % 4, 0u);
  EXPECT_EQ(ksplatform::ExtractCollectionFace(sans, 0), sans);  // not a collection

  const char* kDamaged = "Damaged font collection";
  EXPECT_THAT([&] { ksplatform::ExtractCollectionFace(ttc, 2); }, testing::ThrowsMessage<std::runtime_error>(kDamaged));
  EXPECT_THAT([&] { ksplatform::ExtractCollectionFace(ttc, -1); }, testing::ThrowsMessage<std::runtime_error>(kDamaged));
  for (size_t cut : {size_t{16}, size_t{40}, ttc.size() / 2, ttc.size() - 8}) {
    SCOPED_TRACE(cut);
    EXPECT_THAT([&] { ksplatform::ExtractCollectionFace(ttc.substr(0, cut), 1); },
                testing::ThrowsMessage<std::runtime_error>(kDamaged));
  }
}

TEST(SubsetFontProgram, KeepsTheGlyphsAskedForInAFontThatOpensAgain) {
  struct Case {
    const char* face;
    std::u32string text;
    bool keepNumbers;
  } cases[] = {
      // й is a composite glyph here: its components come along.
      {"Arial", U"Bй", false},
      {"Arial", U"Bй", true},
      {"Nimbus Sans", U"Bй", false},  // CFF outlines
      {"Nimbus Sans", U"Bй", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.face) + (c.keepNumbers ? ", numbers kept" : ""));
    const FontFile whole(ksplatform::FindFontFace({c.face}));
    const std::string program = whole.Program();
    std::vector<uint32_t> glyphs;
    for (char32_t ch : c.text) glyphs.push_back(whole.GlyphIndex(ch));
    const std::optional<ksplatform::FontSubset> subset =
        ksplatform::SubsetFontProgram(program, std::vector<char32_t>(c.text.begin(), c.text.end()), glyphs, c.keepNumbers);
    ASSERT_TRUE(subset);
    EXPECT_LT(subset->Program.size(), program.size() / 5);
    ASSERT_EQ(subset->NewGlyphs.size(), glyphs.size());
    if (c.keepNumbers) {
      EXPECT_EQ(subset->NewGlyphs, glyphs);
    } else {
      EXPECT_LT(subset->NewGlyphs[1], 12u);  // renumbered among the few glyphs kept
    }
    // The font library opens it and finds each character at its new glyph, as wide as before.
    FontFace face;
    face.File = ksfixture::WriteTempFile(c.keepNumbers ? "kept.otf" : "subset.otf", subset->Program);
    const FontFile opened(face);
    for (size_t i = 0; i < glyphs.size(); ++i) {
      EXPECT_EQ(opened.GlyphIndex(c.text[i]), subset->NewGlyphs[i]);
      EXPECT_EQ(opened.Advance(c.text[i]), whole.Advance(c.text[i]));
    }
    EXPECT_EQ(opened.GlyphIndex(U'Z'), 0u);
  }
}

TEST(SubsetFontProgram, RefusesWhatIsNoFontOrNoGlyphOfIt) {
  const std::string arial = FontFile(ksplatform::FindFontFace({"Arial"})).Program();
  EXPECT_FALSE(ksplatform::SubsetFontProgram("", {U'a'}, {1}, false));
  EXPECT_FALSE(ksplatform::SubsetFontProgram("not a font program at all", {U'a'}, {1}, false));
  EXPECT_FALSE(ksplatform::SubsetFontProgram(arial, {}, {60000}, false));
  EXPECT_TRUE(ksplatform::SubsetFontProgram(arial, {}, {3}, false));
}

TEST(CodePages, CharacterSetsAndConversions) {
  const std::pair<uint8_t, int32_t> table[] = {{0, 1252},   {1, 1252},   {204, 1251}, {238, 1250}, {161, 1253},
                                               {162, 1254}, {177, 1255}, {178, 1256}, {186, 1257}, {163, 1258},
                                               {222, 874},  {128, 932},  {134, 936},  {129, 949},  {136, 950},
                                               {77, 10000}, {255, 437},  {2, 1252}};
  for (const auto& [charset, codePage] : table) EXPECT_EQ(ksplatform::CodePageOfCharset(charset), codePage) << +charset;

  EXPECT_EQ(ksplatform::DecodeCodePage(1251, "\xCF\xF0\xE8"), u"При");
  EXPECT_EQ(ksplatform::DecodeCodePage(932, "\x82\xA0"), u"あ");
  // A combining mark of the code page joins the letter before it, up to the last byte.
  EXPECT_EQ(ksplatform::DecodeCodePage(1258, "Vi\xD2t"), u"V\u1EC9t");
  EXPECT_EQ(ksplatform::DecodeCodePage(1258, "Vi\xD2"), u"V\u1EC9");
  EXPECT_EQ(ksplatform::DecodeCodePage(1252, "a\x81z"), u"a\uFFFDz");  // 0x81 is not defined
  EXPECT_EQ(ksplatform::EncodeCodePage(10000, u"Café"), std::string("Caf\x8E"));
  EXPECT_EQ(ksplatform::EncodeCodePage(1252, u"Café"), std::string("Caf\xE9"));
  EXPECT_EQ(ksplatform::EncodeCodePage(1252, u"Привет"), std::nullopt);
}

TEST(Dates, FollowTheLocaleAndTheFixedEpoch) {
  setenv("SOURCE_DATE_EPOCH", "0", 1);
  EXPECT_EQ(ksplatform::StampTime(), 0);
  setenv("SOURCE_DATE_EPOCH", "86400", 1);
  EXPECT_EQ(ksplatform::StampTime(), 86400);
  setenv("SOURCE_DATE_EPOCH", "soon", 1);  // not a number: the clock
  EXPECT_GT(ksplatform::StampTime(), 1700000000);
  unsetenv("SOURCE_DATE_EPOCH");

  setenv("TZ", "UTC", 1);
  setenv("LC_ALL", "C", 1);  // read by the date library at its first use, which is below
  EXPECT_EQ(ksplatform::FormatDate(0, ksplatform::DateStyle::Short), u"1/1/70");
  EXPECT_EQ(ksplatform::FormatDate(0, ksplatform::DateStyle::Long), u"January 1, 1970");
  // The library puts a narrow no-break space before "PM".
  EXPECT_EQ(ksplatform::FormatTime(3600 * 13 + 60 * 5, ksplatform::DateStyle::Short), u"1:05\u202FPM");
}

}  // namespace
