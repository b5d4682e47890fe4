// The converter's page options on hand-made files: transitions as qpdf reads them,
// range errors, --page-info, and content put on pages as pdftoppm renders it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
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
  TempDir() : ksshell::TempDir("pw-pages-") {}
};

struct CliRun {
  int status = -1;
  std::string out, err;
};

// The converter with the arguments as one shell text.
CliRun Convert(const TempDir& dir, const std::string& args) {
  const std::string err = dir.Path("stderr.txt");
  CliRun r;
  ksshell::RunResult s = Shell(std::string(PW_CONVERT_EXE) + " " + args + " 2>" + Quote(err));
  r.status = s.status;
  r.out = s.out;
  r.err = ksfixture::ReadFile(err);
  return r;
}

int QpdfCheck(const std::string& pdf) { return Shell("qpdf --check " + Quote(pdf) + " >/dev/null 2>&1").status; }

std::string Stream(const std::string& data) {
  return "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// Catalog 1, page tree 2 over the pages; each page dictionary is given without /Type
// and /Parent, and objects beyond the pages are added as they are.
std::string Pages(const std::vector<std::string>& pages, const std::vector<std::pair<int, std::string>>& objects,
                  const std::string& treeEntries = "/MediaBox [0 0 400 400]") {
  PdfBuilder b;
  std::string kids;
  for (size_t i = 0; i < pages.size(); ++i) {
    const int n = 100 + static_cast<int>(i);
    b.Object(n, "<< /Type /Page /Parent 2 0 R " + pages[i] + " >>");
    kids += std::to_string(n) + " 0 R ";
  }
  for (const auto& [n, body] : objects) b.Object(n, body);
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " " + treeEntries + " >>");
  return b.Build("/Root 1 0 R");
}

std::string FivePages() {
  std::vector<std::string> pages;
  std::vector<std::pair<int, std::string>> objects;
  for (int i = 0; i < 5; ++i) {
    pages.push_back("/Contents " + std::to_string(10 + i) + " 0 R");
    objects.push_back({10 + i, Stream("0 0 1 rg 50 50 100 100 re f")});
  }
  return Pages(pages, objects);
}

// ---- rendering ----

struct Rgb {
  int r, g, b;
};

// Page pageNo rendered at 72 dpi: one pixel per point.
class Render {
 public:
  // By pdftoppm, or by mutool with mupdf.
  Render(const TempDir& dir, const std::string& pdf, int pageNo, bool mupdf = false) {
    const std::string prefix = dir.Path("render-" + std::to_string(counter_++));
    if (mupdf)
      Shell("mutool draw -q -r 72 -F ppm -o " + Quote(prefix + ".ppm") + " " + Quote(pdf) + " " +
            std::to_string(pageNo) + " 2>/dev/null");
    else
      Shell("pdftoppm -r 72 -f " + std::to_string(pageNo) + " -l " + std::to_string(pageNo) + " -singlefile " +
            Quote(pdf) + " " + Quote(prefix) + " 2>/dev/null");
    bytes_ = ksfixture::ReadFile(prefix + ".ppm");
    int maxval = 0, used = 0;
    if (std::sscanf(bytes_.c_str(), "P6 %d %d %d%n", &width_, &height_, &maxval, &used) == 3) pixels_ = used + 1;
  }
  bool ok() const { return pixels_ > 0 && bytes_.size() >= static_cast<size_t>(pixels_ + width_ * height_ * 3); }
  const std::string& bytes() const { return bytes_; }
  // The pixel at (x, y) in the page's own coordinates (origin bottom left).
  Rgb At(int x, int y) const {
    const size_t i = static_cast<size_t>(pixels_) + (static_cast<size_t>(height_ - 1 - y) * width_ + x) * 3;
    return {static_cast<uint8_t>(bytes_[i]), static_cast<uint8_t>(bytes_[i + 1]), static_cast<uint8_t>(bytes_[i + 2])};
  }

 private:
  static inline int counter_ = 0;
  std::string bytes_;
  int width_ = 0, height_ = 0, pixels_ = 0;
};

