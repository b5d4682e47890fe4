// --stamp as other readers see the result: text extracted by pdftotext and mutool, fonts
// listed by pdffonts, subsets opened by fontTools, pages rendered by pdftoppm.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
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

// Each test's files in a folder of their own.
class TempDir : public ksshell::TempDir {
 public:
  TempDir() : ksshell::TempDir("pw-stamp-") {}
};

struct CliRun {
  int status = -1;
  std::string err;
};

// env: assignments put before the command ("LC_ALL=... ").
CliRun Convert(const TempDir& dir, const std::string& args, const std::string& env = "") {
  const std::string err = dir.Path("stderr.txt");
  CliRun r;
  r.status = Shell(env + std::string(PW_CONVERT_EXE) + " " + args + " 2>" + Quote(err)).status;
  r.err = ksfixture::ReadFile(err);
  return r;
}

std::string Stream(const std::string& data) {
  return "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// count pages of 300 x 200 points, each with its number drawn in Helvetica; pageEntries
// are added to every page.
std::string Numbered(int count, const std::string& pageEntries = "/MediaBox [0 0 300 200]") {
  PdfBuilder b;
  std::string kids;
  for (int i = 0; i < count; ++i) {
    b.Object(100 + i, "<< /Type /Page /Parent 2 0 R " + pageEntries + " /Resources << /Font << /H 5 0 R >> >> /Contents " +
                          std::to_string(200 + i) + " 0 R >>");
    b.Object(200 + i, Stream("BT /H 10 Tf 20 20 Td (Original " + std::to_string(i + 1) + ") Tj ET"));
    kids += std::to_string(100 + i) + " 0 R ";
  }
  b.Object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>");
  return b.Build("/Root 1 0 R");
}

std::string PageText(const std::string& pdf, int page) {
  return Shell("pdftotext -f " + std::to_string(page) + " -l " + std::to_string(page) + " " + Quote(pdf) + " -").out;
}

// pdffonts' lines after its header.
std::vector<std::string> Fonts(const std::string& pdf) {
  std::vector<std::string> lines;
  std::string out = Shell("pdffonts " + Quote(pdf)).out;
  size_t at = 0;
  int n = 0;
  while (at < out.size()) {
    const size_t end = out.find('\n', at);
    if (n++ >= 2) lines.push_back(out.substr(at, end - at));
    at = end == std::string::npos ? out.size() : end + 1;
  }
  return lines;
}

// The box of the non-white pixels of a page rendered at 72 dpi, in pixels from the top left.
struct Box {
  int x1 = 1 << 30, y1 = 1 << 30, x2 = -1, y2 = -1;
  int width() const { return x2 - x1 + 1; }
  int height() const { return y2 - y1 + 1; }
  double cx() const { return (x1 + x2) / 2.0; }
  double cy() const { return (y1 + y2) / 2.0; }
};
struct Raster {
  int width = 0, height = 0;
  std::string pixels;
  Box Ink(int threshold = 200) const {
    Box b;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        const int v = std::min({uint8_t(pixels[i]), uint8_t(pixels[i + 1]), uint8_t(pixels[i + 2])});
        if (v < threshold) b = {std::min(b.x1, x), std::min(b.y1, y), std::max(b.x2, x), std::max(b.y2, y)};
      }
    return b;
  }
  int Darkest() const {
    int d = 255;
    for (unsigned char c : pixels) d = std::min<int>(d, c);
    return d;
  }
};
Raster Render(const TempDir& dir, const std::string& pdf, int page) {
  static int counter = 0;
  const std::string prefix = dir.Path("r" + std::to_string(counter++));
  Shell("pdftoppm -r 72 -cropbox -f " + std::to_string(page) + " -l " + std::to_string(page) + " -singlefile " + Quote(pdf) +
        " " + Quote(prefix) + " 2>/dev/null");
  const std::string bytes = ksfixture::ReadFile(prefix + ".ppm");
  Raster r;
  int maxval = 0, used = 0;
  if (std::sscanf(bytes.c_str(), "P6 %d %d %d%n", &r.width, &r.height, &maxval, &used) == 3)
    r.pixels = bytes.substr(static_cast<size_t>(used) + 1);
  return r;
}

// A blank page of 300 x 200 points (with the entries given).
std::string Blank(const std::string& pageEntries = "/MediaBox [0 0 300 200]") {
  PdfBuilder b;
  b.Object(3, "<< /Type /Page /Parent 2 0 R " + pageEntries + " >>");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  return b.Build("/Root 1 0 R");
}

}  // namespace

