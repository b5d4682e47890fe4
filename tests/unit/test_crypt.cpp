// The security handler: key derivation, password checks, permissions, settings lock,
// per-object encryption. Expected values were computed independently (RC4 and MD5
// of the published algorithms in a short script; the AES values by
// tests/support/make_crypt_vectors.py) or taken from real encrypted files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "compat/ksClasses.h"
#include "crypt/ksPDFCrypt.h"
#include "ksPlatform.h"

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
  std::string extra;             // "cf-v2", "cf-aes", "cf-aesv3", "identity-streams", "no-metadata"
};
// Revisions 5 and 6 add these (hexadecimal; empty: absent).
struct V5Entries {
  std::string oe, ue, perms;
};

std::unique_ptr<TksPDFDictObject> MakeDict(const DictShape& s, const V5Entries& v5 = V5Entries()) {
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
    filter->AddName("/CFM", s.extra == "cf-aes" ? "/AESV2" : s.extra == "cf-aesv3" ? "/AESV3" : "/V2");
    filter->AddInteger("/Length", s.extra == "cf-aesv3" ? 32 : 16);
    auto cf = std::make_unique<TksPDFDictObject>();
    cf->AddObject("/StdCF", std::move(filter));
    d->AddObject("/CF", std::move(cf));
    d->AddName("/StmF", s.extra == "identity-streams" ? "/Identity" : "/StdCF");
    d->AddName("/StrF", "/StdCF");
    if (s.extra == "no-metadata") d->AddObject("/EncryptMetadata", std::make_unique<TksPDFBooleanObject>(false));
  }
  for (const auto& [key, hex] : {std::pair{"/OE", &v5.oe}, std::pair{"/UE", &v5.ue}, std::pair{"/Perms", &v5.perms}})
    if (!hex->empty()) d->AddObject(key, std::make_unique<TksPDFStringObject>("<" + *hex + ">", true));
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

// New keys for a source that left its metadata in clear: every level but 40 bits keeps it
// so (128-bit RC4 through an RC4 crypt filter of revision 4), and the keys open again.
TEST(Crypt, MetadataLeftInClearWhereTheLevelCan) {
  const struct {
    TksPDFEncryptionLevel level;
    bool clear;
    int v, r;
  } cases[] = {
      {el40bit, false, 1, 2}, {el128bit, true, 4, 4}, {elAES128, true, 4, 4}, {elAES256, true, 5, 6}};
  TksPDFDictObject metadata, content;
  metadata.AddName("/Type", "/Metadata");
  metadata.AddName("/Subtype", "/XML");
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.level));
    TksPDFEncryptionSettings settings;
    settings.SetLevel(c.level);
    settings.SetOwnerPassword("Chef");
    settings.SetUserPassword("Gast");
    settings.SetUserPermissions({AllowPrint, AllowHighResPrint});
    TksPDFEncryption handler("Output1.pdf", settings, "D:2020", false);
    EXPECT_EQ(handler.EncryptMetadata, !c.clear);
    EXPECT_EQ(handler.EncryptsStream(&metadata), !c.clear);
    EXPECT_TRUE(handler.EncryptsStream(&content));
    EXPECT_EQ(handler.OutputLevel(), c.level);
    auto dict = handler.BuildEncryptionDictionary();
    EXPECT_EQ(IntegerValue(dict->Lookup("/V")), c.v);
    EXPECT_EQ(IntegerValue(dict->Lookup("/R")), c.r);
    EXPECT_EQ(dict->Lookup("/EncryptMetadata") != nullptr, c.clear);

    TksPDFDecrypt decrypt;
    decrypt.ReadEncryptionData(*dict, handler.BuildIDArray().get());
    EXPECT_EQ(decrypt.Level, c.level);
    EXPECT_EQ(decrypt.EncryptMetadata, !c.clear);
    EXPECT_EQ(decrypt.IsStreamEncrypted(&metadata), !c.clear);
    for (const char16_t* password : {u"Gast", u"Chef"}) {
      TksPDFEncryptionSettings opened;
      EXPECT_TRUE(decrypt.Authenticate(opened, password));
    }
    std::vector<uint8_t> data;
    for (char ch : handler.Encrypt("stream data", 9, 0, &content)) data.push_back(static_cast<uint8_t>(ch));
    decrypt.DecryptData(data, 9, 0, &content);
    EXPECT_EQ(std::string(data.begin(), data.end()), "stream data");
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
  V5Entries v5;
};

