// The structure walk: catalog, page tree, events, following and keeping what is reached.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "ksObjText.h"
#include "base/ksPDFResStrs.h"
#include "ksPlatform.h"

using ksfixture::Put;
using ksfixture::SetRoot;
using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

std::string Text(const TksPDFObject* v) { return ksfixture::OneLineText(v); }

// A document whose events are recorded in one list, in the order they come.
struct WalkDoc : ksfixture::MemoryDoc {
  std::vector<std::string> events;
  WalkDoc() {
    doc.OnStatusMessage = [this](TksCustomPDFDocument*, const std::string& s) { events.push_back(s); };
    doc.OnIOProgress = [this](TksCustomPDFDocument*, int p) { events.push_back(std::to_string(p)); };
  }
  std::string PageText(int index) { return Text(doc.Pages.at(index)->Value.get()); }
  void Read(int32_t root = 1) {
    SetRoot(doc, root);
    doc.ReadStructure();
  }
};

// Catalog 1, page tree 2, one page 3.
void OnePage(WalkDoc& w, const std::string& catalogExtra = "") {
  w.Put(1, "<< /Type /Catalog /Pages 2 0 R " + catalogExtra + " >>");
  w.Put(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  w.Put(3, "<< /Type /Page /MediaBox [0 0 612 792] >>");
}

}  // namespace

TEST(Walk, EventsComeInTheirOrder) {
  struct Case {
    const char* name;
    std::string catalogExtra;
    std::vector<std::string> events;
  } cases[] = {
      {"bare catalog", "",
       {"10", "Traversing Pages...", "75", "30", "Processing Annotations...", "90", "60", "Reading Outlines...",
        "100"}},
      {"every part",
       "/Dests << >> /AcroForm << /Fields [] >> /Names << >> /Outlines << /Type /Outlines >>",
       {"10", "Traversing Pages...", "75", "Processing Destinations", "30", "Processing Annotations...", "90",
        "AcroForms Processed", "Processing Name Tree...", "60", "Reading Outlines...", "100"}},
  };
  for (const auto& c : cases) {
    WalkDoc w;
    OnePage(w, c.catalogExtra);
    w.Read();
    EXPECT_EQ(w.events, c.events) << c.name;
    EXPECT_EQ(w.doc.PageCount(), 1) << c.name;
  }
}

