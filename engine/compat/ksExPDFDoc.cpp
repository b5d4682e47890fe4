// Formatted text: runs of equal formatting stamped one after the other on one line.
#include "compat/ksExPDFDoc.h"

#include <cmath>
#include <memory>

#include "content/ksFormattedText.h"
#include "content/ksPDFFont.h"
#include "content/ksWatermark.h"

namespace {

// Pixels at the screen's resolution, as text is measured on a screen.
double ToPixels(TksMeasurementUnit unit, double value) {
  if (unit == muPixels) return value;
  return TksCustomPDFDocument::ToPoints(unit, value) * ksplatform::kScreenPixelsPerInch / 72;
}

}  // namespace

void TksExPDFDocument::DrawFormattedText(const std::u16string& text, const std::string& pageRange, double x,
                                         double y) {
  const TksMeasurementUnit unit = MeasurementUnit;
  // Put back on every way out: a later call would read its positions in pixels.
  struct RestoreUnit {
    TksMeasurementUnit& slot;
    TksMeasurementUnit value;
    ~RestoreUnit() { slot = value; }
  } restore{MeasurementUnit, unit};
  const double px = ToPixels(unit, x), py = ToPixels(unit, y);
  MeasurementUnit = muPixels;

  TksTextWatermarkTemplate t;
  t.RenderMode = 0;
  t.Overlay = true;
  t.HorzAlignment = 3;
  t.VertAlignment = 3;
  t.X = px;
  t.Y = py;
  std::unique_ptr<TksPDFFont> previousFont;
  bool previous = false;
  WalkFormattedText(text, [&](const TksFont& font, const std::u16string& run) {
    auto runFont = std::make_unique<TksPDFFont>(font, false, true, this);
    const double toPixels = ksplatform::kScreenPixelsPerInch / 72.0;
    const auto height = [&](const TksPDFFont& f) {
      return (f.Info().Ascent - f.Info().Descent) * f.Font().Size / 1000 * toPixels;
    };
    if (previous) {
      // After the text the last run drew, with the bottoms of the two runs on one line.
      t.X += previousFont->MeasuredWidth(ToCharacters(t.LastDrawnText), previousFont->Font().Size) * toPixels;
      t.Y += height(*previousFont) - height(*runFont);
    }
    t.AssignFont(font);
    t.Text = run;
    ApplyWatermark(t, pageRange);
    previousFont = std::move(runFont);
    previous = true;
  });
}

void TksExPDFDocument::DrawFormattedTextAllPages(const std::u16string& text, double x, double y) {
  DrawFormattedText(text, "1-" + std::to_string(PageCount()), x, y);
}

std::unique_ptr<TksPageObjectList> TksExPDFDocument::GetPageObjects(int32_t pageNo) {
  return TksCustomPDFDocument::GetPageObjects(pageNo);
}

void TksExPDFDocument::CollectPageObjects(TksPDFObject* value, TksPageObjectList& list,
                                          std::vector<TksPDFObject*>& pending) {
  TksCustomPDFDocument::CollectPageObjects(value, list, pending);
}
