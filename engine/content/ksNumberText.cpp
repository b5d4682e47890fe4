#include "content/ksNumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"

void RefuseNonFinite(double value) {
  if (std::isfinite(value)) return;
  const char* text = std::isnan(value) ? "NaN" : value > 0 ? "Infinity" : "-Infinity";
  throw EInvalidValueError(ksFormat(ksres::SNumberNotFinite, text));
}

namespace {

// value rounded to the given number of significant digits (1 to 17).
double RoundSignificant(double value, int digits) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, digits - 1);
  double rounded = value;
  std::from_chars(buf, r.ptr, rounded);
  return rounded;
}

// Drops the sign of a text that reads as zero ("-0", "-0.000").
std::string WithoutNegativeZero(const char* first, const char* last) {
  if (*first == '-' && std::all_of(first + 1, last, [](char c) { return c == '0' || c == '.'; })) ++first;
  return std::string(first, last);
}

}  // namespace

std::string FloatToStrDot(double value) {
  RefuseNonFinite(value);
  const double rounded = RoundSignificant(value, 15);
  // The shortest fixed form that reads back as the rounded value; at most 15 significant
  // digits, as the rounded value has no more. The smallest doubles take 340 characters.
  char buf[512];
  auto r = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed);
  return WithoutNegativeZero(buf, r.ptr);
}

std::string FloatToStrFDot(double value, int precision, int digits) {
  RefuseNonFinite(value);
  precision = std::clamp(precision, 1, 17);
  digits = std::clamp(digits, 0, 18);
  const double rounded = RoundSignificant(value, precision);
  char buf[512];
  auto r = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, digits);
  return WithoutNegativeZero(buf, r.ptr);
}

double StrToFloatDot(std::string_view text) {
  auto refuse = [&]() -> double {
    throw EInvalidValueError(ksFormat(ksres::SInvalidFloat, std::string(text).c_str()));
  };
  std::string_view s = text;
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  // from_chars takes no "+"; a sign after it ("+-1") stays refused.
  if (!s.empty() && s.front() == '+' && s.size() > 1 && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
  if (s.empty()) return refuse();
  // Letters would let "inf" and "nan" through; an exponent is the only letter taken.
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return refuse();
  double value = 0;
  auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
  if (error != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return refuse();
  return value;
}
