// The standard security handler with RC4: the key material shared by both directions,
// password checks and decryption while reading, the encryption settings and the
// encrypting handler used on save. MD5 and RC4 come from nettle.
#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "objects/ksPDFObjects.h"

class TksMemoryStream;

enum TksPDFEncryptionLevel : uint8_t { el40bit = 0, el128bit = 1 };

enum TksUserPermissionsType : uint8_t {
  AllowCopy = 0, AllowModify, AllowPrint, AllowAnnotation,
  AllowFormFill, AllowAccessibility, AllowDocAssembly, AllowHighResPrint
};

// A set of permissions in one byte, bit i for ordinal i.
class TksUserPermissions {
 public:
  constexpr TksUserPermissions() = default;
  constexpr TksUserPermissions(std::initializer_list<TksUserPermissionsType> members) {
    for (auto m : members) Include(m);
  }
  static constexpr TksUserPermissions All() { return FromBits(0xFF); }
  static constexpr TksUserPermissions FromBits(uint8_t bits) {
    TksUserPermissions p;
    p.Bits = bits;
    return p;
  }
  constexpr bool Contains(TksUserPermissionsType t) const { return (Bits >> t) & 1u; }
  constexpr void Include(TksUserPermissionsType t) { Bits = static_cast<uint8_t>(Bits | (1u << t)); }
  constexpr void Exclude(TksUserPermissionsType t) { Bits = static_cast<uint8_t>(Bits & ~(1u << t)); }
  constexpr bool operator==(const TksUserPermissions&) const = default;
  uint8_t Bits = 0;
};

// The published permissions a "/P" value grants at a revision of the handler. Revision 2
// has no bits of its own for the four upper ones: each follows the bit it is part of there
// (form filling annotating, accessibility copying, assembly modifying, high-resolution
// printing printing).
TksUserPermissions PermissionsFromP(int32_t revision, int64_t p);

namespace kscrypt {
using TksDigest = std::array<uint8_t, 16>;
// MD5 over the concatenation of the parts.
TksDigest Md5(std::initializer_list<std::string_view> parts);
// RC4 from a fresh state over data in place; keys of 1 to 256 bytes.
void Rc4(const uint8_t* key, size_t keyLength, uint8_t* data, size_t size);
inline std::string_view View(const uint8_t* p, size_t n) { return {reinterpret_cast<const char*>(p), n}; }
}  // namespace kscrypt

class TksPDFEncryptionSettings;

// Key material shared by the decrypting and the encrypting handler.
class TksBasePDFCrypt {
 public:
  TksBasePDFCrypt() = default;
  virtual ~TksBasePDFCrypt() = default;
  TksBasePDFCrypt(const TksBasePDFCrypt&) = delete;
  TksBasePDFCrypt& operator=(const TksBasePDFCrypt&) = delete;

  std::string GetFileID() const { return FileID; }
  std::string GetOwnerKey() const { return std::string(kscrypt::View(OwnerKey.data(), OwnerKey.size())); }
  std::string GetUserKey() const { return std::string(kscrypt::View(UserKey.data(), UserKey.size())); }
  void SetLevel(TksPDFEncryptionLevel level) { Level = level; }
  static std::array<uint8_t, 32> PadPassword(std::string_view password);
  static const std::array<uint8_t, 32>& PaddingString();

  TksPDFEncryptionLevel Level = el128bit;
  std::string FileID;  // the first element of the document identifier, as bytes
  std::array<uint8_t, 32> OwnerKey{};
  std::array<uint8_t, 32> UserKey{};
  std::array<uint8_t, 16> EncryptionKey{};
  TksUserPermissions Permissions = TksUserPermissions::All();

 protected:
  // Key bytes for the level: 5 or 16.
  int LevelKeyLength() const { return Level == el40bit ? 5 : 16; }
  // RC4 under the key of one object: MD5 of the document key, three bytes of the object
  // number and two of the generation, cut to min(n + 5, 16) bytes.
  static void CryptObjectData(const uint8_t* key, int keyLength, int32_t objectNumber, int32_t generation,
                              uint8_t* data, size_t size);
};

// Checks a password against an encryption dictionary and decrypts what the reader reads.
class TksPDFDecrypt : public TksBasePDFCrypt {
 public:
  // Takes everything the checks need from the resolved encryption dictionary and the
  // trailer's "/ID" (may be absent). Refuses AES and other handlers clearly.
  void ReadEncryptionData(const TksPDFDictObject& encrypt, const TksPDFArrayObject* idArray);

  // Identifier bytes, any length (producers write 16 bytes, some more).
  void SetFileID(std::string_view bytes) { FileID = std::string(bytes); }
  // Token text of the "/O" and "/U" strings, delimiters included.
  void SetOwnerKey(std::string_view tokenText);
  void SetUserKey(std::string_view tokenText);
  void SetPValue(int64_t value);

  // 0 when right, -1 otherwise; the owner check gives the user password it unlocks.
  int CheckOwnerPassword(std::string_view password, std::string& userPassword);
  int CheckUserPassword(std::string_view password);
  // The byte strings a password typed as text may have been set as, in the order they are
  // tried: its Windows-1252 bytes when every character has one, then its UTF-8 bytes.
  static std::vector<std::string> PasswordCandidates(std::u16string_view password);
  // Tries each candidate of the text; fills the settings from the first that opens.
  bool Authenticate(TksPDFEncryptionSettings& settings, std::u16string_view password);
  // One byte string: the owner check, then the user check.
  bool AuthenticateBytes(TksPDFEncryptionSettings& settings, std::string_view password);
  // Permissions becomes what "/P" grants at the revision.
  void ApplyPValue();

