// Stamping text: placeholders, the content of one page, and applications over pages —
// fonts shared or added per page (and per character set of the text drawn), characters
// drawn as their plain equivalents, opacity, refusals, the template kept as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "content/ksWatermark.h"
#include "document/ksCstPDFDoc.h"
#include "ksObjText.h"

using ksfixture::MemoryDoc;
using ksfixture::OneLineText;
using testing::HasSubstr;
using testing::Not;
using testing::ThrowsMessage;

namespace {

std::string Utf8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// Pages 3, 4, ... with the given dictionaries (box 0 0 200 100 unless said otherwise).
struct StampDoc : MemoryDoc {
  explicit StampDoc(int pages, const std::string& page = "/MediaBox [0 0 200 100]") {
    for (int i = 0; i < pages; ++i) {
      Put(3 + i, "<< /Type /Page " + page + " >>");
      doc.Pages.push_back(Get(3 + i));
    }
    ksfixture::SetRoot(doc, 3);
  }
  TksPDFDictObject& Page(int pageNo) { return *AsDict(doc.Pages.at(static_cast<size_t>(pageNo - 1))->Value.get()); }
  // The stream the page's content names last (the stamp, for an overlay).
  std::string Stamp(int pageNo) {
    TksPDFObject* contents = Page(pageNo).Lookup("/Contents");
    const TksPDFIndirectReference* ref = AsRef(contents);
    if (auto* array = AsArray(contents)) ref = AsRef(array->GetItem(array->Count() - 1));
    if (!ref) return "";
    return static_cast<TksPDFStreamObject*>(Get(ref->ObjectNumber)->Value.get())->Data->ToString();
  }
  std::string Fonts(int pageNo) {
    auto* resources = AsDict(Page(pageNo).Lookup("/Resources"));
    return resources ? OneLineText(resources->Lookup("/Font")) : "";
  }
};

TksTextWatermarkTemplate Template(const std::u16string& text) {
  TksTextWatermarkTemplate t;
  t.Text = text;
  t.Overlay = true;
  return t;
}

}  // namespace

TEST(Placeholders, CallerPlaceholdersAreScannedOnce) {
  struct Case {
    std::u16string text, expected;
    int calls;
  } cases[] = {
      {u"<%Client%> and <%client%>", u"ACME and ACME", 1},
      {u"<%%> stays", u"<%%> stays", 0},
      {u"<%a <%b%> c", u"<%a <%b%> c", 0},  // another opening inside: skipped
      {u"<%Loop%>!", u"<%Loop%>!", 1},      // a value naming a placeholder is not scanned again
      {u"open <%only", u"open <%only", 0},
  };
  for (const Case& c : cases) {
    int calls = 0;
    std::u16string text = c.text;
    ReplaceCallerPlaceholders(text, [&](const std::u16string& name, std::u16string& value) {
      ++calls;
      value = name == u"Loop" ? u"<%Loop%>" : u"ACME";
    });
    EXPECT_EQ(Utf8(text), Utf8(c.expected));
    EXPECT_EQ(calls, c.calls) << Utf8(c.text);
  }
}

TEST(Placeholders, OnceOnlyValuesAndPageNumbers) {
  StampDoc d(5);
  d.doc.Info().SetTitle(u"Report");
  std::u16string text = u"<%title%>: page <%PageNo%> of <%TOTPAGE%>";
  ReplaceOncePlaceholders(d.doc, text);
  EXPECT_EQ(Utf8(text), "Report: page <%PageNo%> of 5");
  ReplacePlaceholder(text, u"<%pageno%>", u"2");
  EXPECT_EQ(Utf8(text), "Report: page 2 of 5");
}

TEST(Watermark, ContentOfOnePage) {
  // A fixed template on a 200 x 100 box: every byte of the content.
  StampDoc d(1);
  TksTextWatermarkTemplate t = Template(u"A(b)\\");
  t.Font.Color = {255, 0, 0};
  t.OutlineColor = {0, 0, 255};
  TksPDFFont font(t.Font, false, true, nullptr);
  t.Context.Font = &font;
  t.Context.Box = {0, 0, 200, 100};
  std::string content;
  t.BuildContent("/F1", "/GS1", content, muPoints, 0, 100);
  // The box's top (the ascent, 905/1000 of 12 points) at the page's top; the widths add
  // up, so no spacing correction.
  EXPECT_EQ(content,
            "q\rBT\r0.00000000 Tc 0 Tw 100 Tz 12 TL \r1.0000 0.0000 0.0000 rg\r0.0000 0.0000 1.0000 RG\r0 Tr\r"
            "/F1 12 Tf\r1.0000 0.0000 0.0000 1.0000 0.000 89.137 Tm\r /GS1 gs \r(A\\(b\\)\\\\) Tj\r\rET\rQ\r\n");
}