TEST(StampCli, PageNumbersOnTheListedPagesOnly) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Numbered(5)), out = dir.Path("out.pdf");
  CliRun r = Convert(dir, "--stamp='Page <%PageNo%> of <%TotPage%>' --pages=2-3 -- " + Quote(in) + " " + Quote(out));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Shell("qpdf --check " + Quote(out) + " >/dev/null 2>&1").status, 0);
  EXPECT_THAT(PageText(out, 2), HasSubstr("Page 2 of 5"));
  EXPECT_THAT(PageText(out, 3), HasSubstr("Page 3 of 5"));
  for (int p : {1, 4, 5}) EXPECT_EQ(PageText(out, p), PageText(in, p)) << p;

  const std::string lower = dir.Path("lower.pdf");
  ASSERT_EQ(Convert(dir, "--stamp='<%pageno%>/<%Client%>' -- " + Quote(in) + " " + Quote(lower)).status, 0);
  EXPECT_THAT(PageText(lower, 4), HasSubstr("4/<%Client%>"));
  const std::string vars = dir.Path("vars.pdf");
  ASSERT_EQ(Convert(dir, "--stamp='<%Client%>: <%Other%>' --var=Client=ACME -- " + Quote(in) + " " + Quote(vars)).status, 0);
  EXPECT_THAT(PageText(vars, 1), HasSubstr("ACME: <%Other%>"));
}

TEST(StampCli, DatesFollowTheSourceDateEpoch) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Numbered(1)), out = dir.Path("out.pdf");
  const std::string convert = std::string(PW_CONVERT_EXE);
  ASSERT_EQ(Shell("SOURCE_DATE_EPOCH=0 TZ=UTC LC_ALL=C " + convert + " --stamp='on <%ShortDate%>' -- " + Quote(in) +
                  " " + Quote(out))
                .status,
            0);
  EXPECT_THAT(PageText(out, 1), HasSubstr("on 1/1/70"));
}

TEST(StampCli, FontsAsAnotherReaderListsThem) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Numbered(1));
  struct Case {
    std::string options;
    std::string name, type, encoding, emb, sub, uni;
  } cases[] = {
      {"", "Arial", "TrueType", "WinAnsi", "no", "no", "no"},
      {"--embed=full", "Arial", "TrueType", "WinAnsi", "yes", "no", "no"},
      {"--embed=subset", "+Arial", "TrueType", "WinAnsi", "yes", "yes", "no"},
      {"--font='Nimbus Sans'", "NimbusSans", "Type 1", "WinAnsi", "no", "no", "no"},
      // CFF outlines: the bare CFF font before 1.6 (the OpenType program from 1.6).
      {"--font='Nimbus Sans' --embed=full", "NimbusSans", "Type 1C", "WinAnsi", "yes", "no", "no"},
      {"--font='Nimbus Sans' --embed=subset", "+NimbusSans", "Type 1C", "WinAnsi", "yes", "yes", "no"},
  };
  for (const Case& c : cases) {
    const std::string out = dir.Path("out.pdf");
    CliRun r = Convert(dir, "--stamp=Stamp " + c.options + " -- " + Quote(in) + " " + Quote(out));
    ASSERT_EQ(r.status, 0) << c.options << r.err;
    std::vector<std::string> fonts = Fonts(out);
    // A subset's name ("+Face") follows a tag of six capitals.
    const auto named = [&](const std::string& l) {
      if (c.name[0] != '+') return l.rfind(c.name + " ", 0) == 0;
      return l.size() > 7 && std::all_of(l.begin(), l.begin() + 6, [](char ch) { return ch >= 'A' && ch <= 'Z'; }) &&
             l.compare(6, c.name.size() + 1, c.name + " ") == 0;
    };
    auto it = std::find_if(fonts.begin(), fonts.end(), named);
    ASSERT_NE(it, fonts.end()) << c.options << "\n" << Shell("pdffonts " + Quote(out)).out;
    char name[128], type[64], encoding[64], emb[8], sub[8], uni[8];
    std::string line = *it;
    // "Type 1" and "CID TrueType" hold a blank; pdffonts' columns are fixed.
    ASSERT_GE(line.size(), 80u);
    std::sscanf(line.substr(0, 37).c_str(), "%127s", name);
    const std::string typeText = line.substr(37, 17), encText = line.substr(54, 17);
    std::sscanf(line.substr(71).c_str(), "%7s %7s %7s", emb, sub, uni);
    EXPECT_THAT(typeText, HasSubstr(c.type)) << c.options;
    EXPECT_THAT(encText, HasSubstr(c.encoding)) << c.options;
    EXPECT_EQ(std::string(emb), c.emb) << c.options;
    EXPECT_EQ(std::string(sub), c.sub) << c.options;
    (void)type, (void)encoding, (void)uni;
  }
}

TEST(StampCli, CyrillicTextIsACompositeFontThatReadersExtract) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Numbered(1)), out = dir.Path("out.pdf");
  CliRun r = Convert(dir, "--stamp='Привет, мир' -- " + Quote(in) + " " + Quote(out));
  ASSERT_EQ(r.status, 3) << "composite fonts are embedded though not asked for: " << r.err;
  EXPECT_THAT(r.err, HasSubstr("embedded"));
  const std::string fonts = Shell("pdffonts " + Quote(out)).out;
  EXPECT_THAT(fonts, HasSubstr("CID TrueType      Identity-H       yes no  yes"));
  EXPECT_THAT(PageText(out, 1), HasSubstr("Привет, мир"));
  EXPECT_THAT(Shell("mutool draw -q -F txt -o - " + Quote(out) + " 2>/dev/null").out, HasSubstr("Привет, мир"));
  EXPECT_EQ(Shell("qpdf --check " + Quote(out) + " >/dev/null 2>&1").status, 0);
}

