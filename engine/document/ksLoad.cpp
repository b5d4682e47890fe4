// The load driver.
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

// What the reader decrypts goes through the document's decrypting handler.
class TksReaderDecryptor : public TksPDFDecryptor {
 public:
  explicit TksReaderDecryptor(const TksPDFDecrypt& handler) : handler_(handler) {}
  void DecryptString(int32_t objectNumber, int32_t generation, std::string& bytes) override {
    handler_.DecryptString(bytes, objectNumber, generation);
  }
  void DecryptStream(int32_t objectNumber, int32_t generation, std::vector<uint8_t>& bytes) override {
    if (!handler_.IsStreamEncrypted(nullptr)) return;
    handler_.DecryptData(bytes.data(), bytes.size(), objectNumber, generation);
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

  try {
    ParseFile();
    if (!IsEncrypted) {
      FinishLoad();
    } else if (OnPassword) {
      std::u16string password;
      bool cont = true, opened = false;
      for (int tries = 0; !opened && cont; ++tries) {
        OnPassword(this, password, cont, tries);
        if (cont)
          opened = TryPassword(password);
        else
          Reset();
      }
    } else {
      TryPassword(std::u16string());
    }
    // Whatever was read of a file that changed meanwhile may mix two versions of it, or
    // hold zeros where its end was: the document is not the file.
    CheckSourceReadWhole();
  } catch (Exception& e) {
    e.NoteFile(WorkFileName);
    EndFailedLoad();
    throw;
  } catch (...) {
    EndFailedLoad();
    throw;
  }
  // Reading is over; the mapping stays, as stream data may be views into it.
  load_.reset();
  return IsLoaded;
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

void TksCustomPDFDocument::ParseFile() {
  try {
    OpenReader(SourceFile ? SourceFile->data() : nullptr, SourceFile ? SourceFile->size() : 0);
    PDFVersion = HeaderVersion = load_->Reader->ReadHeader();
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
            copy->AddObject(dict->KeyAt(i)->Text, resolved(dict->ValueAt(i), depth + 1));
          return TksPDFObjectPtr(std::move(copy));
        }
        return v->Clone();
      };
      Trailer.EncryptEntry = resolved(Trailer.EncryptEntry.get(), 0);
      IsEncrypted = true;
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
    // Object streams are encrypted as a whole: they could only be expanded once the key
    // was known. Each is decrypted by the reader under its own number and generation.
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
  if (!Decryptor->Authenticate(*Encryption_, password)) return false;
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
