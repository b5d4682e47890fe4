// The document's page operations: page ranges, units, rotation and boxes, transitions,
// resources and their names, and collecting the objects one page needs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/ksPDFResStrs.h"
#include "document/ksCstPDFDoc.h"
#include "ksObjText.h"

using ksfixture::MemoryDoc;
using ksfixture::OneLineText;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

// A document of the given page dictionaries (objects 3, 4, ...), in page order.
struct PagesDoc : MemoryDoc {
  explicit PagesDoc(const std::vector<std::string>& pages) {
    for (size_t i = 0; i < pages.size(); ++i) {
      Put(static_cast<int32_t>(3 + i), pages[i]);
      doc.Pages.push_back(Get(static_cast<int32_t>(3 + i)));
    }
  }
  std::string Page(int32_t pageNo) { return OneLineText(doc.Pages.at(static_cast<size_t>(pageNo - 1))->Value.get()); }
  TksPDFDictObject& PageDict(int32_t pageNo) { return *AsDict(doc.Pages.at(static_cast<size_t>(pageNo - 1))->Value.get()); }
};

PagesDoc FivePages() { return PagesDoc(std::vector<std::string>(5, "<< /Type /Page /MediaBox [0 0 612 792] >>")); }

}  // namespace

// ---- page ranges ----

TEST(PageRange, ParsesInTheOrderWritten) {
  struct Case {
    std::string text;
    std::vector<int32_t> pages;
  } cases[] = {
      {"", {1, 2, 3, 4, 5}},
      {"-3", {1, 2, 3}},
      {"4-", {4, 5}},
      {"2 - 4", {2, 1, 2, 3, 4, 5, 4}},  // blanks separate: "2", "-", "4"
      {"\"2 - 4\"", {2, 3, 4}},          // quotes group
      {"5,1-3,3", {5, 1, 2, 3, 3}},
      {" 1 , 3 ", {1, 3}},
      {"3-3", {3}},
      {"-", {1, 2, 3, 4, 5}},
      {"+2", {2}},
  };
  for (const Case& c : cases) EXPECT_THAT(TksCustomPDFDocument::ParsePageRange(c.text, 5), ElementsAreArray(c.pages)) << c.text;
}

TEST(PageRange, RefusesWithTheItemOrTheWholeText) {
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {"0", "Invalid page number (0)"},
      {"6", "Invalid page number (6)"},
      {"1,6", "Invalid page number (6)"},
      {"3-2", "Invalid page range (3-2)"},      // reversed: the item
      {"1,4-9", "Invalid page range (4-9)"},    // past the end: the item
      {"0-2", "Invalid page range (0-2)"},
      {"1-2147483647", "Invalid page range (1-2147483647)"},
      {"a", "Invalid page range (a)"},          // no number: the whole text
      {"1,a", "Invalid page range (1,a)"},
      {"2-x", "Invalid page range (2-x)"},
      {"1-2-3", "Invalid page range (1-2-3)"},
      {"1-99999999999", "Invalid page range (1-99999999999)"},
      {"1,,3", "Invalid page range (1,,3)"},   // an empty item is no number
      {"1,", "Invalid page range (1,)"},
  };
  for (const Case& c : cases)
    EXPECT_THAT([&] { TksCustomPDFDocument::ParsePageRange(c.text, 5); },
                ThrowsMessage<EInvalidPageError>(StrEq(c.message)))
        << c.text;
  EXPECT_THAT([] { TksCustomPDFDocument::ParsePageRange("", 0); },
              ThrowsMessage<EInvalidPageError>(StrEq("Invalid page range (1-0)")));
}

TEST(PageRange, ListIsCappedAtSixtyFourTimesThePages) {
  std::string text = "1-2";
  for (int i = 1; i < 64; ++i) text += ",1-2";
  EXPECT_EQ(TksCustomPDFDocument::ParsePageRange(text, 2).size(), 128u);
  EXPECT_THAT([&] { TksCustomPDFDocument::ParsePageRange(text + ",2", 2); },
              ThrowsMessage<EInvalidPageError>(StrEq("Invalid page range (2)")));
  EXPECT_THAT([&] { TksCustomPDFDocument::ParsePageRange(text + ",1-1", 2); },
              ThrowsMessage<EInvalidPageError>(StrEq("Invalid page range (1-1)")));
}

// ---- units ----

