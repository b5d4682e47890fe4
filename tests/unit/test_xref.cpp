// Cross-reference tables and streams, object streams and the PNG predictor.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "document/ksCstPDFDoc.h"
#include "ksFixture.h"
#include "parse/ksPDFParsers.h"
#include "ksPlatform.h"

namespace {

using ksfixture::PdfBuilder;
using ksfixture::XRefStreamRows;
using testing::ElementsAre;
using testing::StrEq;
using testing::ThrowsMessage;

// A document with the file's structure read and its reader still open.
struct Parsed {
  Parsed(const std::string& name, const std::string& bytes) {
    path = ksfixture::WriteTempFile(name, bytes);
    doc.OnStatusMessage = [this](TksCustomPDFDocument*, const std::string& m) { status.push_back(m); };
    doc.OnWarning = [this](TksCustomPDFDocument*, const std::string& w) { warnings.push_back(w); };
    doc.ParseFileAt(path);
  }
  TksPDFIndirectObject* Stored(int32_t number) const { return doc.Store->Find(doc.DocumentID, number, 0); }
  std::string StoredText(int32_t number) const {
    TksPDFIndirectObject* o = Stored(number);
    return o ? ObjectToText(o->Value.get()) : "(absent)";
  }
  std::string ReadText(int32_t number) {
    auto o = doc.ReadObject(number);
    return o ? ObjectToText(o->Value.get()) : "(absent)";
  }
  TksCustomPDFDocument doc;
  std::string path;
  std::vector<std::string> status, warnings;
};

// Parsing a file that must fail; the document is kept for inspection.
void ParseOnly(TksCustomPDFDocument& doc, const std::string& name, const std::string& bytes) {
  std::string path = ksfixture::WriteTempFile(name, bytes);
  doc.ParseFileAt(path);
}

PdfBuilder Pages(const std::string& header = "%PDF-1.4") {
  PdfBuilder b(header);
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
  return b;
}

// ---- classic tables ----

TEST(XRefTable, OneSectionFillsTheSlotsOfInUseEntries) {
  PdfBuilder b = Pages();
  b.Object(5, "(five)");
  Parsed p("table.pdf", b.Build("/Root 1 0 R"));
  auto offsets = b.Offsets();
  ASSERT_EQ(p.doc.XRefEntries.size(), 6u);
  EXPECT_FALSE(p.doc.XRefEntries[0]);  // free
  EXPECT_FALSE(p.doc.XRefEntries[4]);  // free
  for (int n : {1, 2, 3, 5}) {
    ASSERT_TRUE(p.doc.XRefEntries[n]) << n;
    EXPECT_EQ(p.doc.XRefEntries[n]->ObjectNumber, n);
    EXPECT_EQ(p.doc.XRefEntries[n]->EntryType, 'n');
    EXPECT_EQ(p.doc.XRefEntries[n]->Offset, static_cast<int64_t>(offsets[n]));
  }
  EXPECT_EQ(p.doc.XRefKind, xkTable);
  EXPECT_EQ(p.doc.Trailer.RootNumber, 1);
  EXPECT_EQ(p.doc.Store->LastObjectNumber, 6);
  EXPECT_THAT(p.status, ElementsAre("Reading Cross-Reference Table"));
  EXPECT_EQ(p.doc.PDFVersion, pvPDF14);
  EXPECT_TRUE(p.doc.IsLoaded);
  EXPECT_FALSE(p.doc.IsEncrypted);
}

TEST(XRefTable, IncrementalUpdateReplacesChangedObjectsAndFreesDeletedOnes) {
  PdfBuilder b = Pages();
  b.Object(4, "(old four)").Object(5, "(five)");
  std::string base = b.Build("/Root 1 0 R /Info 5 0 R");
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Object(4, "(new four)").Free(5).Free(7);
  Parsed p("update.pdf", u.Build("/Prev " + std::to_string(ksfixture::StartXRefOf(base))));
  EXPECT_EQ(p.ReadText(4), "(new four)");
  // The newest entry wins, a free one too: the deleted object does not come back.
  EXPECT_EQ(p.ReadText(5), "(absent)");
  EXPECT_EQ(p.doc.FindObjectOffset(5), 0);
  EXPECT_TRUE(p.doc.ReferenceGone(5, 0));
  // A free entry for a number no older section lists changes nothing.
  EXPECT_EQ(p.doc.XRefEntries.size(), 6u);
  EXPECT_EQ(p.doc.Trailer.RootNumber, 1);  // taken from the older trailer
  ASSERT_TRUE(p.doc.Trailer.InfoReference);
  EXPECT_EQ(p.doc.Trailer.InfoReference->ObjectNumber, 5);
  EXPECT_THAT(p.status, ElementsAre("Reading Cross-Reference Table", "Reading Cross-Reference Table"));
}

TEST(XRefStream, FreeEntryOfAnUpdateFreesWhatAnOlderTableGave) {
  PdfBuilder b = Pages("%PDF-1.5");
  b.Object(4, "(four)");
  std::string base = b.Build("/Root 1 0 R");
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Stream(5, "/Type /XRef /Size 6 /W [1 4 2] /Index [4 1] /Prev " + std::to_string(ksfixture::StartXRefOf(base)),
           XRefStreamRows({{0, 0, 1}}, {1, 4, 2}));
  Parsed p("stream-frees.pdf", u.Finish(5));
  EXPECT_EQ(p.ReadText(4), "(absent)");
  EXPECT_EQ(p.ReadText(3).substr(0, 12), "<<\r\n/Type /P");
}

// Object 4 given as generation 0, then an update that reuses the number as generation 1.
TEST(XRefTable, AGenerationReplacedByAnUpdateLeadsNowhere) {
  PdfBuilder b = Pages();
  b.Object(4, "(four, generation 0)");
  std::string base = b.Build("/Root 1 0 R");
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Object(4, "(four, generation 1)", 1);
  Parsed p("reused.pdf", u.Build("/Root 1 0 R /Prev " + std::to_string(ksfixture::StartXRefOf(base))));
  auto read = [&](int32_t generation) {
    auto o = p.doc.ReadObject(4, generation);
    return o ? ObjectToText(o->Value.get()) : "(absent)";
  };
  EXPECT_EQ(read(0), "(absent)");
  EXPECT_EQ(read(1), "(four, generation 1)");
  EXPECT_EQ(read(TksCustomPDFDocument::kAnyGeneration), "(four, generation 1)");
  EXPECT_TRUE(p.warnings.empty());
  // A generation no section gave: a sloppy reference, taken to mean the object.
  EXPECT_EQ(read(2), "(four, generation 1)");
  EXPECT_THAT(p.warnings,
              ElementsAre("Reference 4 2 R names object 4 by another generation (1); it is taken to mean that object"));
  // The store answers the same way once the object is in it.
  ASSERT_TRUE(p.doc.AddLoaded(p.doc.ReadObject(4, 1)));
  EXPECT_EQ(p.doc.FindLoaded(4, 0), nullptr);
  EXPECT_NE(p.doc.FindLoaded(4, 1), nullptr);
  EXPECT_NE(p.doc.FindLoaded(4, 2), nullptr);
  // Numbers the update did not touch are unaffected.
  EXPECT_FALSE(p.doc.ReferenceGone(3, 0));
}

TEST(XRefTable, NewestTrailerValuesWin) {
  PdfBuilder b = Pages();
  b.Object(4, "<< /Type /Catalog /Pages 2 0 R >>");
  std::string base = b.Build("/Root 1 0 R /ID [<01> <02>]");
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Object(5, "(x)");
  Parsed p("newest.pdf", u.Build("/Root 4 0 R /ID [<0A> <0B>] /Prev " + std::to_string(ksfixture::StartXRefOf(base))));
  EXPECT_EQ(p.doc.Trailer.RootNumber, 4);
  ASSERT_TRUE(p.doc.Trailer.IDArray);
  EXPECT_EQ(ObjectToText(p.doc.Trailer.IDArray.get()), "[ <0A> <0B> ]");
}

TEST(XRefTable, IdentifierGivenByReferenceIsResolvedWithoutStoringIt) {
  PdfBuilder b = Pages();
  b.Object(4, "[<AA> <BB>]");
  Parsed p("id-ref.pdf", b.Build("/Root 1 0 R /ID 4 0 R"));
  ASSERT_TRUE(p.doc.Trailer.IDArray);
  EXPECT_EQ(ObjectToText(p.doc.Trailer.IDArray.get()), "[ <AA> <BB> ]");
  EXPECT_FALSE(p.Stored(4));
}

TEST(XRefTable, SubsectionWithCountZeroEndsTheSection) {
  PdfBuilder b = Pages();
  b.Object(4, "(four)");
  std::string file = b.Build("/Root 1 0 R");
  size_t head = file.find("xref\n0 5\n");
  file.replace(head, 9, "xref\n0 4\n");
  size_t fourth = head + 9 + 4 * 20;  // the entry of object 4
  file.insert(fourth, "0 0\n4 1\n");
  Parsed p("count0.pdf", file);
  EXPECT_EQ(p.doc.FindObjectOffset(4), 0);
  EXPECT_NE(p.doc.FindObjectOffset(3), 0);
}

TEST(XRefTable, EntriesEndingInOneByteAreRead) {
  PdfBuilder b = Pages();
  std::string file = b.Build("/Root 1 0 R");
  size_t xref = file.find("xref\n");
  std::string tail = file.substr(xref);
  for (size_t at = tail.find(" n\r\n"); at != std::string::npos; at = tail.find(" n\r\n")) tail.replace(at, 4, " n\n");
  Parsed p("short-eol.pdf", file.substr(0, xref) + tail);
  EXPECT_EQ(p.doc.FindObjectOffset(3), static_cast<int64_t>(b.Offsets()[3]));
}

// ---- cross-reference streams ----

// Objects 1..3 (page tree), optional extra objects, then a cross-reference stream as
// object xrefNumber whose rows the test gives through a function of the offsets.
struct StreamFile {
  PdfBuilder b = Pages("%PDF-1.5");
  std::string Finish(int xrefNumber, const std::string& dict, const std::string& data) {
    b.Stream(xrefNumber, "/Type /XRef " + dict, data);
    return b.Finish(xrefNumber);
  }
};

struct WidthCase {
  const char* name;
  std::array<int, 3> widths;
  std::string index;  // "" for none
};

class XRefStreamWidths : public testing::TestWithParam<WidthCase> {};

TEST_P(XRefStreamWidths, GiveOffsetsAndGenerationZero) {
  StreamFile f;
  auto offsets = f.b.Offsets();
  const auto& w = GetParam().widths;
  std::vector<std::array<uint64_t, 3>> rows = {{0, 0, 0}, {1, offsets[1], 0}, {1, offsets[2], 0}, {1, offsets[3], 0}};
  if (!GetParam().index.empty()) rows.erase(rows.begin());  // the /Index starts at 1
  std::string wText = "/W [" + std::to_string(w[0]) + " " + std::to_string(w[1]) + " " + std::to_string(w[2]) + "]";
  Parsed p(std::string("widths-") + GetParam().name + ".pdf",
           f.Finish(4, "/Size 4 " + wText + " " + GetParam().index + " /Root 1 0 R", XRefStreamRows(rows, w)));
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(p.doc.FindObjectOffset(n), static_cast<int64_t>(offsets[n])) << n;
    EXPECT_EQ(p.doc.XRefStreamEntries[n]->Field3, 0);
  }
  EXPECT_EQ(p.doc.XRefKind, xkStream);
  EXPECT_THAT(p.status, ElementsAre("Reading Cross-Reference Stream Table"));
  EXPECT_EQ(p.doc.Store->LastObjectNumber, 4);
}

