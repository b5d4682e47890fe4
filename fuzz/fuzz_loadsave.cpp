// A whole load (the empty password for encrypted files) followed by a save, as the
// converter does it: the input is written to a file, loaded, and saved into another.
#include <unistd.h>

#include <string>

#include "document/ksCstPDFDoc.h"
#include "base/ksExceptions.h"
#include "ksFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ksfuzz::LimitDecoding();
  static const std::string input = ksfuzz::TempPath("in.pdf");
  static const std::string output = ksfuzz::TempPath("out.pdf");
  ksfuzz::WriteWhole(input, ksfuzz::View(data, size));
  {
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    try {
      if (doc.LoadFromFile(input) && doc.IsOpened()) {
        // Re-filtering exercises the codecs' encoders on every stream read.
        if (size % 2) doc.SetCompression(0, 1);
        doc.SaveToFile(output, 2);
      }
    } catch (const Exception&) {
    }
  }
  unlink(output.c_str());
  unlink(input.c_str());
  return 0;
}
