#include "crypt/ksPDFCrypt.h"

#include <nettle/aes.h>
#include <nettle/arcfour.h>
#include <nettle/cbc.h>
#include <nettle/md5.h>
#include <nettle/sha2.h>
#include <sys/random.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

#include "base/ksByteStreams.h"
#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"
#include "base/ksSyntax.h"
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

void RandomBytes(uint8_t* out, size_t size) {
  while (size > 0) {
    const ssize_t n = getrandom(out, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("no random bytes from the system");
    }
    out += n;
    size -= static_cast<size_t>(n);
  }
}

void AesCbc(const uint8_t* key, size_t keyLength, const uint8_t* iv, uint8_t* data, size_t size, bool encrypt) {
  if (keyLength != AES128_KEY_SIZE && keyLength != AES256_KEY_SIZE) throw std::logic_error("AES key length");
  size -= size % AES_BLOCK_SIZE;
  if (size == 0) return;
  uint8_t vector[AES_BLOCK_SIZE];
  std::copy_n(iv, AES_BLOCK_SIZE, vector);
  if (keyLength == AES128_KEY_SIZE) {
    aes128_ctx ctx;
    if (encrypt) {
      aes128_set_encrypt_key(&ctx, key);
      cbc_encrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes128_encrypt), AES_BLOCK_SIZE, vector, size, data, data);
    } else {
      aes128_set_decrypt_key(&ctx, key);
      cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes128_decrypt), AES_BLOCK_SIZE, vector, size, data, data);
    }
  } else {
    aes256_ctx ctx;
    if (encrypt) {
      aes256_set_encrypt_key(&ctx, key);
      cbc_encrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes256_encrypt), AES_BLOCK_SIZE, vector, size, data, data);
    } else {
      aes256_set_decrypt_key(&ctx, key);
      cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes256_decrypt), AES_BLOCK_SIZE, vector, size, data, data);
    }
  }
}

std::array<uint8_t, 32> PasswordHash(int revision, std::string_view password, std::string_view salt,
                                     std::string_view userKey) {
  const auto bytes = [](std::string_view v) { return reinterpret_cast<const uint8_t*>(v.data()); };
  // Passwords are keyed on up to 127 bytes; longer ones only cost time.
  password = password.substr(0, 127);
  std::array<uint8_t, 64> k{};
  size_t kLength = SHA256_DIGEST_SIZE;
  {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, password.size(), bytes(password));
    sha256_update(&ctx, salt.size(), bytes(salt));
    sha256_update(&ctx, userKey.size(), bytes(userKey));
    sha256_digest(&ctx, SHA256_DIGEST_SIZE, k.data());
  }
  if (revision >= 6) {
    // Each round encrypts 64 copies of password, K and "/U" with the first half of K
    // (the second half as the vector); the sum of the first 16 bytes modulo 3 chooses the
    // next hash. At least 64 rounds, then until the last byte is small enough.
    std::vector<uint8_t> e;
    for (int round = 0;; ++round) {
      const size_t unit = password.size() + kLength + userKey.size();
      e.resize(unit * 64);
      for (size_t i = 0; i < 64; ++i) {
        uint8_t* at = e.data() + i * unit;
        std::copy_n(bytes(password), password.size(), at);
        std::copy_n(k.data(), kLength, at + password.size());
        std::copy_n(bytes(userKey), userKey.size(), at + password.size() + kLength);
      }
      AesCbc(k.data(), 16, k.data() + 16, e.data(), e.size(), true);
      unsigned sum = 0;
      for (size_t i = 0; i < 16; ++i) sum += e[i];
      switch (sum % 3) {
        case 0: {
          sha256_ctx ctx;
          sha256_init(&ctx);
          sha256_update(&ctx, e.size(), e.data());
          sha256_digest(&ctx, SHA256_DIGEST_SIZE, k.data());
          kLength = SHA256_DIGEST_SIZE;
          break;
        }
        case 1: {
          sha384_ctx ctx;
          sha384_init(&ctx);
          sha384_update(&ctx, e.size(), e.data());
          sha384_digest(&ctx, SHA384_DIGEST_SIZE, k.data());
          kLength = SHA384_DIGEST_SIZE;
          break;
        }
        default: {
          sha512_ctx ctx;
          sha512_init(&ctx);
          sha512_update(&ctx, e.size(), e.data());
          sha512_digest(&ctx, SHA512_DIGEST_SIZE, k.data());
          kLength = SHA512_DIGEST_SIZE;
          break;
        }
      }
      if (round >= 63 && e.back() <= round + 1 - 32) break;
    }
  }
  std::array<uint8_t, 32> out;
  std::copy_n(k.begin(), 32, out.begin());
  return out;
}

