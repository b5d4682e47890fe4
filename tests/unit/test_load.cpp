// The load driver: file names, resets, events, encryption and failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "document/ksCstPDFDoc.h"
#include "base/ksPDFResStrs.h"
#include "ksFixture.h"
#include "parse/ksPDFParsers.h"
#include "ksPlatform.h"

namespace {

using ksfixture::PdfBuilder;
using testing::StrEq;
using testing::ThrowsMessage;

PdfBuilder Pages(const std::string& header = "%PDF-1.4") {
  PdfBuilder b(header);
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
  return b;
}

// The input is opened by the name given (the ".pdf" rule is the output's); a name that
// does not lead to a regular file is refused with what stands there instead.
TEST(LoadFromFile, NamesThatAreNoFileSayWhatIsThere) {
  const std::string sibling = ksfixture::WriteTempFile("sibling.pdf", Pages().Build("/Root 1 0 R"));
  const std::string dir = std::filesystem::path(sibling).parent_path().string();
  const std::string fifo = ksfixture::WriteTempFile("load-fifo", "");
  std::filesystem::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string bare = sibling.substr(0, sibling.size() - 4);  // "sibling.pdf" exists, "sibling" not
  const struct {
    std::string name, message;
  } cases[] = {
      {dir + "/no-such-file.bin", dir + "/no-such-file.bin File Not Found"},
      {bare, bare + " File Not Found"},
      {dir, dir + " is a directory"},
      {dir + "/", dir + "/ is a directory"},
      {fifo, fifo + " is not a regular file"},
      {"/dev/null", "/dev/null is not a regular file"},
  };
  for (const auto& c : cases) {
    TksCustomPDFDocument doc;
    EXPECT_THAT([&] { doc.LoadFromFile(c.name); }, ThrowsMessage<EFileNotFound>(StrEq(c.message))) << c.name;
    EXPECT_FALSE(doc.IsLoaded);
    EXPECT_FALSE(doc.Source());
  }
  std::filesystem::remove(fifo);
}

TEST(LoadFromFile, ANameWithoutExtensionIsOpenedAsItIs) {
  std::string path = ksfixture::WriteTempFile("scan", Pages().Build("/Root 1 0 R"));
  TksCustomPDFDocument doc;
  EXPECT_TRUE(doc.LoadFromFile(path));
  EXPECT_EQ(doc.WorkFileName, path);
  EXPECT_EQ(doc.Filename, path);
  EXPECT_TRUE(doc.IsLoaded);
  EXPECT_FALSE(doc.Reader());  // released once reading is over
}

// Another program cuts the source short while it is read: where the reader meets the
// lost end it reads zeros (not SIGBUS), and the load fails saying what happened.
TEST(LoadFromFile, ASourceCutShortWhileReadFailsClearly) {
  const std::string bytes = ksfixture::ManyPages(300, 8000);
  const struct {
    const char* at;  // the status message at which the file is cut
    size_t keep;     // bytes left
    bool lostPagesTouched;
  } cases[] = {
      {"Reading Cross-Reference Table", bytes.size() / 2, true},  // before the table at the end is read
      {"Traversing Pages...", 20000, true},
      {"Traversing Pages...", 0, true},
      {"Reading Outlines...", bytes.size() - 100, false},  // only the size tells: nothing lost is read
  };
  for (const auto& c : cases) {
    const std::string path = ksfixture::WriteTempFile("cut-while-read.pdf", bytes);
    TksCustomPDFDocument doc;
    doc.OnStatusMessage = [&](TksCustomPDFDocument*, const std::string& m) {
      if (m == c.at) std::filesystem::resize_file(path, c.keep);
    };
    EXPECT_THAT([&] { doc.LoadFromFile(path); },
                ThrowsMessage<EReadError>(StrEq("The file \"" + path + "\" was changed while it was read")))
        << c.at << " " << c.keep;
    EXPECT_FALSE(doc.IsOpened());
    EXPECT_FALSE(doc.Reader());
    ASSERT_TRUE(doc.Source());
    EXPECT_EQ(doc.Source()->Faulted(), c.lostPagesTouched) << c.at << " " << c.keep;
  }
}

TEST(LoadFromFile, SecondLoadStartsAfresh) {
  std::string first = ksfixture::WriteTempFile("first.pdf", Pages("%PDF-1.7").Build("/Root 1 0 R"));
  std::string second = ksfixture::WriteTempFile("second.pdf", Pages("%PDF-1.2").Build("/Root 1 0 R"));
  TksCustomPDFDocument doc;
  doc.LoadFromFile(first);
  EXPECT_EQ(doc.PDFVersion, pvPDF17);
  int32_t firstID = doc.DocumentID;
  doc.LoadFromFile(second);
  EXPECT_EQ(doc.PDFVersion, pvPDF12);
  EXPECT_NE(doc.DocumentID, firstID);
  EXPECT_EQ(doc.WorkFileName, second);
  EXPECT_EQ(doc.Filename, first);  // set by the first load only
  for (int32_t i = 0; i < doc.Store->Count(); ++i) EXPECT_EQ(doc.Store->Items(i)->DocumentID, doc.DocumentID);
}

TEST(LoadFromFile, EventsComeInOrder) {
  std::string path = ksfixture::WriteTempFile("events.pdf", Pages().Build("/Root 1 0 R"));
  TksCustomPDFDocument doc;
  std::vector<std::string> log;
  doc.OnStatusMessage = [&](TksCustomPDFDocument*, const std::string& m) { log.push_back("status: " + m); };
  doc.OnBeginRead = [&](TksCustomPDFDocument*) { log.push_back("begin"); };
  doc.OnEndRead = [&](TksCustomPDFDocument*) { log.push_back("end"); };
  doc.LoadFromFile(path);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0], "status: Reading Cross-Reference Table");
  EXPECT_EQ(log[1], "begin");
  EXPECT_EQ(log[log.size() - 2], "status: Document read complete. Pages read = " + std::to_string(doc.PageCount()));
  EXPECT_EQ(log.back(), "end");
}

