// The load driver.
#include <cstring>
#include <unordered_map>

#include "document/ksCstPDFDoc.h"
#include "parse/ksPDFParsers.h"
#include "base/ksPDFResStrs.h"
#include "ksPlatform.h"

namespace {

// Encryption dictionaries are small; deeper nesting is no encryption dictionary.
constexpr int kMaxResolveDepth = 32;
// Nor is one whose resolved copy grows past this many bytes (each value counts 16, a
// string or name its length too): references repeated at every level would otherwise
// copy an exponential number of values.
constexpr size_t kMaxResolvedSize = size_t{1} << 20;
// How far into a file its header is looked for when it does not stand at the start.
constexpr size_t kHeaderSearch = 1024;

// What the reader decrypts goes through the document's decrypting handler.
class TksReaderDecryptor : public TksPDFDecryptor {
 public:
  explicit TksReaderDecryptor(const TksPDFDecrypt& handler) : handler_(handler) {}
  void DecryptString(int32_t objectNumber, int32_t generation, std::string& bytes) override {
    handler_.DecryptString(bytes, objectNumber, generation);
  }
  void DecryptStream(int32_t objectNumber, int32_t generation, std::vector<uint8_t>& bytes) override {
    handler_.DecryptData(bytes, objectNumber, generation);
  }

 private:
  const TksPDFDecrypt& handler_;
};

}  // namespace

void TksCustomPDFDocument::CheckSourceReadWhole() const {
  if (SourceFile && !SourceFile->Unchanged())
    throw EReadError(ksFormat(ksres::SSourceChangedWhileRead, SourceFile->path().c_str()));
}

void TksCustomPDFDocument::EndFailedLoad() {
  load_.reset();
  // A source changed while it was read explains any failure it caused.
  if (SourceFile && !SourceFile->Unchanged()) {
    StructureRead = false;
    CheckSourceReadWhole();
  }
}

bool TksCustomPDFDocument::LoadFromFile(const std::string& fileName) {
  // Always from a clean state: a failed earlier load may have left objects behind.
  Reset();
  XRefKind = xkNone;
  // The name as given: adding an extension is the output's rule, and an input without
  // one ("scan", /dev/stdin) is still a file.
  WorkFileName = fileName;
  switch (ksplatform::KindOfFile(WorkFileName)) {
    case ksplatform::fkMissing:
      throw EFileNotFound(ksFormat(ksres::SFileNotFound, WorkFileName.c_str()));
    case ksplatform::fkDirectory:
      throw EFileNotFound(ksFormat(ksres::SIsDirectory, WorkFileName.c_str()));
    case ksplatform::fkOther:
      throw EFileNotFound(ksFormat(ksres::SNotRegularFile, WorkFileName.c_str()));
    default:
      break;  // a regular file, or one the system would not describe: opening it says why
  }
  if (Filename.empty()) Filename = WorkFileName;
  try {
    SourceFile = std::make_unique<ksplatform::MappedFile>(WorkFileName);
  } catch (const Exception&) {
    throw;
  } catch (const std::exception& e) {
    throw EOpenError(e.what());
  }

  // Warnings wait till the load is decided: those of an attempt that a rebuild replaces
  // describe nothing the document holds. The repair is named first.
  std::vector<std::string> held;
  struct Hold {
    std::function<void(TksCustomPDFDocument*, const std::string&)>& slot;
    std::function<void(TksCustomPDFDocument*, const std::string&)> report;
    bool given = false;
    void GiveBack() {
      if (!given) slot = std::move(report);
      given = true;
    }
    ~Hold() { GiveBack(); }
  } hold{OnWarning, std::move(OnWarning)};
  OnWarning = [&held](TksCustomPDFDocument*, const std::string& text) { held.push_back(text); };
  auto flush = [&] {
    hold.GiveBack();
    if (!OnWarning) return;
    if (Repaired() && IsLoaded) OnWarning(this, ksres::SRepaired);
    for (const std::string& text : held) OnWarning(this, text);
  };

  std::optional<std::u16string> opened;
  bool xrefAtFault = false;
  try {
    try {
      ReadWholeFile(RepairMode == rmAlways, opened, xrefAtFault);
    } catch (Exception& first) {
      if (RepairMode != rmFallback || !xrefAtFault || !RepairMayHelp(first)) throw;
      const std::exception_ptr failure = std::current_exception();
      const std::string cause = first.what();
      // A fresh document over the same source: nothing of the failed attempt is kept
      // but the password that opened it.
      auto source = std::move(SourceFile);
      const std::string name = WorkFileName;
      std::vector<std::string> firstWarnings = std::move(held);
      Reset();
      SourceFile = std::move(source);
      WorkFileName = name;
      held.clear();
      RepairNotes.push_back(ksFormat(ksres::SRepairCause, cause.c_str()));
      try {
        ReadWholeFile(true, opened, xrefAtFault);
      } catch (const ESecurityError&) {
        throw;  // the rebuild found encryption it cannot undo: that, not the damage, is the failure
      } catch (const Exception&) {
        // What the rebuild could not read either is reported as the file's own failure.
        held = std::move(firstWarnings);
        std::rethrow_exception(failure);
      }
    }
    // Whatever was read of a file that changed meanwhile may mix two versions of it, or
    // hold zeros where its end was: the document is not the file.
    CheckSourceReadWhole();
    // A rebuilt file without a page has lost its document: an empty output is no repair.
    if (XRefKind == xkRebuilt && StructureRead && PageCount() == 0) throw EPDFFileCorruptedError(ksres::SRepairNoPages);
  } catch (Exception& e) {
    e.NoteFile(WorkFileName);
    RepairNotes.clear();
    flush();
    EndFailedLoad();
    throw;
  } catch (...) {
    RepairNotes.clear();
    flush();
    EndFailedLoad();
    throw;
  }
  flush();
  // Reading is over; the mapping stays, as stream data may be views into it.
  load_.reset();
  return IsLoaded;
}