const std::string kKey64(64, 'A');
const std::string kKey96(96, 'A');

TEST(Crypt, EncryptionDictionaryErrors) {
  const DictErrorCase cases[] = {
      {"R7", {5, 7, 256, kKey96, kKey96, -4, "cf-aesv3"}, "Unsupported revision of the security handler (/R 7)",
       {kKey64, kKey64, ""}},
      {"R6UnderV4", {4, 6, 128, kKey96, kKey96, -4, "cf-aes"}, "Unsupported revision of the security handler (/R 6)",
       {}},
      {"R4UnderV5", {5, 4, 256, kKey96, kKey96, -4, "cf-aesv3"},
       "Unsupported revision of the security handler (/R 4)", {}},
      {"V6", {6, 6, 256, kKey96, kKey96, -4, ""}, "Unsupported encryption version (/V 6)", {}},
      {"ShortOAt6", {5, 6, 256, kKey64, kKey96, -4, "cf-aesv3"}, "Invalid Owner Key.", {kKey64, kKey64, ""}},
      {"ShortUAt6", {5, 6, 256, kKey96, kKey64, -4, "cf-aesv3"}, "Invalid User Key.", {kKey64, kKey64, ""}},
      {"NoOE", {5, 6, 256, kKey96, kKey96, -4, "cf-aesv3"}, "Invalid Owner Key.", {"", kKey64, ""}},
      {"ShortUE", {5, 6, 256, kKey96, kKey96, -4, "cf-aesv3"}, "Invalid User Key.", {kKey64, "00", ""}},
      // Methods keyed on the other key length.
      {"RC4UnderV5", {5, 6, 256, kKey96, kKey96, -4, "cf-v2"}, "Unsupported encryption method (V2)", {kKey64, kKey64, ""}},
      {"AESV2UnderV5", {5, 6, 256, kKey96, kKey96, -4, "cf-aes"}, "Unsupported encryption method (AESV2)",
       {kKey64, kKey64, ""}},
      {"AESV3UnderV4", {4, 4, 128, kKey64, kKey64, -4, "cf-aesv3"}, "Unsupported encryption method (AESV3)", {}},
      {"V3", {3, 3, 128, kKey64, kKey64, -4, ""}, "Unsupported encryption version (/V 3)", {}},
      {"OddLength", {2, 3, 44, kKey64, kKey64, -4, ""}, "Invalid encryption key length (44 bits)", {}},
      {"LongLength", {2, 3, 256, kKey64, kKey64, -4, ""}, "Invalid encryption key length (256 bits)", {}},
      {"ShortO", {2, 3, 128, "00", kKey64, -4, ""}, "Invalid Owner Key.", {}},
      {"EmptyO", {2, 3, 128, "", kKey64, -4, ""}, "Invalid Owner Key.", {}},
      {"EmptyU", {2, 3, 128, kKey64, "", -4, ""}, "Invalid User Key.", {}},
  };
  for (const auto& c : cases) {
    auto dict = MakeDict(c.dict, c.v5);
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


// ---- AES ----

// The hash of revisions 5 and 6 against tests/support/make_crypt_vectors.py.
TEST(CryptAES, PasswordHashMatchesIndependentValues) {
  const struct {
    int revision;
    std::string password, salt, userKey, hash;  // hexadecimal
  } cases[] = {
      {6, "", "0000000000000000", "", "439FEBA099A63D0D035A1E5FB67FF307329189584956425AFF2D3BD3D15EDC60"},
      {6, "75736572", "0001020304050607", "", "731758C09C8B0160A34721D18BDD24220ABADA0070AA3F05B8103FD5B8D05F17"},
      {6, "6F776E6572", "08090A0B0C0D0E0F",
       "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F202122232425262728292A2B2C2D2E2F",
       "400C13628B144FE2FBB850B65729E9ECB63C00FBB817C685725F25DE85AF0521"},
      {6, "70C3A4737377C3B67264", "73616C7473616C74", "", "669AF84A429F367EFD68295085222AC5755682E7B826ACF353C1E31B231070B9"},
      // 200 bytes: only the first 127 count.
      {6, Hex(std::string(200, 'x')), "3132333435363738", "",
       "E51AF489812DDC093EF22E92093B1A7D1944F175E4DE3385361A5D950B55EDE0"},
      {5, "62617A", "6162636465666768", "", "2E1BD5C8A51DD8AE0DA24F5E86F7899004A79D8C5D56343707C9C747B17C944C"},
      {5, "666F6F", "4142434445464748",
       "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F202122232425262728292A2B2C2D2E2F",
       "A048D0E95DDE896F196889AC40402A533320FB9AF7892A4ADD2FD8673434B119"},
  };
  for (const auto& c : cases) {
    const auto hash = kscrypt::PasswordHash(c.revision, FromHex(c.password), FromHex(c.salt), FromHex(c.userKey));
    EXPECT_EQ(Hex(kscrypt::View(hash.data(), 32)), c.hash) << c.revision << " " << c.password.substr(0, 20);
  }
}

// Examples of the SASLprep profile's own description, and the 127-byte cut.
TEST(CryptAES, PasswordsArePreparedAndCut) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"I\u00ADX", "IX"},                 // soft hyphen mapped to nothing
      {u"user", "user"},
      {u"USER", "USER"},                   // no case folding
      {u"\u00AA", "a"},                    // NFKC
      {u"\u2168", "IX"},                   // NFKC
      {u"a\u00A0b", "a b"},                // other spaces become the space
      {u"\u0007", "\x07"},                 // prohibited: keyed on as typed
      {u"p\u00e4ss", "p\xC3\xA4ss"},
  };
  for (const auto& [typed, prepared] : cases) EXPECT_EQ(kscrypt::PreparePassword(typed), prepared) << Hex(prepared);
  EXPECT_EQ(kscrypt::PreparePassword(std::u16string(200, u'a')), std::string(127, 'a'));
  // A character cut in the middle stays cut: readers key on the first 127 bytes.
  EXPECT_EQ(kscrypt::PreparePassword(std::u16string(64, u'\u00e9')).size(), 127u);
  using V = std::vector<std::string>;
  EXPECT_EQ(TksPDFDecrypt::PasswordCandidates(u"I\u00ADX", 6), (V{"IX", "I\xC2\xADX"}));
  EXPECT_EQ(TksPDFDecrypt::PasswordCandidates(u"\u0416", 5), (V{"\xD0\x96"}));
}

