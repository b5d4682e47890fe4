// A whole load over cross-reference data rebuilt by scanning (as a damaged file gets
// them), then every object the rebuilt entries place and a save.
#include <unistd.h>

#include <string>

#include "document/ksCstPDFDoc.h"
#include "base/ksExceptions.h"
#include "ksFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ksfuzz::LimitDecoding();
  static const std::string input = ksfuzz::TempPath("repair-in.pdf");
  static const std::string output = ksfuzz::TempPath("repair-out.pdf");
  ksfuzz::WriteWhole(input, ksfuzz::View(data, size));
  {
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    doc.RepairMode = TksCustomPDFDocument::rmAlways;
    try {
      if (doc.LoadFromFile(input) && doc.IsOpened()) doc.SaveToFile(output, 2);
    } catch (const Exception&) {
    }
  }
  unlink(output.c_str());
  unlink(input.c_str());
  return 0;
}