TEST(Walk, NestedPageTreesInheritFromTheNearestAncestor) {
  WalkDoc w;
  w.Put(1, "<< /Type /Catalog /Pages 2 0 R >>");
  w.Put(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /MediaBox [0 0 612 792] /Rotate 90 /Resources 20 0 R >>");
  w.Put(3, "<< /Type /Page /Parent 2 0 R /B [30 0 R] >>");
  w.Put(7, "<< /Type /Thread /F 30 0 R >>");
  w.Put(4, "<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 6 0 R] /MediaBox [0 0 595 842] /CropBox [1 1 2 2] >>");
  w.Put(5, "<< /Type /Page /Parent 4 0 R >>");
  w.Put(6, "<< /Type /Page /Parent 4 0 R /MediaBox [0 0 100 100] /Rotate 0 >>");
  w.Put(20, "<< /Font << /F1 21 0 R >> >>");
  w.Put(21, "<< /Type /Font /BaseFont /Helvetica >>");
  w.Put(30, "<< /T 7 0 R /N 30 0 R /V 30 0 R /P 3 0 R /R [0 0 1 1] >>");
  w.Read();

  ASSERT_EQ(w.doc.PageCount(), 3);
  // Inherited entries come in the order they are inherited in: rotation, boxes, resources.
  // Article beads (/B) stay with their page.
  EXPECT_EQ(w.PageText(0), "<< /Type /Page /B [ 30 0 R ] /Rotate 90 /MediaBox [ 0 0 612 792 ] /Resources 20 0 R >>");
  EXPECT_EQ(w.PageText(1),
            "<< /Type /Page /Rotate 90 /MediaBox [ 0 0 595 842 ] /Resources 20 0 R /CropBox [ 1 1 2 2 ] >>");
  EXPECT_EQ(w.PageText(2),
            "<< /Type /Page /MediaBox [ 0 0 100 100 ] /Rotate 0 /Resources 20 0 R /CropBox [ 1 1 2 2 ] >>");
  // What only an intermediate node held is reached through the pages that inherit it;
  // the nodes themselves are not written. The bead and its thread are.
  EXPECT_GT(w.Get(20)->UseCount, 0);
  EXPECT_GT(w.Get(21)->UseCount, 0);
  EXPECT_EQ(w.Get(2)->UseCount, 0);
  EXPECT_EQ(w.Get(4)->UseCount, 0);
  EXPECT_GT(w.Get(30)->UseCount, 0);
  EXPECT_GT(w.Get(7)->UseCount, 0);
  for (int n : {5, 6}) EXPECT_EQ(w.Get(n)->UseCount, 1) << n;
}

TEST(Walk, PageModeAndLayoutFromTheirNames) {
  // Names outside the enumerations are kept as they stand (not a string, though).
  struct Case {
    const char* entries;
    TksPageMode mode;
    TksPageLayout layout;
    const char* otherMode;
    const char* otherLayout;
  } cases[] = {
      {"", pmNone, plNone, "", ""},
      {"/PageMode /UseNone /PageLayout /None", pmNone, plNone, "", ""},
      {"/PageMode /UseOutlines /PageLayout /SinglePage", pmUseOutlines, plSinglePage, "", ""},
      {"/PageMode /UseThumbs /PageLayout /OneColumn", pmUseThumbs, plOneColumn, "", ""},
      {"/PageMode /FullScreen /PageLayout /TwoColumnLeft", pmFullScreen, plTwoColumnLeft, "", ""},
      {"/PageMode /UseAttachments /PageLayout /TwoColumnRight", pmUseAttachments, plTwoColumnRight, "", ""},
      {"/PageMode /UseOC /PageLayout /TwoPageLeft", pmNone, plNone, "/UseOC", "/TwoPageLeft"},
      {"/PageLayout /TwoPageRight", pmNone, plNone, "", "/TwoPageRight"},
      {"/PageMode /useoutlines /PageLayout (SinglePage)", pmNone, plNone, "/useoutlines", ""},
  };
  for (const auto& c : cases) {
    WalkDoc w;
    OnePage(w, c.entries);
    w.Read();
    EXPECT_EQ(w.doc.PageMode, c.mode) << c.entries;
    EXPECT_EQ(w.doc.PageLayout, c.layout) << c.entries;
    EXPECT_EQ(w.doc.OtherPageMode, c.otherMode) << c.entries;
    EXPECT_EQ(w.doc.OtherPageLayout, c.otherLayout) << c.entries;
  }
}

// Page tree entries viewers accept: without /Type, known by their keys (and written with
// it); missing, of another kind or of no kind: skipped. Each with a warning, the pages
// around them kept.
TEST(Walk, PageTreeDefectsAreSkippedOrRecognised) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, std::string>> objects;  // 2 is the root, 3 and 5 are pages
    std::vector<std::string> pages;
    std::vector<std::string> warnings;
  } cases[] = {
      {"node without /Type",
       {{2, "<< /Kids [4 0 R 5 0 R] >>"}, {4, "<< /Kids [3 0 R] /Rotate 90 >>"}},
       {"<< /Type /Page /MediaBox [ 0 0 1 1 ] /Rotate 90 >>", "<< /Type /Page /MediaBox [ 0 0 2 2 ] >>"},
       {"Page tree entry (object 2) has no /Type; it is read as a page tree node",
        "Page tree entry (object 4) has no /Type; it is read as a page tree node"}},
      {"pages without /Type",
       {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R 6 0 R 7 0 R 5 0 R] >>"},
        {4, "<< /Contents 8 0 R >>"},
        {6, "<< /Resources << >> >>"},
        {7, "<< /MediaBox [0 0 3 3] >>"},
        {8, "<< /Length 0 >>"}},
       {"<< /Type /Page /MediaBox [ 0 0 1 1 ] >>", "<< /Contents 8 0 R /Type /Page >>",
        "<< /Resources << >> /Type /Page >>", "<< /MediaBox [ 0 0 3 3 ] /Type /Page >>",
        "<< /Type /Page /MediaBox [ 0 0 2 2 ] >>"},
       {"Page tree entry (object 4) has no /Type; it is read as a page",
        "Page tree entry (object 6) has no /Type; it is read as a page",
        "Page tree entry (object 7) has no /Type; it is read as a page"}},
      {"page without /Type inheriting a box",
       {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /MediaBox [0 0 9 9] >>"}, {4, "<< /Rotate 180 >>"}},
       {"<< /Type /Page /MediaBox [ 0 0 1 1 ] >>", "<< /Rotate 180 /Type /Page /MediaBox [ 0 0 9 9 ] >>"},
       {"Page tree entry (object 4) has no /Type; it is read as a page"}},
      {"neither page nor node",
       {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] >>"}, {4, "<< /Rotate 180 >>"}},
       {"<< /Type /Page /MediaBox [ 0 0 1 1 ] >>", "<< /Type /Page /MediaBox [ 0 0 2 2 ] >>"},
       {"Page tree entry (object 4) is neither a page nor a page tree node; it is skipped"}},
      {"other /Type",
       {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] >>"}, {4, "<< /Type /Annot /MediaBox [0 0 1 1] >>"}},
       {"<< /Type /Page /MediaBox [ 0 0 1 1 ] >>", "<< /Type /Page /MediaBox [ 0 0 2 2 ] >>"},
       {"Page tree entry (object 4) is neither a page nor a page tree node; it is skipped"}},
      {"kid missing",
       {{2, "<< /Type /Pages /Kids [9 0 R 3 0 R 5 0 R] >>"}},
       {"<< /Type /Page /MediaBox [ 0 0 1 1 ] >>", "<< /Type /Page /MediaBox [ 0 0 2 2 ] >>"},
       {"Page tree entry (object 9) is missing or not a dictionary; it is skipped"}},
      {"kid not a dictionary",
       {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] >>"}, {4, "[/Type /Page]"}},
       {"<< /Type /Page /MediaBox [ 0 0 1 1 ] >>", "<< /Type /Page /MediaBox [ 0 0 2 2 ] >>"},
       {"Page tree entry (object 4) is missing or not a dictionary; it is skipped"}},
  };
  for (const auto& c : cases) {
    WalkDoc w;
    w.Put(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Put(3, "<< /Type /Page /MediaBox [0 0 1 1] >>");
    w.Put(5, "<< /Type /Page /MediaBox [0 0 2 2] >>");
    for (const auto& [n, text] : c.objects) w.Put(n, text);
    w.Read();
    std::vector<std::string> pages;
    for (int i = 0; i < w.doc.PageCount(); ++i) pages.push_back(w.PageText(i));
    EXPECT_EQ(pages, c.pages) << c.name;
    EXPECT_EQ(w.warnings, c.warnings) << c.name;
  }
}

