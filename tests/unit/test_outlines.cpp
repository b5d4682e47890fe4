// Outlines: reading the tree, normalising destinations and actions, rebuilding on save.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "ksObjText.h"
#include "base/ksPDFResStrs.h"

using ksfixture::SetRoot;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

std::string Text(const TksPDFObject* v) { return ksfixture::OneLineText(v); }

struct OutlineDoc : ksfixture::MemoryDoc {
  TksPDFObjectStore saveStore;
  // Catalog 1 with /Outlines 10 0 R (or what is given), pages 3 and 4 under 2.
  void Read(const std::string& outlines = "10 0 R", const std::string& catalogExtra = "") {
    Put(1, "<< /Type /Catalog /Pages 2 0 R /Outlines " + outlines + " " + catalogExtra + " >>");
    Put(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] >>");
    Put(3, "<< /Type /Page >>");
    Put(4, "<< /Type /Page >>");
    SetRoot(doc, 1);
    doc.ReadStructure();
  }
  // The built objects by number, as text.
  std::map<int32_t, std::string> Build() {
    doc.BuildOutlines(saveStore);
    std::map<int32_t, std::string> built;
    for (int32_t i = 0; i < saveStore.Count(); ++i) {
      TksPDFIndirectObject* o = saveStore.Items(i);
      EXPECT_EQ(o->UseCount, 1);
      built[o->ObjectNumber] = Text(o->Value.get());
    }
    return built;
  }
  std::vector<std::string> Titles() {
    std::vector<std::string> titles;
    std::vector<const TksPDFOutline*> pending;
    if (doc.OutlineRoot && doc.OutlineRoot->First) pending.push_back(doc.OutlineRoot->First.get());
    while (!pending.empty()) {
      const TksPDFOutline* item = pending.back();
      pending.pop_back();
      std::string depth;
      for (const TksPDFOutline* p = item->Parent; p && p != doc.OutlineRoot.get(); p = p->Parent) depth += "-";
      titles.push_back(depth + (item->Dict() ? Text(item->Dict()->Lookup("/Title")) : std::string("?")));
      if (item->Next) pending.push_back(item->Next.get());
      if (item->First) pending.push_back(item->First.get());
    }
    return titles;
  }
};

// Two top-level items, the first closed with three children.
void ClosedChapter(OutlineDoc& o) {
  o.Put(10, "<< /Type /Outlines /First 11 0 R /Last 12 0 R /Count 2 >>");
  o.Put(11, "<< /Title (Chapter) /Parent 10 0 R /Next 12 0 R /First 13 0 R /Last 15 0 R /Count -3 "
            "/Dest [3 0 R /Fit] /C [1 0 0] /F 2 /SE 99 0 R >>");
  o.Put(12, "<< /Title (Appendix) /Parent 10 0 R /Prev 11 0 R /Dest [4 0 R /Fit] >>");
  o.Put(13, "<< /Title (One) /Parent 11 0 R /Next 14 0 R /Dest [3 0 R /XYZ 0 0 0] >>");
  o.Put(14, "<< /Title (Two) /Parent 11 0 R /Prev 13 0 R /Next 15 0 R /Dest [4 0 R /Fit] >>");
  o.Put(15, "<< /Title (Three) /Parent 11 0 R /Prev 14 0 R >>");
}

}  // namespace