// An encryption dictionary whose values partly stand in other objects.
std::string EncryptedFile() {
  PdfBuilder b = Pages();
  b.Object(4, "<< /Filter /Standard /V 1 /R 2 /O 5 0 R /U (u) /P -4 /Nested [6 0 R] >>")
      .Object(5, "(owner key)")
      .Object(6, "<< /Deep 7 0 R >>")
      .Object(7, "42");
  return b.Build("/Root 1 0 R /Encrypt 4 0 R /ID [<01> <02>]");
}

// The fixture's "/O" is far too short to be a key: the password check cannot start.
TEST(LoadFromFile, MalformedOwnerKeyStopsTheLoad) {
  std::string path = ksfixture::WriteTempFile("encrypted.pdf", EncryptedFile());
  TksCustomPDFDocument doc;
  EXPECT_THAT([&] { doc.LoadFromFile(path); }, ThrowsMessage<Exception>(StrEq("Invalid Owner Key.")));
  EXPECT_TRUE(doc.IsEncrypted);
  EXPECT_FALSE(doc.IsOpened());
  EXPECT_FALSE(doc.Reader());
}

TEST(LoadFromFile, EncryptEntryThatIsNoDictionaryIsRefused) {
  std::string path = ksfixture::WriteTempFile("encrypt-number.pdf", Pages().Build("/Root 1 0 R /Encrypt 42"));
  TksCustomPDFDocument doc;
  EXPECT_THAT([&] { doc.LoadFromFile(path); },
              ThrowsMessage<EPDFFileCorruptedError>(StrEq("The /Encrypt entry is not an encryption dictionary")));
}

// Each level refers twice to the next: resolved naively, 2^30 copies (found by fuzzing,
// where it held the load for minutes). Every object is read once and the copy is bounded.
TEST(LoadFromFile, EncryptEntryThatRepeatsReferencesAtEveryLevelIsRefused) {
  PdfBuilder b = Pages();
  constexpr int kLevels = 30;
  for (int n = 10; n < 10 + kLevels; ++n)
    b.Object(n, "[" + std::to_string(n + 1) + " 0 R " + std::to_string(n + 1) + " 0 R]");
  b.Object(10 + kLevels, "(" + std::string(40, 'x') + ")");
  std::string path = ksfixture::WriteTempFile(
      "encrypt-doubling.pdf", b.Build("/Root 1 0 R /Encrypt << /Filter /Standard /Doubling 10 0 R >>"));
  TksCustomPDFDocument doc;
  EXPECT_THAT([&] { doc.LoadFromFile(path); },
              ThrowsMessage<EPDFFileCorruptedError>(StrEq("The /Encrypt entry is not an encryption dictionary")));
  EXPECT_FALSE(doc.Reader());
}

