// Saving documents built in memory: the exact bytes of header, objects, page tree,
// catalog, information, cross-reference table and trailer, and the save driver's rules.
#include <gmock/gmock.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "document/ksCstPDFDoc.h"
#include "ksFixture.h"
#include "codec/ksFilterChain.h"

namespace fs = std::filesystem;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

const std::string kHeader14 = "%PDF-1.4\r\n%\xE2\xE3\xCF\xD3\r\n";

// A literal holding FE FF and the UTF-16BE of an ASCII text, as the information setters store it.
std::string Utf16Literal(const std::string& ascii) {
  std::string s = "(\xFE\xFF";
  for (char c : ascii) {
    s.push_back('\0');
    s.push_back(c);
  }
  return s + ")";
}

const std::string kProducerLine = "/Producer " + Utf16Literal("Kestrine Pagewright V2.5") + "\r\n";

// The framed text of object n in a saved file ("" when absent).
std::string ObjectBody(const std::string& file, int n) {
  std::string head = "\r\n" + std::to_string(n) + " 0 obj\r\n";
  size_t at = file.find(head);
  if (at == std::string::npos) return std::string();
  size_t start = at + head.size();
  size_t end = file.find("\r\nendobj\r\n", start);
  return file.substr(start, end - start);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

int64_t ToInt(std::string_view digits) {
  int64_t v = -1;
  std::from_chars(digits.data(), digits.data() + digits.size(), v);
  return v;
}

// Reads the cross-reference table through startxref and checks its form; returns the
// offsets of objects 1.. in order.
std::vector<int64_t> CheckedOffsets(const std::string& file) {
  std::vector<int64_t> offsets;
  size_t sx = file.rfind("startxref\r\n");
  EXPECT_NE(sx, std::string::npos);
  if (sx == std::string::npos) return offsets;
  size_t numEnd = file.find("\r\n", sx + 11);
  int64_t xref = ToInt(std::string_view(file).substr(sx + 11, numEnd - sx - 11));
  EXPECT_EQ(file.substr(numEnd), "\r\n%%EOF\r\n");
  EXPECT_EQ(file.substr(static_cast<size_t>(xref), 8), "xref\r\n0 ");
  size_t pos = static_cast<size_t>(xref) + 8;
  size_t eol = file.find("\r\n", pos);
  int64_t count = ToInt(std::string_view(file).substr(pos, eol - pos));
  pos = eol + 2;
  EXPECT_EQ(file.substr(pos, 20), std::string("0000000000 65535 f\r\n"));
  pos += 20;
  for (int64_t i = 1; i < count; ++i, pos += 20) {
    std::string entry = file.substr(pos, 20);
    EXPECT_EQ(entry.substr(10, 10), " 00000 n\r\n") << entry;
    offsets.push_back(ToInt(std::string_view(entry).substr(0, 10)));
  }
  EXPECT_EQ(file.substr(pos, 9), "trailer\r\n");
  return offsets;
}

class SaveTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pw-save-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    doc_.ShowSetupDialog = false;
  }
  void TearDown() override { fs::remove_all(dir_); }

  TksPDFIndirectObject* Add(int number, TksPDFObjectPtr value, bool reached = true) {
    return doc_.Store->Add(
        std::make_unique<TksPDFIndirectObject>(doc_.DocumentID, number, 0, std::move(value), reached ? 1 : 0));
  }
  std::unique_ptr<TksPDFIndirectReference> Ref(int number, int generation = 0) {
    return std::make_unique<TksPDFIndirectReference>(doc_.DocumentID, number, generation);
  }
  static std::unique_ptr<TksPDFDictObject> PageDict() {
    auto page = std::make_unique<TksPDFDictObject>();
    page->AddName("/Type", "/Page");
    auto box = std::make_unique<TksPDFArrayObject>();
    for (int v : {0, 0, 612, 792}) box->AddInteger(v);
    page->AddObject("/MediaBox", std::move(box));
    return page;
  }
  TksPDFIndirectObject* AddPage(int number, std::unique_ptr<TksPDFDictObject> dict = nullptr) {
    TksPDFIndirectObject* page = Add(number, dict ? std::move(dict) : PageDict());
    doc_.Pages.push_back(page);
    return page;
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Save(const std::string& name = "out.pdf", uint8_t mode = 2) {
    doc_.SaveToFile(Path(name), mode);
    return ksfixture::ReadFile(Path(TksCustomPDFDocument::SaveFileName(name)));
  }
  std::vector<std::string> FilesInDir() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TksCustomPDFDocument doc_;
  std::string dir_;
};

TEST_F(SaveTest, OnePageDocumentIsWrittenByteForByte) {
  AddPage(7);
  std::string file = Save();

  // Built piece by piece so the offsets come from the pieces, not from counting.
  std::string expected = kHeader14;
  std::vector<size_t> offsets;
  auto object = [&](int n, const std::string& body) {
    offsets.push_back(expected.size());
    expected += "\r\n" + std::to_string(n) + " 0 obj\r\n" + body + "\r\nendobj\r\n";
  };
  object(1, "<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n>>");
  object(2, "<<\r\n" + kProducerLine + ">>");
  object(3, "<<\r\n/Type /Pages\r\n/Count 1\r\n/Kids [ 4 0 R ]\r\n>>");
  object(4, "<<\r\n/Type /Page\r\n/MediaBox [ 0 0 612 792 ]\r\n/Parent 3 0 R\r\n>>");
  size_t xref = expected.size();
  expected += "xref\r\n0 5\r\n0000000000 65535 f\r\n";
  char entry[32];
  for (size_t off : offsets) {
    std::snprintf(entry, sizeof entry, "%010zu 00000 n\r\n", off);
    expected += entry;
  }
  expected += "trailer\r\n<<\r\n/Size 5\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n>>\r\nstartxref\r\n" +
              std::to_string(xref) + "\r\n%%EOF\r\n";
  EXPECT_EQ(file, expected);
}