TEST(Outlines, TreeIsReadWithoutStructureEntries) {
  OutlineDoc o;
  ClosedChapter(o);
  o.Read();
  ASSERT_NE(o.doc.OutlineRoot, nullptr);
  EXPECT_EQ(o.doc.OutlineCount, 6);
  EXPECT_EQ(o.doc.OutlineRoot->DescendantCount(), 5);
  EXPECT_THAT(o.Titles(), ElementsAre("(Chapter)", "-(One)", "-(Two)", "-(Three)", "(Appendix)"));

  const TksPDFOutline& root = *o.doc.OutlineRoot;
  EXPECT_EQ(root.ObjectNumber, 10);
  EXPECT_EQ(Text(root.Value.get()), "<< /Type /Outlines >>");
  const TksPDFOutline& chapter = *root.First;
  EXPECT_TRUE(chapter.Closed);
  EXPECT_EQ(chapter.Parent, &root);
  EXPECT_EQ(chapter.Prev, nullptr);
  EXPECT_EQ(chapter.PageList, &o.doc.Pages);
  EXPECT_EQ(Text(chapter.Value.get()), "<< /Title (Chapter) /Dest [ 3 0 R /Fit ] /C [ 1 0 0 ] /F 2 /SE 99 0 R >>");
  const TksPDFOutline& appendix = *chapter.Next;
  EXPECT_FALSE(appendix.Closed);
  EXPECT_EQ(appendix.Prev, &chapter);
  EXPECT_EQ(appendix.Parent, &root);
  EXPECT_EQ(chapter.First->Parent, &chapter);
  EXPECT_EQ(chapter.First->Next->Prev, chapter.First.get());
  // Items are rebuilt on save: the source objects are not written.
  for (int n = 10; n <= 15; ++n) EXPECT_EQ(o.doc.Store->Find(o.doc.DocumentID, n, 0)->UseCount, 0) << n;
}

TEST(Outlines, BuildWritesCountsAndLinks) {
  OutlineDoc o;
  ClosedChapter(o);
  o.Read();
  std::map<int32_t, std::string> built = o.Build();
  // Items keep the numbers they were read under; the old objects are never written.
  ASSERT_EQ(built.size(), 6u);
  const int32_t root = o.doc.OutlineRoot->ObjectNumber;
  const TksPDFOutline& chapter = *o.doc.OutlineRoot->First;
  auto ref = [](const TksPDFOutline& item) { return std::to_string(item.ObjectNumber) + " 0 R"; };
  const TksPDFOutline& one = *chapter.First;
  const TksPDFOutline& two = *one.Next;
  const TksPDFOutline& three = *two.Next;
  const TksPDFOutline& appendix = *chapter.Next;
  EXPECT_EQ(built[root], "<< /First " + ref(chapter) + " /Last " + ref(appendix) + " /Count 2 >>");
  // Entries the engine does not model (/SE) follow the ones it does.
  EXPECT_EQ(built[chapter.ObjectNumber],
            "<< /Dest [ 3 0 R /Fit ] /Title (Chapter) /C [ 1 0 0 ] /F 2 /SE 99 0 R /Parent " + std::to_string(root) +
                " 0 R /Next " + ref(appendix) + " /First " + ref(one) + " /Last " + ref(three) + " /Count -3 >>");
  EXPECT_EQ(built[two.ObjectNumber], "<< /Dest [ 4 0 R /Fit ] /Title (Two) /Parent " + ref(chapter) + " /Prev " +
                                         ref(one) + " /Next " + ref(three) + " >>");
  EXPECT_EQ(built[three.ObjectNumber], "<< /Title (Three) /Parent " + ref(chapter) + " /Prev " + ref(two) + " >>");
  EXPECT_EQ(Text(o.doc.Catalog->Outlines.get()), std::to_string(root) + " 0 R");
  EXPECT_EQ(root, 10);
  EXPECT_EQ(chapter.ObjectNumber, 11);
  EXPECT_THAT(o.warnings, IsEmpty());

  // A second save builds the same objects under the same numbers.
  TksPDFObjectStore again;
  o.doc.BuildOutlines(again);
  ASSERT_EQ(again.Count(), 6);
  EXPECT_EQ(Text(again.Find(o.doc.DocumentID, root, 0)->Value.get()), built[root]);
}