void TksCustomPDFDocument::ReadWholeFile(bool rebuild, std::optional<std::u16string>& opened, bool& xrefAtFault) {
  xrefAtFault = true;
  ParseFile(rebuild);
  // Past the cross-reference data, a failure is theirs when they place an object wrongly
  // or, after their chain broke, leave one without an entry; any other failure (an
  // object's own syntax, a page tree's loop) a rebuild would only meet again.
  xrefAtFault = load_->SectionsLost;
  try {
    ReadRest(opened);
  } catch (const ECrossReferenceError&) {
    xrefAtFault = true;
    throw;
  }
}

void TksCustomPDFDocument::ReadRest(std::optional<std::u16string>& opened) {
  if (!IsEncrypted) {
    FinishLoad();
  } else if (opened) {
    // A retry over rebuilt data: the password the user gave is not asked for again.
    if (!TryPassword(*opened)) throw EPDFFileCorruptedError(ksres::SPasswordNeeded);
  } else if (OnPassword) {
    std::u16string password;
    bool cont = true, accepted = false;
    for (int tries = 0; !accepted && cont; ++tries) {
      OnPassword(this, password, cont, tries);
      if (!cont) {
        Reset();
      } else if (CheckPassword(password)) {
        accepted = true;
        opened = password;
        TryPassword(password);
      }
    }
  } else {
    opened = std::u16string();
    TryPassword(std::u16string());
  }
}

bool TksCustomPDFDocument::RepairMayHelp(const Exception& e) const {
  // Bounds, passwords, encryption the engine lacks and a source that changed are not
  // damage of the cross-reference data; nor is a file without any header.
  if (dynamic_cast<const EDecodedSizeError*>(&e) || dynamic_cast<const ESecurityError*>(&e) ||
      dynamic_cast<const EUnsupportedVersion*>(&e) || dynamic_cast<const EInvalidHeader*>(&e) ||
      dynamic_cast<const EReadError*>(&e) || dynamic_cast<const EOpenError*>(&e) ||
      dynamic_cast<const EFileNotFound*>(&e) || dynamic_cast<const EInvalidPermission*>(&e))
    return false;
  return SourceFile && SourceFile->Unchanged();
}