// Dictionaries of revisions 6 and 5 made by tests/support/make_crypt_vectors.py: user "u",
// owner "o", file key 00..1F, /P -3884.
std::unique_ptr<TksPDFDictObject> GeneratedV5(int revision, int64_t p = -3884, const char* perms = "AFDA9845019E0D8C6020846DEB85AC87") {
  if (revision == 6)
    return MakeDict({5, 6, 256,
                     "416F99332091A6DAA7506B7EDE2550293E16AC240953257D046C2744D32B5D7633333333333333334444444444444444",
                     "4A70B474273CC9566CF0B71B8AFFDBBB6930304B56B3C7C7DD64B5341F64E71B11111111111111112222222222222222",
                     p, "cf-aesv3"},
                    {"609D30A151D19F271137BE17AE587ADAEF41DC5CC8301B9B659807B04213F0AF",
                     "03AA19ED64146E9B27F848861F6484A606CC33A259196B44B359F3313894DA86", perms});
  return MakeDict({5, 5, 256,
                   "9CE60B6A3C594279D0EEE7CB85F2ED96BAABED5F4A11F606FFFD0C7691AE6EE133333333333333334444444444444444",
                   "C2D2E466FD7ED5CAC58DFDB01B996EB5358DB72E02ADE892514B850F9729C89F11111111111111112222222222222222",
                   p, "cf-aesv3"},
                  {"669F21F1C1FA824880984F31F465A0FF34CA889ABF635B068A833393809644E7",
                   "21807002F19029E50A88E93C4F8871256578850063CD52A54A4A7A21DA62542A", perms});
}

