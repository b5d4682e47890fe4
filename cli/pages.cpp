// The page options: transitions, content put on pages, and --page-info.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "commands.h"
#include "base/ksExceptions.h"
#include "content/ksNumberText.h"
#include "document/ksCstPDFDoc.h"

namespace {

constexpr const char* kUnitNames[] = {"pixels", "points", "inches", "mm", "twips"};

// Effect names in the order of their numbers.
constexpr const char* kTransitionNames[] = {"none",
                                            "split-horizontal-inward",
                                            "split-horizontal-outward",
                                            "split-vertical-inward",
                                            "split-vertical-outward",
                                            "blinds-horizontal",
                                            "blinds-vertical",
                                            "box-inward",
                                            "box-outward",
                                            "wipe-left-to-right",
                                            "wipe-bottom-to-top",
                                            "wipe-right-to-left",
                                            "wipe-top-to-bottom",
                                            "dissolve",
                                            "glitter-left-to-right",
                                            "glitter-top-to-bottom",
                                            "glitter-top-left-to-bottom-right"};

std::string ReadContentFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read content file \"" + name + "\": " + std::strerror(errno));
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read content file \"" + name + "\": " + std::strerror(errno));
  return bytes;
}

// Up to four decimals, without trailing zeros: 612, 4.1667, -0.5.
std::string Decimals4(double value) {
  std::string text = FloatToStrFDot(value, 17, 4);
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text == "-0" ? "0" : text;
}

}  // namespace

std::optional<double> NumberOption(const char* text) {
  try {
    return StrToFloatDot(text);  // refuses what is not finite
  } catch (const Exception&) {
    return std::nullopt;
  }
}

std::string CheckReach(const TksCliOptions& options) {
  const auto unit = static_cast<TksMeasurementUnit>(options.unit);
  std::string error;
  const auto check = [&](const char* option, double value) {
    if (!error.empty() || std::fabs(TksCustomPDFDocument::ToPoints(unit, value)) <= kMaxReachPoints) return;
    char shown[32];
    std::snprintf(shown, sizeof shown, "%.10g", value);
    error = std::string(option) + "=" + shown + " (" + kUnitNames[options.unit] +
            ") is beyond the page's reach: at most " + Decimals4(kMaxReachPoints) + " points (" +
            Decimals4(kMaxReachPoints / 72) + " inches) either way";
  };
  for (const TksContentOption& c : options.contents) {
    check("--add-content --offset X", c.offsetX);
    check("--add-content --offset Y", c.offsetY);
  }
  for (const TksStampOption& s : options.stamps) {
    check("--stamp --x", s.x);
    check("--stamp --y", s.y);
  }
  for (const TksImageStampOption& s : options.imageStamps) {
    check("--stamp-image --x", s.place.x);
    check("--stamp-image --y", s.place.y);
    check("--stamp-image --width", s.width);
    check("--stamp-image --height", s.height);
  }
  for (const TksFormattedTextOption& f : options.formattedTexts) {
    check("--formatted-text --x", f.x);
    check("--formatted-text --y", f.y);
  }
  return error;
}

int UnitFromText(const std::string& text) {
  for (int i = 0; i < static_cast<int>(std::size(kUnitNames)); ++i)
    if (text == kUnitNames[i]) return i;
  return -1;
}

int TransitionFromText(const std::string& text) {
  for (int i = 0; i < static_cast<int>(std::size(kTransitionNames)); ++i)
    if (text == kTransitionNames[i] || text == std::to_string(i)) return i;
  return -1;
}

std::string TransitionNames() {
  std::string names;
  for (const char* name : kTransitionNames) names += (names.empty() ? "" : ", ") + std::string(name);
  return names;
}

void ApplyPageOptions(TksCustomPDFDocument& document, const TksCliOptions& options) {
  document.MeasurementUnit = static_cast<TksMeasurementUnit>(options.unit);
  if (options.hasTransition) {
    // The engine takes single precision; beyond its range the duration is endless, and
    // the engine says so (a plain conversion would be undefined there).
    const double d = options.transitionDuration;
    const float duration = std::fabs(d) <= std::numeric_limits<float>::max()
                               ? static_cast<float>(d)
                               : std::copysign(std::numeric_limits<float>::infinity(), static_cast<float>(d > 0 ? 1 : -1));
    document.SetPageTransition(options.transitionPages, static_cast<uint8_t>(options.transitionEffect), duration);
  }
  for (const TksContentOption& c : options.contents) {
    TksContentPlacement placement;
    placement.Overlay = !c.underlay;
    placement.Opacity = c.opacity;
    placement.OffsetX = c.offsetX;
    placement.OffsetY = c.offsetY;
    document.AttachPageContent(c.pages, ReadContentFile(c.file), placement);
  }
  ApplyStamps(document, options);
}

void PrintPageInfo(TksCustomPDFDocument& document, const TksCliOptions& options) {
  // A document without pages has nothing to list, where a range of "all" would be 1-0.
  if (document.PageCount() == 0 && options.pageInfoPages.empty()) return;
  const auto unit = static_cast<TksMeasurementUnit>(options.unit);
  for (int32_t page : TksCustomPDFDocument::ParsePageRange(options.pageInfoPages, document.PageCount())) {
    const TksPageRect box = document.GetPageBox(page, unit);
    const auto [width, height] = document.GetPageSize(page, unit);
    const int rotate = (document.PageRotation(page) % 360 + 360) % 360;
    std::printf("page %d: width %s height %s box %s %s %s %s rotate %d\n", page, Decimals4(width).c_str(),
                Decimals4(height).c_str(), Decimals4(box.x1).c_str(), Decimals4(box.y1).c_str(),
                Decimals4(box.x2).c_str(), Decimals4(box.y2).c_str(), rotate);
  }
}
