// --stamp: text stamped onto pages, with its options up to "--".
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "commands.h"
#include "compat/ksExPDFDoc.h"
#include "content/ksPDFFont.h"
#include "content/ksWatermark.h"
#include "document/ksCstPDFDoc.h"
#include "ksPlatform.h"

namespace {

bool StartsWith(const char* arg, const char* prefix, const char** rest) {
  const size_t n = std::strlen(prefix);
  if (std::strncmp(arg, prefix, n) != 0) return false;
  *rest = arg + n;
  return true;
}

std::optional<int> Choice(const char* text, std::initializer_list<const char*> names) {
  int i = 0;
  for (const char* name : names) {
    if (std::strcmp(text, name) == 0) return i;
    ++i;
  }
  return std::nullopt;
}

std::optional<TksColor> Colour(const char* text) {
  static const std::pair<const char*, TksColor> kNames[] = {
      {"black", {0, 0, 0}},         {"white", {255, 255, 255}}, {"red", {255, 0, 0}},    {"green", {0, 128, 0}},
      {"lime", {0, 255, 0}},        {"blue", {0, 0, 255}},      {"yellow", {255, 255, 0}}, {"cyan", {0, 255, 255}},
      {"magenta", {255, 0, 255}},   {"gray", {128, 128, 128}},  {"grey", {128, 128, 128}}, {"silver", {192, 192, 192}},
      {"maroon", {128, 0, 0}},      {"navy", {0, 0, 128}},      {"olive", {128, 128, 0}}, {"purple", {128, 0, 128}},
      {"teal", {0, 128, 128}},      {"orange", {255, 165, 0}}};
  for (const auto& [name, colour] : kNames)
    if (std::strcmp(text, name) == 0) return colour;
  if (text[0] != '#' || std::strlen(text) != 7) return std::nullopt;
  for (int i = 1; i < 7; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
  const unsigned long v = std::strtoul(text + 1, nullptr, 16);
  return TksColor{static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

std::optional<int> Charset(const char* text) {
  static const std::pair<const char*, int> kNames[] = {
      {"ansi", 0},     {"default", 1},   {"symbol", 2},     {"russian", 204}, {"greek", 161},
      {"easteurope", 238}, {"turkish", 162}, {"hebrew", 177}, {"arabic", 178}, {"baltic", 186},
      {"vietnamese", 163}, {"thai", 222},  {"shiftjis", 128}, {"gb2312", 134}, {"hangeul", 129},
      {"chinesebig5", 136}, {"mac", 77},   {"oem", 255}};
  if (std::strcmp(text, "auto") == 0) return -1;
  for (const auto& [name, value] : kNames)
    if (std::strcmp(text, name) == 0) return value;
  std::optional<double> n = NumberOption(text);
  if (n && *n >= 0 && *n <= 255 && *n == static_cast<int>(*n)) return static_cast<int>(*n);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ParseStampOption(TksStampOption& s, const char* a) {
  const char* rest = nullptr;
  const auto bad = [&](const char* what) { return "--" + std::string(what) + ", not '" + rest + "'"; };
  if (StartsWith(a, "--pages=", &rest)) {
    s.pages = rest;
  } else if (StartsWith(a, "--font=", &rest)) {
    if (!*rest) return std::string("--font needs a face name");
    s.font = rest;
  } else if (StartsWith(a, "--size=", &rest)) {
    std::optional<double> v = NumberOption(rest);
    if (!v || !(*v > 0 && *v <= 10000)) return bad("size must be a number of points above 0, up to 10000");
    s.size = *v;
  } else if (StartsWith(a, "--style=", &rest)) {
    std::string list = rest;
    size_t start = 0;
    while (start <= list.size()) {
      const size_t comma = std::min(list.find(',', start), list.size());
      const std::string item = list.substr(start, comma - start);
      if (item == "bold") s.bold = true;
      else if (item == "italic") s.italic = true;
      else if (item == "underline") s.underline = true;
      else if (item == "strikeout") s.strikeout = true;
      else if (!item.empty()) return bad("style is a list of bold, italic, underline, strikeout");
      start = comma + 1;
    }
  } else if (StartsWith(a, "--color=", &rest)) {
    auto c = Colour(rest);
    if (!c) return bad("color must be #RRGGBB or a colour name");
    s.color = *c;
  } else if (StartsWith(a, "--outline-color=", &rest)) {
    auto c = Colour(rest);
    if (!c) return bad("outline-color must be #RRGGBB or a colour name");
    s.outlineColor = *c;
  } else if (StartsWith(a, "--render-mode=", &rest)) {
    std::optional<double> v = NumberOption(rest);
    if (!v || *v < 0 || *v > 7 || *v != static_cast<int>(*v)) return bad("render-mode must be 0..7");
    s.renderMode = static_cast<int>(*v);
  } else if (StartsWith(a, "--angle=", &rest)) {
    std::optional<double> v = NumberOption(rest);
    if (!v || std::abs(*v) > 1e9 || *v != std::trunc(*v)) return bad("angle must be a whole number of degrees");
    s.angle = static_cast<int>(*v);
  } else if (StartsWith(a, "--opacity=", &rest)) {
    std::optional<double> v = NumberOption(rest);
    if (!v || *v < 0 || *v > 100) return bad("opacity must be a percentage 0..100");
    s.opacity = static_cast<int>(*v + 0.5);
  } else if (StartsWith(a, "--halign=", &rest)) {
    auto v = Choice(rest, {"left", "center", "right", "x"});
    if (!v) return bad("halign must be left, center, right or x");
    s.halign = *v;
  } else if (StartsWith(a, "--valign=", &rest)) {
    auto v = Choice(rest, {"top", "middle", "bottom", "y"});
    if (!v) return bad("valign must be top, middle, bottom or y");
    s.valign = *v;
  } else if (StartsWith(a, "--x=", &rest)) {
    std::optional<double> v = NumberOption(rest);
    if (!v) return bad("x must be a number");
    s.x = *v;
  } else if (StartsWith(a, "--y=", &rest)) {
    std::optional<double> v = NumberOption(rest);
    if (!v) return bad("y must be a number");
    s.y = *v;
  } else if (std::strcmp(a, "--underlay") == 0) {
    s.underlay = true;
  } else if (std::strcmp(a, "--vertical") == 0) {
    s.vertical = true;
  } else if (StartsWith(a, "--encoding=", &rest)) {
    auto v = Choice(rest, {"winansi", "macroman", "macexpert", "standard", "pdfdoc"});
    if (!v) return bad("encoding must be winansi, macroman, macexpert, standard or pdfdoc");
    s.encoding = *v;
  } else if (StartsWith(a, "--embed=", &rest)) {
    auto v = Choice(rest, {"none", "full", "subset"});
    if (!v) return bad("embed must be none, full or subset");
    s.embed = *v;
  } else if (StartsWith(a, "--charset=", &rest)) {
    auto v = Charset(rest);
    if (!v) return bad("charset must be auto, a character set name or 0..255");
    s.charset = *v;
  } else if (StartsWith(a, "--var=", &rest)) {
    const char* eq = std::strchr(rest, '=');
    if (!eq || eq == rest) return bad("var must be NAME=VALUE");
    s.vars.emplace_back(std::string(rest, eq), std::string(eq + 1));
  } else {
    return std::nullopt;
  }
  return std::string();
}

std::optional<std::string> ParseStampImageOption(TksImageStampOption& s, const char* a) {
  const char* rest = nullptr;
  for (const char* prefix : {"--width=", "--height="})
    if (StartsWith(a, prefix, &rest)) {
      std::optional<double> v = NumberOption(rest);
      if (!v || !(*v > 0)) return std::string(prefix, std::strlen(prefix) - 1) + " must be a number above 0, not '" + rest + "'";
      (prefix[2] == 'w' ? s.width : s.height) = *v;
      return std::string();
    }
  for (const char* prefix : {"--pages=", "--halign=", "--valign=", "--x=", "--y=", "--angle=", "--opacity="})
    if (StartsWith(a, prefix, &rest)) return ParseStampOption(s.place, a);
  if (std::strcmp(a, "--underlay") == 0) return ParseStampOption(s.place, a);
  return std::nullopt;
}

std::optional<std::string> ParseFormattedTextOption(TksFormattedTextOption& t, const char* a) {
  const char* rest = nullptr;
  if (StartsWith(a, "--pages=", &rest)) {
    t.pages = rest;
  } else if (StartsWith(a, "--x=", &rest) || StartsWith(a, "--y=", &rest)) {
    std::optional<double> v = NumberOption(rest);
    if (!v) return std::string(a[2] == 'x' ? "--x" : "--y") + " must be a number, not '" + rest + "'";
    (a[2] == 'x' ? t.x : t.y) = *v;
  } else {
    return std::nullopt;
  }
  return std::string();
}

void ApplyStamps(TksCustomPDFDocument& document, const TksCliOptions& options) {
  for (const TksImageStampOption& s : options.imageStamps) {
    TksImageWatermarkTemplate t;
    t.Picture = TksCustomPDFDocument::LoadPicture(s.file);
    t.Width = s.width;
    t.Height = s.height;
    t.Angle = s.place.angle;
    t.Opacity = s.place.opacity;
    t.HorzAlignment = static_cast<uint8_t>(s.place.halign);
    t.VertAlignment = static_cast<uint8_t>(s.place.valign);
    t.X = s.place.x;
    t.Y = s.place.y;
    t.Overlay = !s.place.underlay;
    document.ApplyWatermark(t, s.place.pages);
  }
  for (const TksStampOption& s : options.stamps) {
    // "\n" in the option's text is a line feed.
    std::string text;
    for (size_t i = 0; i < s.text.size(); ++i) {
      if (s.text[i] == '\\' && i + 1 < s.text.size() && s.text[i + 1] == 'n') {
        text += '\n';
        ++i;
      } else {
        text += s.text[i];
      }
    }
    TksTextWatermarkTemplate t;
    t.Text = ksplatform::Utf8ToUtf16(text);
    t.Font.Name = s.font;
    t.Font.Size = s.size;
    t.Font.Bold = s.bold;
    t.Font.Italic = s.italic;
    t.Font.Underline = s.underline;
    t.Font.StrikeOut = s.strikeout;
    t.Font.Color = s.color;
    // auto: chosen for each page from its text as drawn.
    t.AutoCharset = s.charset < 0;
    if (s.charset >= 0) t.Font.Charset = static_cast<uint8_t>(s.charset);
    t.OutlineColor = s.outlineColor;
    t.RenderMode = static_cast<uint8_t>(s.renderMode);
    t.Angle = s.angle;
    t.Opacity = s.opacity;
    t.HorzAlignment = static_cast<uint8_t>(s.halign);
    t.VertAlignment = static_cast<uint8_t>(s.valign);
    t.X = s.x;
    t.Y = s.y;
    t.Overlay = !s.underlay;
    t.Direction = s.vertical ? 1 : 0;
    t.Encoding = static_cast<uint8_t>(s.encoding);
    t.FontEmbedding = static_cast<uint8_t>(s.embed);
    if (!s.vars.empty()) {
      document.OnCalcVariables = [&s](TksCustomPDFDocument*, const std::u16string& name, std::u16string& value,
                                      int32_t) {
        const std::string key = ksplatform::Utf16ToUtf8(name);
        for (const auto& [n, v] : s.vars)
          if (n == key) {
            value = ksplatform::Utf8ToUtf16(v);
            return;
          }
        value = u"<%" + name + u"%>";  // not given: the placeholder stays
      };
    } else {
      document.OnCalcVariables = nullptr;
    }
    document.ApplyWatermark(t, s.pages);
  }
  document.OnCalcVariables = nullptr;
  if (options.formattedTexts.empty()) return;
  auto* layered = dynamic_cast<TksExPDFDocument*>(&document);
  if (!layered) throw std::logic_error("formatted text needs the layered document");
  for (const TksFormattedTextOption& f : options.formattedTexts)
    layered->DrawFormattedText(ksplatform::Utf8ToUtf16(f.markup), f.pages, f.x, f.y);
}
