// pagewright-convert --info
#include <cstdio>
#include <exception>

#include "commands.h"
#include "ksCstPDFDoc.h"
#include "ksPlatform.h"

namespace {

const char* XRefKindText(TksXRefKind kind) {
  switch (kind) {
    case xkTable: return "table";
    case xkStream: return "stream";
    case xkHybrid: return "hybrid";
    default: return "none";
  }
}

const char* PageModeText(TksPageMode mode) {
  switch (mode) {
    case pmUseOutlines: return "UseOutlines";
    case pmUseThumbs: return "UseThumbs";
    case pmFullScreen: return "FullScreen";
    case pmUseAttachments: return "UseAttachments";
    default: return "UseNone";
  }
}

const char* PageLayoutText(TksPageLayout layout) {
  switch (layout) {
    case plSinglePage: return "SinglePage";
    case plOneColumn: return "OneColumn";
    case plTwoColumnLeft: return "TwoColumnLeft";
    case plTwoColumnRight: return "TwoColumnRight";
    default: return "None";
  }
}

// One value a line: line breaks inside a text would start a false line.
std::string OneLine(std::u16string_view text) {
  std::string utf8 = ksplatform::Utf16ToUtf8(text);
  for (char& c : utf8)
    if (c == '\n' || c == '\r') c = ' ';
  return utf8;
}

int64_t AnnotationCount(const TksCustomPDFDocument& doc) {
  int64_t count = 0;
  for (TksPDFIndirectObject* page : doc.Pages)
    if (auto* dict = AsDict(page->Value.get()))
      if (auto* annots = AsArray(doc.Store->Dereference(dict->Lookup("/Annots")))) count += annots->Count();
  return count;
}

void PrintStructure(TksCustomPDFDocument& doc) {
  std::printf("pages: %d\n", doc.PageCount());
  std::printf("page_mode: %s\n", PageModeText(doc.PageMode));
  std::printf("page_layout: %s\n", PageLayoutText(doc.PageLayout));
  std::printf("outlines: %d\n", doc.OutlineRoot ? doc.OutlineRoot->DescendantCount() : 0);
  std::printf("annotations: %lld\n", static_cast<long long>(AnnotationCount(doc)));
  std::printf("fields: %zu\n", doc.AcroFormFields.size());
  for (const auto& field : doc.AcroFormFields) std::printf("field: %s\n", OneLine(field->FullNameWide).c_str());

  TksPDFInfo& info = doc.Info();
  struct Entry {
    const char* label;
    const char* key;
    std::u16string value;
  } entries[] = {
      {"title", "/Title", info.Title()},
      {"author", "/Author", info.Author()},
      {"subject", "/Subject", info.Subject()},
      {"keywords", "/Keywords", info.Keywords()},
      {"creator", "/Creator", info.Creator()},
      {"producer", "/Producer", info.Producer()},
      {"creation_date", "/CreationDate", ksplatform::AnsiToWide(info.CreationDate())},
      {"mod_date", "/ModDate", ksplatform::AnsiToWide(info.ModDate())},
  };
  for (const Entry& e : entries)
    if (info.Dictionary().Lookup(e.key)) std::printf("%s: %s\n", e.label, OneLine(e.value).c_str());
}

void PrintPermissions(TksCustomPDFDocument& doc) {
  static const char* const names[] = {"copy",          "modify",       "print",         "annotate",
                                      "fill-forms",    "accessibility", "assemble",     "print-high-resolution"};
  const TksUserPermissions granted = doc.Encryption().UserPermissions();
  std::string list;
  for (int i = AllowCopy; i <= AllowHighResPrint; ++i) {
    if (!granted.Contains(static_cast<TksUserPermissionsType>(i))) continue;
    if (!list.empty()) list += ' ';
    list += names[i];
  }
  std::printf("owner: %s\n", doc.IsOwner() ? "yes" : "no");
  std::printf("permissions: %s\n", list.empty() ? "none" : list.c_str());
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
    InstallPasswordHandler(doc, options);
    doc.LoadFromFile(options.input);
    if (ReportNotOpened(doc, options)) return 2;
    std::printf("version: %s\n", PDFVersionText(doc.PDFVersion));
    // Where it comes from, when the header and the catalog's /Version say different things.
    if (doc.CatalogVersion && *doc.CatalogVersion != doc.HeaderVersion) {
      std::printf("version_header: %s\n", PDFVersionText(doc.HeaderVersion));
      std::printf("version_catalog: %s\n", PDFVersionText(*doc.CatalogVersion));
    }
    std::printf("xref: %s\n", XRefKindText(doc.XRefKind));
    std::printf("objects: %d\n", doc.Store->Count());
    std::printf("encrypted: %s\n", doc.IsEncrypted ? "yes" : "no");
    std::printf("encryption: %s\n", EncryptionText(doc));
    if (doc.IsEncrypted) PrintPermissions(doc);
    PrintStructure(doc);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
}
