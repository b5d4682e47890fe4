// Stamping text onto pages: placeholders, the font, the placement on the page as it is
// shown, and the content stream of each page.
#include "content/ksWatermark.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>

#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"
#include "content/ksFontResources.h"
#include "content/ksNumberText.h"
#include "content/ksPageEditor.h"
#include "ksDates.h"

namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

size_t FindNoCase(const std::u16string& text, std::u16string_view what, size_t from) {
  if (what.empty() || text.size() < what.size()) return std::u16string::npos;
  for (size_t i = from; i + what.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < what.size() && Lower(text[i + k]) == Lower(what[k])) ++k;
    if (k == what.size()) return i;
  }
  return std::u16string::npos;
}

std::u16string Utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string Colour(const TksColor& c, const char* op) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%1.4f %1.4f %1.4f %s\r", c.R / 255.0, c.G / 255.0, c.B / 255.0, op);
  return buf;
}

// Literal-string escaping; a line feed ends the string, shows it and starts the next line.
std::string Escaped(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '(': out += "\\("; break;
      case ')': out += "\\)"; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += ")Tj T* ("; break;
      default: out += c;
    }
  }
  return out;
}

// A coordinate too close to 0 to matter is written as 0.
double Snap(double v) { return std::abs(v) < 0.1 ? 0 : v; }

}  // namespace

// ---- placeholders ----

void ReplacePlaceholder(std::u16string& text, std::u16string_view placeholder, std::u16string_view value) {
  size_t at = 0;
  while ((at = FindNoCase(text, placeholder, at)) != std::u16string::npos) {
    text.replace(at, placeholder.size(), value);
    at += value.size();  // the value itself is never searched
  }
}

void ReplaceOncePlaceholders(TksCustomPDFDocument& document, std::u16string& text) {
  if (FindNoCase(text, u"<%", 0) == std::u16string::npos) return;
  const int64_t now = ksplatform::StampTime();
  ReplacePlaceholder(text, u"<%TotPage%>", Utf16(std::to_string(document.PageCount())));
  if (FindNoCase(text, u"<%ShortDate%>", 0) != std::u16string::npos)
    ReplacePlaceholder(text, u"<%ShortDate%>", ksplatform::FormatDate(now, ksplatform::DateStyle::Short));
  if (FindNoCase(text, u"<%ShortTime%>", 0) != std::u16string::npos)
    ReplacePlaceholder(text, u"<%ShortTime%>", ksplatform::FormatTime(now, ksplatform::DateStyle::Short));
  if (FindNoCase(text, u"<%LongDate%>", 0) != std::u16string::npos)
    ReplacePlaceholder(text, u"<%LongDate%>", ksplatform::FormatDate(now, ksplatform::DateStyle::Long));
  if (FindNoCase(text, u"<%LongTime%>", 0) != std::u16string::npos)
    ReplacePlaceholder(text, u"<%LongTime%>", ksplatform::FormatTime(now, ksplatform::DateStyle::Long));
  ReplacePlaceholder(text, u"<%Author%>", document.Info().Author());
  ReplacePlaceholder(text, u"<%Creator%>", document.Info().Creator());
  ReplacePlaceholder(text, u"<%Subject%>", document.Info().Subject());
  ReplacePlaceholder(text, u"<%Title%>", document.Info().Title());
}

void ReplaceCallerPlaceholders(std::u16string& text,
                               const std::function<void(const std::u16string& name, std::u16string& value)>& calc) {
  std::u16string out;
  std::map<std::u16string, std::u16string> values;  // by the name in lower case
  size_t pos = 0;
  for (;;) {
    const size_t open = text.find(u"<%", pos);
    if (open == std::u16string::npos) break;
    const size_t close = text.find(u"%>", open + 2);
    if (close == std::u16string::npos) break;
    const size_t reopen = text.find(u"<%", open + 2);
    if (close - open - 2 < 1 || (reopen != std::u16string::npos && reopen < close)) {
      out.append(text, pos, close + 2 - pos);  // not a placeholder: kept as it stands
      pos = close + 2;
      continue;
    }
    const std::u16string name = text.substr(open + 2, close - open - 2);
    std::u16string key = name;
    for (char16_t& c : key) c = Lower(c);
    auto it = values.find(key);
    if (it == values.end()) {
      std::u16string value;
      calc(name, value);
      it = values.emplace(key, std::move(value)).first;
    }
    out.append(text, pos, open - pos);
    out += it->second;  // appended, so never scanned again
    pos = close + 2;
  }
  out.append(text, pos, std::u16string::npos);
  text = std::move(out);
}