testing::AssertionResult Near(Rgb got, Rgb want) {
  if (std::abs(got.r - want.r) <= 3 && std::abs(got.g - want.g) <= 3 && std::abs(got.b - want.b) <= 3)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "(" << got.r << "," << got.g << "," << got.b << ") where (" << want.r << ","
                                     << want.g << "," << want.b << ") was wanted";
}

constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kWhite{255, 255, 255}, kBlack{0, 0, 0};
const char* const kRedSquare = "1 0 0 rg 100 100 200 200 re f";

}  // namespace

// ---- transitions ----

TEST(PageOptions, TransitionOnTheListedPagesAsQpdfReadsIt) {
  TempDir dir;
  const std::string in = dir.File("five.pdf", FivePages()), out = dir.Path("out.pdf");
  CliRun r = Convert(dir, "--transition=dissolve --transition-duration=2 --transition-pages=2,4 " + Quote(in) + " " + Quote(out));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(QpdfCheck(out), 0);
  const std::string perPage =
      Shell("qpdf --json=2 --json-key=pages --json-key=qpdf " + Quote(out) +
            " | jq -c '[.pages[].object as $p | .qpdf[1][\"obj:\" + $p].value | [.[\"/Dur\"], .[\"/Trans\"]]]'")
          .out;
  const std::string set = "[2,{\"/D\":2,\"/S\":\"/Dissolve\",\"/Type\":\"/Trans\"}]";
  EXPECT_EQ(perPage, "[[null,null]," + set + ",[null,null]," + set + ",[null,null]]\n");

  // By number, on every page.
  CliRun all = Convert(dir, "--transition=9 " + Quote(in) + " " + Quote(dir.Path("wipe.pdf")));
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(Shell("qpdf --json=2 --json-key=pages --json-key=qpdf " + Quote(dir.Path("wipe.pdf")) +
                  " | jq -c '[.pages[].object as $p | .qpdf[1][\"obj:\" + $p].value[\"/Trans\"][\"/Di\"]]'")
                .out,
            "[0,0,0,0,0]\n");
}

// ---- refusals ----

TEST(PageOptions, RangeErrorsFailWithTheMessageAndNoOutput) {
  TempDir dir;
  const std::string in = dir.File("five.pdf", FivePages());
  dir.File("red.txt", kRedSquare);
  struct Case {
    std::string range, message;
  } cases[] = {
      {"3-2", "Invalid page range (3-2)"},
      {"6", "Invalid page number (6)"},
      {"a", "Invalid page range (a)"},
      {"1-2147483647", "Invalid page range (1-2147483647)"},
  };
  for (const Case& c : cases) {
    for (const std::string& options : {"--transition=dissolve --transition-pages=" + Quote(c.range),
                                       "--add-content=" + Quote(dir.Path("red.txt")) + " --pages=" + Quote(c.range) + " --"}) {
      const std::string out = dir.Path("out.pdf");
      CliRun r = Convert(dir, options + " " + Quote(in) + " " + Quote(out));
      EXPECT_EQ(r.status, 2) << options;
      EXPECT_EQ(r.err, "pagewright-convert: " + c.message + "\n") << options;
      EXPECT_FALSE(fs::exists(out)) << options;
    }
    CliRun info = Convert(dir, "--info --page-info=" + Quote(c.range) + " " + Quote(in));
    EXPECT_EQ(info.status, 2) << c.range;
    EXPECT_EQ(info.err, c.message + "\n");
    EXPECT_EQ(info.out, "") << "nothing is printed before the range is known";
  }
}

