// Dates and times as the desktop's locale writes them, for texts drawn onto pages.
#pragma once
#include <cstdint>
#include <string>

namespace ksplatform {

// The moment drawn dates refer to: now, or SOURCE_DATE_EPOCH (seconds since 1970) when
// that is set, so that the same input gives the same output.
int64_t StampTime();

enum class DateStyle : uint8_t { Short, Long };

// The date or the time of unixSeconds in the locale's short or long format, in the local
// time zone (TZ).
std::u16string FormatDate(int64_t unixSeconds, DateStyle style);
std::u16string FormatTime(int64_t unixSeconds, DateStyle style);

}  // namespace ksplatform
