// Reading installed TrueType programs: the character map agrees with the font library,
// widths follow the rule for glyphs past the last metric, subsets keep exactly the drawn
// outlines and open again, and damaged programs end in a clear error.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "base/ksExceptions.h"
#include "content/ksTrueType.h"
#include "ksFixture.h"
#include "ksFonts.h"

using testing::ThrowsMessage;

namespace {

std::string ProgramOf(const std::string& face) {
  return ksplatform::FontFile(ksplatform::FindFontFace({face})).Program();
}

uint32_t U32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v = v << 8 | static_cast<uint8_t>(b[at + k]);
  return v;
}

TEST(TrueTypeProgram, CharacterMapAgreesWithTheFontLibrary) {
  for (const char* faceName : {"Arial", "DejaVu Sans"}) {
    SCOPED_TRACE(faceName);
    const ksplatform::FontFace face = ksplatform::FindFontFace({faceName});
    const ksplatform::FontFile file(face);
    const std::string program = file.Program();
    const auto map = TksTrueTypeProgram(program).CharacterMap();
    for (char32_t c : {U'A', U'z', U' ', U'é', U'П', U'€', U'\uFB01', U'\U0001D400'}) {
      const auto found = map.find(c);
      EXPECT_EQ(found == map.end() ? 0u : found->second, file.GlyphIndex(c)) << static_cast<uint32_t>(c);
    }
    EXPECT_EQ(map.count(0xFFFF), 0u);
    for (const auto& [c, glyph] : map) ASSERT_NE(glyph, 0) << static_cast<uint32_t>(c);
  }
}

TEST(TrueTypeProgram, GlyphsPastTheLastMetricShareItsAdvance) {
  // Monospaced faces store a few metrics and let every later glyph share the last.
  const std::string program = ProgramOf("Courier New");
  const TksTrueTypeProgram font(program);
  const auto widths = font.GlyphWidths();
  ASSERT_EQ(static_cast<int32_t>(widths.size()), font.GlyphCount());
  const auto map = font.CharacterMap();
  for (char32_t c : {U'i', U'W', U'П', U'0'}) EXPECT_EQ(widths.at(map.at(c)), 600) << static_cast<uint32_t>(c);
  EXPECT_EQ(widths.back(), 600);

  const std::string sans = ProgramOf("Arial");
  const TksTrueTypeProgram proportional(sans);
  EXPECT_EQ(proportional.GlyphWidths().at(proportional.CharacterMap().at(U'A')), 1366 * 1000 / 2048);
}

TEST(TrueTypeProgram, SubsetKeepsTheDrawnOutlinesAndOpensAgain) {
  const std::string program = ProgramOf("Arial");
  const TksTrueTypeProgram font(program);
  const auto map = font.CharacterMap();
  std::set<uint16_t> drawn;
  for (char32_t c : std::u32string(U"Hello")) drawn.insert(map.at(c));

  const auto subset = font.Subset(drawn);
  ASSERT_TRUE(subset);
  EXPECT_LT(subset->size(), program.size() / 4);
  EXPECT_EQ(subset->size() % 4, 0u);
  // The checksum of the whole file, with the adjustment, is the fixed sum.
  uint32_t sum = 0;
  for (size_t i = 0; i < subset->size(); i += 4) sum += U32(*subset, i);
  EXPECT_EQ(sum, 0xB1B0AFBAu);

  const TksTrueTypeProgram again(*subset);
  for (const char* tag : {"cmap", "cvt ", "fpgm", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "prep"})
    EXPECT_EQ(again.HasTable(tag), font.HasTable(tag)) << tag;
  EXPECT_FALSE(again.HasTable("name"));
  EXPECT_EQ(again.GlyphCount(), font.GlyphCount());
  EXPECT_EQ(again.CharacterMap(), map);
  EXPECT_EQ(again.GlyphWidths(), font.GlyphWidths());

  // The font library opens it and finds outlines for the drawn glyphs only.
  const std::string path = ksfixture::WriteTempFile("subset.ttf", *subset);
  ksplatform::FontFace face;
  face.File = path;
  const ksplatform::FontFile opened(face);
  EXPECT_EQ(opened.GlyphIndex(U'H'), map.at(U'H'));
  EXPECT_EQ(opened.Advance(U'H'), ksplatform::FontFile(ksplatform::FindFontFace({"Arial"})).Advance(U'H'));
}

// A minimal program: a directory of the given tables, each padded.
std::string Program(const std::vector<std::pair<std::string, std::string>>& tables);
std::string Be16(std::initializer_list<uint16_t> values);