TEST(PageOptions, ValuesTheEngineRefusesFailBeforeAnythingIsWritten) {
  TempDir dir;
  const std::string in = dir.File("five.pdf", FivePages()), out = dir.Path("out.pdf");
  const std::string broken = dir.File("broken.txt", "0 0 1 rg\r\n1 0 0 RG (a (b) Tj\n");
  struct Case {
    std::string options, message;
  } cases[] = {
      // Beneath the page, the open string would swallow the page's own content.
      {"--add-content=" + Quote(broken) + " --underlay --",
       "The content operators do not parse at line 2, column 10: a string is not closed; no page was changed"},
      {"--transition=1 --transition-duration=-1",
       "Invalid transition duration (-1): it must be a finite number of seconds, 0 or more"},
      {"--transition=1 --transition-duration=1e300",
       "Invalid transition duration (Infinity): it must be a finite number of seconds, 0 or more"},
      {"--add-content=" + Quote(dir.Path("missing.txt")) + " --",
       "cannot read content file \"" + dir.Path("missing.txt") + "\": No such file or directory"},
  };
  for (const Case& c : cases) {
    CliRun r = Convert(dir, c.options + " " + Quote(in) + " " + Quote(out));
    EXPECT_EQ(r.status, 2) << c.options;
    EXPECT_EQ(r.err, "pagewright-convert: " + c.message + "\n") << c.options;
    EXPECT_FALSE(fs::exists(out)) << c.options;
  }
}

TEST(PageOptions, WrongUsageIsExitOne) {
  TempDir dir;
  const std::string in = dir.File("five.pdf", FivePages()), out = dir.Path("out.pdf");
  struct Case {
    std::string options, message;
  } cases[] = {
      {"--transition=fade", "unknown transition 'fade' (0-16 or none, split-horizontal-inward"},
      {"--transition=17", "unknown transition '17'"},
      {"--transition-duration=2", "--transition-duration and --transition-pages go with --transition=EFFECT"},
      {"--transition=1 --transition-duration=two", "transition duration must be a number of seconds, not 'two'"},
      {"--unit=furlongs", "unknown unit 'furlongs' (pixels, points, inches, mm, twips)"},
      {"--pages=1", "'--pages=1' belongs to an --add-content=FILE ... -- group"},
      {"--add-content=x.txt --pages=1", "the options of --add-content=x.txt end with --"},
      {"--add-content=x.txt --quiet --", "'--quiet' is not an option of --add-content; end its options with --"},
      {"--add-content=x.txt --opacity=half --", "--opacity must be a number of percent, 0..100, not 'half'"},
      {"--add-content=x.txt --offset=1 --", "--offset must be X,Y (two numbers), not '1'"},
      {"--add-content=", "--add-content needs a file name"},
  };
  for (const Case& c : cases) {
    CliRun r = Convert(dir, c.options + " " + Quote(in) + " " + Quote(out));
    EXPECT_EQ(r.status, 1) << c.options;
    EXPECT_THAT(r.err, HasSubstr("pagewright-convert: " + c.message)) << c.options;
    EXPECT_FALSE(fs::exists(out)) << c.options;
  }
  CliRun info = Convert(dir, "--info --transition=1 " + Quote(in));
  EXPECT_EQ(info.status, 1);
  EXPECT_THAT(info.err, HasSubstr("--info changes no file: --transition, --add-content and --stamp need an output"));
}