TEST(CryptAES, Revisions5And6OpenWithEitherPasswordAndGiveTheFileKey) {
  for (int revision : {6, 5}) {
    for (const auto& [password, owner] : {std::pair{u"u", false}, std::pair{u"o", true}}) {
      SCOPED_TRACE(std::to_string(revision) + (owner ? " owner" : " user"));
      auto dict = GeneratedV5(revision);
      TksPDFDecrypt decrypt;
      decrypt.ReadEncryptionData(*dict, nullptr);
      EXPECT_EQ(decrypt.Level, elAES256);
      EXPECT_EQ(decrypt.StreamMethod, kscrypt::cmAESV3);
      TksPDFEncryptionSettings settings;
      ASSERT_TRUE(decrypt.Authenticate(settings, password));
      EXPECT_EQ(decrypt.IsOwner, owner);
      EXPECT_EQ(decrypt.UserPasswordKnown, !owner);  // the owner open cannot learn it
      EXPECT_FALSE(decrypt.PermsMismatch);
      EXPECT_EQ(Hex(kscrypt::View(decrypt.Key.data(), 32)),
                "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
      EXPECT_EQ(settings.Level(), elAES256);
      EXPECT_EQ(settings.UserPermissions(), (TksUserPermissions{AllowPrint, AllowCopy}));
      std::string s = FromHex("A0A1A2A3A4A5A6A7A8A9AAABACADAEAF75734D749521521DB9916CA5D2D16CCF");
      decrypt.DecryptString(s, 99, 7);  // one key for every object
      EXPECT_EQ(s, "Hello, world");
      TksPDFEncryptionSettings unused;
      EXPECT_FALSE(decrypt.Authenticate(unused, u"U"));
    }
  }
}

TEST(CryptAES, PermsThatDoNotMatchAreOnlyNoted) {
  auto dict = GeneratedV5(6, -3904);  // /Perms says -3884
  TksPDFDecrypt decrypt;
  decrypt.ReadEncryptionData(*dict, nullptr);
  EXPECT_EQ(decrypt.CheckUserPassword("u"), 0);
  EXPECT_TRUE(decrypt.PermsMismatch);
  auto none = GeneratedV5(6, -3884, "");
  TksPDFDecrypt other;
  other.ReadEncryptionData(*none, nullptr);
  std::string user;
  EXPECT_EQ(other.CheckOwnerPassword("o", user), 0);
  EXPECT_TRUE(other.PermsMismatch);
}

// Revision 4 with AESV2 crypt filters from the generator: user "reader", owner "boss".
TEST(CryptAES, Revision4WithAESV2) {
  DictShape shape{4, 4, 128, "EEECFEB40767E6E447D16D65E2277349937D0650D26FBA43CCAA77F0EC09B5CD",
                  "FAA4BD4D58779B860A2EF85D51260A4800000000000000000000000000000000", -1028, "cf-aes"};
  auto dict = MakeDict(shape);
  auto id = MakeID("000102030405060708090A0B0C0D0E0F");
  TksPDFDecrypt decrypt;
  decrypt.ReadEncryptionData(*dict, id.get());
  EXPECT_EQ(decrypt.Level, elAES128);
  EXPECT_EQ(decrypt.KeyLength, 16);
  std::vector<int32_t> badPadding;
  decrypt.OnBadPadding = [&](int32_t n) { badPadding.push_back(n); };
  ASSERT_EQ(decrypt.CheckUserPassword("reader"), 0);
  EXPECT_EQ(Hex(kscrypt::View(decrypt.Key.data(), 16)), "CF00D4C17A5DC746F827A94D5BBCFA59");
  std::string user;
  ASSERT_EQ(decrypt.CheckOwnerPassword("boss", user), 0);
  EXPECT_EQ(user, "reader");

  const struct {
    const char* hex;
    std::string plain;
    bool padded;
  } cases[] = {
      {"A0A1A2A3A4A5A6A7A8A9AAABACADAEAF302102DF36699A22BC495A53DA05BCDB", "Secret text", true},
      // A whole block of data gets a whole block of padding.
      {"A0A1A2A3A4A5A6A7A8A9AAABACADAEAF4DE86942B7EE33F97C58E58167E2CD9F1E904C0CC9383E8C8D5EC1D3AB0D24C4",
       "sixteen bytes!!!", true},
      // No padding: kept as decrypted, and told.
      {"A0A1A2A3A4A5A6A7A8A9AAABACADAEAFC055BC0E949DAECEA98FC353149420F0", "no padding here!", false},
      // A tail short of a block is dropped.
      {"A0A1A2A3A4A5A6A7A8A9AAABACADAEAF302102DF36699A22BC495A53DA05BCDB0102", "Secret text", false},
      // Less than a vector and a block is no data.
      {"A0A1A2A3A4A5A6A7A8A9AAABACADAEAF3021", "", false},
  };
  for (const auto& c : cases) {
    badPadding.clear();
    std::string s = FromHex(c.hex);
    decrypt.DecryptString(s, 12, 3);
    EXPECT_EQ(s, c.plain) << c.hex;
    EXPECT_EQ(badPadding, c.padded ? std::vector<int32_t>{} : std::vector<int32_t>{12}) << c.hex;
    const std::string bytes = FromHex(c.hex);
    std::vector<uint8_t> stream(bytes.begin(), bytes.end());
    decrypt.DecryptData(stream, 12, 3);
    EXPECT_EQ(std::string(stream.begin(), stream.end()), c.plain);
  }
}

// Real dictionaries of the corpus's AES files; the keys are what qpdf --show-encryption-key
// gives with the same passwords.
TEST(CryptAES, RealFilesOpenWithTheirPasswords) {
  const struct {
    const char* name;
    DictShape dict;
    V5Entries v5;
    std::string id;  // bytes of /ID[0]
    const char* user;
    const char* owner;
    const char* key;
  } cases[] = {
      {"pdfium_encrypted",
       {4, 4, 128, "f4dac5619702f34666f7e8e1af03e4660072a021cdf7ec908bdb3c78f9c9633c",
        "3a15f3b2387a77be7080464022951ed100000000000000000000000000000000", -3392, "cf-aes"},
       {},
       FromHex("1b0fd0f5e29ad84dbf67775e9e3b009f"), "1234", "5678", "4A9D7EFAACD921559D32EBD68FFCB782"},
      // /U of 16 bytes and a literal /ID.
      {"qpdf_short-O-U",
       {4, 4, 128, "e9aa816e7e5861b853c9259303e9cbd1135453cc10e93f73a5c740de28649a75",
        "82f858c956fc27a1d051b09b9fb19b72", -4, "cf-aes"},
       {},
       "5e72c1f40c8d84a2", "19723102477", "19723102477", "C2D332AC7C641021D32D21771469C237"},
      {"pdfminer_aes-256 (revision 5)",
       {5, 5, 256, "c57e3c2eda16be5b842ec6de91316f7d1893df7a06159f4e9bc331dcfca1cbb6d73873ec17f7c10e27b8d2cf38c972c7",
        "b3ec8a57ee4c3f2cbc4226e0590188d8e956ce332b67f8ad1ab75537e5efb49558881c7cf9badf3bb407b2135433f9bc", -4,
        "cf-aesv3"},
       {"5bce31c2255a315180dc0e944879d5de2d62e3230f4cbf0a36d3b82b51fa50e7",
        "79d14e4809c35d601061bdd8c654c3cd7d49d051ad21c4c309043903e2f71f08", "570003d1b373c91d135899a5c48137fd"},
       "", "baz", "foo", "5250E6E3F7B07091B017F36F36312D5574F84B32F2DE934A42C0F8068928D0AA"},
      {"pdfjs_issue6010_1",
       {5, 6, 256, "0410e9f436e2d628ab5423b8f383898f136b365051e98e920a9ae8e3604094b51a24efbe4bfeeb9d1065c0f9204684e2",
        "efe9cb2034c934f59a7e3e57856e542dfb3a84c6f87d7c58537666322c1738df9b5e972cea7d77a387330cdcddfd0790", -4,
        "cf-aesv3"},
       {"c53fd14f839debe69d281e51b81335460bfde952135682c64ad2ff2c1c5659f6",
        "4562ee6c70b74bc3357fb1504caddcfac9030146714915f6443c9d803ef83cf4", "d7ecc0ef11a70d1031d60fe96f188b75"},
       "", "abc", "owner", "058BA1AAB4F7ACD58C8CFA156680A3D525B916518794DA7E8B2E360B6ED04F9A"},
      // "/O" and "/U" of 127 bytes, zeros after the 48 that count.
      {"qpdf_enc-XI-R6",
       {5, 6, 256,
        "3dec4da2ebc9ce7f36a48ebb50c59692097cc73e60c02dd697ede933130337eb5d1eabe88863dd415f73175c9aa777be" +
            std::string(158, '0'),
        "2fa09f7750947a91aa85899f3197fd0d88ff8ad743c962030fa4ae61662bcf632bd3a8dad2ea7bd18e696b705ee7bf5f" +
            std::string(158, '0'),
        -3076, "cf-aesv3"},
       {"dbe23f220ee17fc7079a80fc8df67c450bb5f69d488ca607315e7102a3235aec",
        "03506811fe2544e3bbc945feaa9bba18fb4a96961e1056b20397cc3b6891d6cd", "711a56949c0f9f11307e8405063bcfed"},
       "", "view", "master", "99B8C28EAEEBAC3FB51195EA44E41C7B9705CC982344ADA5851DAF808EB7D42F"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto dict = MakeDict(c.dict, c.v5);
    std::unique_ptr<TksPDFArrayObject> id;
    if (!c.id.empty()) {
      id = std::make_unique<TksPDFArrayObject>();
      id->Add(std::make_unique<TksPDFStringObject>("<" + Hex(c.id) + ">", true));
    }
    for (const char* password : {c.user, c.owner}) {
      TksPDFDecrypt decrypt;
      decrypt.ReadEncryptionData(*dict, id.get());
      TksPDFEncryptionSettings settings;
      ASSERT_TRUE(decrypt.AuthenticateBytes(settings, password)) << password;
      EXPECT_EQ(decrypt.IsOwner, std::string(password) == c.owner);
      EXPECT_EQ(Hex(kscrypt::View(decrypt.Key.data(), static_cast<size_t>(decrypt.KeyLength))), c.key);
      EXPECT_FALSE(decrypt.PermsMismatch);
      TksPDFEncryptionSettings unused;
      EXPECT_FALSE(decrypt.AuthenticateBytes(unused, "wrong"));
    }
  }
}

// New keys for the AES levels: the dictionary names the method, both passwords open it
// (a Unicode one at AES-256), and what the handler encrypts decrypts again.
TEST(CryptAES, NewKeysOpenAndRoundTrip) {
  for (auto level : {elAES128, elAES256}) {
    SCOPED_TRACE(int(level));
    const std::u16string user = level == elAES256 ? u"\u043F\u0430\u0440\u043E\u043B\u044C" : u"Gast";
    TksPDFEncryptionSettings settings;
    settings.SetLevel(level);
    settings.SetOwnerPassword("Chef");
    settings.SetUserPassword(level == elAES256 ? ksplatform::Utf16ToUtf8(user) : "Gast");
    settings.SetUserPermissions({AllowPrint, AllowFormFill});
    TksPDFEncryption handler("Output1.pdf", settings, "D:2020");
    auto dict = handler.BuildEncryptionDictionary();
    const std::string text = ObjectToText(dict.get());
    if (level == elAES128) {
      EXPECT_THAT(text, testing::EndsWith("/P -3644\r\n/V 4\r\n/R 4\r\n/Length 128\r\n/CF <<\r\n/StdCF <<\r\n"
                                          "/CFM /AESV2\r\n/AuthEvent /DocOpen\r\n/Length 16\r\n>>\r\n>>\r\n"
                                          "/StmF /StdCF\r\n/StrF /StdCF\r\n>>"));
    } else {
      EXPECT_THAT(text, testing::HasSubstr("/P -3644\r\n/V 5\r\n/R 6\r\n/Length 256\r\n/CF <<\r\n/StdCF <<\r\n"
                                           "/CFM /AESV3\r\n/AuthEvent /DocOpen\r\n/Length 32\r\n>>\r\n>>\r\n"
                                           "/StmF /StdCF\r\n/StrF /StdCF\r\n/OE <"));
      EXPECT_EQ(AsString(dict->Lookup("/O"))->Bytes().size(), 48u);
      EXPECT_EQ(AsString(dict->Lookup("/UE"))->Bytes().size(), 32u);
      EXPECT_EQ(AsString(dict->Lookup("/Perms"))->Bytes().size(), 16u);
    }
    for (const auto& [typed, owner] : {std::pair{user, false}, std::pair{std::u16string(u"Chef"), true}}) {
      TksPDFDecrypt decrypt;
      decrypt.ReadEncryptionData(*dict, handler.BuildIDArray().get());
      TksPDFEncryptionSettings opened;
      ASSERT_TRUE(decrypt.Authenticate(opened, typed));
      EXPECT_EQ(decrypt.IsOwner, owner);
      EXPECT_FALSE(decrypt.PermsMismatch);
      EXPECT_EQ(decrypt.Level, level);
      EXPECT_EQ(opened.UserPermissions(), (TksUserPermissions{AllowPrint, AllowFormFill}));
      for (const std::string& plain : {std::string(), std::string("x"), std::string(16, 'b'), std::string(1000, '\0')}) {
        std::string s = handler.Encrypt(plain, 42);
        EXPECT_EQ(s.size(), 16 + (plain.size() / 16 + 1) * 16);  // vector, then padded to whole blocks
        decrypt.DecryptString(s, 42, 0);
        EXPECT_EQ(s, plain);
      }
      TksPDFDictObject streamDict;
      std::vector<uint8_t> stream;
      const std::string data = handler.Encrypt("stream data", 9, 0, &streamDict);
      stream.assign(data.begin(), data.end());
      decrypt.DecryptData(stream, 9, 0, &streamDict);
      EXPECT_EQ(std::string(stream.begin(), stream.end()), "stream data");
    }
    // Each object's vector is new: the same text never encrypts to the same bytes.
    EXPECT_NE(handler.Encrypt("same", 1), handler.Encrypt("same", 1));
  }
}

// An AES source keeps its dictionary exactly: every entry the passwords were checked
// against stays, whichever password opened it.
TEST(CryptAES, SourceDictionaryIsWrittenBackAsItIs) {
  for (int revision : {6, 5}) {
    auto dict = GeneratedV5(revision);
    dict->AddName("/SubFilter", "/Kept");
    for (const char* password : {"u", "o"}) {
      TksPDFDecrypt source;
      source.ReadEncryptionData(*dict, nullptr);
      TksPDFEncryptionSettings settings;
      ASSERT_TRUE(source.AuthenticateBytes(settings, password));
      TksPDFEncryption handler(source);
      EXPECT_EQ(ObjectToText(handler.BuildEncryptionDictionary().get()), ObjectToText(dict.get()));
      EXPECT_EQ(handler.BuildIDArray(), nullptr);
      EXPECT_EQ(handler.OutputLevel(), elAES256);
      std::string s = handler.Encrypt("Hello", 7);
      source.DecryptString(s, 7, 0);
      EXPECT_EQ(s, "Hello");
    }
  }
}

// The owner of an AES-256 file changes its permissions and owner password without
// knowing the user password: the user's part of the keys stays, so it still opens.
TEST(CryptAES, OwnerChangesKeepTheUnknownUserPassword) {
  for (int revision : {6, 5}) {
    auto dict = GeneratedV5(revision);
    TksPDFDecrypt source;
    source.ReadEncryptionData(*dict, nullptr);
    TksPDFEncryptionSettings settings;
    ASSERT_TRUE(source.AuthenticateBytes(settings, "o"));
    ASSERT_FALSE(source.UserPasswordKnown);
    settings.SetOwnerPassword("new owner");
    settings.SetUserPermissions({AllowCopy});
    TksPDFEncryption handler(source, settings);
    auto written = handler.BuildEncryptionDictionary();
    EXPECT_EQ(AsString(written->Lookup("/U"))->Bytes(), AsString(dict->Lookup("/U"))->Bytes());
    EXPECT_EQ(AsString(written->Lookup("/UE"))->Bytes(), AsString(dict->Lookup("/UE"))->Bytes());
    EXPECT_EQ(ObjectToText(written->Lookup("/R")), std::to_string(revision));
    for (const auto& [password, owner] : {std::pair{"u", false}, std::pair{"new owner", true}}) {
      TksPDFDecrypt reopened;
      reopened.ReadEncryptionData(*written, nullptr);
      TksPDFEncryptionSettings again;
      ASSERT_TRUE(reopened.AuthenticateBytes(again, password)) << password;
      EXPECT_EQ(reopened.IsOwner, owner);
      EXPECT_FALSE(reopened.PermsMismatch);
      EXPECT_EQ(reopened.Key, source.Key);
      EXPECT_EQ(again.UserPermissions(), TksUserPermissions{AllowCopy});
    }
    TksPDFDecrypt old;
    old.ReadEncryptionData(*written, nullptr);
    std::string unused;
    EXPECT_EQ(old.CheckOwnerPassword("o", unused), -1);
  }
}

// Embedded files follow "/EFF", metadata "/EncryptMetadata", cross-reference streams
// nothing, other streams "/StmF".
TEST(CryptAES, StreamMethodsByKind) {
  auto dict = GeneratedV5(6);
  auto none = std::make_unique<TksPDFDictObject>();
  none->AddName("/CFM", "/None");
  AsDict(dict->Lookup("/CF"))->AddObject("/Files", std::move(none));
  dict->AddName("/EFF", "/Files");
  dict->SetName("/StrF", "/Identity");
  dict->AddObject("/EncryptMetadata", std::make_unique<TksPDFBooleanObject>(false));
  TksPDFDecrypt decrypt;
  decrypt.ReadEncryptionData(*dict, nullptr);
  const std::pair<const char*, kscrypt::TksCryptMethod> cases[] = {
      {"/Page", kscrypt::cmAESV3}, {"/EmbeddedFile", kscrypt::cmIdentity}, {"/Metadata", kscrypt::cmIdentity},
      {"/XRef", kscrypt::cmIdentity}};
  for (const auto& [type, method] : cases) {
    TksPDFDictObject d;
    d.AddName("/Type", type);
    EXPECT_EQ(decrypt.StreamMethodFor(&d), method) << type;
  }
  EXPECT_FALSE(decrypt.AreStringsEncrypted());
  dict->SetName("/EFF", "/Missing");
  TksPDFDecrypt other;
  EXPECT_THAT([&] { other.ReadEncryptionData(*dict, nullptr); },
              ThrowsMessage<Exception>(StrEq("Unsupported encryption method (Missing)")));
}

}  // namespace
