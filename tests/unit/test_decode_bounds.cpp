// What a load may decode: the caps of object streams, cross-reference streams and form
// field values, and the budget of one load. The caps are lowered to a few hundred bytes
// here, so each bound is met with a fixture of a few hundred bytes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "ksFixture.h"

namespace {

using ksfixture::PdfBuilder;
using ksfixture::XRefStreamRows;
using testing::IsEmpty;
using testing::StrEq;
using testing::ThrowsMessage;

PdfBuilder Pages(const std::string& catalogExtra = "") {
  PdfBuilder b("%PDF-1.5");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R " + catalogExtra + " >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
  return b;
}

// Objects 4, 5, ... each alone in an object stream (20, 21, ...) whose data, padded
// with spaces, decode to `decoded` bytes; an uncompressed cross-reference stream.
std::string ObjStmFile(int streams, size_t decoded) {
  PdfBuilder b = Pages();
  for (int i = 0; i < streams; ++i) {
    auto s = ksfixture::MakeObjStm({{4 + i, "(object " + std::to_string(4 + i) + ")"}});
    s.data.resize(decoded, ' ');
    b.Stream(20 + i, s.dictEntries + " /Filter /FlateDecode", ksfixture::Deflate(s.data));
  }
  auto o = b.Offsets();
  std::vector<std::array<uint64_t, 3>> rows = {{0, 0, 0}, {1, o[1], 0}, {1, o[2], 0}, {1, o[3], 0}};
  for (int n = 4; n < 20; ++n) rows.push_back(n < 4 + streams ? std::array<uint64_t, 3>{2, uint64_t(16 + n), 0}
                                                              : std::array<uint64_t, 3>{0, 0, 0});
  for (int i = 0; i < streams; ++i) rows.push_back({1, o[20 + i], 0});
  const std::string size = std::to_string(rows.size());
  b.Stream(40, "/Type /XRef /Size " + size + " /Index [0 " + size + "] /W [1 4 2] /Root 1 0 R",
           XRefStreamRows(rows, {1, 4, 2}));
  return b.Finish(40);
}

// A Flate cross-reference stream whose rows are followed by zeros up to `decoded` bytes.
std::string XRefStreamFile(size_t decoded) {
  PdfBuilder b = Pages();
  auto o = b.Offsets();
  std::string rows = XRefStreamRows({{0, 0, 0}, {1, o[1], 0}, {1, o[2], 0}, {1, o[3], 0}}, {1, 4, 2});
  rows.resize(decoded, '\0');
  b.Stream(4, "/Type /XRef /Size 4 /W [1 4 2] /Root 1 0 R /Filter /FlateDecode", ksfixture::Deflate(rows));
  return b.Finish(4);
}

struct Loaded {
  TksCustomPDFDocument doc;
  std::vector<std::string> warnings;
  uint64_t fileSize = 0;
  explicit Loaded(const TksDecodeBounds& bounds) {
    doc.DecodeBounds = bounds;
    doc.OnWarning = [this](TksCustomPDFDocument*, const std::string& w) { warnings.push_back(w); };
  }
  void Load(const std::string& name, const std::string& bytes) {
    fileSize = bytes.size();
    doc.LoadFromFile(ksfixture::WriteTempFile(name, bytes));
  }
  std::string StoredText(int32_t number) const {
    TksPDFIndirectObject* o = doc.Store->Find(doc.DocumentID, number, 0);
    return o ? ObjectToText(o->Value.get()) : "(absent)";
  }
};

TksDecodeBounds Small(uint64_t structure, uint64_t field, uint64_t factor, uint64_t floor) {
  return TksDecodeBounds{.StructureStream = structure, .FieldValue = field, .BudgetFactor = factor, .BudgetFloor = floor};
}

}  // namespace

TEST(DecodeBounds, ObjectAndCrossReferenceStreamsHaveACapOfTheirOwn) {
  const TksDecodeBounds bounds = Small(1000, 1 << 20, 64, 1 << 20);
  {
    Loaded l(bounds);
    l.Load("objstm-at-cap.pdf", ObjStmFile(1, 1000));
    EXPECT_EQ(l.StoredText(4), "(object 4)");
    EXPECT_EQ(l.doc.DecodedBytes(), 1000u);
  }
  {
    Loaded l(bounds);
    EXPECT_THAT([&] { l.Load("objstm-past-cap.pdf", ObjStmFile(1, 1001)); },
                ThrowsMessage<EDecodedSizeError>(
                    StrEq("Object stream 20 decodes to more than 1000 bytes, more than an object stream may hold")));
  }
  {
    Loaded l(bounds);
    l.Load("xref-at-cap.pdf", XRefStreamFile(1000));
    EXPECT_EQ(l.doc.PageCount(), 1);
  }
  {
    Loaded l(bounds);
    const std::string file = XRefStreamFile(1001);
    const std::string message = "Cross-reference stream at offset " + std::to_string(ksfixture::StartXRefOf(file)) +
                                " decodes to more than 1000 bytes, more than a cross-reference stream may hold";
    EXPECT_THAT([&] { l.Load("xref-past-cap.pdf", file); }, ThrowsMessage<EDecodedSizeError>(StrEq(message)));
  }
  // The process-wide decoder cap stays above a larger bound.
  {
    const uint64_t saved = ksDecodeLimit();
    ksSetDecodeLimit(999);
    Loaded l(bounds);
    EXPECT_THAT([&] { l.Load("objstm-process-cap.pdf", ObjStmFile(1, 1000)); },
                ThrowsMessage<EDecodedSizeError>(
                    StrEq("Object stream 20 decodes to more than 999 bytes, more than an object stream may hold")));
    ksSetDecodeLimit(saved);
  }
}

