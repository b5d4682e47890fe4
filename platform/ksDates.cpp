#include "ksDates.h"

#include <unicode/udat.h>
#include <unicode/ustring.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <stdexcept>

namespace ksplatform {

int64_t StampTime() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(epoch, &end, 10);
    if (errno == 0 && end && *end == 0) return value;
  }
  return static_cast<int64_t>(std::time(nullptr));
}

namespace {

std::u16string Format(int64_t unixSeconds, UDateFormatStyle timeStyle, UDateFormatStyle dateStyle) {
  UErrorCode status = U_ZERO_ERROR;
  // The default locale and zone: ICU takes them from LANG/LC_* and TZ.
  std::unique_ptr<UDateFormat, void (*)(UDateFormat*)> format(
      udat_open(timeStyle, dateStyle, nullptr, nullptr, -1, nullptr, 0, &status), udat_close);
  if (U_FAILURE(status) || !format) throw std::runtime_error("Dates cannot be formatted");
  const UDate when = static_cast<UDate>(unixSeconds) * 1000.0;
  std::u16string out(64, u'\0');
  int32_t length = udat_format(format.get(), when, out.data(), static_cast<int32_t>(out.size()), nullptr, &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    status = U_ZERO_ERROR;
    out.assign(static_cast<size_t>(length) + 1, u'\0');
    length = udat_format(format.get(), when, out.data(), static_cast<int32_t>(out.size()), nullptr, &status);
  }
  if (U_FAILURE(status)) throw std::runtime_error("Dates cannot be formatted");
  out.resize(static_cast<size_t>(length));
  return out;
}

UDateFormatStyle StyleOf(DateStyle style) { return style == DateStyle::Short ? UDAT_SHORT : UDAT_LONG; }

}  // namespace

std::u16string FormatDate(int64_t unixSeconds, DateStyle style) {
  return Format(unixSeconds, UDAT_NONE, StyleOf(style));
}

std::u16string FormatTime(int64_t unixSeconds, DateStyle style) {
  return Format(unixSeconds, StyleOf(style), UDAT_NONE);
}

}  // namespace ksplatform