// ---- placement ----

TksPlacement PlaceBox(const TksCustomWatermarkTemplate& t, double u, double v, double left, double bottom,
                      double right, double top) {
  // The box turned by the angle, and the start that puts its bounds at the anchor.
  const double a = t.Angle * std::numbers::pi / 180;
  const double ca = std::cos(a), sa = std::sin(a);
  double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
  for (const auto& [px, py] : {std::pair{left, top}, {right, top}, {left, bottom}, {right, bottom}}) {
    const double rx = px * ca - py * sa, ry = px * sa + py * ca;
    minX = std::min(minX, rx), maxX = std::max(maxX, rx), minY = std::min(minY, ry), maxY = std::max(maxY, ry);
  }
  switch (t.HorzAlignment) {
    case 1: u -= (minX + maxX) / 2; break;
    case 2: u -= maxX; break;
    default: u -= minX;
  }
  switch (t.VertAlignment) {
    case 1: v -= (minY + maxY) / 2; break;
    case 2: v -= minY; break;
    default: v -= maxY;
  }
  // From the page as shown to the page's own space.
  const TksPageRect& b = t.Context.Box;
  TksPlacement p;
  switch (t.Context.Rotation) {
    case 90: p.X = b.x2 - v, p.Y = b.y1 + u; break;
    case 180: p.X = b.x2 - u, p.Y = b.y2 - v; break;
    case 270: p.X = b.x1 + v, p.Y = b.y2 - u; break;
    default: p.X = b.x1 + u, p.Y = b.y1 + v;
  }
  p.X = Snap(p.X), p.Y = Snap(p.Y);
  p.Angle = t.Angle + t.Context.Rotation;
  return p;
}

// ---- the template ----

TksTextWatermarkTemplate::TksTextWatermarkTemplate() { Font.Charset = 0; }

void TksTextWatermarkTemplate::CheckFields() const {
  const auto check = [](int32_t value, int32_t high, const char* field) {
    if (value < 0 || value > high) throw EInvalidValueError(ksFormat(ksres::SStampFieldOutOfRange, field, value, high));
  };
  check(HorzAlignment, 3, "HorzAlignment");
  check(VertAlignment, 3, "VertAlignment");
  check(Direction, 1, "Direction");
  check(RenderMode, 7, "RenderMode");
  check(FontEmbedding, 2, "FontEmbedding");
  check(Encoding, kFontEncodingCount - 1, "Encoding");
  if (!std::isfinite(Font.Size) || Font.Size <= 0 || Font.Size > 10000)
    throw EInvalidValueError(ksFormat(ksres::SStampFontSize, FloatToStrDot(std::isfinite(Font.Size) ? Font.Size : 0).c_str()));
  CheckFontRequest(FontEmbedding, Encoding);
}

