// Fonts for drawn text: names, the three kinds, widths, the /W runs, ToUnicode maps,
// encodings, and the font objects a document makes and finds again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/ksFilters.h"
#include "content/ksFontResources.h"
#include "content/ksPDFFont.h"
#include "content/ksTrueType.h"
#include "document/ksCstPDFDoc.h"
#include "ksObjText.h"

using ksfixture::MemoryDoc;
using ksfixture::OneLineText;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::ThrowsMessage;

namespace {

TksFont Face(const std::string& name, bool bold = false, bool italic = false, uint8_t charset = 0) {
  TksFont f;
  f.Name = name;
  f.Bold = bold;
  f.Italic = italic;
  f.Charset = charset;
  return f;
}

// Pages 3 and 4 with the given dictionaries.
struct FontDoc : MemoryDoc {
  explicit FontDoc(const std::vector<std::string>& pages = {"<< /Type /Page /MediaBox [0 0 200 200] >>"}) {
    for (size_t i = 0; i < pages.size(); ++i) {
      Put(static_cast<int32_t>(3 + i), pages[i]);
      doc.Pages.push_back(Get(static_cast<int32_t>(3 + i)));
    }
    ksfixture::SetRoot(doc, 3);
  }
  std::string Object(int32_t n) { return OneLineText(Get(n)->Value.get()); }
  TksPDFDictObject& Dict(int32_t n) { return *AsDict(Get(n)->Value.get()); }
};

}  // namespace

TEST(PdfFont, BaseFontNames) {
  struct Case {
    TksFont font;
    std::string baseFontText, chosen;
  } cases[] = {
      {Face("Times New Roman", true, true), "TimesNewRoman,BoldItalic", "TimesNewRoman,BoldItalic"},
      {Face("Arial", false, true), "Arial,Italic", "Arial,Italic"},
      {Face("Arial"), "Arial", "Arial"},
      // The symbol face keeps its name whatever the style.
      {Face("Symbol", true), "Symbol,Bold", "Symbol"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TksPDFFont::BaseFontText(c.font), c.baseFontText);
    TksPDFFont font(c.font, false, false, nullptr);
    if (c.font.Name != "Symbol") {
      EXPECT_EQ(font.Info().FontKind, ftkTrueType) << c.font.Name;
    }
    EXPECT_EQ(font.BaseFontName, c.chosen);
  }
}

TEST(PdfFont, FacesWithoutTrueTypeOutlinesTakeTheStandardNames) {
  // Nimbus Sans has CFF outlines and is of the Swiss family.
  struct Case {
    TksFont font;
    std::string chosen;
  } cases[] = {
      {Face("Nimbus Sans"), "Helvetica"},
      {Face("Nimbus Sans", true, true), "Helvetica-BoldOblique"},
      {Face("Nimbus Sans", true, false), "Helvetica-Bold"},
      {Face("Courier"), "Courier"},  // one of the fourteen keeps its name
      {Face("Nimbus Sans", false, false, 2), "ZapfDingbats"},
  };
  for (const Case& c : cases) {
    TksPDFFont font(c.font, false, true, nullptr);
    EXPECT_EQ(font.Info().FontKind, ftkOther) << c.font.Name;
    EXPECT_EQ(font.BaseFontName, c.chosen) << c.font.Name;
    EXPECT_TRUE(font.GlyphIDs.empty());
  }
}

TEST(PdfFont, MetricsOfATrueTypeFace) {
  TksPDFFont arial(Face("Arial"), false, true, nullptr);
  const TksPDFFontInfo& info = arial.Info();
  EXPECT_EQ(info.Widths['A' - 32], 667);
  EXPECT_EQ(info.Widths[' ' - 32], 278);
  EXPECT_EQ(info.Widths[0xE9 - 32], 556);  // é in WinAnsi
  EXPECT_EQ(info.DescriptorFlags, 32);     // nonsymbolic, proportional, sans serif
  EXPECT_NEAR(info.Ascent, 905, 1);
  EXPECT_NEAR(info.Descent, -212, 1);
  EXPECT_EQ(info.StemV, 78);
  EXPECT_LT(info.UnderlinePosition, 0);
  EXPECT_GT(info.UnderlineThickness, 0);
  TksFont italicSerif = Face("Times New Roman", false, true);
  EXPECT_EQ(TksPDFFont(italicSerif, false, true, nullptr).Info().DescriptorFlags, 32 + 2 + 64);
  TksFont mono = Face("Courier New");
  EXPECT_EQ(TksPDFFont(mono, false, true, nullptr).Info().DescriptorFlags, 32 + 1 + 2);
}