INSTANTIATE_TEST_SUITE_P(Table, XRefStreamWidths,
                         testing::Values(WidthCase{"W120", {1, 2, 0}, ""}, WidthCase{"W120Index", {1, 2, 0}, "/Index [1 3]"},
                                         WidthCase{"W142", {1, 4, 2}, ""}, WidthCase{"W183", {1, 8, 3}, "/Index [1 3]"},
                                         WidthCase{"NoTypeField", {0, 3, 1}, "/Index [1 3]"}),
                         [](const testing::TestParamInfo<WidthCase>& info) { return std::string(info.param.name); });

TEST(XRefStream, IndexWithSeveralRangesAndAnOddLastElement) {
  StreamFile f;
  f.b.Object(10, "(ten)");
  auto offsets = f.b.Offsets();
  std::string rows = XRefStreamRows({{1, offsets[1], 0}, {1, offsets[2], 0}, {1, offsets[3], 0}, {1, offsets[10], 0}},
                                    {1, 4, 2});
  Parsed p("index.pdf", f.Finish(11, "/Size 11 /W [1 4 2] /Index [1 3 10 1 99] /Root 1 0 R", rows));
  EXPECT_EQ(p.ReadText(10), "(ten)");
  EXPECT_EQ(p.doc.XRefStreamEntries.size(), 11u);
}