TEST(Walk, BrokenStructuresEndWithClearErrors) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, std::string>> objects;
    std::string message;
  };
  const Case corrupted[] = {
      {"root missing", {}, "Page tree root (object 2) is missing or is neither a page nor a page tree node"},
      {"root of another kind", {{2, "<< /Type /Catalog >>"}},
       "Page tree root (object 2) is missing or is neither a page nor a page tree node"},
      {"kid is its own ancestor",
       {{2, "<< /Type /Pages /Kids [3 0 R] >>"}, {3, "<< /Type /Pages /Kids [4 0 R 2 0 R] >>"},
        {4, "<< /Type /Page >>"}},
       "Page tree refers back to object 2"},
      {"node listed twice",
       {{2, "<< /Type /Pages /Kids [3 0 R 3 0 R] >>"}, {3, "<< /Type /Pages /Kids [4 0 R] >>"},
        {4, "<< /Type /Page >>"}},
       "Page tree refers back to object 3"},
  };
  for (const auto& c : corrupted) {
    WalkDoc w;
    w.Put(1, "<< /Type /Catalog /Pages 2 0 R >>");
    for (const auto& [n, text] : c.objects) w.Put(n, text);
    SetRoot(w.doc, 1);
    EXPECT_THAT([&] { w.doc.ReadStructure(); }, ThrowsMessage<EPDFFileCorruptedError>(StrEq(c.message))) << c.name;
  }

  const Case wrongKind[] = {
      {"/Pages direct", {{1, "<< /Type /Catalog /Pages << /Type /Pages /Kids [] >> >>"}},
       "Expected an indirect reference in /Pages"},
      {"/Pages absent", {{1, "<< /Type /Catalog >>"}}, "Expected an indirect reference in /Pages"},
      {"kid direct", {{1, "<< /Type /Catalog /Pages 2 0 R >>"}, {2, "<< /Type /Pages /Kids [<< /Type /Page >>] >>"}},
       "Expected an indirect reference in /Kids"},
      {"/Kids a name", {{1, "<< /Type /Catalog /Pages 2 0 R >>"}, {2, "<< /Type /Pages /Kids /None >>"}},
       "Unexpected PDF object encountered"},
  };
  for (const auto& c : wrongKind) {
    WalkDoc w;
    for (const auto& [n, text] : c.objects) w.Put(n, text);
    SetRoot(w.doc, 1);
    EXPECT_THAT([&] { w.doc.ReadStructure(); }, ThrowsMessage<EUnexpectedObjectError>(StrEq(c.message))) << c.name;
  }

  {
    WalkDoc w;
    SetRoot(w.doc, 1);
    EXPECT_THAT([&] { w.doc.ReadStructure(); },
                ThrowsMessage<EPDFFileCorruptedError>(StrEq("Document catalog (object 1) not found")));
    w.Put(1, "[/Catalog]");
    EXPECT_THAT([&] { w.doc.ReadStructure(); },
                ThrowsMessage<EPDFFileCorruptedError>(StrEq("Document catalog (object 1) is not a dictionary")));
  }
}

