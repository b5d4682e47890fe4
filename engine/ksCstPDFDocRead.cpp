// Reading single objects from the source file.
#include "ksCstPDFDoc.h"
#include "ksPDFParsers.h"

int64_t TksCustomPDFDocument::FindObjectOffset(int32_t objectNumber) const {
  if (objectNumber < 0) return 0;
  size_t n = static_cast<size_t>(objectNumber);
  if (n < XRefEntries.size() && XRefEntries[n] && XRefEntries[n]->Offset != 0) return XRefEntries[n]->Offset;
  if (n < XRefStreamEntries.size() && XRefStreamEntries[n] && XRefStreamEntries[n]->EntryType == 1)
    return XRefStreamEntries[n]->Field2;
  return 0;
}

std::unique_ptr<TksPDFIndirectObject> TksCustomPDFDocument::ReadObjectAt() {
  // Filled in with the tokenizer.
  return nullptr;
}

std::unique_ptr<TksPDFIndirectObject> TksCustomPDFDocument::ReadObject(int32_t objectNumber) {
  if (!Reader || FindObjectOffset(objectNumber) == 0) return nullptr;
  return ReadObjectAt();
}