TEST(Outlines, ARootGivenDirectlyGetsANewNumber) {
  OutlineDoc o;
  o.Put(11, "<< /Title (Only) /Parent 10 0 R >>");
  o.Read("<< /First 11 0 R /Last 11 0 R >>");
  std::map<int32_t, std::string> built = o.Build();
  const int32_t root = o.doc.OutlineRoot->ObjectNumber;
  EXPECT_GT(root, 11);
  const std::string rootRef = std::to_string(root) + " 0 R";
  EXPECT_EQ(built[root], "<< /First 11 0 R /Last 11 0 R /Count 1 >>");
  EXPECT_EQ(built[11], "<< /Title (Only) /Parent " + rootRef + " >>");
  EXPECT_EQ(Text(o.doc.Catalog->Outlines.get()), rootRef);
}

TEST(Outlines, OpenItemsCountEveryVisibleDescendant) {
  OutlineDoc o;
  o.Put(10, "<< /First 11 0 R >>");
  o.Put(11, "<< /Title (A) /First 12 0 R /Next 16 0 R /Count 3 >>");
  o.Put(12, "<< /Title (A1) /First 13 0 R /Next 15 0 R /Count 1 >>");
  o.Put(13, "<< /Title (A1a) /First 14 0 R /Count -1 >>");
  o.Put(14, "<< /Title (A1a-i) >>");
  o.Put(15, "<< /Title (A2) >>");
  o.Put(16, "<< /Title (B) >>");
  o.Read();
  o.Build();
  auto count = [&](const TksPDFOutline& item) {
    TksPDFIndirectObject* b = o.saveStore.Find(item.DocumentID, item.ObjectNumber, item.Generation);
    TksPDFObject* c = AsDict(b->Value.get())->Lookup("/Count");
    return c ? Text(c) : std::string("none");
  };
  const TksPDFOutline& a = *o.doc.OutlineRoot->First;
  EXPECT_EQ(count(*o.doc.OutlineRoot), "5");
  // A1a is closed, so its child is not visible below A1 and A.
  EXPECT_EQ(count(a), "3");
  EXPECT_EQ(count(*a.First), "1");
  EXPECT_EQ(count(*a.First->First), "-1");
  EXPECT_EQ(count(*a.First->First->First), "none");
  EXPECT_EQ(count(*a.Next), "none");
}

TEST(Outlines, ItemsOfPagesThatAreNotWrittenGo) {
  OutlineDoc o;
  o.Put(10, "<< /First 11 0 R >>");
  o.Put(11, "<< /Title (Keep1) /Dest [3 0 R /Fit] /Next 12 0 R >>");
  o.Put(12, "<< /Title (Gone) /Dest [4 0 R /Fit] /Next 13 0 R /First 14 0 R /Count -2 >>");
  o.Put(13, "<< /Title (Keep2) /Dest [null /Fit] /Next 16 0 R >>");
  o.Put(14, "<< /Title (Child of gone) /Dest [3 0 R /Fit] /Next 15 0 R >>");
  o.Put(15, "<< /Title (Gone too) /Dest [4 0 R /Fit] >>");
  o.Put(16, "<< /Title (Numbered) /Dest [0 /Fit] >>");
  o.Read();
  // A page deleted before saving: no longer written.
  o.doc.Store->Find(o.doc.DocumentID, 4, 0)->UseCount = 0;
  std::map<int32_t, std::string> built = o.Build();
  ASSERT_EQ(built.size(), 5u);
  std::vector<std::string> written;
  const int32_t root = o.doc.OutlineRoot->ObjectNumber;
  TksPDFDictObject* rootDict = AsDict(o.saveStore.Find(o.doc.DocumentID, root, 0)->Value.get());
  EXPECT_EQ(Text(rootDict->Lookup("/Count")), "4");
  // Walk the written chain from /First through /Next.
  TksPDFObject* at = rootDict->Lookup("/First");
  std::string prev = "";
  while (auto* r = AsRef(at)) {
    TksPDFDictObject* d = AsDict(o.saveStore.Find(*r)->Value.get());
    written.push_back(Text(d->Lookup("/Title")));
    EXPECT_EQ(Text(d->Lookup("/Parent")), std::to_string(root) + " 0 R");
    EXPECT_EQ(d->Lookup("/Prev") ? Text(d->Lookup("/Prev")) : "", prev);
    prev = Text(at);
    at = d->Lookup("/Next");
  }
  EXPECT_THAT(written, ElementsAre("(Keep1)", "(Child of gone)", "(Keep2)", "(Numbered)"));
  EXPECT_EQ(Text(rootDict->Lookup("/Last")), prev);
  EXPECT_THAT(o.warnings, ElementsAre("Expected Page Indirect Reference in Outline Destination!"));
}

