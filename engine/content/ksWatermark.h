// Text stamped onto pages: watermarks, headers, footers, page numbers. A template says what
// to draw and where; applying it expands the placeholders, finds or makes the font, and
// puts one content stream on every page of a range, above or beneath the page's content.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "content/ksPDFFont.h"
#include "ksPictures.h"
#include "document/ksCstPDFDoc.h"

class TksWatermarkTemplate {
 public:
  virtual ~TksWatermarkTemplate() = default;
  // The content stream text for one page; x, y the anchor in points.
  virtual void BuildContent(const std::string& fontResourceName, const std::string& gstateResourceName,
                            std::string& content, TksMeasurementUnit unit, double x, double y) = 0;
};

// What the drawing of one page needs besides the template: the page's box and how the
// page is turned on screen, and for text the font it is drawn with.
struct TksStampContext {
  TksPDFFont* Font = nullptr;
  int32_t Encoding = 0;
  TksPageRect Box;       // the page's box in points
  int32_t Rotation = 0;  // 0, 90, 180, 270
  int32_t Dropped = 0;   // characters the font could not show
};

class TksCustomWatermarkTemplate : public TksWatermarkTemplate {
 public:
  int32_t Angle = 0;      // degrees, counter-clockwise
  bool Overlay = false;   // above the page's content
  uint8_t HorzAlignment = 0;  // 0 left, 1 centre, 2 right, 3 X
  uint8_t VertAlignment = 0;  // 0 top, 1 middle, 2 bottom, 3 Y
  double X = 0, Y = 0;        // in the document's MeasurementUnit, from the left and top
  // Set by the application for the page being drawn.
  TksStampContext Context;
};

// Where a box drawn at an angle starts so that it sits at an anchor: the anchor (u, v) on
// the page as shown, from its lower left corner; the box's extent around its origin
// before turning; the result in the page's own space, with the angle to draw at.
struct TksPlacement {
  double X = 0, Y = 0;
  int32_t Angle = 0;
};
TksPlacement PlaceBox(const TksCustomWatermarkTemplate& t, double u, double v, double left, double bottom,
                      double right, double top);

// A picture stamped onto pages: one image object for all pages, placed on each.
class TksImageWatermarkTemplate : public TksCustomWatermarkTemplate {
 public:
  std::shared_ptr<const ksplatform::Picture> Picture;
  int32_t Opacity = 100;
  // The size drawn in the document's MeasurementUnit; 0 for the picture's pixels at 96
  // per inch (the other side keeps the picture's proportions when only one is given).
  double Width = 0, Height = 0;
  // fontResourceName names the image here.
  void BuildContent(const std::string& fontResourceName, const std::string& gstateResourceName,
                    std::string& content, TksMeasurementUnit unit, double x, double y) override;
  // The size in points.
  std::pair<double, double> SizeInPoints(TksMeasurementUnit unit) const;
};

class TksTextWatermarkTemplate : public TksCustomWatermarkTemplate {
 public:
  TksTextWatermarkTemplate();
  std::u16string Text;
  TksFont Font;
  TksColor OutlineColor;
  uint8_t Direction = 0;   // 0 horizontal, 1 vertical (one character under the other)
  uint8_t RenderMode = 0;  // the text rendering mode (0 fill, 1 stroke, 2 both, ... 7)
  uint8_t Encoding = 0;    // index of kFontEncodingNames
  uint8_t FontEmbedding = 0;  // 0 none, 1 whole program, 2 subset
  // The character set is chosen for each page from the text as drawn there (placeholders
  // filled in), with CharsetForText; Font.Charset is then not used.
  bool AutoCharset = false;
  int32_t Opacity = 100;      // percent
  void AssignFont(const TksFont& font) { Font = font; }

  void BuildContent(const std::string& fontResourceName, const std::string& gstateResourceName,
                    std::string& content, TksMeasurementUnit unit, double x, double y) override;

  // The text drawn on the last page of the last application (the pattern itself stays
  // in Text).
  std::u16string LastDrawnText;

  // EInvalidValueError for a field out of its range.
  void CheckFields() const;
};

class TksWatermarkProcessor {
 public:
  TksWatermarkProcessor(TksCustomPDFDocument& document, TksMeasurementUnit unit, TksWatermarkTemplate& templ)
      : document_(document), unit_(unit), template_(templ) {}
  // Index of a stored box equal to box, or -1.
  int32_t FindPageRect(const TksPageRect& box) const;
  // A new stream object holding the template's content for a page with box; the object is
  // stored, marked used, and recorded with a copy of box.
  TksPDFIndirectObject* BuildPageStream(const std::string& fontResourceName, const std::string& gstateResourceName,
                                        const TksPageRect& box);

 private:
  struct BoxHash {
    size_t operator()(const TksPageRect& r) const;
  };
  TksCustomPDFDocument& document_;
  TksMeasurementUnit unit_;
  TksWatermarkTemplate& template_;
  std::vector<TksPageRect> boxes_;
  std::vector<std::unique_ptr<TksPDFIndirectReference>> streams_;
  std::unordered_map<TksPageRect, int32_t, BoxHash> boxIndex_;
};

// Placeholders: the once-only ones replaced in text ("<%TotPage%>", dates and times,
// "<%Author%>", "<%Creator%>", "<%Subject%>", "<%Title%>"), case-insensitively.
void ReplaceOncePlaceholders(TksCustomPDFDocument& document, std::u16string& text);
// Every occurrence of placeholder (case-insensitive) in text replaced by value.
void ReplacePlaceholder(std::u16string& text, std::u16string_view placeholder, std::u16string_view value);
// The caller's own placeholders of text, each replaced by what calc gives for its name;
// values are not scanned again.
void ReplaceCallerPlaceholders(std::u16string& text,
                               const std::function<void(const std::u16string& name, std::u16string& value)>& calc);
