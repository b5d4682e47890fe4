// Numbers as text with "." as the decimal separator, whatever the locale: the text of
// generated content streams and graphics states. Conversions through std::to_chars and
// std::from_chars, which no locale touches, so nothing process-wide is switched or locked.
#pragma once
#include <string>
#include <string_view>

// The shortest plain decimal of at most 15 significant digits: no exponent (PDF has
// none), no trailing zeros, no trailing ".", no "-0" (0.5 -> "0.5", 1 -> "1",
// 1e-7 -> "0.0000001"). A value that is not finite raises EInvalidValueError.
std::string FloatToStrDot(double value);
// value rounded to precision significant digits, then written with exactly digits digits
// after the "." (none, and no ".", for 0 digits). Not finite: EInvalidValueError.
std::string FloatToStrFDot(double value, int precision, int digits);
// EInvalidValueError for a value that is not finite, which no text of the format can hold.
void RefuseNonFinite(double value);
// A decimal number ("-1.5", "2", " .5 ", "1e3"); anything else, and a value that is not
// finite, raises EInvalidValueError "'%s' is not a valid floating point value".
double StrToFloatDot(std::string_view text);
