// Cross-reference reading (tables, streams, /Prev and /XRefStm chains, hybrid files, the
// PNG predictor of stream rows) and, where entries place objects in object streams,
// their expansion, over the whole input taken as a file.
#include "document/ksCstPDFDoc.h"
#include "base/ksExceptions.h"
#include "ksFuzz.h"
#include "parse/ksPDFParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ksfuzz::LimitDecoding();
  TksCustomPDFDocument doc;
  doc.OpenReader(data, size);
  try {
    doc.ReadCrossReference();
    // Every entry's object, as the structure walk would look it up.
    const size_t n = std::max(doc.XRefEntries.size(), doc.XRefStreamEntries.size());
    for (size_t i = 1; i < n && i < 4096; ++i) {
      try {
        doc.ReadObject(static_cast<int32_t>(i));
      } catch (const Exception&) {
      }
    }
  } catch (const Exception&) {
  }
  doc.CloseReader();
  return 0;
}
