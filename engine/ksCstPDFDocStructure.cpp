// The structure walk over catalog and page tree.
#include "ksCstPDFDoc.h"
#include "ksPDFParsers.h"

void TksCustomPDFDocument::ReadStructure() {
  // The walk itself comes with the page tree reading; for now the reader is released.
  Reader.reset();
}
