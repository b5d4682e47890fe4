#include "content/ksFormattedText.h"

#include <cstdint>
#include <vector>

#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"
#include "ksPlatform.h"

namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameText(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

enum TksTag { tgNone, tgBold, tgBoldEnd, tgItalic, tgItalicEnd, tgUnder, tgUnderEnd, tgStrike, tgStrikeEnd, tgFont, tgFontEnd };

TksTag TagOf(std::u16string_view word) {
  static const std::pair<const char16_t*, TksTag> kTags[] = {
      {u"<B", tgBold},          {u"</B", tgBoldEnd},          {u"<I", tgItalic},  {u"</I", tgItalicEnd},
      {u"<U", tgUnder},         {u"</U", tgUnderEnd},         {u"<StrikeOut", tgStrike},
      {u"</StrikeOut", tgStrikeEnd}, {u"<FONT", tgFont},      {u"</FONT", tgFontEnd}};
  for (const auto& [name, tag] : kTags)
    if (SameText(word, name)) return tag;
  return tgNone;
}

int32_t SizeValue(std::u16string_view value) {
  const std::string text = ksplatform::Utf16ToUtf8(value);
  // A whole number as the platform's conversion reads one: a sign, then digits.
  std::u16string_view digits = value;
  const bool negative = !digits.empty() && digits.front() == u'-';
  if (!digits.empty() && (digits.front() == u'-' || digits.front() == u'+')) digits.remove_prefix(1);
  int64_t n = 0;
  bool ok = !digits.empty();
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9' || n > INT32_MAX) {
      ok = false;
      break;
    }
    n = n * 10 + (c - u'0');
  }
  if (!ok || n > INT32_MAX) throw EInvalidValueError(ksFormat(ksres::SInvalidSizeValue, text.c_str()));
  // Sizes below 1 point draw nothing a reader could see.
  if (negative || n < 1 || n > 10000) throw EInvalidValueError(ksFormat(ksres::SFontSizeOutOfRange, text.c_str()));
  return static_cast<int32_t>(n);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

}  // namespace

TksFont FormattedTextBottomFont() {
  TksFont f;
  f.Name = "Arial";
  f.Size = 12;
  f.Charset = 0;
  return f;
}

TksColor FormattedTextColour(std::u16string_view value) {
  static const std::pair<const char16_t*, uint32_t> kNames[] = {
      {u"aqua", 0x00FFFF},   {u"black", 0x000000},  {u"blue", 0x0000FF},  {u"fuchsia", 0xFF00FF},
      {u"green", 0x008000},  {u"gray", 0x808080},   {u"lime", 0x00FF00},  {u"maroon", 0x800000},
      {u"navy", 0x000080},   {u"olive", 0x808000},  {u"purple", 0x800080}, {u"red", 0xFF0000},
      {u"silver", 0xC0C0C0}, {u"teal", 0x008080},   {u"white", 0xFFFFFF}, {u"yellow", 0xFFFF00}};
  uint32_t rgb = 0;
  bool found = false;
  for (const auto& [name, v] : kNames)
    if (SameText(value, name)) rgb = v, found = true;
  if (!found && value.size() == 7 && value[0] == u'#') {
    uint32_t v = 0;
    found = true;
    for (size_t i = 1; i < 7 && found; ++i) {
      const char16_t c = Lower(value[i]);
      if (c >= u'0' && c <= u'9') v = v * 16 + (c - u'0');
      else if (c >= u'a' && c <= u'f') v = v * 16 + (c - u'a' + 10);
      else found = false;
    }
    if (found) rgb = v;
  }
  return TksColor{static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb)};
}

uint8_t FormattedTextCharset(std::u16string_view value) {
  static const std::pair<const char16_t*, uint8_t> kSets[] = {
      {u"ANSI_CHARSET", 0},        {u"DEFAULT_CHARSET", 1},     {u"SYMBOL_CHARSET", 2},    {u"MAC_CHARSET", 77},
      {u"SHIFTJIS_CHARSET", 128},  {u"HANGEUL_CHARSET", 129},   {u"JOHAB_CHARSET", 130},   {u"GB2312_CHARSET", 134},
      {u"CHINESEBIG5_CHARSET", 136}, {u"GREEK_CHARSET", 161},   {u"TURKISH_CHARSET", 162}, {u"VIETNAMESE_CHARSET", 163},
      {u"HEBREW_CHARSET", 177},    {u"ARABIC_CHARSET", 178},    {u"BALTIC_CHARSET", 186},  {u"RUSSIAN_CHARSET", 204},
      {u"EASTEUROPE_CHARSET", 238}, {u"THAI_CHARSET", 222},     {u"OEM_CHARSET", 255}};
  for (const auto& [name, v] : kSets)
    if (SameText(value, name)) return v;
  return 0;
}

