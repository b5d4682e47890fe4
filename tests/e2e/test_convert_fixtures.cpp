// Hand-made damaged and updated files through the command-line converter: the exit code,
// the warnings on stderr, and what qpdf and pdftotext find in the output.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ksFixture.h"

namespace fs = std::filesystem;
using ksfixture::PdfBuilder;
using ksfixture::StartXRefOf;

namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct RunResult {
  int status = -1;
  std::string out;
};

RunResult Shell(const std::string& command) {
  RunResult r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  std::array<char, 65536> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

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

}  // namespace