TEST(PdfFont, MonospacedGlyphsPastTheMetricsShareTheLastAdvance) {
  // Liberation Mono stores few horizontal metrics; every glyph of a character is 600 wide.
  TksPDFFont mono(Face("Courier New", false, false, 204), false, true, nullptr);
  ASSERT_GT(mono.CodePoints.size(), 100u);
  for (size_t i = 0; i < mono.CodePoints.size(); ++i)
    ASSERT_EQ(mono.GlyphWidths.at(mono.GlyphIDs[i]), 600) << static_cast<uint32_t>(mono.CodePoints[i]);
  const std::vector<int32_t> runs = GlyphWidthRuns(mono.GlyphWidths);
  const int32_t last = static_cast<int32_t>(mono.GlyphWidths.size()) - 1;
  ASSERT_GE(runs.size(), 6u);
  EXPECT_THAT(std::vector<int32_t>(runs.end() - 6, runs.end()), ElementsAre(runs[runs.size() - 6], last - 1, 600, last, last, 600));
}

TEST(PdfFont, CompositeTextIsFourHexDigitsPerGlyph) {
  TksPDFFont font(Face("Arial", false, false, 204), false, true, nullptr);
  ASSERT_FALSE(font.IsWestern());
  int32_t dropped = 0;
  const std::string hex = font.EncodeTextForFont(U"Пр\U0001F600", &dropped);
  EXPECT_EQ(hex.size(), 8u);
  EXPECT_EQ(hex.substr(0, 4), [&] {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", *font.GlyphOf(U'П'));
    return std::string(buf);
  }());
  EXPECT_EQ(dropped, 1);  // no emoji in the face
  EXPECT_EQ(font.UsedCodePoints, (std::set<char32_t>{U'П', U'р'}));
}