TEST(StampCli, SubsetsHoldEveryPagesGlyphsAndOpenInFontTools) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Numbered(12)), out = dir.Path("out.pdf");
  ASSERT_EQ(Convert(dir, "--stamp='Page <%PageNo%>' --embed=subset -- " + Quote(in) + " " + Quote(out)).status, 0);
  for (int p : {1, 7, 10, 12}) EXPECT_THAT(PageText(out, p), HasSubstr("Page " + std::to_string(p))) << p;
  Shell("cd " + Quote(dir.Path("")) + " && mutool extract " + Quote(out) + " >/dev/null 2>&1");
  std::string font;
  for (const auto& e : fs::directory_iterator(dir.Path("")))
    if (e.path().extension() == ".ttf") font = e.path().string();
  ASSERT_FALSE(font.empty()) << "mutool extracted no TrueType font";
  // Checksums checked; outlines for exactly the characters "Page 0123456789" (and .notdef).
  const std::string script =
      "import sys\n"
      "from fontTools.ttLib import TTFont\n"
      "f = TTFont(sys.argv[1], checkChecksums=2)\n"
      "glyf = f['glyf']\n"
      "drawn = sorted(n for n in f.getGlyphOrder() if glyf[n].numberOfContours != 0)\n"
      "cmap = f.getBestCmap()\n"
      "chars = ''.join(sorted(chr(c) for c, n in cmap.items() if n in drawn))\n"
      "print(sorted(f.keys()))\n"
      "print(repr(chars))\n";
  dir.File("check.py", script);
  ksshell::RunResult check = Shell("/usr/bin/python3 " + Quote(dir.Path("check.py")) + " " + Quote(font) + " 2>&1");
  ASSERT_EQ(check.status, 0) << check.out;
  EXPECT_THAT(check.out, HasSubstr("'0123456789Paeg'"));
  EXPECT_THAT(check.out, HasSubstr("'cmap'"));
  EXPECT_THAT(check.out, HasSubstr("'hmtx'"));
}

TEST(StampCli, PlaceholderValuesInAnyScriptAreDrawn) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Numbered(2));
  struct Case {
    std::string env, options, text;
  } cases[] = {
      {"", "--title='Привет мир' --stamp='Title: <%Title%>'", "Title: Привет мир"},
      {"", "--stamp='Client <%Client%>' --var=Client=Ωμέγα", "Client Ωμέγα"},
      {"SOURCE_DATE_EPOCH=1700000000 TZ=UTC LC_ALL=ru_RU.UTF-8 ", "--stamp='<%LongDate%>'", "14 ноября 2023 г."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string out = dir.Path("out.pdf");
    CliRun r = Convert(dir, c.options + " --embed=subset -- " + Quote(in) + " " + Quote(out), c.env);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (int page : {1, 2}) EXPECT_EQ(PageText(out, page), c.text + "\n\nOriginal " + std::to_string(page) + "\n\n\f");
    EXPECT_THAT(Shell("mutool draw -q -F txt -o - " + Quote(out) + " 2>/dev/null").out, HasSubstr(c.text));
  }
}

TEST(StampCli, EnglishTimesKeepTheirSpace) {
  // The locale's short time holds a narrow no-break space, which WinAnsi lacks.
  TempDir dir;
  const std::string in = dir.File("in.pdf", Numbered(1)), out = dir.Path("out.pdf");
  CliRun r = Convert(dir, "--stamp='at <%ShortTime%>' -- " + Quote(in) + " " + Quote(out),
                     "SOURCE_DATE_EPOCH=1700000000 TZ=UTC LC_ALL=en_US.UTF-8 ");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(PageText(out, 1), HasSubstr("at 10:13 PM\n"));
  EXPECT_THAT(Shell("pdffonts " + Quote(out)).out, HasSubstr("TrueType          WinAnsi"));
}

namespace {

// Opens an embedded font program as fontTools reads it (checksums checked); every
// component of a composite glyph must be there with its outline. Prints the glyph count.
constexpr const char* kOpenProgram = R"(import io, sys
from fontTools.ttLib import TTFont
from fontTools.cffLib import CFFFontSet
data = open(sys.argv[1], 'rb').read()
if data[:4] in (b'\x00\x01\x00\x00', b'OTTO', b'true'):
    f = TTFont(sys.argv[1], checkChecksums=2)
    if 'glyf' in f:
        glyf = f['glyf']
        for name in f.getGlyphOrder():
            if glyf[name].isComposite():
                for part in glyf[name].components:
                    assert glyf[part.glyphName].numberOfContours != 0, (name, part.glyphName)
    else:
        f['CFF '].cff[0].CharStrings
    print('glyphs', f['maxp'].numGlyphs)
else:
    cff = CFFFontSet()
    cff.decompile(io.BytesIO(data), None)
    print('glyphs', len(cff[cff.fontNames[0]].CharStrings))
)";