// Shared values that stay small are copied whole, each place they are used.
TEST(ParseFile, EncryptionDictionaryWithSharedValuesIsResolved) {
  std::string path = ksfixture::WriteTempFile(
      "encrypt-shared.pdf", Pages()
                                .Object(10, "[11 0 R 11 0 R]")
                                .Object(11, "<< /CFM /V2 >>")
                                .Build("/Root 1 0 R /Encrypt << /A 10 0 R /B 11 0 R >>"));
  TksCustomPDFDocument doc;
  doc.ParseFileAt(path);
  EXPECT_EQ(ObjectToText(doc.Trailer.EncryptEntry.get()),
            "<<\r\n/A [ <<\r\n/CFM /V2\r\n>> <<\r\n/CFM /V2\r\n>> ]\r\n/B <<\r\n/CFM /V2\r\n>>\r\n>>");
}

TEST(LoadFromFile, PasswordHandlerThatGivesUpLeavesTheDocumentEmpty) {
  std::string path = ksfixture::WriteTempFile("give-up.pdf", EncryptedFile());
  TksCustomPDFDocument doc;
  std::vector<int> tries;
  doc.OnPassword = [&](TksCustomPDFDocument*, std::u16string&, bool& cont, int t) {
    tries.push_back(t);
    cont = false;
  };
  EXPECT_FALSE(doc.LoadFromFile(path));
  EXPECT_FALSE(doc.IsLoaded);
  EXPECT_THAT(tries, testing::ElementsAre(0));
}

TEST(ParseFile, EncryptionDictionaryIsResolvedToValues) {
  std::string path = ksfixture::WriteTempFile("encrypt-dict.pdf", EncryptedFile());
  TksCustomPDFDocument doc;
  doc.ParseFileAt(path);
  EXPECT_TRUE(doc.IsEncrypted);
  EXPECT_EQ(ObjectToText(doc.Trailer.EncryptEntry.get()),
            "<<\r\n/Filter /Standard\r\n/V 1\r\n/R 2\r\n/O (owner key)\r\n/U (u)\r\n/P -4\r\n"
            "/Nested [ <<\r\n/Deep 42\r\n>> ]\r\n>>");
  EXPECT_EQ(doc.Store->Count(), 0);
}

TEST(ParseFile, NullEncryptMeansNotEncrypted) {
  std::string path = ksfixture::WriteTempFile("encrypt-null.pdf", Pages().Build("/Root 1 0 R /Encrypt null"));
  TksCustomPDFDocument doc;
  EXPECT_TRUE(doc.LoadFromFile(path));
  EXPECT_FALSE(doc.IsEncrypted);
}

TEST(LoadFromFile, FailureReleasesTheReaderAndPassesTheErrorOn) {
  std::string path = ksfixture::WriteTempFile("broken.pdf", "%PDF-1.9\n");
  TksCustomPDFDocument doc;
  EXPECT_THAT([&] { doc.LoadFromFile(path); },
              ThrowsMessage<EUnsupportedVersion>(StrEq("Unsupported PDF Version (%PDF-1.9)")));
  EXPECT_FALSE(doc.Reader());
  EXPECT_FALSE(doc.IsLoaded);
  // A later load of a sound file is not disturbed by what the failed one left.
  std::string good = ksfixture::WriteTempFile("after-broken.pdf", Pages().Build("/Root 1 0 R"));
  EXPECT_TRUE(doc.LoadFromFile(good));
}

// A page whose content streams are given as (dictionary entries, data) pairs; the
// dictionaries carry whatever /Length the test writes.
std::string PageWithContents(const std::vector<std::pair<std::string, std::string>>& streams) {
  PdfBuilder b;
  std::string refs;
  for (size_t i = 0; i < streams.size(); ++i) {
    const int n = 10 + static_cast<int>(i);
    b.Object(n, "<< " + streams[i].first + " >>\nstream\n" + streams[i].second + "endstream");
    refs += std::to_string(n) + " 0 R ";
  }
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents [" + refs + "] >>");
  return b.Build("/Root 1 0 R");
}

