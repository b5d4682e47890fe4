// The standard security handler (RC4 at 40 to 128 bits, AES-128, AES-256): the key
// material shared by both directions, password checks and decryption while reading, the
// encryption settings and the encrypting handler used on save. MD5, RC4, AES and the
// SHA-2 family come from nettle.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "objects/ksPDFObjects.h"

class TksMemoryStream;

// New levels go at the end: the settings dialog's list and stored settings use the values.
enum TksPDFEncryptionLevel : uint8_t { el40bit = 0, el128bit = 1, elAES128 = 2, elAES256 = 3 };
constexpr bool IsAESLevel(TksPDFEncryptionLevel level) { return level == elAES128 || level == elAES256; }

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
  // What a user's choice grants: high-resolution printing is a degree of printing, which
  // readers grant only with printing, so choosing it alone chooses both.
  constexpr TksUserPermissions Chosen() const {
    TksUserPermissions p = *this;
    if (p.Contains(AllowHighResPrint)) p.Include(AllowPrint);
    return p;
  }
  uint8_t Bits = 0;
};

// The published permissions a "/P" value grants at a revision of the handler. Revision 2
// has no bits of its own for the four upper ones: each follows the bit it is part of there
// (form filling annotating, accessibility copying, assembly modifying, high-resolution
// printing printing).
TksUserPermissions PermissionsFromP(int32_t revision, int64_t p);

namespace kscrypt {
// How strings or streams are encrypted: the crypt filter's method.
enum TksCryptMethod : uint8_t { cmIdentity = 0, cmRC4, cmAESV2, cmAESV3 };
using TksDigest = std::array<uint8_t, 16>;
// MD5 over the concatenation of the parts.
TksDigest Md5(std::initializer_list<std::string_view> parts);
// RC4 from a fresh state over data in place; keys of 1 to 256 bytes.
void Rc4(const uint8_t* key, size_t keyLength, uint8_t* data, size_t size);
inline std::string_view View(const uint8_t* p, size_t n) { return {reinterpret_cast<const char*>(p), n}; }
// Random bytes from the system, for keys, salts and initialisation vectors.
void RandomBytes(uint8_t* out, size_t size);
// AES-CBC with a key of 16 or 32 bytes over whole blocks, in place.
void AesCbc(const uint8_t* key, size_t keyLength, const uint8_t* iv, uint8_t* data, size_t size, bool encrypt);
// The hash of revisions 5 and 6 over a prepared password, an 8-byte salt and (for the
// owner) the 48 bytes of "/U": one SHA-256 at revision 5, the rounds of SHA-256, -384 and
// -512 at revision 6. 32 bytes.
std::array<uint8_t, 32> PasswordHash(int revision, std::string_view password, std::string_view salt,
                                     std::string_view userKey);
// A password as the AES-256 handler keys on it: SASLprep, UTF-8, at most 127 bytes.
std::string PreparePassword(std::u16string_view password);
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
  // "/O" and "/U": 32 bytes, 48 for AES-256.
  std::string GetOwnerKey() const { return std::string(kscrypt::View(OwnerKey.data(), KeyEntryLength)); }
  std::string GetUserKey() const { return std::string(kscrypt::View(UserKey.data(), KeyEntryLength)); }
  void SetLevel(TksPDFEncryptionLevel level) { Level = level; }
  static std::array<uint8_t, 32> PadPassword(std::string_view password);
  static const std::array<uint8_t, 32>& PaddingString();

  TksPDFEncryptionLevel Level = el128bit;
  std::string FileID;  // the first element of the document identifier, as bytes
  std::array<uint8_t, 48> OwnerKey{};
  std::array<uint8_t, 48> UserKey{};
  size_t KeyEntryLength = 32;
  // AES-256 only: the file key encrypted under each password ("/OE", "/UE") and the
  // permissions encrypted under the file key ("/Perms").
  std::array<uint8_t, 32> OwnerEncryptedKey{};
  std::array<uint8_t, 32> UserEncryptedKey{};
  std::array<uint8_t, 16> PermsBlock{};
  std::array<uint8_t, 32> EncryptionKey{};
  TksUserPermissions Permissions = TksUserPermissions::All();

