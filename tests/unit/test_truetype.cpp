// Reading installed OpenType programs: the character map agrees with the font library,
// widths follow the rule for glyphs past the last metric, CID-keyed CFF fonts are told
// apart, and damaged programs end in a clear error.
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

// A minimal program: a directory of the given tables, each padded.
std::string Program(const std::vector<std::pair<std::string, std::string>>& tables);
std::string Be16(std::initializer_list<uint16_t> values);

// A CFF table: header, a name index of one name, a top dictionary index of one dictionary.
std::string Cff(const std::string& topDict, uint8_t offsetSize = 1) {
  std::string out("\x01\x00\x04\x01", 4);
  out += std::string("\x00\x01\x01\x01\x02", 5) + "A";
  out += std::string("\x00\x01", 2) + static_cast<char>(offsetSize);
  for (uint64_t offset : {uint64_t{1}, 1 + uint64_t{topDict.size()}})
    for (int k = offsetSize - 1; k >= 0; --k) out += static_cast<char>(offset >> (8 * k));
  return out + topDict;
}

TEST(TrueTypeProgram, CidKeyedCffFontsAreToldApart) {
  struct Case {
    const char* name;
    std::string program;
    bool cidKeyed;
  } cases[] = {
      {"TrueType outlines", ProgramOf("Arial"), false},
      {"a name-keyed face", ProgramOf("Nimbus Sans"), false},
      // Registry, ordering, supplement (three operands of 0) then the operator 12 30.
      {"registry and ordering", Program({{"CFF ", Cff("\x8B\x8B\x8B\x0C\x1E")}}), true},
      // A real number, a 16-bit and a 32-bit operand before it; two-byte offsets.
      {"after other operands",
       Program({{"CFF ", Cff(std::string("\x1E\x12\x5F\x1C\x01\x02\x1D\x00\x00\x00\x05\xF8\x10\x11"
                                         "\x8B\x8B\x8B\x0C\x1E", 19), 2)}}),
       true},
      {"a font matrix only", Program({{"CFF ", Cff("\x8B\x8B\x8B\x8B\x8B\x8B\x0C\x07")}}), false},
  };
  for (const Case& c : cases) EXPECT_EQ(TksTrueTypeProgram(c.program).CidKeyedOutlines(), c.cidKeyed) << c.name;
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

  struct Case {
    const char* name;
    std::string program;
    int call;  // 0 open, 1 map, 2 widths, 3 CFF keying
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
      {"CFF index offset size", Program({{"CFF ", Cff("\x8B", 5)}}), 3,
       "a CFF index has an offset size out of range"},
      {"CFF dictionary past its table", Program({{"CFF ", Cff("\x8B").substr(0, 14)}}), 3,
       "a field lies outside its table"},
      {"CFF real number unended", Program({{"CFF ", Cff("\x1E\x12\x34")}}), 3, "a field lies outside its table"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string expected = std::string("The font program is damaged: ") + c.message;
    EXPECT_THAT(
        [&] {
          TksTrueTypeProgram font(c.program);
          if (c.call == 1) font.CharacterMap();
          if (c.call == 2) font.GlyphWidths();
          if (c.call == 3) font.CidKeyedOutlines();
        },
        ThrowsMessage<EFontProgramError>(expected));
  }
}

}  // namespace