// The font programs mutool takes out of pdf.
std::vector<std::string> ExtractedPrograms(const TempDir& dir, const std::string& pdf, const std::string& folder) {
  const std::string at = dir.Path(folder);
  fs::create_directories(at);
  Shell("cd " + Quote(at) + " && mutool extract " + Quote(pdf) + " >/dev/null 2>&1");
  std::vector<std::string> programs;
  for (const auto& e : fs::directory_iterator(at))
    if (e.path().filename().string().rfind("font-", 0) == 0) programs.push_back(e.path().string());
  return programs;
}

}  // namespace

TEST(StampCli, SubsetsOfEveryFaceAreSmallValidAndDrawAsTheWholeFont) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Blank());
  dir.File("open.py", kOpenProgram);
  struct Case {
    std::string text, options, type;
    size_t limit;  // bytes of the program; 0: none
    std::string version = "";
  } cases[] = {
      {"Hello World", "", "TrueType", 0},
      {"Привет мир", "", "CID TrueType", 10 * 1024},
      {"Ёлка й", "", "CID TrueType", 10 * 1024},  // composite glyphs
      {"中文字体测", "--font='Droid Sans Fallback'", "CID TrueType", 20 * 1024},
      {"Hello", "--font='Nimbus Sans'", "Type 1C", 0},
      {"Hello", "--font='Nimbus Sans'", "Type 1C (OT)", 0, "--pdf-version=1.6 "},
      {"Hello Привет", "--font='Nimbus Sans'", "CID Type 0C", 0},
      {"Hello Привет", "--font='Nimbus Sans'", "CID Type 0C (OT)", 0, "--pdf-version=1.7 "},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " " + c.options);
    const std::string subset = dir.Path("subset" + std::to_string(n) + ".pdf");
    const std::string whole = dir.Path("whole" + std::to_string(n) + ".pdf");
    for (const auto& [out, embed] : {std::pair{subset, "subset"}, {whole, "full"}}) {
      CliRun r = Convert(dir, c.version + "--stamp='" + c.text + "' --size=20 " + c.options + " --embed=" + embed +
                                  " -- " + Quote(in) + " " + Quote(out));
      ASSERT_EQ(r.status, 0) << r.err;
    }
    EXPECT_EQ(Shell("qpdf --check " + Quote(subset) + " >/dev/null 2>&1").status, 0);
    const std::vector<std::string> fonts = Fonts(subset);
    ASSERT_EQ(fonts.size(), 1u);
    EXPECT_THAT(fonts[0].substr(37, 17), HasSubstr(c.type));
    char emb[8] = "", sub[8] = "";
    std::sscanf(fonts[0].substr(71).c_str(), "%7s %7s", emb, sub);
    EXPECT_EQ(std::string(emb) + " " + sub, "yes yes");
    EXPECT_EQ(fonts[0][6], '+');
    EXPECT_EQ(PageText(subset, 1), c.text + "\n\n\f");
    EXPECT_THAT(Shell("mutool draw -q -F txt -o - " + Quote(subset) + " 2>/dev/null").out, HasSubstr(c.text));

    const std::vector<std::string> programs = ExtractedPrograms(dir, subset, "fonts" + std::to_string(n));
    ASSERT_EQ(programs.size(), 1u);
    if (c.limit) {
      EXPECT_LT(fs::file_size(programs[0]), c.limit);
    }
    const ksshell::RunResult open = Shell("/usr/bin/python3 " + Quote(dir.Path("open.py")) + " " + Quote(programs[0]) + " 2>&1");
    EXPECT_EQ(open.status, 0) << open.out;
    EXPECT_THAT(open.out, HasSubstr("glyphs "));

    // Drawn exactly as with the whole program.
    const Raster a = Render(dir, subset, 1), b = Render(dir, whole, 1);
    ASSERT_GT(a.pixels.size(), 0u);
    EXPECT_LT(a.Darkest(), 100);
    EXPECT_TRUE(a.pixels == b.pixels);
    ++n;
  }
}

TEST(StampCli, DifferentSubsetsHaveDifferentNamesEveryTime) {
  // A Western and a Cyrillic subset of the same face in one document.
  TempDir dir;
  const std::string in = dir.File("in.pdf", Numbered(1));
  std::vector<std::string> names[2];
  for (auto& run : names) {
    const std::string out = dir.Path("out.pdf");
    ASSERT_EQ(Convert(dir, "--stamp=Hello --embed=subset -- --stamp='Привет' --embed=subset --y=50 --valign=y -- " +
                               Quote(in) + " " + Quote(out))
                  .status,
              0);
    for (const std::string& line : Fonts(out))
      if (line.find("+Arial ") != std::string::npos) run.push_back(line.substr(0, line.find(' ')));
  }
  ASSERT_EQ(names[0].size(), 2u);
  EXPECT_NE(names[0][0], names[0][1]);
  EXPECT_EQ(names[0], names[1]);  // the same subsets, the same names
}