TEST(Walk, DeepPageTreesAreRefused) {
  WalkDoc w;
  w.Put(1, "<< /Type /Catalog /Pages 2 0 R >>");
  const int depth = 600;
  for (int n = 2; n < 2 + depth; ++n) w.Put(n, "<< /Type /Pages /Kids [" + std::to_string(n + 1) + " 0 R] >>");
  w.Put(2 + depth, "<< /Type /Page >>");
  SetRoot(w.doc, 1);
  EXPECT_THAT([&] { w.doc.ReadStructure(); },
              ThrowsMessage<EPDFFileCorruptedError>(StrEq("Page tree nested deeper than 512 levels")));
}

TEST(Walk, EmptyKidSlotsHoldNoPage) {
  WalkDoc w;
  w.Put(1, "<< /Type /Catalog /Pages 2 0 R >>");
  w.Put(2, "<< /Type /Pages /Kids [null 3 0 R null] >>");
  w.Put(3, "<< /Type /Page >>");
  w.Read();
  EXPECT_EQ(w.doc.PageCount(), 1);
}

TEST(Walk, TwentyThousandPagesInTwoLevels) {
  WalkDoc w;
  w.Put(1, "<< /Type /Catalog /Pages 2 0 R >>");
  const int groups = 200, perGroup = 100;
  std::string rootKids;
  int next = 10;
  for (int g = 0; g < groups; ++g) {
    int node = next++;
    rootKids += std::to_string(node) + " 0 R ";
    std::string kids;
    for (int p = 0; p < perGroup; ++p) {
      int page = next++;
      kids += std::to_string(page) + " 0 R ";
      w.Put(page, "<< /Type /Page /Contents 3 0 R >>");
    }
    w.Put(node, "<< /Type /Pages /Kids [" + kids + "] >>");
  }
  w.Put(2, "<< /Type /Pages /Kids [" + rootKids + "] /Resources << /Font << >> >> /MediaBox [0 0 612 792] >>");
  w.Put(3, "<< /Length 0 >>");
  w.Read();
  ASSERT_EQ(w.doc.PageCount(), groups * perGroup);
  EXPECT_EQ(w.doc.Pages.front()->ObjectNumber, 11);
  EXPECT_EQ(w.doc.Pages.back()->ObjectNumber, next - 1);
  EXPECT_EQ(w.Get(3)->UseCount, groups * perGroup);
}

