// Attaching content to pages: the bracket streams, the array rule, shared and missing
// contents, opacity graphics states, and content made from operators.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "content/ksContentSyntax.h"
#include "document/ksCstPDFDoc.h"
#include "ksFixture.h"
#include "ksObjText.h"

using ksfixture::MemoryDoc;
using ksfixture::OneLineText;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

// Pages 3, 4, ... with the given dictionaries; content streams 10 ("old"), 11 ("a"),
// 12 ("b") and new streams 20, 21, 22 to attach.
struct ContentDoc : MemoryDoc {
  explicit ContentDoc(const std::vector<std::string>& pages) {
    for (size_t i = 0; i < pages.size(); ++i) {
      Put(static_cast<int32_t>(3 + i), pages[i]);
      doc.Pages.push_back(Get(static_cast<int32_t>(3 + i)));
    }
    for (int32_t n : {10, 11, 12, 20, 21, 22}) ksfixture::PutStream(doc, n, "<< >>", "0 g");
    ksfixture::SetRoot(doc, 3);  // new objects are numbered after these, as after a load
  }
  // The page's /Contents with the bracket streams shown as q and Q.
  std::string Contents(int32_t pageNo) {
    std::string text = OneLineText(AsDict(doc.Pages.at(static_cast<size_t>(pageNo - 1))->Value.get())->Lookup("/Contents"));
    const TksPageEditState& s = doc.PageEditState();
    for (auto [number, shown] : {std::pair{s.SaveStreamNumber, "q"}, std::pair{s.RestoreStreamNumber, "Q"}}) {
      const std::string ref = " " + std::to_string(number) + " 0 R ";
      for (size_t at; number > 0 && (at = text.find(ref)) != std::string::npos;)
        text.replace(at, ref.size(), std::string(" ") + shown + " ");
    }
    return text;
  }
  TksPDFIndirectReference Ref(int32_t n) { return TksPDFIndirectReference(doc.DocumentID, n, 0); }
  void Overlay(int32_t pageNo, int32_t n) { doc.AppendPageContent(pageNo - 1, Ref(n), true); }
  void Underlay(int32_t pageNo, int32_t n) { doc.AppendPageContent(pageNo - 1, Ref(n), false); }
};

}  // namespace

TEST(PageContent, SingleStreamIsWrappedOnceThenAppendedTo) {
  ContentDoc d({"<< /Type /Page /Contents 10 0 R >>"});
  d.Overlay(1, 20);
  EXPECT_EQ(d.Contents(1), "[ q 10 0 R Q 20 0 R ]");
  d.Overlay(1, 21);
  EXPECT_EQ(d.Contents(1), "[ q 10 0 R Q 20 0 R 21 0 R ]");
  d.Underlay(1, 22);
  EXPECT_EQ(d.Contents(1), "[ 22 0 R q 10 0 R Q 20 0 R 21 0 R ]");
  // Everything the page now names is written.
  for (int32_t n : {20, 21, 22, d.doc.PageEditState().SaveStreamNumber, d.doc.PageEditState().RestoreStreamNumber})
    EXPECT_GT(d.Get(n)->UseCount, 0) << n;
}

TEST(PageContent, EachKindOfContents) {
  struct Case {
    const char* name;
    std::string page;
    bool overlay;
    std::string contents;  // afterwards
    std::vector<std::string> warnings;
  } cases[] = {
      {"array overlay", "/Contents [11 0 R 12 0 R]", true, "[ q 11 0 R 12 0 R Q 20 0 R ]", {}},
      {"array underlay", "/Contents [11 0 R 12 0 R]", false, "[ 20 0 R 11 0 R 12 0 R ]", {}},
      {"array held by reference", "/Contents 30 0 R", true, "[ q 11 0 R 12 0 R Q 20 0 R ]", {}},
      {"stream underlay", "/Contents 10 0 R", false, "[ 20 0 R 10 0 R ]", {}},
      {"no contents", "", true, "20 0 R", {}},
      {"null contents", "/Contents null", false, "20 0 R", {}},
      {"contents lead nowhere", "/Contents 99 0 R", true, "20 0 R",
       {"The /Contents of page 1 name no object; the new content takes their place"}},
  };
  for (const Case& c : cases) {
    ContentDoc d({"<< /Type /Page " + c.page + " >>"});
    d.Put(30, "[11 0 R 12 0 R]");
    if (c.overlay)
      d.Overlay(1, 20);
    else
      d.Underlay(1, 20);
    EXPECT_EQ(d.Contents(1), c.contents) << c.name;
    EXPECT_EQ(d.warnings, c.warnings) << c.name;
    EXPECT_GT(d.Get(20)->UseCount, 0) << c.name;
  }
}