TEST(TrueTypeProgram, SubsetGivesUpAtACompositeGlyph) {
  // Three glyphs of ten bytes: simple, composite (-1 contours), composite (-2 contours).
  std::string glyf(30, '\0');
  glyf[1] = 1;
  glyf[10] = glyf[11] = static_cast<char>(0xFF);
  glyf[20] = static_cast<char>(0xFF);
  glyf[21] = static_cast<char>(0xFE);
  std::string head(54, '\0');
  head[18] = 4;  // 1024 units per em; short offsets
  const std::string program = Program({{"glyf", glyf}, {"head", head}, {"loca", Be16({0, 5, 10, 15})},
                                       {"maxp", Be16({0, 0, 3})}});
  const TksTrueTypeProgram font(program);
  EXPECT_TRUE(font.Subset({0}).has_value());
  EXPECT_FALSE(font.Subset({0, 1}).has_value());
  EXPECT_FALSE(font.Subset({2}).has_value());
}

// A minimal program: a directory of the given tables, each padded.
std::string Program(const std::vector<std::pair<std::string, std::string>>& tables) {
  std::string out("\0\1\0\0", 4);
  out.push_back(0);
  out.push_back(static_cast<char>(tables.size()));
  out.append(6, '\0');
  size_t at = 12 + 16 * tables.size();
  std::string data;
  for (const auto& [tag, bytes] : tables) {
    out += tag;
    out.append(4, '\0');
    for (uint32_t v : {static_cast<uint32_t>(at + data.size()), static_cast<uint32_t>(bytes.size())})
      for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>(v >> (24 - 8 * k)));
    data += bytes;
    data.append((4 - data.size() % 4) % 4, '\0');
  }
  return out + data;
}

std::string Be16(std::initializer_list<uint16_t> values) {
  std::string s;
  for (uint16_t v : values) {
    s.push_back(static_cast<char>(v >> 8));
    s.push_back(static_cast<char>(v & 0xFF));
  }
  return s;
}

TEST(TrueTypeProgram, DamagedProgramsEndInAClearError) {
  // head: units per em at 18, offset format at 50; hhea: metrics at 34; maxp: glyphs at 4.
  const auto head = [](uint16_t unitsPerEm, uint16_t format) {
    std::string h(54, '\0');
    h[18] = static_cast<char>(unitsPerEm >> 8);
    h[19] = static_cast<char>(unitsPerEm & 0xFF);
    h[51] = static_cast<char>(format);
    return h;
  };
  std::string hhea(36, '\0');
  hhea[35] = 1;
  const std::string maxp = Be16({0, 0, 2});  // two glyphs
  const std::string hmtx = Be16({500, 0});
  // cmap with one (3,1) format-4 subtable of two segments whose ends go backwards.
  const std::string badSegments = Be16({0, 1, 3, 1, 0, 12}) +
                                  Be16({4, 32, 0, 4, 0, 0, 0, 0x50, 0x40, 0, 0x41, 0x30, 0, 0, 0, 0});
  const std::string loca = Be16({0, 10, 4});  // goes backwards

  struct Case {
    const char* name;
    std::string program;
    int call;  // 0 open, 1 map, 2 widths, 3 subset
    const char* message;
  };
  const std::string full = ProgramOf("Arial");
  const Case cases[] = {
      {"shorter than a directory", "\0\1\0\0", 0, "too short for a table directory"},
      {"table past the end", full.substr(0, full.size() / 2), 0, "a table lies outside the program"},
      {"directory cut", full.substr(0, 40), 0, "a table lies outside the program"},
      {"record cut", full.substr(0, 20), 0, "a field lies outside its table"},
      {"units per em 0", Program({{"head", head(0, 0)}, {"hhea", hhea}, {"hmtx", hmtx}, {"maxp", maxp}}), 2,
       "units per em are 0"},
      {"metrics missing", Program({{"head", head(1000, 0)}, {"hhea", hhea}, {"maxp", Be16({0, 0, 9})}}), 2,
       "a field lies outside its table"},
      {"segments backwards", Program({{"cmap", badSegments}}), 1, "character map segments are out of order"},
      {"loca backwards",
       Program({{"glyf", std::string(20, '\0')}, {"head", head(1000, 0)}, {"loca", loca}, {"maxp", maxp}}), 3,
       "glyph offsets are not in order"},
      {"no outlines", Program({{"head", head(1000, 0)}, {"maxp", maxp}}), 3, "no outlines"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string expected = std::string("The font program is damaged: ") + c.message;
    EXPECT_THAT(
        [&] {
          TksTrueTypeProgram font(c.program);
          if (c.call == 1) font.CharacterMap();
          if (c.call == 2) font.GlyphWidths();
          if (c.call == 3) font.Subset({0, 1});
        },
        ThrowsMessage<EFontProgramError>(expected));
  }
}

}  // namespace
