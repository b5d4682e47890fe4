// The document's operations on single pages: rotation, boxes and units, transitions,
// page ranges and resources.
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "base/ksPDFResStrs.h"
#include "content/ksNumberText.h"
#include "content/ksPageEditor.h"
#include "document/ksCstPDFDoc.h"

namespace {

// The millimetre factor is this constant, not 72 / 25.4: sizes in millimetres must come
// out as they always have.
constexpr double kPointsPerMillimetre = 2.83464;
constexpr double kPointsPerTwip = 0.05;

// What ParsePageRange may produce for a document of pageCount pages: ranges can repeat
// pages, but a list many times the document is no range anyone means, only memory spent.
constexpr int64_t kPageListFactor = 64;

// What separates and surrounds the items of a range text: space and the control
// characters (NUL aside, which is an ordinary character that makes an item invalid).
bool IsBlank(char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The items of a comma-separated list: commas and blanks separate, double quotes group
// (a doubled quote inside stands for one). A comma after a separator yields an empty item.
std::vector<std::string> SplitItems(std::string_view text) {
  std::vector<std::string> items;
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && IsBlank(text[i])) ++i;
  };
  skipBlanks();
  while (i < text.size()) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < text.size()) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            item.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item.push_back(text[i++]);
      }
    } else {
      while (i < text.size() && !IsBlank(text[i]) && text[i] != ',') item.push_back(text[i++]);
    }
    items.push_back(std::move(item));
    skipBlanks();
    if (i < text.size() && text[i] == ',') {
      if (i + 1 == text.size()) items.emplace_back();  // a trailing comma ends in an empty item
      ++i;
      skipBlanks();
    }
  }
  return items;
}

// A 32-bit decimal integer with an optional sign, blanks around it allowed.
std::optional<int32_t> ParseInteger(std::string_view s) {
  s = Trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  int32_t value = 0;
  auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

// A duration as the text of a message, also when it is not finite.
std::string DurationText(float duration) {
  if (std::isnan(duration)) return "NaN";
  if (std::isinf(duration)) return duration > 0 ? "Infinity" : "-Infinity";
  return FloatToStrDot(duration);
}

// The double a single-precision duration stands for as written: 0.1f is 0.1, not
// 0.100000001490116.
double ShortestDouble(float value) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  double d = value;
  std::from_chars(buf, r.ptr, d);
  return d;
}

}  // namespace

// ---- rotation, boxes, units ----

int32_t TksCustomPDFDocument::PageRotation(int32_t pageNo) {
  TksPageEditor editor(*this);
  TksPDFObject* rotate = editor.Resolve(editor.PageDictionary(pageNo).Lookup("/Rotate"));
  std::optional<int64_t> value = IntegerValue(rotate);
  // A quarter turn written as a real (90.0) is still one.
  if (!value && rotate && rotate->ObjectType == otReal) {
    const double r = static_cast<TksPDFRealObject*>(rotate)->Value;
    if (std::isfinite(r) && r == std::trunc(r) && std::fabs(r) < 1e9) value = static_cast<int64_t>(r);
  }
  if (!value) return 0;
  // The value as it stands; only one too large for 32 bits is reduced to its turn.
  if (*value < INT32_MIN || *value > INT32_MAX) return static_cast<int32_t>(*value % 360);
  return static_cast<int32_t>(*value);
}

TksPageRect TksCustomPDFDocument::GetPageBox(int32_t pageNo, TksMeasurementUnit unit) {
  TksPageRect box = TksPageEditor(*this).VisibleBox(pageNo);
  return {FromPoints(unit, box.x1), FromPoints(unit, box.y1), FromPoints(unit, box.x2), FromPoints(unit, box.y2)};
}

std::pair<double, double> TksCustomPDFDocument::GetPageSize(int32_t pageNo, TksMeasurementUnit unit) {
  TksPageRect box = TksPageEditor(*this).VisibleBox(pageNo);
  return {FromPoints(unit, box.x2 - box.x1), FromPoints(unit, box.y2 - box.y1)};
}

