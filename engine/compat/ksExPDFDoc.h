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
};
