#include "document/ksAddressList.h"

std::vector<std::string> SplitAddressList(std::string_view text) {
  std::vector<std::string> entries;
  const auto flush = [&](size_t begin, size_t end) {
    std::string_view entry = text.substr(begin, end - begin);
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!entry.empty() && blank(entry.front())) entry.remove_prefix(1);
    while (!entry.empty() && blank(entry.back())) entry.remove_suffix(1);
    if (!entry.empty()) entries.emplace_back(entry);
  };
  size_t start = 0;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '\\') {
      ++i;  // the escaped character, whatever it is
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      flush(start, i);
      start = i + 1;
    }
  }
  flush(start, text.size());
  return entries;
}
