// pagewright-convert --info
#include <cstdio>
#include <exception>
#include <string>
#include <unordered_set>
#include <vector>

#include "commands.h"
#include "document/ksCstPDFDoc.h"
#include "ksPlatform.h"

namespace {

const char* XRefKindText(TksXRefKind kind) {
  switch (kind) {
    case xkTable: return "table";
    case xkStream: return "stream";
    case xkHybrid: return "hybrid";
    case xkRebuilt: return "rebuilt";
    default: return "none";
  }
}

// The name the catalog is written with, without its "/"; the default when there is none.
std::string NameText(const std::string& name, const char* none) {
  return name.size() > 1 ? name.substr(1) : std::string(none);
}

// A text from the file as one line a terminal only shows: control characters (C0, DEL,
// C1: escape sequences, line breaks, NUL), line and paragraph separators and the bidi
// controls that reorder what is shown become "\xNN" or "\uNNNN", and a backslash "\\",
// so every escape read is one the file did not spell itself.
std::string Printable(std::u16string_view text) {
  std::u16string shown;
  shown.reserve(text.size());
  auto escape = [&](const char* format, unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, format, value);
    for (const char* p = buf; *p; ++p) shown.push_back(static_cast<char16_t>(*p));
  };
  for (char16_t c : text) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
      escape("\\x%02x", c);
    else if (c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069))
      escape("\\u%04x", c);
    else if (c == u'\\')
      shown += u"\\\\";
    else
      shown.push_back(c);
  }
  return ksplatform::Utf16ToUtf8(shown);
}

// The value a reference chain leads to among the loaded objects.
TksPDFObject* Loaded(const TksCustomPDFDocument& doc, TksPDFObject* value) {
  for (int depth = 0; depth < 32 && value; ++depth) {
    auto* ref = AsRef(value);
    if (!ref) return value;
    TksPDFIndirectObject* target = doc.FindLoaded(ref->ObjectNumber, ref->Generation);
    value = target ? target->Value.get() : nullptr;
  }
  return nullptr;
}

// The terminal fields of the form by their full names, in tree order: the nodes none of
// whose kids is a field (a kid with a name or kids of its own); the rest are widgets.
// A node without a name adds no level to the names below it.
void CollectTerminalFields(const TksCustomPDFDocument& doc, TksPDFObject* node, const std::u16string& parentName,
                           int depth, std::unordered_set<const TksPDFObject*>& seen,
                           std::vector<std::u16string>& names) {
  auto* dict = AsDict(Loaded(doc, node));
  // The load has refused loops and deep trees already; this only keeps the listing finite.
  if (!dict || depth > 128 || !seen.insert(dict).second) return;
  std::u16string name = parentName;
  if (TksPDFObject* title = Loaded(doc, dict->Lookup("/T")); title && title->ObjectType == otString) {
    std::u16string partial = TksPDFInfo::DecodeTextString(title);
    name = parentName.empty() ? partial : parentName + u"." + partial;
  }
  bool fieldKids = false;
  if (auto* kids = AsArray(Loaded(doc, dict->Lookup("/Kids")))) {
    for (int32_t i = 0; i < kids->Count(); ++i) {
      auto* kid = AsDict(Loaded(doc, kids->GetItem(i)));
      if (!kid || (!kid->Lookup("/T") && !kid->Lookup("/Kids"))) continue;
      fieldKids = true;
      CollectTerminalFields(doc, kids->GetItem(i), name, depth + 1, seen, names);
    }
  }
  if (!fieldKids && !name.empty()) names.push_back(name);
}

std::vector<std::u16string> TerminalFieldNames(const TksCustomPDFDocument& doc) {
  std::vector<std::u16string> names;
  auto* form = doc.Catalog ? AsDict(Loaded(doc, doc.Catalog->AcroForm.get())) : nullptr;
  auto* fields = form ? AsArray(Loaded(doc, form->Lookup("/Fields"))) : nullptr;
  if (!fields) return names;
  std::unordered_set<const TksPDFObject*> seen;
  for (int32_t i = 0; i < fields->Count(); ++i)
    CollectTerminalFields(doc, fields->GetItem(i), std::u16string(), 0, seen, names);
  return names;
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
  std::printf("page_mode: %s\n", NameText(doc.PageModeName(), "UseNone").c_str());
  std::printf("page_layout: %s\n", NameText(doc.PageLayoutName(), "None").c_str());
  std::printf("outlines: %d\n", doc.OutlineRoot ? doc.OutlineRoot->DescendantCount() : 0);
  std::printf("annotations: %lld\n", static_cast<long long>(AnnotationCount(doc)));
  const std::vector<std::u16string> fields = TerminalFieldNames(doc);
  std::printf("fields: %zu\n", fields.size());
  for (const std::u16string& name : fields) std::printf("field: %s\n", Printable(name).c_str());

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
      {"creation_date", "/CreationDate", TksPDFInfo::DecodePDFDocEncoding(info.CreationDate())},
      {"mod_date", "/ModDate", TksPDFInfo::DecodePDFDocEncoding(info.ModDate())},
  };
  for (const Entry& e : entries)
    if (info.Dictionary().Lookup(e.key)) std::printf("%s: %s\n", e.label, Printable(e.value).c_str());
}