// A destination naming no page of the document (an object the file does not have, or
// one that is no page) cannot be used: the item stays with everything else it holds,
// without /Dest, and each save says how many lost theirs.
TEST(Outlines, ItemsWhosePageIsMissingKeepTheirPlace) {
  OutlineDoc o;
  o.Put(10, "<< /First 11 0 R >>");
  o.Put(11, "<< /Title (Missing) /Dest [40 0 R /Fit] /C [1 0 0] /F 2 /A << /S /URI /URI (u) >> "
            "/First 12 0 R /Count -2 /Next 14 0 R >>");
  o.Put(12, "<< /Title (Child missing) /Dest [5 0 R /XYZ 0 0 0] /Next 13 0 R >>");
  o.Put(5, "<< /Type /Annot /Subtype /Text >>");  // an object, but no page
  o.Put(13, "<< /Title (Child kept) /Dest [4 0 R /Fit] >>");
  o.Put(14, "<< /Title (Named) /Dest (lost) >>");
  o.Read("10 0 R", "/Dests << /lost [42 0 R /Fit] >>");
  EXPECT_THAT(o.Titles(), ElementsAre("(Missing)", "-(Child missing)", "-(Child kept)", "(Named)"));
  std::map<int32_t, std::string> built = o.Build();
  ASSERT_EQ(built.size(), 5u);
  EXPECT_EQ(built[10], "<< /First 11 0 R /Last 14 0 R /Count 2 >>");
  EXPECT_EQ(built[11], "<< /Title (Missing) /C [ 1 0 0 ] /F 2 /A << /S /URI /URI (u) >> /Parent 10 0 R "
                       "/Next 14 0 R /First 12 0 R /Last 13 0 R /Count -2 >>");
  EXPECT_EQ(built[12], "<< /Title (Child missing) /Parent 11 0 R /Next 13 0 R >>");
  EXPECT_EQ(built[13], "<< /Dest [ 4 0 R /Fit ] /Title (Child kept) /Parent 11 0 R /Prev 12 0 R >>");
  EXPECT_EQ(built[14], "<< /Title (Named) /Parent 10 0 R /Prev 11 0 R >>");
  const char* warning = "Bookmarks kept without their destination, which names no page of the document: 3";
  EXPECT_THAT(o.warnings, ElementsAre(warning));
  // The document keeps what it read; the next save says it again.
  EXPECT_EQ(Text(o.doc.OutlineRoot->First->Dict()->Lookup("/Dest")), "[ 40 0 R /Fit ]");
  TksPDFObjectStore again;
  o.doc.BuildOutlines(again);
  EXPECT_THAT(o.warnings, ElementsAre(warning, warning));
}