std::vector<std::string> LoadWarnings(const std::string& name, const std::string& bytes,
                                      TksCustomPDFDocument& doc) {
  std::vector<std::string> warnings;
  doc.OnWarning = [&](TksCustomPDFDocument*, const std::string& w) { warnings.push_back(w); };
  EXPECT_TRUE(doc.LoadFromFile(ksfixture::WriteTempFile(name, bytes)));
  return warnings;
}

std::string DataOf(TksCustomPDFDocument& doc, int32_t n) {
  TksPDFIndirectObject* o = doc.Store->Find(doc.DocumentID, n, 0);
  auto* stream = o ? AsStream(o->Value.get()) : nullptr;
  return stream && stream->Data ? stream->Data->ToString() : "(absent)";
}

TEST(StreamLengths, RepairsThatChangeTheDataAreReportedEndOfLineSlipsAreNot) {
  const std::string cut = "(before) Tj\nendstream\n(after) Tj\n";
  TksCustomPDFDocument doc;
  std::vector<std::string> warnings =
      LoadWarnings("lengths.pdf",
                   PageWithContents({{"/Length 8", "(exact)\n\n"},
                                     {"/Length 11", "(lf only)\n"},  // counts CR LF where LF stands
                                     {"/Length 6", "(a longer text)\n"},
                                     {"/Length 3", cut},
                                     {"", "(no length)\n"}}),
                   doc);
  EXPECT_THAT(warnings,
              testing::ElementsAre(
                  "Stream data of object 12 do not end where its /Length 6 says; the 16 bytes up to endstream were taken",
                  "Stream data of object 13 do not end where its /Length 3 says; the 12 bytes up to endstream were taken",
                  "Stream data of object 14 have no usable /Length; the 12 bytes up to endstream were taken"));
  EXPECT_EQ(DataOf(doc, 10), "(exact)\n");
  EXPECT_EQ(DataOf(doc, 11), "(lf only)\n");
  EXPECT_EQ(DataOf(doc, 13), "(before) Tj\n");  // the data held the keyword: cut there, and said so
}

TEST(StreamLengths, ManyRepairsAreSummarisedAfterTheFirstFive) {
  std::vector<std::pair<std::string, std::string>> streams(8, {"/Length 2", "(wrong)\n"});
  TksCustomPDFDocument doc;
  std::vector<std::string> warnings = LoadWarnings("many-lengths.pdf", PageWithContents(streams), doc);
  ASSERT_EQ(warnings.size(), 6u);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(warnings[static_cast<size_t>(i)], "Stream data of object " + std::to_string(10 + i) +
                                                    " do not end where its /Length 2 says; the 8 bytes up to "
                                                    "endstream were taken");
  EXPECT_EQ(warnings[5], "3 more streams had a wrong or missing /Length; their data were taken up to endstream");
  // The count starts again with the next load.
  warnings = LoadWarnings("many-lengths.pdf", PageWithContents({streams[0]}), doc);
  EXPECT_EQ(warnings.size(), 1u);
}

// Three pages, page k drawing "(page k) Tj" from content stream 10 + k whose /Length the
// test sets: lengthOf(file, k) gives it from the built file (written in six digits, so
// the offsets stay right). With repair, startxref points nowhere and the scan reads it.
std::string ThreePages(const std::function<int64_t(const std::string&, int)>& lengthOf, bool repair,
                       const std::string& page2 = "(page 2) Tj\n") {
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>");
  for (int k = 1; k <= 3; ++k) {
    b.Object(2 + k, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(10 + k) +
                        " 0 R >>");
    b.Object(10 + k, "<< /Length 000000 >>\nstream\n" + (k == 2 ? page2 : "(page " + std::to_string(k) + ") Tj\n") +
                         "endstream");
  }
  std::string file = b.Build("/Root 1 0 R");
  for (int k = 1; k <= 3; ++k) {
    const size_t field = file.find("/Length 000000", file.find(std::to_string(10 + k) + " 0 obj")) + 8;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06lld", static_cast<long long>(lengthOf(file, k)));
    file.replace(field, 6, digits);
  }
  if (repair) file.replace(file.rfind("startxref"), std::string::npos, "startxref\n999999\n%%EOF\n");
  return file;
}

// Where stream k's data begin, and where the n-th "endstream" of the file stands.
size_t DataStart(const std::string& file, int k) {
  return file.find("stream\n", file.find(std::to_string(10 + k) + " 0 obj")) + 7;
}
size_t NthEndstream(const std::string& file, int n) {
  size_t at = std::string::npos;
  for (int i = 0; i < n; ++i) at = file.find("endstream", at + 1);
  return at;
}

