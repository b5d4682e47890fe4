// pagewright-convert INPUT OUTPUT: load, optionally change version and compression, save.
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>

#include "commands.h"
#include "base/ksConsts.h"
#include "compat/ksPDFDoc.h"
#include "document/ksCstPDFDoc.h"
#include "base/ksPDFResStrs.h"

namespace {

TksPDFVersion VersionFromText(const std::string& text) {
  return PDFVersionFromText(text).value_or(pvPDF14);  // main() accepts only known versions
}

// The document of the conversion (one per process), kept until the process ends: main()
// returns right after it, and the system takes back its memory at once, where freeing
// a large document object by object would cost as much as a third of the conversion.
// Sanitizer builds free it as usual: that is where freeing is checked.
constexpr bool kLeaveToExit = !KS_ADDRESS_SANITIZED;

}  // namespace

int RunConvert(const TksCliOptions& options) {
  // The top of the document layers: formatted text is drawn by the layer above the core.
  auto owned = std::make_unique<TksPDFDocument>();
  TksCustomPDFDocument& document = *owned;
  struct KeepUntilExit {
    std::unique_ptr<TksPDFDocument>& document;
    ~KeepUntilExit() {
      if (kLeaveToExit) (void)document.release();
    }
  } keep{owned};
  document.ShowSetupDialog = false;
  document.OpenAfterSave = false;

  std::unordered_set<std::string> warnings;
  document.OnWarning = [&](TksCustomPDFDocument*, const std::string& warning) {
    // Each text once: a damaged file can repeat the same finding many times.
    if (!warnings.insert(warning).second) return;
    if (!options.quiet) std::fprintf(stderr, "pagewright-convert: warning: %s\n", warning.c_str());
  };
  if (options.progress) {
    document.OnStatusMessage = [](TksCustomPDFDocument*, const std::string& message) {
      std::fprintf(stderr, "%s\n", message.c_str());
    };
    // Only changes are shown, so a file of many objects does not flood the terminal.
    document.OnIOProgress = [last = -1](TksCustomPDFDocument*, int percentage) mutable {
      if (percentage == last) return;
      last = percentage;
      std::fprintf(stderr, "%d%%\n", percentage);
    };
  }
  InstallPasswordHandler(document, options);

  try {
    document.LoadFromFile(options.input);
    if (ReportNotOpened(document, options)) return 2;
    if (!options.pdfVersion.empty()) document.PDFVersion = VersionFromText(options.pdfVersion);
    // Before the page options, so stamped placeholders such as <%Title%> show the new text.
    ApplyDocumentSettings(document, options.settings);
    ApplyPageOptions(document, options);
    if (!options.compress.empty())
      document.SetCompression(options.compress == "flate" ? 0 : 1, static_cast<uint8_t>(options.compressionLevel));
    // What the chosen version does not know: named, or a refusal before anything is written.
    const std::vector<TksVersionFinding> findings = document.VersionFindings(document.PDFVersion);
    if (options.strictVersion && !findings.empty()) {
      for (const TksVersionFinding& finding : findings)
        std::fprintf(stderr, "pagewright-convert: %s\n", TksVersionReport::Text(document.PDFVersion, finding).c_str());
      std::fprintf(stderr, "pagewright-convert: %s\n",
                   ksFormat(ksres::SStrictVersionRefused, PDFVersionText(document.PDFVersion)).c_str());
      return 2;
    }
    for (const TksVersionFinding& finding : findings)
      document.OnWarning(&document, TksVersionReport::Text(document.PDFVersion, finding));
    document.VerifySave = options.verify;
    document.SaveThreads = options.threads;
    document.SaveToFile(options.output, 2);
  } catch (const std::bad_alloc&) {
    throw;  // the caller knows the limit that was reached
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pagewright-convert: %s\n", ksErrorText(e).c_str());
    return 2;
  }
  return warnings.empty() ? 0 : 3;
}
