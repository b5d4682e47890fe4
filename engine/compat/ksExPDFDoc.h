// The document layer that adds drawing of formatted text and attachment naming.
#pragma once
#include <functional>
#include <string>

#include "document/ksCstPDFDoc.h"

class TksExPDFDocument : public TksCustomPDFDocument {
 public:
  // Published for the component's users; no operation of the engine raises it.
  std::function<void(TksCustomPDFDocument* sender, const std::string& aFileName, std::string& aNewFileName)>
      OnAttachmentNameChange;

  // Draws text with its tags (<B>, <I>, <U>, <StrikeOut>, <FONT SIZE= COLOR= FACE=
  // CHARSET=> and their closing tags) on the pages of pageRange, its runs one after the
  // other on one line from (x, y) in MeasurementUnit, measured from the page box's left
  // and top edges; each run is stamped as text. MeasurementUnit is the same afterwards,
  // whatever happens.
  virtual void DrawFormattedText(const std::u16string& text, const std::string& pageRange, double x, double y);
  void DrawFormattedTextAllPages(const std::u16string& text, double x, double y);

  std::unique_ptr<TksPageObjectList> GetPageObjects(int32_t pageNo) override;

 protected:
  void CollectPageObjects(TksPDFObject* value, TksPageObjectList& list, std::vector<TksPDFObject*>& pending) override;
};