void TksTextWatermarkTemplate::BuildContent(const std::string& fontResourceName, const std::string& gstateResourceName,
                                            std::string& content, TksMeasurementUnit unit, double x, double y) {
  (void)unit;
  TksStampContext& ctx = Context;
  if (!ctx.Font) throw EUnexpectedError(ksres::SStampWithoutFont);
  TksPDFFont& font = *ctx.Font;
  const double size = Font.Size;
  const bool composite = !font.IsWestern();
  const std::array<int32_t, 224> widths = composite ? std::array<int32_t, 224>{} : font.WidthsFor(ctx.Encoding);

  // The lines (or, for vertical text, the characters) as they will be shown.
  struct Piece {
    std::u32string Characters;  // those the font shows
    std::string Codes;          // bytes of a simple font, hex digits of a composite one
  };
  std::vector<Piece> pieces;
  const std::u32string all = ToCharacters(Text);
  // Whether the font shows c: a glyph of a composite font, a code of the encoding whose
  // glyph an embeddable face has.
  const auto shows = [&](char32_t c) {
    if (composite) return font.GlyphOf(c).has_value();
    return FontEncodingCode(ctx.Encoding, c) && (font.Info().FontKind != ftkTrueType || font.GlyphOf(c) || c == U' ');
  };
  const auto add = [&](std::u32string_view chars) {
    Piece p;
    for (char32_t c : chars) {
      if (!shows(c)) {
        // A character with a plain equivalent is drawn as it, and is not missed.
        const std::optional<char32_t> plain = PlainEquivalent(c);
        if (!plain || !shows(*plain)) { ++ctx.Dropped; continue; }
        c = *plain;
      }
      if (composite) p.Codes += font.EncodeTextForFont(std::u32string_view(&c, 1));
      else p.Codes += static_cast<char>(*FontEncodingCode(ctx.Encoding, c));
      p.Characters += c;
    }
    font.RecordDrawn(p.Characters);
    pieces.push_back(std::move(p));
  };
  if (Direction == 1) {
    for (char32_t c : all)
      if (c != U'\n') add(std::u32string_view(&c, 1));
  } else {
    size_t start = 0;
    for (size_t i = 0; i <= all.size(); ++i)
      if (i == all.size() || all[i] == U'\n') {
        add(std::u32string_view(all).substr(start, i - start));
        start = i + 1;
      }
  }

  // The spacing that makes the PDF widths add up to the width the face measures.
  const auto pdfWidth = [&](char32_t c, std::string_view code) -> double {
    if (composite) {
      auto glyph = font.GlyphOf(c);
      return glyph && *glyph < font.GlyphWidths.size() ? font.GlyphWidths[*glyph] : 0;
    }
    const auto b = static_cast<unsigned char>(code[0]);
    return b >= 32 ? widths[b - 32] : 0;
  };
  double measured = 0, sum = 0;
  int64_t count = 0;
  std::vector<double> lineWidth;  // in points, with the spacing
  for (const Piece& p : pieces) {
    double w = 0;
    for (size_t i = 0; i < p.Characters.size(); ++i)
      w += pdfWidth(p.Characters[i], composite ? std::string_view() : std::string_view(p.Codes).substr(i, 1));
    sum += w;
    measured += font.MeasuredWidth(p.Characters, size);
    count += static_cast<int64_t>(p.Characters.size());
    lineWidth.push_back(w * size / 1000);
  }
  double tc = count > 0 ? (measured - sum * size / 1000) / static_cast<double>(count) : 0;
  if (std::abs(tc) < 0.0001) tc = 0;
  for (size_t i = 0; i < pieces.size(); ++i) lineWidth[i] += tc * static_cast<double>(pieces[i].Characters.size());

  // The text's box around the first baseline's start, and the start that puts the box,
  // turned by the angle, at the anchor on the page as shown.
  const double ascent = font.Info().Ascent * size / 1000;
  const double descent = std::abs(font.Info().Descent) * size / 1000;
  const double step = size;
  const double boxWidth = lineWidth.empty() ? 0 : *std::max_element(lineWidth.begin(), lineWidth.end());
  const double boxBottom = -descent - static_cast<double>(std::max<size_t>(pieces.size(), 1) - 1) * step;
  const TksPlacement at = PlaceBox(*this, x, y, 0, boxBottom, boxWidth, ascent);
  const double angle = at.Angle * std::numbers::pi / 180;
  const std::string c = FloatToStrFDot(std::cos(angle), 10, 4), s = FloatToStrFDot(std::sin(angle), 10, 4),
                    ns = FloatToStrFDot(-std::sin(angle), 10, 4);
  const std::string matrix = c + " " + s + " " + ns + " " + c + " " + FloatToStrFDot(at.X, 10, 3) + " " +
                             FloatToStrFDot(at.Y, 10, 3);

  std::string out = "q\rBT\r";
  out += FloatToStrFDot(tc, 18, 8) + " Tc 0 Tw 100 Tz " + std::to_string(std::lround(size)) + " TL \r";
  out += Colour(Font.Color, "rg");
  out += Colour(OutlineColor, "RG");
  out += std::to_string(RenderMode) + " Tr\r";
  out += fontResourceName + " " + FloatToStrDot(size) + " Tf\r";
  out += matrix + " Tm\r";
  const std::string gs = gstateResourceName.empty() ? std::string() : " " + gstateResourceName + " gs \r";
  const std::string down = "0 " + FloatToStrDot(-step) + " Td\r";
  if (Direction == 1) {
    for (const Piece& p : pieces) {
      out += gs;
      out += composite ? "<" + p.Codes + "> Tj\r" : "(" + Escaped(p.Codes) + ") Tj\r";
      out += down;
    }
  } else {
    out += gs;
    std::string shown;
    for (size_t i = 0; i < pieces.size(); ++i) {
      if (composite) {
        out += (i ? "T* <" : "<") + pieces[i].Codes + "> Tj" + (i + 1 < pieces.size() ? " " : "");
      } else {
        shown += (i ? "\n" : "") + pieces[i].Codes;
      }
    }
    if (!composite) out += "(" + Escaped(shown) + ") Tj";
    out += "\r";
  }
  out += "\rET\r";

  // Underline and strike-out: a line under (through) each run of non-blank characters.
  const auto decorate = [&](double position, double thickness) {
    if (thickness <= 0) return;
    const std::string w = FloatToStrDot(thickness) + " w\r";
    std::string path;
    for (size_t i = 0; i < pieces.size(); ++i) {
      const Piece& p = pieces[i];
      const double baseline = -static_cast<double>(i) * step;
      double xPos = 0, runStart = -1;
      for (size_t k = 0; k <= p.Characters.size(); ++k) {
        const bool blank = k == p.Characters.size() || p.Characters[k] == U' ';
        if (blank && runStart >= 0) {
          const double yy = baseline + position;
          path += FloatToStrFDot(runStart, 10, 3) + " " + FloatToStrFDot(yy, 10, 3) + " m " +
                  FloatToStrFDot(xPos, 10, 3) + " " + FloatToStrFDot(yy, 10, 3) + " l B\r";
          runStart = -1;
        }
        if (k == p.Characters.size()) break;
        if (!blank && runStart < 0) runStart = xPos;
        xPos += pdfWidth(p.Characters[k], composite ? std::string_view() : std::string_view(p.Codes).substr(k, 1)) *
                    size / 1000 + tc;
      }
    }
    if (path.empty()) return;
    out += "q\r" + matrix + " cm\r" + w + Colour(Font.Color, "rg") + Colour(Font.Color, "RG") + path + "Q\r";
  };
  if (Font.Underline) decorate(font.Info().UnderlinePosition, font.Info().UnderlineThickness);
  if (Font.StrikeOut)
    decorate(font.Info().StrikeoutPosition - font.Info().StrikeoutThickness / 2, font.Info().StrikeoutThickness);
  out += "Q\r\n";
  content = std::move(out);
}