TEST(Walk, AnnotationsPointingBackToTheirPageAreMarkedOnce) {
  WalkDoc w;
  w.Put(1, "<< /Type /Catalog /Pages 2 0 R >>");
  w.Put(2, "<< /Type /Pages /Kids [3 0 R] >>");
  w.Put(3, "<< /Type /Page /Annots [10 0 R 11 0 R] >>");
  w.Put(10, "<< /Type /Annot /Subtype /Text /P 3 0 R /Popup 11 0 R >>");
  w.Put(11, "<< /Type /Annot /Subtype /Popup /P 3 0 R /Parent 10 0 R >>");
  w.Read();
  // Reached from the page's list and from each other: marked on each reach, followed once.
  EXPECT_EQ(w.Get(10)->UseCount, 2);
  EXPECT_EQ(w.Get(11)->UseCount, 2);
  EXPECT_EQ(w.Get(3)->UseCount, 3);
}

TEST(Walk, StoredButUnfollowedObjectsAreFollowedWhenFirstReached) {
  // Objects expanded from object streams sit in the store before the walk: what they
  // refer to must still be reached.
  WalkDoc v;
  v.Put(1, "<< /Type /Catalog /Pages 2 0 R >>");
  v.Put(2, "<< /Type /Pages /Kids [3 0 R] >>");
  v.Put(3, "<< /Type /Page /Resources 20 0 R >>");
  v.Put(20, "<< /Font << /F1 21 0 R >> /XObject << /X1 22 0 R >> >>");
  v.Put(21, "<< /Type /Font /FontDescriptor 23 0 R >>");
  ksfixture::PutStream(v.doc, 22, "<< /Type /XObject /Subtype /Form /Resources << /Font << /F2 24 0 R >> >> >>", "q Q");
  v.Put(23, "<< /Type /FontDescriptor >>");
  v.Put(24, "<< /Type /Font >>");
  v.Put(25, "<< /Unreached true >>");
  v.Read();
  for (int n : {20, 21, 22, 23, 24}) EXPECT_EQ(v.Get(n)->UseCount, 1) << n;
  EXPECT_EQ(v.Get(25)->UseCount, 0);
}

TEST(Walk, InvalidReferencesAndStreamsInArraysOnlyWarn) {
  WalkDoc w;
  w.Put(1, "<< /Type /Catalog /Pages 2 0 R >>");
  w.Put(2, "<< /Type /Pages /Kids [3 0 R] >>");
  w.Put(3, "<< /Type /Page /Contents [0 0 R -4 0 R 5 0 R] >>");
  ksfixture::PutStream(w.doc, 5, "<< >>", "BT ET");
  w.Read();
  EXPECT_THAT(w.warnings, ElementsAre("Invalid Object number in PDF (0)", "Invalid Object number in PDF (-4)"));
  EXPECT_EQ(w.Get(5)->UseCount, 1);

  // A stream value inside an array cannot come from a file, but the walk still survives it.
  TksPDFArrayObject array;
  array.Add(std::make_unique<TksPDFStreamObject>());
  w.warnings.clear();
  w.doc.MarkReachable(&array);
  EXPECT_THAT(w.warnings, ElementsAre("Stream Object found inside Array!"));
}

