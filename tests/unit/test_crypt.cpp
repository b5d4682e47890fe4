// The security handler: key derivation, password checks, permissions, settings lock,
// per-object encryption. Expected values were computed independently (RC4 and MD5
// of the published algorithms in a short script) or taken from real encrypted files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "compat/ksClasses.h"
#include "crypt/ksPDFCrypt.h"

namespace {

using testing::StrEq;
using testing::ThrowsMessage;

std::string Hex(std::string_view bytes) { return BytesToHexDigits(bytes); }

std::string FromHex(const std::string& hex) {
  return TksPDFStringObject("<" + hex + ">", true).Bytes();
}

// An encryption dictionary in the object model, as the load driver hands it over.
struct DictShape {
  int v = 0, r = 0, length = 0;  // 0: entry absent
  std::string o, u;              // hexadecimal
  int64_t p = -4;
  std::string extra;             // "cf-v2", "cf-aes", "identity-streams", "no-metadata"
};

std::unique_ptr<TksPDFDictObject> MakeDict(const DictShape& s) {
  auto d = std::make_unique<TksPDFDictObject>();
  d->AddName("/Filter", "/Standard");
  if (s.v) d->AddInteger("/V", s.v);
  if (s.r) d->AddInteger("/R", s.r);
  if (s.length) d->AddInteger("/Length", s.length);
  d->AddObject("/O", std::make_unique<TksPDFStringObject>("<" + s.o + ">", true));
  d->AddObject("/U", std::make_unique<TksPDFStringObject>("<" + s.u + ">", true));
  d->AddInt64("/P", s.p);
  if (!s.extra.empty()) {
    auto filter = std::make_unique<TksPDFDictObject>();
    filter->AddName("/CFM", s.extra == "cf-aes" ? "/AESV2" : "/V2");
    filter->AddInteger("/Length", 16);
    auto cf = std::make_unique<TksPDFDictObject>();
    cf->AddObject("/StdCF", std::move(filter));
    d->AddObject("/CF", std::move(cf));
    d->AddName("/StmF", s.extra == "identity-streams" ? "/Identity" : "/StdCF");
    d->AddName("/StrF", "/StdCF");
    if (s.extra == "no-metadata") d->AddObject("/EncryptMetadata", std::make_unique<TksPDFBooleanObject>(false));
  }
  return d;
}

std::unique_ptr<TksPDFArrayObject> MakeID(const std::string& first, bool hex = true) {
  auto a = std::make_unique<TksPDFArrayObject>();
  std::string text = hex ? "<" + first + ">" : "(" + first + ")";
  a->Add(std::make_unique<TksPDFStringObject>(text, hex));
  a->Add(std::make_unique<TksPDFStringObject>(text, hex));
  return a;
}

// ---- MD5 and RC4 ----

TEST(Crypt, Md5AndRc4MatchPublishedVectors) {
  EXPECT_EQ(Hex(kscrypt::View(kscrypt::Md5({"abc"}).data(), 16)), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(Hex(kscrypt::View(kscrypt::Md5({"a", "", "bc"}).data(), 16)), "900150983CD24FB0D6963F7D28E17F72");
  std::string data = "Plaintext";
  kscrypt::Rc4(reinterpret_cast<const uint8_t*>("Key"), 3, reinterpret_cast<uint8_t*>(data.data()), data.size());
  EXPECT_EQ(Hex(data), "BBF316E8D940AF0AD3");
}

TEST(Crypt, Rc4RefusesKeyLengthsOutsideOneTo256) {
  uint8_t key[257] = {};
  uint8_t byte = 0;
  for (size_t length : {size_t{0}, size_t{257}})
    EXPECT_THAT([&] { kscrypt::Rc4(key, length, &byte, 1); },
                ThrowsMessage<Exception>(StrEq("RC4: Invalid key length")));
  kscrypt::Rc4(key, 256, &byte, 1);
  kscrypt::Rc4(key, 1, &byte, 1);
}

TEST(Crypt, PadPasswordFillsFromThePaddingString) {
  auto empty = TksBasePDFCrypt::PadPassword("");
  EXPECT_EQ(empty, TksBasePDFCrypt::PaddingString());
  EXPECT_EQ(empty[0], 0x28);
  EXPECT_EQ(empty[31], 0x7A);
  auto ab = TksBasePDFCrypt::PadPassword("ab");
  EXPECT_EQ(ab[0], 'a');
  EXPECT_EQ(ab[1], 'b');
  EXPECT_EQ(ab[2], 0x28);
  EXPECT_EQ(ab[31], 0x53);  // the padding string's 30th byte lands last
  auto longer = TksBasePDFCrypt::PadPassword(std::string(40, 'x'));
  EXPECT_EQ(longer, (TksBasePDFCrypt::PadPassword(std::string(32, 'x'))));
}

// ---- The encrypting handler ----

struct EncryptionCase {
  const char* name;
  TksPDFEncryptionLevel level;
  const char* owner;
  const char* user;
  TksUserPermissions permissions;
  int32_t p;
  const char* o;
  const char* u;
  const char* key;
  const char* helloObject7;  // "Hello" encrypted for object 7, generation 0
};

const EncryptionCase kEncryptionCases[] = {
    {"40bit", el40bit, "owner", "user", {AllowPrint, AllowModify, AllowCopy, AllowAnnotation}, -4,
     "94E8094419662A774442FB072E3D9F19E9D130EC09A4D0061E78FE920F7AB62F",
     "67CF6F1C9CA55C4EEED65F85A2BB830F25BB5C2E938FB6052D080005BD8C4B33", "6010F7F7EA", "6F2223E846"},
    {"128bit", el128bit, "owner", "user", TksUserPermissions::All(), -4,
     "0BA3835F88F90388E74E54584125CE142BE0DE24C6B0D37746E075B891756671",
     "2ECFB7D75A55AA5ED6F1C8D71F1ED9EE00000000000000000000000000000000", "C239E0006431EB3A259666F8585D9AD6",
     "830234F18B"},
    {"40bitEmptyPasswords", el40bit, "", "", {AllowPrint, AllowCopy}, -44,
     "2055C756C72E1AD702608E8196ACAD447AD32D17CFF583235F6DD15FED7DAB67",
     "9832163C729C548CA7C28951A4D87C636AC7E87609CD43BE367A1E145BE294B3", "55386AFBCA", "3D4D427ED6"},
    {"128bitNoPermissions", el128bit, "own", "", {}, -3904,
     "65FBEEB76E4691B7DC4BABE5B911CE87196F39D0CFDA0F00920838327413A714",
     "9D4187732E304D79140FF60DADE9C70100000000000000000000000000000000", "5B8C5420BF037899AC318601AAF14B23",
     "352A02AE84"},
};

class EncryptionKeys : public testing::TestWithParam<EncryptionCase> {};

TEST_P(EncryptionKeys, MatchIndependentlyComputedValues) {
  const auto& c = GetParam();
  TksPDFEncryptionSettings settings;
  settings.SetLevel(c.level);
  settings.SetOwnerPassword(c.owner);
  settings.SetUserPassword(c.user);
  settings.SetUserPermissions(c.permissions);
  TksPDFEncryption handler("Output1.pdf", settings, "D:20240102030405");
  EXPECT_EQ(Hex(handler.GetFileID()), "78D61AACFCD806E1D8A56DFDD726A51D");
  EXPECT_EQ(handler.GetPValue(), c.p);
  EXPECT_EQ(Hex(handler.GetOwnerKey()), c.o);
  EXPECT_EQ(Hex(handler.GetUserKey()), c.u);
  size_t n = c.level == el40bit ? 5 : 16;
  EXPECT_EQ(Hex(kscrypt::View(handler.EncryptionKey.data(), n)), c.key);
  EXPECT_EQ(Hex(handler.Encrypt("Hello", 7)), c.helloObject7);

  std::string buffer = "Hello";
  std::string target(5, '\0');
  handler.EncryptBuffer(reinterpret_cast<const uint8_t*>(buffer.data()), reinterpret_cast<uint8_t*>(target.data()),
                        0, 7, 5);
  EXPECT_EQ(Hex(target), c.helloObject7);
  EXPECT_EQ(buffer, "Hello");
}

INSTANTIATE_TEST_SUITE_P(Crypt, EncryptionKeys, testing::ValuesIn(kEncryptionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Crypt, FileIDWithoutCreationDateIsTheDigestOfTheFixedText) {
  TksPDFEncryptionSettings settings;
  TksPDFEncryption handler("Output1.pdf", settings, "");
  EXPECT_EQ(Hex(handler.GetFileID()), "91C46192D01BC5EF2A13E101CF4CCF84");
}

TEST(Crypt, OwnerPasswordFallsBackToTheUserPassword) {
  TksPDFEncryptionSettings a, b;
  a.SetUserPassword("same");
  b.SetUserPassword("same");
  b.SetOwnerPassword("same");
  TksPDFEncryption ha("Output1.pdf", a, ""), hb("Output1.pdf", b, "");
  EXPECT_EQ(ha.GetOwnerKey(), hb.GetOwnerKey());
  EXPECT_EQ(ha.GetUserKey(), hb.GetUserKey());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ha.PaddedPasswords.data()), 64),
            std::string(reinterpret_cast<const char*>(hb.PaddedPasswords.data()), 64));
}

