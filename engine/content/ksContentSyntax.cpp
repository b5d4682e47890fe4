#include "content/ksContentSyntax.h"

#include <vector>

#include "base/ksSyntax.h"

namespace {

bool IsRegular(uint8_t c) { return !ksIsWhiteSpace(c) && !ksIsDelimiter(c); }

bool IsHexDigit(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Line and column of offset, from 1; CR, LF and CR LF each end a line.
void Locate(std::string_view bytes, size_t offset, TksContentFault& fault) {
  int64_t line = 1;
  size_t start = 0;
  for (size_t i = 0; i < offset; ++i) {
    if (bytes[i] == '\n' || (bytes[i] == '\r' && !(i + 1 < bytes.size() && bytes[i + 1] == '\n'))) {
      ++line;
      start = i + 1;
    }
  }
  fault.Offset = static_cast<int64_t>(offset);
  fault.Line = line;
  fault.Column = static_cast<int64_t>(offset - start) + 1;
}

// The end of an inline image's data that start at from: the position of the "EI" that
// stands after white space and before white space, a delimiter or the end; npos when none.
size_t InlineImageEnd(std::string_view bytes, size_t from) {
  for (size_t at = bytes.find("EI", from); at != std::string_view::npos; at = bytes.find("EI", at + 1)) {
    const bool before = at == from || ksIsWhiteSpace(static_cast<uint8_t>(bytes[at - 1]));
    const bool after = at + 2 == bytes.size() || !IsRegular(static_cast<uint8_t>(bytes[at + 2]));
    if (before && after) return at;
  }
  return std::string_view::npos;
}

}  // namespace

bool TksContentScanner::Scan(std::string_view bytes) {
  // The arrays and dictionaries open now: their kind ('[' or '<') and where they opened.
  struct Open {
    char kind;
    size_t at;
  };
  std::vector<Open> open;
  const size_t n = bytes.size();
  const auto fail = [&](size_t at, std::string what) {
    Locate(bytes, at, fault_);
    fault_.What = std::move(what);
    return false;
  };
  // After BI: the image's entries are read as other tokens until ID.
  bool inImage = false;
  size_t imageAt = 0;
  size_t i = 0;
  while (i < n) {
    const auto c = static_cast<uint8_t>(bytes[i]);
    if (ksIsWhiteSpace(c)) {
      ++i;
      continue;
    }
    const size_t start = i;
    switch (c) {
      case '%':
        while (i < n && bytes[i] != '\r' && bytes[i] != '\n') ++i;
        continue;
      case '(': {
        int depth = 0;
        for (; i < n; ++i) {
          if (bytes[i] == '\\') {
            ++i;  // the escaped byte, whatever it is
          } else if (bytes[i] == '(') {
            ++depth;
          } else if (bytes[i] == ')' && --depth == 0) {
            break;
          }
        }
        if (i >= n) return fail(start, "a string is not closed");
        ++i;
        continue;
      }
      case ')':
        return fail(start, "a ')' closes no string");
      case '<':
        if (i + 1 < n && bytes[i + 1] == '<') {
          open.push_back({'<', start});
          i += 2;
          continue;
        }
        for (++i; i < n && bytes[i] != '>'; ++i) {
          const auto h = static_cast<uint8_t>(bytes[i]);
          if (!IsHexDigit(h) && !ksIsWhiteSpace(h))
            return fail(i, "a hexadecimal string holds '" + std::string(1, bytes[i]) + "'");
        }
        if (i >= n) return fail(start, "a hexadecimal string is not closed");
        ++i;
        continue;
      case '>':
        if (i + 1 < n && bytes[i + 1] == '>') {
          if (open.empty() || open.back().kind != '<') return fail(start, "a '>>' closes no dictionary");
          open.pop_back();
          i += 2;
          continue;
        }
        return fail(start, "a '>' closes no hexadecimal string");
      case '[':
        open.push_back({'[', start});
        ++i;
        continue;
      case ']':
        if (open.empty() || open.back().kind != '[') return fail(start, "a ']' closes no array");
        open.pop_back();
        ++i;
        continue;
      case '/':
        for (++i; i < n && IsRegular(static_cast<uint8_t>(bytes[i])); ++i) {
        }
        continue;
      case '{':
      case '}':
        ++i;  // no meaning in content, but no harm: readers pass over them
        continue;
      default:
        break;
    }
    while (i < n && IsRegular(static_cast<uint8_t>(bytes[i]))) ++i;
    const std::string_view token = bytes.substr(start, i - start);
    if (inImage) {
      if (token == "ID") {
        if (!open.empty()) break;  // reported below as what is not closed
        // One white-space byte ends the keyword; the data follow up to EI.
        const size_t end = InlineImageEnd(bytes, i + 1);
        if (end == std::string_view::npos) return fail(imageAt, "an inline image's data do not end with EI");
        i = end + 2;
        inImage = false;
      } else if (token == "EI" || token == "BI") {
        return fail(imageAt, "an inline image has no ID before its data");
      }
      continue;
    }
    if (!open.empty()) continue;  // operators never stand inside arrays or dictionaries
    if (token == "q") {
      ++depth_;
    } else if (token == "Q") {
      if (depth_ > 0) --depth_;
      else ++unmatched_;
    } else if (token == "BI") {
      inImage = true;
      imageAt = start;
    } else if (token == "ID" || token == "EI") {
      return fail(start, "'" + std::string(token) + "' stands outside an inline image");
    }
  }
  if (!open.empty())
    return fail(open.back().at, open.back().kind == '[' ? "an array is not closed" : "a dictionary is not closed");
  if (inImage) return fail(imageAt, "an inline image has no ID before its data");
  return true;
}
