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
  // Nimbus Sans has CFF outlines and is of the Swiss family: not embedded, a standard
  // font stands in for it; its program is read for when it is embedded.
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
    EXPECT_TRUE(font.CffOutlines()) << c.font.Name;
    EXPECT_FALSE(font.CidKeyedOutlines()) << c.font.Name;
    EXPECT_TRUE(font.GlyphOf(U'A')) << c.font.Name;
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

// A document reads a face once for every font made from the same request (formatted
// text makes one per run); other requests and other documents read their own.
TEST(PdfFont, FontsOfOneRequestShareTheFaceTheyWereReadFrom) {
  FontDoc d, other;
  TksFont f = Face("Arial");
  TksPDFFont first(f, false, true, &d.doc);
  f.Size = 24;
  f.Underline = true;
  f.Color = {255, 0, 0};
  TksPDFFont second(f, false, true, &d.doc);
  ASSERT_FALSE(first.Program().empty());
  EXPECT_EQ(&first.Program(), &second.Program());
  EXPECT_EQ(second.GlyphOf(U'A'), first.GlyphOf(U'A'));
  EXPECT_EQ(second.GlyphWidths, first.GlyphWidths);
  EXPECT_DOUBLE_EQ(second.MeasuredWidth(U"Hello", 24), 2 * first.MeasuredWidth(U"Hello", 12));
  EXPECT_EQ(second.Font().Size, 24);
  TksPDFFont bold(Face("Arial", true), false, true, &d.doc);
  EXPECT_NE(&bold.Program(), &first.Program());
  EXPECT_NE(bold.GlyphWidths, first.GlyphWidths);
  TksPDFFont elsewhere(Face("Arial"), false, true, &other.doc);
  EXPECT_NE(&elsewhere.Program(), &first.Program());
  EXPECT_EQ(elsewhere.Program(), first.Program());
}