std::string PreparePassword(std::u16string_view password) {
  // A text the profile refuses is keyed on as it is, as producers do that skip the profile.
  std::optional<std::u16string> prepared = ksplatform::SaslPrep(password);
  std::string utf8 = ksplatform::Utf16ToUtf8(prepared ? std::u16string_view(*prepared) : password);
  // Bytes, not characters: readers cut there too, even inside a character.
  if (utf8.size() > 127) utf8.resize(127);
  return utf8;
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
  // RC4 keys are 5 to 16 bytes; the MD5 input has room for no more.
  keyLength = std::clamp(keyLength, 0, 16);
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

namespace {

// The AES key of one object: the document key itself for AES-256; for AES-128 the MD5 of
// the document key, three bytes of the object number, two of the generation and "sAlT".
std::array<uint8_t, 32> AesObjectKey(kscrypt::TksCryptMethod method, const uint8_t* key, int keyLength,
                                     int32_t objectNumber, int32_t generation, size_t& length) {
  std::array<uint8_t, 32> out{};
  if (method == kscrypt::cmAESV3) {
    std::copy_n(key, 32, out.begin());
    length = 32;
    return out;
  }
  std::array<uint8_t, 16 + 5 + 4> input{};
  const size_t n = std::min<size_t>(static_cast<size_t>(keyLength), 16);
  std::copy_n(key, n, input.begin());
  size_t at = n;
  const uint32_t number = static_cast<uint32_t>(objectNumber);
  const uint32_t gen = static_cast<uint32_t>(generation);
  input[at++] = static_cast<uint8_t>(number & 0xFF);
  input[at++] = static_cast<uint8_t>((number >> 8) & 0xFF);
  input[at++] = static_cast<uint8_t>((number >> 16) & 0xFF);
  input[at++] = static_cast<uint8_t>(gen & 0xFF);
  input[at++] = static_cast<uint8_t>((gen >> 8) & 0xFF);
  for (char c : {'s', 'A', 'l', 'T'}) input[at++] = static_cast<uint8_t>(c);
  TksDigest digest = kscrypt::Md5({View(input.data(), at)});
  std::copy(digest.begin(), digest.end(), out.begin());
  length = 16;
  return out;
}

}  // namespace

std::string TksBasePDFCrypt::EncryptObjectData(kscrypt::TksCryptMethod method, const uint8_t* key, int keyLength,
                                               int32_t objectNumber, int32_t generation, std::string_view data) {
  std::string out(data);
  if (method == kscrypt::cmIdentity) return out;
  if (method == kscrypt::cmRC4) {
    CryptObjectData(key, keyLength, objectNumber, generation, reinterpret_cast<uint8_t*>(out.data()), out.size());
    return out;
  }
  size_t length = 0;
  const std::array<uint8_t, 32> objectKey = AesObjectKey(method, key, keyLength, objectNumber, generation, length);
  // The vector in front, then the data padded to whole blocks with the pad's length.
  const size_t pad = 16 - data.size() % 16;
  out.assign(16, '\0');
  kscrypt::RandomBytes(reinterpret_cast<uint8_t*>(out.data()), 16);
  out.append(data);
  out.append(pad, static_cast<char>(pad));
  auto* bytes = reinterpret_cast<uint8_t*>(out.data());
  kscrypt::AesCbc(objectKey.data(), length, bytes, bytes + 16, out.size() - 16, true);
  return out;
}

bool TksBasePDFCrypt::DecryptObjectData(kscrypt::TksCryptMethod method, const uint8_t* key, int keyLength,
                                        int32_t objectNumber, int32_t generation, std::string& data) {
  if (method == kscrypt::cmIdentity || data.empty()) return true;
  if (method == kscrypt::cmRC4) {
    CryptObjectData(key, keyLength, objectNumber, generation, reinterpret_cast<uint8_t*>(data.data()), data.size());
    return true;
  }
  // Less than the vector and one block is no AES data; a tail short of a block is dropped.
  if (data.size() < 32) {
    data.clear();
    return false;
  }
  size_t length = 0;
  const std::array<uint8_t, 32> objectKey = AesObjectKey(method, key, keyLength, objectNumber, generation, length);
  const bool whole = data.size() % 16 == 0;
  auto* bytes = reinterpret_cast<uint8_t*>(data.data());
  kscrypt::AesCbc(objectKey.data(), length, bytes, bytes + 16, data.size() - 16, false);
  data.erase(0, 16);
  data.resize(data.size() - data.size() % 16);
  const uint8_t pad = static_cast<uint8_t>(data.back());
  bool padded = pad >= 1 && pad <= 16;
  for (size_t i = 0; padded && i < pad; ++i) padded = static_cast<uint8_t>(data[data.size() - 1 - i]) == pad;
  if (padded) data.resize(data.size() - pad);
  return whole && padded;
}

// ---- TksPDFDecrypt ----

namespace {

// The method of the crypt filter a name chooses in "/CF"; /Identity (and an absent
// name) leaves the data in clear.
kscrypt::TksCryptMethod CryptFilterMethod(const TksPDFDictObject* cf, const TksPDFNameObject* name) {
  if (!name || name->Text == "/Identity") return kscrypt::cmIdentity;
  auto* filter = cf ? AsDict(cf->Lookup(name->Text)) : nullptr;
  auto* method = filter ? AsName(filter->Lookup("/CFM")) : nullptr;
  if (method) {
    if (method->Text == "/V2") return kscrypt::cmRC4;
    if (method->Text == "/AESV2") return kscrypt::cmAESV2;
    if (method->Text == "/AESV3") return kscrypt::cmAESV3;
    if (method->Text == "/None") return kscrypt::cmIdentity;
  }
  throw ESecurityError(
      ksFormat(ksres::SUnsupportedCryptMethod, method ? method->NameValue().c_str() : name->NameValue().c_str()));
}

// Bytes of a string entry of the dictionary, at least the length given, else the error.
std::string KeyEntryBytes(const TksPDFDictObject& encrypt, const char* key, size_t least, const char* error) {
  auto* s = AsString(encrypt.Lookup(key));
  std::string bytes = s ? KeyTokenBytes(s->Text) : std::string();
  if (bytes.size() < least) throw ESecurityError(error);
  return bytes;
}

}  // namespace

void TksPDFDecrypt::ReadEncryptionData(const TksPDFDictObject& encrypt, const TksPDFArrayObject* idArray) {
  if (auto* filter = AsName(encrypt.Lookup("/Filter")); filter && filter->Text != "/Standard")
    throw ESecurityError(ksFormat(ksres::SUnsupportedSecurityHandler, filter->NameValue().c_str()));
  const int64_t v = IntegerOr(encrypt.Lookup("/V"), 0);
  const int64_t r = IntegerOr(encrypt.Lookup("/R"), 0);
  if (v == 3 || v < 0 || v > 5)
    throw ESecurityError(ksFormat(ksres::SUnsupportedEncryptionVersion, static_cast<int>(std::clamp<int64_t>(v, -1, 1000))));
  // Revisions 5 and 6 belong to version 5 and nothing else does.
  if (r < 0 || r > 6 || (v == 5) != (r >= 5))
    throw ESecurityError(ksFormat(ksres::SUnsupportedRevision, static_cast<int>(std::clamp<int64_t>(r, -1, 1000))));
  Version = static_cast<int32_t>(v);
  SourceDictionary = encrypt.CloneDict();

  int64_t lengthBits = IntegerOr(encrypt.Lookup("/Length"), v == 4 ? 128 : 40);
  StringMethod = StreamMethod = FileMethod = kscrypt::cmRC4;
  EncryptMetadata = true;
  if (v >= 4) {
    auto* cf = AsDict(encrypt.Lookup("/CF"));
    StreamMethod = CryptFilterMethod(cf, AsName(encrypt.Lookup("/StmF")));
    StringMethod = CryptFilterMethod(cf, AsName(encrypt.Lookup("/StrF")));
    auto* eff = AsName(encrypt.Lookup("/EFF"));
    FileMethod = eff ? CryptFilterMethod(cf, eff) : StreamMethod;
    if (auto* b = encrypt.Lookup("/EncryptMetadata"); b && b->ObjectType == otBoolean)
      EncryptMetadata = static_cast<const TksPDFBooleanObject*>(b)->Value != 0;
    // The standard handler gives an RC4 filter's length in bytes; some producers in bits.
    // AES-128 keys are 16 bytes whatever a filter says.
    const bool aes128 = StreamMethod == kscrypt::cmAESV2 || StringMethod == kscrypt::cmAESV2 || FileMethod == kscrypt::cmAESV2;
    for (const char* key : {"/StmF", "/StrF"}) {
      auto* name = AsName(encrypt.Lookup(key));
      auto* filter = name && cf ? AsDict(cf->Lookup(name->Text)) : nullptr;
      const int64_t length = filter ? IntegerOr(filter->Lookup("/Length"), 0) : 0;
      if (length > 0 && CryptFilterMethod(cf, name) == kscrypt::cmRC4) {
        lengthBits = length <= 16 ? length * 8 : length;
        break;
      }
    }
    if (aes128) lengthBits = 128;
    // AES-256 keys serve AESV3 only, and AESV3 needs them: a method of the other kind
    // would key on the wrong number of bytes.
    for (auto [key, method] : {std::pair{"/StmF", StreamMethod}, std::pair{"/StrF", StringMethod},
                               std::pair{"/EFF", FileMethod}}) {
      if (method == kscrypt::cmIdentity || (method == kscrypt::cmAESV3) == (v == 5)) continue;
      auto* name = AsName(encrypt.Lookup(key));
      auto* filter = name && cf ? AsDict(cf->Lookup(name->Text)) : nullptr;
      auto* cfm = filter ? AsName(filter->Lookup("/CFM")) : nullptr;
      throw ESecurityError(ksFormat(ksres::SUnsupportedCryptMethod, cfm ? cfm->NameValue().c_str() : "?"));
    }
  }

  if (v == 5) {
    Revision = static_cast<int32_t>(r);
    KeyLength = 32;
    Level = elAES256;
    KeyEntryLength = 48;
  } else if (r == 2 || (r < 2 && lengthBits == 40)) {
    Revision = 2;
    KeyLength = 5;
  } else {
    if (lengthBits < 40 || lengthBits > 128 || lengthBits % 8 != 0)
      throw ESecurityError(ksFormat(ksres::SInvalidKeyLength, static_cast<int>(std::clamp<int64_t>(lengthBits, -1, 100000))));
    Revision = r >= 3 ? static_cast<int32_t>(r) : 3;
    KeyLength = static_cast<int32_t>(lengthBits / 8);
  }
  LengthBits = KeyLength * 8;
  if (v != 5) Level = UsesAES() ? elAES128 : KeyLength == 5 ? el40bit : el128bit;

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
  if (v == 5) {
    std::string oe = KeyEntryBytes(encrypt, "/OE", 32, ksres::SInvalidOwnerKey);
    std::string ue = KeyEntryBytes(encrypt, "/UE", 32, ksres::SInvalidUserKey);
    std::copy_n(oe.begin(), 32, OwnerEncryptedKey.begin());
    std::copy_n(ue.begin(), 32, UserEncryptedKey.begin());
    // A missing or short "/Perms" is only a mismatch: the keys do not depend on it.
    auto* perms = AsString(encrypt.Lookup("/Perms"));
    std::string block = perms ? KeyTokenBytes(perms->Text) : std::string();
    PermsBlock.fill(0);
    std::copy_n(block.begin(), std::min<size_t>(block.size(), 16), PermsBlock.begin());
  }
  const std::optional<int64_t> p = IntegerValue(encrypt.Lookup("/P"));
  if (!p) throw EInvalidPermission(ksres::SInvalidPermission);
  SetPValue(*p);
}

void TksPDFDecrypt::SetOwnerKey(std::string_view tokenText) {
  std::string bytes = KeyTokenBytes(tokenText);
  if (bytes.size() < KeyEntryLength) throw ESecurityError(ksres::SInvalidOwnerKey);
  OwnerKey.fill(0);
  std::copy_n(bytes.begin(), KeyEntryLength, OwnerKey.begin());
}

void TksPDFDecrypt::SetUserKey(std::string_view tokenText) {
  // Only the first 16 bytes take part in the check from revision 3 on; some producers
  // write no more than those. Revisions 5 and 6 need all 48.
  std::string bytes = KeyTokenBytes(tokenText);
  if (bytes.size() < (KeyEntryLength == 48 ? 48u : 16u)) throw ESecurityError(ksres::SInvalidUserKey);
  UserKey.fill(0);
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), KeyEntryLength), UserKey.begin());
}