struct PValueCase {
  TksPDFEncryptionLevel level;
  TksUserPermissions permissions;
  int32_t p;
};

TEST(Crypt, GetPValueFromPermissions) {
  const PValueCase cases[] = {
      {el40bit, TksUserPermissions::All(), -4},
      {el128bit, TksUserPermissions::All(), -4},
      {el128bit, {}, -3904},
      {el40bit, {}, -64},
      {el40bit, {AllowFormFill, AllowHighResPrint}, -64},
      {el128bit, {AllowHighResPrint}, -3904},  // high-resolution printing needs printing
      {el128bit, {AllowHighResPrint, AllowPrint}, -3904 + 4 + 2048},
      {el128bit, {AllowCopy, AllowAccessibility}, -3904 + 16 + 512},
  };
  for (const auto& c : cases) {
    TksPDFEncryptionSettings settings;
    settings.SetLevel(c.level);
    settings.SetUserPermissions(c.permissions);
    TksPDFEncryption handler("x", settings, "");
    EXPECT_EQ(handler.GetPValue(), c.p) << int(c.level) << " " << int(c.permissions.Bits);
  }
}

TEST(Crypt, EncryptionDictionaryAndIdentifier) {
  for (auto level : {el40bit, el128bit}) {
    TksPDFEncryptionSettings settings;
    settings.SetLevel(level);
    settings.SetOwnerPassword("owner");
    settings.SetUserPassword("user");
    settings.SetUserPermissions({AllowPrint, AllowModify, AllowCopy, AllowAnnotation});
    TksPDFEncryption handler("Output1.pdf", settings, "D:20240102030405");
    auto dict = handler.BuildEncryptionDictionary();
    std::string expected = level == el40bit
                               ? "<<\r\n/Filter /Standard\r\n"
                                 "/O <94E8094419662A774442FB072E3D9F19E9D130EC09A4D0061E78FE920F7AB62F>\r\n"
                                 "/U <67CF6F1C9CA55C4EEED65F85A2BB830F25BB5C2E938FB6052D080005BD8C4B33>\r\n"
                                 "/P -4\r\n/V 1\r\n/R 2\r\n/Length 40\r\n>>"
                               : "/P -3844\r\n/V 2\r\n/R 3\r\n/Length 128\r\n>>";
    std::string text = ObjectToText(dict.get());
    if (level == el40bit)
      EXPECT_EQ(text, expected);
    else
      EXPECT_THAT(text, testing::EndsWith(expected));
    EXPECT_EQ(ObjectToText(handler.BuildIDArray().get()),
              "[ <78D61AACFCD806E1D8A56DFDD726A51D> <78D61AACFCD806E1D8A56DFDD726A51D> ]");
  }
}

