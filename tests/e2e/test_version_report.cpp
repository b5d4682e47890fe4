// The version report through the converter: what a chosen version does not know is
// named with its version and pages (exit 3), listed by --info, refused with
// --strict-version; over the corpus, every finding is backed by the file's own objects
// as qpdf shows them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ksFixture.h"
#include "ksShell.h"

namespace fs = std::filesystem;
using ksfixture::PdfBuilder;
using ksshell::Quote;
using ksshell::Shell;
using testing::HasSubstr;

namespace {

class TempDir : public ksshell::TempDir {
 public:
  TempDir() : ksshell::TempDir("pw-version-") {}
};

struct CliRun {
  int status = -1;
  std::string out, err;
};

CliRun Cli(const TempDir& dir, const std::string& args) {
  const std::string err = dir.Path("stderr.txt");
  ksshell::RunResult s = Shell(std::string(PW_CONVERT_EXE) + " " + args + " 2>" + Quote(err));
  return {s.status, s.out, ksfixture::ReadFile(err)};
}

// A 16 x 16 colour image as JPEG 2000, made by opj_compress; empty when it is missing.
std::string Jpeg2000Image(const TempDir& dir) {
  std::string ppm = "P6\n16 16\n255\n";
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ppm += {static_cast<char>(x * 16), static_cast<char>(y * 16), static_cast<char>(128)};
  dir.File("image.ppm", ppm);
  if (Shell("opj_compress -n 2 -i " + Quote(dir.Path("image.ppm")) + " -o " + Quote(dir.Path("image.jp2")) +
            " >/dev/null 2>&1")
          .status != 0)
    return {};
  return ksfixture::ReadFile(dir.Path("image.jp2"));
}

// PDF 1.7, three pages: page 1 plain; page 2 a transparency group and an image with a
// soft mask; page 3 optional content and a JPEG 2000 image. Pages 2 and 3 share one
// graphics state of half opacity (object 20), so the walk reaches it twice.
std::string FeatureFile(const std::string& jpx) {
  const std::string gray(64 * 64, '\x80');
  std::string rgb;
  for (int i = 0; i < 64 * 64; ++i) rgb += {'\xC0', '\x20', '\x20'};
  PdfBuilder b("%PDF-1.7");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [30 0 R] /D << /ON [30 0 R] >> >> >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 6 0 R >>")
      .Object(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 7 0 R "
                 "/Group << /S /Transparency /CS /DeviceRGB >> "
                 "/Resources << /XObject << /Im1 10 0 R >> /ExtGState << /G1 20 0 R >> >> >>")
      .Object(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 8 0 R "
                 "/Resources << /XObject << /Fm1 12 0 R /Im2 13 0 R >> /ExtGState << /G1 20 0 R >> >> >>")
      .Stream(6, "", "0 0 1 rg 20 20 160 160 re f")
      .Stream(7, "", "/G1 gs 0 1 0 rg 20 20 160 160 re f 1 0 0 1 0 0 cm 100 0 0 100 50 50 cm /Im1 Do")
      .Stream(8, "", "/G1 gs /Fm1 Do 100 0 0 100 50 50 cm /Im2 Do")
      .Stream(10, "/Type /XObject /Subtype /Image /Width 64 /Height 64 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
                  "/SMask 11 0 R",
              rgb)
      .Stream(11, "/Type /XObject /Subtype /Image /Width 64 /Height 64 /ColorSpace /DeviceGray /BitsPerComponent 8",
              gray)
      .Stream(12, "/Type /XObject /Subtype /Form /BBox [0 0 200 200] /OC 30 0 R", "1 0 0 rg 10 10 50 50 re f")
      .Stream(13, "/Type /XObject /Subtype /Image /Width 16 /Height 16 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
                  "/Filter /JPXDecode",
              jpx)
      .Object(20, "<< /Type /ExtGState /ca 0.5 /CA 0.5 >>")
      .Object(30, "<< /Type /OCG /Name (Layer) >>");
  return b.Build("/Root 1 0 R");
}

std::string Warning(const std::string& text) { return "pagewright-convert: warning: " + text + "\n"; }

// Each page rendered by pdftoppm, as one text of the image files' bytes.
std::string Rendering(const TempDir& dir, const std::string& pdf, const std::string& stem) {
  Shell("pdftoppm -r 30 " + Quote(pdf) + " " + Quote(dir.Path(stem)) + " 2>/dev/null");
  std::string all;
  for (int page = 1; page <= 3; ++page) all += ksfixture::ReadFile(dir.Path(stem + "-" + std::to_string(page) + ".ppm"));
  return all;
}

TEST(VersionReport, OlderVersionNamesEachFeatureWithItsVersionAndPages) {
  TempDir dir;
  const std::string jpx = Jpeg2000Image(dir);
  if (jpx.empty()) GTEST_SKIP() << "opj_compress (libopenjp2-tools) is not installed; scripts/setup.sh installs it";
  const std::string input = dir.File("features.pdf", FeatureFile(jpx));

  CliRun old = Cli(dir, "--pdf-version=1.3 " + Quote(input) + " " + Quote(dir.Path("out13.pdf")));
  EXPECT_EQ(old.status, 3) << old.err;
  EXPECT_EQ(old.err, Warning("PDF 1.3 does not support transparency groups (PDF 1.4), used on page 2") +
                         Warning("PDF 1.3 does not support soft masks (PDF 1.4), used on page 2") +
                         Warning("PDF 1.3 does not support constant opacity (/CA, /ca) (PDF 1.4), used on pages 2\xE2\x80\x93" "3") +
                         Warning("PDF 1.3 does not support optional content (PDF 1.5), used on page 3") +
                         Warning("PDF 1.3 does not support JPEG 2000 images (PDF 1.5), used on page 3"));
  // The report changes nothing: the pages draw as before.
  const std::string before = Rendering(dir, input, "src");
  ASSERT_GT(before.size(), 3u * 60 * 60);
  EXPECT_TRUE(before == Rendering(dir, dir.Path("out13.pdf"), "out13"));

  // 1.4 knows transparency; 1.7 knows everything here.
  CliRun mid = Cli(dir, "--pdf-version=1.4 " + Quote(input) + " " + Quote(dir.Path("out14.pdf")));
  EXPECT_EQ(mid.status, 3);
  EXPECT_EQ(mid.err, Warning("PDF 1.4 does not support optional content (PDF 1.5), used on page 3") +
                         Warning("PDF 1.4 does not support JPEG 2000 images (PDF 1.5), used on page 3"));
  CliRun same = Cli(dir, "--pdf-version=1.7 " + Quote(input) + " " + Quote(dir.Path("out17.pdf")));
  EXPECT_EQ(same.status, 0);
  EXPECT_EQ(same.err, "");

  // --info lists them without converting.
  CliRun info = Cli(dir, "--info --pdf-version=1.4 " + Quote(input));
  EXPECT_EQ(info.status, 0);
  EXPECT_THAT(info.out, HasSubstr("version_target: 1.4\n"
                                  "unsupported: PDF 1.4 does not support optional content (PDF 1.5), used on page 3\n"
                                  "unsupported: PDF 1.4 does not support JPEG 2000 images (PDF 1.5), used on page 3\n"));

  // --strict-version refuses, and nothing is written.
  CliRun strict = Cli(dir, "--strict-version --pdf-version=1.3 " + Quote(input) + " " + Quote(dir.Path("strict.pdf")));
  EXPECT_EQ(strict.status, 2);
  EXPECT_THAT(strict.err, HasSubstr("pagewright-convert: Not converted: PDF 1.3 does not support what the document holds\n"));
  EXPECT_FALSE(fs::exists(dir.Path("strict.pdf")));
  EXPECT_EQ(Cli(dir, "--strict-version --pdf-version=1.7 " + Quote(input) + " " + Quote(dir.Path("strict.pdf"))).status, 0);
}

// Features the file declares outside pages are named without pages; a page reached only
// through an annotation still counts; compression chosen for the save is named too.
TEST(VersionReport, DocumentWideFeaturesAndWhatTheSaveAdds) {
  TempDir dir;
  PdfBuilder b("%PDF-1.7");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [] >> /StructTreeRoot 6 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots [5 0 R] /Contents 4 0 R >>")
      .Stream(4, "", "0 0 1 rg 20 20 160 160 re f")
      .Object(5, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /A << /S /JavaScript /JS (app.alert(1)) >> >>")
      .Object(6, "<< /Type /StructTreeRoot >>");
  const std::string input = dir.File("wide.pdf", b.Build("/Root 1 0 R"));
  CliRun r = Cli(dir, "--pdf-version=1.1 --compress=flate " + Quote(input) + " " + Quote(dir.Path("out.pdf")));
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, Warning("PDF 1.1 does not support Flate compression (PDF 1.2)") +
                       Warning("PDF 1.1 does not support interactive forms (PDF 1.2)") +
                       Warning("PDF 1.1 does not support JavaScript (PDF 1.3), used on page 1") +
                       Warning("PDF 1.1 does not support tagged structure (PDF 1.4)"));
}

// What qpdf must find in a file's objects for each finding to be true.
const std::map<std::string, std::vector<std::string>> kEvidence = {
    {"Flate compression", {"/FlateDecode", "/Fl\""}},
    {"interactive forms", {"/AcroForm"}},
    {"embedded files", {"/EF\"", "/EmbeddedFile"}},
    {"JavaScript", {"/JS\"", "/JavaScript"}},
    {"smooth shadings", {"/ShadingType"}},
    {"transparency groups", {"/Transparency"}},
    {"soft masks", {"/SMask"}},
    {"constant opacity (/CA, /ca)", {"/CA\"", "/ca\""}},
    {"blend modes", {"/BM\""}},
    {"JBIG2 images", {"/JBIG2Decode"}},
    {"tagged structure", {"/StructTreeRoot"}},
    {"XMP metadata", {"/Metadata"}},
    {"optional content", {"/OC\"", "/OCProperties"}},
    {"JPEG 2000 images", {"/JPXDecode"}},
    {"OpenType font programs", {"/OpenType"}},
    {"portfolios", {"/Collection"}},
    {"associated files", {"/AF\""}},
    {"Unicode text strings", {"u:"}},
    {"encryption keys over 40 bits", {"/Encrypt"}},
    {"AES-128 encryption", {"/AESV2"}},
    {"AES-256 encryption", {"/AESV3"}},
};

TEST(VersionReport, CorpusFindingsAreBackedByTheFile) {
  TempDir dir;
  int files = 0, findings = 0;
  for (const auto& entry : fs::directory_iterator(PW_CORPUS_DIR)) {
    if (entry.path().extension() != ".pdf") continue;
    const std::string file = entry.path().string();
    CliRun info = Cli(dir, "--quiet --info --pdf-version=1.0 " + Quote(file));
    if (info.status != 0) continue;  // encrypted without a password, or unreadable
    ++files;
    std::istringstream lines(info.out);
    std::string line, json;
    bool jsonRead = false;
    while (std::getline(lines, line)) {
      const std::string prefix = "unsupported: PDF 1.0 does not support ";
      if (line.rfind(prefix, 0) != 0) continue;
      const std::string rest = line.substr(prefix.size());
      const std::string name = rest.substr(0, rest.find(" (PDF "));
      ASSERT_TRUE(kEvidence.count(name)) << file << ": " << line;
      if (!jsonRead) {
        json = Shell("qpdf --json --json-stream-data=none " + Quote(file) + " 2>/dev/null").out;
        jsonRead = true;
      }
      if (json.empty()) continue;  // qpdf cannot read it (a file only repair opens)
      ++findings;
      bool backed = false;
      for (const std::string& evidence : kEvidence.at(name)) backed = backed || json.find(evidence) != std::string::npos;
      EXPECT_TRUE(backed) << file << ": " << line;
    }
  }
  EXPECT_GT(files, 100);
  EXPECT_GT(findings, 50);
}

}  // namespace