double TksCustomPDFDocument::ToPoints(TksMeasurementUnit unit, double value) {
  switch (unit) {
    case muPixels: return value / kScreenPixelsPerInch * 72;
    case muInches: return value * 72;
    case muMM: return value * kPointsPerMillimetre;
    case muTwips: return value * kPointsPerTwip;
    case muPoints: break;
  }
  return value;
}

double TksCustomPDFDocument::FromPoints(TksMeasurementUnit unit, double value) {
  switch (unit) {
    case muPixels: return value * (kScreenPixelsPerInch / 72);
    case muInches: return value / 72;
    case muMM: return value / kPointsPerMillimetre;
    case muTwips: return value / kPointsPerTwip;
    case muPoints: break;
  }
  return value;
}

// ---- transitions ----

std::unique_ptr<TksPDFDictObject> TksCustomPDFDocument::CreateTransitionDict(uint8_t effect, float duration) {
  // Per effect, in the settings dialog's order: /S, and /Dm, /M and /Di where it has them
  // (empty or -1: none).
  struct Effect {
    const char* style;
    const char* dimension;
    const char* motion;
    int32_t direction;
  };
  static constexpr Effect kEffects[] = {
      {"/R", "", "", -1},                 // None
      {"/Split", "/H", "/I", -1},         // Split Horizontal Inward
      {"/Split", "/H", "/O", -1},         // Split Horizontal Outward
      {"/Split", "/V", "/I", -1},         // Split Vertical Inward
      {"/Split", "/V", "/O", -1},         // Split Vertical Outward
      {"/Blinds", "/H", "", -1},          // Blinds Horizontal
      {"/Blinds", "/V", "", -1},          // Blinds Vertical
      {"/Box", "", "/I", -1},             // Box Inward
      {"/Box", "", "/O", -1},             // Box Outward
      {"/Wipe", "", "", 0},               // Wipe Left To Right
      {"/Wipe", "", "", 90},              // Wipe Bottom To Top
      {"/Wipe", "", "", 180},             // Wipe Right To Left
      {"/Wipe", "", "", 270},             // Wipe Top To Bottom
      {"/Dissolve", "", "", -1},          // Dissolve
      {"/Glitter", "", "", 0},            // Glitter Left To Right
      {"/Glitter", "", "", 270},          // Glitter Top To Bottom
      {"/Glitter", "", "", 315},          // Glitter Top-Left To Bottom-Right
  };
  const Effect& e = kEffects[effect < std::size(kEffects) ? effect : 0];
  auto dict = std::make_unique<TksPDFDictObject>();
  dict->AddName("/Type", "/Trans");
  dict->AddReal("/D", ShortestDouble(duration));
  dict->AddName("/S", e.style);
  dict->AddName("/Dm", e.dimension);
  dict->AddName("/M", e.motion);
  if (e.direction >= 0) dict->AddInteger("/Di", e.direction);
  return dict;
}

void TksCustomPDFDocument::SetPageTransition(const std::string& pageRange, uint8_t effect, float duration) {
  // Refused before any page changes, as a bad range is.
  if (!std::isfinite(duration) || duration < 0)
    throw EInvalidValueError(ksFormat(ksres::SInvalidTransitionDuration, DurationText(duration).c_str()));
  const std::vector<int32_t> pages = ParsePageRange(pageRange, PageCount());
  TksPageEditor editor(*this);
  if (!pages.empty()) editor.NoteChange();
  for (int32_t pageNo : pages) {
    TksPDFDictObject& page = editor.PageDictionary(pageNo);
    page.SetObject("/Dur", std::make_unique<TksPDFRealObject>(ShortestDouble(duration)));
    page.SetObject("/Trans", CreateTransitionDict(effect, duration));
  }
}

// ---- page ranges ----