TEST(Watermark, PagesTwoAndThreeOfFive) {
  StampDoc d(5);
  TksTextWatermarkTemplate t = Template(u"Page <%PageNo%> of <%TotPage%>");
  d.doc.ApplyWatermark(t, "2-3");
  EXPECT_THAT(d.Stamp(2), HasSubstr("(Page 2 of 5) Tj"));
  EXPECT_THAT(d.Stamp(3), HasSubstr("(Page 3 of 5) Tj"));
  for (int p : {1, 4, 5}) EXPECT_EQ(d.Page(p).Lookup("/Contents"), nullptr) << p;
  // The template keeps its pattern; the drawn text of the last page is kept beside it.
  EXPECT_EQ(Utf8(t.Text), "Page <%PageNo%> of 5");
  EXPECT_EQ(Utf8(t.LastDrawnText), "Page 3 of 5");
  // No opacity: no graphics state.
  EXPECT_THAT(d.Stamp(2), Not(HasSubstr(" gs")));
  EXPECT_EQ(d.warnings.size(), 0u);
}

TEST(Watermark, EqualBoxesShareOneFontAndGetTwoStreams) {
  StampDoc d(2);
  TksTextWatermarkTemplate t = Template(u"Draft");
  t.Opacity = 50;
  d.doc.ApplyWatermark(t, "");
  EXPECT_EQ(d.Fonts(1), d.Fonts(2));
  EXPECT_NE(d.Page(1).Lookup("/Contents") ? OneLineText(d.Page(1).Lookup("/Contents")) : "",
            OneLineText(d.Page(2).Lookup("/Contents")));
  EXPECT_THAT(d.Stamp(1), HasSubstr(" gs \r"));
  const std::string gs = OneLineText(AsDict(d.Page(1).Lookup("/Resources"))->Lookup("/ExtGState"));
  EXPECT_THAT(gs, HasSubstr(" 0 R"));
}