TEST(PageUnits, ConvertByTheTable) {
  struct Case {
    TksMeasurementUnit unit;
    double value, points;
  } cases[] = {
      {muPixels, 96, 72},  // 96 pixels per inch
      {muPoints, 12.5, 12.5},
      {muInches, 2, 144},
      {muMM, 10, 28.3464},  // the constant 2.83464, not 72 / 25.4
      {muTwips, 20, 1},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(TksCustomPDFDocument::ToPoints(c.unit, c.value), c.points) << c.unit;
    EXPECT_DOUBLE_EQ(TksCustomPDFDocument::FromPoints(c.unit, c.points), c.value) << c.unit;
  }
}

// ---- rotation and boxes ----

TEST(PageRotation, ReadsRotateOrZero) {
  PagesDoc d({"<< /Type /Page >>", "<< /Type /Page /Rotate 90 >>", "<< /Type /Page /Rotate 10 0 R >>",
              "<< /Type /Page /Rotate -90 >>", "<< /Type /Page /Rotate 180.0 >>", "<< /Type /Page /Rotate /East >>"});
  d.Put(10, "270");
  std::vector<int32_t> rotations;
  for (int32_t page = 1; page <= d.doc.PageCount(); ++page) rotations.push_back(d.doc.PageRotation(page));
  EXPECT_THAT(rotations, ElementsAre(0, 90, 270, -90, 180, 0));
  for (int32_t bad : {0, 7, -1})
    EXPECT_THAT([&] { d.doc.PageRotation(bad); },
                ThrowsMessage<EInvalidPageError>(StrEq("Invalid page number (" + std::to_string(bad) + ")")));
}

TEST(PageBox, VisibleBoxOfEachKindOfPage) {
  const TksPageRect letter{0, 0, 612, 792};
  const std::string noMediaBox = "Page 1 has no /MediaBox; it is taken as 612 x 792 points";
  struct Case {
    const char* name;
    std::string page;
    std::optional<TksPageRect> box;  // none: refused
    std::vector<std::string> warnings;
  } cases[] = {
      {"media box", "/MediaBox [0 0 612 792]", letter, {}},
      {"crop box wins", "/MediaBox [0 0 612 792] /CropBox [0 0 300 400]", TksPageRect{0, 0, 300, 400}, {}},
      {"reals", "/MediaBox [0.5 1.25 595.5 842]", TksPageRect{0.5, 1.25, 595.5, 842}, {}},
      {"corners reversed", "/MediaBox [612 792 0 0]", letter, {}},
      {"mixed corners", "/MediaBox [612 0 0 792]", letter, {}},
      {"box held by reference", "/MediaBox 11 0 R", letter, {}},
      {"number held by reference", "/MediaBox [0 0 10 0 R 792]", letter, {}},
      {"64-bit integers", "/MediaBox [0 0 3000000000 792]", TksPageRect{0, 0, 3e9, 792}, {}},
      {"crop box clipped", "/MediaBox [0 0 612 792] /CropBox [-10 -20 700 400]", TksPageRect{0, 0, 612, 400}, {}},
      {"crop box beside the media box", "/MediaBox [0 0 612 792] /CropBox [700 800 900 900]", letter, {}},
      {"null crop box", "/MediaBox [0 0 612 792] /CropBox null", letter, {}},
      {"no box at all", "", letter, {noMediaBox}},
      {"media box leads nowhere", "/MediaBox 99 0 R", letter, {noMediaBox}},
      {"crop box alone", "/CropBox [0 0 100 100]", TksPageRect{0, 0, 100, 100}, {noMediaBox}},
      {"short", "/MediaBox [0 0 612]", std::nullopt, {}},
      {"five numbers", "/MediaBox [0 0 612 792 1]", std::nullopt, {}},
      {"a name inside", "/MediaBox [0 0 /W 792]", std::nullopt, {}},
      {"no array", "/MediaBox 612", std::nullopt, {}},
      {"bad crop box", "/MediaBox [0 0 612 792] /CropBox [0 0 (x) 5]", std::nullopt, {}},
  };
  for (const Case& c : cases) {
    PagesDoc d({"<< /Type /Page " + c.page + " >>"});
    d.Put(10, "612");
    d.Put(11, "[0 0 612 792]");
    if (!c.box) {
      EXPECT_THAT([&] { d.doc.GetPageBox(1, muPoints); },
                  ThrowsMessage<EUnexpectedObjectError>(StrEq("Unexpected PDF object encountered")))
          << c.name;
      continue;
    }
    EXPECT_EQ(d.doc.GetPageBox(1, muPoints), *c.box) << c.name;
    const auto [width, height] = d.doc.GetPageSize(1, muPoints);
    EXPECT_DOUBLE_EQ(width, c.box->x2 - c.box->x1) << c.name;
    EXPECT_DOUBLE_EQ(height, c.box->y2 - c.box->y1) << c.name;
    EXPECT_THAT(d.warnings, testing::Each(StrEq(noMediaBox))) << c.name;
    EXPECT_EQ(d.warnings.empty(), c.warnings.empty()) << c.name;
  }
}

