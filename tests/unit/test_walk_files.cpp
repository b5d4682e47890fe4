// The structure walk over real files: objects read on demand, objects from object
// streams, outline items that are not stored, the reader released on failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "ksFixture.h"
#include "ksPlatform.h"

using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

std::string Text(const TksPDFObject* v) {
  std::string t = ObjectToText(v);
  for (size_t p; (p = t.find("\r\n")) != std::string::npos;) t.replace(p, 2, " ");
  return t;
}

TksPDFIndirectObject* Get(TksCustomPDFDocument& doc, int32_t n) { return doc.Store->Find(doc.DocumentID, n, 0); }

// Loads a file, saves it and returns the bytes written.
std::string Converted(const std::string& path) {
  TksCustomPDFDocument doc;
  doc.ShowSetupDialog = false;
  EXPECT_TRUE(doc.LoadFromFile(path));
  const std::string out = path + ".out.pdf";
  doc.SaveToFile(out, 2);
  std::string bytes = ksfixture::ReadFile(out);
  std::remove(out.c_str());
  return bytes;
}

// The objects of a saved file by number (bodies up to "stream"), and the trailer as
// object 0; the writer's own output has no object streams.
std::map<int, std::string> SavedObjects(const std::string& file) {
  std::map<int, std::string> objects;
  for (int n = 1;; ++n) {
    const std::string head = "\r\n" + std::to_string(n) + " 0 obj\r\n";
    size_t at = file.find(head);
    if (at == std::string::npos) break;
    at += head.size();
    std::string body = file.substr(at, file.find("\r\nendobj\r\n", at) - at);
    objects[n] = body.substr(0, body.find("\r\nstream\r\n"));
  }
  size_t trailer = file.rfind("trailer\r\n");
  objects[0] = trailer == std::string::npos ? std::string() : file.substr(trailer);
  return objects;
}

// Numbers of the saved objects that no chain of references from the trailer reaches.
std::vector<int> Unreached(const std::string& file) {
  std::map<int, std::string> objects = SavedObjects(file);
  std::set<int> reached{0};
  std::vector<int> pending{0};
  const std::regex reference("(\\d+) 0 R");
  while (!pending.empty()) {
    const std::string& body = objects[pending.back()];
    pending.pop_back();
    for (std::sregex_iterator it(body.begin(), body.end(), reference), end; it != end; ++it) {
      int n = std::stoi((*it)[1]);
      if (objects.count(n) && reached.insert(n).second) pending.push_back(n);
    }
  }
  std::vector<int> unreached;
  for (const auto& [n, body] : objects)
    if (!reached.count(n)) unreached.push_back(n);
  return unreached;
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// The number of the saved object whose body holds text; 0 when none does.
int SavedNumberOf(const std::map<int, std::string>& objects, const std::string& text) {
  for (const auto& [n, body] : objects)
    if (n > 0 && body.find(text) != std::string::npos) return n;
  return 0;
}

}  // namespace

