#include "crypt/ksPDFCrypt.h"

#include <nettle/arcfour.h>
#include <nettle/md5.h>

#include <algorithm>

#include "base/ksByteStreams.h"
#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"
#include "ksPlatform.h"

// ---- MD5, RC4 and byte helpers ----

namespace kscrypt {

TksDigest Md5(std::initializer_list<std::string_view> parts) {
  md5_ctx ctx;
  md5_init(&ctx);
  for (auto part : parts) md5_update(&ctx, part.size(), reinterpret_cast<const uint8_t*>(part.data()));
  TksDigest digest;
  md5_digest(&ctx, digest.size(), digest.data());
  return digest;
}

void Rc4(const uint8_t* key, size_t keyLength, uint8_t* data, size_t size) {
  if (keyLength < ARCFOUR_MIN_KEY_SIZE || keyLength > ARCFOUR_MAX_KEY_SIZE)
    throw ESecurityError(ksres::SRC4InvalidKeyLength);
  arcfour_ctx ctx;
  arcfour_set_key(&ctx, keyLength, key);
  if (size > 0) arcfour_crypt(&ctx, size, data, data);
}



}  // namespace kscrypt

namespace {

using kscrypt::TksDigest;
using kscrypt::View;

std::string LittleEndian32(int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// One RC4 pass per k (rising or falling), each keyed with every key byte XOR k.
void Rc4Passes(const uint8_t* key, int keyLength, uint8_t* data, size_t size, bool rising) {
  std::array<uint8_t, 16> passKey{};
  for (int step = 0; step < 20; ++step) {
    int k = rising ? step : 19 - step;
    for (int i = 0; i < keyLength; ++i) passKey[static_cast<size_t>(i)] = static_cast<uint8_t>(key[i] ^ k);
    kscrypt::Rc4(passKey.data(), static_cast<size_t>(keyLength), data, size);
  }
}

int64_t IntegerOr(const TksPDFObject* o, int64_t fallback) {
  return IntegerValue(o).value_or(fallback);
}

// The bytes of an "/O" or "/U" token: hexadecimal decoded, a literal's content as it is.
std::string KeyTokenBytes(std::string_view tokenText) {
  if (tokenText.size() < 2) return std::string();
  TksPDFStringObject s{std::string(tokenText), tokenText.front() == '<'};
  return s.Bytes();
}

}  // namespace

// ---- Permissions ----

TksUserPermissions PermissionsFromP(int32_t revision, int64_t p) {
  TksUserPermissions result;
  auto grant = [&](int64_t bit, TksUserPermissionsType t) {
    if (p & bit) result.Include(t);
  };
  grant(4, AllowPrint);
  grant(8, AllowModify);
  grant(16, AllowCopy);
  grant(32, AllowAnnotation);
  const bool ownBits = revision >= 3;
  grant(ownBits ? 256 : 32, AllowFormFill);
  grant(ownBits ? 512 : 16, AllowAccessibility);
  grant(ownBits ? 1024 : 8, AllowDocAssembly);
  // High-resolution printing is printing first.
  if (p & 4) grant(ownBits ? 2048 : 4, AllowHighResPrint);
  return result;
}

// ---- TksBasePDFCrypt ----

const std::array<uint8_t, 32>& TksBasePDFCrypt::PaddingString() {
  static const std::array<uint8_t, 32> padding = {
      0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
      0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};
  return padding;
}

std::array<uint8_t, 32> TksBasePDFCrypt::PadPassword(std::string_view password) {
  std::array<uint8_t, 32> out;
  size_t n = std::min<size_t>(password.size(), 32);
  std::copy_n(reinterpret_cast<const uint8_t*>(password.data()), n, out.begin());
  std::copy_n(PaddingString().begin(), 32 - n, out.begin() + static_cast<std::ptrdiff_t>(n));
  return out;
}

void TksBasePDFCrypt::CryptObjectData(const uint8_t* key, int keyLength, int32_t objectNumber, int32_t generation,
                                      uint8_t* data, size_t size) {
  if (size == 0) return;
  std::array<uint8_t, 21> input{};
  std::copy_n(key, keyLength, input.begin());
  size_t at = static_cast<size_t>(keyLength);
  uint32_t number = static_cast<uint32_t>(objectNumber);
  uint32_t gen = static_cast<uint32_t>(generation);
  input[at++] = static_cast<uint8_t>(number & 0xFF);
  input[at++] = static_cast<uint8_t>((number >> 8) & 0xFF);
  input[at++] = static_cast<uint8_t>((number >> 16) & 0xFF);
  input[at++] = static_cast<uint8_t>(gen & 0xFF);
  input[at++] = static_cast<uint8_t>((gen >> 8) & 0xFF);
  TksDigest digest = kscrypt::Md5({View(input.data(), at)});
  kscrypt::Rc4(digest.data(), std::min<size_t>(at, 16), data, size);
}

// ---- TksPDFDecrypt ----

void TksPDFDecrypt::ReadEncryptionData(const TksPDFDictObject& encrypt, const TksPDFArrayObject* idArray) {
  // The method comes first: an AES document must never reach the RC4 checks.
  if (auto* filter = AsName(encrypt.Lookup("/Filter")); filter && filter->Text != "/Standard")
    throw ESecurityError(ksFormat(ksres::SUnsupportedSecurityHandler, filter->NameValue().c_str()));
  int64_t v = IntegerOr(encrypt.Lookup("/V"), 0);
  int64_t r = IntegerOr(encrypt.Lookup("/R"), 0);
  if (v >= 5 || r >= 5) throw ESecurityError(ksres::SUnsupportedAES);
  if (v == 3 || v < 0) throw ESecurityError(ksFormat(ksres::SUnsupportedEncryptionVersion, static_cast<int>(v)));
  Version = static_cast<int32_t>(v);

  int64_t lengthBits = IntegerOr(encrypt.Lookup("/Length"), v == 4 ? 128 : 40);
  StringsEncrypted = StreamsEncrypted = true;
  if (v == 4) {
    auto* cf = AsDict(encrypt.Lookup("/CF"));
    if (cf) {
      for (int32_t i = 0; i < cf->Count(); ++i) {
        auto* filter = AsDict(cf->ValueAt(i));
        auto* method = filter ? AsName(filter->Lookup("/CFM")) : nullptr;
        if (method && (method->Text == "/AESV2" || method->Text == "/AESV3"))
          throw ESecurityError(ksres::SUnsupportedAES);
      }
    }
    int64_t filterBits = 0;
    // Strings and streams each name a crypt filter; absent or /Identity leaves them in clear.
    auto useFilter = [&](const char* key, bool& encrypted) {
      auto* name = AsName(encrypt.Lookup(key));
      if (!name || name->Text == "/Identity") {
        encrypted = false;
        return;
      }
      auto* filter = cf ? AsDict(cf->Lookup(name->Text)) : nullptr;
      auto* method = filter ? AsName(filter->Lookup("/CFM")) : nullptr;
      if (!method || method->Text != "/V2")
        throw ESecurityError(ksFormat(ksres::SUnsupportedCryptMethod,
                                 method ? method->NameValue().c_str() : name->NameValue().c_str()));
      encrypted = true;
      int64_t length = IntegerOr(filter->Lookup("/Length"), 0);
      // The standard handler gives a crypt filter's length in bytes; some producers in bits.
      if (length > 0 && filterBits == 0) filterBits = length <= 16 ? length * 8 : length;
    };
    useFilter("/StmF", StreamsEncrypted);
    useFilter("/StrF", StringsEncrypted);
    if (filterBits > 0) lengthBits = filterBits;
    if (auto* b = encrypt.Lookup("/EncryptMetadata"); b && b->ObjectType == otBoolean)
      EncryptMetadata = static_cast<const TksPDFBooleanObject*>(b)->Value != 0;
  }

  if (r == 2 || (r < 2 && lengthBits == 40)) {
    Revision = 2;
    KeyLength = 5;
  } else {
    if (lengthBits < 40 || lengthBits > 128 || lengthBits % 8 != 0)
      throw ESecurityError(ksFormat(ksres::SInvalidKeyLength, static_cast<int>(std::clamp<int64_t>(lengthBits, -1, 100000))));
    Revision = r >= 3 ? static_cast<int32_t>(r) : 3;
    KeyLength = static_cast<int32_t>(lengthBits / 8);
  }
  LengthBits = KeyLength * 8;
  Level = KeyLength == 5 ? el40bit : el128bit;

  if (idArray && idArray->Count() > 0) {
    auto* first = AsString(idArray->GetItem(0));
    if (!first) throw ESecurityError(ksres::SInvalidFileId);
    SetFileID(first->Bytes());
  }
  IDArray.reset();
  if (idArray) IDArray.reset(static_cast<TksPDFArrayObject*>(idArray->Clone().release()));
  auto* o = AsString(encrypt.Lookup("/O"));
  if (!o) throw ESecurityError(ksres::SInvalidOwnerKey);
  SetOwnerKey(o->Text);
  auto* u = AsString(encrypt.Lookup("/U"));
  if (!u) throw ESecurityError(ksres::SInvalidUserKey);
  SetUserKey(u->Text);
  const std::optional<int64_t> p = IntegerValue(encrypt.Lookup("/P"));
  if (!p) throw EInvalidPermission(ksres::SInvalidPermission);
  SetPValue(*p);
}

void TksPDFDecrypt::SetOwnerKey(std::string_view tokenText) {
  std::string bytes = KeyTokenBytes(tokenText);
  if (bytes.size() < 32) throw ESecurityError(ksres::SInvalidOwnerKey);
  std::copy_n(bytes.begin(), 32, OwnerKey.begin());
}

void TksPDFDecrypt::SetUserKey(std::string_view tokenText) {
  // Only the first 16 bytes take part in the check from revision 3 on; some producers
  // write no more than those.
  std::string bytes = KeyTokenBytes(tokenText);
  if (bytes.size() < 16) throw ESecurityError(ksres::SInvalidUserKey);
  UserKey.fill(0);
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), 32), UserKey.begin());
}