std::string PageContent(TksCustomPDFDocument& doc, size_t page) {
  auto* dict = AsDict(doc.Pages.at(page)->Value.get());
  auto* stream = AsStream(doc.Store->Dereference(dict->Lookup("/Contents")));
  return stream && stream->Data ? stream->Data->ToString() : "(absent)";
}

// A /Length that reaches past the stream's own "endstream" (into the trailer, or exactly
// onto a later stream's "endstream") takes the data up to the first "endstream" after
// their start, with a warning; read through the table or through the repair scan, every
// page keeps its own content. A right length over data that quote the keyword stands.
TEST(StreamLengths, ALengthPastTheOwnEndstreamEndsThere) {
  const struct {
    const char* name;
    std::function<int64_t(const std::string&, int)> lengthOf;
    std::string page2;
    bool wrong;  // page 1's /Length
  } cases[] = {
      {"into the trailer",
       [](const std::string& f, int k) {
         return k == 1 ? static_cast<int64_t>(f.find("trailer") - DataStart(f, 1)) : 12;
       },
       "(page 2) Tj\n", true},
      {"onto the last endstream",
       [](const std::string& f, int k) { return k == 1 ? static_cast<int64_t>(NthEndstream(f, 3) - DataStart(f, 1)) : 12; },
       "(page 2) Tj\n", true},
      {"right, over a quoted keyword",
       [](const std::string&, int k) { return k == 2 ? 15 : 12; }, "(endstream) Tj\n", false},
  };
  for (const auto& c : cases) {
    for (bool repair : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (repair ? ", repaired" : ""));
      const std::string file = ThreePages(c.lengthOf, repair, c.page2);
      TksCustomPDFDocument doc;
      std::vector<std::string> warnings = LoadWarnings("past-endstream.pdf", file, doc);
      EXPECT_EQ(doc.XRefKind, repair ? xkRebuilt : xkTable);
      ASSERT_EQ(doc.PageCount(), 3);
      EXPECT_EQ(PageContent(doc, 0), "(page 1) Tj\n");
      EXPECT_EQ(PageContent(doc, 1), c.page2);
      EXPECT_EQ(PageContent(doc, 2), "(page 3) Tj\n");
      const std::string lengthWarning = ksFormat(ksres::SLengthRepaired, 11, static_cast<long long>(c.lengthOf(file, 1)),
                                                 12ULL);
      if (c.wrong)
        EXPECT_THAT(warnings, testing::Contains(lengthWarning));
      else
        EXPECT_THAT(warnings, testing::Not(testing::Contains(testing::HasSubstr("/Length"))));
    }
  }
}

TEST(LoadFromFile, CatalogVersionRaisesTheHeaderVersion) {
  struct Case {
    const char* header;
    std::string version;  // the catalog's /Version entry, "" for none
    TksPDFVersion expected;
    std::optional<TksPDFVersion> catalog;
  } cases[] = {
      {"%PDF-1.4", "/Version /1.7", pvPDF17, pvPDF17},
      {"%PDF-1.7", "/Version /2.0", pvPDF20, pvPDF20},
      {"%PDF-1.6", "/Version /1.3", pvPDF16, pvPDF13},  // never lowers it
      {"%PDF-1.4", "/Version 4 0 R", pvPDF15, pvPDF15},
      {"%PDF-1.4", "/Version /1.9", pvPDF14, std::nullopt},  // unknown: ignored
      {"%PDF-1.4", "/Version /Seventeen", pvPDF14, std::nullopt},
      {"%PDF-1.4", "/Version (1.7)", pvPDF14, std::nullopt},
      {"%PDF-1.4", "/Version 1.7", pvPDF14, std::nullopt},
      {"%PDF-1.3", "", pvPDF13, std::nullopt},
  };
  for (const Case& c : cases) {
    PdfBuilder b(c.header);
    b.Object(1, "<< /Type /Catalog /Pages 2 0 R " + c.version + " >>")
        .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>")
        .Object(4, "/1.5");
    TksCustomPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromFile(ksfixture::WriteTempFile("catalog-version.pdf", b.Build("/Root 1 0 R"))));
    EXPECT_EQ(doc.PDFVersion, c.expected) << c.header << " " << c.version;
    EXPECT_EQ(doc.CatalogVersion, c.catalog) << c.header << " " << c.version;
    EXPECT_EQ(PDFVersionText(doc.HeaderVersion), std::string(c.header).substr(5)) << c.header << " " << c.version;
  }
}