TEST(Walk, DocumentInformationIsTakenWithOrWithoutProducer) {
  struct Case {
    const char* info;
    const char* title;
    const char* author;
  } cases[] = {
      {"<< /Title (Report) /Author (Ann) >>", "Report", "Ann"},
      {"<< /Title (Report) /Producer (Some tool) >>", "Report", ""},
      {"<< /Title 8 0 R >>", "Indirect title", ""},
      {"<< /Title <FEFF00C400DF> /Author <416E6E> >>", "\u00C4\u00DF", "Ann"},
  };
  for (const auto& c : cases) {
    WalkDoc w;
    OnePage(w);
    w.Put(7, c.info);
    w.Put(8, "(Indirect title)");
    w.doc.Trailer.InfoReference = std::make_unique<TksPDFIndirectReference>(w.doc.DocumentID, 7, 0);
    w.Read();
    EXPECT_EQ(w.doc.Info().Title(), ksplatform::Utf8ToUtf16(c.title)) << c.info;
    EXPECT_EQ(w.doc.Info().Author(), ksplatform::Utf8ToUtf16(c.author)) << c.info;
    // The dictionary becomes object 2 on save: the source object is not written again.
    EXPECT_EQ(w.Get(7)->UseCount, 0) << c.info;
  }

  WalkDoc w;
  OnePage(w);
  w.Put(7, "(not a dictionary)");
  w.doc.Trailer.InfoReference = std::make_unique<TksPDFIndirectReference>(w.doc.DocumentID, 7, 0);
  w.Read();
  EXPECT_TRUE(w.doc.Info().IsEmpty());
  EXPECT_THAT(w.warnings, ElementsAre("Document information (object 7) is not a dictionary; it is left out"));
}

TEST(Walk, CatalogEntriesAreKeptOrRebuilt) {
  WalkDoc w;
  OnePage(w,
          "/Version /1.7 /Lang (en-GB) /StructTreeRoot 30 0 R /MarkInfo << /Marked true >> /PageLabels 31 0 R "
          "/Extensions << /ADBE << >> >> /Perms << /DocMDP 32 0 R >> /ViewerPreferences << /FitWindow true >> "
          "/Metadata 33 0 R /OpenAction [3 0 R /Fit] /AA << /WC 34 0 R >> /Dests 35 0 R /OCProperties null");
  w.Put(30, "<< /Type /StructTreeRoot /K 36 0 R >>");
  w.Put(31, "<< /Nums [0 << /S /D >>] >>");
  w.Put(32, "<< /Type /Sig >>");
  ksfixture::PutStream(w.doc, 33, "<< /Type /Metadata /Subtype /XML >>", "<x/>");
  w.Put(34, "<< /S /JavaScript /JS (app.alert(1)) >>");
  w.Put(35, "<< /Intro [3 0 R /Fit] >>");
  w.Put(36, "<< /Type /StructElem /Pg 3 0 R >>");
  w.Read();

  const TksPDFCatalog& cat = *w.doc.Catalog;
  EXPECT_EQ(Text(cat.OtherEntries.get()),
            "<< /Lang (en-GB) /StructTreeRoot 30 0 R /MarkInfo << /Marked true >> /PageLabels 31 0 R "
            "/Dests 35 0 R >>");
  for (int n : {30, 31, 33, 34, 35, 36}) EXPECT_GT(w.Get(n)->UseCount, 0) << n;
  EXPECT_EQ(w.Get(32)->UseCount, 0);
  EXPECT_EQ(Text(cat.Metadata.get()), "33 0 R");
  EXPECT_EQ(Text(cat.OpenAction.get()), "[ 3 0 R /Fit ]");
  EXPECT_EQ(Text(cat.AA.get()), "<< /WC 34 0 R >>");
  EXPECT_TRUE(w.doc.ViewerPreferences().FitWindow());
  EXPECT_EQ(cat.Names, nullptr);
  EXPECT_EQ(cat.AcroForm, nullptr);
}