void TksPDFDecrypt::SetPValue(int64_t value) {
  uint32_t low = static_cast<uint32_t>(value) & 0xFFFFu;
  if (value < 0 || value > 65535) low |= 0xFFFF0000u;
  PValue = static_cast<int32_t>(low);
}

bool TksPDFDecrypt::CheckUserPadded(const std::array<uint8_t, 32>& padded) {
  const size_t n = static_cast<size_t>(KeyLength);
  md5_ctx ctx;
  md5_init(&ctx);
  md5_update(&ctx, padded.size(), padded.data());
  md5_update(&ctx, OwnerKey.size(), OwnerKey.data());
  std::string p = LittleEndian32(PValue);
  md5_update(&ctx, 4, reinterpret_cast<const uint8_t*>(p.data()));
  md5_update(&ctx, FileID.size(), reinterpret_cast<const uint8_t*>(FileID.data()));
  if (Revision >= 4 && !EncryptMetadata) {
    static const uint8_t noMetadata[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    md5_update(&ctx, 4, noMetadata);
  }
  TksDigest digest;
  md5_digest(&ctx, digest.size(), digest.data());
  if (Revision >= 3)
    for (int i = 0; i < 50; ++i) digest = kscrypt::Md5({View(digest.data(), n)});

  std::array<uint8_t, 32> check = UserKey;
  bool right;
  if (Revision == 2) {
    kscrypt::Rc4(digest.data(), n, check.data(), check.size());
    right = check == PaddingString();
  } else {
    Rc4Passes(digest.data(), static_cast<int>(n), check.data(), check.size(), false);
    TksDigest expected = kscrypt::Md5({View(PaddingString().data(), 32), FileID});
    right = std::equal(expected.begin(), expected.end(), check.begin());
  }
  if (!right) return false;
  Key.fill(0);
  std::copy_n(digest.begin(), n, Key.begin());
  return true;
}

int TksPDFDecrypt::CheckUserPassword(std::string_view password) {
  return CheckUserPadded(PadPassword(password)) ? 0 : -1;
}

int TksPDFDecrypt::CheckOwnerPassword(std::string_view password, std::string& userPassword) {
  const size_t n = static_cast<size_t>(KeyLength);
  std::array<uint8_t, 32> padded = PadPassword(password);
  // From revision 3 on the digest is hashed 50 times more. With a key shorter than 16
  // bytes producers differ in whether each round takes the whole digest or its first n
  // bytes; the user-key check below tells which one is right, so both are tried.
  const int variants = Revision >= 3 && n < 16 ? 2 : 1;
  std::array<uint8_t, 32> user{};
  bool right = false;
  for (int variant = 0; variant < variants && !right; ++variant) {
    TksDigest digest = kscrypt::Md5({View(padded.data(), padded.size())});
    if (Revision >= 3)
      for (int i = 0; i < 50; ++i) digest = kscrypt::Md5({View(digest.data(), variant == 0 ? 16 : n)});
    user = OwnerKey;
    if (Revision == 2)
      kscrypt::Rc4(digest.data(), n, user.data(), user.size());
    else
      Rc4Passes(digest.data(), static_cast<int>(n), user.data(), user.size(), false);
    right = CheckUserPadded(user);
  }
  if (!right) return -1;
  const auto& pad = PaddingString();
  size_t end = user.size();
  for (size_t i = 0; i + 1 < user.size(); ++i)
    if (user[i] == pad[0] && user[i + 1] == pad[1]) {
      end = i;
      break;
    }
  userPassword.assign(reinterpret_cast<const char*>(user.data()), end);
  return 0;
}

std::vector<std::string> TksPDFDecrypt::PasswordCandidates(std::u16string_view password) {
  std::vector<std::string> candidates;
  // The code page turns what it lacks into "?": only a text that comes back unchanged
  // has Windows-1252 bytes.
  std::string ansi = ksplatform::WideToAnsi(password);
  if (ksplatform::AnsiToWide(ansi) == password) candidates.push_back(std::move(ansi));
  std::string utf8 = ksplatform::Utf16ToUtf8(password);
  if (candidates.empty() || candidates.front() != utf8) candidates.push_back(std::move(utf8));
  return candidates;
}

bool TksPDFDecrypt::Authenticate(TksPDFEncryptionSettings& settings, std::u16string_view password) {
  for (const std::string& bytes : PasswordCandidates(password))
    if (AuthenticateBytes(settings, bytes)) return true;
  return false;
}

bool TksPDFDecrypt::AuthenticateBytes(TksPDFEncryptionSettings& settings, std::string_view password) {
  // Either password gives the permissions "/P" grants: the owner may change them through
  // the settings, but a save must not lift them unasked.
  std::string userPassword;
  if (CheckOwnerPassword(password, userPassword) == 0) {
    IsOwner = true;
    ApplyPValue();
    settings.SetEnabled(true);
    settings.SetOwnerPassword(std::string(password));
    settings.SetUserPassword(userPassword);
    settings.SetUserPermissions(Permissions);
    settings.SetLevel(Level);
    return true;
  }
  if (CheckUserPassword(password) != 0) return false;
  IsOwner = false;
  ApplyPValue();
  // The owner password stays unknown: a save keeps the source's keys, so it still opens.
  settings.SetEnabled(true);
  settings.SetUserPassword(std::string(password));
  settings.SetOwnerPassword(std::string());
  settings.SetUserPermissions(Permissions);
  settings.SetLevel(Level);
  settings.Lock();
  return true;
}

void TksPDFDecrypt::ApplyPValue() { Permissions = PermissionsFromP(Revision, PValue); }

void TksPDFDecrypt::DecryptString(std::string& bytes, int32_t objectNumber, int32_t generation) const {
  if (!StringsEncrypted || bytes.empty()) return;
  CryptObjectData(Key.data(), KeyLength, objectNumber, generation, reinterpret_cast<uint8_t*>(bytes.data()),
                  bytes.size());
}

void TksPDFDecrypt::DecryptStream(TksMemoryStream& stream, int64_t length, int32_t objectNumber,
                                  int32_t generation) const {
  if (!StreamsEncrypted || length <= 0 || stream.size() == 0) return;
  size_t count = std::min<size_t>(static_cast<size_t>(length), stream.size());
  auto& buffer = stream.Buffer();  // copies borrowed file bytes before they change
  CryptObjectData(Key.data(), KeyLength, objectNumber, generation, buffer.data(), count);
}

bool TksPDFDecrypt::IsStreamEncrypted(const TksPDFDictObject* dict) const {
  if (!StreamsEncrypted) return false;
  if (!dict) return true;
  auto* type = dict->Lookup("/Type");
  // Cross-reference streams are never encrypted; the metadata stream may be left in clear.
  if (IsName(type, "/XRef")) return false;
  if (!EncryptMetadata && IsName(type, "/Metadata")) return false;
  return true;
}

// ---- TksPDFEncryptionSettings ----

void TksPDFEncryptionSettings::CheckChange() const {
  if (!allowChange_) throw ESecurityError(ksres::SCannotChangeEncryption);
}

bool TksPDFEncryptionSettings::SameAs(const TksPDFEncryptionSettings& other) const {
  return enabled_ == other.enabled_ && level_ == other.level_ && ownerPassword_ == other.ownerPassword_ &&
         userPassword_ == other.userPassword_ && userPermissions_ == other.userPermissions_;
}

void TksPDFEncryptionSettings::SetEnabled(bool value) {
  CheckChange();
  enabled_ = value;
}

void TksPDFEncryptionSettings::SetLevel(TksPDFEncryptionLevel value) {
  CheckChange();
  level_ = value;
}

void TksPDFEncryptionSettings::SetOwnerPassword(const std::string& value) {
  CheckChange();
  ownerPassword_ = value;
}

void TksPDFEncryptionSettings::SetUserPassword(const std::string& value) {
  CheckChange();
  userPassword_ = value;
}

void TksPDFEncryptionSettings::SetUserPermissions(TksUserPermissions value) {
  CheckChange();
  userPermissions_ = value;
}

// ---- TksPDFEncryption ----

TksPDFEncryption::TksPDFEncryption(std::string_view seed1, const TksPDFEncryptionSettings& settings,
                                   std::string_view seed2) {
  // The fields themselves: a locked settings object still gives its owner password here.
  OwnerPassword = settings.ownerPassword_;
  UserPassword = settings.userPassword_;
  Level = settings.level_;
  Permissions = settings.userPermissions_;
  Version = Level == el40bit ? 1 : 2;
  Revision = Level == el40bit ? 2 : 3;
  KeyLength = LevelKeyLength();
  PValue = PValueFromPermissions();
  TksDigest id = kscrypt::Md5({seed1, seed2});
  FileID.assign(reinterpret_cast<const char*>(id.data()), id.size());
  ComputeKeys();
}

TksPDFEncryption::TksPDFEncryption(const TksPDFDecrypt& source) : fromSource_(true) {
  Level = source.Level;
  Permissions = source.Permissions;
  FileID = source.FileID;
  OwnerKey = source.OwnerKey;
  UserKey = source.UserKey;
  EncryptionKey = source.Key;
  Revision = source.Revision;
  KeyLength = source.KeyLength;
  PValue = source.PValue;
  // Version 1 knows 40-bit keys only; a longer key read under it is written as version 2.
  Version = source.Version == 4 ? 4 : source.Version == 2 || KeyLength > 5 ? 2 : 1;
  if (Version == 4) {
    StringsEncrypted = source.StringsEncrypted;
    StreamsEncrypted = source.StreamsEncrypted;
    EncryptMetadata = source.EncryptMetadata;
  }
  if (source.IDArray) sourceID_.reset(static_cast<TksPDFArrayObject*>(source.IDArray->Clone().release()));
}

bool TksPDFEncryption::EncryptsStream(const TksPDFDictObject* dict) const {
  if (!StreamsEncrypted) return false;
  if (!EncryptMetadata && dict && IsName(dict->Lookup("/Type"), "/Metadata")) return false;
  return true;
}

int32_t TksPDFEncryption::PValueFromPermissions() const {
  const bool full = LevelKeyLength() == 16;
  int32_t p = full ? -3904 : -64;
  if (Permissions.Contains(AllowPrint)) p += 4;
  if (Permissions.Contains(AllowModify)) p += 8;
  if (Permissions.Contains(AllowCopy)) p += 16;
  if (Permissions.Contains(AllowAnnotation)) p += 32;
  if (full) {
    if (Permissions.Contains(AllowFormFill)) p += 256;
    if (Permissions.Contains(AllowAccessibility)) p += 512;
    if (Permissions.Contains(AllowDocAssembly)) p += 1024;
    if (Permissions.Contains(AllowHighResPrint) && Permissions.Contains(AllowPrint)) p += 2048;
  }
  return p;
}

void TksPDFEncryption::ComputeKeys() {
  const int n = LevelKeyLength();
  const std::string& owner = OwnerPassword.empty() ? UserPassword : OwnerPassword;
  std::array<uint8_t, 32> paddedOwner = PadPassword(owner);
  std::array<uint8_t, 32> paddedUser = PadPassword(UserPassword);
  std::copy(paddedOwner.begin(), paddedOwner.end(), PaddedPasswords.begin());
  std::copy(paddedUser.begin(), paddedUser.end(), PaddedPasswords.begin() + 32);

  TksDigest digest = kscrypt::Md5({View(paddedOwner.data(), 32)});
  OwnerKey = paddedUser;
  if (n == 5) {
    kscrypt::Rc4(digest.data(), 5, OwnerKey.data(), OwnerKey.size());
  } else {
    for (int i = 0; i < 50; ++i) digest = kscrypt::Md5({View(digest.data(), 16)});
    Rc4Passes(digest.data(), 16, OwnerKey.data(), OwnerKey.size(), true);
  }

  std::string p = LittleEndian32(PValue);
  digest = kscrypt::Md5({View(paddedUser.data(), 32), View(OwnerKey.data(), 32), p, FileID});
  if (n == 16)
    for (int i = 0; i < 50; ++i) digest = kscrypt::Md5({View(digest.data(), 16)});
  EncryptionKey.fill(0);
  std::copy_n(digest.begin(), n, EncryptionKey.begin());

  if (n == 5) {
    UserKey = PaddingString();
    kscrypt::Rc4(EncryptionKey.data(), 5, UserKey.data(), UserKey.size());
  } else {
    UserKey.fill(0);
    TksDigest check = kscrypt::Md5({View(PaddingString().data(), 32), FileID});
    std::copy(check.begin(), check.end(), UserKey.begin());
    Rc4Passes(EncryptionKey.data(), 16, UserKey.data(), 16, true);
  }
}

void TksPDFEncryption::EncryptBuffer(const uint8_t* source, uint8_t* target, int32_t generation,
                                     int32_t objectNumber, int64_t length) const {
  if (length <= 0) return;
  if (source != target) std::copy_n(source, static_cast<size_t>(length), target);
  CryptObjectData(EncryptionKey.data(), KeyLength, objectNumber, generation, target, static_cast<size_t>(length));
}

std::string TksPDFEncryption::Encrypt(std::string_view bytes, int32_t objectNumber, int32_t generation) const {
  std::string out(bytes);
  EncryptBuffer(reinterpret_cast<const uint8_t*>(out.data()), reinterpret_cast<uint8_t*>(out.data()), generation,
                objectNumber, static_cast<int64_t>(out.size()));
  return out;
}

std::unique_ptr<TksPDFDictObject> TksPDFEncryption::BuildEncryptionDictionary() const {
  // /V, /R and /Length are those the keys were made for, so that a handler reused after
  // the settings changed still describes its own output.
  auto dict = std::make_unique<TksPDFDictObject>();
  dict->AddName("/Filter", "/Standard");
  dict->AddObject("/O", std::make_unique<TksPDFStringObject>("<" + BytesToHexDigits(GetOwnerKey()) + ">", true));
  dict->AddObject("/U", std::make_unique<TksPDFStringObject>("<" + BytesToHexDigits(GetUserKey()) + ">", true));
  dict->AddInteger("/P", GetPValue());
  dict->AddInteger("/V", Version);
  dict->AddInteger("/R", Revision);
  dict->AddInteger("/Length", KeyLength * 8);
  if (Version == 4) {
    // One crypt filter with RC4, named by what the source encrypted.
    auto filter = std::make_unique<TksPDFDictObject>();
    filter->AddName("/CFM", "/V2");
    filter->AddName("/AuthEvent", "/DocOpen");
    filter->AddInteger("/Length", KeyLength);
    auto filters = std::make_unique<TksPDFDictObject>();
    filters->AddObject("/StdCF", std::move(filter));
    dict->AddObject("/CF", std::move(filters));
    dict->AddName("/StmF", StreamsEncrypted ? "/StdCF" : "/Identity");
    dict->AddName("/StrF", StringsEncrypted ? "/StdCF" : "/Identity");
    if (!EncryptMetadata) dict->AddObject("/EncryptMetadata", std::make_unique<TksPDFBooleanObject>(false));
  }
  return dict;
}

std::unique_ptr<TksPDFArrayObject> TksPDFEncryption::BuildIDArray() const {
  if (fromSource_)
    return sourceID_ ? std::unique_ptr<TksPDFArrayObject>(static_cast<TksPDFArrayObject*>(sourceID_->Clone().release()))
                     : nullptr;
  auto ids = std::make_unique<TksPDFArrayObject>();
  std::string text = "<" + BytesToHexDigits(FileID) + ">";
  ids->Add(std::make_unique<TksPDFStringObject>(text, true));
  ids->Add(std::make_unique<TksPDFStringObject>(text, true));
  return ids;
}