TEST_F(SaveTest, HeaderIsSeventeenBytesForEveryVersion) {
  const std::pair<TksPDFVersion, const char*> cases[] = {
      {pvPDF10, "1.0"}, {pvPDF11, "1.1"}, {pvPDF12, "1.2"}, {pvPDF13, "1.3"}, {pvPDF14, "1.4"},
      {pvPDF15, "1.5"}, {pvPDF16, "1.6"}, {pvPDF17, "1.7"}, {pvPDF20, "2.0"},
      {static_cast<TksPDFVersion>(42), "1.4"}};
  for (const auto& [version, text] : cases) {
    doc_.PDFVersion = version;
    std::string file = Save();
    std::string header = std::string("%PDF-") + text + "\r\n%\xE2\xE3\xCF\xD3\r\n";
    ASSERT_EQ(header.size(), 17u);
    EXPECT_EQ(file.substr(0, 17), header) << text;
    EXPECT_EQ(TksCustomPDFDocument::HeaderText(version), header);
  }
}

TEST_F(SaveTest, FileNameRule) {
  const std::pair<const char*, const char*> cases[] = {
      {"report", "report.pdf"},          {"report.txt", "report.txt.pdf"}, {"REPORT.PDF", "REPORT.PDF"},
      {"out.Pdf", "out.Pdf"},            {"a.pdf/out", "a.pdf/out.pdf"},   {"dir.x/file.pdf", "dir.x/file.pdf"},
      {"report.pdf.bak", "report.pdf.bak.pdf"}, {".pdf", ".pdf"},          {"out.", "out..pdf"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(TksCustomPDFDocument::SaveFileName(in), out) << in;

  Save("out");
  Save("second.Pdf");
  EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"out.pdf", "second.Pdf"}));
}

TEST(XRefEntryTest, TwentyBytesWithTenDigitOffsets) {
  const struct {
    int64_t offset;
    int generation;
    char letter;
    const char* text;
  } cases[] = {
      {0, 65535, 'f', "0000000000 65535 f\r\n"},
      {15, 0, 'n', "0000000015 00000 n\r\n"},
      {3000000000LL, 0, 'n', "3000000000 00000 n\r\n"},  // beyond 2 GiB
      {9999999999LL, 0, 'n', "9999999999 00000 n\r\n"},
  };
  for (const auto& c : cases) {
    std::string entry = TksCustomPDFDocument::XRefEntry(c.offset, c.generation, c.letter);
    EXPECT_EQ(entry, c.text);
    EXPECT_EQ(entry.size(), 20u);
  }
  EXPECT_THAT([] { TksCustomPDFDocument::XRefEntry(10000000000LL, 0, 'n'); },
              ThrowsMessage<ESaveError>(StrEq(
                  "The output is too large: offset 10000000000 does not fit the ten digits of a cross-reference table")));
}

TEST_F(SaveTest, OffsetsPointAtTheLineBreakBeforeEachObject) {
  AddPage(10);
  auto content = std::make_unique<TksPDFStreamObject>();
  content->Data->LoadFromBytes("BT /F1 12 Tf (x) Tj ET");
  content->Dict->AddInteger("/Length", 22);
  Add(11, std::move(content));
  Add(12, std::make_unique<TksPDFIntegerObject>(5));
  std::string file = Save();
  std::vector<int64_t> offsets = CheckedOffsets(file);
  ASSERT_EQ(offsets.size(), 6u);
  for (size_t i = 0; i < offsets.size(); ++i) {
    std::string head = "\r\n" + std::to_string(i + 1) + " 0 obj\r\n";
    EXPECT_EQ(file.substr(static_cast<size_t>(offsets[i]), head.size()), head) << "object " << i + 1;
  }
  size_t sx = file.rfind("startxref\r\n");
  EXPECT_EQ(file.substr(sx + 11, std::to_string(file.find("xref\r\n0 ")).size()),
            std::to_string(file.find("xref\r\n0 ")));
}

TEST_F(SaveTest, ReferencesToObjectsNotWrittenBecomeNull) {
  auto page = PageDict();
  page->AddObject("/Reached", Ref(21));
  page->AddObject("/NotReached", Ref(22));
  page->AddObject("/NotStored", Ref(99));
  auto list = std::make_unique<TksPDFArrayObject>();
  list->Add(Ref(22));
  list->Add(Ref(21, 5));  // the generation a reference carries never reaches the output
  page->AddObject("/List", std::move(list));
  AddPage(20, std::move(page));
  Add(21, std::make_unique<TksPDFStringObject>("(reached)"));
  Add(22, std::make_unique<TksPDFStringObject>("(not reached)"), false);
  std::string file = Save();

  EXPECT_EQ(ObjectBody(file, 4),
            "<<\r\n/Type /Page\r\n/MediaBox [ 0 0 612 792 ]\r\n/Reached 5 0 R\r\n/NotReached null\r\n"
            "/NotStored null\r\n/List [ null 5 0 R ]\r\n/Parent 3 0 R\r\n>>");
  EXPECT_EQ(ObjectBody(file, 5), "(reached)");
  EXPECT_EQ(file.find("not reached"), std::string::npos);
  // 3 reserved objects plus the two reached ones.
  EXPECT_EQ(CheckedOffsets(file).size(), 5u);
}

TEST_F(SaveTest, PageTreeNodeListsEveryPageAndPagesGetTheirParent) {
  AddPage(30);
  auto second = PageDict();
  second->AddObject("/Parent", Ref(77));  // a stale parent is replaced, never doubled
  second->AddInteger("/Rotate", 90);
  AddPage(31, std::move(second));
  auto annot = std::make_unique<TksPDFDictObject>();
  annot->AddName("/Type", "/Annot");
  annot->AddObject("/P", Ref(30));
  Add(32, std::move(annot));
  std::string file = Save();

  EXPECT_EQ(ObjectBody(file, 3), "<<\r\n/Type /Pages\r\n/Count 2\r\n/Kids [ 4 0 R 5 0 R ]\r\n>>");
  EXPECT_EQ(ObjectBody(file, 5),
            "<<\r\n/Type /Page\r\n/MediaBox [ 0 0 612 792 ]\r\n/Rotate 90\r\n/Parent 3 0 R\r\n>>");
  EXPECT_EQ(ObjectBody(file, 6), "<<\r\n/Type /Annot\r\n/P 4 0 R\r\n>>");
}

TEST_F(SaveTest, PagesNotMarkedAreStillWritten) {
  TksPDFIndirectObject* page = Add(40, PageDict(), false);
  doc_.Pages.push_back(page);
  std::string file = Save();
  EXPECT_EQ(ObjectBody(file, 3), "<<\r\n/Type /Pages\r\n/Count 1\r\n/Kids [ 4 0 R ]\r\n>>");
  EXPECT_NE(ObjectBody(file, 4), "");
}

