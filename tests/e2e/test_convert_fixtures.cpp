// Hand-made damaged and updated files through the command-line converter: the exit code,
// the warnings on stderr, and what qpdf and pdftotext find in the output.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ksFixture.h"
#include "ksShell.h"

namespace fs = std::filesystem;
using ksfixture::PdfBuilder;
using ksfixture::StartXRefOf;
using ksfixture::XRefStreamRows;

namespace {

using ksshell::Quote;
using ksshell::RunResult;
using ksshell::Shell;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "pw-fixture-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Conversion {
  int status = -1;
  std::string warnings;  // stderr
  std::string output;    // path of the converted file
};

// Converts the bytes (as a file of that name) with the given options.
Conversion Convert(const TempDir& dir, const std::string& name, const std::string& bytes,
                   const std::string& options = "") {
  const std::string input = dir.path() + "/" + name;
  const std::string errors = dir.path() + "/stderr.txt";
  Conversion c;
  c.output = dir.path() + "/out-" + name;
  {
    FILE* f = std::fopen(input.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  c.status = Shell(std::string(PW_CONVERT_EXE) + " " + options + " " + Quote(input) + " " + Quote(c.output) + " 2>" +
                   Quote(errors))
                 .status;
  c.warnings = ksfixture::ReadFile(errors);
  return c;
}

std::string Warning(const std::string& text) { return "pagewright-convert: warning: " + text + "\n"; }

// The text of every page as pdftotext extracts it, white space squeezed to single spaces.
std::string TextOf(const std::string& pdf) {
  std::string raw = Shell("pdftotext -q " + Quote(pdf) + " - 2>/dev/null").out, text;
  for (char c : raw) {
    const bool space = c == ' ' || c == '\n' || c == '\f' || c == '\r';
    if (space && (text.empty() || text.back() == ' ')) continue;
    text += space ? ' ' : c;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

int QpdfCheck(const std::string& pdf) { return Shell("qpdf --check " + Quote(pdf) + " >/dev/null 2>&1").status; }

std::string Content(const std::string& text) { return "BT /F1 12 Tf 20 100 Td (" + text + ") Tj ET"; }

// Catalog 1, page tree 2, page 3 drawing content 4 with the font 5.
PdfBuilder OnePage(const std::string& text, const std::string& header = "%PDF-1.4") {
  PdfBuilder b(header);
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Resources << /Font << /F1 5 0 R >> >> "
                 "/Contents 4 0 R >>")
      .Stream(4, "", Content(text))
      .Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  return b;
}

// Replaces the first "/Prev 0000000" with the seven-digit offset.
std::string PatchPrev(std::string file, int64_t offset) {
  char seven[8];
  std::snprintf(seven, sizeof seven, "%07lld", static_cast<long long>(offset));
  return file.replace(file.find("/Prev 0000000") + 6, 7, seven);
}

// ---- cross-reference sections reached twice ----

// A hybrid file (its font kept in an object stream that only the /XRefStm stream lists,
// marked free in the table, as office producers write them) and an update of its text
// whose trailer repeats the older /XRefStm.
TEST(ConvertFixtures, HybridUpdateRepeatingTheOlderXRefStmIsSound) {
  PdfBuilder b("%PDF-1.5");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Resources 6 0 R /Contents 4 0 R >>")
      .Stream(4, "", Content("Hybrid original"));
  auto objstm = ksfixture::MakeObjStm({{6, "<< /Font << /F1 7 0 R >> >>"},
                                       {7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}});
  b.Stream(5, objstm.dictEntries, objstm.data);
  b.Stream(8, "/Type /XRef /Size 9 /W [1 4 2] /Index [6 2]", XRefStreamRows({{2, 5, 0}, {2, 5, 1}}, {1, 4, 2}));
  const std::string xrefStm = std::to_string(b.Offsets()[8]);
  const std::string base = b.Build("/Root 1 0 R /XRefStm " + xrefStm);
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Stream(4, "", Content("Hybrid updated"));
  const std::string file = u.Build("/Root 1 0 R /Prev " + std::to_string(StartXRefOf(base)) + " /XRefStm " + xrefStm);

  TempDir dir;
  Conversion c = Convert(dir, "hybrid-update.pdf", file);
  EXPECT_EQ(c.status, 0) << c.warnings;
  EXPECT_EQ(c.warnings, "");
  EXPECT_EQ(QpdfCheck(c.output), 0);
  EXPECT_EQ(TextOf(c.output), "Hybrid updated");
  EXPECT_NE(ksfixture::ReadFile(c.output).find("/BaseFont /Helvetica"), std::string::npos);
}

// Two sections whose /Prev name each other, and a section whose /Prev names itself:
// everything the sections list is there, with a warning.
TEST(ConvertFixtures, PrevChainThatLoopsEndsThereWithAWarning) {
  const std::string base = OnePage("Loop original").Object(6, "<< /Title (only in the older section) >>").Build(
      "/Root 1 0 R /Info 6 0 R /Prev 0000000");
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Stream(4, "", Content("Loop updated"));
  const std::string twoSections = u.Build("/Root 1 0 R /Prev " + std::to_string(StartXRefOf(base)));
  const int64_t newest = StartXRefOf(twoSections);
  const std::string selfLoop = OnePage("Self loop").Build("/Root 1 0 R /Prev 0000000");

  struct Case {
    const char* name;
    std::string file;
    int64_t loopOffset;
    const char* text;
  } cases[] = {
      {"two-sections.pdf", PatchPrev(twoSections, newest), newest, "Loop updated"},
      {"self.pdf", PatchPrev(selfLoop, StartXRefOf(selfLoop)), StartXRefOf(selfLoop), "Self loop"},
  };
  for (const Case& k : cases) {
    TempDir dir;
    Conversion c = Convert(dir, k.name, k.file);
    EXPECT_EQ(c.status, 3) << k.name;
    EXPECT_EQ(c.warnings, Warning("Cross-reference sections loop back to offset " + std::to_string(k.loopOffset) +
                                  "; the chain of older sections ends there"))
        << k.name;
    EXPECT_EQ(QpdfCheck(c.output), 0) << k.name;
    EXPECT_EQ(TextOf(c.output), k.text) << k.name;
  }
  // The older section's objects are all there: the information it alone lists as well.
  TempDir dir;
  Conversion c = Convert(dir, "info.pdf", PatchPrev(twoSections, newest));
  EXPECT_NE(ksfixture::ReadFile(c.output).find("(only in the older section)"), std::string::npos);
}

// A single, complete section whose /Prev points into the middle of a content stream (at
// a number, and at an operator): the /Prev is ignored with a warning.
TEST(ConvertFixtures, PrevIntoAContentStreamIsIgnoredWithAWarning) {
  for (const char* target : {"20 100 Td", "Tj ET"}) {
    PdfBuilder b = OnePage("Prev into content");
    const std::string body = b.Body();
    const int64_t inside = static_cast<int64_t>(body.find(target, b.Offsets()[4]));
    const std::string file = PatchPrev(b.Build("/Root 1 0 R /Prev 0000000"), inside);
    TempDir dir;
    Conversion c = Convert(dir, "prev-into-content.pdf", file);
    EXPECT_EQ(c.status, 3) << target;
    EXPECT_EQ(c.warnings, Warning("/Prev offset " + std::to_string(inside) +
                                  " points at neither a cross-reference table nor a stream; it is ignored"))
        << target;
    EXPECT_EQ(QpdfCheck(c.output), 0) << target;
    EXPECT_EQ(TextOf(c.output), "Prev into content") << target;
  }
}

// ---- free entries and generations ----

// An update that frees the page's content stream while the page still names it: the
// content is gone from the output, as the free entry says.
TEST(ConvertFixtures, ObjectFreedByAnUpdateStaysDeleted) {
  const std::string base = OnePage("Deleted text").Build("/Root 1 0 R");
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Free(4, 1);
  TempDir dir;
  Conversion c = Convert(dir, "freed.pdf", u.Build("/Root 1 0 R /Prev " + std::to_string(StartXRefOf(base))));
  EXPECT_EQ(c.status, 0) << c.warnings;
  EXPECT_EQ(c.warnings, "");
  EXPECT_EQ(QpdfCheck(c.output), 0);
  EXPECT_EQ(TextOf(c.output), "");
  EXPECT_EQ(ksfixture::ReadFile(c.output).find("Deleted text"), std::string::npos);
}

// An update reuses number 4 as generation 1 and adds a second page that names it; the
// first page still names generation 0, which no longer exists.
TEST(ConvertFixtures, ReferenceToAReplacedGenerationIsNull) {
  const std::string base = OnePage("Old four").Build("/Root 1 0 R");
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Object(2, "<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 2 >>")
      .Stream(4, "", Content("New four"), 1)
      .Object(6, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Resources << /Font << /F1 5 0 R >> >> "
                 "/Contents 4 1 R >>");
  TempDir dir;
  Conversion c = Convert(dir, "reused.pdf", u.Build("/Root 1 0 R /Prev " + std::to_string(StartXRefOf(base))));
  EXPECT_EQ(c.status, 0) << c.warnings;
  EXPECT_EQ(QpdfCheck(c.output), 0);
  EXPECT_EQ(Shell("qpdf --show-npages " + Quote(c.output)).out, "2\n");
  EXPECT_EQ(Shell("pdftotext -q -f 1 -l 1 " + Quote(c.output) + " - | tr -d '\\f\\n'").out, "");
  EXPECT_EQ(TextOf(c.output), "New four");
  EXPECT_EQ(ksfixture::ReadFile(c.output).find("Old four"), std::string::npos);
}

// A reference whose generation no section ever gave: taken to mean the object, with a
// warning.
TEST(ConvertFixtures, OtherGenerationIsToleratedWithAWarning) {
  PdfBuilder b = OnePage("Mismatch");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Resources << /Font << /F1 5 0 R >> >> "
              "/Contents 4 1 R >>");
  TempDir dir;
  Conversion c = Convert(dir, "mismatch.pdf", b.Build("/Root 1 0 R"));
  EXPECT_EQ(c.status, 3);
  EXPECT_EQ(c.warnings,
            Warning("Reference 4 1 R names object 4 by another generation (0); it is taken to mean that object"));
  EXPECT_EQ(QpdfCheck(c.output), 0);
  EXPECT_EQ(TextOf(c.output), "Mismatch");
}

// ---- stream lengths ----

// The page's content names the word "endstream" in a string, and its /Length is short:
// the data are cut at the word, which is a repair worth a warning. A /Length that counts
// two bytes of end-of-line where one stands is no damage.
TEST(ConvertFixtures, LengthRepairThatChangesTheDataIsAWarning) {
  const std::string content = Content("Before endstream after");
  struct Case {
    const char* name;
    std::string length;
    int status;
    std::string warnings;
    int qpdfCheck;  // the cut content ends inside a string: qpdf warns of it (exit 3)
  } cases[] = {
      {"short.pdf", "10", 3,
       Warning("Stream data of object 4 do not end where its /Length 10 says; the 31 bytes up to endstream were "
               "taken"),
       3},
      {"eol.pdf", std::to_string(content.size() + 2), 0, "", 0},
  };
  for (const Case& k : cases) {
    PdfBuilder b = OnePage("");
    b.Object(4, "<< /Length " + k.length + " >>\nstream\n" + content + "\nendstream");
    TempDir dir;
    Conversion c = Convert(dir, k.name, b.Build("/Root 1 0 R"));
    EXPECT_EQ(c.status, k.status) << k.name;
    EXPECT_EQ(c.warnings, k.warnings) << k.name;
    EXPECT_EQ(QpdfCheck(c.output), k.qpdfCheck) << k.name;
  }
}

// Three pages drawing "Page k"; page 1's content /Length is the given length of the
// built file (nine digits, so the offsets stay right). With repair, startxref points
// nowhere.
std::string ThreePagesWithLength(const std::function<size_t(const std::string&, size_t start)>& lengthOf,
                                 bool repair, const std::string& pageType = "/Type /Page") {
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [10 0 R 11 0 R 12 0 R] /Count 3 >>")
      .Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (int k = 0; k < 3; ++k) {
    const std::string content = Content("Page " + std::to_string(k + 1)) + "\n";
    b.Object(10 + k, "<< " + pageType + " /Parent 2 0 R /MediaBox [0 0 300 200] /Resources << /Font << /F1 5 0 R >> >> "
                     "/Contents " + std::to_string(40 + k) + " 0 R >>");
    b.Object(40 + k, "<< /Length " + (k == 0 ? std::string(9, '0') : std::to_string(content.size())) +
                         " >>\nstream\n" + content + "endstream");
  }
  std::string file = b.Build("/Root 1 0 R");
  const size_t field = file.find("/Length 000000000") + 8;
  const size_t start = file.find("stream\n", field) + 7;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%09zu", lengthOf(file, start));
  file.replace(field, 9, digits);
  if (repair) file.replace(file.rfind("startxref"), std::string::npos, "startxref\n999999\n%%EOF\n");
  return file;
}

// Valid files that hide a comment right after a name or a number, and stream lengths that
// reach past their own "endstream" (into the trailer, or onto the last page's
// "endstream"), through the table and through the repair: every page is written with its
// own text, and the output passes qpdf's check.
TEST(ConvertFixtures, CommentsAndLengthsPastEndstreamKeepEveryPage) {
  const std::string right = "pagewright-convert: warning: Stream data of object 40 do not end where its /Length ";
  auto rightLength = [](const std::string& f, size_t start) { return f.find("endstream", start) - start; };
  auto intoTrailer = [](const std::string& f, size_t start) { return f.find("trailer") - start; };
  auto ontoLast = [](const std::string& f, size_t start) { return f.find("endstream", f.find("42 0 obj")) - start; };
  const struct {
    const char* name;
    std::string file;
    int status;
    bool lengthWarning;
  } cases[] = {
      {"comment-after-name.pdf", ThreePagesWithLength(rightLength, false, "/Type /Page%note\n"), 0, false},
      {"comment-after-number.pdf", ThreePagesWithLength(rightLength, false, "/Type /Page /Rotate 0%c\n"), 0, false},
      {"into-trailer.pdf", ThreePagesWithLength(intoTrailer, false), 3, true},
      {"onto-last.pdf", ThreePagesWithLength(ontoLast, false), 3, true},
      {"into-trailer-repaired.pdf", ThreePagesWithLength(intoTrailer, true), 3, true},
      {"onto-last-repaired.pdf", ThreePagesWithLength(ontoLast, true), 3, true},
  };
  for (const auto& k : cases) {
    TempDir dir;
    Conversion c = Convert(dir, k.name, k.file);
    EXPECT_EQ(c.status, k.status) << k.name << "\n" << c.warnings;
    EXPECT_EQ(c.warnings.find(right) != std::string::npos, k.lengthWarning) << k.name << "\n" << c.warnings;
    EXPECT_EQ(QpdfCheck(c.output), 0) << k.name;
    EXPECT_EQ(Shell("qpdf --show-npages " + Quote(c.output)).out, "3\n") << k.name;
    EXPECT_EQ(TextOf(c.output), "Page 1 Page 2 Page 3") << k.name;
  }
}

// ---- page tree defects ----

// Catalog 1 (with extra entries), the given tree node texts, and pages 10, 11, ... each
// drawing "Page k" with the font 5.
PdfBuilder Tree(const std::vector<std::pair<int, std::string>>& nodes, int pages, const std::string& catalogExtra = "",
                const std::string& pageType = "/Type /Page") {
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R " + catalogExtra + " >>");
  for (const auto& [n, text] : nodes) b.Object(n, text);
  b.Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (int k = 0; k < pages; ++k) {
    b.Object(10 + k, "<< " + pageType + " /MediaBox [0 0 300 200] /Resources << /Font << /F1 5 0 R >> >> /Contents " +
                         std::to_string(40 + k) + " 0 R >>");
    b.Stream(40 + k, "", Content("Page " + std::to_string(k + 1)));
  }
  return b;
}

TEST(ConvertFixtures, PageTreeDefectsKeepThePagesThatExist) {
  struct Case {
    const char* name;
    std::string file;
    std::string warnings;
    std::string text;
  } cases[] = {
      {"untyped.pdf",
       Tree({{2, "<< /Kids [3 0 R 11 0 R] /Count 2 >>"}, {3, "<< /Kids [10 0 R] >>"}}, 2, "", "").Build("/Root 1 0 R"),
       Warning("Page tree entry (object 2) has no /Type; it is read as a page tree node") +
           Warning("Page tree entry (object 3) has no /Type; it is read as a page tree node") +
           Warning("Page tree entry (object 10) has no /Type; it is read as a page") +
           Warning("Page tree entry (object 11) has no /Type; it is read as a page"),
       "Page 1 Page 2"},
      {"missing-kid.pdf",
       Tree({{2, "<< /Type /Pages /Kids [10 0 R 9 0 R 11 0 R] /Count 3 >>"}}, 2).Build("/Root 1 0 R"),
       Warning("Page tree entry (object 9) is missing or not a dictionary; it is skipped"), "Page 1 Page 2"},
      {"other-kid.pdf",
       Tree({{2, "<< /Type /Pages /Kids [10 0 R 5 0 R 11 0 R] /Count 3 >>"}}, 2).Build("/Root 1 0 R"),
       Warning("Page tree entry (object 5) is neither a page nor a page tree node; it is skipped"), "Page 1 Page 2"},
      {"named-destination.pdf",
       Tree({{2, "<< /Type /Pages /Kids [10 0 R] /Count 1 >>"}}, 1,
            "/Dests << /intro 7 /end [10 0 R /Fit] >> /OpenAction << /S /GoTo /D /intro >>")
           .Build("/Root 1 0 R"),
       Warning("Named destination \"intro\" is not a destination; links to it keep the name"), "Page 1"},
      {"many-untyped.pdf",
       Tree({{2, "<< /Type /Pages /Kids [10 0 R 11 0 R 12 0 R 13 0 R 14 0 R 15 0 R 16 0 R] /Count 7 >>"}}, 7, "", "")
           .Build("/Root 1 0 R"),
       Warning("Page tree entry (object 10) has no /Type; it is read as a page") +
           Warning("Page tree entry (object 11) has no /Type; it is read as a page") +
           Warning("Page tree entry (object 12) has no /Type; it is read as a page") +
           Warning("Page tree entry (object 13) has no /Type; it is read as a page") +
           Warning("Page tree entry (object 14) has no /Type; it is read as a page") +
           Warning("2 more page tree entries have no /Type; each is read as what its entries show"),
       "Page 1 Page 2 Page 3 Page 4 Page 5 Page 6 Page 7"},
  };
  for (const Case& k : cases) {
    TempDir dir;
    Conversion c = Convert(dir, k.name, k.file);
    EXPECT_EQ(c.status, 3) << k.name;
    EXPECT_EQ(c.warnings, k.warnings) << k.name;
    EXPECT_EQ(QpdfCheck(c.output), 0) << k.name;
    EXPECT_EQ(TextOf(c.output), k.text) << k.name;
  }
}

// ---- the version a catalog declares ----

// An update raised the version to 1.7 through the catalog over a 1.4 header: the file is
// a 1.7 file, and a conversion that keeps the input's version writes 1.7 (in the header
// alone: /Version is dropped).
TEST(ConvertFixtures, CatalogVersionOverTheHeaderIsKept) {
  const std::string base = OnePage("Raised").Build("/Root 1 0 R");
  PdfBuilder u = PdfBuilder::Appending(base);
  u.Object(1, "<< /Type /Catalog /Pages 2 0 R /Version /1.7 >>");
  const std::string file = u.Build("/Root 1 0 R /Prev " + std::to_string(StartXRefOf(base)));
  TempDir dir;
  const std::string input = dir.path() + "/raised.pdf";
  Conversion c = Convert(dir, "raised.pdf", file);
  EXPECT_EQ(c.status, 0) << c.warnings;
  const std::string written = ksfixture::ReadFile(c.output);
  EXPECT_EQ(written.substr(0, 10), "%PDF-1.7\r\n");
  EXPECT_EQ(written.find("/Version"), std::string::npos);
  EXPECT_EQ(QpdfCheck(c.output), 0);
  // --info shows the version and, as they differ, both of its sources.
  const std::string info = Shell(std::string(PW_CONVERT_EXE) + " --info " + Quote(input)).out;
  EXPECT_EQ(info.substr(0, info.find("xref:")), "version: 1.7\nversion_header: 1.4\nversion_catalog: 1.7\n");
  // A version chosen on the command line still decides.
  Conversion chosen = Convert(dir, "raised.pdf", file, "--pdf-version=1.5");
  EXPECT_EQ(ksfixture::ReadFile(chosen.output).substr(0, 8), "%PDF-1.5");
}

}  // namespace