std::vector<int32_t> TksCustomPDFDocument::ParsePageRange(const std::string& text, int32_t pageCount) {
  const std::string whole = text.empty() ? "1-" + std::to_string(pageCount) : text;
  auto rangeError = [](std::string_view shown) {
    return EInvalidPageError(ksFormat(ksres::SInvalidPageRange, std::string(shown).c_str()));
  };
  const int64_t cap = kPageListFactor * std::max<int64_t>(pageCount, 1);
  std::vector<int32_t> pages;
  for (const std::string& item : SplitItems(whole)) {
    const size_t dash = item.find('-');
    if (dash == std::string::npos) {
      std::optional<int32_t> page = ParseInteger(item);
      if (!page) throw rangeError(whole);
      if (*page < 1 || *page > pageCount) throw EInvalidPageError(ksFormat(ksres::SInvalidPage, *page));
      if (static_cast<int64_t>(pages.size()) >= cap) throw rangeError(item);
      pages.push_back(*page);
      continue;
    }
    std::string_view startText = Trim(std::string_view(item).substr(0, dash));
    std::string_view endText = Trim(std::string_view(item).substr(dash + 1));
    const std::string countText = std::to_string(pageCount);
    std::optional<int32_t> start = startText.empty() ? 1 : ParseInteger(startText);
    std::optional<int32_t> end = endText.empty() ? ParseInteger(countText) : ParseInteger(endText);
    if (!start || !end) throw rangeError(whole);
    // Every bound is checked before the list grows: "1-2147483647" is refused at once.
    if (*start < 1 || *end < *start || *end > pageCount) throw rangeError(item);
    if (static_cast<int64_t>(pages.size()) + (*end - *start + 1) > cap) throw rangeError(item);
    for (int32_t page = *start; page <= *end; ++page) pages.push_back(page);
  }
  return pages;
}

// ---- resources ----

void TksCustomPDFDocument::AddPageResource(TksPDFDictObject* resources, std::string_view category,
                                           std::string_view name, const TksPDFIndirectReference& reference) {
  if (!resources) throw EUnexpectedError(ksres::SInsertingPageResource);
  TksPageEditor editor(*this);
  TksPDFDictObject* entries = editor.Category(*resources, category);
  if (!entries) {
    const int32_t index = resources->IndexOfKey(category);
    // A null or an entry that leads nowhere holds no resources; a new dictionary does.
    if (index >= 0) editor.Warning(ksFormat(ksres::SResourceCategoryReplaced, std::string(category).c_str()));
    resources->SetObject(category, std::make_unique<TksPDFDictObject>());
    entries = AsDict(resources->Lookup(category));
  }
  // An entry of that name stays: content already drawn may use it.
  if (entries->IndexOfKey(name) >= 0) return;
  entries->AddObject(name, reference.Clone());
  editor.MarkTarget(reference);
}

void TksCustomPDFDocument::AddExtGStateToPage(int32_t pageIndex, std::string_view name,
                                              const TksPDFIndirectReference* reference) {
  if (!reference) return;
  AddPageResource(TksPageEditor(*this).Resources(pageIndex + 1, true), "/ExtGState", name, *reference);
}

std::string TksCustomPDFDocument::NewPageResourceName(std::string_view category, std::string_view prefix,
                                                      const std::vector<int32_t>& pageNumbers) {
  TksPageEditor editor(*this);
  // A name a page uses already would make its content draw with the new object.
  while (true) {
    std::string name(prefix);
    name += std::to_string(editor.NextNameNumber());
    bool used = false;
    for (int32_t pageNo : pageNumbers) {
      TksPDFDictObject* resources = editor.Resources(pageNo, false);
      TksPDFDictObject* entries = resources ? editor.Category(*resources, category) : nullptr;
      if (entries && entries->IndexOfKey(name) >= 0) {
        used = true;
        break;
      }
    }
    if (!used) return name;
  }
}