TEST(StampCli, MonospacedCompositeWidths) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Blank()), out = dir.Path("out.pdf");
  ASSERT_EQ(Convert(dir, "--stamp='Жжжж жж' --font='Courier New' --size=20 --embed=full -- " + Quote(in) + " " + Quote(out)).status, 0);
  const std::string words = Shell("pdftotext -bbox " + Quote(out) + " - | grep '<word'").out;
  double x1, x2, y1, y2;
  size_t at = words.find("xMin=\"");
  ASSERT_NE(at, std::string::npos) << words;
  ASSERT_EQ(std::sscanf(words.c_str() + at, "xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &x1, &y1, &x2, &y2), 4);
  EXPECT_NEAR(x2 - x1, 4 * 0.6 * 20, 0.5);
  at = words.find("xMin=\"", at + 1);
  ASSERT_EQ(std::sscanf(words.c_str() + at, "xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &x1, &y1, &x2, &y2), 4);
  EXPECT_NEAR(x2 - x1, 2 * 0.6 * 20, 0.5);
}

TEST(StampCli, PlacementAsRendered) {
  TempDir dir;
  const std::string plain = dir.File("plain.pdf", Blank());
  const std::string cropped = dir.File("cropped.pdf", Blank("/MediaBox [0 0 400 300] /CropBox [100 100 400 300]"));
  struct Case {
    std::string file, options;
    void (*check)(const Raster&);
  } cases[] = {
      {plain, "--halign=center --valign=middle --size=30",
       [](const Raster& r) {
         const Box b = r.Ink();
         EXPECT_NEAR(b.cx(), r.width / 2.0, 2);
         EXPECT_NEAR(b.cy(), r.height / 2.0, 2);
       }},
      {cropped, "--halign=center --valign=middle --size=30",
       [](const Raster& r) {
         ASSERT_EQ(r.width, 300);
         const Box b = r.Ink();
         EXPECT_NEAR(b.cx(), r.width / 2.0, 2);
         EXPECT_NEAR(b.cy(), r.height / 2.0, 2);
       }},
      {plain, "--angle=90 --size=30 --halign=center --valign=middle",
       [](const Raster& r) {
         const Box b = r.Ink();
         EXPECT_GT(b.height(), b.width());
         EXPECT_NEAR(b.cy(), r.height / 2.0, 2);
       }},
      // A page turned on screen: centred as shown, and reading left to right there.
      {dir.File("turned.pdf", Blank("/MediaBox [0 0 300 200] /Rotate 90")), "--halign=center --valign=middle --size=30",
       [](const Raster& r) {
         ASSERT_EQ(r.width, 200);
         const Box b = r.Ink();
         EXPECT_GT(b.width(), b.height());
         EXPECT_NEAR(b.cx(), r.width / 2.0, 2);
         EXPECT_NEAR(b.cy(), r.height / 2.0, 2);
       }},
      {plain, "--opacity=50 --size=60",
       [](const Raster& r) {
         EXPECT_GT(r.Darkest(), 100);
         EXPECT_LT(r.Darkest(), 160);
       }},
      {plain, "--vertical --size=20",
       [](const Raster& r) {
         const Box b = r.Ink();
         EXPECT_GT(b.height(), 4 * b.width());
       }},
  };
  for (const Case& c : cases) {
    const std::string out = dir.Path("out.pdf");
    CliRun run = Convert(dir, "--stamp=Stamp " + c.options + " -- " + Quote(c.file) + " " + Quote(out));
    ASSERT_EQ(run.status, 0) << c.options << run.err;
    SCOPED_TRACE(c.options);
    c.check(Render(dir, out, 1));
  }
}

TEST(StampCli, LinesAndUnderline) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Blank());
  const std::string one = dir.Path("one.pdf"), two = dir.Path("two.pdf"), under = dir.Path("under.pdf");
  ASSERT_EQ(Convert(dir, "--stamp=xxxx --size=20 -- " + Quote(in) + " " + Quote(one)).status, 0);
  ASSERT_EQ(Convert(dir, "--stamp='xxxx\\nxxxx' --size=20 -- " + Quote(in) + " " + Quote(two)).status, 0);
  ASSERT_EQ(Convert(dir, "--stamp=xxxx --size=20 --style=underline -- " + Quote(in) + " " + Quote(under)).status, 0);
  const Box a = Render(dir, one, 1).Ink(), b = Render(dir, two, 1).Ink(), u = Render(dir, under, 1).Ink();
  // The second line is one font size lower.
  EXPECT_NEAR(b.height() - a.height(), 20, 2);
  // The underline lies below the x-height letters.
  EXPECT_GT(u.y2, a.y2 + 1);
  EXPECT_EQ(u.y1, a.y1);
}

TEST(StampCli, DelimitersAreDrawnNotObeyed) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Numbered(1));
  for (const std::string extra : {"", "--vertical"}) {
    const std::string out = dir.Path("out.pdf");
    ASSERT_EQ(Convert(dir, "--stamp='a(b)c\\d) Tj' " + extra + " -- " + Quote(in) + " " + Quote(out)).status, 0);
    EXPECT_EQ(Shell("qpdf --check " + Quote(out) + " >/dev/null 2>&1").status, 0) << extra;
    std::string text = PageText(out, 1);
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    EXPECT_THAT(text, HasSubstr(extra.empty() ? "a(b)c\\d) Tj" : "a(b)c\\d)Tj")) << extra;
  }
}

