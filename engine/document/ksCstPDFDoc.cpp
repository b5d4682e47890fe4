// Document life cycle, events, information and viewer preferences.
#include "document/ksCstPDFDoc.h"
#include "base/ksSyntax.h"

#include <algorithm>
#include <mutex>

#include "parse/ksPDFParsers.h"
#include "base/ksPDFResStrs.h"
#include "ksOpenFile.h"
#include "ksPlatform.h"

namespace {
std::mutex gDocumentCounterLock;
int32_t gDocumentCounter = 0;

int32_t NextDocumentID() {
  std::lock_guard<std::mutex> guard(gDocumentCounterLock);
  return ++gDocumentCounter;
}
}  // namespace

TksCustomPDFDocument::TksCustomPDFDocument() : resolver_(std::make_unique<TksObjectResolver>(*this)) {
  Reset();
  ShowSetupDialog = true;
  MergeOptions = {moIncludeOutlines, moIncludeFormFields};
  OpenFileHook = [](const std::string& fileName) { ksplatform::OpenWithDesktop(fileName); };
}

TksCustomPDFDocument::~TksCustomPDFDocument() = default;

void TksCustomPDFDocument::Reset() {
  load_.reset();
  ResetStructure();
  Pages.clear();
  Dests.clear();
  resolver_->Reset();
  Store = std::make_unique<TksPDFObjectStore>();
  Trailer = TksPDFTrailer();
  Catalog = std::make_unique<TksPDFCatalog>();
  Info_ = std::make_unique<TksPDFInfo>(this);
  XRefEntries.clear();
  XRefEntries.shrink_to_fit();
  XRefStreamEntries.clear();
  XRefStreamEntries.shrink_to_fit();
  replacedGenerations_.clear();
  repeatedFindings_.fill(0);
  SourceFile.reset();
  decoded_ = 0;
  DocumentID = NextDocumentID();
  IsLoaded = false;
  StructureRead = false;
  RepairNotes.clear();
  Compression = TksCompression();
  Decryptor.reset();
  openedEncryption_.reset();
  Encryptor.reset();
  // A new document saves unencrypted and, once enabled, at 40 bits.
  Encryption_ = std::make_unique<TksPDFEncryptionSettings>();
  Encryption_->SetLevel(el40bit);
  WorkFileName.clear();
  PDFVersion = pvPDF14;
  HeaderVersion = pvPDF14;
  CatalogVersion.reset();
  PageMode = pmNone;
  PageLayout = plNone;
  OtherPageMode.clear();
  OtherPageLayout.clear();
  pageEdit_ = TksPageEditState();
}

void TksCustomPDFDocument::SetEMailInfo(TksEMailInfo* info) {
  if (info == emailInfo_.get()) return;
  emailInfo_.reset(info ? info : new TksEMailInfo());
}

