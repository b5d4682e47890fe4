// Attaching content to pages: the bracket streams, the array rule, shared and missing
// contents, opacity graphics states, and content made from operators.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "document/ksCstPDFDoc.h"
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
  EXPECT_EQ(OneLineText(plain.doc.Pages[0]->Value.get()), "<< /Type /Page /Contents " + std::to_string(alone->ObjectNumber) + " 0 R >>");
}

TEST(PageContent, AttachingRefusedBeforeAnythingIsMade) {
  struct Case {
    std::string range;
    double opacity, offsetX;
    std::string message;
  } cases[] = {
      {"3-2", 50, 0, "Invalid page range (3-2)"},
      {"9", 50, 0, "Invalid page number (9)"},
      {"1", std::numeric_limits<double>::infinity(), 0, "A number that is not finite (Infinity) cannot be written into a PDF"},
      {"1", 50, 1e308, "A number that is not finite (Infinity) cannot be written into a PDF"},  // in inches
  };
  for (const Case& c : cases) {
    ContentDoc d({"<< /Type /Page /Contents 10 0 R >>"});
    d.doc.MeasurementUnit = muInches;
    const int32_t objects = d.doc.Store->Count();
    TksContentPlacement placement;
    placement.Opacity = c.opacity;
    placement.OffsetX = c.offsetX;
    EXPECT_THAT([&] { d.doc.AttachPageContent(c.range, "0 g", placement); },
                ThrowsMessage<EPDFException>(StrEq(c.message)))
        << c.range;
    EXPECT_EQ(d.doc.Store->Count(), objects) << c.range;
    EXPECT_EQ(d.Contents(1), "10 0 R");
  }
}
