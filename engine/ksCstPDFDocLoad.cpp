// The load driver.
#include "ksCstPDFDoc.h"
#include "ksPDFParsers.h"

bool TksCustomPDFDocument::LoadFromFile(const std::string&) {
  // Comes with the tokenizer and the cross-reference reading.
  return false;
}