int TksCustomPDFDocument::ShowSettingsDialog() {
  if (SetupDialog) {
    TksSetupDialog& dialog = *SetupDialog;
    // The dialog is the caller's and outlives this call: it must not keep pointing here.
    struct Release {
      TksSetupDialog& d;
      ~Release() { d.Document = nullptr; }
    } release{dialog};
    dialog.Document = this;
    return dialog.ShowModal();
  }
  return SetupDialogHook ? SetupDialogHook(*this) : kModalNone;
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

namespace {
// Reported one by one per kind of repeated finding; the rest are counted.
constexpr int32_t kRepeatedShown = 5;
}  // namespace

void TksCustomPDFDocument::RepeatedWarning(TksRepeatedFinding kind, const std::string& text) {
  if (++repeatedFindings_[kind] <= kRepeatedShown) Warning(text);
}

void TksCustomPDFDocument::ReportRepeatedWarnings() {
  const auto more = [](int kind, int32_t count) {
    switch (kind) {
      case rfLengthRepaired: return ksFormat(ksres::SLengthRepairedMore, count);
      case rfOtherGeneration: return ksFormat(ksres::SOtherGenerationMore, count);
      case rfAESPadding: return ksFormat(ksres::SAESPaddingWrongMore, count);
      default: return ksFormat(ksres::SPageTreeKidUntypedMore, count);  // rfUntypedPageTreeEntry
    }
  };
  for (int kind = 0; kind < rfCount; ++kind) {
    if (repeatedFindings_[kind] > kRepeatedShown) Warning(more(kind, repeatedFindings_[kind] - kRepeatedShown));
    repeatedFindings_[kind] = 0;
  }
}

// ---- TksPDFInfo ----


namespace {

// PDFDocEncoding where it differs from ISO Latin-1: bytes 0x18 to 0x1F and 0x80 to 0xA0.
// Bytes it leaves undefined (0x7F, 0x9F, 0xAD) keep their own value.
constexpr char16_t kPDFDoc18[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr char16_t kPDFDoc80[33] = {0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039,
                                    0x203A, 0x2212, 0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A,
                                    0x2122, 0xFB01, 0xFB02, 0x0141, 0x0152, 0x0160, 0x0178, 0x017D, 0x0131,
                                    0x0142, 0x0153, 0x0161, 0x017E, 0x009F, 0x20AC};

}  // namespace

std::u16string TksPDFInfo::DecodePDFDocEncoding(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) {
    if (b >= 0x18 && b <= 0x1F)
      out.push_back(kPDFDoc18[b - 0x18]);
    else if (b >= 0x80 && b <= 0xA0)
      out.push_back(kPDFDoc80[b - 0x80]);
    else
      out.push_back(b);
  }
  return out;
}

std::u16string TksPDFInfo::DecodeTextString(const TksPDFObject* value) {
  if (!value || value->ObjectType != otString) return std::u16string();
  const std::string bytes = static_cast<const TksPDFStringObject*>(value)->Bytes();
  if (ksStartsWithMark(bytes, kUTF16BEMark)) {
    // UTF-16BE; an odd last byte is no code unit and is dropped.
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      out.push_back(static_cast<char16_t>((static_cast<uint8_t>(bytes[i]) << 8) | static_cast<uint8_t>(bytes[i + 1])));
    return out;
  }
  // Text strings of PDF 2.0 may also be UTF-8 behind its byte-order mark.
  if (ksStartsWithMark(bytes, kUTF8Mark)) return ksplatform::Utf8ToUtf16(std::string_view(bytes).substr(kUTF8Mark.size()));
  return DecodePDFDocEncoding(bytes);
}

std::string TksPDFInfo::EncodeTextBytes(const std::u16string& text) {
  std::string bytes(kUTF16BEMark);
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

namespace {
constexpr std::string_view kModelledPreferences[] = {
    "/HideToolbar",           "/HideMenubar", "/HideWindowUI", "/FitWindow", "/CenterWindow", "/DisplayDocTitle",
    "/NonFullScreenPageMode", "/Direction",   "/ViewArea",     "/ViewClip",  "/PrintArea",    "/PrintClip"};
}  // namespace

bool TksPDFViewerPreferences::IsModelledKey(std::string_view key) {
  return std::find(std::begin(kModelledPreferences), std::end(kModelledPreferences), key) !=
         std::end(kModelledPreferences);
}

std::string TksPDFViewerPreferences::CatalogText(TksTextFormHooks* hooks) const {
  std::string lines;
  for (std::string_view key : kModelledPreferences) {
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
  // The rest (print scaling, duplex, copies, page ranges, ...) as it stands.
  for (int32_t i = 0; i < dict_->Count(); ++i) {
    const std::string& key = dict_->KeyAt(i)->Text();
    const TksPDFObject* v = dict_->ValueAt(i);
    if (!v || v->ObjectType == otNull || IsModelledKey(key)) continue;
    lines += key;
    lines += ' ';
    AppendObjectText(lines, v, hooks);
    lines += "\r\n";
  }
  if (lines.empty()) return lines;
  return "<<\r\n" + lines + ">>";
}

namespace {

// The catalog's names of the page modes and layouts, indexed by the enumerations.
constexpr std::string_view kPageModeNames[] = {"", "/UseOutlines", "/UseThumbs", "/FullScreen", "/UseAttachments"};
constexpr std::string_view kPageLayoutNames[] = {"", "/SinglePage", "/OneColumn", "/TwoColumnLeft", "/TwoColumnRight"};

template <class E, size_t N>
E FromName(const std::string_view (&names)[N], std::string_view name) {
  for (size_t i = 1; i < N; ++i)
    if (names[i] == name) return static_cast<E>(i);
  return static_cast<E>(0);
}

}  // namespace

TksPageMode TksCustomPDFDocument::PageModeFromName(std::string_view name) {
  return FromName<TksPageMode>(kPageModeNames, name);
}

TksPageLayout TksCustomPDFDocument::PageLayoutFromName(std::string_view name) {
  return FromName<TksPageLayout>(kPageLayoutNames, name);
}

bool TksPDFCatalog::IsBuiltKey(std::string_view key) {
  static constexpr std::string_view built[] = {"/Type",     "/Pages",      "/Metadata", "/PageMode",
                                               "/PageLayout", "/Names",    "/Outlines", "/ViewerPreferences",
                                               "/AcroForm", "/OpenAction", "/AA"};
  return std::find(std::begin(built), std::end(built), key) != std::end(built);
}

bool TksPDFCatalog::IsDroppedKey(std::string_view key) {
  return key == "/Version" || key == "/Extensions" || key == "/Perms";
}

std::string TksCustomPDFDocument::PageModeName() const {
  return PageMode == pmNone || PageMode > pmUseAttachments ? OtherPageMode : std::string(kPageModeNames[PageMode]);
}

std::string TksCustomPDFDocument::PageLayoutName() const {
  return PageLayout == plNone || PageLayout > plTwoColumnRight ? OtherPageLayout
                                                               : std::string(kPageLayoutNames[PageLayout]);
}