// ---- Reading encryption dictionaries of real files and checking passwords ----

struct RealFileCase {
  const char* name;
  DictShape dict;
  const char* id;  // first /ID element, hexadecimal
  const char* password;
  int result;  // 1 owner, 0 user, -1 wrong
  TksPDFEncryptionLevel level;
};

// /O, /U, /P and /ID as they stand in files of the test corpus.
const RealFileCase kRealFiles[] = {
    {"R2User", {1, 2, 40, "5707f7978844c2d6230b737e3295a2e9c945fcc46569f8339661c0a4264ceaa0",
                "a8fc291a1fb00f10fd255b84e39e5b0cc840d80973c478570af871f5a552bcfa", -64, ""},
     "66d36a30a97e0f16f39955c6221e0c2a", "view", 0, el40bit},
    {"R2Owner", {1, 2, 40, "5707f7978844c2d6230b737e3295a2e9c945fcc46569f8339661c0a4264ceaa0",
                 "a8fc291a1fb00f10fd255b84e39e5b0cc840d80973c478570af871f5a552bcfa", -64, ""},
     "66d36a30a97e0f16f39955c6221e0c2a", "master", 1, el40bit},
    {"R2Wrong", {1, 2, 40, "5707f7978844c2d6230b737e3295a2e9c945fcc46569f8339661c0a4264ceaa0",
                 "a8fc291a1fb00f10fd255b84e39e5b0cc840d80973c478570af871f5a552bcfa", -64, ""},
     "66d36a30a97e0f16f39955c6221e0c2a", "", -1, el40bit},
    {"R3User", {2, 3, 128, "1d1ff7011663408661b4e24dcc3db7f376f0fb37e02315869a2bc769442d356a",
                "b1b69d3ca429a6fa7a6f27d64de7cd5391f1dd59d88e5b6e5e0a7954217a8f78", -3104, ""},
     "66d36a30a97e0f16f39955c6221e0c2a", "view", 0, el128bit},
    {"R3Owner", {2, 3, 128, "1d1ff7011663408661b4e24dcc3db7f376f0fb37e02315869a2bc769442d356a",
                 "b1b69d3ca429a6fa7a6f27d64de7cd5391f1dd59d88e5b6e5e0a7954217a8f78", -3104, ""},
     "66d36a30a97e0f16f39955c6221e0c2a", "master", 1, el128bit},
    {"R3Wrong", {2, 3, 128, "1d1ff7011663408661b4e24dcc3db7f376f0fb37e02315869a2bc769442d356a",
                 "b1b69d3ca429a6fa7a6f27d64de7cd5391f1dd59d88e5b6e5e0a7954217a8f78", -3104, ""},
     "66d36a30a97e0f16f39955c6221e0c2a", "View", -1, el128bit},
    // A 40-bit key at revision 3.
    {"R3Key40", {1, 3, 40, "d803dba08ac8e191d78988a674bd14b81801c4a2ac82de11525b69ac42f04589",
                 "16a5f5d4a63a2cd3265524fa2248466028bf4e5e4e758a4164004e56fffa0108", -12, ""},
     "dd22115171e32b2c977f0d40d45c9972", "623", 0, el40bit},
    // /P written as an unsigned number.
    {"R3Key40UnsignedP", {1, 3, 40, "ebbee0aa9188ac6d4c94cb113e6fc465b2d05efe9b9c81e54903f2a1d9cb272b",
                          "8483181ebc92a07665b84c2e06c39f0f28bf4e5e4e758a4164004e56fffa0108", 4294967292, ""},
     "675e560bccc15027c9f238730f136482", "test", 1, el40bit},
    // The same with the owner digest hashed over all 16 bytes in each round (made by script).
    {"R3Key40WholeDigest", {1, 3, 40, "a2558295a12917e3770cc88f551497658fdfe7d20582468e228718fe89813682",
                            "a317a2851fe9480405c10e8e9f748b6e00000000000000000000000000000000", -4, ""},
     "00112233445566778899aabbccddeeff", "chef", 1, el40bit},
    // No /Length at all.
    {"R2NoLength", {1, 2, 0, "842e9696ecdf13a829f3b63c5b9614cc6254b7e0385b247bab90a508179c0340",
                    "4d1e401b4d6414ef67463b3ba8f2381cd6abb4fdb47cead02d21dafd081e3548", -24, ""},
     "fc335e6be662fe37003f8f19239f76e9", "password", 1, el40bit},
    // Crypt filters naming RC4.
    {"R4CryptFilter", {4, 4, 128, "36451bd39d753b7c1d10922c28e6665aa4f3353fb0348b536893e3b1db5c579b",
                       "32c27288b9ec6a4fab94e6188828595c0122456a91bae5134273a6db134c87c4", -4, "cf-v2"},
     "66d36a30a97e0f16f39955c6221e0c2a", "", 1, el128bit},
    {"R4EmptyUserOnly", {4, 4, 128, "a756a676383463ab0df38f41aadde9e1bd31651b440fc03e7f7c8d383d898909",
                         "9acd95e2c894167459049c45ca5524b400000000000000000000000000000000", -1340, "cf-v2"},
     "22611f0b64d6433db245454c7dae44fa", "", 0, el128bit},
};