void TksPDFDecrypt::SetPValue(int64_t value) {
  uint32_t low = static_cast<uint32_t>(value) & 0xFFFFu;
  if (value < 0 || value > 65535) low |= 0xFFFF0000u;
  PValue = static_cast<int32_t>(low);
}

bool TksPDFDecrypt::UsesAES() const {
  for (auto m : {StringMethod, StreamMethod, FileMethod})
    if (m == kscrypt::cmAESV2 || m == kscrypt::cmAESV3) return true;
  return Version == 5;
}

bool TksPDFDecrypt::CheckUserPadded(const std::array<uint8_t, 32>& padded) {
  const size_t n = static_cast<size_t>(KeyLength);
  md5_ctx ctx;
  md5_init(&ctx);
  md5_update(&ctx, padded.size(), padded.data());
  md5_update(&ctx, 32, OwnerKey.data());
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

  std::array<uint8_t, 32> check;
  std::copy_n(UserKey.begin(), 32, check.begin());
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

bool TksPDFDecrypt::CheckUserV5(std::string_view password) {
  const std::string_view u = View(UserKey.data(), 48);
  const auto hash = kscrypt::PasswordHash(Revision, password, u.substr(32, 8), {});
  if (!std::equal(hash.begin(), hash.end(), UserKey.begin())) return false;
  const auto key = kscrypt::PasswordHash(Revision, password, u.substr(40, 8), {});
  const std::array<uint8_t, 16> zero{};
  Key = UserEncryptedKey;
  kscrypt::AesCbc(key.data(), 32, zero.data(), Key.data(), Key.size(), false);
  return true;
}

bool TksPDFDecrypt::CheckOwnerV5(std::string_view password) {
  const std::string_view o = View(OwnerKey.data(), 48);
  const std::string_view u = View(UserKey.data(), 48);
  const auto hash = kscrypt::PasswordHash(Revision, password, o.substr(32, 8), u);
  if (!std::equal(hash.begin(), hash.end(), OwnerKey.begin())) return false;
  const auto key = kscrypt::PasswordHash(Revision, password, o.substr(40, 8), u);
  const std::array<uint8_t, 16> zero{};
  Key = OwnerEncryptedKey;
  kscrypt::AesCbc(key.data(), 32, zero.data(), Key.data(), Key.size(), false);
  return true;
}

void TksPDFDecrypt::CheckPerms() {
  // One block under the file key: "/P" low byte first, four bytes of ones, "T" or "F"
  // for the metadata, "adb", four random bytes. Only "/P" and the marker are compared.
  std::array<uint8_t, 16> block = PermsBlock;
  aes256_ctx ctx;
  aes256_set_decrypt_key(&ctx, Key.data());
  aes256_decrypt(&ctx, block.size(), block.data(), block.data());
  const std::string p = LittleEndian32(PValue);
  PermsMismatch = !(std::equal(p.begin(), p.end(), block.begin(), [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }) &&
                    block[9] == 'a' && block[10] == 'd' && block[11] == 'b' &&
                    block[8] == (EncryptMetadata ? 'T' : 'F'));
}

int TksPDFDecrypt::CheckUserPassword(std::string_view password) {
  if (Revision >= 5) {
    if (!CheckUserV5(password)) return -1;
    CheckPerms();
    return 0;
  }
  return CheckUserPadded(PadPassword(password)) ? 0 : -1;
}

int TksPDFDecrypt::CheckOwnerPassword(std::string_view password, std::string& userPassword) {
  if (Revision >= 5) {
    if (!CheckOwnerV5(password)) return -1;
    CheckPerms();
    userPassword.clear();
    return 0;
  }
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
    std::copy_n(OwnerKey.begin(), 32, user.begin());
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

std::vector<std::string> TksPDFDecrypt::PasswordCandidates(std::u16string_view password, int32_t revision) {
  std::vector<std::string> candidates;
  if (revision >= 5) {
    candidates.push_back(kscrypt::PreparePassword(password));
    std::string utf8 = ksplatform::Utf16ToUtf8(password);
    if (utf8.size() > 127) utf8.resize(127);
    if (utf8 != candidates.front()) candidates.push_back(std::move(utf8));
    return candidates;
  }
  // The code page turns what it lacks into "?": only a text that comes back unchanged
  // has Windows-1252 bytes.
  std::string ansi = ksplatform::WideToAnsi(password);
  if (ksplatform::AnsiToWide(ansi) == password) candidates.push_back(std::move(ansi));
  std::string utf8 = ksplatform::Utf16ToUtf8(password);
  if (candidates.empty() || candidates.front() != utf8) candidates.push_back(std::move(utf8));
  return candidates;
}

bool TksPDFDecrypt::Authenticate(TksPDFEncryptionSettings& settings, std::u16string_view password) {
  for (const std::string& bytes : PasswordCandidates(password, Revision))
    if (AuthenticateBytes(settings, bytes)) return true;
  return false;
}

bool TksPDFDecrypt::AuthenticateBytes(TksPDFEncryptionSettings& settings, std::string_view password) {
  // Either password gives the permissions "/P" grants: the owner may change them through
  // the settings, but a save must not lift them unasked.
  std::string userPassword;
  if (CheckOwnerPassword(password, userPassword) == 0) {
    IsOwner = true;
    // From revision 5 on the owner open does not learn the user password; an empty one
    // may open too, and then it is known.
    UserPasswordKnown = Revision < 5 || CheckUserV5("");
    if (Revision >= 5) CheckOwnerV5(password);  // the key from "/OE" again
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
  UserPasswordKnown = true;
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

void TksPDFDecrypt::Decrypt(kscrypt::TksCryptMethod method, std::string& bytes, int32_t objectNumber,
                            int32_t generation) const {
  if (!DecryptObjectData(method, Key.data(), KeyLength, objectNumber, generation, bytes) && OnBadPadding)
    OnBadPadding(objectNumber);
}

void TksPDFDecrypt::DecryptString(std::string& bytes, int32_t objectNumber, int32_t generation) const {
  Decrypt(StringMethod, bytes, objectNumber, generation);
}

void TksPDFDecrypt::DecryptStream(TksMemoryStream& stream, int64_t length, int32_t objectNumber,
                                  int32_t generation) const {
  if (StreamMethod == kscrypt::cmIdentity || length <= 0 || stream.size() == 0) return;
  size_t count = std::min<size_t>(static_cast<size_t>(length), stream.size());
  auto& buffer = stream.Buffer();  // copies borrowed file bytes before they change
  std::string data(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
  Decrypt(StreamMethod, data, objectNumber, generation);
  buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
  buffer.insert(buffer.begin(), data.begin(), data.end());
}

void TksPDFDecrypt::DecryptData(std::vector<uint8_t>& bytes, int32_t objectNumber, int32_t generation,
                                const TksPDFDictObject* dict) const {
  const kscrypt::TksCryptMethod method = StreamMethodFor(dict);
  if (method == kscrypt::cmIdentity || bytes.empty()) return;
  if (method == kscrypt::cmRC4) {
    CryptObjectData(Key.data(), KeyLength, objectNumber, generation, bytes.data(), bytes.size());
    return;
  }
  std::string data(bytes.begin(), bytes.end());
  Decrypt(method, data, objectNumber, generation);
  bytes.assign(data.begin(), data.end());
}

namespace {

// The method a stream with this dictionary is encrypted with: none for cross-reference
// streams and metadata left in clear, the embedded-file method for embedded files.
kscrypt::TksCryptMethod MethodOfStream(const TksPDFDictObject* dict, kscrypt::TksCryptMethod stream,
                                       kscrypt::TksCryptMethod file, bool encryptMetadata) {
  if (stream == kscrypt::cmIdentity && file == kscrypt::cmIdentity) return kscrypt::cmIdentity;
  if (!dict) return stream;
  auto* type = dict->Lookup("/Type");
  if (IsName(type, "/XRef")) return kscrypt::cmIdentity;
  if (!encryptMetadata && IsName(type, "/Metadata")) return kscrypt::cmIdentity;
  if (IsName(type, "/EmbeddedFile")) return file;
  return stream;
}

}  // namespace

kscrypt::TksCryptMethod TksPDFDecrypt::StreamMethodFor(const TksPDFDictObject* dict) const {
  return MethodOfStream(dict, StreamMethod, FileMethod, EncryptMetadata);
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

namespace {

// A password from the settings as the AES-256 handler keys on it: settings hold UTF-8
// for that level; bytes that are no UTF-8 came from an RC4 or AES-128 source, which keys
// on Windows-1252, and are read as that.
std::string PreparedSettingsPassword(const std::string& bytes) {
  const std::u16string wide = ksplatform::Utf8ToUtf16(bytes);
  if (ksplatform::Utf16ToUtf8(wide) != bytes) return kscrypt::PreparePassword(ksplatform::AnsiToWide(bytes));
  return kscrypt::PreparePassword(wide);
}

}  // namespace

TksPDFEncryption::TksPDFEncryption(std::string_view seed1, const TksPDFEncryptionSettings& settings,
                                   std::string_view seed2, bool encryptMetadata) {
  // The fields themselves: a locked settings object still gives its owner password here.
  OwnerPassword = settings.ownerPassword_;
  UserPassword = settings.userPassword_;
  Level = settings.level_;
  Permissions = settings.userPermissions_;
  switch (Level) {
    case el40bit: Version = 1; Revision = 2; break;
    case el128bit: Version = 2; Revision = 3; break;
    case elAES128: Version = 4; Revision = 4; break;
    case elAES256: Version = 5; Revision = 6; break;
  }
  // Only crypt filters (version 4 and later) can leave the metadata in clear: 128-bit RC4
  // then goes through one, under revision 4. Readers take version 4 keys to be 128 bits
  // (a 40-bit one opens in some, not in others), so 40 bits encrypt everything.
  EncryptMetadata = encryptMetadata || Level == el40bit;
  if (!EncryptMetadata && Version < 4) Version = Revision = 4;
  KeyLength = LevelKeyLength();
  const kscrypt::TksCryptMethod method =
      Level == elAES128 ? kscrypt::cmAESV2 : Level == elAES256 ? kscrypt::cmAESV3 : kscrypt::cmRC4;
  StringMethod = StreamMethod = FileMethod = method;
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
  KeyEntryLength = source.KeyEntryLength;
  OwnerEncryptedKey = source.OwnerEncryptedKey;
  UserEncryptedKey = source.UserEncryptedKey;
  PermsBlock = source.PermsBlock;
  EncryptionKey = source.Key;
  Revision = source.Revision;
  KeyLength = source.KeyLength;
  PValue = source.PValue;
  // Version 1 knows 40-bit keys only; a longer key read under it is written as version 2.
  Version = source.Version >= 4 ? source.Version : source.Version == 2 || KeyLength > 5 ? 2 : 1;
  if (Version >= 4) {
    StringMethod = source.StringMethod;
    StreamMethod = source.StreamMethod;
    FileMethod = source.FileMethod;
    EncryptMetadata = source.EncryptMetadata;
  }
  // AES sources keep their dictionary as it is: its crypt filters, "/OE", "/UE" and
  // "/Perms" stay exactly what the passwords were checked against.
  if (source.UsesAES() && source.SourceDictionary) {
    sourceDictionary_ = source.SourceDictionary->CloneDict();
    // A damaged "/O" or "/U" opened here, where only their leading bytes count, but copied
    // as it stands it stops other readers: a hexadecimal string with other characters, or
    // before revision 5 one longer than 32 bytes. Such a one is written from what was
    // checked, at its revision's length.
    const auto sound = [&](const TksPDFStringObject* value) {
      if (!value) return false;
      const std::string_view text = value->Text;
      if (value->IsHex && text.size() >= 2)
        for (char c : text.substr(1, text.size() - 2))
          if (!std::isxdigit(static_cast<unsigned char>(c)) && !ksIsWhiteSpace(static_cast<uint8_t>(c))) return false;
      return Revision >= 5 || value->Bytes().size() <= 32;
    };
    for (const auto& [key, bytes] : {std::pair{"/O", GetOwnerKey()}, std::pair{"/U", GetUserKey()}})
      if (!sound(AsString(sourceDictionary_->Lookup(key))))
        sourceDictionary_->SetObject(key, std::make_unique<TksPDFStringObject>("<" + BytesToHexDigits(bytes) + ">", true));
  }
  if (source.IDArray) sourceID_.reset(static_cast<TksPDFArrayObject*>(source.IDArray->Clone().release()));
}

TksPDFEncryption::TksPDFEncryption(const TksPDFDecrypt& source, const TksPDFEncryptionSettings& settings) {
  OwnerPassword = settings.ownerPassword_;
  UserPassword = settings.userPassword_;
  Level = elAES256;
  Permissions = settings.userPermissions_;
  Version = 5;
  Revision = 6;
  KeyLength = 32;
  KeyEntryLength = 48;
  StringMethod = StreamMethod = FileMethod = kscrypt::cmAESV3;
  PValue = PValueFromPermissions();
  FileID = source.FileID;
  if (source.IDArray) sourceID_.reset(static_cast<TksPDFArrayObject*>(source.IDArray->Clone().release()));
  fromSource_ = true;
  // The user's part as it is, under the source's revision (5 hashes differently from 6:
  // a revision-5 "/U" needs a revision-5 dictionary).
  Revision = source.Revision;
  EncryptMetadata = source.EncryptMetadata;
  EncryptionKey = source.Key;
  UserKey = source.UserKey;
  UserEncryptedKey = source.UserEncryptedKey;
  ComputeOwnerKeysV6(PreparedSettingsPassword(OwnerPassword));
  ComputePerms();
}

kscrypt::TksCryptMethod TksPDFEncryption::StreamMethodFor(const TksPDFDictObject* dict) const {
  return MethodOfStream(dict, StreamMethod, FileMethod, EncryptMetadata);
}

TksPDFEncryptionLevel TksPDFEncryption::OutputLevel() const {
  if (Version == 5) return elAES256;
  for (auto m : {StringMethod, StreamMethod, FileMethod})
    if (m == kscrypt::cmAESV2) return elAES128;
  return KeyLength > 5 ? el128bit : el40bit;
}

int32_t TksPDFEncryption::PValueFromPermissions() const {
  // Revision 2 knows the first four bits only.
  const bool full = Revision >= 3;
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

void TksPDFEncryption::ComputeOwnerKeysV6(std::string_view owner) {
  // "/O": the hash of the owner password over a validation salt and "/U", then both salts;
  // "/OE": the file key under the hash over the key salt.
  std::array<uint8_t, 16> salts;
  kscrypt::RandomBytes(salts.data(), salts.size());
  const std::string_view u = View(UserKey.data(), 48);
  const auto hash = kscrypt::PasswordHash(Revision, owner, View(salts.data(), 8), u);
  std::copy(hash.begin(), hash.end(), OwnerKey.begin());
  std::copy(salts.begin(), salts.end(), OwnerKey.begin() + 32);
  const auto key = kscrypt::PasswordHash(Revision, owner, View(salts.data() + 8, 8), u);
  const std::array<uint8_t, 16> zero{};
  OwnerEncryptedKey = EncryptionKey;
  kscrypt::AesCbc(key.data(), 32, zero.data(), OwnerEncryptedKey.data(), OwnerEncryptedKey.size(), true);
}

void TksPDFEncryption::ComputePerms() {
  const std::string p = LittleEndian32(PValue);
  std::copy(p.begin(), p.end(), PermsBlock.begin());
  std::fill(PermsBlock.begin() + 4, PermsBlock.begin() + 8, 0xFF);
  PermsBlock[8] = EncryptMetadata ? 'T' : 'F';
  PermsBlock[9] = 'a';
  PermsBlock[10] = 'd';
  PermsBlock[11] = 'b';
  kscrypt::RandomBytes(PermsBlock.data() + 12, 4);
  aes256_ctx ctx;
  aes256_set_encrypt_key(&ctx, EncryptionKey.data());
  aes256_encrypt(&ctx, PermsBlock.size(), PermsBlock.data(), PermsBlock.data());
}

void TksPDFEncryption::ComputeKeys() {
  if (Level == elAES256) {
    // A random file key, locked once under each password.
    KeyEntryLength = 48;
    kscrypt::RandomBytes(EncryptionKey.data(), EncryptionKey.size());
    const std::string user = PreparedSettingsPassword(UserPassword);
    const std::string owner = OwnerPassword.empty() ? user : PreparedSettingsPassword(OwnerPassword);
    std::array<uint8_t, 16> salts;
    kscrypt::RandomBytes(salts.data(), salts.size());
    const auto hash = kscrypt::PasswordHash(Revision, user, View(salts.data(), 8), {});
    std::copy(hash.begin(), hash.end(), UserKey.begin());
    std::copy(salts.begin(), salts.end(), UserKey.begin() + 32);
    const auto key = kscrypt::PasswordHash(Revision, user, View(salts.data() + 8, 8), {});
    const std::array<uint8_t, 16> zero{};
    UserEncryptedKey = EncryptionKey;
    kscrypt::AesCbc(key.data(), 32, zero.data(), UserEncryptedKey.data(), UserEncryptedKey.size(), true);
    ComputeOwnerKeysV6(owner);
    ComputePerms();
    return;
  }
  // RC4 and AES-128 share the keys of revisions 2 to 4 (revision 4 with metadata
  // encrypted adds nothing to the digest). Revision 3 and later hash and pass over the
  // key's n bytes, whatever n is.
  const int n = LevelKeyLength();
  const bool r2 = Revision == 2;
  const std::string& owner = OwnerPassword.empty() ? UserPassword : OwnerPassword;
  std::array<uint8_t, 32> paddedOwner = PadPassword(owner);
  std::array<uint8_t, 32> paddedUser = PadPassword(UserPassword);
  std::copy(paddedOwner.begin(), paddedOwner.end(), PaddedPasswords.begin());
  std::copy(paddedUser.begin(), paddedUser.end(), PaddedPasswords.begin() + 32);

  TksDigest digest = kscrypt::Md5({View(paddedOwner.data(), 32)});
  std::array<uint8_t, 32> ownerKey = paddedUser;
  if (r2) {
    kscrypt::Rc4(digest.data(), n, ownerKey.data(), ownerKey.size());
  } else {
    for (int i = 0; i < 50; ++i) digest = kscrypt::Md5({View(digest.data(), 16)});
    Rc4Passes(digest.data(), n, ownerKey.data(), ownerKey.size(), true);
  }
  OwnerKey.fill(0);
  std::copy(ownerKey.begin(), ownerKey.end(), OwnerKey.begin());

  std::string p = LittleEndian32(PValue);
  static const char kMetadataInClear[4] = {'\xFF', '\xFF', '\xFF', '\xFF'};
  const std::string_view clear = Revision >= 4 && !EncryptMetadata ? std::string_view(kMetadataInClear, 4) : std::string_view();
  digest = kscrypt::Md5({View(paddedUser.data(), 32), View(OwnerKey.data(), 32), p, FileID, clear});
  if (!r2)
    for (int i = 0; i < 50; ++i) digest = kscrypt::Md5({View(digest.data(), static_cast<size_t>(n))});
  EncryptionKey.fill(0);
  std::copy_n(digest.begin(), n, EncryptionKey.begin());

  UserKey.fill(0);
  if (r2) {
    std::copy(PaddingString().begin(), PaddingString().end(), UserKey.begin());
    kscrypt::Rc4(EncryptionKey.data(), n, UserKey.data(), 32);
  } else {
    TksDigest check = kscrypt::Md5({View(PaddingString().data(), 32), FileID});
    std::copy(check.begin(), check.end(), UserKey.begin());
    Rc4Passes(EncryptionKey.data(), n, UserKey.data(), 16, true);
  }
}

void TksPDFEncryption::EncryptBuffer(const uint8_t* source, uint8_t* target, int32_t generation,
                                     int32_t objectNumber, int64_t length) const {
  if (length <= 0) return;
  if (source != target) std::copy_n(source, static_cast<size_t>(length), target);
  CryptObjectData(EncryptionKey.data(), KeyLength, objectNumber, generation, target, static_cast<size_t>(length));
}

std::string TksPDFEncryption::Encrypt(std::string_view bytes, int32_t objectNumber, int32_t generation,
                                      const TksPDFDictObject* streamDict) const {
  const kscrypt::TksCryptMethod method = streamDict ? StreamMethodFor(streamDict) : StringMethod;
  return EncryptObjectData(method, EncryptionKey.data(), KeyLength, objectNumber, generation, bytes);
}

namespace {

const char* MethodName(kscrypt::TksCryptMethod method) {
  return method == kscrypt::cmAESV3 ? "/AESV3" : method == kscrypt::cmAESV2 ? "/AESV2" : "/V2";
}

std::unique_ptr<TksPDFStringObject> HexString(std::string_view bytes) {
  return std::make_unique<TksPDFStringObject>("<" + BytesToHexDigits(bytes) + ">", true);
}

}  // namespace

std::unique_ptr<TksPDFDictObject> TksPDFEncryption::BuildEncryptionDictionary() const {
  if (sourceDictionary_) return sourceDictionary_->CloneDict();
  // /V, /R and /Length are those the keys were made for, so that a handler reused after
  // the settings changed still describes its own output.
  auto dict = std::make_unique<TksPDFDictObject>();
  dict->AddName("/Filter", "/Standard");
  dict->AddObject("/O", HexString(GetOwnerKey()));
  dict->AddObject("/U", HexString(GetUserKey()));
  dict->AddInteger("/P", GetPValue());
  dict->AddInteger("/V", Version);
  dict->AddInteger("/R", Revision);
  dict->AddInteger("/Length", KeyLength * 8);
  if (Version >= 4) {
    // One crypt filter, named by what the source encrypted.
    const kscrypt::TksCryptMethod method = StreamMethod != kscrypt::cmIdentity ? StreamMethod : StringMethod;
    auto filter = std::make_unique<TksPDFDictObject>();
    filter->AddName("/CFM", MethodName(method));
    filter->AddName("/AuthEvent", "/DocOpen");
    filter->AddInteger("/Length", KeyLength);
    auto filters = std::make_unique<TksPDFDictObject>();
    filters->AddObject("/StdCF", std::move(filter));
    dict->AddObject("/CF", std::move(filters));
    dict->AddName("/StmF", StreamMethod != kscrypt::cmIdentity ? "/StdCF" : "/Identity");
    dict->AddName("/StrF", StringMethod != kscrypt::cmIdentity ? "/StdCF" : "/Identity");
    if (!EncryptMetadata) dict->AddObject("/EncryptMetadata", std::make_unique<TksPDFBooleanObject>(false));
  }
  if (Version == 5) {
    dict->AddObject("/OE", HexString(View(OwnerEncryptedKey.data(), 32)));
    dict->AddObject("/UE", HexString(View(UserEncryptedKey.data(), 32)));
    dict->AddObject("/Perms", HexString(View(PermsBlock.data(), 16)));
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