TEST(StampCli, RefusalsAndWarnings) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Numbered(2)), out = dir.Path("out.pdf");
  CliRun usage = Convert(dir, "--stamp=x --halign=middle -- " + Quote(in) + " " + Quote(out));
  EXPECT_EQ(usage.status, 1);
  EXPECT_THAT(usage.err, HasSubstr("halign must be left, center, right or x"));
  CliRun open = Convert(dir, "--stamp=x " + Quote(in) + " " + Quote(out));
  EXPECT_EQ(open.status, 1);
  CliRun expert = Convert(dir, "--stamp=x --encoding=macexpert -- " + Quote(in) + " " + Quote(out));
  EXPECT_EQ(expert.status, 2);
  EXPECT_THAT(expert.err, HasSubstr("MacExpert"));
  EXPECT_FALSE(fs::exists(out));
  CliRun dropped = Convert(dir, "--stamp='x ✓' --charset=ansi -- " + Quote(in) + " " + Quote(out));
  EXPECT_EQ(dropped.status, 3);
  EXPECT_THAT(dropped.err, HasSubstr("cannot show 1 character(s)"));
}

// ---- pictures ----

namespace {

void Put16(std::string& s, uint32_t v) { s += static_cast<char>(v & 0xFF), s += static_cast<char>(v >> 8); }
void Put32(std::string& s, uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }

// A 24-bit BMP of width x 1 pixels given as RGB triples.
std::string Bmp(const std::vector<std::array<uint8_t, 3>>& row) {
  std::string pixels;
  for (const auto& p : row) pixels += {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0])};
  while (pixels.size() % 4) pixels += '\0';
  std::string s = "BM";
  Put32(s, static_cast<uint32_t>(54 + pixels.size())), Put32(s, 0), Put32(s, 54);
  Put32(s, 40), Put32(s, static_cast<uint32_t>(row.size())), Put32(s, 1), Put16(s, 1), Put16(s, 24), Put32(s, 0);
  Put32(s, static_cast<uint32_t>(pixels.size())), Put32(s, 2835), Put32(s, 2835), Put32(s, 0), Put32(s, 0);
  return s + pixels;
}

// An icon file with one square 32-bit image per (size, colour), in that order.
std::string Ico(const std::vector<std::pair<int, std::array<uint8_t, 3>>>& images) {
  std::string head, data;
  Put16(head, 0), Put16(head, 1), Put16(head, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (const auto& [size, c] : images) {
    std::string img;
    Put32(img, 40), Put32(img, size), Put32(img, 2 * size), Put16(img, 1), Put16(img, 32), Put32(img, 0);
    Put32(img, 0), Put32(img, 0), Put32(img, 0), Put32(img, 0), Put32(img, 0);
    for (int i = 0; i < size * size; ++i)
      img += {static_cast<char>(c[2]), static_cast<char>(c[1]), static_cast<char>(c[0]), static_cast<char>(255)};
    img += std::string(static_cast<size_t>(((size + 31) / 32) * 4 * size), '\0');  // the mask: all shown
    head += {static_cast<char>(size), static_cast<char>(size), 0, 0};
    Put16(head, 1), Put16(head, 32), Put32(head, static_cast<uint32_t>(img.size())), Put32(head, offset);
    offset += static_cast<uint32_t>(img.size());
    data += img;
  }
  return head + data;
}

// pdfimages -list's rows for the stamped image: width, height, colour, bits, encoding.
std::string ImageRow(const std::string& pdf) {
  return Shell("pdfimages -list " + Quote(pdf) + " 2>/dev/null | awk 'NR > 2 {print $4, $5, $6, $8, $9}'").out;
}

}  // namespace

TEST(StampImageCli, ABitmapIsAnRgbImageAtTheCorner) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Blank()), out = dir.Path("out.pdf");
  const std::string bmp = dir.File("bluered.bmp", Bmp({{0, 0, 255}, {255, 0, 0}}));
  CliRun r = Convert(dir, "--stamp-image=" + Quote(bmp) + " --pages=1 --halign=right --valign=bottom --width=60 -- " +
                              Quote(in) + " " + Quote(out));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ImageRow(out), "2 1 rgb 8 image\n");
  const std::string number = Shell("pdfimages -list " + Quote(out) + " | awk 'NR == 3 {print $11}'").out;
  EXPECT_EQ(Shell("qpdf --show-object=" + number.substr(0, number.size() - 1) + " --filtered-stream-data " + Quote(out) +
                  " | od -An -tx1")
                .out,
            " 00 00 ff ff 00 00\n");
  // 60 points wide and 30 high at the bottom right corner; blue then red.
  const Raster page = Render(dir, out, 1);
  const Box ink = page.Ink();
  EXPECT_NEAR(ink.x2, 299, 1);
  EXPECT_NEAR(ink.y2, 199, 1);
  EXPECT_NEAR(ink.width(), 60, 1);
  EXPECT_NEAR(ink.height(), 30, 1);
  const size_t left = (static_cast<size_t>(185) * page.width + 250) * 3, right = (static_cast<size_t>(185) * page.width + 290) * 3;
  EXPECT_EQ(page.pixels.substr(left, 3), std::string("\0\0\xff", 3));
  EXPECT_EQ(page.pixels.substr(right, 3), std::string("\xff\0\0", 3));
}