TEST(Walk, NamedDestinationsAreReplacedEverywhere) {
  WalkDoc w;
  w.Put(1,
        "<< /Type /Catalog /Pages 2 0 R /Names 40 0 R /Dests 41 0 R /OpenAction << /S /GoTo /D (intro) >> >>");
  w.Put(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] >>");
  w.Put(3, "<< /Type /Page /Annots [10 0 R 11 0 R 12 0 R 13 0 R 14 0 R] >>");
  w.Put(4, "<< /Type /Page /AA << /O << /S /GoTo /D /old >> >> >>");
  w.Put(10, "<< /Subtype /Link /Dest (intro) >>");
  w.Put(11, "<< /Subtype /Link /Dest (unknown) >>");
  w.Put(12, "<< /Subtype /Link /A << /S /GoToR /F (other.pdf) /D (intro) >> >>");
  w.Put(13, "<< /Subtype /Link /Dest <696E74726F> >>");
  w.Put(14, "<< /Subtype /Link /A << /S /GoTo /D (nowhere) >> >>");
  w.Put(40, "<< /Dests 42 0 R >>");
  w.Put(41, "<< /old [4 0 R /Fit] >>");
  w.Put(42, "<< /Kids [43 0 R 44 0 R] >>");
  w.Put(43, "<< /Limits [(intro) (intro)] /Names [(intro) 45 0 R] >>");
  w.Put(44, "<< /Names [(nowhere) null (direct) [4 0 R /XYZ 0 0 0] (boxed) << /D [3 0 R /FitH 5] >>] >>");
  w.Put(45, "<< /D [3 0 R /XYZ 0 792 0] >>");
  w.Read();

  EXPECT_EQ(Text(w.Get(10)->Value.get()), "<< /Subtype /Link /Dest [ 3 0 R /XYZ 0 792 0 ] >>");
  EXPECT_EQ(Text(w.Get(11)->Value.get()), "<< /Subtype /Link /Dest (unknown) >>");
  EXPECT_EQ(Text(w.Get(12)->Value.get()), "<< /Subtype /Link /A << /S /GoToR /F (other.pdf) /D (intro) >> >>");
  EXPECT_EQ(Text(w.Get(13)->Value.get()), "<< /Subtype /Link /Dest [ 3 0 R /XYZ 0 792 0 ] >>");
  EXPECT_EQ(Text(w.Get(14)->Value.get()), "<< /Subtype /Link /A << /S /GoTo /D null >> >>");
  EXPECT_EQ(Text(w.Get(4)->Value.get()), "<< /Type /Page /AA << /O << /S /GoTo /D [ 4 0 R /Fit ] >> >> >>");
  EXPECT_EQ(Text(w.doc.Catalog->OpenAction.get()), "<< /S /GoTo /D [ 3 0 R /XYZ 0 792 0 ] >>");

  std::vector<std::string> names;
  for (const auto& [name, dest] : w.doc.Dests) names.push_back(name + " " + Text(dest.get()));
  EXPECT_THAT(names, ElementsAre("old [ 4 0 R /Fit ]", "intro [ 3 0 R /XYZ 0 792 0 ]", "nowhere null",
                                 "direct [ 4 0 R /XYZ 0 0 0 ]", "boxed [ 3 0 R /FitH 5 ]"));
  EXPECT_EQ(Text(w.doc.FindDest("boxed").get()), "[ 3 0 R /FitH 5 ]");
  EXPECT_EQ(w.doc.FindDest("Intro"), nullptr);
  // Every tree of the name dictionary is kept.
  for (int n : {40, 41, 42, 43, 44, 45}) EXPECT_GT(w.Get(n)->UseCount, 0) << n;
  EXPECT_EQ(Text(w.doc.Catalog->Names.get()), "40 0 R");
}

TEST(Walk, TheFirstOfTwoEqualNamesWins) {
  WalkDoc w;
  OnePage(w, "/Dests << /a [3 0 R /Fit] /a [3 0 R /FitH 1] >>");
  w.Read();
  EXPECT_EQ(Text(w.doc.FindDest("a").get()), "[ 3 0 R /Fit ]");
  // Names added later are found too.
  w.doc.Dests.emplace_back("b", std::make_unique<TksPDFNullObject>());
  EXPECT_EQ(Text(w.doc.FindDest("b").get()), "null");
}