 protected:
  // Key bytes for the level: 5, 16 or 32.
  int LevelKeyLength() const { return Level == el40bit ? 5 : Level == elAES256 ? 32 : 16; }
  // The bytes one string or stream of an object becomes under a method and the document
  // key: RC4 keeps the length; AES puts the initialisation vector in front and pads.
  static std::string EncryptObjectData(kscrypt::TksCryptMethod method, const uint8_t* key, int keyLength,
                                       int32_t objectNumber, int32_t generation, std::string_view data);
  // The reverse; false when AES data had no whole blocks or a wrong padding (the bytes
  // decrypted are kept then, as far as there were whole blocks).
  static bool DecryptObjectData(kscrypt::TksCryptMethod method, const uint8_t* key, int keyLength,
                                int32_t objectNumber, int32_t generation, std::string& data);
  // RC4 under the key of one object: MD5 of the document key, three bytes of the object
  // number and two of the generation, cut to min(n + 5, 16) bytes.
  static void CryptObjectData(const uint8_t* key, int keyLength, int32_t objectNumber, int32_t generation,
                              uint8_t* data, size_t size);
};

// Checks a password against an encryption dictionary and decrypts what the reader reads.
class TksPDFDecrypt : public TksBasePDFCrypt {
 public:
  // Takes everything the checks need from the resolved encryption dictionary and the
  // trailer's "/ID" (may be absent). Refuses other handlers and unknown revisions clearly.
  void ReadEncryptionData(const TksPDFDictObject& encrypt, const TksPDFArrayObject* idArray);

  // Identifier bytes, any length (producers write 16 bytes, some more).
  void SetFileID(std::string_view bytes) { FileID = std::string(bytes); }
  // Token text of the "/O" and "/U" strings, delimiters included.
  void SetOwnerKey(std::string_view tokenText);
  void SetUserKey(std::string_view tokenText);
  void SetPValue(int64_t value);

  // 0 when right, -1 otherwise; the owner check gives the user password it unlocks (none
  // from revision 5 on, where "/O" does not hold it).
  int CheckOwnerPassword(std::string_view password, std::string& userPassword);
  int CheckUserPassword(std::string_view password);
  // The byte strings a password typed as text may have been set as, in the order they are
  // tried: up to revision 4 its Windows-1252 bytes when every character has one, then its
  // UTF-8 bytes; from revision 5 on the prepared password, then plain UTF-8 when that
  // differs (some producers skip the preparation).
  static std::vector<std::string> PasswordCandidates(std::u16string_view password, int32_t revision = 4);
  // Tries each candidate of the text; fills the settings from the first that opens.
  bool Authenticate(TksPDFEncryptionSettings& settings, std::u16string_view password);
  // One byte string: the owner check, then the user check.
  bool AuthenticateBytes(TksPDFEncryptionSettings& settings, std::string_view password);
  // Permissions becomes what "/P" grants at the revision.
  void ApplyPValue();

  void DecryptString(std::string& bytes, int32_t objectNumber, int32_t generation) const;
  void DecryptStream(TksMemoryStream& stream, int64_t length, int32_t objectNumber, int32_t generation) const;
  // Raw stream bytes of an object under the method its dictionary chooses (the stream
  // method when none is given); AES data shrink by their vector and padding.
  void DecryptData(std::vector<uint8_t>& bytes, int32_t objectNumber, int32_t generation,
                   const TksPDFDictObject* dict = nullptr) const;
  // Whether a stream with this dictionary was encrypted by the producer (the metadata
  // stream may be left in clear; identity crypt filters leave everything in clear).
  bool IsStreamEncrypted(const TksPDFDictObject* dict) const { return StreamMethodFor(dict) != kscrypt::cmIdentity; }
  kscrypt::TksCryptMethod StreamMethodFor(const TksPDFDictObject* dict) const;
  bool AreStringsEncrypted() const { return StringMethod != kscrypt::cmIdentity; }
  // Whether strings or streams use AES (the output keeps the method).
  bool UsesAES() const;

  int32_t PValue = 0;
  bool IsOwner = false;
  std::array<uint8_t, 32> Key{};
  // From the dictionary: its version ("/V"), the revision of the algorithms (2 to 6), the
  // key length in bytes (5 to 16, 32 for AES-256) and what the producer left unencrypted.
  int32_t Version = 2;
  int32_t Revision = 3;
  int32_t KeyLength = 16;
  int32_t LengthBits = 128;
  bool EncryptMetadata = true;
  kscrypt::TksCryptMethod StringMethod = kscrypt::cmRC4;
  kscrypt::TksCryptMethod StreamMethod = kscrypt::cmRC4;
  kscrypt::TksCryptMethod FileMethod = kscrypt::cmRC4;  // embedded files ("/EFF")
  // Revisions 5 and 6: the owner password does not give the user password, so after an
  // owner open it stays unknown; "/Perms" disagreed with "/P" (the open goes on).
  bool UserPasswordKnown = true;
  bool PermsMismatch = false;
  // Told the object number of AES data whose padding was wrong (the data are kept).
  std::function<void(int32_t)> OnBadPadding;
  // The trailer's "/ID" as read (none when the file has none): the key depends on it.
  std::unique_ptr<TksPDFArrayObject> IDArray;
  // The dictionary as read: an AES source is written back with it unchanged.
  std::unique_ptr<TksPDFDictObject> SourceDictionary;