TEST(PageBox, SizesAndBoxesInTheUnitAsked) {
  PagesDoc d({"<< /Type /Page /MediaBox [0 0 612 792] /CropBox [0 0 300 400] >>"});
  auto [w, h] = d.doc.GetPageSize(1, muInches);
  EXPECT_DOUBLE_EQ(w, 300.0 / 72);
  EXPECT_DOUBLE_EQ(h, 400.0 / 72);
  std::tie(w, h) = d.doc.GetPageSize(1, muPixels);
  EXPECT_DOUBLE_EQ(w, 400);
  EXPECT_DOUBLE_EQ(h, 400.0 * 96 / 72);
  EXPECT_EQ(d.doc.GetPageBox(1, muTwips), (TksPageRect{0, 0, 6000, 8000}));
  EXPECT_THAT([&] { d.doc.GetPageSize(2, muPoints); }, ThrowsMessage<EInvalidPageError>(StrEq("Invalid page number (2)")));
}

// ---- transitions ----

TEST(PageTransition, DictionaryOfEveryEffect) {
  const char* expected[] = {
      "/S /R",
      "/S /Split /Dm /H /M /I",
      "/S /Split /Dm /H /M /O",
      "/S /Split /Dm /V /M /I",
      "/S /Split /Dm /V /M /O",
      "/S /Blinds /Dm /H",
      "/S /Blinds /Dm /V",
      "/S /Box /M /I",
      "/S /Box /M /O",
      "/S /Wipe /Di 0",
      "/S /Wipe /Di 90",
      "/S /Wipe /Di 180",
      "/S /Wipe /Di 270",
      "/S /Dissolve",
      "/S /Glitter /Di 0",
      "/S /Glitter /Di 270",
      "/S /Glitter /Di 315",
  };
  for (int effect = 0; effect <= 16; ++effect)
    EXPECT_EQ(OneLineText(TksCustomPDFDocument::CreateTransitionDict(static_cast<uint8_t>(effect), 1.5f).get()),
              std::string("<< /Type /Trans /D 1.5000000000 ") + expected[effect] + " >>")
        << effect;
  // Beyond the table: the first effect.
  for (int effect : {17, 255})
    EXPECT_EQ(OneLineText(TksCustomPDFDocument::CreateTransitionDict(static_cast<uint8_t>(effect), 1).get()),
              "<< /Type /Trans /D 1.0000000000 /S /R >>");
  // /Di is an integer object and /D a real one.
  auto wipe = TksCustomPDFDocument::CreateTransitionDict(9, 2);
  EXPECT_EQ(wipe->Lookup("/Di")->ObjectType, otInteger);
  EXPECT_EQ(wipe->Lookup("/D")->ObjectType, otReal);
  // A single-precision duration stands for the decimal it was written as.
  auto tenth = TksCustomPDFDocument::CreateTransitionDict(0, 0.1f);
  EXPECT_EQ(static_cast<TksPDFRealObject*>(tenth->Lookup("/D"))->Value, 0.1);
}

TEST(PageTransition, SetsTheListedPagesOnly) {
  PagesDoc d = FivePages();
  d.PageDict(2).SetInteger("/Dur", 9);  // replaced
  d.doc.SetPageTransition("2,4", 13, 2);
  const std::string plain = "<< /Type /Page /MediaBox [ 0 0 612 792 ] >>";
  const std::string set =
      "<< /Type /Page /MediaBox [ 0 0 612 792 ] /Dur 2.0000000000 /Trans << /Type /Trans /D 2.0000000000 /S /Dissolve >> >>";
  EXPECT_EQ(d.Page(1), plain);
  EXPECT_EQ(d.Page(2), set);
  EXPECT_EQ(d.Page(3), plain);
  EXPECT_EQ(d.Page(4), set);
  EXPECT_EQ(d.Page(5), plain);
}