void TksCustomPDFDocument::OpenReader(const uint8_t* data, size_t size) {
  load_ = std::make_unique<TksLoadState>();
  load_->Reader = std::make_unique<TksPDFStreamReader>(data, size, DocumentID);
}

void TksCustomPDFDocument::CloseReader() { load_.reset(); }

void TksCustomPDFDocument::ParseFileAt(const std::string& fileName) {
  SourceFile = std::make_unique<ksplatform::MappedFile>(fileName);
  ParseFile();
}

void TksCustomPDFDocument::ParseFile(bool rebuild) {
  try {
    const uint8_t* data = SourceFile ? SourceFile->data() : nullptr;
    const size_t size = SourceFile ? SourceFile->size() : 0;
    OpenReader(data, size);
    try {
      PDFVersion = HeaderVersion = load_->Reader->ReadHeader();
    } catch (const EInvalidHeader&) {
      // Junk before the header (a mail gateway's, a download script's): offsets count
      // from the header, so the file is read from there.
      const void* found = data ? memmem(data, std::min(size, kHeaderSearch), "%PDF-", 5) : nullptr;
      if (!found || RepairMode == rmNever) throw;
      const auto shift = static_cast<size_t>(static_cast<const uint8_t*>(found) - data);
      OpenReader(data + shift, size - shift);
      PDFVersion = HeaderVersion = load_->Reader->ReadHeader();
      RepairNotes.push_back(ksFormat(ksres::SRepairHeaderShift, static_cast<long long>(shift)));
    }
    load_->Rebuild = rebuild;
    ReadCrossReference();
    if (Trailer.EncryptEntry && Trailer.EncryptEntry->ObjectType != otNull) {
      // The security handler needs the dictionary's values, not references to them.
      size_t spent = 0;
      std::function<TksPDFObjectPtr(const TksPDFObject*, int)> resolved = [&](const TksPDFObject* v, int depth) {
        if (!v || depth > kMaxResolveDepth) return TksPDFObjectPtr();
        spent += 16;
        if (auto* s = AsString(v)) spent += s->Text.size();
        if (auto* n = AsName(v)) spent += n->Text.size();
        if (spent > kMaxResolvedSize) throw EPDFFileCorruptedError(ksres::SNotEncryptionDictionary);
        if (auto* ref = AsRef(v)) {
          TksPDFIndirectObject* target = resolver_->Follow(*ref, fpKeepAside);
          return target ? resolved(target->Value.get(), depth + 1) : TksPDFObjectPtr();
        }
        if (auto* array = AsArray(v)) {
          auto copy = std::make_unique<TksPDFArrayObject>();
          for (const auto& item : array->Items) copy->Add(resolved(item.get(), depth + 1));
          return TksPDFObjectPtr(std::move(copy));
        }
        if (auto* dict = AsDict(v)) {
          auto copy = std::make_unique<TksPDFDictObject>();
          for (int32_t i = 0; i < dict->Count(); ++i)
            copy->AddObject(dict->KeyAt(i)->Text(), resolved(dict->ValueAt(i), depth + 1));
          return TksPDFObjectPtr(std::move(copy));
        }
        return v->Clone();
      };
      Trailer.EncryptEntry = resolved(Trailer.EncryptEntry.get(), 0);
      IsEncrypted = true;
      load_->FileIDLost = XRefKind == xkRebuilt && !Trailer.IDArray;
    } else {
      IsEncrypted = false;
    }
  } catch (...) {
    load_.reset();
    throw;
  }
  IsLoaded = true;
}

bool TksCustomPDFDocument::TryPassword(const std::u16string& password) {
  if (IsEncrypted) {
    if (!CheckPassword(password)) return false;
    // Here, not in CheckPassword, which the password loop calls before this once more.
    if (Decryptor->PermsMismatch) Warning(ksres::SPermsMismatch);
    // Object streams are encrypted as a whole: they could only be expanded once the key
    // was known. Each is decrypted by the reader under its own number and generation.
    EnterScannedObjectStreams();
    if (!XRefStreamEntries.empty()) ExpandObjectStreams();
  }
  FinishLoad();
  return true;
}