TEST_F(SaveTest, CatalogLinesInOrderWithKeptEntriesLast) {
  AddPage(50);
  Add(51, std::make_unique<TksPDFDictObject>());  // metadata stand-in
  Add(52, std::make_unique<TksPDFDictObject>());  // names
  Add(53, std::make_unique<TksPDFDictObject>());  // form
  Add(54, std::make_unique<TksPDFDictObject>());  // structure tree
  TksPDFCatalog& c = *doc_.Catalog;
  c.Metadata = Ref(51);
  c.Names = Ref(52);
  c.AcroForm = Ref(53);
  auto open = std::make_unique<TksPDFArrayObject>();
  open->Add(Ref(50));
  open->Add(std::make_unique<TksPDFNameObject>("/Fit"));
  c.OpenAction = std::move(open);
  auto aa = std::make_unique<TksPDFDictObject>();
  aa->AddObject("/WC", Ref(99));
  c.AA = std::move(aa);
  c.ViewerPreferences.SetFitWindow(true);
  c.OtherEntries->AddObject("/Lang", std::make_unique<TksPDFStringObject>("(en-GB)"));
  c.OtherEntries->AddObject("/StructTreeRoot", Ref(54));
  c.OtherEntries->AddName("/Type", "/Catalog");  // built already: not doubled
  doc_.PageMode = pmUseOutlines;
  doc_.PageLayout = plTwoColumnRight;
  std::string file = Save();

  EXPECT_EQ(ObjectBody(file, 1),
            "<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n/Metadata 5 0 R\r\n/PageMode /UseOutlines\r\n"
            "/PageLayout /TwoColumnRight\r\n/Names 6 0 R\r\n/ViewerPreferences <<\r\n/FitWindow true\r\n>>\r\n"
            "/AcroForm 7 0 R\r\n/OpenAction [ 4 0 R /Fit ]\r\n/AA <<\r\n/WC null\r\n>>\r\n/Lang (en-GB)\r\n"
            "/StructTreeRoot 8 0 R\r\n>>");
}

TEST_F(SaveTest, PageModeAndLayoutNames) {
  const std::pair<TksPageMode, const char*> modes[] = {{pmNone, ""},
                                                       {pmUseOutlines, "/PageMode /UseOutlines\r\n"},
                                                       {pmUseThumbs, "/PageMode /UseThumbs\r\n"},
                                                       {pmFullScreen, "/PageMode /FullScreen\r\n"},
                                                       {pmUseAttachments, "/PageMode /UseAttachments\r\n"}};
  for (const auto& [mode, line] : modes) {
    doc_.PageMode = mode;
    EXPECT_EQ(ObjectBody(Save(), 1), std::string("<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n") + line + ">>");
  }
  doc_.PageMode = pmNone;
  const std::pair<TksPageLayout, const char*> layouts[] = {{plNone, ""},
                                                           {plSinglePage, "/PageLayout /SinglePage\r\n"},
                                                           {plOneColumn, "/PageLayout /OneColumn\r\n"},
                                                           {plTwoColumnLeft, "/PageLayout /TwoColumnLeft\r\n"},
                                                           {plTwoColumnRight, "/PageLayout /TwoColumnRight\r\n"}};
  for (const auto& [layout, line] : layouts) {
    doc_.PageLayout = layout;
    EXPECT_EQ(ObjectBody(Save(), 1), std::string("<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n") + line + ">>");
  }
  // Names the enumerations have no value for are written while the mode or layout is none.
  doc_.OtherPageMode = "/UseOC";
  doc_.OtherPageLayout = "/TwoPageRight";
  doc_.PageLayout = plNone;
  EXPECT_EQ(ObjectBody(Save(), 1),
            "<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n/PageMode /UseOC\r\n/PageLayout /TwoPageRight\r\n>>");
  doc_.PageMode = pmFullScreen;
  doc_.PageLayout = plOneColumn;
  EXPECT_EQ(ObjectBody(Save(), 1),
            "<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n/PageMode /FullScreen\r\n/PageLayout /OneColumn\r\n>>");
}

TEST_F(SaveTest, ViewerPreferencesOnlyWhenALineResults) {
  doc_.ViewerPreferences().SetHideToolbar(true);
  doc_.ViewerPreferences().SetHideToolbar(false);
  EXPECT_EQ(ObjectBody(Save(), 1), "<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n>>");
  // Keys outside the twelve the engine knows are carried through as they are, after them,
  // references renumbered.
  AddPage(60);
  auto range = std::make_unique<TksPDFArrayObject>();
  range->AddInteger(0);
  range->AddInteger(1);
  Add(61, std::move(range));
  TksPDFDictObject& prefs = doc_.ViewerPreferences().Dictionary();
  prefs.AddName("/PrintScaling", "/None");
  prefs.AddObject("/PickTrayByPDFSize", std::make_unique<TksPDFBooleanObject>(false));
  prefs.AddObject("/PrintPageRange", Ref(61));
  prefs.AddName("/Direction", "/R2L");
  doc_.ViewerPreferences().SetCenterWindow(true);
  EXPECT_EQ(ObjectBody(Save(), 1),
            "<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n/ViewerPreferences <<\r\n/CenterWindow true\r\n"
            "/Direction /R2L\r\n/PrintScaling /None\r\n/PickTrayByPDFSize false\r\n/PrintPageRange 5 0 R\r\n>>\r\n>>");
}

TEST_F(SaveTest, InformationKeepsItsOrderAndTheProducerIsAlwaysReplaced) {
  auto info = std::make_unique<TksPDFDictObject>();
  info->AddObject("/Title", std::make_unique<TksPDFStringObject>("(Annual report)"));
  info->AddObject("/Producer", std::make_unique<TksPDFStringObject>("(Some other tool)"));
  info->AddObject("/CreationDate", std::make_unique<TksPDFStringObject>("<443a3230323430313031>", true));
  doc_.Info().SetDictionary(std::move(info));
  doc_.Info().SetAuthor(u"A");
  std::string file = Save();
  EXPECT_EQ(ObjectBody(file, 2), "<<\r\n/Title (Annual report)\r\n" + kProducerLine +
                                     "/CreationDate <443a3230323430313031>\r\n/Author " + Utf16Literal("A") +
                                     "\r\n>>");
  EXPECT_EQ(doc_.Info().Producer(), u"Kestrine Pagewright V2.5");
}

