// Re-compression on save through the command-line converter: what a reader makes of the
// output (pdftotext, pdftoppm, qpdf as peers) must be what it makes of the source.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "ksFixture.h"
#include "ksShell.h"

namespace {

using ksshell::Quote;
using ksshell::RunResult;
using ksshell::Shell;

// One page with a text drawn by each content stream; each stream's dictionary entries
// come from the caller (its data are written as the entries say).
std::string TextPages(const std::vector<std::pair<std::string, std::string>>& contents) {
  ksfixture::PdfBuilder b("%PDF-1.4");
  std::string refs;
  for (size_t i = 0; i < contents.size(); ++i) refs += std::to_string(10 + i) + " 0 R ";
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents [" + refs +
                     "] /Resources << /Font << /F1 4 0 R >> >> >>")
      .Object(4, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (size_t i = 0; i < contents.size(); ++i)
    b.Stream(static_cast<int>(10 + i), contents[i].first, contents[i].second);
  return b.Build("/Root 1 0 R");
}

}  // namespace

#ifdef PW_CONVERT_EXE

TEST(Recompress, ParametersOfNoFilterDoNotReachTheNewOne) {
  // Predictor parameters on a stream without /Filter (and beyond the filters of an
  // array) belong to no filter; once Flate is put in front they must not apply to it.
  const std::string file = TextPages({
      {"/DecodeParms << /Predictor 12 /Columns 4 >>", "BT /F1 24 Tf 72 700 Td (Parameters of no filter) Tj ET"},
      {"/Filter [/ASCIIHexDecode] /DecodeParms [null << /Predictor 12 /Columns 4 >>]",
       "4254202F46312032342054662037322036303020546420285365636F6E64206C696E652920546A204554>"},
  });
  const std::string source = ksfixture::WriteTempFile("recompress-src.pdf", file);
  const std::string output = ksfixture::WriteTempFile("recompress-out.pdf", "");
  for (const char* method : {"flate", "runlength"}) {
    RunResult convert =
        Shell(std::string(PW_CONVERT_EXE) + " --compress=" + method + " " + Quote(source) + " " + Quote(output));
    ASSERT_EQ(convert.status, 0) << method;
    const std::string text = Shell("pdftotext " + Quote(source) + " - 2>&1").out;
    EXPECT_NE(text.find("Parameters of no filter"), std::string::npos) << text;
    EXPECT_EQ(Shell("pdftotext " + Quote(output) + " - 2>&1").out, text) << method;
    const std::string pixels = Shell("pdftoppm -r 30 -gray " + Quote(source) + " 2>&1").out;
    EXPECT_EQ(pixels.substr(0, 2), "P5");  // one grey page on stdout
    EXPECT_EQ(Shell("pdftoppm -r 30 -gray " + Quote(output) + " 2>&1").out, pixels) << method;
    // And qpdf reads every stream of the output without a complaint.
    EXPECT_EQ(Shell("qpdf --check " + Quote(output) + " >/dev/null 2>&1; echo $?").out, "0\n") << method;
  }
}

#endif
