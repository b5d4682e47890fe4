// The encrypting handler of a save and what it gives the output: encrypted bytes, the
// encryption dictionary and the trailer's new identifier.
#include "document/ksCstPDFDoc.h"

#include "base/ksPDFResStrs.h"

void TksCustomPDFDocument::CreateEncryptionHandler() {
  Encryptor.reset();
  // Settings left as the source's password gave them keep the source's keys: new ones
  // would need an owner password the user-password opener never learns, and the file's
  // owner would lose access.
  if (Decryptor && openedEncryption_ && Encryption_->SameAs(*openedEncryption_)) {
    Encryptor = std::make_unique<TksPDFEncryption>(*Decryptor);
    return;
  }
  // An AES-256 file opened with its owner password: its user password stays unknown. Kept
  // as it was, its part of the keys stays; new keys without it would lock the user out
  // or (with an empty one) open to anyone.
  if (Decryptor && openedEncryption_ && !Decryptor->UserPasswordKnown &&
      Encryption_->UserPassword() == openedEncryption_->UserPassword()) {
    if (Encryption_->Level() != elAES256) throw ESecurityError(ksres::SUserPasswordUnknown);
    Encryptor = std::make_unique<TksPDFEncryption>(*Decryptor, *Encryption_);
    return;
  }
  // New keys keep the source's choice of metadata left in clear where the level can.
  const bool encryptMetadata = !Decryptor || Decryptor->EncryptMetadata;
  Encryptor = std::make_unique<TksPDFEncryption>("Output1.pdf", *Encryption_, Info().CreationDate(), encryptMetadata);
  if (!encryptMetadata && Encryptor->EncryptMetadata && Catalog && Catalog->Metadata)
    Warning(ksres::SMetadataEncryptedAt40Bits);
}

TksPDFEncryptionLevel TksCustomPDFDocument::OutputEncryptionLevel() const {
  if (Encryptor) return Encryptor->OutputLevel();
  if (Decryptor && openedEncryption_ && Encryption_->SameAs(*openedEncryption_)) return Decryptor->Level;
  return Encryption_->Level();
}

std::string TksCustomPDFDocument::EncryptData(std::string_view bytes, int32_t objectNumber,
                                              const TksPDFDictObject* streamDict) {
  if (!Encryptor) CreateEncryptionHandler();
  return Encryptor->Encrypt(bytes, objectNumber, 0, streamDict);
}

std::unique_ptr<TksPDFDictObject> TksCustomPDFDocument::BuildEncryptionDictionary() {
  if (!Encryptor) CreateEncryptionHandler();
  Trailer.IDArray = Encryptor->BuildIDArray();
  return Encryptor->BuildEncryptionDictionary();
}