TEST_F(SaveTest, NeedAppearancesModes) {
  const struct {
    uint8_t mode;
    const char* before;  // "" when the form has no entry
    const char* after;   // "" when the entry is absent afterwards
  } cases[] = {
      {0, "", "/NeedAppearances true\r\n"},      {0, "false", "/NeedAppearances true\r\n"},
      {1, "", "/NeedAppearances false\r\n"},     {1, "true", "/NeedAppearances false\r\n"},
      {2, "", ""},                               {2, "true", "/NeedAppearances true\r\n"},
      {7, "false", "/NeedAppearances false\r\n"},
  };
  for (const auto& c : cases) {
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    auto form = std::make_unique<TksPDFDictObject>();
    form->AddObject("/Fields", std::make_unique<TksPDFArrayObject>());
    if (*c.before) form->AddObject("/NeedAppearances", std::make_unique<TksPDFBooleanObject>(c.before[0] == 't'));
    form->AddInteger("/Q", 1);
    doc.Store->Add(std::make_unique<TksPDFIndirectObject>(doc.DocumentID, 5, 0, std::move(form), 1));
    doc.Catalog->AcroForm = std::make_unique<TksPDFIndirectReference>(doc.DocumentID, 5, 0);
    doc.SaveToFile(Path("form.pdf"), c.mode);
    std::string body = ObjectBody(ksfixture::ReadFile(Path("form.pdf")), 4);
    // A present entry keeps its place before /Q; an added one comes last.
    std::string expected = *c.before ? std::string("<<\r\n/Fields [ ]\r\n") + c.after + "/Q 1\r\n>>"
                                     : std::string("<<\r\n/Fields [ ]\r\n/Q 1\r\n") + c.after + ">>";
    EXPECT_EQ(body, expected) << "mode " << int(c.mode) << " before '" << c.before << "'";
  }
}

TEST_F(SaveTest, NeedAppearancesOnADirectFormDictionary) {
  auto form = std::make_unique<TksPDFDictObject>();
  form->AddObject("/Fields", std::make_unique<TksPDFArrayObject>());
  doc_.Catalog->AcroForm = std::move(form);
  EXPECT_EQ(ObjectBody(Save("out.pdf", 0), 1),
            "<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n/AcroForm <<\r\n/Fields [ ]\r\n/NeedAppearances true\r\n>>\r\n>>");
}

TEST_F(SaveTest, TrailerWithAndWithoutID) {
  std::string file = Save();
  EXPECT_NE(file.find("trailer\r\n<<\r\n/Size 4\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n>>\r\nstartxref\r\n"),
            std::string::npos);

  auto id = std::make_unique<TksPDFArrayObject>();
  id->Add(std::make_unique<TksPDFStringObject>("<0A1B2C>", true));
  id->Add(std::make_unique<TksPDFStringObject>("(x\\y)"));
  doc_.Trailer.IDArray = std::move(id);
  file = Save();
  EXPECT_NE(file.find("trailer\r\n<<\r\n/Size 4\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n/ID [ <0A1B2C> (x\\\\y) ]\r\n>>"
                      "\r\nstartxref\r\n"),
            std::string::npos);
}

// The trailer's keys in the order /Size /Root /Info /ID /Encrypt. Encryption made from
// fixed settings: the identifier is the MD5 of "Output1.pdf" (the document has no
// creation date), the dictionary the last object.
TEST_F(SaveTest, EncryptedTrailerByteForByte) {
  AddPage(7);
  doc_.Encryption().SetEnabled(true);
  doc_.Encryption().SetOwnerPassword("owner");
  std::string file = Save();
  const size_t xref = file.rfind("xref\r\n0 ");
  ASSERT_NE(xref, std::string::npos);
  const size_t trailer = file.find("trailer\r\n", xref);
  ASSERT_NE(trailer, std::string::npos);
  EXPECT_EQ(file.substr(trailer),
            "trailer\r\n<<\r\n/Size 6\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n"
            "/ID [ <91C46192D01BC5EF2A13E101CF4CCF84> <91C46192D01BC5EF2A13E101CF4CCF84> ]\r\n/Encrypt 5 0 R\r\n>>\r\n"
            "startxref\r\n" + std::to_string(xref) + "\r\n%%EOF\r\n");
  EXPECT_EQ(ObjectBody(file, 5).substr(0, 27), "<<\r\n/Filter /Standard\r\n/O <");
}

TEST_F(SaveTest, StreamsKeepTheirBytesAndGetAMatchingLength) {
  const struct {
    const char* name;
    std::function<TksPDFObjectPtr(TksCustomPDFDocument&)> length;  // nullptr: no /Length
    const char* written;
  } cases[] = {
      {"right length", [](TksCustomPDFDocument&) { return std::make_unique<TksPDFIntegerObject>(6); }, "/Length 6"},
      {"wrong length", [](TksCustomPDFDocument&) { return std::make_unique<TksPDFIntegerObject>(60); }, "/Length 6"},
      {"no length", nullptr, "/Length 6"},
      // Always direct: the objects that held lengths are not written.
      {"indirect right length",
       [](TksCustomPDFDocument& d) { return std::make_unique<TksPDFIndirectReference>(d.DocumentID, 81, 0); },
       "/Length 6"},
      {"indirect to an unwritten object",
       [](TksCustomPDFDocument& d) { return std::make_unique<TksPDFIndirectReference>(d.DocumentID, 82, 0); },
       "/Length 6"},
  };
  for (const auto& c : cases) {
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    auto stream = std::make_unique<TksPDFStreamObject>();
    stream->Dict->AddName("/Type", "/XObject");
    if (c.length) stream->Dict->AddObject("/Length", c.length(doc));
    stream->Data->LoadFromBytes(std::string("a\r\nb\0c", 6));
    TksPDFStreamObject* original = stream.get();
    doc.Store->Add(std::make_unique<TksPDFIndirectObject>(doc.DocumentID, 80, 0, std::move(stream), 1));
    doc.Store->Add(std::make_unique<TksPDFIndirectObject>(doc.DocumentID, 81, 0,
                                                          std::make_unique<TksPDFIntegerObject>(6), 1));
    doc.Store->Add(std::make_unique<TksPDFIndirectObject>(doc.DocumentID, 82, 0,
                                                          std::make_unique<TksPDFIntegerObject>(6), 0));
    std::string before = ObjectToText(original->Dict.get());
    doc.SaveToFile(Path("s.pdf"), 2);
    std::string file = ksfixture::ReadFile(Path("s.pdf"));
    std::string lengthLine = std::string(c.written) + "\r\n";
    std::string dict = "<<\r\n/Type /XObject\r\n" + lengthLine + ">>";
    EXPECT_EQ(ObjectBody(file, 4), dict + "\r\nstream\r\n" + std::string("a\r\nb\0c", 6) + "\r\nendstream") << c.name;
    // The document's own stream is untouched by the save.
    EXPECT_EQ(ObjectToText(original->Dict.get()), before) << c.name;
  }
}