// ---- the processor ----

size_t TksWatermarkProcessor::BoxHash::operator()(const TksPageRect& r) const {
  const std::hash<double> h;
  size_t seed = h(r.x1);
  for (double v : {r.y1, r.x2, r.y2}) seed ^= h(v) + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2);
  return seed;
}

int32_t TksWatermarkProcessor::FindPageRect(const TksPageRect& box) const {
  auto it = boxIndex_.find(box);
  return it == boxIndex_.end() ? -1 : it->second;
}

TksPDFIndirectObject* TksWatermarkProcessor::BuildPageStream(const std::string& fontResourceName,
                                                             const std::string& gstateResourceName,
                                                             const TksPageRect& box) {
  auto* custom = dynamic_cast<TksCustomWatermarkTemplate*>(&template_);
  // The anchor on the page as shown, from its lower left corner.
  const int32_t rotation = custom ? custom->Context.Rotation : 0;
  const bool turned = rotation == 90 || rotation == 270;
  const double width = turned ? box.y2 - box.y1 : box.x2 - box.x1;
  const double height = turned ? box.x2 - box.x1 : box.y2 - box.y1;
  double x = 0, y = height;
  if (custom) {
    switch (custom->HorzAlignment) {
      case 1: x = width / 2; break;
      case 2: x = width; break;
      case 3: x = TksCustomPDFDocument::ToPoints(unit_, custom->X); break;
      default: x = 0;
    }
    switch (custom->VertAlignment) {
      case 1: y = height / 2; break;
      case 2: y = 0; break;
      case 3: y = height - TksCustomPDFDocument::ToPoints(unit_, custom->Y); break;
      default: y = height;
    }
  }
  std::string content;
  template_.BuildContent(fontResourceName, gstateResourceName, content, unit_, x, y);
  TksPageEditor editor(document_);
  TksPDFIndirectObject* stream = editor.AddStream(content);
  stream->MarkUsed();
  streams_.push_back(stream->ReferenceTo());
  if (FindPageRect(box) < 0) boxIndex_.emplace(box, static_cast<int32_t>(boxes_.size()));
  boxes_.push_back(box);
  return stream;
}

