// The document layer that carries the text-rendering declarations.
#pragma once
#include "compat/ksExPDFDoc.h"

class TksExProPDFDocument : public TksExPDFDocument {
 public:
  // Whether the caller renders text itself; stored for the caller, read by nothing here.
  bool CustomRenderText = false;
};
