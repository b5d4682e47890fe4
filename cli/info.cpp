// pagewright-convert --info
#include <cstdio>
#include <exception>

#include "commands.h"
#include "ksCstPDFDoc.h"

namespace {

const char* XRefKindText(TksXRefKind kind) {
  switch (kind) {
    case xkTable: return "table";
    case xkStream: return "stream";
    case xkHybrid: return "hybrid";
    default: return "none";
  }
}

}  // namespace

int RunInfo(const TksCliOptions& options) {
  try {
    TksCustomPDFDocument doc;
    if (options.progress)
      doc.OnStatusMessage = [](TksCustomPDFDocument*, const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
      };
    if (!options.quiet)
      doc.OnWarning = [](TksCustomPDFDocument*, const std::string& text) {
        std::fprintf(stderr, "warning: %s\n", text.c_str());
      };
    if (options.hasPassword)
      doc.OnPassword = [&options](TksCustomPDFDocument*, std::string& password, bool& cont, int tries) {
        // The one password given; a second request means it did not open the file.
        password = options.password;
        cont = tries == 0;
      };
    if (!doc.LoadFromFile(options.input)) {
      std::fputs("The document was not opened: no password was accepted\n", stderr);
      return 2;
    }
    std::printf("version: %s\n", PDFVersionText(doc.PDFVersion));
    std::printf("xref: %s\n", XRefKindText(doc.XRefKind));
    std::printf("objects: %d\n", doc.Store->Count());
    std::printf("encrypted: %s\n", doc.IsEncrypted ? "yes" : "no");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
}