// ---- pictures ----

std::pair<double, double> TksImageWatermarkTemplate::SizeInPoints(TksMeasurementUnit unit) const {
  const double pw = static_cast<double>(Picture->Width()) * 72 / ksplatform::kScreenPixelsPerInch;
  const double ph = static_cast<double>(Picture->Height()) * 72 / ksplatform::kScreenPixelsPerInch;
  double w = Width > 0 ? TksCustomPDFDocument::ToPoints(unit, Width) : 0;
  double h = Height > 0 ? TksCustomPDFDocument::ToPoints(unit, Height) : 0;
  if (w == 0 && h == 0) return {pw, ph};
  if (w == 0) w = h * pw / ph;
  if (h == 0) h = w * ph / pw;
  return {w, h};
}

void TksImageWatermarkTemplate::BuildContent(const std::string& fontResourceName,
                                             const std::string& gstateResourceName, std::string& content,
                                             TksMeasurementUnit unit, double x, double y) {
  const auto [w, h] = SizeInPoints(unit);
  const TksPlacement at = PlaceBox(*this, x, y, 0, 0, w, h);
  const double a = at.Angle * std::numbers::pi / 180;
  const double ca = std::cos(a), sa = std::sin(a);
  std::string out = "q\r";
  if (!gstateResourceName.empty()) out += gstateResourceName + " gs\r";
  out += FloatToStrFDot(w * ca, 15, 4) + " " + FloatToStrFDot(w * sa, 15, 4) + " " + FloatToStrFDot(-h * sa, 15, 4) +
         " " + FloatToStrFDot(h * ca, 15, 4) + " " + FloatToStrFDot(at.X, 15, 3) + " " + FloatToStrFDot(at.Y, 15, 3) +
         " cm\r";
  out += fontResourceName + " Do\rQ\r\n";
  content = std::move(out);
}