TEST(XRefStream, FlateWithPngUpPredictionOverFourColumns) {
  StreamFile f;
  auto offsets = f.b.Offsets();
  std::string rows = XRefStreamRows({{0, 0, 255}, {1, offsets[1], 0}, {1, offsets[2], 0}, {1, offsets[3], 0}}, {1, 2, 1});
  std::string data = ksfixture::Deflate(ksfixture::PngPredict(rows, 4, 2));
  Parsed p("png.pdf", f.Finish(4,
                               "/Size 4 /W [1 2 1] /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 4 >> "
                               "/Root 1 0 R",
                               data));
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(p.doc.FindObjectOffset(n), static_cast<int64_t>(offsets[n]));
}

TEST(XRefStream, PrevMayNameAnOlderTable) {
  PdfBuilder b = Pages("%PDF-1.5");
  std::string base = b.Build("/Root 1 0 R");
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Object(4, "(four)");
  auto offsets = u.Offsets();
  u.Stream(5, "/Type /XRef /Size 5 /W [1 4 1] /Index [4 1] /Prev " + std::to_string(ksfixture::StartXRefOf(base)),
           XRefStreamRows({{1, offsets[4], 0}}, {1, 4, 1}));
  Parsed p("stream-over-table.pdf", u.Finish(5));
  EXPECT_EQ(p.ReadText(4), "(four)");
  EXPECT_EQ(p.ReadText(3).substr(0, 12), "<<\r\n/Type /P");
  EXPECT_EQ(p.doc.Trailer.RootNumber, 1);
}