TEST(ContentSyntax, FaultsWithTheirLineAndColumn) {
  struct Case {
    std::string operators;
    int64_t line, column;  // 0: no fault
    std::string what;
  } cases[] = {
      {"1 0 0 rg 0 0 10 10 re f", 0, 0, ""},
      {"BT (a (nested) \\) string\\\\) Tj ET", 0, 0, ""},
      {"[<41 42\n4>] TJ % a comment (that opens nothing\n<< /A [1 2] >> BDC EMC {}", 0, 0, ""},
      {"BI /W 2 /H 1 /BPC 8 /CS /G ID \x01" "EI\xff" "EIx EI Q", 0, 0, ""},
      {"q\n0 g\r\nBT (unterminated Tj ET", 3, 4, "a string is not closed"},
      {"q\r(a\\) Tj", 2, 1, "a string is not closed"},
      {"<41 4G> Tj", 1, 6, "a hexadecimal string holds 'G'"},
      {"0 g <414", 1, 5, "a hexadecimal string is not closed"},
      {"[1 2 <<", 1, 6, "a dictionary is not closed"},
      {"  [1 2", 1, 3, "an array is not closed"},
      {"[1 >>", 1, 4, "a '>>' closes no dictionary"},
      {"<< /A 1 ]", 1, 9, "a ']' closes no array"},
      {"a) Tj", 1, 2, "a ')' closes no string"},
      {"1 > 2", 1, 3, "a '>' closes no hexadecimal string"},
      {"0 g\n  BI /W 1 /H 1 ID \x02\x01", 2, 3, "an inline image's data do not end with EI"},
      {"BI /W 1 /H 1 EI", 1, 1, "an inline image has no ID before its data"},
      {"BI /W 1", 1, 1, "an inline image has no ID before its data"},
      {"0 g EI", 1, 5, "'EI' stands outside an inline image"},
  };
  for (const Case& c : cases) {
    TksContentScanner scanner;
    EXPECT_EQ(scanner.Scan(c.operators), c.line == 0) << c.operators;
    EXPECT_EQ(scanner.Fault().Line, c.line) << c.operators;
    EXPECT_EQ(scanner.Fault().Column, c.column) << c.operators;
    EXPECT_EQ(scanner.Fault().What, c.what) << c.operators;
  }
}

TEST(ContentSyntax, SavesAndRestoresPairAcrossStreams) {
  struct Case {
    std::vector<std::string> streams;
    int64_t unmatched, open;
  } cases[] = {
      {{"q 0 g Q q Q"}, 0, 0},
      {{"Q Q q"}, 2, 1},
      {{"q", "Q Q"}, 1, 0},  // a page's streams are one sequence
      {{"q q", "Q"}, 0, 1},
      // Only operators count: not names, strings, comments, arrays or image data.
      {{"/Q (Q) % Q\n[/q] BI /W 1 ID Q q EI qQ Qq"}, 0, 0},
  };
  for (const Case& c : cases) {
    TksContentScanner scanner;
    for (const std::string& stream : c.streams) EXPECT_TRUE(scanner.Scan(stream));
    EXPECT_EQ(scanner.UnmatchedRestores(), c.unmatched) << c.streams[0];
    EXPECT_EQ(scanner.OpenSaves(), c.open) << c.streams[0];
  }
}

