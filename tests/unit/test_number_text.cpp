// Numbers as text with "." whatever the locale: the forms written into content and
// graphics states, the numbers read from the command line, and a comma-decimal locale.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "content/ksNumberText.h"
#include "document/ksCstPDFDoc.h"
#include "ksObjText.h"
#include "ksShell.h"

using testing::StrEq;
using testing::ThrowsMessage;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(NumberText, FloatToStrDotIsThePlainShortestDecimal) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {0.5, "0.5"},
      {1, "1"},
      {0.25, "0.25"},
      {-2.5, "-2.5"},
      {0, "0"},
      {-0.0, "0"},
      {100, "100"},
      {1.0 / 3, "0.333333333333333"},      // 15 significant digits
      {2.0 / 3, "0.666666666666667"},      // rounded, not cut
      {123456789.123456789, "123456789.123457"},
      {0.1 + 0.2, "0.3"},                  // 0.30000000000000004 within 15 digits
      {1e-7, "0.0000001"},                 // never an exponent
      {1e20, "100000000000000000000"},
      {-1e-20, "-0.00000000000000000001"},
      {72.0 / 96 * 10, "7.5"},
  };
  for (const Case& c : cases) EXPECT_EQ(FloatToStrDot(c.value), c.text) << c.value;
}

TEST(NumberText, FloatToStrFDotRoundsToPrecisionThenFixesTheDigits) {
  struct Case {
    double value;
    int precision, digits;
    const char* text;
  } cases[] = {
      {3.14159265, 10, 4, "3.1416"},
      {1, 10, 3, "1.000"},
      {0.5, 18, 8, "0.50000000"},
      {123456, 3, 2, "123000.00"},   // three significant digits, then two decimals
      {-0.00001, 10, 4, "0.0000"},  // no "-0.0000"
      {-1.23456, 10, 3, "-1.235"},
      {2.7, 10, 0, "3"},            // no "." without digits
      {0.70710678, 10, 4, "0.7071"},
      {1e21, 10, 1, "1000000000000000000000.0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FloatToStrFDot(c.value, c.precision, c.digits), c.text) << c.value << " " << c.precision << " " << c.digits;
}

TEST(NumberText, NumbersThatAreNotFiniteAreRefused) {
  struct Case {
    double value;
    const char* shown;
  } cases[] = {{kNaN, "NaN"}, {kInf, "Infinity"}, {-kInf, "-Infinity"}};
  for (const Case& c : cases) {
    const std::string message = std::string("A number that is not finite (") + c.shown + ") cannot be written into a PDF";
    EXPECT_THAT([&] { FloatToStrDot(c.value); }, ThrowsMessage<EInvalidValueError>(StrEq(message)));
    EXPECT_THAT([&] { FloatToStrFDot(c.value, 10, 2); }, ThrowsMessage<EInvalidValueError>(StrEq(message)));
  }
}

TEST(NumberText, StrToFloatDotReadsDecimalsOnly) {
  struct Good {
    const char* text;
    double value;
  } good[] = {{"1.5", 1.5}, {" -2 ", -2}, {"+.5", 0.5}, {"1e3", 1000}, {"0", 0}, {"\t7.25", 7.25}, {"-0.001", -0.001}};
  for (const Good& g : good) EXPECT_EQ(StrToFloatDot(g.text), g.value) << g.text;

  for (const char* bad : {"", " ", "1,5", "abc", "inf", "-inf", "nan", "1.5x", "--1", "+-1", "1e999", "0x10", "1 2"})
    EXPECT_THAT([&] { StrToFloatDot(bad); },
                ThrowsMessage<EInvalidValueError>(StrEq(std::string("'") + bad + "' is not a valid floating point value")))
        << bad;
}

// A locale whose decimal separator is a comma, made for the test: printf then writes
// "1,5", and nothing the engine writes or reads may follow it.
class CommaLocale : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("pw-locale-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    const std::string made = (dir_ / "de_DE.UTF-8").string();
    const int status = ksshell::Shell("localedef -i de_DE -f UTF-8 " + ksshell::Quote(made) + " >/dev/null 2>&1").status;
    // Warnings about the character map still make the locale; only its absence counts.
    ASSERT_TRUE(std::filesystem::exists(made))
        << "localedef failed (status " << status << "); scripts/setup.sh installs the locales package";
    ::setenv("LOCPATH", dir_.c_str(), 1);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5") << "the locale made has no comma separator";
  }
  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    ::unsetenv("LOCPATH");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path dir_;
};

TEST_F(CommaLocale, NumbersKeepTheirDot) {
  EXPECT_EQ(FloatToStrDot(1.5), "1.5");
  EXPECT_EQ(FloatToStrDot(-0.25), "-0.25");
  EXPECT_EQ(FloatToStrFDot(3.14159, 10, 3), "3.142");
  EXPECT_EQ(StrToFloatDot("2.5"), 2.5);
  EXPECT_THAT([] { StrToFloatDot("2,5"); },
              ThrowsMessage<EInvalidValueError>(StrEq("'2,5' is not a valid floating point value")));

  // What the page operations write: a transition's duration, an opacity, a moved content.
  ksfixture::MemoryDoc m;
  m.Put(3, "<< /Type /Page /MediaBox [0 0 612 792] >>");
  m.doc.Pages.push_back(m.Get(3));
  EXPECT_EQ(ksfixture::OneLineText(TksCustomPDFDocument::CreateTransitionDict(13, 1.5f).get()),
            "<< /Type /Trans /D 1.5000000000 /S /Dissolve >>");
  m.doc.MeasurementUnit = muInches;
  TksContentPlacement placement;
  placement.Opacity = 25;
  placement.OffsetX = 0.5;
  placement.OffsetY = 1.25;
  m.doc.AttachPageContent("", "0 0 m", placement);
  auto* contents = AsRef(AsDict(m.Get(3)->Value.get())->Lookup("/Contents"));
  ASSERT_NE(contents, nullptr);
  const std::string text = AsStream(m.doc.Store->Find(*contents)->Value.get())->Data->ToString();
  EXPECT_THAT(text, testing::HasSubstr("\n1 0 0 1 36 90 cm\n"));
  auto* gstate = m.doc.Store->Items(m.doc.Store->Count() - 2);
  EXPECT_EQ(ksfixture::OneLineText(gstate->Value.get()), "<< /CA 0.2500000000 /ca 0.2500000000 /Type /ExtGState >>");
}