  void DecryptString(std::string& bytes, int32_t objectNumber, int32_t generation) const;
  void DecryptStream(TksMemoryStream& stream, int64_t length, int32_t objectNumber, int32_t generation) const;
  // Per-object RC4 over raw stream bytes in place.
  void DecryptData(uint8_t* data, size_t size, int32_t objectNumber, int32_t generation) const {
    if (size > 0) CryptObjectData(Key.data(), KeyLength, objectNumber, generation, data, size);
  }
  // Whether a stream with this dictionary was encrypted by the producer (the metadata
  // stream may be left in clear; identity crypt filters leave everything in clear).
  bool IsStreamEncrypted(const TksPDFDictObject* dict) const;
  bool AreStringsEncrypted() const { return StringsEncrypted; }

  int32_t PValue = 0;
  bool IsOwner = false;
  std::array<uint8_t, 16> Key{};
  // From the dictionary: its version ("/V"), the revision of the algorithms (2, 3 or 4),
  // the key length in bytes (5 to 16) and what the producer left unencrypted.
  int32_t Version = 2;
  int32_t Revision = 3;
  int32_t KeyLength = 16;
  int32_t LengthBits = 128;
  bool EncryptMetadata = true;
  bool StringsEncrypted = true;
  bool StreamsEncrypted = true;
  // The trailer's "/ID" as read (none when the file has none): the key depends on it.
  std::unique_ptr<TksPDFArrayObject> IDArray;

 private:
  bool CheckUserPadded(const std::array<uint8_t, 32>& padded);
};

// What an encrypted save uses. Locked for good after a document was opened with its user
// password only: every change then raises and the owner password reads as empty.
class TksPDFEncryptionSettings {
 public:
  bool AllowChange() const { return allowChange_; }
  bool Enabled() const { return enabled_; }
  TksPDFEncryptionLevel Level() const { return level_; }
  std::string OwnerPassword() const { return allowChange_ ? ownerPassword_ : std::string(); }
  std::string UserPassword() const { return userPassword_; }
  TksUserPermissions UserPermissions() const { return userPermissions_; }

  void SetEnabled(bool value);
  void SetLevel(TksPDFEncryptionLevel value);
  void SetOwnerPassword(const std::string& value);
  void SetUserPassword(const std::string& value);
  void SetUserPermissions(TksUserPermissions value);
  void Lock() { allowChange_ = false; }
  // Whether both hold the same values (the lock aside).
  bool SameAs(const TksPDFEncryptionSettings& other) const;

 private:
  friend class TksPDFEncryption;
  void CheckChange() const;
  bool allowChange_ = true;
  bool enabled_ = false;
  TksPDFEncryptionLevel level_ = el128bit;
  std::string ownerPassword_;
  std::string userPassword_;
  TksUserPermissions userPermissions_ = TksUserPermissions::All();
};

// The encrypting handler of a save: identifier, "/O", "/U", "/P" and the document key.
class TksPDFEncryption : public TksBasePDFCrypt {
 public:
  // New keys and identifier from the settings (revision 2 at 40 bits, 3 at 128).
  TksPDFEncryption(std::string_view seed1, const TksPDFEncryptionSettings& settings, std::string_view seed2);
  // The keys of an opened source as they are: its "/O", "/U", "/P", "/ID", revision, key
  // length and crypt filters, so that the output opens with the source's passwords.
  explicit TksPDFEncryption(const TksPDFDecrypt& source);

  int32_t GetPValue() const { return PValue; }
  // Whether strings are encrypted, and a stream with this dictionary.
  bool EncryptsStrings() const { return StringsEncrypted; }
  bool EncryptsStream(const TksPDFDictObject* dict) const;
  void EncryptBuffer(const uint8_t* source, uint8_t* target, int32_t generation, int32_t objectNumber,
                     int64_t length) const;
  std::string Encrypt(std::string_view bytes, int32_t objectNumber, int32_t generation = 0) const;
  // The dictionary written as the last object (caller owns it).
  std::unique_ptr<TksPDFDictObject> BuildEncryptionDictionary() const;
  // The trailer's "/ID": two equal hexadecimal strings of a new identifier, or the
  // source's (none when it had none).
  std::unique_ptr<TksPDFArrayObject> BuildIDArray() const;

  std::string OwnerPassword;
  std::string UserPassword;
  std::array<uint8_t, 64> PaddedPasswords{};
  // What the dictionary says: "/V", "/R", the key length in bytes and "/P".
  int32_t Version = 2;
  int32_t Revision = 3;
  int32_t KeyLength = 16;
  int32_t PValue = -4;
  // Version 4 only: crypt filters that leave strings or streams in clear, metadata in clear.
  bool StringsEncrypted = true;
  bool StreamsEncrypted = true;
  bool EncryptMetadata = true;

 private:
  void ComputeKeys();
  int32_t PValueFromPermissions() const;
  std::unique_ptr<TksPDFArrayObject> sourceID_;
  bool fromSource_ = false;
};