TEST(PageTransition, RefusedBeforeAnyPageChanges) {
  struct Case {
    std::string range;
    float duration;
    std::string message;
  } cases[] = {
      {"1-3", -1, "Invalid transition duration (-1): it must be a finite number of seconds, 0 or more"},
      {"1-3", std::numeric_limits<float>::quiet_NaN(),
       "Invalid transition duration (NaN): it must be a finite number of seconds, 0 or more"},
      {"1-3", std::numeric_limits<float>::infinity(),
       "Invalid transition duration (Infinity): it must be a finite number of seconds, 0 or more"},
      {"1,7", 1, "Invalid page number (7)"},
      {"1,2-1", 1, "Invalid page range (2-1)"},
  };
  for (const Case& c : cases) {
    PagesDoc d = FivePages();
    EXPECT_THAT([&] { d.doc.SetPageTransition(c.range, 1, c.duration); }, ThrowsMessage<EPDFException>(StrEq(c.message)))
        << c.range;
    for (int32_t page = 1; page <= 5; ++page) EXPECT_EQ(d.Page(page), "<< /Type /Page /MediaBox [ 0 0 612 792 ] >>");
  }
  PagesDoc d = FivePages();
  d.doc.SetPageTransition("5", 0, 0);  // no time at all is a duration
  EXPECT_THAT(d.Page(5), testing::HasSubstr("/Dur 0.0000000000"));
}

// ---- resources ----

TEST(PageResource, AddsUnderTheCategory) {
  struct Case {
    const char* name;
    std::string resources;  // the page's /Resources value
    std::string expected;   // the resources afterwards (object 20 when that is where they go)
    bool warned;
  } cases[] = {
      {"no category yet", "<< /Font << /F1 9 0 R >> >>", "<< /Font << /F1 9 0 R >> /ExtGState << /GS1 8 0 R >> >>", false},
      {"category there", "<< /ExtGState << /GS0 7 0 R >> >>", "<< /ExtGState << /GS0 7 0 R /GS1 8 0 R >> >>", false},
      {"name taken: old entry stays", "<< /ExtGState << /GS1 7 0 R >> >>", "<< /ExtGState << /GS1 7 0 R >> >>", false},
      {"category null", "<< /ExtGState null >>", "<< /ExtGState << /GS1 8 0 R >> >>", true},
      {"category leads nowhere", "<< /ExtGState 99 0 R >>", "<< /ExtGState << /GS1 8 0 R >> >>", true},
      {"category of another kind", "<< /ExtGState [1 2] >>", "<< /ExtGState << /GS1 8 0 R >> >>", true},
      {"category held by reference", "<< /ExtGState 20 0 R >>", "<< /ExtGState 20 0 R >>", false},
  };
  for (const Case& c : cases) {
    PagesDoc d({"<< /Type /Page /Resources " + c.resources + " >>"});
    TksPDFIndirectObject* gstate = d.Put(8, "<< /Type /ExtGState /ca 0.5 >>");
    TksPDFIndirectObject* held = d.Put(20, "<< >>");
    d.doc.AddPageResource(AsDict(d.PageDict(1).Lookup("/Resources")), "/ExtGState", "/GS1", *gstate->ReferenceTo());
    EXPECT_EQ(OneLineText(d.PageDict(1).Lookup("/Resources")), c.expected) << c.name;
    const bool added = std::string(c.name) != "name taken: old entry stays";
    EXPECT_EQ(gstate->UseCount > 0, added) << c.name << ": the object is written once a page names it";
    if (std::string(c.name) == "category held by reference") {
      EXPECT_EQ(OneLineText(held->Value.get()), "<< /GS1 8 0 R >>");
    }
    if (c.warned) {
      EXPECT_THAT(d.warnings, ElementsAre("The /ExtGState entry of a page's resources is not a dictionary; a new "
                                          "dictionary takes its place"))
          << c.name;
    } else {
      EXPECT_THAT(d.warnings, IsEmpty()) << c.name;
    }
  }
  PagesDoc d({"<< /Type /Page >>"});
  TksPDFIndirectReference ref(d.doc.DocumentID, 8, 0);
  EXPECT_THAT([&] { d.doc.AddPageResource(nullptr, "/ExtGState", "/GS1", ref); },
              ThrowsMessage<EUnexpectedError>(StrEq("Error inserting page resource")));
}