// Every group reads its numbers the same way: finite, and within the largest page
// (14400 points either way) once the unit is applied, wherever --unit stands.
TEST(PageOptions, NumbersBeyondThePageAreWrongUsage) {
  TempDir dir;
  const std::string in = dir.File("five.pdf", FivePages()), out = dir.Path("out.pdf");
  const std::string red = dir.File("red.txt", kRedSquare);
  const std::string add = "--add-content=" + Quote(red);
  const std::string reach = "is beyond the page's reach: at most 14400 points (200 inches) either way";
  struct Case {
    std::string options, message;
  } cases[] = {
      {add + " --opacity=150 --", "--opacity must be a number of percent, 0..100, not '150'"},
      {add + " --opacity=-0.5 --", "--opacity must be a number of percent, 0..100, not '-0.5'"},
      {add + " --opacity=nan --", "--opacity must be a number of percent, 0..100, not 'nan'"},
      {add + " --offset=inf,0 --", "--offset must be X,Y (two numbers), not 'inf,0'"},
      {add + " --offset=0,1e400 --", "--offset must be X,Y (two numbers), not '0,1e400'"},
      {add + " --offset=1e308,0 --", "--add-content --offset X=1e+308 (points) " + reach},
      {"--unit=inches " + add + " --offset=0,-201 --", "--add-content --offset Y=-201 (inches) " + reach},
      // The unit given after the group still counts.
      {add + " --offset=0,201 -- --unit=inches", "--add-content --offset Y=201 (inches) " + reach},
      {"--stamp=x --x=nan --", "--x must be a number, not 'nan'"},
      {"--stamp=x --y=0x10 --", "--y must be a number, not '0x10'"},
      {"--stamp=x --opacity=nan --", "--opacity must be a percentage 0..100, not 'nan'"},
      {"--stamp=x --angle=inf --", "--angle must be a whole number of degrees, not 'inf'"},
      {"--stamp=x --angle=1e300 --", "--angle must be a whole number of degrees, not '1e300'"},
      {"--stamp=x --size=nan --", "--size must be a number of points above 0, up to 10000, not 'nan'"},
      {"--stamp=x --x=1e308 --", "--stamp --x=1e+308 (points) " + reach},
      {"--unit=twips --stamp=x --y=-288001 --", "--stamp --y=-288001 (twips) " + reach},
      {"--stamp-image=a.png --width=inf --", "--width must be a number above 0, not 'inf'"},
      {"--stamp-image=a.png --height=nan --", "--height must be a number above 0, not 'nan'"},
      {"--stamp-image=a.png --x=-infinity --", "--x must be a number, not '-infinity'"},
      {"--unit=pixels --stamp-image=a.png --width=19201 --", "--stamp-image --width=19201 (pixels) " + reach},
      {"--stamp-image=a.png --y=14400.5 --", "--stamp-image --y=14400.5 (points) " + reach},
      {"--formatted-text=x --x=inf --", "--x must be a number, not 'inf'"},
      {"--formatted-text=x --unit=mm --y=5081 --", "--formatted-text --y=5081 (mm) " + reach},
  };
  for (const Case& c : cases) {
    CliRun r = Convert(dir, c.options + " " + Quote(in) + " " + Quote(out));
    EXPECT_EQ(r.status, 1) << c.options;
    EXPECT_THAT(r.err, HasSubstr("pagewright-convert: " + c.message + "\n")) << c.options;
    EXPECT_FALSE(fs::exists(out)) << c.options;
  }
  // The bounds themselves are taken.
  for (const std::string& options :
       std::vector<std::string>{"--unit=inches " + add + " --offset=200,-200 --", add + " --opacity=0 --", "--stamp=x --halign=x --x=14400 --",
        "--formatted-text=x --unit=mm --x=5080 --y=-5080 --"}) {
    CliRun r = Convert(dir, options + " " + Quote(in) + " " + Quote(out));
    EXPECT_EQ(r.status, 0) << options << ": " << r.err;
    EXPECT_TRUE(fs::exists(out)) << options;
    fs::remove(out);
  }
}

// Readers respect a source's refusal of changes, so a change made with the user password
// is warned about; the owner's password, or a source that permits changes, changes it
// in silence. Written as PDF 2.0, which knows the encryption.
TEST(PageOptions, ChangesTheSourceForbidsAreWarnedAbout) {
  TempDir dir;
  const std::string plain = dir.File("five.pdf", FivePages());
  const std::string locked = dir.Path("locked.pdf"), open = dir.Path("open.pdf");
  ASSERT_EQ(Shell("qpdf --encrypt user owner 256 --modify=none -- " + Quote(plain) + " " + Quote(locked)).status, 0);
  ASSERT_EQ(Shell("qpdf --encrypt user owner 256 -- " + Quote(plain) + " " + Quote(open)).status, 0);
  const std::string red = dir.File("red.txt", kRedSquare), out = dir.Path("out.pdf");
  const std::string warning =
      "pagewright-convert: warning: The document does not permit changes without its owner's password; its pages "
      "were changed all the same (readers that respect its permissions may refuse them; the owner's password lifts "
      "the restriction)\n";
  const std::string edits[] = {"--stamp=x --pages=2-4 --", "--add-content=" + Quote(red) + " --underlay --",
                               "--formatted-text='<B>a</B>b' --", "--transition=dissolve"};
  for (const std::string& edit : edits) {
    struct Case {
      std::string source, password;
      bool warned;
    } cases[] = {{locked, "user", true}, {locked, "owner", false}, {open, "user", false}};
    for (const Case& c : cases) {
      CliRun r = Convert(dir, "--pdf-version=2.0 --password=" + c.password + " " + edit + " " + Quote(c.source) + " " +
                                  Quote(out));
      EXPECT_EQ(r.status, c.warned ? 3 : 0) << edit << " " << c.password;
      EXPECT_EQ(r.err, c.warned ? warning : "") << edit << " " << c.password;
      EXPECT_TRUE(fs::exists(out));
      fs::remove(out);
    }
  }
  // Nothing changed on the pages, nothing to say.
  CliRun r = Convert(dir, "--pdf-version=2.0 --password=user --title=T " + Quote(locked) + " " + Quote(out));
  EXPECT_EQ(r.status, 0) << r.err;
}