void WalkFormattedText(std::u16string_view text,
                       const std::function<void(const TksFont& font, const std::u16string& run)>& flush) {
  std::vector<TksFont> stack{FormattedTextBottomFont()};
  std::u16string run;
  const size_t n = text.size();
  const auto flushRun = [&] {
    if (run.empty()) return;
    flush(stack.back(), run);
    run.clear();
  };
  // The position after the next ">" from i, or the end.
  const auto pastClose = [&](size_t i) {
    const size_t close = text.find(u'>', i);
    return close == std::u16string_view::npos ? n : close + 1;
  };
  size_t i = 0;
  while (i < n) {
    if (text[i] != u'<') {
      run += text[i++];
      continue;
    }
    size_t j = i + 1;
    while (j < n && text[j] != u' ' && text[j] != u'>') ++j;
    const TksTag tag = TagOf(text.substr(i, j - i));
    if (tag == tgNone) {
      // Not a tag of the language: drawn as it stands, up to the next "<".
      size_t next = text.find(u'<', j);
      if (next == std::u16string_view::npos) next = n;
      run.append(text.substr(i, next - i));
      i = next;
      continue;
    }
    flushRun();
    TksFont& top = stack.back();
    switch (tag) {
      case tgBold: top.Bold = true; break;
      case tgBoldEnd: top.Bold = false; break;
      case tgItalic: top.Italic = true; break;
      case tgItalicEnd: top.Italic = false; break;
      case tgUnder: top.Underline = true; break;
      case tgUnderEnd: top.Underline = false; break;
      case tgStrike: top.StrikeOut = true; break;
      case tgStrikeEnd: top.StrikeOut = false; break;
      case tgFontEnd:
        if (stack.size() > 1) stack.pop_back();
        break;
      case tgFont: {
        TksFont font = FormattedTextBottomFont();
        font.Bold = top.Bold, font.Italic = top.Italic, font.Underline = top.Underline, font.StrikeOut = top.StrikeOut;
        size_t p = j;
        while (p < n && text[p] != u'>') {
          if (IsBlank(text[p]) || text[p] == u'"') {
            ++p;
            continue;
          }
          size_t nameEnd = p;
          while (nameEnd < n && text[nameEnd] != u'=' && !IsBlank(text[nameEnd]) && text[nameEnd] != u'>') ++nameEnd;
          const std::u16string_view name = text.substr(p, nameEnd - p);
          p = nameEnd;
          while (p < n && IsBlank(text[p])) ++p;
          if (p >= n || text[p] != u'=') continue;  // a word without a value
          ++p;
          bool quoted = false;
          while (p < n && (IsBlank(text[p]) || text[p] == u'"')) quoted |= text[p++] == u'"';
          const bool size = SameText(name, u"SIZE");
          size_t end = p;
          if (!quoted && p < n && text[p] == u'\'') {
            // Single quotes, as HTML takes them: the value runs to the closing one.
            end = text.find(u'\'', ++p);
            if (end == std::u16string_view::npos) end = n;
          } else if (size || !quoted) {
            // Unquoted, a value ends at white space or the tag's end, as in HTML.
            while (end < n && !IsBlank(text[end]) && text[end] != u'"' && text[end] != u'>') ++end;
          } else {
            while (end < n && text[end] != u'"') ++end;
          }
          const std::u16string_view value = text.substr(p, end - p);
          if (size) font.Size = SizeValue(value);
          else if (SameText(name, u"COLOR")) font.Color = FormattedTextColour(value);
          else if (SameText(name, u"FACE")) font.Name = ksplatform::Utf16ToUtf8(value);
          else if (SameText(name, u"CHARSET")) font.Charset = FormattedTextCharset(value);
          p = end < n && (text[end] == u'"' || text[end] == u'\'') ? end + 1 : end;
        }
        stack.push_back(std::move(font));
        i = p < n ? p + 1 : n;
        continue;
      }
      default: break;
    }
    i = pastClose(j);
  }
  flushRun();
}