namespace {

void ApplyImageWatermark(TksCustomPDFDocument& document, TksImageWatermarkTemplate& stamp,
                         const std::string& pageRange) {
  if (!stamp.Picture) throw EInvalidValueError(ksres::SStampWithoutPicture);
  const auto check = [](int32_t value, int32_t high, const char* field) {
    if (value < 0 || value > high) throw EInvalidValueError(ksFormat(ksres::SStampFieldOutOfRange, field, value, high));
  };
  check(stamp.HorzAlignment, 3, "HorzAlignment");
  check(stamp.VertAlignment, 3, "VertAlignment");
  if (!std::isfinite(stamp.Width) || !std::isfinite(stamp.Height) || stamp.Width < 0 || stamp.Height < 0)
    throw EInvalidValueError(ksres::SStampImageSize);
  const int32_t opacity = std::clamp(stamp.Opacity, 0, 100);
  stamp.Angle %= 360;
  const std::vector<int32_t> pages = TksCustomPDFDocument::ParsePageRange(pageRange, document.PageCount());
  struct Restore {
    TksImageWatermarkTemplate& t;
    ~Restore() { t.Context = TksStampContext(); }
  } restore{stamp};

  // One image object for every page; made before any page is touched.
  const std::string imageName = document.NewPageResourceName("/XObject", "/VelImg", pages);
  std::unique_ptr<TksPDFIndirectReference> image = document.AddImageResource(*stamp.Picture, imageName);
  std::unique_ptr<TksPDFIndirectReference> gstate;
  std::string gstateName;
  if (opacity != 100) {
    gstate = document.CreateOpacityGState(opacity, opacity);
    gstateName = document.NewPageResourceName("/ExtGState", "/GS", pages);
  }
  TksPageEditor editor(document);
  TksWatermarkProcessor processor(document, document.MeasurementUnit, stamp);
  for (int32_t pageNo : pages) {
    TksPDFDictObject* resources = editor.Resources(pageNo, true);
    std::string name = imageName;
    if (TksPDFDictObject* xobjects = editor.Category(*resources, "/XObject"))
      if (xobjects->Lookup(name)) name = document.NewPageResourceName("/XObject", "/VelImg", {pageNo});
    document.AddPageResource(resources, "/XObject", name, *image);
    document.AddExtGStateToPage(pageNo - 1, gstateName, gstate.get());
    stamp.Context = TksStampContext();
    stamp.Context.Box = document.GetPageBox(pageNo, muPoints);
    stamp.Context.Rotation = ((document.PageRotation(pageNo) % 360 + 360) % 360) / 90 * 90;
    TksPDFIndirectObject* stream = processor.BuildPageStream(name, gstateName, stamp.Context.Box);
    document.AppendPageContent(pageNo - 1, *stream->ReferenceTo(), stamp.Overlay);
  }
}

}  // namespace

// ---- applying a template ----