// Values no destination can have: the name is left out of the table, so links to it
// keep the name, with a warning; the load goes on.
TEST(Walk, UnusableNamedDestinationsAreLeftUnresolved) {
  struct Case {
    const char* name;
    std::string catalogExtra;
    std::vector<std::pair<int, std::string>> objects;
  } cases[] = {
      {"/Dests value a number", "/Dests << /a 5 /b [3 0 R /Fit] >>", {}},
      {"name tree value a number", "/Names << /Dests << /Names [(a) 5 (b) [3 0 R /Fit]] >> >>", {}},
      {"name tree value refers to a string", "/Names << /Dests << /Names [(a) 9 0 R (b) [3 0 R /Fit]] >> >>",
       {{9, "(x)"}}},
      {"dictionary without /D", "/Dests << /a << /S /GoTo >> /b [3 0 R /Fit] >>", {}},
  };
  for (const auto& c : cases) {
    WalkDoc w;
    OnePage(w, c.catalogExtra + " /OpenAction << /S /GoTo /D (a) >>");
    w.Put(3, "<< /Type /Page /MediaBox [0 0 612 792] /Annots [4 0 R] >>");
    w.Put(4, "<< /Subtype /Link /Dest (a) >>");
    for (const auto& [n, text] : c.objects) w.Put(n, text);
    w.Read();
    EXPECT_THAT(w.warnings, ElementsAre("Named destination \"a\" is not a destination; links to it keep the name"))
        << c.name;
    EXPECT_EQ(w.doc.FindDest("a"), nullptr) << c.name;
    EXPECT_EQ(Text(w.doc.FindDest("b").get()), "[ 3 0 R /Fit ]") << c.name;
    EXPECT_EQ(Text(w.doc.Catalog->OpenAction.get()), "<< /S /GoTo /D (a) >>") << c.name;
    EXPECT_EQ(Text(w.Get(4)->Value.get()), "<< /Subtype /Link /Dest (a) >>") << c.name;
    EXPECT_EQ(w.doc.PageCount(), 1) << c.name;
  }
}

TEST(Walk, BrokenDestinationTablesAreRefused) {
  WalkDoc w;
  OnePage(w, "/Names << /Dests 9 0 R >>");
  w.Put(9, "<< /Kids [10 0 R] >>");
  w.Put(10, "<< /Kids [9 0 R] >>");
  SetRoot(w.doc, 1);
  EXPECT_THAT([&] { w.doc.ReadStructure(); },
              ThrowsMessage<EPDFFileCorruptedError>(StrEq("Name tree refers back to object 9")));

  WalkDoc v;
  OnePage(v, "/Names << /Dests (tree) >>");
  SetRoot(v.doc, 1);
  EXPECT_THAT([&] { v.doc.ReadStructure(); },
              ThrowsMessage<EUnexpectedObjectError>(StrEq("Unexpected PDF object encountered")));
}

TEST(Walk, ResetDropsWhatTheWalkBuilt) {
  WalkDoc w;
  OnePage(w, "/Dests << /a [3 0 R /Fit] >> /Outlines << /First 5 0 R >> /AcroForm << /Fields [6 0 R] >>");
  w.Put(5, "<< /Title (One) >>");
  w.Put(6, "<< /T (f) /FT /Tx >>");
  w.Read();
  ASSERT_EQ(w.doc.OutlineCount, 2);
  ASSERT_EQ(w.doc.AcroFormFields.size(), 1u);
  w.doc.Reset();
  EXPECT_EQ(w.doc.PageCount(), 0);
  EXPECT_EQ(w.doc.OutlineRoot, nullptr);
  EXPECT_EQ(w.doc.OutlineCount, 0);
  EXPECT_TRUE(w.doc.AcroFormFields.empty());
  EXPECT_TRUE(w.doc.Dests.empty());
  EXPECT_EQ(w.doc.FindDest("a"), nullptr);
  EXPECT_EQ(w.doc.Catalog->OtherEntries->Count(), 0);
}