TEST(StampImageCli, PicturesOfEachKind) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Blank());
  dir.File("x.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='20'><rect width='40' height='20' fill='#00ff00'/></svg>");
  dir.File("two.ico", Ico({{16, {0, 0, 255}}, {32, {255, 0, 0}}}));
  struct Case {
    std::string file, row;
  } cases[] = {
      {"x.svg", "40 20 rgb 8 image\n"},
      {"two.ico", "32 32 rgb 8 image\n"},
  };
  for (const Case& c : cases) {
    const std::string out = dir.Path("out.pdf");
    CliRun r = Convert(dir, "--stamp-image=" + Quote(dir.Path(c.file)) + " -- " + Quote(in) + " " + Quote(out));
    ASSERT_EQ(r.status, 0) << c.file << r.err;
    EXPECT_EQ(ImageRow(out), c.row) << c.file;
  }
  // The icon's largest image is the red one.
  const Raster icon = Render(dir, dir.Path("out.pdf"), 1);
  EXPECT_EQ(icon.pixels.substr((static_cast<size_t>(10) * icon.width + 10) * 3, 3), std::string("\xff\0\0", 3));
}

TEST(StampImageCli, TransparentPixelsAreWhite) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Blank()), out = dir.Path("out.pdf");
  // A 2 x 1 PNG, RGBA: a transparent black pixel, an opaque green one.
  const std::string png =
      Shell("/usr/bin/python3 -c \"import struct,zlib,sys\n"
            "def c(t,d): return struct.pack('>I',len(d))+t+d+struct.pack('>I',zlib.crc32(t+d)&0xffffffff)\n"
            "raw=bytes([0,0,0,0,0,0,255,0,255])\n"
            "sys.stdout.buffer.write(b'\\x89PNG\\r\\n\\x1a\\n'+c(b'IHDR',struct.pack('>IIBBBBB',2,1,8,6,0,0,0))+"
            "c(b'IDAT',zlib.compress(raw))+c(b'IEND',b''))\" > " + Quote(dir.Path("t.png")))
          .out;
  ASSERT_EQ(Convert(dir, "--stamp-image=" + Quote(dir.Path("t.png")) + " -- " + Quote(in) + " " + Quote(out)).status, 0);
  const std::string number = Shell("pdfimages -list " + Quote(out) + " | awk 'NR == 3 {print $11}'").out;
  EXPECT_EQ(Shell("qpdf --show-object=" + number.substr(0, number.size() - 1) + " --filtered-stream-data " + Quote(out) +
                  " | od -An -tx1")
                .out,
            " ff ff ff 00 ff 00\n");
}

TEST(StampImageCli, RefusedPicturesWriteNothing) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Blank()), out = dir.Path("out.pdf");
  std::string emf(88, '\0');
  emf[0] = 1;
  emf.replace(40, 4, " EMF");
  // A real JPEG whose frame header is then made to claim 65500 x 65500 pixels.
  Shell("pdftoppm -r 10 -jpeg -singlefile " + Quote(in) + " " + Quote(dir.Path("small")));
  std::string jpeg = ksfixture::ReadFile(dir.Path("small.jpg"));
  const size_t sof = jpeg.find("\xff\xc0");
  ASSERT_NE(sof, std::string::npos);
  jpeg.replace(sof + 5, 4, "\xff\xdc\xff\xdc");
  dir.File("huge.jpg", jpeg);
  // The same JPEG made progressive, claiming 16384 x 16384: its coefficients alone
  // would take gigabytes.
  Shell("pdftoppm -r 10 -jpeg -jpegopt progressive=y -singlefile " + Quote(in) + " " + Quote(dir.Path("prog")));
  std::string progressive = ksfixture::ReadFile(dir.Path("prog.jpg"));
  const size_t sof2 = progressive.find("\xff\xc2");
  ASSERT_NE(sof2, std::string::npos);
  progressive.replace(sof2 + 5, 4, std::string("\x40\x00\x40\x00", 4));
  dir.File("progressive.jpg", progressive);
  std::string bmp = Bmp({{0, 0, 255}, {255, 0, 0}});
  fs::create_directory(dir.Path("folder.png"));
  struct Case {
    std::string file, bytes, message;
  } cases[] = {
      {"notes.txt", "hello", "Unsupported image format (TXT)"},
      {"picture.emf", emf, "Unsupported image format (EMF)"},
      {"huge.jpg", "", "The picture is too large: 65500 x 65500 pixels"},
      {"progressive.jpg", "", "The picture is too large: 16384 x 16384 pixels take"},
      {"huge.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='16384' height='16384'/>", "The picture is too large"},
      {"zero.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='0' height='10'/>", "The picture has no pixels (0 x 10)"},
      {"empty.bmp", bmp.substr(0, 54), "The picture holds no pixel data"},
      {"folder.png", "", "it is a folder, not a picture file"},
  };
  for (const Case& c : cases) {
    if (!c.bytes.empty()) dir.File(c.file, c.bytes);
    const std::string peak = dir.Path("time.txt");
    const std::string command = "/usr/bin/time -f %M -o " + Quote(peak) + " " + std::string(PW_CONVERT_EXE) +
                                " --stamp-image=" + Quote(dir.Path(c.file)) + " -- " + Quote(in) + " " + Quote(out);
    ksshell::RunResult r = Shell(command + " 2>&1");
    EXPECT_EQ(r.status, 2) << c.file;
    EXPECT_THAT(r.out, HasSubstr(c.message)) << c.file;
    EXPECT_THAT(r.out, testing::Not(HasSubstr("CRITICAL"))) << c.file;
    EXPECT_FALSE(fs::exists(out)) << c.file;
    // time writes "Command exited with non-zero status 2" before the figure.
    std::string figures = ksfixture::ReadFile(peak);
    while (!figures.empty() && figures.back() == '\n') figures.pop_back();
    const std::string kilobytes = figures.substr(figures.rfind('\n') == std::string::npos ? 0 : figures.rfind('\n') + 1);
    ASSERT_FALSE(kilobytes.empty()) << figures;
    EXPECT_LT(std::stol(kilobytes), 200 * 1024) << c.file << ": peak KB";
  }
}