TEST(Outlines, LoopsAreCutWithAWarning) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, std::string>> items;
    std::vector<std::string> titles;
    std::vector<std::string> warnings;
  } cases[] = {
      {"next back to an earlier sibling",
       {{11, "<< /Title (A) /Next 12 0 R >>"}, {12, "<< /Title (B) /Next 11 0 R >>"}},
       {"(A)", "(B)"},
       {"Outline item (object 11) occurs twice; the outline is cut there"}},
      {"child back to its parent",
       {{11, "<< /Title (A) /First 12 0 R >>"}, {12, "<< /Title (A1) /Next 11 0 R >>"}},
       {"(A)", "-(A1)"},
       {"Outline item (object 11) occurs twice; the outline is cut there"}},
      {"child back to the root",
       {{11, "<< /Title (A) /First 10 0 R >>"}},
       {"(A)"},
       {"Outline item (object 10) occurs twice; the outline is cut there"}},
      {"item missing or not a dictionary",
       {{11, "<< /Title (A) /Next 12 0 R /First 13 0 R >>"}, {12, "[(B)]"}},
       {"(A)"},
       {"Outline item (object 13) is not a dictionary; the outline is cut there",
        "Outline item (object 12) is not a dictionary; the outline is cut there"}},
  };
  for (const auto& c : cases) {
    OutlineDoc o;
    o.Put(10, "<< /First 11 0 R >>");
    for (const auto& [n, text] : c.items) o.Put(n, text);
    o.Read();
    EXPECT_EQ(o.Titles(), c.titles) << c.name;
    EXPECT_EQ(o.warnings, c.warnings) << c.name;
    EXPECT_EQ(o.Build().size(), c.titles.size() + 1) << c.name;
  }
}

TEST(Outlines, LongListsAndDeepNesting) {
  {
    // Ten thousand siblings: read, built and freed without recursion per item.
    OutlineDoc o;
    const int n = 10000;
    o.Put(10, "<< /First 100 0 R >>");
    for (int i = 0; i < n; ++i)
      o.Put(100 + i, "<< /Title (Item " + std::to_string(i) + ") /Dest [3 0 R /Fit]" +
                         (i + 1 < n ? " /Next " + std::to_string(101 + i) + " 0 R" : std::string()) + " >>");
    o.Read();
    EXPECT_EQ(o.doc.OutlineCount, n + 1);
    std::map<int32_t, std::string> built = o.Build();
    EXPECT_EQ(built.size(), static_cast<size_t>(n + 1));
    EXPECT_EQ(Text(AsDict(o.saveStore.Items(0)->Value.get())->Lookup("/Count")), std::to_string(n));
  }
  {
    OutlineDoc o;
    const int depth = 300;
    o.Put(10, "<< /First 100 0 R >>");
    for (int i = 0; i < depth; ++i)
      o.Put(100 + i, "<< /Title (Level) " +
                         (i + 1 < depth ? "/First " + std::to_string(101 + i) + " 0 R" : std::string()) + " >>");
    o.Read();
    EXPECT_EQ(o.doc.OutlineCount, 257);
    EXPECT_THAT(o.warnings, ElementsAre("Outline nested deeper than 256 levels; the deeper items are left out"));
    EXPECT_EQ(o.Build().size(), 257u);
  }
}