TEST_F(SaveTest, StreamsWithCompressionOn) {
  const std::string data = "q 1 0 0 1 0 0 cm BT /F1 12 Tf (compress me, compress me, compress me) Tj ET Q";
  const struct {
    const char* name;
    uint8_t method;
    std::function<void(TksPDFDictObject&)> entries;
    const char* filterAndParms;  // expected entries after /Length ("" = as before)
    bool recoded;
  } cases[] = {
      {"no filter, Flate", 0, [](TksPDFDictObject&) {}, "/Filter /FlateDecode\r\n", true},
      {"no filter, RunLength", 1, [](TksPDFDictObject&) {}, "/Filter /RunLengthDecode\r\n", true},
      {"already Flate", 0, [](TksPDFDictObject& d) { d.AddName("/Filter", "/FlateDecode"); },
       "/Filter /FlateDecode\r\n", false},
      {"DCT is left alone", 0, [](TksPDFDictObject& d) { d.AddName("/Filter", "/DCTDecode"); },
       "/Filter /DCTDecode\r\n", false},
      {"ASCII85 with parameters", 0,
       [](TksPDFDictObject& d) {
         d.AddName("/Filter", "/ASCII85Decode");
         auto parms = std::make_unique<TksPDFDictObject>();
         parms->AddInteger("/Predictor", 12);
         d.AddObject("/DecodeParms", std::move(parms));
       },
       "/Filter [ /FlateDecode /ASCII85Decode ]\r\n/DecodeParms [ null <<\r\n/Predictor 12\r\n>> ]\r\n", true},
  };
  for (const auto& c : cases) {
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    auto stream = std::make_unique<TksPDFStreamObject>();
    stream->Dict->AddInteger("/Length", static_cast<int32_t>(data.size()));
    c.entries(*stream->Dict);
    stream->Data->LoadFromBytes(data);
    TksPDFStreamObject* original = stream.get();
    doc.Store->Add(std::make_unique<TksPDFIndirectObject>(doc.DocumentID, 5, 0, std::move(stream), 1));
    const std::string before = ObjectToText(original->Dict.get());
    doc.SetCompression(c.method, 3);
    doc.SaveToFile(Path("c.pdf"), 2);
    std::string body = ObjectBody(ksfixture::ReadFile(Path("c.pdf")), 4);
    size_t start = body.find("\r\nstream\r\n") + 10;
    size_t end = body.rfind("\r\nendstream");
    std::string written = body.substr(start, end - start);
    if (c.recoded) {
      std::unique_ptr<TksFilter> codec = NewDecodeFilter(c.method == 0 ? ftFlateDecode : ftRunLengthDecode);
      EXPECT_EQ(codec->DecodeString(written), data) << c.name;
    } else {
      EXPECT_EQ(written, data) << c.name;
    }
    // /Length is the count of the bytes written, whatever the re-filtering did.
    std::string expectedDict = "<<\r\n/Length " + std::to_string(written.size()) + "\r\n" + c.filterAndParms + ">>";
    EXPECT_EQ(body.substr(0, start - 10), expectedDict) << c.name;
    // The document keeps its stream as read: a save without compression writes it unchanged.
    EXPECT_EQ(ObjectToText(original->Dict.get()), before) << c.name;
    EXPECT_EQ(original->Data->View(), data) << c.name;
    doc.Compression.Enabled = false;
    doc.SaveToFile(Path("c.pdf"), 2);
    EXPECT_EQ(ObjectBody(ksfixture::ReadFile(Path("c.pdf")), 4), before + "\r\nstream\r\n" + data + "\r\nendstream")
        << c.name;
  }
}

TEST_F(SaveTest, CompressionMeetsAFilterOfTheWrongKind) {
  auto stream = std::make_unique<TksPDFStreamObject>();
  stream->Dict->AddInteger("/Filter", 5);
  stream->Data->LoadFromBytes("abc");
  Add(5, std::move(stream));
  doc_.SetCompression(0, 2);
  EXPECT_THAT([&] { doc_.SaveToFile(Path("bad.pdf"), 2); },
              ThrowsMessage<ksCstPDFDoc::EUnexpectedObjectError>(StrEq("Unexpected filter object, found (5)")));
  EXPECT_TRUE(FilesInDir().empty());
}

TEST_F(SaveTest, ResetSwitchesCompressionOff) {
  doc_.SetCompression(1, 1);
  EXPECT_TRUE(doc_.Compression.Enabled);
  EXPECT_EQ(doc_.Compression.Method, 1);
  EXPECT_EQ(doc_.Compression.Level, 1);
  doc_.Reset();
  EXPECT_FALSE(doc_.Compression.Enabled);
}

TEST_F(SaveTest, LargeStreamIsWrittenExactly) {
  std::string data(3 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131) >> 3);
  auto stream = std::make_unique<TksPDFStreamObject>();
  stream->Dict->AddInteger("/Length", static_cast<int32_t>(data.size()));
  stream->Data->LoadFromBytes(data);
  Add(90, std::move(stream));
  Add(91, std::make_unique<TksPDFStringObject>("(after)"));
  std::string file = Save();
  EXPECT_EQ(ObjectBody(file, 4), "<<\r\n/Length " + std::to_string(data.size()) + "\r\n>>\r\nstream\r\n" + data +
                                     "\r\nendstream");
  std::vector<int64_t> offsets = CheckedOffsets(file);
  ASSERT_EQ(offsets.size(), 5u);
  EXPECT_EQ(file.substr(static_cast<size_t>(offsets[4]), 11), "\r\n5 0 obj\r\n");
}