TEST(PageResource, ExtGStateOnPagesWithAndWithoutResources) {
  PagesDoc d({"<< /Type /Page >>", "<< /Type /Page /Resources 30 0 R >>", "<< /Type /Page /Resources 99 0 R >>",
              "<< /Type /Page /Resources 5 >>"});
  d.Put(30, "<< /Font << >> >>");
  TksPDFIndirectObject* gstate = d.Put(8, "<< /Type /ExtGState >>");
  for (int32_t index = 0; index < 4; ++index) d.doc.AddExtGStateToPage(index, "/GS1", gstate->ReferenceTo().get());
  EXPECT_EQ(d.Page(1), "<< /Type /Page /Resources << /ExtGState << /GS1 8 0 R >> >> >>");
  EXPECT_EQ(d.Page(2), "<< /Type /Page /Resources 30 0 R >>");
  EXPECT_EQ(OneLineText(d.Get(30)->Value.get()), "<< /Font << >> /ExtGState << /GS1 8 0 R >> >>");
  EXPECT_EQ(d.Page(3), "<< /Type /Page /Resources << /ExtGState << /GS1 8 0 R >> >> >>");
  EXPECT_EQ(d.Page(4), "<< /Type /Page /Resources << /ExtGState << /GS1 8 0 R >> >> >>");
  EXPECT_THAT(d.warnings,
              ElementsAre("The /Resources of page 3 are not a dictionary; a new dictionary takes their place",
                          "The /Resources of page 4 are not a dictionary; a new dictionary takes their place"));
  // Without a graphics state nothing changes.
  PagesDoc bare({"<< /Type /Page >>"});
  bare.doc.AddExtGStateToPage(0, "/GS1", nullptr);
  EXPECT_EQ(bare.Page(1), "<< /Type /Page >>");
}

TEST(PageResource, NewNamesAreFreeOnEveryPageAndRepeatable) {
  auto names = [](PagesDoc& d, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(d.doc.NewPageResourceName("/ExtGState", "/GS", {1, 2}));
    return out;
  };
  PagesDoc first({"<< /Type /Page >>", "<< /Type /Page >>"});
  PagesDoc second({"<< /Type /Page >>", "<< /Type /Page >>"});
  const std::vector<std::string> a = names(first, 3);
  // The same document gives the same names: the output does not change from run to run.
  EXPECT_EQ(names(second, 3), a);
  EXPECT_THAT(a[0], testing::MatchesRegex("/GS[0-9]+"));
  EXPECT_NE(a[0], a[1]);

  // A page that already uses the first name (for another object) makes it unusable.
  PagesDoc taken({"<< /Type /Page >>", "<< /Type /Page /Resources << /ExtGState << " + a[0] + " 7 0 R >> >> >>"});
  const std::string name = taken.doc.NewPageResourceName("/ExtGState", "/GS", {1, 2});
  EXPECT_NE(name, a[0]);
  EXPECT_EQ(name, a[1]);
  // A reset starts the names afresh.
  first.doc.Reset();
  first.Put(3, "<< /Type /Page >>");
  first.doc.Pages.push_back(first.Get(3));
  EXPECT_EQ(first.doc.NewPageResourceName("/ExtGState", "/GS", {1}), a[0]);
}

// ---- the objects one page needs ----

namespace {

std::vector<std::string> Identities(const TksPageObjectList& list) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < list.Count(); ++i)
    out.push_back(std::to_string(list.Items(i)->ObjectNumber) + " " + std::to_string(list.Items(i)->Generation));
  return out;
}

// Page 3 with resources that refer back to themselves, an annotation that names the page
// and another page, and two objects whose unique IDs are one: (7, 12, 0) and (7, 1, 20)
// both read "7120". Object 214748365 has a negative unique ID.
struct ObjectsDoc : MemoryDoc {
  ObjectsDoc() {
    doc.DocumentID = 7;
    Put(3, "<< /Type /Page /Resources 4 0 R /Annots [6 0 R] /Contents 12 0 R /X 1 20 R /Y 214748365 0 R >>");
    Put(4, "<< /XObject << /Im 5 0 R >> >>");
    Put(5, "<< /Back 4 0 R /Self 5 0 R >>");
    Put(6, "<< /Type /Annot /P 3 0 R /Dest [8 0 R /Fit] /Parent 9 0 R >>");
    Put(8, "<< /Type /Page /Contents 12 0 R >>");
    Put(9, "<< /Type /Pages /Kids [3 0 R 8 0 R] >>");
    ksfixture::PutStream(doc, 12, "<< /Length 3 >>", "0 g");
    doc.Store->Add(std::make_unique<TksPDFIndirectObject>(7, 1, 20, ksfixture::ParseValue("<< /Kind (g20) >>", 7)));
    Put(214748365, "<< /Kind (far) >>");
    doc.Pages = {Get(3), Get(8)};
  }
};