// ---- page information ----

TEST(PageOptions, PageInfoInEachUnit) {
  TempDir dir;
  const std::string in = dir.File(
      "boxes.pdf", Pages({"/MediaBox [0 0 612 792] /CropBox [0 0 300 400] /Rotate 90", "/Rotate -90",
                          "/MediaBox [612 792 0 0] /CropBox [-10 -10 100.5 50]"},
                         {}, "/MediaBox [0 0 595 842]"));
  struct Case {
    std::string options;
    std::vector<std::string> lines;
  } cases[] = {
      {"--page-info --unit=inches",
       {"page 1: width 4.1667 height 5.5556 box 0 0 4.1667 5.5556 rotate 90",
        "page 2: width 8.2639 height 11.6944 box 0 0 8.2639 11.6944 rotate 270",
        "page 3: width 1.3958 height 0.6944 box 0 0 1.3958 0.6944 rotate 0"}},
      {"--page-info=3,1",
       {"page 3: width 100.5 height 50 box 0 0 100.5 50 rotate 0",
        "page 1: width 300 height 400 box 0 0 300 400 rotate 90"}},
      {"--page-info=1 --unit=pixels", {"page 1: width 400 height 533.3333 box 0 0 400 533.3333 rotate 90"}},
      {"--page-info=1 --unit=mm", {"page 1: width 105.8335 height 141.1114 box 0 0 105.8335 141.1114 rotate 90"}},
      {"--page-info=1 --unit=twips", {"page 1: width 6000 height 8000 box 0 0 6000 8000 rotate 90"}},
  };
  for (const Case& c : cases) {
    CliRun r = Convert(dir, "--info " + c.options + " " + Quote(in));
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1)
      if (r.out.compare(start, 5, "page ") == 0) lines.push_back(r.out.substr(start, end - start));
    EXPECT_EQ(lines, c.lines) << c.options;
  }
  // Alone it implies --info; without it --info lists no pages.
  EXPECT_THAT(Convert(dir, "--page-info=2 " + Quote(in)).out, HasSubstr("\npage 2: width 595 height 842"));
  EXPECT_THAT(Convert(dir, "--info " + Quote(in)).out, testing::Not(HasSubstr("page 1:")));
}

// ---- content put on pages ----

