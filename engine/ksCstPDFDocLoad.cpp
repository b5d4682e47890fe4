// The load driver.
#include <filesystem>

#include "ksCstPDFDoc.h"
#include "ksPDFParsers.h"
#include "ksPDFResStrs.h"
#include "ksPlatform.h"

namespace {

// Encryption dictionaries are small; deeper nesting is no encryption dictionary.
constexpr int kMaxResolveDepth = 32;

}  // namespace

bool TksCustomPDFDocument::LoadFromFile(const std::string& fileName) {
  // Always from a clean state: a failed earlier load may have left objects behind.
  Reset();
  XRefKind = xkNone;
  PendingID.reset();
  WorkFileName = std::filesystem::path(fileName).has_extension() ? fileName : fileName + ".pdf";
  if (!ksplatform::FileExists(WorkFileName))
    throw EFileNotFound(ksFormat(ksres::SFileNotFound, WorkFileName.c_str()));
  if (Filename.empty()) Filename = WorkFileName;
  try {
    SourceFile = std::make_unique<ksplatform::MappedFile>(WorkFileName);
  } catch (const Exception&) {
    throw;
  } catch (const std::exception& e) {
    throw Exception(e.what());
  }

  ParseFile();
  try {
    if (!IsEncrypted) {
      FinishLoad();
    } else if (OnPassword) {
      std::string password;
      bool cont = true, opened = false;
      for (int tries = 0; !opened && cont; ++tries) {
        OnPassword(this, password, cont, tries);
        if (cont)
          opened = TryPassword(password);
        else
          Reset();
      }
    } else {
      TryPassword(std::string());
    }
  } catch (...) {
    Reader.reset();
    throw;
  }
  // Reading is over; the mapping stays, as stream data may be views into it.
  Reader.reset();
  return IsLoaded;
}

void TksCustomPDFDocument::ParseFile() {
  try {
    Reader = std::make_unique<TksPDFStreamReader>(SourceFile ? SourceFile->data() : nullptr,
                                                  SourceFile ? SourceFile->size() : 0, DocumentID);
    PDFVersion = Reader->ReadHeader();
    ReadCrossReference();
    if (Trailer.EncryptEntry && Trailer.EncryptEntry->ObjectType != otNull) {
      // The security handler needs the dictionary's values, not references to them.
      std::function<TksPDFObjectPtr(const TksPDFObject*, int)> resolved = [&](const TksPDFObject* v, int depth) {
        if (!v || depth > kMaxResolveDepth) return TksPDFObjectPtr();
        if (auto* ref = AsRef(const_cast<TksPDFObject*>(v))) {
          TksPDFIndirectObject* target = FindLoaded(ref->ObjectNumber, ref->Generation);
          if (!target) target = KeepAside(ReadObject(ref->ObjectNumber));
          return target ? resolved(target->Value.get(), depth + 1) : TksPDFObjectPtr();
        }
        if (auto* array = AsArray(const_cast<TksPDFObject*>(v))) {
          auto copy = std::make_unique<TksPDFArrayObject>();
          for (const auto& item : array->Items) copy->Add(resolved(item.get(), depth + 1));
          return TksPDFObjectPtr(std::move(copy));
        }
        if (auto* dict = AsDict(const_cast<TksPDFObject*>(v))) {
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
    Reader.reset();
    throw;
  }
  IsLoaded = true;
}

bool TksCustomPDFDocument::TryPassword(const std::string&) {
  // Until the security handler is in place an encrypted file is refused here,
  // rather than read as garbage.
  if (IsEncrypted) throw Exception(ksres::SEncryptedNotSupported);
  FinishLoad();
  return true;
}

void TksCustomPDFDocument::FinishLoad() {
  if (OnBeginRead) OnBeginRead(this);
  try {
    ReadStructure();
  } catch (...) {
    Reader.reset();
    throw;
  }
  IsLoaded = true;
  StructureRead = true;
  StatusMessage(ksFormat(ksres::SDocumentReadComplete, PageCount()));
  if (OnEndRead) OnEndRead(this);
}