TEST(DecodeBounds, OneLoadDecodesAtMostItsBudget) {
  // Three object streams of 1000 bytes each in a file of about 1 KB.
  const std::string file = ObjStmFile(3, 1000);
  const uint64_t size = file.size();
  ASSERT_GE(size * 4, 3000u);
  ASSERT_LT(size * 3, 3000u);
  struct Case {
    uint64_t factor, floor;
    bool loads;
  } cases[] = {
      {0, 3000, true}, {0, 2999, false}, {4, 0, true}, {3, 0, false}, {1, 2300, true}, {1, 1000, false},
  };
  for (const Case& c : cases) {
    Loaded l(Small(1 << 20, 1 << 20, c.factor, c.floor));
    if (c.loads) {
      l.Load("budget.pdf", file);
      EXPECT_EQ(l.StoredText(6), "(object 6)") << c.factor << " " << c.floor;
      EXPECT_EQ(l.doc.DecodedBytes(), 3000u);
      EXPECT_EQ(l.doc.DecodeBudget(), c.factor * size + c.floor);
    } else {
      const std::string message = "Decoded stream data of this file exceed " + std::to_string(c.factor * size + c.floor) +
                                  " bytes in all, the most a file of " + std::to_string(size) + " bytes may decode to";
      EXPECT_THAT([&] { l.Load("budget.pdf", file); }, ThrowsMessage<EDecodedSizeError>(StrEq(message)))
          << c.factor << " " << c.floor;
    }
  }
}

// ---- form field values ----

namespace {

// Fields a and b share the value stream 10; c has 11, d has 12; each value is `decoded`
// bytes of Flate data.
std::string FieldFile(size_t decoded) {
  PdfBuilder b = Pages("/AcroForm << /Fields [20 0 R 21 0 R 22 0 R 23 0 R] >>");
  for (int v : {10, 11, 12}) b.Stream(v, "/Filter /FlateDecode", ksfixture::Deflate(std::string(decoded, 'a' + v - 10)));
  b.Object(20, "<< /FT /Tx /T (a) /V 10 0 R >>")
      .Object(21, "<< /FT /Tx /T (b) /V 10 0 R >>")
      .Object(22, "<< /FT /Tx /T (c) /V 11 0 R >>")
      .Object(23, "<< /FT /Tx /T (d) /V 12 0 R >>");
  return b.Build("/Root 1 0 R");
}

}  // namespace

TEST(DecodeBounds, FieldValuesAreDecodedWhenAskedAndOncePerStream) {
  Loaded l(Small(1 << 20, 1000, 0, 2500));
  l.Load("fields.pdf", FieldFile(1000));
  ASSERT_EQ(l.doc.AcroFormFields.size(), 4u);
  EXPECT_EQ(l.doc.DecodedBytes(), 0u);  // the load decodes no value
  EXPECT_THAT(l.warnings, IsEmpty());
  const TksAcroFormField& a = *l.doc.AcroFormFields[0];
  const TksAcroFormField& b = *l.doc.AcroFormFields[1];
  EXPECT_TRUE(a.FieldValue.empty());
  EXPECT_EQ(a.ValueStream, b.ValueStream);

  std::string_view va = l.doc.FieldValueBytes(a);
  EXPECT_EQ(va, std::string(1000, 'a'));
  EXPECT_EQ(l.doc.FieldValueBytes(b).data(), va.data());
  EXPECT_EQ(l.doc.DecodedBytes(), 1000u);
  EXPECT_EQ(l.doc.FieldValueBytes(*l.doc.AcroFormFields[2]), std::string(1000, 'b'));
  EXPECT_EQ(l.doc.DecodedBytes(), 2000u);
  // 500 bytes of the budget are left.
  const std::string message = "Decoded stream data of this file exceed 2500 bytes in all, the most a file of " +
                              std::to_string(l.fileSize) + " bytes may decode to";
  EXPECT_THAT([&] { l.doc.FieldValueBytes(*l.doc.AcroFormFields[3]); },
              ThrowsMessage<EDecodedSizeError>(StrEq(message)));
  EXPECT_EQ(l.doc.FieldValueBytes(a).data(), va.data());  // what was decoded stays

  // Saving writes the value streams as they stand.
  const std::string out = ksfixture::WriteTempFile("fields-out.pdf", "");
  l.doc.SaveToFile(out, 2);
  EXPECT_NE(ksfixture::ReadFile(out).find(ksfixture::Deflate(std::string(1000, 'c'))), std::string::npos);
}

TEST(DecodeBounds, FieldValuesPastTheirCapAreRefused) {
  Loaded l(Small(1 << 20, 999, 64, 1 << 20));
  l.Load("fields-cap.pdf", FieldFile(1000));
  EXPECT_EQ(l.doc.DecodedBytes(), 0u);
  for (int i = 0; i < 2; ++i)  // refused each time, not kept as a value
    EXPECT_THAT([&] { l.doc.FieldValueBytes(*l.doc.AcroFormFields[1]); },
                ThrowsMessage<EDecodedSizeError>(StrEq("Value of form field b decodes to more than 999 bytes")));
  EXPECT_EQ(l.doc.DecodedBytes(), 2 * 999u);
}