TEST(Outlines, DestinationsAndActionsAreNormalised) {
  OutlineDoc o;
  o.Put(10, "<< /First 11 0 R >>");
  o.Put(11, "<< /Title 20 0 R /Dest (intro) /Next 12 0 R >>");
  o.Put(12, "<< /Title (B) /Dest /unknown /Next 13 0 R >>");
  o.Put(13, "<< /Title (C) /Dest 21 0 R /Next 14 0 R >>");
  o.Put(14, "<< /Title (D) /A 22 0 R /Next 15 0 R >>");
  o.Put(15, "<< /Title (E) /A << /S /GoToR /F 24 0 R /D (intro) >> /Next 16 0 R >>");
  o.Put(16, "<< /Title (F) /A << /S /URI /URI 25 0 R >> /C 26 0 R >>");
  o.Put(20, "(Indirect title)");
  o.Put(21, "(intro)");
  o.Put(22, "<< /S /GoTo /D 23 0 R /Next << /S /JavaScript /JS 27 0 R >> >>");
  o.Put(23, "(intro)");
  o.Put(24, "<< /Type /Filespec /F (other.pdf) >>");
  o.Put(25, "(https://example.org/)");
  o.Put(26, "[0 0 1]");
  o.Put(27, "(app.alert\\(1\\))");
  o.Read("10 0 R", "/Dests << /intro [3 0 R /XYZ 0 792 0] >>");

  std::vector<std::string> items;
  for (const TksPDFOutline* i = o.doc.OutlineRoot->First.get(); i; i = i->Next.get()) items.push_back(Text(i->Value.get()));
  EXPECT_THAT(items, ElementsAre("<< /Title (Indirect title) /Dest [ 3 0 R /XYZ 0 792 0 ] >>",
                                 "<< /Title (B) /Dest /unknown >>",
                                 "<< /Title (C) /Dest [ 3 0 R /XYZ 0 792 0 ] >>",
                                 "<< /Title (D) /A << /S /GoTo /D [ 3 0 R /XYZ 0 792 0 ] /Next << /S /JavaScript "
                                 "/JS 27 0 R >> >> >>",
                                 "<< /Title (E) /A << /S /GoToR /F 24 0 R /D (intro) >> >>",
                                 "<< /Title (F) /A << /S /URI /URI 25 0 R >> /C [ 0 0 1 ] >>"));
  // What the actions refer to is written.
  for (int n : {24, 25, 27}) EXPECT_GT(o.doc.Store->Find(o.doc.DocumentID, n, 0)->UseCount, 0) << n;
}

TEST(Outlines, WrongKindsEndTheLoad) {
  struct Case {
    const char* item;
    const char* message;
  } cases[] = {
      {"<< /Title (A) /Dest 5 >>", "Unexpected Error"},
      {"<< /Title (A) /Dest << /D [3 0 R /Fit] >> >>", "Unexpected Error"},
      {"<< /Title (A) /A [/GoTo] >>", "Unexpected Error"},
      {"<< /Title (A) /A 20 0 R >>", "Unexpected Error"},
      {"<< /Title (A) /A << /S /GoTo /D 7 >> >>", "Unexpected Error"},
  };
  for (const auto& c : cases) {
    OutlineDoc o;
    o.Put(10, "<< /First 11 0 R >>");
    o.Put(11, c.item);
    o.Put(20, "(not an action)");
    EXPECT_THAT([&] { o.Read(); }, ThrowsMessage<EUnexpectedError>(StrEq(c.message))) << c.item;
  }
  OutlineDoc o;
  o.Put(10, "<< /First 11 0 R >>");
  o.Put(11, "<< /Title /Name >>");
  EXPECT_THAT([&] { o.Read(); }, ThrowsMessage<EUnexpectedObjectError>(StrEq("Unexpected PDF object encountered")));
}

TEST(Outlines, DirectRootAndNoRoot) {
  {
    OutlineDoc o;
    o.Put(11, "<< /Title (A) >>");
    o.Read("<< /Type /Outlines /First 11 0 R >>");
    ASSERT_NE(o.doc.OutlineRoot, nullptr);
    EXPECT_EQ(o.doc.OutlineRoot->ObjectNumber, 0);
    std::map<int32_t, std::string> built = o.Build();
    ASSERT_EQ(built.size(), 2u);
    const int32_t root = o.doc.OutlineRoot->ObjectNumber;
    EXPECT_GT(root, 11);
    EXPECT_EQ(Text(o.doc.Catalog->Outlines.get()), std::to_string(root) + " 0 R");
  }
  {
    OutlineDoc o;
    o.Read("null");
    EXPECT_EQ(o.doc.OutlineRoot, nullptr);
    EXPECT_TRUE(o.Build().empty());
    EXPECT_EQ(o.doc.Catalog->Outlines, nullptr);
  }
  {
    // A root without items is written with a count of 0.
    OutlineDoc o;
    o.Put(10, "<< /Type /Outlines /Count 0 >>");
    o.Read();
    std::map<int32_t, std::string> built = o.Build();
    ASSERT_EQ(built.size(), 1u);
    EXPECT_EQ(built.begin()->second, "<< /Count 0 >>");
  }
}
