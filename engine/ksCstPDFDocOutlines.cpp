// Outlines, named destinations and name trees.
#include "ksCstPDFDoc.h"

void TksCustomPDFDocument::BuildOutlines(TksPDFObjectStore&) {
  // No outline tree is read yet, so there is nothing to build.
}