TEST(PdfFont, MonospacedGlyphsPastTheMetricsShareTheLastAdvance) {
  // Liberation Mono stores few horizontal metrics; every glyph of a character is 600 wide.
  TksPDFFont mono(Face("Courier New", false, false, 204), false, true, nullptr);
  ASSERT_GT(mono.CodePoints.size(), 100u);
  for (size_t i = 0; i < mono.CodePoints.size(); ++i)
    ASSERT_EQ(mono.GlyphWidths.at(mono.GlyphIDs[i]), 600) << static_cast<uint32_t>(mono.CodePoints[i]);
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

TEST(PdfFont, PlainEquivalentsAndTheCharacterSetOfText) {
  struct Case {
    std::u32string text;
    uint8_t charset;
  } cases[] = {
      {U"Plain", 0},
      {U"10:13\u202FPM\u00A0\u2007\u3000\u205F", 0},  // spaces that have the plain one
      {U"non\u2011breaking", 0},
      {U"\u2028", 238},                                  // a line separator has no plain stand-in
      {U"Total\nИтого", 204},
      {U"Ωμέγα", 161},
      {U"中文", 134},
      {U"かな", 128},
      {U"한국어", 129},
  };
  for (const Case& c : cases) EXPECT_EQ(CharsetForText(c.text), c.charset) << c.text.size();
  EXPECT_EQ(PlainEquivalent(U'\u202F'), U' ');
  EXPECT_EQ(PlainEquivalent(U'\u200A'), U' ');
  EXPECT_EQ(PlainEquivalent(U'\u2011'), U'-');
  EXPECT_EQ(PlainEquivalent(U'\u200B'), std::nullopt);  // zero width: nothing stands for it
  EXPECT_EQ(PlainEquivalent(U'x'), std::nullopt);
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

namespace {

// The data of a stream object, decoded.
std::string StreamData(FontDoc& d, const TksPDFObject* ref) {
  return FlateDecode(static_cast<TksPDFStreamObject*>(d.Get(AsRef(ref)->ObjectNumber)->Value.get())->Data->View());
}

// The font made for text in a document of its own, its programs written as for a save.
struct SavedFont {
  FontDoc d;
  TksPDFDictObject* font = nullptr;
  TksPDFDictObject* cid = nullptr;  // composite fonts
  TksPDFDictObject* descriptor = nullptr;
  SavedFont(const TksFont& face, uint8_t embedMode, const std::vector<std::u16string>& texts,
            TksPDFVersion version = pvPDF14) {
    d.doc.PDFVersion = version;
    int32_t number = -1;
    for (const std::u16string& text : texts) number = d.doc.AddFontResource(face, "/F1", embedMode, 0, text)->ObjectNumber;
    d.Get(number)->MarkUsed();
    d.doc.PageEditState().Fonts->PrepareForSave(d.doc);
    font = &d.Dict(number);
    TksPDFDictObject* described = font;
    if (auto* descendants = AsArray(font->Lookup("/DescendantFonts")))
      described = cid = &d.Dict(AsRef(descendants->GetItem(0))->ObjectNumber);
    descriptor = &d.Dict(AsRef(described->Lookup("/FontDescriptor"))->ObjectNumber);
  }
  std::string BaseFont() const { return OneLineText(font->Lookup("/BaseFont")); }
  const TksPDFObject* FileRef() const {
    const TksPDFObject* file = descriptor->Lookup("/FontFile2");
    return file ? file : descriptor->Lookup("/FontFile3");
  }
  std::string Program() { return StreamData(d, FileRef()); }
  TksPDFDictObject& FileDict() {
    return *static_cast<TksPDFStreamObject*>(d.Get(AsRef(FileRef())->ObjectNumber)->Value.get())->Dict;
  }
};

}  // namespace

TEST(FontResources, SubsetsHoldTheCharactersOfEveryApplication) {
  SavedFont f(Face("Arial"), 2, {u"Page 1", u"Page 7"});
  const std::string program = f.Program();
  TksPDFFont arial(Face("Arial"), false, true, nullptr);
  ASSERT_LT(program.size(), arial.Program().size() / 4);
  const TksTrueTypeProgram subset(program);
  // Its character map holds exactly the characters drawn, with their widths.
  std::u32string mapped;
  for (const auto& [c, glyph] : subset.CharacterMap()) {
    mapped += c;
    EXPECT_EQ(subset.GlyphWidths().at(glyph), arial.GlyphWidths.at(*arial.GlyphOf(c)));
  }
  EXPECT_EQ(mapped, U" 17Paeg\u00A0");  // the no-break space shares the space's glyph
  EXPECT_TRUE(subset.HasTable("glyf"));
  EXPECT_FALSE(subset.HasTable("GSUB"));
  // Named after this very program.
  EXPECT_EQ(f.BaseFont(), "/" + SubsetTag(program) + "+Arial");
  EXPECT_EQ(OneLineText(f.descriptor->Lookup("/FontName")), f.BaseFont());
  EXPECT_EQ(OneLineText(f.FileDict().Lookup("/Length1")), std::to_string(program.size()));
}

TEST(FontResources, SubsetTagsFollowTheSubset) {
  const std::string tag = SubsetTag("program");
  ASSERT_EQ(tag.size(), 6u);
  for (char c : tag) EXPECT_TRUE(c >= 'A' && c <= 'Z') << tag;
  EXPECT_EQ(SubsetTag("program"), tag);
  EXPECT_NE(SubsetTag("programs"), tag);
  // The same text gives the same subset and name; other text another name.
  const std::string hello = SavedFont(Face("Arial"), 2, {u"Hello"}).BaseFont();
  EXPECT_EQ(SavedFont(Face("Arial"), 2, {u"Hel", u"lo"}).BaseFont(), hello);
  EXPECT_NE(SavedFont(Face("Arial"), 2, {u"World"}).BaseFont(), hello);
  EXPECT_NE(SavedFont(Face("Arial", false, false, 204), 2, {u"Мир"}).BaseFont(),
            SavedFont(Face("Arial", false, false, 204), 2, {u"Мор"}).BaseFont());
  // The whole program carries no tag.
  EXPECT_EQ(SavedFont(Face("Arial"), 1, {u"Hello"}).BaseFont(), "/Arial");
}

TEST(FontResources, CompositeSubsetsRenumberGlyphsThroughTheCidMap) {
  // Ё and й are composite glyphs in this face: their components come along.
  const std::u16string text = u"Ёлка й";
  SavedFont f(Face("Arial", false, false, 204), 2, {text});
  TksPDFFont whole(Face("Arial", false, false, 204), false, true, nullptr);
  const std::string program = f.Program();
  EXPECT_LT(program.size(), 10000u);
  const TksTrueTypeProgram subset(program);
  EXPECT_GE(subset.GlyphCount(), 1 + 6 + 4);  // .notdef, the six drawn, four components
  const std::string map = StreamData(f.d, f.cid->Lookup("/CIDToGIDMap"));
  const auto newGlyph = [&](uint32_t cid) {
    return static_cast<uint16_t>(static_cast<uint8_t>(map.at(2 * cid)) << 8 | static_cast<uint8_t>(map.at(2 * cid + 1)));
  };
  const auto subsetMap = subset.CharacterMap();
  for (char32_t c : ToCharacters(text)) {
    SCOPED_TRACE(static_cast<uint32_t>(c));
    const uint16_t cid = *whole.GlyphOf(c);  // the code the content shows
    EXPECT_EQ(newGlyph(cid), subsetMap.at(c));
    EXPECT_EQ(subset.GlyphWidths().at(newGlyph(cid)), whole.GlyphWidths.at(cid));
  }
  // The widths of the six glyphs drawn, nothing more.
  const TksPDFArrayObject& w = *AsArray(f.cid->Lookup("/W"));
  int32_t widths = 0;
  for (int32_t i = 1; i < w.Count(); i += 2) widths += AsArray(w.GetItem(i))->Count();
  EXPECT_EQ(widths, 6);
  EXPECT_EQ(f.BaseFont(), "/" + SubsetTag(program) + "+Arial");
  EXPECT_EQ(OneLineText(f.cid->Lookup("/BaseFont")), f.BaseFont());
}

TEST(FontResources, CffFacesEmbedAsFontFile3) {
  struct Case {
    uint8_t charset, embed;
    TksPDFVersion version;
    std::u16string text;
    std::string fileSubtype;
  } cases[] = {
      {0, 1, pvPDF14, u"Hello", "/Type1C"},
      {0, 2, pvPDF14, u"Hello", "/Type1C"},
      {0, 2, pvPDF16, u"Hello", "/OpenType"},
      {204, 2, pvPDF14, u"Привет", "/CIDFontType0C"},
      {204, 1, pvPDF17, u"Привет", "/OpenType"},
      {204, 2, pvPDF17, u"Привет", "/OpenType"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fileSubtype + " embed " + std::to_string(c.embed) + " charset " + std::to_string(c.charset));
    const TksFont face = Face("Nimbus Sans", false, false, c.charset);
    SavedFont f(face, c.embed, {c.text}, c.version);
    EXPECT_EQ(f.descriptor->Lookup("/FontFile2"), nullptr);
    ASSERT_NE(f.descriptor->Lookup("/FontFile3"), nullptr);
    EXPECT_EQ(OneLineText(f.FileDict().Lookup("/Subtype")), c.fileSubtype);
    EXPECT_EQ(f.FileDict().Lookup("/Length1"), nullptr);
    const std::string program = f.Program();
    const TksPDFFont whole(face, false, true, nullptr);
    if (c.fileSubtype == "/OpenType") {
      EXPECT_EQ(program.substr(0, 4), "OTTO");
      // A composite font's codes are glyph numbers: the subset keeps them.
      const auto map = TksTrueTypeProgram(program).CharacterMap();
      if (c.charset != 0) {
        for (char32_t ch : ToCharacters(c.text)) EXPECT_EQ(map.at(ch), *whole.GlyphOf(ch));
      }
    } else {
      EXPECT_EQ(program.substr(0, 2), std::string("\x01\x00", 2));  // a bare CFF font, version 1.0
    }
    if (c.embed == 2) {
      EXPECT_LT(program.size(), whole.Program().size() / 3);
    }
    if (c.charset == 0) {
      EXPECT_EQ(OneLineText(f.font->Lookup("/Subtype")), "/Type1");
    } else {
      EXPECT_EQ(OneLineText(f.cid->Lookup("/Subtype")), "/CIDFontType0");
      EXPECT_EQ(f.cid->Lookup("/CIDToGIDMap"), nullptr);
    }
  }
  // Not embedded, a CFF face is the Type 1 font a reader supplies.
  SavedFont plain(Face("Nimbus Sans"), 0, {u"Hello"});
  EXPECT_EQ(plain.FileRef(), nullptr);
  EXPECT_EQ(plain.BaseFont(), "/NimbusSans");
}

TEST(FontResources, AFaceStandingInForAnotherCharacterSetIsAFontOfItsOwn) {
  // Verdana is not installed: Russian text takes DejaVu Sans, Japanese Droid Sans Fallback,
  // both written as "Verdana"; glyph numbers of one are no glyphs of the other.
  FontDoc d;
  const auto russian = d.doc.AddFontResource(Face("Verdana", false, false, 204), "/F1", 0, 0, u"Привет");
  const auto japanese = d.doc.AddFontResource(Face("Verdana", false, false, 128), "/F2", 0, 0, u"かな");
  EXPECT_NE(russian->ObjectNumber, japanese->ObjectNumber);
  EXPECT_EQ(d.doc.AddFontResource(Face("Verdana", false, false, 204), "/F1", 0, 0, u"мир")->ObjectNumber,
            russian->ObjectNumber);
}