class RealFiles : public testing::TestWithParam<RealFileCase> {};

TEST_P(RealFiles, PasswordChecks) {
  const auto& c = GetParam();
  TksPDFDecrypt decrypt;
  auto dict = MakeDict(c.dict);
  auto id = MakeID(c.id);
  decrypt.ReadEncryptionData(*dict, id.get());
  EXPECT_EQ(decrypt.Level, c.level);
  std::string user;
  int owner = decrypt.CheckOwnerPassword(c.password, user);
  int userResult = decrypt.CheckUserPassword(c.password);
  EXPECT_EQ(owner == 0 ? 1 : userResult, c.result);
  if (c.result == 1) {
    EXPECT_EQ(decrypt.CheckUserPassword(user), 0) << "the derived user password opens too";
  }
}

INSTANTIATE_TEST_SUITE_P(Crypt, RealFiles, testing::ValuesIn(kRealFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Crypt, OwnerCheckGivesTheUserPassword) {
  TksPDFDecrypt decrypt;
  auto dict = MakeDict(kRealFiles[1].dict);
  auto id = MakeID(kRealFiles[1].id);
  decrypt.ReadEncryptionData(*dict, id.get());
  std::string user;
  ASSERT_EQ(decrypt.CheckOwnerPassword("master", user), 0);
  EXPECT_EQ(user, "view");
}

TEST(Crypt, LiteralIdentifierOfAnyLengthTakesPartAsItIs) {
  // A real file whose identifier is a literal string of 36 bytes; its user password is empty.
  DictShape shape{1, 2, 40, "83016a0b91ea6d50cc9ba60d02eaf3f2afb428736e66b5ff6420da9707a1f61b",
                "f892e657be3f677a91a5e1c11631d9df9323c8a8d281a5599d2ae83aa50b3511", -60, ""};
  auto dict = MakeDict(shape);
  auto id = MakeID("E7648A8D-D790-48BF-8C73-80CBC66CC85A", false);
  TksPDFDecrypt decrypt;
  decrypt.ReadEncryptionData(*dict, id.get());
  EXPECT_EQ(decrypt.GetFileID(), "E7648A8D-D790-48BF-8C73-80CBC66CC85A");
  EXPECT_EQ(decrypt.CheckUserPassword(""), 0);
  // Cut to 32 characters it no longer matches.
  auto cut = MakeID("E7648A8D-D790-48BF-8C73-80CBC66C", false);
  TksPDFDecrypt other;
  other.ReadEncryptionData(*dict, cut.get());
  EXPECT_EQ(other.CheckUserPassword(""), -1);
}

TEST(Crypt, RoundTripThroughTheDecryptingHandler) {
  for (auto level : {el40bit, el128bit}) {
    TksPDFEncryptionSettings settings;
    settings.SetLevel(level);
    settings.SetOwnerPassword("Chef");
    settings.SetUserPassword("Gast");
    settings.SetUserPermissions({AllowCopy, AllowFormFill});
    TksPDFEncryption handler("Output1.pdf", settings, "D:2020");
    auto dict = handler.BuildEncryptionDictionary();
    auto id = handler.BuildIDArray();
    TksPDFDecrypt decrypt;
    decrypt.ReadEncryptionData(*dict, id.get());
    EXPECT_EQ(decrypt.Level, level);
    EXPECT_EQ(decrypt.CheckUserPassword("Gast"), 0);
    EXPECT_EQ(decrypt.CheckUserPassword("gast"), -1);
    std::string user;
    EXPECT_EQ(decrypt.CheckOwnerPassword("Chef", user), 0);
    EXPECT_EQ(user, "Gast");
    EXPECT_EQ(decrypt.CheckOwnerPassword("Gast", user), -1);

    std::string binary("\x00\xFF\xFE(\\)\r\n", 8);
    std::string s = handler.Encrypt(binary, 42);
    EXPECT_NE(s, binary);
    decrypt.DecryptString(s, 42, 0);
    EXPECT_EQ(s, binary);

    TksMemoryStream stream(handler.Encrypt("stream data", 9, 2));
    decrypt.DecryptStream(stream, stream.Size(), 9, 2);
    EXPECT_EQ(stream.ToString(), "stream data");
  }
}

TEST(Crypt, DecryptStreamCopiesBorrowedBytesFirst) {
  TksPDFEncryptionSettings settings;
  TksPDFEncryption handler("x", settings, "");
  auto dict = handler.BuildEncryptionDictionary();
  TksPDFDecrypt decrypt;
  decrypt.ReadEncryptionData(*dict, handler.BuildIDArray().get());
  ASSERT_EQ(decrypt.CheckUserPassword(""), 0);
  const std::string source = handler.Encrypt("abcdef", 3);
  auto stream = TksMemoryStream::Borrow(reinterpret_cast<const uint8_t*>(source.data()), source.size());
  decrypt.DecryptStream(*stream, 4, 3, 0);  // only the given length
  EXPECT_EQ(stream->ToString().substr(0, 4), "abcd");
  EXPECT_EQ(stream->ToString().substr(4), source.substr(4));
  EXPECT_EQ(source, handler.Encrypt("abcdef", 3));
}

TEST(Crypt, Revision4WithoutEncryptedMetadata) {
  DictShape shape{4, 4, 128, "EEECFEB40767E6E447D16D65E2277349937D0650D26FBA43CCAA77F0EC09B5CD",
                "4FA29377B380220DF9799C7F26C3154B00000000000000000000000000000000", -4, "no-metadata"};
  auto dict = MakeDict(shape);
  auto id = MakeID("000102030405060708090A0B0C0D0E0F");
  TksPDFDecrypt decrypt;
  decrypt.ReadEncryptionData(*dict, id.get());
  ASSERT_EQ(decrypt.CheckUserPassword("reader"), 0);
  std::string user;
  EXPECT_EQ(decrypt.CheckOwnerPassword("boss", user), 0);
  EXPECT_EQ(Hex(kscrypt::View(decrypt.Key.data(), 16)), "98AB26013B92F6E8DD8104BD403BAA20");
  std::string s = FromHex("80554A72442C");
  decrypt.DecryptString(s, 12, 3);
  EXPECT_EQ(s, "Secret");

  TksPDFDictObject metadata, page;
  metadata.AddName("/Type", "/Metadata");
  page.AddName("/Type", "/Page");
  EXPECT_FALSE(decrypt.IsStreamEncrypted(&metadata));
  EXPECT_TRUE(decrypt.IsStreamEncrypted(&page));
  EXPECT_TRUE(decrypt.IsStreamEncrypted(nullptr));

  // The same values with metadata encrypted do not open: the key digest differs.
  shape.extra = "cf-v2";
  auto plain = MakeDict(shape);
  TksPDFDecrypt other;
  other.ReadEncryptionData(*plain, id.get());
  EXPECT_EQ(other.CheckUserPassword("reader"), -1);
  EXPECT_TRUE(other.IsStreamEncrypted(&metadata));
}

TEST(Crypt, IdentityCryptFilterLeavesStreamsInClear) {
  DictShape shape{4, 4, 128, std::string(64, '0'), std::string(64, '0'), -4, "identity-streams"};
  auto dict = MakeDict(shape);
  TksPDFDecrypt decrypt;
  decrypt.ReadEncryptionData(*dict, nullptr);
  EXPECT_FALSE(decrypt.IsStreamEncrypted(nullptr));
  EXPECT_TRUE(decrypt.AreStringsEncrypted());
  TksMemoryStream stream(std::string("clear"));
  decrypt.DecryptStream(stream, 5, 1, 0);
  EXPECT_EQ(stream.ToString(), "clear");
}

struct DictErrorCase {
  const char* name;
  DictShape dict;
  const char* message;
};

const char* kAES = "The document is encrypted with AES, which is not supported (RC4 only)";
const std::string kKey64(64, 'A');

TEST(Crypt, EncryptionDictionaryErrors) {
  const DictErrorCase cases[] = {
      {"V5", {5, 5, 256, kKey64, kKey64, -4, ""}, kAES},
      {"R6", {0, 6, 0, kKey64, kKey64, -4, ""}, kAES},
      {"AESV2", {4, 4, 128, kKey64, kKey64, -4, "cf-aes"}, kAES},
      {"V3", {3, 3, 128, kKey64, kKey64, -4, ""}, "Unsupported encryption version (/V 3)"},
      {"OddLength", {2, 3, 44, kKey64, kKey64, -4, ""}, "Invalid encryption key length (44 bits)"},
      {"LongLength", {2, 3, 256, kKey64, kKey64, -4, ""}, "Invalid encryption key length (256 bits)"},
      {"ShortO", {2, 3, 128, "00", kKey64, -4, ""}, "Invalid Owner Key."},
      {"EmptyO", {2, 3, 128, "", kKey64, -4, ""}, "Invalid Owner Key."},
      {"EmptyU", {2, 3, 128, kKey64, "", -4, ""}, "Invalid User Key."},
  };
  for (const auto& c : cases) {
    auto dict = MakeDict(c.dict);
    TksPDFDecrypt decrypt;
    EXPECT_THAT([&] { decrypt.ReadEncryptionData(*dict, nullptr); }, ThrowsMessage<Exception>(StrEq(c.message)))
        << c.name;
  }
}

TEST(Crypt, MalformedEntriesOfTheDictionary) {
  auto base = [] { return MakeDict({2, 3, 128, kKey64, kKey64, -4, ""}); };
  {
    auto d = base();
    d->Remove("/P");
    TksPDFDecrypt decrypt;
    EXPECT_THAT([&] { decrypt.ReadEncryptionData(*d, nullptr); },
                ThrowsMessage<EInvalidPermission>(StrEq("Invalid permission in encryption dictionary")));
  }
  {
    auto d = base();
    d->SetObject("/P", std::make_unique<TksPDFRealObject>(-4.0));
    TksPDFDecrypt decrypt;
    EXPECT_THAT([&] { decrypt.ReadEncryptionData(*d, nullptr); },
                ThrowsMessage<EInvalidPermission>(StrEq("Invalid permission in encryption dictionary")));
  }
  {
    auto d = base();
    d->SetObject("/O", std::make_unique<TksPDFNameObject>("/O"));
    TksPDFDecrypt decrypt;
    EXPECT_THAT([&] { decrypt.ReadEncryptionData(*d, nullptr); },
                ThrowsMessage<Exception>(StrEq("Invalid Owner Key.")));
  }
  {
    auto d = base();
    d->SetName("/Filter", "/Adobe.PubSec");
    TksPDFDecrypt decrypt;
    EXPECT_THAT([&] { decrypt.ReadEncryptionData(*d, nullptr); },
                ThrowsMessage<Exception>(StrEq("Unsupported security handler (Adobe.PubSec)")));
  }
  {
    auto d = base();
    TksPDFArrayObject id;
    id.AddInteger(5);
    TksPDFDecrypt decrypt;
    EXPECT_THAT([&] { decrypt.ReadEncryptionData(*d, &id); }, ThrowsMessage<Exception>(StrEq("Invalid FileId.")));
  }
  {
    // Literal /O and /U of 32 bytes are taken as they are.
    auto d = base();
    d->SetObject("/O", std::make_unique<TksPDFStringObject>("(" + std::string(32, '\xAB') + ")"));
    TksPDFDecrypt decrypt;
    decrypt.ReadEncryptionData(*d, nullptr);
    EXPECT_EQ(decrypt.GetOwnerKey(), std::string(32, '\xAB'));
    EXPECT_EQ(decrypt.GetFileID(), "");
  }
}

TEST(Crypt, SetPValueKeepsSixteenBitsAndTheSign) {
  const std::pair<int64_t, int32_t> cases[] = {
      {-4, -4}, {-3904, -3904}, {4294967292LL, -4}, {65535, 65535}, {65536, -65536}, {60, 60}, {0, 0},
      {-1, -1}, {4294963392LL, -3904},
  };
  for (auto [in, out] : cases) {
    TksPDFDecrypt d;
    d.SetPValue(in);
    EXPECT_EQ(d.PValue, out) << in;
  }
}

TEST(Crypt, PermissionsFromPAtEachRevision) {
  using P = TksUserPermissions;
  const std::tuple<int32_t, int64_t, P> cases[] = {
      {3, -3904, P{}},
      {3, -4, P::All()},
      {4, 4294967292LL, P::All()},
      {3, -3904 + 256 + 1024, P{AllowFormFill, AllowDocAssembly}},
      {3, -3904 + 4 + 2048, P{AllowPrint, AllowHighResPrint}},
      {3, -3904 + 2048, P{}},  // high-resolution printing without printing is none
      {3, -3104, P{AllowAnnotation, AllowFormFill, AllowAccessibility}},
      // Revision 2 has no bits of its own for the upper four: each follows its lower one,
      // whatever bits 9 to 12 say (qpdf --show-encryption reads them so too).
      {2, -4, P::All()},
      {2, -64, P{}},
      {2, -16, P{AllowCopy, AllowAnnotation, AllowFormFill, AllowAccessibility}},
      {2, -44, P{AllowPrint, AllowCopy, AllowAccessibility, AllowHighResPrint}},
      {2, -40, P{AllowModify, AllowCopy, AllowDocAssembly, AllowAccessibility}},
      {2, -3904 + 4, P{AllowPrint, AllowHighResPrint}},
  };
  for (const auto& [revision, p, expected] : cases)
    EXPECT_EQ(PermissionsFromP(revision, p).Bits, expected.Bits) << revision << " " << p;
}

// The bytes a typed password is tried as, in order.
TEST(Crypt, PasswordCandidatesAreWindows1252ThenUtf8) {
  using V = std::vector<std::string>;
  const std::pair<std::u16string, V> cases[] = {
      {u"", V{""}},
      {u"view", V{"view"}},
      {u"caf\u00e9", V{"caf\xE9", "caf\xC3\xA9"}},
      {u"\u20AC5", V{"\x80" "5", "\xE2\x82\xAC" "5"}},
      {u"\u0416", V{"\xD0\x96"}},            // no Windows-1252 byte: UTF-8 only
      {u"\u5bc6\u7801", V{"\xE5\xAF\x86\xE7\xA0\x81"}},
      {u"\u0081", V{"\xC2\x81"}},            // a byte the code page leaves undefined
      {u"a?b", V{"a?b"}},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(TksPDFDecrypt::PasswordCandidates(text), expected) << Hex(expected.back());
}

// Passwords set as Windows-1252 bytes and as UTF-8 bytes both open from the same text,
// and the settings keep the bytes that worked.
TEST(Crypt, TypedPasswordOpensWhicheverBytesItWasSetAs) {
  struct Case {
    std::string userBytes, ownerBytes;
    std::u16string typed;
    bool owner;
  } cases[] = {
      {"p\xE4ss", "boss", u"p\u00e4ss", false},
      {"p\xC3\xA4ss", "boss", u"p\u00e4ss", false},
      {"u", "\xE5\xAF\x86\xE7\xA0\x81", u"\u5bc6\u7801", true},
      {"u", "\xC2\x81", u"\u0081", true},
  };
  for (const Case& c : cases) {
    for (auto level : {el40bit, el128bit}) {
      TksPDFEncryptionSettings made;
      made.SetLevel(level);
      made.SetUserPassword(c.userBytes);
      made.SetOwnerPassword(c.ownerBytes);
      TksPDFEncryption handler("Output1.pdf", made, "");
      TksPDFDecrypt decrypt;
      decrypt.ReadEncryptionData(*handler.BuildEncryptionDictionary(), handler.BuildIDArray().get());
      TksPDFEncryptionSettings settings;
      ASSERT_TRUE(decrypt.Authenticate(settings, c.typed)) << Hex(c.userBytes) << " " << int(level);
      EXPECT_EQ(decrypt.IsOwner, c.owner);
      EXPECT_EQ(settings.UserPassword(), c.userBytes);
      if (c.owner) {
        EXPECT_EQ(settings.OwnerPassword(), c.ownerBytes);
      }
      TksPDFEncryptionSettings unused;
      EXPECT_FALSE(decrypt.Authenticate(unused, u"wrong"));
    }
  }
}

// ---- Authentication and the settings lock ----

std::unique_ptr<TksPDFDecrypt> OpenR3(const char16_t* password, TksPDFEncryptionSettings& settings, bool& ok) {
  auto decrypt = std::make_unique<TksPDFDecrypt>();
  auto dict = MakeDict(kRealFiles[3].dict);  // user "view", owner "master", /P -3104
  auto id = MakeID(kRealFiles[3].id);
  decrypt->ReadEncryptionData(*dict, id.get());
  ok = decrypt->Authenticate(settings, password);
  return decrypt;
}

// The owner may change everything, but what "/P" grants stays until changed: a save must
// not lift the restrictions unasked.
TEST(Crypt, OwnerOpenKeepsPermissionsAndSettingsChangeable) {
  TksPDFEncryptionSettings settings;
  bool ok = false;
  auto d = OpenR3(u"master", settings, ok);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(d->IsOwner);
  EXPECT_TRUE(settings.AllowChange());
  EXPECT_TRUE(settings.Enabled());
  EXPECT_EQ(settings.Level(), el128bit);
  EXPECT_EQ(settings.OwnerPassword(), "master");
  EXPECT_EQ(settings.UserPassword(), "view");
  EXPECT_EQ(settings.UserPermissions(), (TksUserPermissions{AllowAnnotation, AllowFormFill, AllowAccessibility}));
  settings.SetEnabled(false);
  EXPECT_FALSE(settings.Enabled());
}

TEST(Crypt, UserOpenNarrowsPermissionsAndLocksTheSettings) {
  TksPDFEncryptionSettings settings;
  bool ok = false;
  auto d = OpenR3(u"view", settings, ok);
  ASSERT_TRUE(ok);
  EXPECT_FALSE(d->IsOwner);
  EXPECT_FALSE(settings.AllowChange());
  EXPECT_TRUE(settings.Enabled());
  EXPECT_EQ(settings.UserPassword(), "view");
  EXPECT_EQ(settings.OwnerPassword(), "");
  // -3104 grants annotations, form filling and accessibility.
  EXPECT_EQ(settings.UserPermissions(), (TksUserPermissions{AllowAnnotation, AllowFormFill, AllowAccessibility}));

  const char* locked = "User cannot change encryption settings";
  EXPECT_THAT([&] { settings.SetEnabled(false); }, ThrowsMessage<Exception>(StrEq(locked)));
  EXPECT_THAT([&] { settings.SetLevel(el40bit); }, ThrowsMessage<Exception>(StrEq(locked)));
  EXPECT_THAT([&] { settings.SetOwnerPassword("x"); }, ThrowsMessage<Exception>(StrEq(locked)));
  EXPECT_THAT([&] { settings.SetUserPassword("x"); }, ThrowsMessage<Exception>(StrEq(locked)));
  EXPECT_THAT([&] { settings.SetUserPermissions({}); }, ThrowsMessage<Exception>(StrEq(locked)));
  EXPECT_TRUE(settings.Enabled());
  EXPECT_EQ(settings.Level(), el128bit);
  EXPECT_EQ(settings.UserPassword(), "view");

}

TEST(Crypt, WrongPasswordLeavesSettingsAlone) {
  TksPDFEncryptionSettings settings;
  bool ok = true;
  auto d = OpenR3(u"nope", settings, ok);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(settings.Enabled());
  EXPECT_TRUE(settings.AllowChange());
  EXPECT_EQ(settings.UserPassword(), "");
}

TEST(Crypt, EmptyOwnerPasswordOpensAsOwner) {
  // Both passwords empty: the empty password is the owner's.
  TksPDFDecrypt decrypt;
  DictShape shape{1, 2, 40, "2055c756c72e1ad702608e8196acad447ad32d17cff583235f6dd15fed7dab67",
                "9e8e293e504292c520ee9f6a2a0e4857abef00b324b1041ac79a33f2cbde52a2", -64, ""};
  auto dict = MakeDict(shape);
  auto id = MakeID("66d36a30a97e0f16f39955c6221e0c2a");
  decrypt.ReadEncryptionData(*dict, id.get());
  TksPDFEncryptionSettings settings;
  ASSERT_TRUE(decrypt.Authenticate(settings, u""));
  EXPECT_TRUE(decrypt.IsOwner);
  EXPECT_EQ(settings.UserPermissions(), TksUserPermissions{});  // /P -64 at revision 2 grants nothing
}

// An encrypting handler made from an opened source writes the source's values as they
// are, and the output's key is the source's: each password opens it as before.
class SourceKeys : public testing::TestWithParam<RealFileCase> {};

TEST_P(SourceKeys, AreWrittenAsRead) {
  const auto& c = GetParam();
  auto dict = MakeDict(c.dict);
  auto id = MakeID(c.id);
  TksPDFDecrypt source;
  source.ReadEncryptionData(*dict, id.get());
  TksPDFEncryptionSettings settings;
  ASSERT_TRUE(source.AuthenticateBytes(settings, c.password));
  TksPDFEncryption handler(source);

  auto written = handler.BuildEncryptionDictionary();
  auto text = [](const TksPDFObject* o) { return o ? ObjectToText(o) : std::string("(none)"); };
  for (const char* key : {"/O", "/U"})
    EXPECT_EQ(AsString(written->Lookup(key))->Bytes(), AsString(dict->Lookup(key))->Bytes()) << key;
  EXPECT_EQ(handler.GetPValue(), source.PValue);
  EXPECT_EQ(text(written->Lookup("/P")), std::to_string(source.PValue));
  EXPECT_EQ(text(written->Lookup("/R")), std::to_string(source.Revision));
  EXPECT_EQ(text(written->Lookup("/Length")), std::to_string(source.KeyLength * 8));
  EXPECT_EQ(text(handler.BuildIDArray().get()), text(id.get()));

  TksPDFDecrypt reopened;
  reopened.ReadEncryptionData(*written, handler.BuildIDArray().get());
  TksPDFEncryptionSettings again;
  ASSERT_TRUE(reopened.AuthenticateBytes(again, c.password));
  EXPECT_EQ(reopened.IsOwner, source.IsOwner);
  EXPECT_EQ(reopened.Revision, source.Revision);
  EXPECT_EQ(reopened.Key, source.Key);
  std::string s = handler.Encrypt("Hello", 7);
  source.DecryptString(s, 7, 0);
  EXPECT_EQ(s, "Hello");
}

std::vector<RealFileCase> OpeningRealFiles() {
  std::vector<RealFileCase> cases;
  for (const RealFileCase& c : kRealFiles)
    if (c.result != -1) cases.push_back(c);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Crypt, SourceKeys, testing::ValuesIn(OpeningRealFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

// Crypt filters that leave streams or metadata in clear stay so in what is written.
TEST(Crypt, SourceKeysKeepWhatTheCryptFiltersLeaveInClear) {
  TksPDFDictObject metadata, page;
  metadata.AddName("/Type", "/Metadata");
  page.AddName("/Type", "/Page");
  {
    DictShape shape{4, 4, 128, "EEECFEB40767E6E447D16D65E2277349937D0650D26FBA43CCAA77F0EC09B5CD",
                    "4FA29377B380220DF9799C7F26C3154B00000000000000000000000000000000", -4, "no-metadata"};
    auto dict = MakeDict(shape);
    auto id = MakeID("000102030405060708090A0B0C0D0E0F");
    TksPDFDecrypt source;
    source.ReadEncryptionData(*dict, id.get());
    TksPDFEncryptionSettings settings;
    ASSERT_TRUE(source.AuthenticateBytes(settings, "reader"));
    TksPDFEncryption handler(source);
    EXPECT_FALSE(handler.EncryptsStream(&metadata));
    EXPECT_TRUE(handler.EncryptsStream(&page));
    EXPECT_TRUE(handler.EncryptsStrings());
    auto written = handler.BuildEncryptionDictionary();
    EXPECT_THAT(ObjectToText(written.get()),
                testing::EndsWith("/P -4\r\n/V 4\r\n/R 4\r\n/Length 128\r\n/CF <<\r\n/StdCF <<\r\n/CFM /V2\r\n"
                                  "/AuthEvent /DocOpen\r\n/Length 16\r\n>>\r\n>>\r\n/StmF /StdCF\r\n/StrF /StdCF\r\n"
                                  "/EncryptMetadata false\r\n>>"));
    TksPDFDecrypt reopened;
    reopened.ReadEncryptionData(*written, id.get());
    TksPDFEncryptionSettings again;
    EXPECT_TRUE(reopened.AuthenticateBytes(again, "reader"));
    EXPECT_FALSE(reopened.EncryptMetadata);
  }
  {
    // Streams in clear; the key of these zero-filled values is never right, so the
    // handler is made from a source whose check is skipped.
    DictShape shape{4, 4, 128, std::string(64, '0'), std::string(64, '0'), -4, "identity-streams"};
    auto dict = MakeDict(shape);
    TksPDFDecrypt source;
    source.ReadEncryptionData(*dict, nullptr);
    TksPDFEncryption handler(source);
    EXPECT_FALSE(handler.EncryptsStream(&page));
    EXPECT_TRUE(handler.EncryptsStrings());
    EXPECT_EQ(handler.BuildIDArray(), nullptr);  // the source had no /ID: neither has the output
    EXPECT_THAT(ObjectToText(handler.BuildEncryptionDictionary().get()),
                testing::HasSubstr("/StmF /Identity\r\n/StrF /StdCF\r\n"));
  }
}

}  // namespace