void TksCustomPDFDocument::ApplyWatermark(TksWatermarkTemplate& templ, const std::string& pageRange) {
  if (auto* picture = dynamic_cast<TksImageWatermarkTemplate*>(&templ)) {
    ApplyImageWatermark(*this, *picture, pageRange);
    return;
  }
  auto* stamp = dynamic_cast<TksTextWatermarkTemplate*>(&templ);
  if (!stamp) throw EInvalidValueError(ksres::SStampKindUnknown);
  if (stamp->Text.empty()) return;
  // Everything that can be refused is settled before the first page is touched.
  stamp->CheckFields();
  const int32_t opacity = std::clamp(stamp->Opacity, 0, 100);
  ReplaceOncePlaceholders(*this, stamp->Text);
  const std::u16string pattern = stamp->Text;
  stamp->Angle %= 360;
  const std::vector<int32_t> pages = ParsePageRange(pageRange, PageCount());

  // The template keeps its pattern, however the application ends.
  struct Restore {
    TksTextWatermarkTemplate& t;
    std::u16string pattern;
    ~Restore() {
      t.Text = pattern;
      t.Context = TksStampContext();
    }
  } restore{*stamp, pattern};

  TksPageEditor editor(*this);
  TksFontRegistry& registry = TksFontRegistry::Of(*this);

  // The text of each page as drawn, and the character set it is drawn with.
  struct PageText {
    int32_t PageNo;
    std::u16string Text;
    uint8_t Charset;
  };
  std::vector<PageText> texts;
  texts.reserve(pages.size());
  for (int32_t pageNo : pages) {
    std::u16string text = pattern;
    ReplacePlaceholder(text, u"<%PageNo%>", Utf16(std::to_string(pageNo)));
    if (OnCalcVariables)
      ReplaceCallerPlaceholders(text, [&](const std::u16string& name, std::u16string& value) {
        OnCalcVariables(this, name, value, pageNo);
      });
    const uint8_t charset = stamp->AutoCharset ? CharsetForText(ToCharacters(text)) : stamp->Font.Charset;
    texts.push_back({pageNo, std::move(text), charset});
  }

  // One font per character set drawn; all made before any page is touched, so a font
  // that cannot be made changes nothing.
  struct StampFont {
    std::unique_ptr<TksPDFFont> Own;
    TksPDFFont* Measure = nullptr;
    TksWantedFont Wanted;
    TksCreatedFont* Created = nullptr;
    std::string CreatedName;
  };
  std::map<uint8_t, StampFont> stampFonts;
  for (const PageText& t : texts) {
    if (t.Text.empty() || stampFonts.count(t.Charset)) continue;
    TksFont face = stamp->Font;
    face.Charset = t.Charset;
    StampFont f;
    f.Own = std::make_unique<TksPDFFont>(face, false, true, this);
    f.Measure = f.Own.get();
    f.Wanted = WantedFontOf(*f.Measure, stamp->FontEmbedding, stamp->Encoding);
    stampFonts.emplace(t.Charset, std::move(f));
  }
  std::unique_ptr<TksPDFIndirectReference> gstate;
  std::string gstateName;
  if (opacity != 100) {
    gstate = CreateOpacityGState(opacity, opacity);
    gstateName = NewPageResourceName("/ExtGState", "/GS", pages);
  }
  if (stamp->Overlay) EnsureBracketStreams();
  TksWatermarkProcessor processor(*this, MeasurementUnit, *stamp);

  int32_t dropped = 0;
  for (PageText& page : texts) {
    const int32_t pageNo = page.PageNo;
    stamp->LastDrawnText = page.Text;
    if (page.Text.empty()) continue;  // nothing to draw on this page
    const std::u16string& text = page.Text;
    StampFont& sf = stampFonts.at(page.Charset);

    // The page's own equal font when it has one, else the one this application made.
    TksPDFDictObject* resources = editor.Resources(pageNo, true);
    TksPDFDictObject* fonts = editor.Category(*resources, "/Font");
    std::string name;
    int32_t number = -1;
    TksPDFFont* font = sf.Measure;
    if (fonts) name = MatchingFontKey(editor, *fonts, sf.Wanted, stamp->Encoding, ToCharacters(text), &number);
    if (!name.empty()) {
      if (TksCreatedFont* own = registry.FindObject(number)) font = own->Font.get();
    } else {
      if (!sf.Created) {
        sf.CreatedName = NewPageResourceName("/Font", "/VelFnt", pages);
        sf.Created = CreateFontResource(*this, std::move(sf.Own), sf.CreatedName, stamp->FontEmbedding,
                                        stamp->Encoding, ToCharacters(text));
        sf.Measure = sf.Created->Font.get();
      }
      font = sf.Created->Font.get();
      TksPDFIndirectReference ref(DocumentID, sf.Created->FontObject, 0);
      name = sf.CreatedName;
      // A page whose fonts hold this name for another object gets a name of its own.
      if (fonts && fonts->Lookup(name)) name = NewPageResourceName("/Font", "/VelFnt", {pageNo});
      AddPageResource(resources, "/Font", name, ref);
    }
    AddExtGStateToPage(pageNo - 1, gstateName, gstate.get());

    stamp->Text = text;
    stamp->Context = TksStampContext();
    stamp->Context.Font = font;
    stamp->Context.Encoding = stamp->Encoding;
    stamp->Context.Box = GetPageBox(pageNo, muPoints);
    stamp->Context.Rotation = ((PageRotation(pageNo) % 360 + 360) % 360) / 90 * 90;
    TksPDFIndirectObject* stream = processor.BuildPageStream(name, gstateName, stamp->Context.Box);
    dropped = std::max(dropped, stamp->Context.Dropped);  // the most any page lost
    AppendPageContent(pageNo - 1, *stream->ReferenceTo(), stamp->Overlay);
  }
  if (dropped > 0) Warning(ksFormat(ksres::SStampCharactersDropped, stamp->Font.Name.c_str(), dropped));
}
