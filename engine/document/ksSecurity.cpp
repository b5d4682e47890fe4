// The encrypting handler of a save and what it gives the output: encrypted bytes, the
// encryption dictionary and the trailer's new identifier.
#include "document/ksCstPDFDoc.h"

void TksCustomPDFDocument::CreateEncryptionHandler() {
  Encryptor.reset();
  // Settings left as the source's password gave them keep the source's keys: new ones
  // would need an owner password the user-password opener never learns, and the file's
  // owner would lose access.
  if (Decryptor && openedEncryption_ && Encryption_->SameAs(*openedEncryption_))
    Encryptor = std::make_unique<TksPDFEncryption>(*Decryptor);
  else
    Encryptor = std::make_unique<TksPDFEncryption>("Output1.pdf", *Encryption_, Info().CreationDate());
}

std::string TksCustomPDFDocument::EncryptData(std::string_view bytes, int32_t objectNumber) {
  if (!Encryptor) CreateEncryptionHandler();
  return Encryptor->Encrypt(bytes, objectNumber, 0);
}

std::unique_ptr<TksPDFDictObject> TksCustomPDFDocument::BuildEncryptionDictionary() {
  if (!Encryptor) CreateEncryptionHandler();
  Trailer.IDArray = Encryptor->BuildIDArray();
  return Encryptor->BuildEncryptionDictionary();
}