// Comments written right after a name, a reference or a number are white space: the
// file reads as it would without them, with no warning and no repair.
TEST(LoadFromFile, CommentsTouchingTokensAreWhiteSpace) {
  struct Case {
    const char* name;
    std::string catalog, pages, page;
  } cases[] = {
      {"after a name", "<< /Type /Catalog%c\n/Pages 2 0 R >>", "<< /Type /Pages%c\n/Kids [3 0 R] /Count 1 >>",
       "<< /Type /Page%note\n/Parent 2 0 R /MediaBox [0 0 612 792] >>"},
      {"after a reference", "<< /Type /Catalog /Pages 2 0 R%c\n>>", "<< /Type /Pages /Kids [3 0 R%c\n] /Count 1 >>",
       "<< /Type /Page /Parent 2 0 R%c\n/MediaBox [0 0 612 792] >>"},
      {"after a number", "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1%c\n>>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792%c\n] >>"},
  };
  for (const Case& c : cases) {
    PdfBuilder b;
    b.Object(1, c.catalog).Object(2, c.pages).Object(3, c.page);
    TksCustomPDFDocument doc;
    std::vector<std::string> warnings = LoadWarnings("comments.pdf", b.Build("/Root 1 0 R%c\n"), doc);
    EXPECT_THAT(warnings, testing::IsEmpty()) << c.name;
    EXPECT_EQ(doc.XRefKind, xkTable) << c.name;
    ASSERT_EQ(doc.PageCount(), 1) << c.name;
    EXPECT_EQ(doc.GetPageSize(1, muPoints), std::make_pair(612.0, 792.0)) << c.name;
  }
}

TEST(LoadFromFile, EmptyFile) {
  std::string path = ksfixture::WriteTempFile("empty.pdf", "");
  TksCustomPDFDocument doc;
  EXPECT_THAT([&] { doc.LoadFromFile(path); }, ThrowsMessage<EInvalidHeader>(StrEq("Invalid PDF Header ()")));
}

}  // namespace

namespace {

TEST(MappedFile, PagesHandedBackAreReadAgainUnchanged) {
  std::string bytes(300 * 1024, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 12));
  std::string path = ksfixture::WriteTempFile("mapped-release.bin", bytes);
  ksplatform::MappedFile file(path);
  ASSERT_EQ(file.size(), bytes.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), file.size()), bytes);
  file.ReleasePages();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), file.size()), bytes);
  EXPECT_TRUE(file.Unchanged());
  std::filesystem::resize_file(path, bytes.size() + 1);
  EXPECT_FALSE(file.Unchanged());
  std::filesystem::remove(path);
}

}  // namespace

// A failure deep in the file says where: the message stays exactly the table's text,
// the file and the object (with its offset) come beside it for display.
TEST(LoadFromFile, ErrorsCarryTheFileAndTheObjectBesideTheMessage) {
  PdfBuilder b("%PDF-1.4");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Bad (unterminated >>");
  const std::string path = ksfixture::WriteTempFile("context.pdf", b.Build("/Root 1 0 R"));
  const int64_t offset = static_cast<int64_t>(b.Offsets().at(3));
  TksCustomPDFDocument doc;
  try {
    doc.LoadFromFile(path);
    FAIL() << "the broken string was read";
  } catch (const Exception& e) {
    EXPECT_EQ(e.File, path);
    EXPECT_EQ(e.ObjectNumber, 3);
    EXPECT_EQ(e.Offset, offset);
    EXPECT_EQ(ksErrorText(e), std::string(e.what()) + " (object 3 at byte " + std::to_string(offset) + ")");
    EXPECT_EQ(ksErrorText(e, true), std::string(e.what()) + " (file \"" + path + "\", object 3 at byte " +
                                        std::to_string(offset) + ")");
  }
  // A message that names the file already is not told it twice.
  EReadError named("The file \"" + path + "\" was changed while it was read");
  named.NoteFile(path);
  EXPECT_EQ(ksErrorText(named, true), named.what());
  EXPECT_EQ(ksErrorText(std::runtime_error("plain")), "plain");
}