TEST(PageOptions, AddedContentRendersAboveOrBeneath) {
  TempDir dir;
  // Page 1 draws an opaque green square where the red one will be; page 2 leaves a
  // doubled matrix and its colour behind; page 3 draws in the initial colour (black),
  // so a colour or opacity leaking from content beneath it would show.
  const std::string in = dir.File(
      "pages.pdf", Pages({"/Contents 10 0 R", "/Contents 11 0 R", "/Contents 12 0 R"},
                         {{10, Stream("0 1 0 rg 150 150 100 100 re f")},
                          {11, Stream("0 1 0 rg 2 0 0 2 0 0 cm 300 300 10 10 re f")},
                          {12, Stream("300 300 50 50 re f")}}));
  const std::string red = dir.File("red.txt", kRedSquare);
  struct Probe {
    int page, x, y;
    Rgb colour;
  };
  struct Case {
    const char* name;
    std::string options;
    std::vector<Probe> probes;
  } cases[] = {
      {"on top", "", {{1, 200, 200, kRed}, {1, 120, 120, kRed}, {1, 50, 50, kWhite}, {1, 310, 310, kWhite}}},
      {"beneath", "--underlay", {{1, 200, 200, kGreen}, {1, 120, 120, kRed}, {1, 50, 50, kWhite}}},
      {"half opaque", "--opacity=50", {{1, 120, 120, {255, 128, 128}}, {1, 200, 200, {128, 128, 0}}, {1, 50, 50, kWhite}}},
      // The page's matrix does not reach the square, nor the page's colour.
      {"after a changed matrix", "", {{2, 120, 120, kRed}, {2, 290, 290, kRed}, {2, 350, 350, kWhite}}},
      // The square's colour and opacity do not reach the page's content drawn after it.
      {"beneath content in the initial colour", "--underlay --opacity=50",
       {{3, 320, 320, kBlack}, {3, 120, 120, {255, 128, 128}}}},
  };
  for (const Case& c : cases) {
    const std::string out = dir.Path("out.pdf");
    CliRun r = Convert(dir, "--add-content=" + Quote(red) + " " + c.options + " -- " + Quote(in) + " " + Quote(out));
    ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
    EXPECT_EQ(QpdfCheck(out), 0) << c.name;
    for (const Probe& p : c.probes) {
      Render page(dir, out, p.page);
      ASSERT_TRUE(page.ok()) << c.name;
      EXPECT_TRUE(Near(page.At(p.x, p.y), p.colour)) << c.name << " page " << p.page << " at " << p.x << "," << p.y;
    }
  }
}

// Each page's content leaves the graphics state unbalanced: page 1 restores once more
// than it saves (and then doubles the matrix), page 2 leaves a save open with the matrix
// doubled. The square drawn on top must come out once, where it belongs, in both readers.
TEST(PageOptions, OverlayOnContentWithUnpairedSavesAndRestores) {
  TempDir dir;
  const std::string in = dir.File(
      "unpaired.pdf", Pages({"/Contents 10 0 R", "/Contents [11 0 R 12 0 R]"},
                            {{10, Stream("0 0 1 rg 20 20 40 40 re f Q 2 0 0 2 0 0 cm")},
                             {11, Stream("q 0 0 1 rg 2 0 0 2 0 0 cm")},
                             {12, Stream("10 10 20 20 re f q")}}));
  const std::string red = dir.File("red.txt", kRedSquare), out = dir.Path("out.pdf");
  CliRun r = Convert(dir, "--add-content=" + Quote(red) + " -- " + Quote(in) + " " + Quote(out));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(QpdfCheck(out), 0);
  for (bool mupdf : {false, true})
    for (int pageNo : {1, 2}) {
      Render page(dir, out, pageNo, mupdf);
      ASSERT_TRUE(page.ok()) << (mupdf ? "mutool" : "pdftoppm");
      const std::string where = std::string(mupdf ? "mutool" : "pdftoppm") + " page " + std::to_string(pageNo);
      EXPECT_TRUE(Near(page.At(110, 110), kRed)) << where;
      EXPECT_TRUE(Near(page.At(290, 290), kRed)) << where;
      EXPECT_TRUE(Near(page.At(350, 350), kWhite)) << where << ": the square was drawn doubled";
      EXPECT_TRUE(Near(page.At(30, 30), {0, 0, 255})) << where << ": the page's own content";
    }
}

