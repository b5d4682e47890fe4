#include "base/ksExceptions.h"

#include <string>

#include <cstdio>
#include <vector>

std::string ksVFormat(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, ap2);
    out.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(ap2);
  return out;
}

std::string Exception::Context() const {
  std::string where;
  if (!File.empty()) where = "file \"" + File + "\"";
  if (ObjectNumber >= 0) {
    if (!where.empty()) where += ", ";
    where += "object " + std::to_string(ObjectNumber);
    if (Offset >= 0) where += " at byte " + std::to_string(Offset);
  }
  return where;
}

std::string ksErrorText(const std::exception& error, bool withFile) {
  std::string text = error.what();
  if (const auto* e = dynamic_cast<const Exception*>(&error)) {
    // A message that names the file already says where; the object may still add to it.
    Exception context = *e;
    if (!withFile || text.find(context.File) != std::string::npos) context.File.clear();
    const std::string where = context.Context();
    if (!where.empty()) text += " (" + where + ")";
  }
  return text;
}