// Whose password opened the file, the revision and "/P" as the file has them, the
// permission bits "/P" sets (numbered from 1 as the standard numbers them; revision 2
// reads only 3 to 6), and what a reader grants from them at that revision.
void PrintPermissions(TksCustomPDFDocument& doc) {
  static const char* const names[] = {"copy",          "modify",       "print",         "annotate",
                                      "fill-forms",    "accessibility", "assemble",     "print-high-resolution"};
  const TksPDFDecrypt& handler = *doc.Decryptor;
  const TksUserPermissions granted = PermissionsFromP(handler.Revision, handler.PValue);
  std::string list;
  for (int i = AllowCopy; i <= AllowHighResPrint; ++i) {
    if (!granted.Contains(static_cast<TksUserPermissionsType>(i))) continue;
    if (!list.empty()) list += ' ';
    list += names[i];
  }
  std::string bits;
  for (int bit : {3, 4, 5, 6, 9, 10, 11, 12}) {
    if ((static_cast<uint32_t>(handler.PValue) >> (bit - 1) & 1u) == 0) continue;
    if (!bits.empty()) bits += ' ';
    bits += std::to_string(bit);
  }
  std::printf("owner: %s\n", doc.IsOwner() ? "yes" : "no");
  std::printf("security_revision: %d\n", handler.Revision);
  std::printf("p: %d\n", handler.PValue);
  std::printf("p_bits: %s\n", bits.empty() ? "none" : bits.c_str());
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
        // Warnings quote the file (field names, for one): shown as harmlessly as its values.
        std::fprintf(stderr, "warning: %s\n", Printable(ksplatform::Utf8ToUtf16(text)).c_str());
      };
    InstallPasswordHandler(doc, options);
    doc.LoadFromFile(options.input);
    if (ReportNotOpened(doc, options)) return 2;
    // A range that does not parse fails before anything is printed.
    if (options.pageInfo && !options.pageInfoPages.empty())
      TksCustomPDFDocument::ParsePageRange(options.pageInfoPages, doc.PageCount());
    std::printf("version: %s\n", PDFVersionText(doc.PDFVersion));
    // Where it comes from, when the header and the catalog's /Version say different things.
    if (doc.CatalogVersion && *doc.CatalogVersion != doc.HeaderVersion) {
      std::printf("version_header: %s\n", PDFVersionText(doc.HeaderVersion));
      std::printf("version_catalog: %s\n", PDFVersionText(*doc.CatalogVersion));
    }
    std::printf("xref: %s\n", XRefKindText(doc.XRefKind));
    // What a damaged file needed: one line each (none for a sound file).
    for (const std::string& note : doc.RepairNotes) std::printf("repaired: %s\n", Printable(ksplatform::Utf8ToUtf16(note)).c_str());
    std::printf("objects: %d\n", doc.Store->Count());
    std::printf("encrypted: %s\n", doc.IsEncrypted ? "yes" : "no");
    std::printf("encryption: %s\n", EncryptionText(doc));
    if (doc.IsEncrypted && doc.Decryptor) PrintPermissions(doc);
    PrintStructure(doc);
    if (options.pageInfo) PrintPageInfo(doc, options);
    // With a version: what a conversion to it would warn about, one line each.
    if (!options.pdfVersion.empty()) {
      const TksPDFVersion target = PDFVersionFromText(options.pdfVersion).value_or(doc.PDFVersion);
      std::printf("version_target: %s\n", PDFVersionText(target));
      for (const TksVersionFinding& finding : doc.VersionFindings(target))
        std::printf("unsupported: %s\n", TksVersionReport::Text(target, finding).c_str());
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", Printable(ksplatform::Utf8ToUtf16(ksErrorText(e))).c_str());
    return 2;
  }
}
