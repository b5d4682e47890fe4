// The structure walk over real files: objects read on demand, objects from object
// streams, outline items that are not stored, the reader released on failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ksCstPDFDoc.h"
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
  EXPECT_EQ(doc.Reader, nullptr);
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
  // The outline items from the object stream are in the store, so the rebuilt outline
  // takes new numbers rather than hide them or be hidden by them.
  for (int n : {8, 9}) EXPECT_NE(Get(doc, n), nullptr) << n;
  TksPDFObjectStore saveStore;
  doc.BuildOutlines(saveStore);
  ASSERT_EQ(saveStore.Count(), 2);
  for (int32_t i = 0; i < saveStore.Count(); ++i) EXPECT_GT(saveStore.Items(i)->ObjectNumber, 11);
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
  EXPECT_EQ(doc.Reader, nullptr);
}
