// Formatted text: the tag walk (runs, fonts, attributes, literal tags) and the drawing
// of runs one after the other, with the unit put back whatever happens.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compat/ksPDFDoc.h"
#include "content/ksFormattedText.h"
#include "ksObjText.h"

using testing::HasSubstr;
using testing::ThrowsMessage;

namespace {

std::string Utf8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// Each run as "text|face size style r,g,b charset".
std::vector<std::string> Runs(const std::u16string& text) {
  std::vector<std::string> runs;
  WalkFormattedText(text, [&](const TksFont& f, const std::u16string& run) {
    std::string style = std::string(f.Bold ? "B" : "") + (f.Italic ? "I" : "") + (f.Underline ? "U" : "") +
                        (f.StrikeOut ? "S" : "");
    runs.push_back(Utf8(run) + "|" + f.Name + " " + std::to_string(static_cast<int>(f.Size)) + " " + style + " " +
                   std::to_string(f.Color.R) + "," + std::to_string(f.Color.G) + "," + std::to_string(f.Color.B) +
                   " " + std::to_string(f.Charset));
  });
  return runs;
}

}  // namespace

TEST(FormattedText, RunsAndTheirFonts) {
  struct Case {
    std::u16string text;
    std::vector<std::string> runs;
  } cases[] = {
      {u"plain", {"plain|Arial 12  0,0,0 0"}},
      {u"<b>x</B><i><u>y</I>z</u><strikeout>w</StrikeOut>",
       {"x|Arial 12 B 0,0,0 0", "y|Arial 12 IU 0,0,0 0", "z|Arial 12 U 0,0,0 0", "w|Arial 12 S 0,0,0 0"}},
      // A FONT with only a colour is Arial 12 again; the style carries over into it; a
      // style tag changes only the top font; a lone closing FONT changes nothing.
      {u"<FONT SIZE=\"20\" FACE=\"Courier New\">a<B><font color=\"Teal\">b</font>c</FONT></FONT>d",
       {"a|Courier New 20  0,0,0 0", "b|Arial 12 B 0,128,128 0", "c|Courier New 20 B 0,0,0 0", "d|Arial 12  0,0,0 0"}},
      {u"<FONT COLOR=\"#1020ff\" CHARSET=\"russian_charset\">x<FONT COLOR=\"nonsense\" CHARSET=\"X\">y",
       {"x|Arial 12  16,32,255 204", "y|Arial 12  0,0,0 0"}},
      // Tags outside the language are drawn as they stand, up to the next "<".
      {u"a<BR>b<b>c", {"a<BR>b|Arial 12  0,0,0 0", "c|Arial 12 B 0,0,0 0"}},
      // Unquoted values end at white space or the tag's end, as in HTML; single quotes
      // hold blanks as double quotes do.
      {u"<FONT FACE=Arial>Hello</FONT> world", {"Hello|Arial 12  0,0,0 0", " world|Arial 12  0,0,0 0"}},
      {u"<FONT FACE=Courier COLOR=red\tSIZE=20>a</FONT>b", {"a|Courier 20  255,0,0 0", "b|Arial 12  0,0,0 0"}},
      {u"<FONT FACE='Times New Roman' SIZE='9'>a", {"a|Times New Roman 9  0,0,0 0"}},
      {u"<FONT SIZE=14>a<FONT COLOR=#00ff00 FACE=\"Courier New\">b", {"a|Arial 14  0,0,0 0", "b|Courier New 12  0,255,0 0"}},
      // An unterminated tag ends with the text.
      {u"a<FONT SIZE=\"30", {"a|Arial 12  0,0,0 0"}},
      {u"x<B", {"x|Arial 12  0,0,0 0"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Runs(c.text), c.runs) << Utf8(c.text);
}

TEST(FormattedText, SizesThatAreNoWholeNumberOfOneOrMoreAreRefused) {
  const std::string notInteger = "is not a valid integer value";
  const std::string range = "a size is a whole number of points, at least 1 and at most 10000";
  struct Case {
    std::u16string size;
    std::string message;
  } cases[] = {
      {u"x", "'x' " + notInteger},
      {u"1.5", "'1.5' " + notInteger},
      {u"", "'' " + notInteger},
      {u"99999999999", "'99999999999' " + notInteger},
      {u"0", "Invalid font size (0): " + range},
      {u"-3", "Invalid font size (-3): " + range},
      {u"10001", "Invalid font size (10001): " + range},
  };
  for (const Case& c : cases) {
    EXPECT_THAT([&] { Runs(u"before<FONT SIZE=\"" + c.size + u"\">after"); },
                ThrowsMessage<EInvalidValueError>(testing::StrEq(c.message)))
        << Utf8(c.size);
  }
  EXPECT_EQ(Runs(u"<FONT SIZE=\"+10000\">a"), std::vector<std::string>{"a|Arial 10000  0,0,0 0"});
}

TEST(FormattedText, RunsFollowEachOtherAndTheUnitComesBack) {
  TksPDFDocument doc;
  ksfixture::Put(doc, 3, "<< /Type /Page /MediaBox [0 0 400 200] >>");
  doc.Pages.push_back(doc.Store->Find(doc.DocumentID, 3, 0));
  ksfixture::SetRoot(doc, 3);
  doc.MeasurementUnit = muMM;
  doc.DrawFormattedText(u"a <FONT SIZE=\"24\">b</FONT>", "1", 10, 10);
  EXPECT_EQ(doc.MeasurementUnit, muMM);
  const std::string contents = ksfixture::OneLineText(AsDict(doc.Pages[0]->Value.get())->Lookup("/Contents"));
  // Two runs, two streams (with the pair that closes off the first).
  EXPECT_EQ(std::count(contents.begin(), contents.end(), 'R'), 4) << contents;
  // A failure half-way leaves the unit as it was too.
  EXPECT_THROW(doc.DrawFormattedText(u"a<FONT SIZE=\"x\">b", "1", 0, 0), EInvalidValueError);
  EXPECT_THROW(doc.DrawFormattedText(u"a", "9", 0, 0), EInvalidPageError);
  EXPECT_EQ(doc.MeasurementUnit, muMM);
}