TEST_F(SaveTest, WriteValueInContext) {
  Add(60, std::make_unique<TksPDFIntegerObject>(1));
  Add(61, std::make_unique<TksPDFIntegerObject>(2), false);
  doc_.Store->Items(0)->SaveNumber = 12;
  auto page = PageDict();
  page->AddObject("/A", Ref(60));
  page->AddObject("/B", Ref(61));
  page->AddObject("/R", std::make_unique<TksPDFRealObject>(0.5));
  EXPECT_EQ(doc_.WriteValue(4, page.get()),
            "<<\r\n/Type /Page\r\n/MediaBox [ 0 0 612 792 ]\r\n/A 12 0 R\r\n/B null\r\n/R 0.5000000000\r\n"
            "/Parent 3 0 R\r\n>>");
  EXPECT_EQ(doc_.WriteValue(4, nullptr), "");
  EXPECT_EQ(TksCustomPDFDocument::KeyLine("/K", "1"), "/K 1\r\n");
  EXPECT_EQ(TksCustomPDFDocument::KeyLine("/K", ""), "");
}

TEST_F(SaveTest, StatusMessagesAndProgress) {
  AddPage(70);
  Add(71, std::make_unique<TksPDFNullObject>(), false);
  Add(72, std::make_unique<TksPDFNullObject>());
  Add(73, std::make_unique<TksPDFNullObject>());
  std::vector<std::string> messages;
  std::vector<int> progress;
  doc_.OnStatusMessage = [&](TksCustomPDFDocument*, const std::string& m) { messages.push_back(m); };
  doc_.OnIOProgress = [&](TksCustomPDFDocument*, int p) { progress.push_back(p); };
  Save("status");
  EXPECT_EQ(messages, (std::vector<std::string>{"Saving File " + Path("status.pdf"), "Building Outlines...",
                                                "Building Objects...", "Writing Pages",
                                                "Writing Cross-Reference Table", "Save Complete"}));
  EXPECT_EQ(progress, (std::vector<int>{25, 50, 75, 100}));
}

TEST_F(SaveTest, SavingTwiceNumbersAfresh) {
  AddPage(75);
  TksPDFIndirectObject* late = Add(76, std::make_unique<TksPDFStringObject>("(late)"), false);
  Add(77, std::make_unique<TksPDFStringObject>("(always)"));
  std::string first = Save();
  EXPECT_EQ(ObjectBody(first, 5), "(always)");
  late->MarkUsed();
  std::string second = Save();
  EXPECT_EQ(ObjectBody(second, 5), "(late)");
  EXPECT_EQ(ObjectBody(second, 6), "(always)");
  EXPECT_EQ(CheckedOffsets(second).size(), 6u);
}

TEST_F(SaveTest, AFailedSaveLeavesTheExistingFileAndNoTemporaryFile) {
  AddPage(80);
  WriteFile(Path("keep.pdf"), "old contents");
  ASSERT_EQ(ksfixture::ReadFile(Path("keep.pdf")), "old contents");
  doc_.OnIOProgress = [](TksCustomPDFDocument*, int) { throw EUnexpectedError("Unexpected Error"); };
  std::vector<std::string> messages;
  doc_.OnStatusMessage = [&](TksCustomPDFDocument*, const std::string& m) { messages.push_back(m); };
  EXPECT_THAT([&] { doc_.SaveToFile(Path("keep.pdf"), 2); },
              ThrowsMessage<EUnexpectedError>(StrEq("Unexpected Error")));
  EXPECT_EQ(ksfixture::ReadFile(Path("keep.pdf")), "old contents");
  EXPECT_EQ(FilesInDir(), std::vector<std::string>{"keep.pdf"});
  EXPECT_EQ(messages.back(), "Writing Pages");

  // The same failure where no file existed leaves nothing at all.
  EXPECT_THROW(doc_.SaveToFile(Path("new.pdf"), 2), EUnexpectedError);
  EXPECT_EQ(FilesInDir(), std::vector<std::string>{"keep.pdf"});
}