TEST(PdfFont, WidthRuns) {
  struct Case {
    std::vector<int32_t> widths, runs;
  } cases[] = {
      {{0, 600, 600, 600}, {1, 2, 600, 3, 3, 600}},  // a run to the end stops one early
      {{0, 500, 600, 500}, {1, 1, 500, 2, 2, 600, 3, 3, 500}},
      {{0, 5, 5}, {1, 1, 5, 2, 2, 5}},
      {{0, 1, 1, 2, 3}, {1, 2, 1, 3, 3, 2, 4, 4, 3}},
      {{0}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(GlyphWidthRuns(c.widths), c.runs);
}

TEST(PdfFont, ToUnicodeMapIsAUnicodeCMapInBlocksOfAHundred) {
  std::vector<std::pair<uint16_t, char32_t>> pairs{{36, U'A'}, {36, U'Á'}, {5, U'\U0001D400'}};
  for (uint16_t g = 1000; g < 1150; ++g) pairs.emplace_back(g, U'a');
  const std::string map = ToUnicodeCMap(pairs);
  EXPECT_THAT(map, HasSubstr("/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def"));
  EXPECT_THAT(map, HasSubstr("/CMapType 2 def"));
  EXPECT_THAT(map, HasSubstr("1 begincodespacerange\r\n<0000> <FFFF>\r\nendcodespacerange"));
  EXPECT_THAT(map, HasSubstr("100 beginbfchar\r\n<0005> <D835DC00>\r\n<0024> <0041>\r\n<03E8> <0061>"));
  EXPECT_THAT(map, HasSubstr("52 beginbfchar"));
  EXPECT_EQ(map.find("<0024> <00C1>"), std::string::npos);  // the first character per glyph wins
}

TEST(PdfFont, EncodingsGovernTheCodes) {
  EXPECT_EQ(FontEncodingCode(0, U'é'), 0xE9);
  EXPECT_EQ(FontEncodingCode(1, U'é'), 0x8E);
  EXPECT_EQ(FontEncodingCode(3, U'é'), std::nullopt);
  EXPECT_EQ(FontEncodingCode(3, U'’'), 0x27);
  EXPECT_EQ(FontEncodingCode(0, U'€'), 0x80);
  EXPECT_EQ(FontEncodingCode(0, U'П'), std::nullopt);
  EXPECT_EQ(FontEncodingCharacter(1, 0x8E), U'é');
  EXPECT_EQ(FontEncodingCharacter(3, 0xE1), U'Æ');
}

TEST(FontResources, SimpleFontObjects) {
  FontDoc d;
  auto ref = d.doc.AddFontResource(Face("Arial", true), "/F1", 0, 0, u"Hello");
  TksPDFDictObject& font = d.Dict(ref->ObjectNumber);
  EXPECT_EQ(OneLineText(font.Lookup("/BaseFont")), "/Arial,Bold");
  EXPECT_EQ(OneLineText(font.Lookup("/Subtype")), "/TrueType");
  EXPECT_EQ(OneLineText(font.Lookup("/Encoding")), "/WinAnsiEncoding");
  EXPECT_EQ(OneLineText(font.Lookup("/FirstChar")), "32");
  EXPECT_EQ(AsArray(font.Lookup("/Widths"))->Count(), 224);
  TksPDFDictObject& descriptor = d.Dict(AsRef(font.Lookup("/FontDescriptor"))->ObjectNumber);
  EXPECT_EQ(OneLineText(descriptor.Lookup("/FontName")), "/Arial,Bold");  // equals /BaseFont
  EXPECT_EQ(descriptor.Lookup("/FontFile2"), nullptr);

  // The same font again is the same object; Standard has no /Encoding; MacRoman widths follow its codes.
  EXPECT_EQ(d.doc.AddFontResource(Face("Arial", true), "/F2", 0, 0, u"x")->ObjectNumber, ref->ObjectNumber);
  auto standard = d.doc.AddFontResource(Face("Arial"), "/F3", 0, 3, u"x");
  EXPECT_EQ(d.Dict(standard->ObjectNumber).Lookup("/Encoding"), nullptr);
  auto mac = d.doc.AddFontResource(Face("Arial"), "/F4", 0, 1, u"x");
  EXPECT_EQ(OneLineText(AsArray(d.Dict(mac->ObjectNumber).Lookup("/Widths"))->GetItem(0x8E - 32)), "556");

  EXPECT_THAT([&] { d.doc.AddFontResource(Face("Arial"), "/F5", 0, 2, u"x"); },
              ThrowsMessage<EInvalidValueError>(HasSubstr("MacExpert")));
  EXPECT_THAT([&] { d.doc.AddFontResource(Face("Arial"), "/F5", 0, 4, u"x"); },
              ThrowsMessage<EInvalidValueError>(HasSubstr("PDFDocEncoding")));
  EXPECT_THAT([&] { d.doc.AddFontResource(Face("Arial"), "/F5", 3, 0, u"x"); },
              ThrowsMessage<EInvalidValueError>(HasSubstr("embedding")));
}

TEST(FontResources, LoadedFontsAreReusedOnlyWhenTheyCanShowTheText) {
  FontDoc d({"<< /Type /Page /Resources << /Font << /A 10 0 R /B 11 0 R /C 12 0 R /D 13 0 R >> >> >>"});
  d.Put(10, "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+Arial /Encoding /WinAnsiEncoding /FirstChar 32 /LastChar 255 >>");
  d.Put(11, "<< /Type /Font /Subtype /Type0 /BaseFont /Arial /Encoding /Identity-H >>");
  d.Put(12, "<< /Type /Font /Subtype /TrueType /BaseFont /Arial /Encoding /WinAnsiEncoding /FirstChar 65 /LastChar 90 >>");
  d.Put(13, "<< /Type /Font /Subtype /TrueType /BaseFont /Arial /Encoding /WinAnsiEncoding /FirstChar 32 /LastChar 255 >>");
  TksPDFDictObject& fonts = *AsDict(AsDict(d.Dict(3).Lookup("/Resources"))->Lookup("/Font"));
  // Only D is no subset, no composite font and covers lower-case letters.
  EXPECT_EQ(d.doc.FindFontResourceName(&fonts, Face("Arial"), 0, 0, u"abc"), "/D");
  EXPECT_EQ(d.doc.FindFontResourceName(&fonts, Face("Arial"), 0, 0, u"ABC"), "/C");
  EXPECT_EQ(d.doc.FindFontResourceName(&fonts, Face("Arial"), 1, 0, u"abc"), "");
  EXPECT_EQ(d.doc.AddFontResource(Face("Arial"), "/F1", 0, 0, u"abc")->ObjectNumber, 13);
  // An embedded program is one this document makes.
  EXPECT_NE(d.doc.AddFontResource(Face("Arial"), "/F1", 1, 0, u"abc")->ObjectNumber, 13);
}

TEST(FontResources, CompositeFontsAreEmbeddedWithAMapOfTheDrawnCharacters) {
  FontDoc d;
  auto ref = d.doc.AddFontResource(Face("Arial", false, false, 204), "/F1", 0, 0, u"Привет");
  ASSERT_EQ(d.warnings.size(), 1u);
  EXPECT_THAT(d.warnings[0], HasSubstr("embedded"));
  TksPDFDictObject& font = d.Dict(ref->ObjectNumber);
  EXPECT_EQ(OneLineText(font.Lookup("/Subtype")), "/Type0");
  EXPECT_EQ(OneLineText(font.Lookup("/Encoding")), "/Identity-H");
  TksPDFDictObject& cid = d.Dict(AsRef(AsArray(font.Lookup("/DescendantFonts"))->GetItem(0))->ObjectNumber);
  EXPECT_EQ(OneLineText(cid.Lookup("/Subtype")), "/CIDFontType2");
  EXPECT_EQ(OneLineText(cid.Lookup("/CIDToGIDMap")), "/Identity");
  const int32_t fileNumber =
      AsRef(d.Dict(AsRef(cid.Lookup("/FontDescriptor"))->ObjectNumber).Lookup("/FontFile2"))->ObjectNumber;
  const int32_t mapNumber = AsRef(font.Lookup("/ToUnicode"))->ObjectNumber;

  // A later application adds its characters; the map and the program are made at the save.
  d.doc.AddFontResource(Face("Arial", false, false, 204), "/F1", 0, 0, u"мир");
  d.Get(ref->ObjectNumber)->MarkUsed();
  auto* registry = d.doc.PageEditState().Fonts.get();
  ASSERT_NE(registry, nullptr);
  registry->PrepareForSave(d.doc);
  const auto* map = static_cast<TksPDFStreamObject*>(d.Get(mapNumber)->Value.get());
  const std::string text = FlateDecode(map->Data->View());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n') - 13, 9) << text;  // П р и в е т м и(same) р(same)
  EXPECT_THAT(text, HasSubstr("<041F>"));  // П
  EXPECT_THAT(text, HasSubstr("<043C>"));  // м
  const auto* file = static_cast<TksPDFStreamObject*>(d.Get(fileNumber)->Value.get());
  EXPECT_EQ(OneLineText(file->Dict->Lookup("/Length1")), std::to_string(TksPDFFont(Face("Arial"), false, true, nullptr).Program().size()));
  EXPECT_GT(d.Get(fileNumber)->UseCount, 0);
  EXPECT_GT(d.Get(mapNumber)->UseCount, 0);
}

TEST(FontResources, SubsetsHoldTheCharactersOfEveryApplication) {
  FontDoc d;
  auto ref = d.doc.AddFontResource(Face("Arial"), "/F1", 2, 0, u"Page 1");
  d.doc.AddFontResource(Face("Arial"), "/F1", 2, 0, u"Page 7");
  TksPDFDictObject& font = d.Dict(ref->ObjectNumber);
  EXPECT_EQ(OneLineText(font.Lookup("/BaseFont")), "/WYOIAS+Arial");
  const int32_t fileNumber =
      AsRef(d.Dict(AsRef(font.Lookup("/FontDescriptor"))->ObjectNumber).Lookup("/FontFile2"))->ObjectNumber;
  d.Get(ref->ObjectNumber)->MarkUsed();
  d.doc.PageEditState().Fonts->PrepareForSave(d.doc);
  const auto* file = static_cast<TksPDFStreamObject*>(d.Get(fileNumber)->Value.get());
  const std::string program = FlateDecode(file->Data->View());
  TksTrueTypeProgram subset(program);
  TksPDFFont arial(Face("Arial"), false, true, nullptr);
  ASSERT_LT(program.size(), arial.Program().size() / 4);
  const std::string glyf(subset.Table("glyf"));
  EXPECT_GT(glyf.size(), 0u);
  // Outlines only for the drawn glyphs: the glyph of 7 has one, that of 8 none.
  TksTrueTypeProgram whole(arial.Program());
  const auto map = whole.CharacterMap();
  std::string_view loca = subset.Table("loca");
  const auto length = [&](uint16_t g) {
    const bool longOffsets = static_cast<uint8_t>(subset.Table("head")[51]) == 1;
    const auto at = [&](size_t i) -> uint32_t {
      if (longOffsets)
        return (uint32_t(uint8_t(loca[4 * i])) << 24) | (uint32_t(uint8_t(loca[4 * i + 1])) << 16) |
               (uint32_t(uint8_t(loca[4 * i + 2])) << 8) | uint8_t(loca[4 * i + 3]);
      return 2 * ((uint32_t(uint8_t(loca[2 * i])) << 8) | uint8_t(loca[2 * i + 1]));
    };
    return at(g + 1) - at(g);
  };
  EXPECT_GT(length(map.at(U'7')), 0u);
  EXPECT_GT(length(map.at(U'1')), 0u);
  EXPECT_EQ(length(map.at(U'8')), 0u);
}
