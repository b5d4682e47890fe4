// The object store, the unique-ID scheme and reading single objects from a file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "document/ksCstPDFDoc.h"
#include "ksFixture.h"
#include "parse/ksPDFParsers.h"
#include "ksPlatform.h"

namespace {

using ksfixture::PdfBuilder;
using testing::StrEq;
using testing::ThrowsMessage;

std::unique_ptr<TksPDFIndirectObject> Obj(int32_t doc, int32_t num, uint16_t gen, TksPDFObjectPtr value) {
  return std::make_unique<TksPDFIndirectObject>(doc, num, gen, std::move(value));
}
TksPDFObjectPtr Int(int32_t v) { return std::make_unique<TksPDFIntegerObject>(v); }
TksPDFObjectPtr Ref(int32_t doc, int32_t num, uint16_t gen = 0) {
  return std::make_unique<TksPDFIndirectReference>(doc, num, gen);
}

struct IdCase {
  int32_t doc, num, gen, id;
};

class UniqueIDs : public testing::TestWithParam<IdCase> {};

TEST_P(UniqueIDs, AreTheDecimalConcatenation) {
  EXPECT_EQ(UniqueID(GetParam().doc, GetParam().num, GetParam().gen), GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(Table, UniqueIDs,
                         testing::Values(IdCase{1, 12, 0, 1120}, IdCase{1, 0, 0, 100}, IdCase{1, 12, 3, 1123},
                                         IdCase{1, 1, 23, 1123}, IdCase{2, 5, 1, 251}, IdCase{12, 345, 67, 1234567}));

TEST(Store, AddWithoutObjectRaises) {
  TksPDFObjectStore store;
  EXPECT_THAT([&] { store.Add(nullptr); }, ThrowsMessage<ENullObjectError>(StrEq("Expected PDF null object")));
}

TEST(Store, FirstObjectOfAnIdentityIsFoundWhateverItsNumber) {
  // Numbers far beyond the count, other documents and second generations are indexed
  // apart from the common case; each identity still finds the first object stored.
  TksPDFObjectStore store;
  TksPDFIndirectObject* first = store.Add(Obj(1, 5, 0, Int(1)));
  TksPDFIndirectObject* other = store.Add(Obj(1, 5, 2, Int(2)));
  TksPDFIndirectObject* huge = store.Add(Obj(1, 2000000000, 0, Int(3)));
  TksPDFIndirectObject* far = store.Add(Obj(1, 200000, 0, Int(4)));
  TksPDFIndirectObject* foreign = store.Add(Obj(7, 5, 0, Int(5)));
  TksPDFIndirectObject* negative = store.Add(Obj(1, -3, 0, Int(6)));
  // Enough objects that the number 200,000 comes within the flat index.
  for (int n = 10; n < 60000; ++n) store.Add(Obj(1, n, 0, Int(n)));
  store.Add(Obj(1, 5, 0, Int(7)));
  store.Add(Obj(1, 5, 2, Int(8)));
  store.Add(Obj(1, 2000000000, 0, Int(9)));
  store.Add(Obj(1, 200000, 0, Int(10)));
  EXPECT_EQ(store.Find(1, 5, 0), first);
  EXPECT_EQ(store.Find(1, 5, 2), other);
  EXPECT_EQ(store.Find(1, 5, 1), nullptr);
  EXPECT_EQ(store.Find(1, 2000000000, 0), huge);
  EXPECT_EQ(store.Find(1, 200000, 0), far);
  EXPECT_EQ(store.Find(7, 5, 0), foreign);
  EXPECT_EQ(store.Find(1, -3, 0), negative);
  EXPECT_EQ(store.Find(1, 59999, 0)->ObjectNumber, 59999);
  EXPECT_EQ(store.Find(1, 60000, 0), nullptr);
  EXPECT_EQ(store.IndexOf(1, 200000, 0), 3);
  store.Clear();
  EXPECT_EQ(store.Find(1, 5, 0), nullptr);
  TksPDFIndirectObject* again = store.Add(Obj(2, 5, 0, Int(1)));
  EXPECT_EQ(store.Find(2, 5, 0), again);
}

TEST(Store, KeyedByTheExactIdentityInInsertionOrder) {
  // Two identities with one unique ID stay apart.
  TksPDFObjectStore store;
  TksPDFIndirectObject* a = store.Add(Obj(1, 12, 3, Int(1)));
  TksPDFIndirectObject* b = store.Add(Obj(1, 1, 23, Int(2)));
  TksPDFIndirectObject* c = store.Add(Obj(2, 12, 3, Int(3)));
  EXPECT_EQ(store.Find(1, 12, 3), a);
  EXPECT_EQ(store.Find(1, 1, 23), b);
  EXPECT_EQ(store.Find(TksPDFIndirectReference(2, 12, 3)), c);
  EXPECT_EQ(store.Find(1, 12, 0), nullptr);
  EXPECT_EQ(store.IndexOf(1, 1, 23), 1);
  EXPECT_EQ(store.IndexOf(1, 5, 0), -1);
  EXPECT_EQ(store.IndexOfID(1123), 0);
  EXPECT_EQ(store.Count(), 3);
  EXPECT_EQ(store.Items(2), c);
  EXPECT_THAT([&] { store.Items(3); }, ThrowsMessage<Exception>(StrEq("List index out of bounds (3)")));
  EXPECT_THAT([&] { store.Items(-1); }, ThrowsMessage<Exception>(StrEq("List index out of bounds (-1)")));
}

TEST(Store, NextObjectNumberRaisesTheLastNumber) {
  TksPDFObjectStore store;
  store.LastObjectNumber = 41;
  EXPECT_EQ(store.NextObjectNumber(), 42);
  EXPECT_EQ(store.NextObjectNumber(), 43);
}

TEST(Store, TypedFindsFollowReferencesThroughTheStore) {
  TksPDFObjectStore store;
  store.Add(Obj(1, 5, 0, Int(7)));
  store.Add(Obj(1, 6, 0, Ref(1, 5)));  // a reference to a reference
  store.Add(Obj(1, 7, 0, std::make_unique<TksPDFNameObject>("/N")));
  TksPDFIntegerObject direct(3);
  TksPDFIndirectReference to5(1, 5, 0), to6(1, 6, 0), missing(1, 99, 0), to7(1, 7, 0);
  EXPECT_EQ(store.FindInteger(&direct), &direct);
  EXPECT_EQ(store.FindInteger(nullptr), nullptr);
  EXPECT_EQ(store.FindInteger(&to5)->Value, 7);
  EXPECT_EQ(store.FindInteger(&to6)->Value, 7);
  EXPECT_EQ(store.FindInteger(&missing), nullptr);
  EXPECT_EQ(store.FindName(&to7)->Text, "/N");
  EXPECT_THAT([&] { store.FindDictionary(&direct); },
              ThrowsMessage<EUnexpectedObjectError>(StrEq("Unexpected PDF object encountered")));
  EXPECT_THAT([&] { store.FindString(&to5); },
              ThrowsMessage<EUnexpectedObjectError>(StrEq("Unexpected PDF object encountered")));
  EXPECT_EQ(store.Dereference(&to6), store.Find(1, 5, 0)->Value.get());
  EXPECT_EQ(store.Dereference(&missing), nullptr);
}

TEST(Store, FindArrayOfASingleNameGivesOneElement) {
  TksPDFObjectStore store;
  TksPDFNameObject name("/FlateDecode");
  std::unique_ptr<TksPDFArrayObject> holder;
  TksPDFArrayObject* a = store.FindArray(&name, holder);
  ASSERT_TRUE(a);
  EXPECT_EQ(ObjectToText(a), "[ /FlateDecode ]");
  TksPDFNullObject null;
  EXPECT_EQ(store.FindArray(&null, holder), nullptr);
}

// A document whose reader stays open over a file, so single objects can be read.
struct Parsed {
  Parsed(const std::string& name, const std::string& bytes) {
    path = ksfixture::WriteTempFile(name, bytes);
    doc.OnWarning = [this](TksCustomPDFDocument*, const std::string& w) { warnings.push_back(w); };
    doc.ParseFileAt(path);
  }
  TksCustomPDFDocument doc;
  std::string path;
  std::vector<std::string> warnings;
};

PdfBuilder Pages() {
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
  return b;
}

TEST(ReadObject, OffsetsComeFromTheSlotOfEachKindOfEntry) {
  PdfBuilder b = Pages();
  auto objstm = ksfixture::MakeObjStm({{6, "(in a stream)"}});
  b.Stream(5, objstm.dictEntries, objstm.data);
  auto offsets = b.Offsets();
  std::string rows = ksfixture::XRefStreamRows(
      {{0, 0, 65535}, {1, offsets[1], 0}, {1, offsets[2], 0}, {1, offsets[3], 0}, {0, 0, 0}, {1, offsets[5], 0},
       {2, 5, 0}},
      {1, 4, 2});
  b.Stream(7, "/Type /XRef /Size 7 /W [1 4 2] /Root 1 0 R", rows);
  Parsed p("offsets.pdf", b.Finish(7));
  EXPECT_EQ(p.doc.FindObjectOffset(2), static_cast<int64_t>(offsets[2]));
  EXPECT_EQ(p.doc.FindObjectOffset(4), 0);   // free
  EXPECT_EQ(p.doc.FindObjectOffset(6), 0);   // in an object stream
  EXPECT_EQ(p.doc.FindObjectOffset(70), 0);  // beyond the entries
  EXPECT_EQ(p.doc.FindObjectOffset(-1), 0);
  EXPECT_EQ(p.doc.ReadObject(6), nullptr);
  p.doc.Reader()->Seek(0);  // 0 stands for a missing offset
  EXPECT_EQ(p.doc.ReadObjectAt(), nullptr);
  auto three = p.doc.ReadObject(3);
  ASSERT_TRUE(three);
  EXPECT_EQ(three->ObjectNumber, 3);
  EXPECT_EQ(three->DocumentID, p.doc.DocumentID);
}

TEST(ReadObject, ClassicEntriesGiveOffsets) {
  PdfBuilder b = Pages();
  Parsed p("classic.pdf", b.Build("/Root 1 0 R"));
  auto offsets = b.Offsets();
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(p.doc.FindObjectOffset(n), static_cast<int64_t>(offsets[n]));
  EXPECT_EQ(p.doc.FindObjectOffset(0), 0);
  EXPECT_EQ(p.doc.FindObjectOffset(4), 0);
}

TEST(ReadObject, IndirectLengthLaterInTheFileIsReadIntoTheStoreFirst) {
  PdfBuilder b = Pages();
  b.Object(4, "<< /Length 5 0 R >>\nstream\n0123456789A\nendstream").Object(5, "11");
  Parsed p("length-ref.pdf", b.Build("/Root 1 0 R"));
  auto four = p.doc.ReadObject(4);
  ASSERT_TRUE(four);
  EXPECT_EQ(AsStream(four->Value.get())->Data->ToString(), "0123456789A");
  TksPDFIndirectObject* length = p.doc.Store->Find(p.doc.DocumentID, 5, 0);
  ASSERT_TRUE(length);
  EXPECT_EQ(length->UseCount, 0);  // marked only when the walk reaches it
}

struct StreamCase {
  const char* name;
  std::string dict;       // stream dictionary entries
  std::string afterData;  // what follows the 10 data bytes
  std::string expected;   // data read
};

class StreamLengths : public testing::TestWithParam<StreamCase> {};

TEST_P(StreamLengths, DataAreFound) {
  PdfBuilder b = Pages();
  b.Object(4, "<< " + GetParam().dict + " >>\nstream\n0123456789" + GetParam().afterData);
  Parsed p(std::string("stream-") + GetParam().name + ".pdf", b.Build("/Root 1 0 R"));
  auto four = p.doc.ReadObject(4);
  ASSERT_TRUE(four);
  EXPECT_EQ(AsStream(four->Value.get())->Data->ToString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StreamLengths,
    testing::Values(StreamCase{"Exact", "/Length 10", "\nendstream", "0123456789"},
                    StreamCase{"TooLong", "/Length 20", "\nendstream", "0123456789\n"},
                    StreamCase{"TooShort", "/Length 4", "\nendstream", "0123456789\n"},
                    StreamCase{"Missing", "/Filter /FlateDecode", "\r\nendstream", "0123456789\r\n"},
                    StreamCase{"NotANumber", "/Length /Ten", "\nendstream", "0123456789\n"},
                    StreamCase{"UnresolvedWithLength1", "/Length 99 0 R /Length1 10", "\nendstream", "0123456789"},
                    StreamCase{"ReferenceToNonNumber", "/Length 1 0 R", "\nendstream", "0123456789\n"}),
    [](const testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

TEST(ReadObject, MissingLengthAndNoEndstreamFailsClearly) {
  PdfBuilder b = Pages();
  b.Object(4, "<< /Type /X >>\nstream\n0123456789");
  Parsed p("no-endstream.pdf", b.Build("/Root 1 0 R"));
  EXPECT_THAT([&] { p.doc.ReadObject(4); },
              ThrowsMessage<EEndStreamError>(StrEq("Stream data of object 4 have no endstream")));
}

TEST(ReadObject, UnreadableDataWithoutLength1LeaveTheStreamEmptyWithAWarning) {
  PdfBuilder b = Pages();
  b.Object(4, "<< /Length 10 >>\nstream\n0123456789");
  Parsed p("unreadable.pdf", b.Build("/Root 1 0 R"));
  auto four = p.doc.ReadObject(4);
  ASSERT_TRUE(four);
  EXPECT_EQ(AsStream(four->Value.get())->Data->size(), 0u);
  EXPECT_THAT(p.warnings, testing::ElementsAre("Stream data of object 4 could not be read; the stream is kept empty"));
}

TEST(ReadObject, LengthLoopEnds) {
  // Two streams whose lengths name each other.
  PdfBuilder b = Pages();
  b.Object(4, "<< /Length 5 0 R >>\nstream\nabc\nendstream").Object(5, "<< /Length 4 0 R >>\nstream\nxy\nendstream");
  Parsed p("length-loop.pdf", b.Build("/Root 1 0 R"));
  auto four = p.doc.ReadObject(4);
  ASSERT_TRUE(four);
  EXPECT_EQ(AsStream(four->Value.get())->Data->ToString(), "abc\n");
}

// A wrong offset for an object that is needed fails the load: reading on would drop
// whatever the object holds.
TEST(ReadObject, WrongOffsetOfANeededObjectIsAnError) {
  struct Case { const char* name; const char* replacement; } cases[] = {
      {"wrong-number.pdf", "9 0 obj"}, {"no-header.pdf", "garbage"}};
  for (const auto& c : cases) {
    PdfBuilder b = Pages();
    b.Object(4, "(four)");
    std::string file = b.Build("/Root 1 0 R");
    file.replace(file.find("4 0 obj"), 7, c.replacement);
    Parsed p(c.name, file);
    EXPECT_THAT([&] { p.doc.ReadObject(4); },
                testing::ThrowsMessage<ECrossReferenceError>(testing::HasSubstr("Object 4 is not at offset")))
        << c.name;
  }
}

TEST(ReadObject, GenerationAboveZeroIsStoredOnce) {
  PdfBuilder b = Pages();
  b.Object(4, "(four)", 2);
  Parsed p("gen2.pdf", b.Build("/Root 1 0 R"));
  int before = p.doc.Store->Count();
  TksPDFArrayObject refs;
  refs.Add(Ref(p.doc.DocumentID, 4, 2));
  refs.Add(Ref(p.doc.DocumentID, 4, 0));  // the walk's assumption of generation 0
  refs.Add(Ref(p.doc.DocumentID, 4, 2));
  p.doc.MarkReachable(&refs);
  EXPECT_EQ(p.doc.Store->Count(), before + 1);
  TksPDFIndirectObject* four = p.doc.Store->Find(p.doc.DocumentID, 4, 2);
  ASSERT_TRUE(four);
  EXPECT_EQ(four->UseCount, 3);
}

}  // namespace