// A page whose own content restores more than it saved would undo the bracket's q (and
// one that leaves a q open would keep the overlay inside its state): the bracket gets
// one q more per unmatched Q and one Q more per open q, counted in the decoded data of
// all the page's streams.
TEST(PageContent, OverlayBracketPairsThePagesOwnSavesAndRestores) {
  struct Case {
    const char* name;
    std::string page;
    std::vector<std::pair<int32_t, std::string>> streams;  // object number, data
    std::string contents;
    std::vector<std::string> warnings;
  } cases[] = {
      {"balanced", "/Contents 40 0 R", {{40, "q 1 g Q"}}, "[ q 40 0 R Q 20 0 R ]", {}},
      {"one restore too many", "/Contents 40 0 R", {{40, "0 g Q 2 0 0 2 0 0 cm"}}, "[ q q 40 0 R Q 20 0 R ]", {}},
      {"saves left open", "/Contents 40 0 R", {{40, "q 1 g q"}}, "[ q 40 0 R Q Q Q 20 0 R ]", {}},
      {"over an array", "/Contents [40 0 R 41 0 R]", {{40, "Q q q"}, {41, "Q Q Q"}},
       "[ q q q 40 0 R 41 0 R Q 20 0 R ]", {}},
      {"stops at a fault", "/Contents 40 0 R", {{40, "Q (Q Q Q"}}, "[ q q 40 0 R Q 20 0 R ]", {}},
  };
  for (const Case& c : cases) {
    ContentDoc d({"<< /Type /Page " + c.page + " >>"});
    for (const auto& [n, data] : c.streams) ksfixture::PutStream(d.doc, n, "<< >>", data);
    d.Overlay(1, 20);
    EXPECT_EQ(d.Contents(1), c.contents) << c.name;
    EXPECT_EQ(d.warnings, c.warnings) << c.name;
    // A later overlay is not bracketed again.
    d.Overlay(1, 21);
    EXPECT_EQ(d.Contents(1), c.contents.substr(0, c.contents.size() - 1) + "21 0 R ]") << c.name;
  }
  // Compressed data are counted once decoded; data that cannot be decoded are warned
  // about and bracketed as they stand.
  ContentDoc packed({"<< /Type /Page /Contents 40 0 R >>"});
  ksfixture::PutStream(packed.doc, 40, "<< /Filter /FlateDecode >>", ksfixture::Deflate("Q Q 0 g"));
  packed.Overlay(1, 20);
  EXPECT_EQ(packed.Contents(1), "[ q q q 40 0 R Q 20 0 R ]");
  ContentDoc broken({"<< /Type /Page /Contents 40 0 R >>"});
  ksfixture::PutStream(broken.doc, 40, "<< /Filter /FlateDecode >>", "not deflated");
  broken.Overlay(1, 20);
  EXPECT_EQ(broken.Contents(1), "[ q 40 0 R Q 20 0 R ]");
  ASSERT_EQ(broken.warnings.size(), 1u);
  EXPECT_THAT(broken.warnings[0], testing::StartsWith("The content of page 1 cannot be read to pair its q and Q ("));
  // Pages that share a stream have it decoded once.
  ContentDoc shared({"<< /Type /Page /Contents 40 0 R >>", "<< /Type /Page /Contents 40 0 R >>"});
  ksfixture::PutStream(shared.doc, 40, "<< /Filter /FlateDecode >>", ksfixture::Deflate("Q 0 g"));
  shared.Overlay(1, 20);
  const uint64_t decoded = shared.doc.DecodedBytes();
  EXPECT_GT(decoded, 0u);
  shared.Overlay(2, 20);
  EXPECT_EQ(shared.doc.DecodedBytes(), decoded);
  EXPECT_EQ(shared.Contents(2), "[ q q 40 0 R Q 20 0 R ]");
  // An underlay needs no bracket, so nothing is read.
  ContentDoc under({"<< /Type /Page /Contents 40 0 R >>"});
  ksfixture::PutStream(under.doc, 40, "<< >>", "Q Q");
  under.Underlay(1, 20);
  EXPECT_EQ(under.Contents(1), "[ 20 0 R 40 0 R ]");
}

TEST(PageContent, BlankPageNeedsNoBracket) {
  ContentDoc d({"<< /Type /Page >>"});
  d.Overlay(1, 20);
  EXPECT_EQ(d.doc.PageEditState().SaveStreamNumber, -1);
  EXPECT_EQ(d.doc.PageEditState().RestoreStreamNumber, -1);
}

TEST(PageContent, SharedArrayStaysAsOtherPagesShowIt) {
  ContentDoc d({"<< /Type /Page /Contents 30 0 R >>", "<< /Type /Page /Contents 30 0 R >>"});
  d.Put(30, "[11 0 R 12 0 R]");
  d.Overlay(1, 20);
  EXPECT_EQ(d.Contents(1), "[ q 11 0 R 12 0 R Q 20 0 R ]");
  EXPECT_EQ(d.Contents(2), "30 0 R");
  EXPECT_EQ(OneLineText(d.Get(30)->Value.get()), "[ 11 0 R 12 0 R ]");
  d.Underlay(2, 21);
  EXPECT_EQ(d.Contents(2), "[ 21 0 R 11 0 R 12 0 R ]");
  EXPECT_EQ(OneLineText(d.Get(30)->Value.get()), "[ 11 0 R 12 0 R ]");
}