TEST(XRefStream, PredictorTwoIsRefused) {
  StreamFile f;
  TksCustomPDFDocument doc;
  std::string file = f.Finish(4, "/Size 1 /W [1 2 1] /Filter /FlateDecode /DecodeParms << /Predictor 2 /Columns 4 >>",
                              ksfixture::Deflate(std::string(4, '\0')));
  EXPECT_THAT([&] { ParseOnly(doc, "predictor2.pdf", file); },
              ThrowsMessage<ECrossReferenceError>(StrEq("Unsupported predictor (2) in cross-reference stream")));
}

// ---- hybrid files ----

// A table listing objects 1..3 and the object stream 5; the cross-reference stream 7
// lists object 6 inside object stream 5.
std::string HybridFile(const std::string& trailerExtra, bool tableListsSix) {
  PdfBuilder b = Pages("%PDF-1.5");
  auto objstm = ksfixture::MakeObjStm({{6, "(six from the stream)"}});
  b.Stream(5, objstm.dictEntries, objstm.data);
  if (tableListsSix) b.Object(6, "(six from the table)");
  auto offsets = b.Offsets();
  b.Stream(7, "/Type /XRef /Size 8 /W [1 4 2] /Index [6 1]", XRefStreamRows({{2, 5, 0}}, {1, 4, 2}));
  std::string xrefStm = std::to_string(b.Offsets()[7]);
  return b.Build("/Root 1 0 R /XRefStm " + xrefStm + " " + trailerExtra);
}

TEST(Hybrid, XRefStmIsFollowedWithoutPrev) {
  Parsed p("hybrid.pdf", HybridFile("", false));
  EXPECT_EQ(p.doc.XRefKind, xkHybrid);
  EXPECT_EQ(p.StoredText(6), "(six from the stream)");
  EXPECT_EQ(p.doc.Store->LastObjectNumber, 8);
}

TEST(Hybrid, TableEntriesOfTheSameSectionWinOverItsStream) {
  Parsed p("hybrid-table-wins.pdf", HybridFile("", true));
  EXPECT_EQ(p.StoredText(6), "(absent)");
  EXPECT_EQ(p.ReadText(6), "(six from the table)");
}

// A hybrid file (the table lists object 6 itself, the /XRefStm stream lists it in an object
// stream) and an update whose trailer names the same /XRefStm again: the stream is read
// once and ranks as the update's, so it now comes before the older table; no warning.
TEST(Hybrid, UpdateRepeatingTheOlderXRefStmReadsItOnceAtItsNewestPlace) {
  const std::string base = HybridFile("", true);
  const std::string xrefStm = base.substr(base.find("/XRefStm ") + 9, base.find(' ', base.find("/XRefStm ") + 9) -
                                                                          base.find("/XRefStm ") - 9);
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Object(4, "(four)");
  Parsed p("hybrid-repeat.pdf",
           u.Build("/Root 1 0 R /Prev " + std::to_string(ksfixture::StartXRefOf(base)) + " /XRefStm " + xrefStm));
  EXPECT_TRUE(p.warnings.empty());
  EXPECT_EQ(p.StoredText(6), "(six from the stream)");
  EXPECT_EQ(p.ReadText(4), "(four)");
  EXPECT_THAT(p.status, ElementsAre("Reading Cross-Reference Table", "Reading Cross-Reference Table"));
}

// ---- sections that loop or lead nowhere ----

struct ChainCase {
  const char* name;
  std::function<std::string()> file;
  std::function<std::string(const std::string&)> warning;  // of the file
  int32_t newestObject;  // an object the newest section lists
};

class ChainEnds : public testing::TestWithParam<ChainCase> {};

TEST_P(ChainEnds, WithAWarningAndWhatWasReadStands) {
  const std::string file = GetParam().file();
  Parsed p(std::string("chain-") + GetParam().name + ".pdf", file);
  EXPECT_THAT(p.warnings, ElementsAre(GetParam().warning(file)));
  EXPECT_EQ(p.doc.Trailer.RootNumber, 1);
  for (int32_t n : {1, 2, 3, GetParam().newestObject}) EXPECT_NE(p.ReadText(n), "(absent)") << n;
}

std::string SelfPrev();
std::string TwoSectionLoop();

std::string LoopWarning(const std::string& file) {
  return "Cross-reference sections loop back to offset " + std::to_string(ksfixture::StartXRefOf(file)) +
         "; the chain of older sections ends there";
}

std::string PrevWarning(int64_t offset) {
  return "/Prev offset " + std::to_string(offset) +
         " points at neither a cross-reference table nor a stream; it is ignored";
}

