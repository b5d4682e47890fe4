// Document life cycle, events, information and viewer preferences.
#include "ksCstPDFDoc.h"

#include <mutex>

#include "ksPDFParsers.h"
#include "ksPDFResStrs.h"
#include "ksPlatform.h"

namespace {
std::mutex gDocumentCounterLock;
int32_t gDocumentCounter = 0;

int32_t NextDocumentID() {
  std::lock_guard<std::mutex> guard(gDocumentCounterLock);
  return ++gDocumentCounter;
}
}  // namespace

TksCustomPDFDocument::TksCustomPDFDocument() {
  Reset();
  ShowSetupDialog = true;
  MergeOptions = {moIncludeOutlines, moIncludeFormFields};
}

TksCustomPDFDocument::~TksCustomPDFDocument() = default;

void TksCustomPDFDocument::Reset() {
  Reader.reset();
  ResetStructure();
  Pages.clear();
  Dests.clear();
  unstored_.clear();
  Store = std::make_unique<TksPDFObjectStore>();
  Trailer = TksPDFTrailer();
  Catalog = std::make_unique<TksPDFCatalog>();
  Info_ = std::make_unique<TksPDFInfo>(this);
  XRefEntries.clear();
  XRefEntries.shrink_to_fit();
  XRefStreamEntries.clear();
  XRefStreamEntries.shrink_to_fit();
  SourceFile.reset();
  decoded_ = 0;
  DocumentID = NextDocumentID();
  IsLoaded = false;
  StructureRead = false;
  Compression = TksCompression();
  Decryptor.reset();
  readerDecryptor_.reset();
  Encryptor.reset();
  // A new document saves unencrypted and, once enabled, at 40 bits.
  Encryption_ = std::make_unique<TksPDFEncryptionSettings>();
  Encryption_->SetLevel(el40bit);
  WorkFileName.clear();
  PDFVersion = pvPDF14;
  PageMode = pmNone;
  PageLayout = plNone;
}

void TksCustomPDFDocument::StatusMessage(const std::string& text) {
  if (OnStatusMessage) OnStatusMessage(this, text);
}

void TksCustomPDFDocument::IOProgress(int percentage) {
  if (OnIOProgress) OnIOProgress(this, percentage);
}

void TksCustomPDFDocument::Warning(const std::string& text) {
  if (OnWarning) OnWarning(this, text);
}

// ---- TksPDFInfo ----


std::u16string TksPDFInfo::DecodeTextString(const TksPDFObject* value) {
  if (!value || value->ObjectType != otString) return std::u16string();
  auto* s = static_cast<const TksPDFStringObject*>(value);
  if (s->Text == "()" || s->Text == "<>") return std::u16string();
  std::string content = s->Content();
  if (s->IsHex) {
    bool bom = content.size() >= 4 && (content[0] == 'F' || content[0] == 'f') &&
               (content[1] == 'E' || content[1] == 'e') && (content[2] == 'F' || content[2] == 'f') &&
               (content[3] == 'F' || content[3] == 'f');
    if (bom) return s->TextValue();
    return ksplatform::AnsiToWide(HexDigitsToBytes(content));
  }
  if (content.size() >= 2 && static_cast<uint8_t>(content[0]) == 0xFE && static_cast<uint8_t>(content[1]) == 0xFF) {
    std::u16string out;
    for (size_t i = 2; i + 1 < content.size(); i += 2)
      out.push_back(static_cast<char16_t>((static_cast<uint8_t>(content[i]) << 8) | static_cast<uint8_t>(content[i + 1])));
    return out;
  }
  return ksplatform::AnsiToWide(content);
}

std::string TksPDFInfo::EncodeTextBytes(const std::u16string& text) {
  std::string bytes = "\xFE\xFF";
  bytes.reserve(2 + text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c >> 8));
    bytes.push_back(static_cast<char>(c & 0xFF));
  }
  return bytes;
}

std::u16string TksPDFInfo::GetText(const char* key, std::u16string& cache) {
  if (!cache.empty()) return cache;
  return DecodeTextString(dict_->Lookup(key));
}

std::string TksPDFInfo::GetDate(const char* key, std::string& cache) {
  if (!cache.empty()) return cache;
  const TksPDFObject* v = dict_->Lookup(key);
  if (!v || v->ObjectType != otString) return std::string();
  auto* s = static_cast<const TksPDFStringObject*>(v);
  return s->IsHex ? HexDigitsToBytes(s->Content()) : s->Content();
}

void TksPDFInfo::SetText(const char* key, std::u16string& cache, const std::u16string& value) {
  cache = value;
  // A string object like any read from a file, so the writer escapes it and, on an
  // encrypted save, encrypts it under the information dictionary's number.
  dict_->SetObject(key, std::make_unique<TksPDFStringObject>("(" + EncodeTextBytes(value) + ")", false));
}

void TksPDFInfo::SetCreationDate(const std::string& v) {
  std::u16string wide = ksplatform::AnsiToWide(v);
  creationDate_ = v;
  std::u16string dummy;
  SetText("/CreationDate", dummy, wide);
}

void TksPDFInfo::SetModDate(const std::string& v) {
  std::u16string wide = ksplatform::AnsiToWide(v);
  modDate_ = v;
  std::u16string dummy;
  SetText("/ModDate", dummy, wide);
}

void TksPDFInfo::SetDictionary(std::unique_ptr<TksPDFDictObject> dict) {
  dict_ = dict ? std::move(dict) : std::make_unique<TksPDFDictObject>();
  title_.clear(); author_.clear(); subject_.clear(); keywords_.clear(); creator_.clear(); producer_.clear();
  creationDate_.clear(); modDate_.clear();
}

// ---- TksPDFViewerPreferences ----

bool TksPDFViewerPreferences::GetFlag(const char* key) const {
  const TksPDFObject* v = dict_->Lookup(key);
  return v && v->ObjectType == otBoolean && static_cast<const TksPDFBooleanObject*>(v)->Value != 0;
}

void TksPDFViewerPreferences::SetFlag(const char* key, bool value) {
  if (value)
    dict_->SetBoolean(key, true);
  else
    dict_->Remove(key);
}

std::string TksPDFViewerPreferences::CatalogText() const {
  static const char* const keys[] = {"/HideToolbar", "/HideMenubar", "/HideWindowUI", "/FitWindow",
                                     "/CenterWindow", "/DisplayDocTitle", "/NonFullScreenPageMode", "/Direction",
                                     "/ViewArea", "/ViewClip", "/PrintArea", "/PrintClip"};
  std::string lines;
  for (const char* key : keys) {
    const TksPDFObject* v = dict_->Lookup(key);
    std::string text;
    if (v && v->ObjectType == otBoolean && static_cast<const TksPDFBooleanObject*>(v)->Value)
      text = "true";
    else if (v && v->ObjectType == otName)
      text = static_cast<const TksPDFNameObject*>(v)->Text;
    if (text.empty()) continue;
    lines += key;
    lines += ' ';
    lines += text;
    lines += "\r\n";
  }
  if (lines.empty()) return lines;
  return "<<\r\n" + lines + ">>";
}