 private:
  bool CheckUserPadded(const std::array<uint8_t, 32>& padded);
  // Revisions 5 and 6.
  bool CheckUserV5(std::string_view password);
  bool CheckOwnerV5(std::string_view password);
  void CheckPerms();
  void Decrypt(kscrypt::TksCryptMethod method, std::string& bytes, int32_t objectNumber, int32_t generation) const;
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

// The encrypting handler of a save: identifier, "/O", "/U", "/P" and the document key
// (for AES-256 also "/OE", "/UE" and "/Perms").
class TksPDFEncryption : public TksBasePDFCrypt {
 public:
  // New keys and identifier from the settings: revision 2 at 40 bits, 3 at 128, 4 with
  // AES-128 crypt filters, 6 for AES-256 (its file key and salts random). Metadata left in
  // clear take 128-bit RC4 to revision 4, with an RC4 crypt filter; 40-bit keys always encrypt them.
  TksPDFEncryption(std::string_view seed1, const TksPDFEncryptionSettings& settings, std::string_view seed2,
                   bool encryptMetadata = true);
  // The keys of an opened source as they are: its "/O", "/U", "/P", "/ID", revision, key
  // length and crypt filters, so that the output opens with the source's passwords.
  explicit TksPDFEncryption(const TksPDFDecrypt& source);
  // An AES-256 source opened with its owner password whose settings changed but not the
  // user password, which the owner open does not learn: the file key, "/U" and "/UE"
  // stay, so the user password keeps working; "/O", "/OE", "/P" and "/Perms" are new.
  TksPDFEncryption(const TksPDFDecrypt& source, const TksPDFEncryptionSettings& settings);

  int32_t GetPValue() const { return PValue; }
  // Whether strings are encrypted, and a stream with this dictionary.
  bool EncryptsStrings() const { return StringMethod != kscrypt::cmIdentity; }
  bool EncryptsStream(const TksPDFDictObject* dict) const { return StreamMethodFor(dict) != kscrypt::cmIdentity; }
  kscrypt::TksCryptMethod StreamMethodFor(const TksPDFDictObject* dict) const;
  // RC4 only: the cipher keeps the length.
  void EncryptBuffer(const uint8_t* source, uint8_t* target, int32_t generation, int32_t objectNumber,
                     int64_t length) const;
  // A string (no dictionary) or the data of a stream with this dictionary.
  std::string Encrypt(std::string_view bytes, int32_t objectNumber, int32_t generation = 0,
                      const TksPDFDictObject* streamDict = nullptr) const;
  // The dictionary written as the last object (caller owns it).
  std::unique_ptr<TksPDFDictObject> BuildEncryptionDictionary() const;
  // The trailer's "/ID": two equal hexadecimal strings of a new identifier, or the
  // source's (none when it had none).
  std::unique_ptr<TksPDFArrayObject> BuildIDArray() const;
  // The encryption level the output has (for the version it needs).
  TksPDFEncryptionLevel OutputLevel() const;

  std::string OwnerPassword;
  std::string UserPassword;
  std::array<uint8_t, 64> PaddedPasswords{};
  // What the dictionary says: "/V", "/R", the key length in bytes and "/P".
  int32_t Version = 2;
  int32_t Revision = 3;
  int32_t KeyLength = 16;
  int32_t PValue = -4;
  // Versions 4 and 5: the methods of the crypt filters, metadata in clear.
  kscrypt::TksCryptMethod StringMethod = kscrypt::cmRC4;
  kscrypt::TksCryptMethod StreamMethod = kscrypt::cmRC4;
  kscrypt::TksCryptMethod FileMethod = kscrypt::cmRC4;
  bool EncryptMetadata = true;

 private:
  void ComputeKeys();
  // Revision 6: "/O" and "/OE" from the owner password, "/Perms" from "/P".
  void ComputeOwnerKeysV6(std::string_view owner);
  void ComputePerms();
  int32_t PValueFromPermissions() const;
  std::unique_ptr<TksPDFArrayObject> sourceID_;
  std::unique_ptr<TksPDFDictObject> sourceDictionary_;
  bool fromSource_ = false;
};