TEST(PageContent, UnexpectedContentsLeaveThePageAlone) {
  for (const std::string page : {"/Contents 5", "/Contents 31 0 R", "/Contents (text)"}) {
    ContentDoc d({"<< /Type /Page " + page + " >>"});
    d.Put(31, "<< /Not /AStream >>");
    const std::string before = OneLineText(d.doc.Pages[0]->Value.get());
    EXPECT_THAT([&] { d.Overlay(1, 20); }, ThrowsMessage<EUnexpectedError>(StrEq("Unexpected content object for page 1")))
        << page;
    EXPECT_EQ(OneLineText(d.doc.Pages[0]->Value.get()), before);
    EXPECT_EQ(d.Get(20)->UseCount, 0) << page;
  }
  ContentDoc d({"<< /Type /Page >>"});
  EXPECT_THAT([&] { d.Overlay(2, 20); }, ThrowsMessage<EInvalidPageError>(StrEq("Invalid page number (2)")));
}

TEST(PageContent, BracketStreamsExistOncePerDocument) {
  ContentDoc d({"<< /Type /Page /Contents 10 0 R >>", "<< /Type /Page /Contents [11 0 R] >>"});
  const int32_t objects = d.doc.Store->Count();
  d.doc.EnsureBracketStreams();
  const TksPageEditState first = d.doc.PageEditState();
  EXPECT_EQ(d.doc.Store->Count(), objects + 2);
  EXPECT_EQ(AsStream(d.Get(first.SaveStreamNumber)->Value.get())->Data->ToString(), "q");
  EXPECT_EQ(AsStream(d.Get(first.RestoreStreamNumber)->Value.get())->Data->ToString(), "Q");
  d.Overlay(1, 20);
  d.Overlay(2, 20);
  d.doc.EnsureBracketStreams();
  EXPECT_EQ(d.doc.PageEditState().SaveStreamNumber, first.SaveStreamNumber);
  EXPECT_EQ(d.doc.PageEditState().RestoreStreamNumber, first.RestoreStreamNumber);
  int brackets = 0;
  for (int32_t i = 0; i < d.doc.Store->Count(); ++i) {
    const auto* stream = AsStream(d.doc.Store->Items(i)->Value.get());
    const std::string data = stream && stream->Data ? stream->Data->ToString() : "";
    if (data == "q" || data == "Q") {
      ++brackets;
      EXPECT_EQ(OneLineText(stream->Dict.get()), "<< /Length 1 >>");
    }
  }
  EXPECT_EQ(brackets, 2);
  d.doc.Reset();
  EXPECT_EQ(d.doc.PageEditState().SaveStreamNumber, -1);
  EXPECT_EQ(d.doc.PageEditState().RestoreStreamNumber, -1);
}

TEST(PageContent, OpacityGraphicsStates) {
  struct Case {
    double fill, stroke;
    const char* text;  // none: no object
  } cases[] = {
      {100, 100, nullptr},
      {50, 100, "<< /CA 1 /ca 0.5000000000 /Type /ExtGState >>"},
      {100, 25, "<< /CA 0.2500000000 /ca 1 /Type /ExtGState >>"},
      {150, -20, "<< /CA 0 /ca 1 /Type /ExtGState >>"},  // held to 0-100
      {200, 300, nullptr},                               // both 100 once held
  };
  for (const Case& c : cases) {
    MemoryDoc m;
    std::unique_ptr<TksPDFIndirectReference> ref = m.doc.CreateOpacityGState(c.fill, c.stroke);
    if (!c.text) {
      EXPECT_EQ(ref, nullptr) << c.fill << " " << c.stroke;
      EXPECT_EQ(m.doc.Store->Count(), 0);
      continue;
    }
    ASSERT_NE(ref, nullptr);
    TksPDFIndirectObject* object = m.doc.Store->Find(*ref);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(OneLineText(object->Value.get()), c.text);
    EXPECT_EQ(object->UseCount, 0) << "written only once a page refers to it";
  }
  MemoryDoc m;
  EXPECT_THAT([&] { m.doc.CreateOpacityGState(std::numeric_limits<double>::quiet_NaN(), 100); },
              ThrowsMessage<EInvalidValueError>(StrEq("A number that is not finite (NaN) cannot be written into a PDF")));
}