bool TksCustomPDFDocument::CheckPassword(const std::u16string& password) {
  openedEncryption_.reset();
  auto* encrypt = AsDict(Trailer.EncryptEntry.get());
  if (!encrypt) throw EPDFFileCorruptedError(ksres::SNotEncryptionDictionary);
  if (load_) {
    load_->Reader->Decryptor = nullptr;
    load_->ReaderDecryptor.reset();
  }
  Decryptor = std::make_unique<TksPDFDecrypt>();
  Decryptor->ReadEncryptionData(*encrypt, Trailer.IDArray.get());
  Decryptor->OnBadPadding = [this](int32_t objectNumber) {
    RepeatedWarning(rfAESPadding, ksFormat(ksres::SAESPaddingWrong, objectNumber));
  };
  if (load_) {
    load_->ReaderDecryptor = std::make_unique<TksReaderDecryptor>(*Decryptor);
    load_->Reader->Decryptor = load_->ReaderDecryptor.get();
  }
  // A fresh settings object for every attempt: a locked one from an earlier attempt
  // would refuse the values of this one.
  Encryption_ = std::make_unique<TksPDFEncryptionSettings>();
  Encryption_->SetEnabled(true);
  Encryption_->SetLevel(Decryptor->Level);
  Encryption_->SetUserPermissions(PermissionsFromP(Decryptor->Revision, Decryptor->PValue));
  if (!Decryptor->Authenticate(*Encryption_, password)) {
    // Revisions before 5 make the key from the identifier: without it no password works.
    if (load_ && load_->FileIDLost && Decryptor->Revision < 5) throw ESecurityError(ksres::SRepairNoFileID);
    return false;
  }
  openedEncryption_ = std::make_unique<TksPDFEncryptionSettings>(*Encryption_);
  return true;
}

uint64_t TksCustomPDFDocument::DecodeBudget() const {
  const uint64_t size = SourceFile ? SourceFile->size() : 0;
  const TksDecodeBounds& b = DecodeBounds;
  // Saturates rather than wraps for absurd factors.
  if (b.BudgetFactor != 0 && size > (UINT64_MAX - b.BudgetFloor) / b.BudgetFactor) return UINT64_MAX;
  return b.BudgetFactor * size + b.BudgetFloor;
}

TksDecodeBuffer TksCustomPDFDocument::DecodeStreamData(const TksPDFStreamObject& stream, const TksPDFObject* filter,
                                                       uint64_t cap,
                                                       const std::function<std::string(const std::string&)>& tooLarge) {
  cap = std::min(cap, ksDecodeLimit());
  const uint64_t budget = DecodeBudget();
  const uint64_t left = budget - std::min(decoded_, budget);
  TksDecodeRequest request;
  request.Limit = std::min(cap, left);
  if (auto* declared = AsInteger(Store->Dereference(stream.Dict->Lookup("/DL"))); declared && declared->Value > 0)
    request.Declared = static_cast<uint64_t>(declared->Value);
  try {
    TksDecodeBuffer out = DecodeChain(stream.Data->View(), GetDecodeFilters(filter), request);
    decoded_ += request.Produced;
    return out;
  } catch (const EDecodedSizeError&) {
    decoded_ += request.Produced;
    if (left < cap) {
      const uint64_t size = SourceFile ? SourceFile->size() : 0;
      throw EDecodedSizeError(
          ksFormat(ksres::SDecodeBudgetSpent, std::to_string(budget).c_str(), std::to_string(size).c_str()));
    }
    throw EDecodedSizeError(tooLarge(std::to_string(cap)));
  } catch (...) {
    decoded_ += request.Produced;
    throw;
  }
}

bool TksCustomPDFDocument::IsOwner() const { return Decryptor ? Decryptor->IsOwner : true; }

void TksCustomPDFDocument::FinishLoad() {
  if (OnBeginRead) OnBeginRead(this);
  try {
    ReadStructure();
  } catch (...) {
    load_.reset();
    throw;
  }
  ReportRepeatedWarnings();
  IsLoaded = true;
  StructureRead = true;
  StatusMessage(ksFormat(ksres::SDocumentReadComplete, PageCount()));
  if (OnEndRead) OnEndRead(this);
}