// A document class of a later layer: it leaves annotations out of what a page needs.
class TksWithoutAnnotations : public TksCustomPDFDocument {
 protected:
  void CollectPageObjects(TksPDFObject* value, TksPageObjectList& list, std::vector<TksPDFObject*>& pending) override {
    if (auto* dict = AsDict(value); dict && dict->IndexOfKey("/Annots") >= 0) {
      auto copy = dict->CloneDict();
      copy->Remove("/Annots");
      TksCustomPDFDocument::CollectPageObjects(copy.get(), list, pending);
      held_.push_back(std::move(copy));  // pending points into it
      return;
    }
    TksCustomPDFDocument::CollectPageObjects(value, list, pending);
  }

 private:
  std::vector<std::unique_ptr<TksPDFDictObject>> held_;
};

}  // namespace

TEST(PageObjects, WalksOnePageThroughCyclesAndAroundOtherPages) {
  ObjectsDoc d;
  ASSERT_EQ(UniqueID(7, 12, 0), UniqueID(7, 1, 20));
  ASSERT_LT(UniqueID(7, 214748365, 0), 0);
  std::unique_ptr<TksPageObjectList> list = d.doc.GetPageObjects(1);
  // In the order reached; the annotation's page (3) and other page (8) are not entered,
  // the page tree node is taken.
  EXPECT_THAT(Identities(*list), ElementsAre("3 0", "4 0", "5 0", "6 0", "9 0", "12 0", "1 20", "214748365 0"));
  EXPECT_EQ(list->IDs(7), UniqueID(7, 214748365, 0));
  EXPECT_EQ(OneLineText(list->Find(7, 1, 20)->Value.get()), "<< /Kind (g20) >>");
  EXPECT_EQ(list->Find(7, 8, 0), nullptr);

  // Copies, owned by the list: changing one leaves the document alone.
  AsDict(list->Items(1)->Value.get())->Remove("/XObject");
  EXPECT_EQ(OneLineText(d.Get(4)->Value.get()), "<< /XObject << /Im 5 0 R >> >>");
  EXPECT_NE(list->Items(0), d.Get(3));

  // The other page: its content is shared with page 1 and taken again.
  EXPECT_THAT(Identities(*d.doc.GetPageObjects(2)), ElementsAre("8 0", "12 0"));
  for (int32_t bad : {0, 3})
    EXPECT_THAT([&] { d.doc.GetPageObjects(bad); },
                ThrowsMessage<EInvalidPageError>(StrEq("Invalid page number (" + std::to_string(bad) + ")")));
}

TEST(PageObjects, LaterLayersExtendTheWalk) {
  TksWithoutAnnotations doc;
  doc.DocumentID = 7;
  ksfixture::Put(doc, 3, "<< /Type /Page /Resources 4 0 R /Annots [6 0 R] >>");
  ksfixture::Put(doc, 4, "<< /Font << >> >>");
  ksfixture::Put(doc, 6, "<< /Type /Annot /P 3 0 R >>");
  doc.Pages = {doc.Store->Find(7, 3, 0)};
  EXPECT_THAT(Identities(*doc.GetPageObjects(1)), ElementsAre("3 0", "4 0"));
}

TEST(PageObjects, LongChainsNeedNoCallStack) {
  // Deeper than any call stack would take one frame per object.
  constexpr int32_t kChain = 200000;
  MemoryDoc m;
  for (int32_t n = 1; n <= kChain; ++n) {
    auto dict = std::make_unique<TksPDFDictObject>();
    if (n == 1) dict->AddName("/Type", "/Page");
    if (n < kChain) dict->AddObject("/Next", std::make_unique<TksPDFIndirectReference>(m.doc.DocumentID, n + 1, 0));
    m.doc.Store->Add(std::make_unique<TksPDFIndirectObject>(m.doc.DocumentID, n, 0, std::move(dict)));
  }
  m.doc.Pages.push_back(m.Get(1));
  std::unique_ptr<TksPageObjectList> list = m.doc.GetPageObjects(1);
  ASSERT_EQ(list->Count(), kChain);
  EXPECT_EQ(list->Items(kChain - 1)->ObjectNumber, kChain);
}