// A picture cut short is drawn as far as it was read, with a warning and exit status 3.
TEST(StampImageCli, APictureCutShortIsAWarning) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Blank()), out = dir.Path("out.pdf");
  Shell("pdftoppm -r 72 -jpeg -singlefile " + Quote(dir.File("page.pdf", Numbered(1))) + " " + Quote(dir.Path("page")));
  const std::string jpeg = ksfixture::ReadFile(dir.Path("page.jpg"));
  ASSERT_GT(jpeg.size(), 1000u);
  const std::string cut = dir.File("cut.jpg", jpeg.substr(0, jpeg.size() - 200));
  CliRun r = Convert(dir, "--stamp-image=" + Quote(cut) + " -- " + Quote(in) + " " + Quote(out));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_THAT(r.err, HasSubstr("is damaged; it was drawn as far as it could be read"));
  EXPECT_THAT(r.err, HasSubstr("Premature end of JPEG file"));
  EXPECT_EQ(ImageRow(out), "300 200 rgb 8 image\n");
}

TEST(FormattedTextCli, RunsOnOneLineAsAReaderSeesThem) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Blank()), out = dir.Path("out.pdf");
  CliRun r = Convert(dir, "--formatted-text='<B>Bold</B> and <font size=\"24\" color=\"red\">big</font> <BR></FONT>' "
                          "--x=72 --y=72 --unit=points --pages=1 -- " + Quote(in) + " " + Quote(out));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string fonts = Shell("pdffonts " + Quote(out)).out;
  EXPECT_THAT(fonts, HasSubstr("Arial,Bold "));
  EXPECT_THAT(fonts, HasSubstr("\nArial "));
  // Words with their boxes, in order.
  struct Word {
    std::string text;
    double x1, y1, x2, y2;
  };
  std::vector<Word> words;
  const std::string xml = Shell("pdftotext -bbox " + Quote(out) + " -").out;
  for (size_t at = 0; (at = xml.find("<word ", at)) != std::string::npos; ++at) {
    Word w;
    char text[64] = "";
    if (std::sscanf(xml.c_str() + at, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\">%63[^<]", &w.x1, &w.y1,
                    &w.x2, &w.y2, text) == 5)
      words.push_back({text, w.x1, w.y1, w.x2, w.y2});
  }
  ASSERT_EQ(words.size(), 4u) << xml;
  EXPECT_EQ(words[0].text, "Bold");
  EXPECT_EQ(words[1].text, "and");
  EXPECT_EQ(words[2].text, "big");
  EXPECT_EQ(words[3].text, "&lt;BR&gt;");
  // "big" starts where "and " ends: the space is a quarter of 12 points and a little more.
  EXPECT_NEAR(words[2].x1, words[1].x2 + 0.278 * 12, 1);
  EXPECT_NEAR(words[2].y2, words[1].y2, 0.5);
  EXPECT_NEAR(words[0].x1, 72, 0.5);
  // Red inside "big".
  const Raster page = Render(dir, out, 1);
  bool red = false;
  for (int y = static_cast<int>(words[2].y1); y < static_cast<int>(words[2].y2) && !red; ++y)
    for (int x = static_cast<int>(words[2].x1); x < static_cast<int>(words[2].x2) && !red; ++x) {
      const size_t i = (static_cast<size_t>(y) * page.width + x) * 3;
      red = uint8_t(page.pixels[i]) > 200 && uint8_t(page.pixels[i + 1]) < 60 && uint8_t(page.pixels[i + 2]) < 60;
    }
  EXPECT_TRUE(red);

  CliRun bad = Convert(dir, "--formatted-text='<FONT SIZE=\"x\">a' -- " + Quote(in) + " " + Quote(out + "2"));
  EXPECT_EQ(bad.status, 2);
  EXPECT_THAT(bad.err, HasSubstr("'x' is not a valid integer value"));
}