TEST(Watermark, AFontNameTakenOnAPageGetsAnotherName) {
  StampDoc d(2);
  TksTextWatermarkTemplate t = Template(u"One");
  d.doc.ApplyWatermark(t, "1");
  // Page 2 holds the name page 1's font got, for another object.
  const std::string fonts1 = d.Fonts(1);
  const std::string name = fonts1.substr(3, fonts1.find(' ', 3) - 3);
  d.Put(50, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
  d.Page(2).SetObject("/Resources", ksfixture::ParseValue("<< /Font << " + name + " 50 0 R >> >>", d.doc.DocumentID));
  TksTextWatermarkTemplate again = Template(u"Two");
  d.doc.ApplyWatermark(again, "1-2");
  EXPECT_THAT(d.Fonts(2), HasSubstr(name + " 50 0 R"));
  const std::string stamp2 = d.Stamp(2);
  EXPECT_THAT(stamp2, Not(HasSubstr(name + " 12 Tf")));
  EXPECT_THAT(stamp2, HasSubstr(" 12 Tf"));
}

TEST(Watermark, RefusalsChangeNoPage) {
  struct Case {
    void (*set)(TksTextWatermarkTemplate&);
    std::string range, message;
  } cases[] = {
      {[](TksTextWatermarkTemplate& t) { t.HorzAlignment = 4; }, "", "HorzAlignment"},
      {[](TksTextWatermarkTemplate& t) { t.RenderMode = 8; }, "", "RenderMode"},
      {[](TksTextWatermarkTemplate& t) { t.Encoding = 5; }, "", "Encoding"},
      {[](TksTextWatermarkTemplate& t) { t.Direction = 2; }, "", "Direction"},
      {[](TksTextWatermarkTemplate&) {}, "3-1", "Invalid page range (3-1)"},
  };
  for (const Case& c : cases) {
    StampDoc d(2);
    TksTextWatermarkTemplate t = Template(u"x");
    c.set(t);
    EXPECT_THAT([&] { d.doc.ApplyWatermark(t, c.range); }, ThrowsMessage<std::exception>(HasSubstr(c.message)));
    EXPECT_EQ(d.Page(1).Lookup("/Contents"), nullptr);
    EXPECT_EQ(d.Page(1).Lookup("/Resources"), nullptr);
  }
}

TEST(Watermark, AnglesLinesAndEmptyPages) {
  StampDoc d(3);
  TksTextWatermarkTemplate t = Template(u"A\nB");
  t.Angle = 450;
  d.doc.ApplyWatermark(t, "1");
  EXPECT_EQ(t.Angle, 90);
  EXPECT_THAT(d.Stamp(1), HasSubstr("0.0000 1.0000 -1.0000 0.0000 "));
  EXPECT_THAT(d.Stamp(1), HasSubstr("(A)Tj T* (B) Tj"));

  // A text that comes out empty on a page draws nothing there.
  d.doc.OnCalcVariables = [](TksCustomPDFDocument*, const std::u16string&, std::u16string& value, int32_t page) {
    value = page == 2 ? u"" : u"x";
  };
  TksTextWatermarkTemplate v = Template(u"<%V%>");
  d.doc.ApplyWatermark(v, "2-3");
  EXPECT_EQ(d.Page(2).Lookup("/Contents"), nullptr);
  EXPECT_THAT(d.Stamp(3), HasSubstr("(x) Tj"));
}

TEST(Watermark, APageWithoutResourcesTakesAnOpacity) {
  StampDoc d(1);
  TksTextWatermarkTemplate t = Template(u"Faint");
  t.Opacity = 30;
  d.doc.ApplyWatermark(t, "");
  const std::string resources = OneLineText(d.Page(1).Lookup("/Resources"));
  EXPECT_THAT(resources, HasSubstr("/ExtGState"));
  EXPECT_THAT(resources, HasSubstr("/Font"));
}

TEST(Watermark, CharactersTheFontCannotShowAreCountedOnce) {
  StampDoc d(2);
  TksTextWatermarkTemplate t = Template(u"Caf\u00e9 \u041f");  // П is not WinAnsi
  d.doc.ApplyWatermark(t, "");
  ASSERT_EQ(d.warnings.size(), 1u);
  EXPECT_EQ(d.warnings[0], "The font \"Arial\" cannot show 1 character(s) of the stamp; they were left out");
  EXPECT_THAT(d.Stamp(1), HasSubstr("(Caf\xE9 ) Tj"));
}

TEST(Watermark, TheCharacterSetFollowsEachPagesTextAsDrawn) {
  // Only the placeholder's value is beyond the Western set, and only on pages 2 and 3.
  StampDoc d(3);
  d.doc.OnCalcVariables = [](TksCustomPDFDocument*, const std::u16string&, std::u16string& value, int32_t page) {
    value = page == 1 ? u"Smith" : page == 2 ? u"Иванов" : u"Ωμέγα";
  };
  TksTextWatermarkTemplate t = Template(u"Client: <%Client%>");
  t.AutoCharset = true;
  d.doc.ApplyWatermark(t, "");
  for (const std::string& w : d.warnings) EXPECT_THAT(w, Not(HasSubstr("cannot show")));
  EXPECT_THAT(d.Stamp(1), HasSubstr("(Client: Smith) Tj"));
  const auto subtype = [&](int page) {
    const std::string fonts = d.Fonts(page);
    const int32_t number = std::stoi(fonts.substr(fonts.find(' ', 3) + 1));
    return OneLineText(AsDict(d.Get(number)->Value.get())->Lookup("/Subtype"));
  };
  EXPECT_EQ(subtype(1), "/TrueType");
  EXPECT_EQ(subtype(2), "/Type0");
  EXPECT_EQ(subtype(3), "/Type0");
  // Composite text: four hex digits a glyph, "Client: " and six (five) letters.
  for (int page : {2, 3}) {
    const std::string stamp = d.Stamp(page);
    const size_t open = stamp.find('<'), close = stamp.find('>');
    ASSERT_NE(open, std::string::npos) << stamp;
    EXPECT_EQ(close - open - 1, 4u * (8 + (page == 2 ? 6 : 5))) << stamp;
  }
  // Without the choice, the template's own character set governs: the letters are lost.
  TksTextWatermarkTemplate western = Template(u"Client: <%Client%>");
  StampDoc lost(2);
  lost.doc.OnCalcVariables = d.doc.OnCalcVariables;
  lost.doc.ApplyWatermark(western, "2");
  ASSERT_EQ(lost.warnings.size(), 1u);
  EXPECT_THAT(lost.warnings[0], HasSubstr("cannot show 6 character(s)"));
}

TEST(Watermark, SpacesTheFontLacksAreDrawnAsThePlainSpace) {
  struct Case {
    std::u16string text;
    uint8_t charset;
    std::string shown;  // a simple font's bytes; empty for a composite font
  } cases[] = {
      // The narrow no-break space of a locale's time, ideographic and typographic spaces;
      // the no-break space is in the encoding and kept.
      {u"10:13\u202FPM\u00A0x\u3000y\u2009z", 0, "(10:13 PM\xA0x y z) Tj"},
      {u"non\u2011breaking", 0, "(non-breaking) Tj"},
      {u"Итого\u3000100", 204, ""},
  };
  for (const Case& c : cases) {
    StampDoc d(1);
    TksTextWatermarkTemplate t = Template(c.text);
    t.Font.Charset = c.charset;
    d.doc.ApplyWatermark(t, "");
    for (const std::string& w : d.warnings) EXPECT_THAT(w, Not(HasSubstr("cannot show")));
    if (!c.shown.empty()) {
      EXPECT_THAT(d.Stamp(1), HasSubstr(c.shown));
    } else {
      TksFont font = t.Font;
      const TksPDFFont measured(font, false, true, nullptr);
      char space[8];
      std::snprintf(space, sizeof space, "%04X", *measured.GlyphOf(U' '));
      const std::string stamp = d.Stamp(1);
      EXPECT_EQ(stamp.substr(stamp.find('<') + 1 + 5 * 4, 4), space) << stamp;
    }
  }
}