TEST(PageContent, AttachedOperatorsAreClosedOffAndShared) {
  ContentDoc d({"<< /Type /Page /Contents 10 0 R >>", "<< /Type /Page /Resources << /ExtGState << >> >> >>",
                "<< /Type /Page /Contents 10 0 R >>"});
  d.doc.MeasurementUnit = muInches;
  TksContentPlacement placement;
  placement.Opacity = 50;
  placement.OffsetX = 1;
  placement.OffsetY = 0.5;
  d.doc.AttachPageContent("1-2", "1 0 0 rg 0 0 10 10 re f\n", placement);
  // One stream for every page, naming one graphics state under one name.
  const auto* ref = AsArray(AsDict(d.doc.Pages[0]->Value.get())->Lookup("/Contents"))->GetItem(3);
  EXPECT_EQ(OneLineText(AsDict(d.doc.Pages[1]->Value.get())->Lookup("/Contents")), OneLineText(ref));
  TksPDFIndirectObject* content = d.doc.Store->Find(*AsRef(ref));
  const std::string text = AsStream(content->Value.get())->Data->ToString();
  const std::string name = text.substr(2, text.find(' ') - 2);
  EXPECT_EQ(text, "q\n" + name + " gs\n1 0 0 1 72 36 cm\n1 0 0 rg 0 0 10 10 re f\nQ\n");
  for (int32_t page : {1, 2}) {
    auto* gstates = AsDict(AsDict(AsDict(d.doc.Pages[static_cast<size_t>(page - 1)]->Value.get())->Lookup("/Resources"))
                               ->Lookup("/ExtGState"));
    ASSERT_NE(gstates, nullptr) << page;
    auto* gstate = d.doc.Store->Find(*AsRef(gstates->Lookup(name)));
    ASSERT_NE(gstate, nullptr) << page;
    EXPECT_EQ(OneLineText(gstate->Value.get()), "<< /CA 0.5000000000 /ca 0.5000000000 /Type /ExtGState >>");
    EXPECT_GT(gstate->UseCount, 0);
  }
  EXPECT_GT(content->UseCount, 0);
  EXPECT_EQ(d.Contents(3), "10 0 R");

  // Opaque and unmoved: the operators alone, with a line end added.
  ContentDoc plain({"<< /Type /Page >>"});
  plain.doc.AttachPageContent("", "0 g", TksContentPlacement());
  auto* alone = plain.doc.Store->Find(*AsRef(AsDict(plain.doc.Pages[0]->Value.get())->Lookup("/Contents")));
  EXPECT_EQ(AsStream(alone->Value.get())->Data->ToString(), "q\n0 g\nQ\n");

  // Operators that restore more than they save, or leave saves open, are paired inside
  // their own bracket.
  for (const auto& [operators, stream] : {std::pair{"Q 0 g", "q\nq\nQ 0 g\nQ\n"}, {"q q 1 g\n", "q\nq q 1 g\nQ\nQ\nQ\n"}}) {
    ContentDoc own({"<< /Type /Page >>"});
    own.doc.AttachPageContent("", operators, TksContentPlacement());
    auto* made = own.doc.Store->Find(*AsRef(AsDict(own.doc.Pages[0]->Value.get())->Lookup("/Contents")));
    EXPECT_EQ(AsStream(made->Value.get())->Data->ToString(), stream) << operators;
  }
  EXPECT_EQ(OneLineText(plain.doc.Pages[0]->Value.get()), "<< /Type /Page /Contents " + std::to_string(alone->ObjectNumber) + " 0 R >>");
}

TEST(PageContent, AttachingRefusedBeforeAnythingIsMade) {
  struct Case {
    std::string range;
    double opacity, offsetX;
    std::string operators, message;
  } cases[] = {
      {"3-2", 50, 0, "0 g", "Invalid page range (3-2)"},
      {"9", 50, 0, "0 g", "Invalid page number (9)"},
      {"1", std::numeric_limits<double>::infinity(), 0, "0 g",
       "A number that is not finite (Infinity) cannot be written into a PDF"},
      {"1", 50, 1e308, "0 g", "A number that is not finite (Infinity) cannot be written into a PDF"},  // in inches
      // Drawn beneath the page, an unterminated string would swallow the page's content.
      {"1", 50, 0, "0 g\nBT (never closed Tj ET",
       "The content operators do not parse at line 2, column 4: a string is not closed; no page was changed"},
      {"1", 50, 0, "[1 2 3", "The content operators do not parse at line 1, column 1: an array is not closed; no page was changed"},
  };
  for (const Case& c : cases) {
    ContentDoc d({"<< /Type /Page /Contents 10 0 R >>"});
    d.doc.MeasurementUnit = muInches;
    const int32_t objects = d.doc.Store->Count();
    TksContentPlacement placement;
    placement.Opacity = c.opacity;
    placement.OffsetX = c.offsetX;
    placement.Overlay = false;
    EXPECT_THAT([&] { d.doc.AttachPageContent(c.range, c.operators, placement); },
                ThrowsMessage<Exception>(StrEq(c.message)))
        << c.range;
    EXPECT_EQ(d.doc.Store->Count(), objects) << c.range;
    EXPECT_EQ(d.Contents(1), "10 0 R");
  }
}