TEST_F(SaveTest, ReplacingAFileKeepsItsPermissions) {
  WriteFile(Path("perm.pdf"), "old");
  ASSERT_EQ(chmod(Path("perm.pdf").c_str(), 0640), 0);
  std::string file = Save("perm.pdf");
  EXPECT_EQ(file.substr(0, 8), "%PDF-1.4");
  struct stat st;
  ASSERT_EQ(stat(Path("perm.pdf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(SaveTest, AFolderThatDoesNotExistCannotTakeTheFile) {
  std::string target = Path("missing/out.pdf");
  EXPECT_THAT([&] { doc_.SaveToFile(target, 2); },
              ThrowsMessage<EFCreateError>(
                  StrEq("Cannot create file \"" + target + "\". No such file or directory")));
}

// Names that lead to no file that could be replaced are refused before anything is
// written, with what stands there; the name as given decides before ".pdf" is added.
TEST_F(SaveTest, OutputNamesThatLeadToNoWritableFileAreRefused) {
  AddPage(80);
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(Path("pipe.pdf").c_str(), 0600), 0);
  fs::create_directory(Path("folder.pdf"));
  fs::create_symlink("folder.pdf", Path("to-folder.pdf"));
  for (const auto& [name, mode] : {std::pair{"r--r--r--.pdf", 0444}, {"r--------.pdf", 0400}, {"---------.pdf", 0}}) {
    WriteFile(Path(name), "locked");
    ASSERT_EQ(chmod(Path(name).c_str(), static_cast<mode_t>(mode)), 0);
  }
  const std::vector<std::string> before = FilesInDir();
  const struct {
    std::string name, message;
  } cases[] = {
      {"", "The output file name is empty"},
      {dir_, dir_ + " is a directory"},
      {dir_ + "/", dir_ + "/ is a directory"},
      {Path("folder.pdf"), Path("folder.pdf") + " is a directory"},
      {Path("to-folder.pdf"), Path("to-folder.pdf") + " is a directory"},
      {"/dev/null", "/dev/null is not a regular file"},
      {Path("pipe"), Path("pipe") + " is not a regular file"},
      {Path("pipe.pdf"), Path("pipe.pdf") + " is not a regular file"},
      {Path("r--r--r--.pdf"), Path("r--r--r--.pdf") + " is read-only; it was not replaced"},
      {Path("r--------.pdf"), Path("r--------.pdf") + " is read-only; it was not replaced"},
      {Path("---------.pdf"), Path("---------.pdf") + " is read-only; it was not replaced"},
  };
  std::vector<std::string> messages;
  doc_.OnStatusMessage = [&](TksCustomPDFDocument*, const std::string& m) { messages.push_back(m); };
  for (const auto& c : cases) {
    messages.clear();
    EXPECT_THAT([&] { doc_.SaveToFile(c.name, 2); }, ThrowsMessage<EFCreateError>(StrEq(c.message))) << c.name;
    EXPECT_EQ(messages, std::vector<std::string>()) << c.name;
  }
  EXPECT_EQ(FilesInDir(), before);
  EXPECT_EQ(ksfixture::ReadFile(Path("r--r--r--.pdf")), "locked");

  // One write bit, for anyone, is enough.
  ASSERT_EQ(chmod(Path("---------.pdf").c_str(), 0020), 0);
  doc_.SaveToFile(Path("---------.pdf"), 2);
  EXPECT_EQ(ksfixture::ReadFile(Path("---------.pdf")).substr(0, 8), "%PDF-1.4");
}

// As cp does: an output that is a symbolic link writes the file the link leads to, and
// the link stays a link.
TEST_F(SaveTest, AnOutputThatIsALinkReplacesTheFileItLeadsTo) {
  AddPage(80);
  fs::create_directory(Path("sub"));
  WriteFile(Path("sub/real.pdf"), "old");
  ASSERT_EQ(chmod(Path("sub/real.pdf").c_str(), 0640), 0);
  fs::create_symlink("sub/real.pdf", Path("link.pdf"));
  fs::create_symlink("link.pdf", Path("link-to-link.pdf"));
  fs::create_symlink("new.pdf", Path("sub/dangling.pdf"));
  fs::create_symlink("sub/real.pdf", Path("bare.pdf"));  // reached as "bare" + ".pdf"

  for (const char* name : {"link.pdf", "link-to-link.pdf", "bare"}) {
    WriteFile(Path("sub/real.pdf"), "old");
    doc_.SaveToFile(Path(name), 2);
    EXPECT_EQ(ksfixture::ReadFile(Path("sub/real.pdf")).substr(0, 8), "%PDF-1.4") << name;
    EXPECT_TRUE(fs::is_symlink(Path("link.pdf")));
    EXPECT_TRUE(fs::is_symlink(Path("link-to-link.pdf")));
    struct stat st;
    ASSERT_EQ(stat(Path("sub/real.pdf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
  }
  doc_.SaveToFile(Path("sub/dangling.pdf"), 2);
  EXPECT_TRUE(fs::is_symlink(Path("sub/dangling.pdf")));
  EXPECT_EQ(ksfixture::ReadFile(Path("sub/new.pdf")).substr(0, 8), "%PDF-1.4");
  EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"bare.pdf", "link-to-link.pdf", "link.pdf", "sub"}));
}

TEST_F(SaveTest, SetupDialogHookCanCancel) {
  doc_.ShowSetupDialog = true;
  int shown = 0;
  std::vector<std::string> messages;
  doc_.OnStatusMessage = [&](TksCustomPDFDocument*, const std::string& m) { messages.push_back(m); };
  doc_.SetupDialogHook = [&](TksCustomPDFDocument& d) {
    EXPECT_EQ(&d, &doc_);
    ++shown;
    return TksCustomPDFDocument::kModalCancel;
  };
  doc_.SaveToFile(Path("cancelled.pdf"), 2);
  EXPECT_EQ(shown, 1);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(FilesInDir().empty());

  doc_.SetupDialogHook = [&](TksCustomPDFDocument& d) {
    ++shown;
    d.PDFVersion = pvPDF17;  // what the dialog changes is saved
    return TksCustomPDFDocument::kModalOK;
  };
  EXPECT_EQ(Save("accepted.pdf").substr(0, 8), "%PDF-1.7");
  EXPECT_EQ(shown, 2);

  doc_.ShowSetupDialog = false;
  Save("nodialog.pdf");
  EXPECT_EQ(shown, 2);
}

// A caller's dialog takes the place of the built-in one and sees the document only while shown.
TEST_F(SaveTest, ACallersSetupDialogIsShownInsteadAndReleasedAfterwards) {
  struct Dialog : TksSetupDialog {
    int result = TksCustomPDFDocument::kModalCancel;
    TksCustomPDFDocument* seen = nullptr;
    bool fail = false;
    int ShowModal() override {
      seen = Document;
      if (fail) throw std::runtime_error("the dialog failed");
      return result;
    }
  } dialog;
  int builtIn = 0;
  doc_.ShowSetupDialog = true;
  doc_.SetupDialogHook = [&](TksCustomPDFDocument&) { return ++builtIn, TksCustomPDFDocument::kModalOK; };
  doc_.SetupDialog = &dialog;
  doc_.SaveToFile(Path("cancelled.pdf"), 2);
  EXPECT_EQ(dialog.seen, &doc_);
  EXPECT_EQ(dialog.Document, nullptr);
  EXPECT_TRUE(FilesInDir().empty());
  // Any other result of the caller's own saves.
  dialog.result = 7;
  EXPECT_EQ(Save("own-result.pdf").substr(0, 5), "%PDF-");
  dialog.fail = true;
  EXPECT_THROW(doc_.SaveToFile(Path("failed.pdf"), 2), std::runtime_error);
  EXPECT_EQ(dialog.Document, nullptr);
  EXPECT_EQ(builtIn, 0);
  // Without any dialog the save goes on.
  doc_.SetupDialog = nullptr;
  doc_.SetupDialogHook = nullptr;
  EXPECT_EQ(doc_.ShowSettingsDialog(), TksCustomPDFDocument::kModalNone);
}

TEST_F(SaveTest, OpenAfterSaveSeesTheCompleteFileAndItsFailureIsIgnored) {
  doc_.OpenAfterSave = true;
  std::vector<std::string> messages;
  doc_.OnStatusMessage = [&](TksCustomPDFDocument*, const std::string& m) { messages.push_back(m); };
  std::string opened;
  doc_.OpenFileHook = [&](const std::string& name) {
    opened = name;
    std::string file = ksfixture::ReadFile(name);
    EXPECT_EQ(file.substr(file.size() - 7), "%%EOF\r\n");
    throw std::runtime_error("no application for PDF files");
  };
  doc_.SaveToFile(Path("open"), 2);
  EXPECT_EQ(opened, Path("open.pdf"));
  EXPECT_EQ(messages.back(), "Save Complete");

  opened.clear();
  doc_.OpenAfterSave = false;
  Save("closed.pdf");
  EXPECT_EQ(opened, "");
}

TEST_F(SaveTest, ADocumentReadOnlyPartWayIsNotSaved) {
  doc_.IsLoaded = true;
  doc_.StructureRead = false;
  EXPECT_THAT([&] { doc_.SaveToFile(Path("partial.pdf"), 2); },
              ThrowsMessage<ESaveError>(StrEq("The document was not read completely and cannot be saved")));
  EXPECT_TRUE(FilesInDir().empty());
  doc_.StructureRead = true;
  EXPECT_EQ(Save("whole.pdf").substr(0, 8), "%PDF-1.4");
}

}  // namespace

namespace {

// A one-page file whose content stream holds data (its size decides whether a save
// copies it from the source file or from memory).
std::string FileWithStream(const std::string& data) {
  return ksfixture::PdfBuilder()
      .Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>")
      .Stream(4, "", data)
      .Build("/Root 1 0 R");
}

}  // namespace

TEST_F(SaveTest, StreamDataOfTheSourceAreWrittenExactlyWhateverTheirSize) {
  // Small data are written from memory, large ones copied from the source file.
  for (size_t size : {size_t{10}, size_t{64 * 1024}, size_t{3 << 20}}) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131) >> 3);
    std::string source = dir_ + "/source.pdf";
    WriteFile(source, FileWithStream(data));
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    ASSERT_TRUE(doc.LoadFromFile(source));
    std::string target = dir_ + "/copy.pdf";
    doc.SaveToFile(target, 2);
    std::string file = ksfixture::ReadFile(target);
    std::string expected = "stream\r\n" + data + "\r\nendstream";
    EXPECT_NE(file.find("/Length " + std::to_string(size) + "\r\n>>\r\n" + expected), std::string::npos) << size;
    CheckedOffsets(file);
  }
}