TEST(WalkFiles, ObjectsAreReadMarkedAndInherited) {
  ksfixture::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /Names << /Dests 20 0 R >> /Lang (de) /PageLabels 21 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 612 792] /Resources 10 0 R >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Annots [6 0 R] >>");
  b.Object(4, "<< /Type /Pages /Parent 2 0 R /Kids [7 0 R] /Count 1 /Rotate 90 >>");
  b.Stream(5, "", "BT /F1 12 Tf (Hi) Tj ET");
  b.Object(6, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /P 3 0 R /Dest (far) >>");
  b.Object(7, "<< /Type /Page /Parent 4 0 R >>");
  b.Object(10, "<< /Font << /F1 11 0 R >> >>");
  b.Object(11, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  b.Object(12, "<< /Unreached true >>");
  b.Object(20, "<< /Names [(far) [7 0 R /Fit]] >>");
  b.Object(21, "<< /Nums [0 << /S /r >>] >>");
  b.Object(30, "<< /Title (From the file) >>");
  std::string path = ksfixture::WriteTempFile("walk-read.pdf", b.Build("/Root 1 0 R /Info 30 0 R"));

  TksCustomPDFDocument doc;
  std::vector<std::string> events;
  doc.OnStatusMessage = [&](TksCustomPDFDocument*, const std::string& s) { events.push_back(s); };
  ASSERT_TRUE(doc.LoadFromFile(path));
  EXPECT_EQ(doc.Reader(), nullptr);
  ASSERT_EQ(doc.PageCount(), 2);
  EXPECT_EQ(Text(doc.Pages[0]->Value.get()),
            "<< /Type /Page /Contents 5 0 R /Annots [ 6 0 R ] /MediaBox [ 0 0 612 792 ] /Resources 10 0 R >>");
  EXPECT_EQ(Text(doc.Pages[1]->Value.get()),
            "<< /Type /Page /MediaBox [ 0 0 612 792 ] /Resources 10 0 R /Rotate 90 >>");
  EXPECT_EQ(Text(Get(doc, 6)->Value.get()),
            "<< /Type /Annot /Subtype /Link /Rect [ 0 0 10 10 ] /P 3 0 R /Dest [ 7 0 R /Fit ] >>");
  for (int n : {3, 5, 6, 7, 10, 11, 20, 21}) {
    ASSERT_NE(Get(doc, n), nullptr) << n;
    EXPECT_GT(Get(doc, n)->UseCount, 0) << n;
  }
  // Page tree nodes, the catalog, the information and what nothing reaches stay out.
  for (int n : {1, 2, 4, 12, 30}) EXPECT_EQ(Get(doc, n), nullptr) << n;
  EXPECT_EQ(doc.Info().Title(), u"From the file");
  EXPECT_EQ(Text(doc.Catalog->OtherEntries.get()), "<< /Lang (de) /PageLabels 21 0 R >>");
  EXPECT_EQ(events.back(), "Document read complete. Pages read = 2");
}

TEST(WalkFiles, ObjectsFromObjectStreamsAreFollowed) {
  ksfixture::ObjStm objstm = ksfixture::MakeObjStm({
      {1, "<< /Type /Catalog /Pages 2 0 R /Outlines 8 0 R >>"},
      {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
      {3, "<< /Type /Page /Resources 4 0 R /MediaBox [0 0 100 100] >>"},
      {4, "<< /Font << /F1 5 0 R >> >>"},
      {8, "<< /Type /Outlines /First 9 0 R /Last 9 0 R /Count 1 >>"},
      {9, "<< /Title (Only) /Parent 8 0 R /Dest [3 0 R /Fit] >>"},
  });
  ksfixture::PdfBuilder b("%PDF-1.5");
  b.Stream(10, objstm.dictEntries, objstm.data);
  b.Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding 6 0 R >>");
  b.Object(6, "<< /Type /Encoding /Differences [32 /space] >>");
  auto o = b.Offsets();
  std::string rows = ksfixture::XRefStreamRows(
      {{0, 0, 65535}, {2, 10, 0}, {2, 10, 1}, {2, 10, 2}, {2, 10, 3}, {1, o[5], 0}, {1, o[6], 0}, {0, 0, 0},
       {2, 10, 4}, {2, 10, 5}, {1, o[10], 0}},
      {1, 4, 2});
  b.Stream(11, "/Type /XRef /Size 11 /W [1 4 2] /Root 1 0 R", rows);
  std::string path = ksfixture::WriteTempFile("walk-objstm.pdf", b.Finish(11));

  TksCustomPDFDocument doc;
  ASSERT_TRUE(doc.LoadFromFile(path));
  ASSERT_EQ(doc.PageCount(), 1);
  for (int n : {3, 4, 5, 6}) {
    ASSERT_NE(Get(doc, n), nullptr) << n;
    EXPECT_GT(Get(doc, n)->UseCount, 0) << n;
  }
  // The outline items from the object stream are in the store, unmarked: the rebuilt
  // items take their numbers, and the old ones are never written.
  for (int n : {8, 9}) {
    ASSERT_NE(Get(doc, n), nullptr) << n;
    EXPECT_EQ(Get(doc, n)->UseCount, 0) << n;
  }
  // Nor are the catalog and the page tree node, which the writer builds anew.
  for (int n : {1, 2}) EXPECT_EQ(Get(doc, n)->UseCount, 0) << n;
  TksPDFObjectStore saveStore;
  doc.BuildOutlines(saveStore);
  ASSERT_EQ(saveStore.Count(), 2);
  EXPECT_EQ(Text(saveStore.Find(doc.DocumentID, 9, 0)->Value.get()),
            "<< /Dest [ 3 0 R /Fit ] /Title (Only) /Parent 8 0 R >>");
}

TEST(WalkFiles, OutlineItemsReadFromTheFileKeepTheirNumbers) {
  ksfixture::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 8 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.Object(3, "<< /Type /Page >>");
  b.Object(8, "<< /Type /Outlines /First 9 0 R /Last 9 0 R /Count 1 >>");
  b.Object(9, "<< /Title (Only) /Parent 8 0 R /Dest [3 0 R /Fit] >>");
  std::string path = ksfixture::WriteTempFile("walk-outline.pdf", b.Build("/Root 1 0 R"));
  TksCustomPDFDocument doc;
  ASSERT_TRUE(doc.LoadFromFile(path));
  EXPECT_EQ(Get(doc, 8), nullptr);
  EXPECT_EQ(Get(doc, 9), nullptr);
  TksPDFObjectStore saveStore;
  doc.BuildOutlines(saveStore);
  ASSERT_EQ(saveStore.Count(), 2);
  EXPECT_EQ(Text(saveStore.Find(doc.DocumentID, 8, 0)->Value.get()), "<< /First 9 0 R /Last 9 0 R /Count 1 >>");
  EXPECT_EQ(Text(saveStore.Find(doc.DocumentID, 9, 0)->Value.get()),
            "<< /Dest [ 3 0 R /Fit ] /Title (Only) /Parent 8 0 R >>");
}

TEST(WalkFiles, AFailedWalkReleasesTheReader) {
  ksfixture::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.Object(3, "<< /Type /Pages /Kids [2 0 R] >>");
  std::string path = ksfixture::WriteTempFile("walk-loop.pdf", b.Build("/Root 1 0 R"));
  TksCustomPDFDocument doc;
  EXPECT_THAT([&] { doc.LoadFromFile(path); },
              ThrowsMessage<EPDFFileCorruptedError>(StrEq("Page tree refers back to object 2")));
  EXPECT_EQ(doc.Reader(), nullptr);
}

// What the writer rebuilds (catalog, information, page tree, outline items) is written
// only in its new form, also when object streams held the old one; an object is written
// only when a chain of references from the new trailer reaches it.
TEST(WalkFiles, OnlyWhatTheNewTrailerReachesIsWritten) {
  ksfixture::ObjStm objstm = ksfixture::MakeObjStm({
      {1, "<< /Type /Catalog /Pages 2 0 R /Outlines 8 0 R >>"},
      {2, "<< /Type /Pages /Kids [4 0 R] /Count 1 >>"},
      {4, "<< /Type /Pages /Parent 2 0 R /Kids [3 0 R] /Count 1 /MediaBox [0 0 200 200] >>"},
      {8, "<< /Type /Outlines /First 9 0 R /Last 9 0 R /Count 1 >>"},
      {9, "<< /Title (Only) /Parent 8 0 R /Dest [3 0 R /Fit] >>"},
      {12, "<< /Title (Kept title) /Producer (Old tool) >>"},
      {13, "<< /Unreferenced true >>"},
      // Refers to everything the writer rebuilds, and to a null object.
      {14, "<< /Root 1 0 R /Info 12 0 R /Node 4 0 R /Item 9 0 R /Nothing 15 0 R >>"},
      {15, "null"},
  });
  ksfixture::PdfBuilder b("%PDF-1.5");
  b.Object(3, "<< /Type /Page /Parent 4 0 R /Contents 5 0 R /PieceInfo 14 0 R >>");
  b.Object(5, "<< /Length 6 0 R >>\nstream\nq Q\nendstream");
  b.Object(6, "3");
  b.Stream(10, objstm.dictEntries, objstm.data);
  auto o = b.Offsets();
  std::string rows = ksfixture::XRefStreamRows(
      {{0, 0, 65535}, {2, 10, 0}, {2, 10, 1}, {1, o[3], 0}, {2, 10, 2}, {1, o[5], 0}, {1, o[6], 0}, {0, 0, 0},
       {2, 10, 3}, {2, 10, 4}, {1, o[10], 0}, {0, 0, 0}, {2, 10, 5}, {2, 10, 6}, {2, 10, 7}, {2, 10, 8}},
      {1, 4, 2});
  b.Stream(16, "/Type /XRef /Size 16 /W [1 4 2] /Root 1 0 R /Info 12 0 R", rows);
  const std::string file = Converted(ksfixture::WriteTempFile("rebuilt-objstm.pdf", b.Finish(16)));

  EXPECT_EQ(Occurrences(file, "/Type /Catalog"), 1u);
  EXPECT_EQ(Occurrences(file, "/Type /Pages"), 1u);
  EXPECT_EQ(Occurrences(file, "/Title (Only)"), 1u);
  EXPECT_EQ(Occurrences(file, "Old tool"), 0u);
  EXPECT_EQ(Occurrences(file, "(Kept title)"), 1u);
  EXPECT_EQ(Occurrences(file, "/Unreferenced"), 0u);
  EXPECT_THAT(Unreached(file), ElementsAre());
  // Catalog, information, page tree, the page, its contents, object 14, outline root and item.
  const std::map<int, std::string> objects = SavedObjects(file);
  EXPECT_EQ(objects.size(), 9u);
  EXPECT_NE(objects.at(0).find("/Size 9\r\n"), std::string::npos);
  // References to what was rebuilt name what replaced it; one to a null object is null.
  const std::string item = std::to_string(SavedNumberOf(objects, "/Title (Only)")) + " 0 R";
  EXPECT_EQ(objects.at(SavedNumberOf(objects, "/Node")),
            "<<\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n/Node 3 0 R\r\n/Item " + item + "\r\n/Nothing null\r\n>>");
  // A length is written where it is used; the object that held it is not written.
  EXPECT_EQ(objects.at(SavedNumberOf(objects, "/Length")), "<<\r\n/Length 3\r\n>>");
}