// A complete table whose /Prev names the offset of object 2 plus the given shift.
std::string PrevInto(int shift) {
  PdfBuilder b = Pages();
  return b.Build("/Root 1 0 R /Prev " + std::to_string(b.Offsets()[2] + static_cast<size_t>(shift)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChainEnds,
    testing::Values(
        ChainCase{"PrevLoopsToItself", [] { return SelfPrev(); }, LoopWarning, 3},
        ChainCase{"PrevLoopsOverTwoSections", [] { return TwoSectionLoop(); }, LoopWarning, 4},
        ChainCase{"PrevAtGarbage", [] { return Pages().Build("/Root 1 0 R /Prev 3"); },
                  [](const std::string&) { return PrevWarning(3); }, 3},
        ChainCase{"PrevBeyondTheEnd", [] { return Pages().Build("/Root 1 0 R /Prev 99999"); },
                  [](const std::string&) { return PrevWarning(99999); }, 3},
        // Object 2 is a dictionary, not a cross-reference stream; two bytes on, the
        // offset stands inside its header.
        ChainCase{"PrevAtAnotherObject", [] { return PrevInto(0); },
                  [](const std::string&) { return PrevWarning(static_cast<int64_t>(Pages().Offsets()[2])); }, 3},
        ChainCase{"PrevInsideAnObjectHeader", [] { return PrevInto(2); },
                  [](const std::string&) { return PrevWarning(static_cast<int64_t>(Pages().Offsets()[2] + 2)); }, 3},
        ChainCase{"PrevAtAContentStream",
                  [] {
                    PdfBuilder b = Pages();
                    b.Stream(4, "", "0 0 m 10 10 l S");
                    return b.Build("/Root 1 0 R /Prev " + std::to_string(b.Offsets()[4]));
                  },
                  [](const std::string& file) {
                    return PrevWarning(static_cast<int64_t>(file.find("4 0 obj")));
                  },
                  4}),
    [](const testing::TestParamInfo<ChainCase>& info) { return std::string(info.param.name); });

// ---- object streams ----

TEST(ObjectStreams, NonContiguousEntriesExpandEachStreamOnce) {
  PdfBuilder b = Pages("%PDF-1.5");
  auto s10 = ksfixture::MakeObjStm({{5, "(five)"}, {6, "[5 0 R]"}, {8, "<< /Eight 8 >>"}});
  auto s11 = ksfixture::MakeObjStm({{7, "(seven)"}});
  b.Stream(10, s10.dictEntries + " /Filter /FlateDecode", ksfixture::Deflate(s10.data));
  b.Stream(11, s11.dictEntries, s11.data);
  auto o = b.Offsets();
  std::string rows = XRefStreamRows({{0, 0, 0}, {1, o[1], 0}, {1, o[2], 0}, {1, o[3], 0}, {0, 0, 0}, {2, 10, 0},
                                     {2, 10, 1}, {2, 11, 0}, {2, 10, 2}, {0, 0, 0}, {1, o[10], 0}, {1, o[11], 0}},
                                    {1, 4, 2});
  b.Stream(12, "/Type /XRef /Size 12 /W [1 4 2] /Root 1 0 R", rows);
  Parsed p("objstm.pdf", b.Finish(12));
  int before = p.doc.Store->Count();
  EXPECT_EQ(p.StoredText(5), "(five)");
  EXPECT_EQ(p.StoredText(6), "[ 5 0 R ]");
  EXPECT_EQ(p.StoredText(7), "(seven)");
  EXPECT_EQ(p.StoredText(8), "<<\r\n/Eight 8\r\n>>");
  EXPECT_EQ(before, 4);
  // Stored unmarked: only what the structure walk reaches is written.
  for (int n : {5, 6, 7, 8}) EXPECT_EQ(p.Stored(n)->UseCount, 0) << n;
  EXPECT_FALSE(p.Stored(10));  // object streams themselves are not kept
}

struct ObjStmCase {
  const char* name;
  std::string extraDict;  // filter entries
  std::string type;       // the stream's /Type
  std::function<std::string(const std::string&)> encode;
  bool expanded;
};

class ObjectStreamFilters : public testing::TestWithParam<ObjStmCase> {};

TEST_P(ObjectStreamFilters, AreExpandedWhenDecodable) {
  PdfBuilder b = Pages("%PDF-1.5");
  auto s = ksfixture::MakeObjStm({{4, "(four)"}});
  std::string dict = s.dictEntries;
  dict.replace(dict.find("/ObjStm"), 7, GetParam().type);
  b.Stream(9, dict + " " + GetParam().extraDict, GetParam().encode(s.data));
  auto o = b.Offsets();
  // The object stream's own number is the last index of the entries.
  std::string rows = XRefStreamRows(
      {{0, 0, 0}, {1, o[1], 0}, {1, o[2], 0}, {1, o[3], 0}, {2, 9, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {1, o[9], 0}},
      {1, 4, 2});
  b.Stream(10, "/Type /XRef /Size 10 /W [1 4 2] /Index [0 10] /Root 1 0 R", rows);
  Parsed p(std::string("objstm-") + GetParam().name + ".pdf", b.Finish(10));
  EXPECT_EQ(p.StoredText(4), GetParam().expanded ? "(four)" : "(absent)");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ObjectStreamFilters,
    testing::Values(ObjStmCase{"Flate", "/Filter /FlateDecode", "/ObjStm", ksfixture::Deflate, true},
                    ObjStmCase{"FlateArray", "/Filter [/FlateDecode]", "/ObjStm", ksfixture::Deflate, true},
                    ObjStmCase{"NoFilter", "", "/ObjStm", [](const std::string& d) { return d; }, true},
                    ObjStmCase{"LZW", "/Filter /LZWDecode", "/ObjStm", ksfixture::LzwLiteral, true},
                    ObjStmCase{"NotAnObjStm", "", "/Other", [](const std::string& d) { return d; }, false}),
    [](const testing::TestParamInfo<ObjStmCase>& info) { return std::string(info.param.name); });

// Objects 1 (catalog), 2 (page tree root), 4 (information) inside object stream 9;
// the page 3 at an offset.
std::string CatalogInObjStmFile() {
  PdfBuilder b("%PDF-1.5");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
  auto s = ksfixture::MakeObjStm({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                                  {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
                                  {4, "<< /Title (A title) /Producer (P) >>"}});
  b.Stream(9, s.dictEntries + " /Filter /FlateDecode", ksfixture::Deflate(s.data));
  auto o = b.Offsets();
  std::string rows = XRefStreamRows({{0, 0, 0}, {2, 9, 0}, {2, 9, 1}, {1, o[3], 0}, {2, 9, 2}, {0, 0, 0}, {0, 0, 0},
                                     {0, 0, 0}, {0, 0, 0}, {1, o[9], 0}},
                                    {1, 4, 2});
  b.Stream(10, "/Type /XRef /Size 10 /W [1 4 2] /Root 1 0 R /Info 4 0 R /ID [<01><02>]", rows);
  return b.Finish(10);
}

TEST(ObjectStreams, CatalogAndInformationGoIntoTheStore) {
  Parsed p("catalog-objstm.pdf", CatalogInObjStmFile());
  // Everything enters unmarked; the walk finds the catalog and the information there.
  for (int n : {1, 2, 4}) {
    ASSERT_TRUE(p.Stored(n)) << n;
    EXPECT_EQ(p.Stored(n)->UseCount, 0) << n;
  }
  EXPECT_EQ(p.StoredText(1), "<<\r\n/Type /Catalog\r\n/Pages 2 0 R\r\n>>");
  p.doc.FinishLoad();
  EXPECT_EQ(p.doc.PageCount(), 1);
  EXPECT_EQ(ObjectToText(&p.doc.Info().Dictionary()), "<<\r\n/Title (A title)\r\n/Producer (P)\r\n>>");
  // The writer builds catalog, information and page tree anew: the old ones stay unmarked.
  for (int n : {1, 2, 4}) EXPECT_EQ(p.Stored(n)->UseCount, 0) << n;
}

TEST(ObjectStreams, OlderCopyNeverHidesTheNewerObjectOfAnUpdate) {
  PdfBuilder b = Pages("%PDF-1.5");
  auto s = ksfixture::MakeObjStm({{4, "(old four)"}, {5, "(five)"}});
  b.Stream(9, s.dictEntries, s.data);
  auto o = b.Offsets();
  b.Stream(10, "/Type /XRef /Size 10 /W [1 4 2] /Root 1 0 R",
           XRefStreamRows({{0, 0, 0}, {1, o[1], 0}, {1, o[2], 0}, {1, o[3], 0}, {2, 9, 0}, {2, 9, 1}, {0, 0, 0},
                           {0, 0, 0}, {0, 0, 0}, {1, o[9], 0}},
                          {1, 4, 2}));
  std::string base = b.Finish(10);
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Object(4, "(new four)");
  Parsed p("objstm-update.pdf", u.Build("/Root 1 0 R /Prev " + std::to_string(ksfixture::StartXRefOf(base))));
  EXPECT_EQ(p.StoredText(4), "(absent)");
  EXPECT_EQ(p.ReadText(4), "(new four)");
  EXPECT_EQ(p.StoredText(5), "(five)");
}

TEST(ObjectStreams, UnreadableStreamIsReportedAndSkipped) {
  StreamFile f;
  auto o = f.b.Offsets();
  std::string rows = XRefStreamRows({{0, 0, 0}, {1, o[1], 0}, {1, o[2], 0}, {1, o[3], 0}, {2, 8, 0}}, {1, 4, 2});
  Parsed p("objstm-missing.pdf", f.Finish(5, "/Size 5 /W [1 4 2] /Root 1 0 R", rows));
  EXPECT_THAT(p.warnings, ElementsAre("Object stream 8 could not be read; the objects it holds are missing"));
}

// ---- the PNG predictor ----

class PngTags : public testing::TestWithParam<int> {};

TEST_P(PngTags, RoundTrip) {
  const std::string plain = "\x01\x02\x03\x04\x05\xFF\xFE\x10\x20\x30\x7F\x80\x00\x01\x90";  // three rows of five
  TksMemoryStream predicted(ksfixture::PngPredict(plain, 5, GetParam()));
  EXPECT_EQ(TksCustomPDFDocument::UndoPNGPrediction(predicted, 5)->ToString(), plain);
}

INSTANTIATE_TEST_SUITE_P(Table, PngTags, testing::Values(0, 1, 2, 3, 4));

TEST(Png, TagFiveIsRefused) {
  TksMemoryStream data(std::string("\x02\x01\x01\x05\x01\x01", 6));
  EXPECT_THAT([&] { TksCustomPDFDocument::UndoPNGPrediction(data, 2); },
              ThrowsMessage<EImproperPNGAlgorithm>(StrEq("Improper PNG algorithm tag in stream")));
}

TEST(Png, ReadsFromThePositionAndDecodesAShortLastRow) {
  TksMemoryStream data(std::string("xx\x02\x01\x02\x02\x01", 7));
  data.SetPosition(2);
  EXPECT_EQ(TksCustomPDFDocument::UndoPNGPrediction(data, 2)->ToString(), std::string("\x01\x02\x02", 3));
}

// ---- damaged and hostile cross-reference data ----

struct BadCase {
  const char* name;
  std::function<std::string()> file;
  std::function<void(std::function<void()>)> expect;
};

template <class E>
std::function<void(std::function<void()>)> Throws(std::string message) {
  return [message](std::function<void()> f) { EXPECT_THAT(f, ThrowsMessage<E>(StrEq(message))); };
}

class BadXRef : public testing::TestWithParam<BadCase> {};

TEST_P(BadXRef, EndsInAClearError) {
  TksCustomPDFDocument doc;
  std::string file = GetParam().file();
  GetParam().expect([&] { ParseOnly(doc, std::string("bad-") + GetParam().name + ".pdf", file); });
  EXPECT_FALSE(doc.Reader());  // released on failure
  EXPECT_FALSE(doc.IsLoaded);
}

std::string WithStartXRef(std::string file, const std::string& offset) {
  size_t at = file.rfind("startxref\n");
  size_t end = file.find('\n', at + 10);
  return file.replace(at + 10, end - at - 10, offset);
}

std::string SelfPrev() {
  std::string file = Pages().Build("/Root 1 0 R /Prev 0000000");
  size_t xref = static_cast<size_t>(ksfixture::StartXRefOf(file));
  char seven[8];
  std::snprintf(seven, sizeof seven, "%07zu", xref);
  return file.replace(file.find("/Prev 0000000") + 6, 7, seven);
}

std::string TwoSectionLoop() {
  std::string base = Pages().Build("/Root 1 0 R /Prev 0000000");
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Object(4, "(four)");
  std::string file = u.Build("/Prev " + std::to_string(ksfixture::StartXRefOf(base)));
  char seven[8];
  std::snprintf(seven, sizeof seven, "%07lld", static_cast<long long>(ksfixture::StartXRefOf(file)));
  return file.replace(file.find("/Prev 0000000") + 6, 7, seven);
}

std::string StreamWith(const std::string& dict, const std::string& rows) {
  StreamFile f;
  return f.Finish(4, dict + " /Root 1 0 R", rows);
}

std::string ThreeRows() {
  StreamFile f;
  auto o = f.b.Offsets();
  return XRefStreamRows({{1, o[1], 0}, {1, o[2], 0}, {1, o[3], 0}}, {1, 4, 2});
}

std::string TableWith(const std::string& from, const std::string& to) {
  std::string file = Pages().Build("/Root 1 0 R");
  size_t xref = file.rfind("\nxref\n");
  return file.replace(file.find(from, xref), from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadXRef,
    testing::Values(
        BadCase{"StartXRefAtGarbage", [] { return WithStartXRef(Pages().Build("/Root 1 0 R"), "3"); },
                Throws<EPDFFileCorruptedError>("File is corrupted")},
        BadCase{"StartXRefBeyondEnd", [] { return WithStartXRef(Pages().Build("/Root 1 0 R"), "99999"); },
                Throws<EPDFFileCorruptedError>("File is corrupted")},
        BadCase{"StartXRefAtAnotherObject",
                [] {
                  PdfBuilder b = Pages();
                  return WithStartXRef(b.Build("/Root 1 0 R"), std::to_string(b.Offsets()[2]));
                },
                Throws<ECrossReferenceError>("Object at offset " + std::to_string(Pages().Offsets()[2]) +
                                             " is not a cross-reference stream")},
        BadCase{"PrevNotANumber", [] { return Pages().Build("/Root 1 0 R /Prev /Foo"); },
                Throws<ECrossReferenceError>("Invalid /Prev or /XRefStm offset (/Foo)")},
        BadCase{"XRefStmAtTable", [] { return SelfPrev().replace(SelfPrev().find("/Prev"), 5, "/XRefStm"); },
                Throws<EPDFFileCorruptedError>("File is corrupted")},
        BadCase{"HugeSize", [] { return StreamWith("/Size 2000000000 /W [1 4 2]", ThreeRows()); },
                Throws<ECrossReferenceError>("Cross-reference stream data hold 3 entries where 2000000000 are announced")},
        BadCase{"HugeIndexCount", [] { return StreamWith("/Size 4 /W [1 4 2] /Index [1 1000000000]", ThreeRows()); },
                Throws<ECrossReferenceError>("Cross-reference stream data hold 3 entries where 1000000000 are announced")},
        BadCase{"IndexBeyondTheFile", [] { return StreamWith("/Size 4 /W [1 4 2] /Index [3000000 3]", ThreeRows()); },
                Throws<ECrossReferenceError>(
                    "Object number 3000000 in the cross-reference data is beyond what the file can hold")},
        BadCase{"IndexOverflow", [] { return StreamWith("/Size 4 /W [1 4 2] /Index [2147483647 3]", ThreeRows()); },
                Throws<ECrossReferenceError>("Invalid /Index in cross-reference stream")},
        BadCase{"IndexNegative", [] { return StreamWith("/Size 4 /W [1 4 2] /Index [-1 3]", ThreeRows()); },
                Throws<ECrossReferenceError>("Invalid /Index in cross-reference stream")},
        BadCase{"WidthNine", [] { return StreamWith("/Size 3 /W [1 9 2]", ThreeRows()); },
                Throws<ECrossReferenceError>("Invalid /W field widths in cross-reference stream")},
        BadCase{"TwoWidths", [] { return StreamWith("/Size 3 /W [1 4]", ThreeRows()); },
                Throws<ECrossReferenceError>("Invalid /W field widths in cross-reference stream")},
        BadCase{"ZeroWidths", [] { return StreamWith("/Size 3 /W [0 0 0]", ThreeRows()); },
                Throws<ECrossReferenceError>("Invalid /W field widths in cross-reference stream")},
        BadCase{"NoSize", [] { return StreamWith("/W [1 4 2]", ThreeRows()); },
                Throws<ECrossReferenceError>("Invalid /Size in cross-reference stream")},
        BadCase{"PngTagFive",
                [] {
                  return StreamWith("/Size 1 /W [1 2 1] /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 4 >>",
                                    ksfixture::Deflate(std::string("\x05\x01\x00\x10\x00", 5)));
                },
                Throws<EImproperPNGAlgorithm>("Improper PNG algorithm tag in stream")},
        BadCase{"UnknownFilter", [] { return StreamWith("/Size 3 /W [1 4 2] /Filter /Fl", ThreeRows()); },
                Throws<EUnsupportedFilterError>("Unsupported filter (/Fl)")},
        BadCase{"SubsectionBeyondTheData", [] { return TableWith("0 4\n", "0 999999\n"); },
                Throws<ECrossReferenceError>("Invalid cross-reference subsection header (0 999999)")},
        BadCase{"SubsectionNotNumbers", [] { return TableWith("0 4\n", "0 x\n"); },
                Throws<ECrossReferenceError>("Invalid cross-reference subsection header (0 x)")},
        BadCase{"NumberBeyondTheFile", [] { return TableWith("0 4\n", "90000 4\n"); },
                Throws<ECrossReferenceError>(
                    "Object number 90001 in the cross-reference data is beyond what the file can hold")},
        BadCase{"MalformedEntry", [] { return TableWith(" 00000 n", " 0000x n"); },
                Throws<ECrossReferenceError>("Invalid cross-reference entry for object 1")},
        BadCase{"NoTrailer", [] { return TableWith("trailer", "tracker"); },
                Throws<ETrailerError>("Error reading PDF trailer")},
        BadCase{"NoStartXRef", [] { return std::string("%PDF-1.4\n1 0 obj null endobj\n"); },
                Throws<Exception>("Invalid PDF File")},
        BadCase{"BadHeader", [] { return std::string("%PDX-1.4\nstartxref 0"); },
                Throws<EInvalidHeader>("Invalid PDF Header (%PDX-1.)")}),
    [](const testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

}  // namespace