TEST_F(SaveTest, ASourceChangedAfterReadingFailsTheSaveAndWritesNothing) {
  const std::string data(100 * 1024, 'x');
  const std::string message_end = "\" was changed after it was read; open it again before saving";
  const struct {
    const char* what;
    std::function<void(const std::string&)> change;
  } cases[] = {
      {"appended to", [](const std::string& p) { std::ofstream(p, std::ios::app | std::ios::binary) << "%more\n"; }},
      {"truncated", [](const std::string& p) { fs::resize_file(p, 100); }},
      {"rewritten in place with the same size",
       [&](const std::string& p) {
         std::string bytes = FileWithStream(std::string(data.size(), 'y'));
         std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
         f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
         f.close();
         // Same size, and a modification time that certainly differs from the first.
         struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
         ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
       }},
  };
  for (const auto& c : cases) {
    std::string source = dir_ + "/source.pdf";
    WriteFile(source, FileWithStream(data));
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    ASSERT_TRUE(doc.LoadFromFile(source));
    c.change(source);
    const std::string target = dir_ + "/out.pdf";
    WriteFile(target, "old");
    EXPECT_THAT([&] { doc.SaveToFile(target, 2); },
                ThrowsMessage<ESaveError>(StrEq("The file \"" + source + message_end)))
        << c.what;
    EXPECT_EQ(ksfixture::ReadFile(target), "old") << c.what;
    EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"out.pdf", "source.pdf"})) << c.what;
  }
}

// Another program cuts the source short while the save reads from it (stream data
// copied by the kernel, small ones and re-compressed ones read from the mapping): the
// save fails saying what happened, and the file it would have replaced stays.
TEST_F(SaveTest, ASourceCutShortWhileSavingFailsTheSaveAndWritesNothing) {
  const std::string bytes = ksfixture::ManyPages(200, 6000, 5, 100000);
  const struct {
    bool compress;
    int percentage;  // the file is cut as the save reports this much done
    size_t keep;
  } cases[] = {
      {false, 0, 0}, {false, 50, bytes.size() / 2}, {false, 90, 5000},
      {true, 0, bytes.size() / 3}, {true, 50, 0}, {true, 99, bytes.size() - 3000},
  };
  for (const auto& c : cases) {
    const std::string source = Path("source.pdf");
    WriteFile(source, bytes);
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    ASSERT_TRUE(doc.LoadFromFile(source));
    if (c.compress) doc.SetCompression(0, 1);
    bool writing = false;
    doc.OnStatusMessage = [&](TksCustomPDFDocument*, const std::string& m) { writing = m == "Writing Pages"; };
    doc.OnIOProgress = [&](TksCustomPDFDocument*, int percentage) {
      if (writing && percentage == c.percentage) fs::resize_file(source, c.keep);
    };
    WriteFile(Path("out.pdf"), "old");
    EXPECT_THAT([&] { doc.SaveToFile(Path("out.pdf"), 2); },
                ThrowsMessage<EReadError>(StrEq("The file \"" + source + "\" was changed while it was read")))
        << c.compress << " " << c.percentage;
    EXPECT_EQ(ksfixture::ReadFile(Path("out.pdf")), "old");
    EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"out.pdf", "source.pdf"}));
  }
}

TEST_F(SaveTest, ASourceReplacedUnderItsNameStillSavesWhatWasRead) {
  // The document keeps the file it read open: a new file put in its place (a save over
  // the input, for one) changes nothing the document holds.
  const std::string data(100 * 1024, 'x');
  std::string source = dir_ + "/source.pdf";
  WriteFile(source, FileWithStream(data));
  TksCustomPDFDocument doc;
  doc.ShowSetupDialog = false;
  ASSERT_TRUE(doc.LoadFromFile(source));
  doc.SaveToFile(source, 2);
  doc.SaveToFile(dir_ + "/again.pdf", 2);
  EXPECT_EQ(ksfixture::ReadFile(dir_ + "/again.pdf"), ksfixture::ReadFile(source));
  EXPECT_NE(ksfixture::ReadFile(source).find("stream\r\n" + data + "\r\nendstream"), std::string::npos);
}