TEST(PageOptions, OffsetMovesTheContentInTheUnit) {
  TempDir dir;
  const std::string in = dir.File("blank.pdf", Pages({""}, {}));
  const std::string dot = dir.File("dot.txt", "1 0 0 rg 0 0 20 20 re f");
  const std::string out = dir.Path("out.pdf");
  ASSERT_EQ(Convert(dir, "--unit=inches --add-content=" + Quote(dot) + " --offset=2,1 -- " + Quote(in) + " " + Quote(out)).status, 0);
  Render page(dir, out, 1);
  ASSERT_TRUE(page.ok());
  EXPECT_TRUE(Near(page.At(154, 82), kRed));
  EXPECT_TRUE(Near(page.At(10, 10), kWhite));
  EXPECT_TRUE(Near(page.At(140, 82), kWhite));
}

TEST(PageOptions, OneBracketPairForTwentyPages) {
  TempDir dir;
  std::vector<std::string> pages;
  std::vector<std::pair<int, std::string>> objects;
  for (int i = 0; i < 20; ++i) {
    pages.push_back("/Contents " + std::to_string(10 + i) + " 0 R");
    objects.push_back({10 + i, Stream("0 0 1 rg 10 10 50 50 re f")});
  }
  const std::string in = dir.File("twenty.pdf", Pages(pages, objects)), out = dir.Path("out.pdf");
  const std::string red = dir.File("red.txt", kRedSquare);
  ASSERT_EQ(Convert(dir, "--add-content=" + Quote(red) + " -- " + Quote(in) + " " + Quote(out)).status, 0);
  EXPECT_EQ(QpdfCheck(out), 0);
  const std::string counts =
      Shell("qpdf --json=2 --json-key=qpdf --json-stream-data=inline " + Quote(out) +
            " | jq -c '[.qpdf[1][] | select(.stream) | .stream.data | @base64d] | [(map(select(. == \"q\")) | length), "
            "(map(select(. == \"Q\")) | length), length]'")
          .out;
  // q, Q, the added stream and the twenty pages' own.
  EXPECT_EQ(counts, "[1,1,23]\n");
  Render last(dir, out, 20);
  ASSERT_TRUE(last.ok());
  EXPECT_TRUE(Near(last.At(200, 200), kRed));
}

TEST(PageOptions, PagesSharingAContentsArrayKeepWhatTheyShow) {
  TempDir dir;
  const std::string in =
      dir.File("shared.pdf", Pages({"/Contents 9 0 R", "/Contents 9 0 R"},
                                   {{9, "[10 0 R]"}, {10, Stream("0 1 0 rg 2 0 0 2 0 0 cm 50 50 50 50 re f")}}));
  const std::string red = dir.File("red.txt", kRedSquare);
  const std::string plain = dir.Path("plain.pdf"), stamped = dir.Path("stamped.pdf");
  ASSERT_EQ(Convert(dir, Quote(in) + " " + Quote(plain)).status, 0);
  ASSERT_EQ(Convert(dir, "--add-content=" + Quote(red) + " --pages=1 -- " + Quote(in) + " " + Quote(stamped)).status, 0);
  EXPECT_EQ(QpdfCheck(stamped), 0);
  Render before(dir, plain, 2), after(dir, stamped, 2), first(dir, stamped, 1);
  ASSERT_TRUE(before.ok() && after.ok() && first.ok());
  EXPECT_TRUE(before.bytes() == after.bytes()) << "page 2 changed";
  EXPECT_TRUE(Near(first.At(120, 120), kRed));
  EXPECT_TRUE(Near(first.At(190, 190), kRed)) << "the page's doubled matrix reached the square";
}

TEST(PageOptions, PageWithoutResourcesTakesAnOpacity) {
  TempDir dir;
  const std::string in = dir.File("bare.pdf", Pages({"/Contents 10 0 R"}, {{10, Stream("0 0 1 rg 10 10 20 20 re f")}}));
  const std::string red = dir.File("red.txt", kRedSquare), out = dir.Path("out.pdf");
  CliRun r = Convert(dir, "--add-content=" + Quote(red) + " --opacity=50 -- " + Quote(in) + " " + Quote(out));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(QpdfCheck(out), 0);
  Render page(dir, out, 1);
  ASSERT_TRUE(page.ok());
  EXPECT_TRUE(Near(page.At(120, 120), {255, 128, 128}));
  EXPECT_TRUE(Near(page.At(15, 15), {0, 0, 255}));
}
