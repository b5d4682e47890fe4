// Encrypted documents end to end inside the engine: a save under the encryption settings,
// the password loop of the load, the states a password leaves, and what an encrypted
// save writes for each object.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>

#include "document/ksCstPDFDoc.h"
#include "ksFixture.h"
#include "base/ksPDFResStrs.h"

namespace fs = std::filesystem;
using ksfixture::PdfBuilder;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

// Bytes no code page keeps: zeros, controls, high bytes, both parentheses.
const std::string kBinary("\x00\x01(\xFF\x80)\\\r\n\xE9", 10);
const std::string kContent = "BT /F1 12 Tf 72 720 Td (Hello, encrypted world) Tj ET";

// An unencrypted source with a binary hexadecimal string, a literal with escapes and a
// content stream.
std::string PlainSource() {
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /PieceInfo 5 0 R >>")
      .Stream(4, "", kContent)
      .Object(5, "<< /Binary <" + BytesToHexDigits(kBinary) + "> /Text (a \\(b\\) c) /Empty () >>")
      .Object(6, "<< /Title (Plain) /CreationDate (D:20240102030405Z) >>");
  return b.Build("/Root 1 0 R /Info 6 0 R");
}

struct Protection {
  TksPDFEncryptionLevel level;
  std::string user, owner;
  TksUserPermissions permissions;
};

// The source saved again under the given protection.
std::string EncryptedFile(const std::string& name, const Protection& p) {
  const std::string source = ksfixture::WriteTempFile(name + "-plain.pdf", PlainSource());
  TksCustomPDFDocument doc;
  doc.ShowSetupDialog = false;
  EXPECT_TRUE(doc.LoadFromFile(source));
  doc.Encryption().SetEnabled(true);
  doc.Encryption().SetLevel(p.level);
  doc.Encryption().SetUserPassword(p.user);
  doc.Encryption().SetOwnerPassword(p.owner);
  doc.Encryption().SetUserPermissions(p.permissions);
  const std::string output = fs::path(source).parent_path() / (name + ".pdf");
  doc.SaveToFile(output, 2);
  return output;
}

// The page's /PieceInfo dictionary and the content bytes of a loaded document.
const TksPDFDictObject* Piece(TksCustomPDFDocument& doc) {
  auto* page = AsDict(doc.Pages.at(0)->Value.get());
  return AsDict(doc.Store->Dereference(page->Lookup("/PieceInfo")));
}

std::string ContentBytes(TksCustomPDFDocument& doc) {
  auto* page = AsDict(doc.Pages.at(0)->Value.get());
  auto* stream = AsStream(doc.Store->Dereference(page->Lookup("/Contents")));
  return stream && stream->Data ? std::string(stream->Data->View()) : std::string();
}

void ExpectSourceContent(TksCustomPDFDocument& doc) {
  ASSERT_EQ(doc.PageCount(), 1);
  const TksPDFDictObject* piece = Piece(doc);
  ASSERT_TRUE(piece);
  EXPECT_EQ(AsString(piece->Lookup("/Binary"))->Bytes(), kBinary);
  EXPECT_EQ(AsString(piece->Lookup("/Text"))->Bytes(), "a (b) c");
  EXPECT_EQ(AsString(piece->Lookup("/Empty"))->Bytes(), "");
  EXPECT_EQ(ContentBytes(doc), kContent);
  EXPECT_EQ(doc.Info().Title(), u"Plain");
  // Set by the save itself, and encrypted like every other string.
  EXPECT_EQ(doc.Info().Producer(), u"Kestrine Pagewright V2.5");
}

bool Open(TksCustomPDFDocument& doc, const std::string& path, const std::u16string& password) {
  doc.OnPassword = [password](TksCustomPDFDocument*, std::u16string& given, bool& cont, int tries) {
    given = password;
    cont = tries == 0;
  };
  doc.LoadFromFile(path);
  return doc.IsOpened();
}

const TksUserPermissions kPrintOnly{AllowPrint};
// Revision 2 (40 bits) has no bits for the four upper permissions: each follows the
// lower one it belongs to, so printing brings high-resolution printing.
const TksUserPermissions kPrintOnly40{AllowPrint, AllowHighResPrint};

struct OpenCase {
  const char* name;
  Protection protection;
  std::u16string password;
  bool opens, owner;
  TksUserPermissions permissions;  // what Encryption holds afterwards
};

class OpenEncrypted : public testing::TestWithParam<OpenCase> {};

TEST_P(OpenEncrypted, PasswordDecidesStateAndPermissions) {
  const OpenCase& c = GetParam();
  const std::string path = EncryptedFile(c.name, c.protection);
  TksCustomPDFDocument doc;
  EXPECT_EQ(Open(doc, path, c.password), c.opens);
  EXPECT_TRUE(doc.IsEncrypted);
  if (!c.opens) {
    EXPECT_FALSE(doc.IsLoaded);  // the handler gave up: the document is empty
    return;
  }
  ExpectSourceContent(doc);
  EXPECT_EQ(doc.IsOwner(), c.owner);
  EXPECT_TRUE(doc.Encryption().Enabled());
  EXPECT_EQ(doc.Encryption().Level(), c.protection.level);
  EXPECT_EQ(doc.Encryption().UserPermissions(), c.permissions);
  // The owner password of AES-256 does not give the user password.
  const bool userKnown = !(c.owner && c.protection.level == elAES256);
  EXPECT_EQ(doc.Encryption().UserPassword(), userKnown ? c.protection.user : "");
  if (c.owner) {
    EXPECT_TRUE(doc.Encryption().AllowChange());
    EXPECT_EQ(doc.Encryption().OwnerPassword(), c.protection.owner.empty() ? c.protection.user : c.protection.owner);
  } else {
    EXPECT_FALSE(doc.Encryption().AllowChange());
    EXPECT_EQ(doc.Encryption().OwnerPassword(), "");
    EXPECT_THAT([&] { doc.Encryption().SetEnabled(false); },
                ThrowsMessage<Exception>(StrEq("User cannot change encryption settings")));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenEncrypted,
    testing::Values(
        OpenCase{"user40", {el40bit, "u", "o", kPrintOnly}, u"u", true, false, kPrintOnly40},
        // The owner gets what "/P" grants too: a save must not lift it unasked.
        OpenCase{"owner40", {el40bit, "u", "o", kPrintOnly}, u"o", true, true, kPrintOnly40},
        OpenCase{"user128", {el128bit, "u", "o", kPrintOnly}, u"u", true, false, kPrintOnly},
        OpenCase{"owner128", {el128bit, "u", "o", kPrintOnly}, u"o", true, true, kPrintOnly},
        OpenCase{"empty-user", {el128bit, "", "o", TksUserPermissions::All()}, u"", true, false,
                 TksUserPermissions::All()},
        // Without an owner password the user password opens as owner.
        OpenCase{"no-owner", {el40bit, "u", "", kPrintOnly}, u"u", true, true, kPrintOnly40},
        // Passwords set as UTF-8 bytes open from the same text (Windows-1252 is tried first).
        OpenCase{"utf8-user", {el128bit, "p\xC3\xA4ssw\xC3\xB6rd", "\xE5\xAF\x86\xE7\xA0\x81", kPrintOnly},
                 u"p\u00e4ssw\u00f6rd", true, false, kPrintOnly},
        OpenCase{"utf8-owner", {el128bit, "p\xC3\xA4ssw\xC3\xB6rd", "\xE5\xAF\x86\xE7\xA0\x81", kPrintOnly},
                 u"\u5bc6\u7801", true, true, kPrintOnly},
        OpenCase{"ansi-user", {el40bit, "p\xE4ssw\xF6rd", "o", kPrintOnly}, u"p\u00e4ssw\u00f6rd", true, false,
                 kPrintOnly40},
        OpenCase{"wrong", {el128bit, "u", "o", kPrintOnly}, u"x", false, false, {}},
        OpenCase{"userAES128", {elAES128, "u", "o", kPrintOnly}, u"u", true, false, kPrintOnly},
        OpenCase{"ownerAES128", {elAES128, "u", "o", kPrintOnly}, u"o", true, true, kPrintOnly},
        OpenCase{"userAES256", {elAES256, "u", "o", kPrintOnly}, u"u", true, false, kPrintOnly},
        OpenCase{"ownerAES256", {elAES256, "u", "o", kPrintOnly}, u"o", true, true, kPrintOnly},
        OpenCase{"empty-userAES256", {elAES256, "", "o", TksUserPermissions::All()}, u"", true, false,
                 TksUserPermissions::All()},
        // Any text: prepared, then its UTF-8 bytes.
        OpenCase{"unicodeAES256", {elAES256, "\xD0\x96", "\xE5\xAF\x86\xE7\xA0\x81", kPrintOnly}, u"\u0416", true,
                 false, kPrintOnly},
        OpenCase{"wrongAES256", {elAES256, "u", "o", kPrintOnly}, u"U", false, false, {}}),
    [](const testing::TestParamInfo<OpenCase>& i) {
      std::string n = i.param.name;
      for (char& ch : n)
        if (ch == '-') ch = '_';
      return n;
    });

TEST(EncryptedLoad, EmptyUserPasswordOpensWithoutAHandler) {
  const std::string path = EncryptedFile("no-handler", {el128bit, "", "secret", kPrintOnly});
  TksCustomPDFDocument doc;
  EXPECT_TRUE(doc.LoadFromFile(path));
  EXPECT_TRUE(doc.IsOpened());
  EXPECT_FALSE(doc.IsOwner());
  ExpectSourceContent(doc);
}

// Without a handler a document with a user password stays parsed only; saving it would
// write still-encrypted data under a plain header, so the save refuses and writes nothing.
TEST(EncryptedLoad, UserPasswordNeededWithoutAHandler) {
  const std::string path = EncryptedFile("needs-password", {el40bit, "u", "o", kPrintOnly});
  TksCustomPDFDocument doc;
  doc.ShowSetupDialog = false;
  EXPECT_TRUE(doc.LoadFromFile(path));
  EXPECT_TRUE(doc.IsLoaded);
  EXPECT_FALSE(doc.IsOpened());
  EXPECT_EQ(doc.PageCount(), 0);
  const std::string target = fs::path(path).parent_path() / "never-written.pdf";
  fs::remove(target);
  EXPECT_THAT([&] { doc.SaveToFile(target, 2); },
              ThrowsMessage<ESaveError>(
                  StrEq("The document is encrypted and was not opened: a valid password is needed")));
  EXPECT_FALSE(fs::exists(target));
}

TEST(EncryptedLoad, HandlerIsAskedAgainUntilAPasswordWorks) {
  const std::string path = EncryptedFile("retries", {el128bit, "third", "o", kPrintOnly});
  TksCustomPDFDocument doc;
  std::vector<int> tries;
  doc.OnPassword = [&](TksCustomPDFDocument*, std::u16string& password, bool&, int t) {
    tries.push_back(t);
    password = t < 2 ? u"wrong" : u"third";
  };
  EXPECT_TRUE(doc.LoadFromFile(path));
  EXPECT_THAT(tries, testing::ElementsAre(0, 1, 2));
  ExpectSourceContent(doc);
}

// The text of object n in a saved file, from "n 0 obj" to "endobj".
std::string ObjectText(const std::string& file, int n) {
  const std::string head = "\r\n" + std::to_string(n) + " 0 obj\r\n";
  size_t at = file.find(head);
  if (at == std::string::npos) return "";
  at += head.size();
  return file.substr(at, file.find("\r\nendobj", at) - at);
}

// Every string and stream is encrypted under its own object's number; the encryption
// dictionary (written last) and the identifier are not.
TEST(EncryptedSave, StringsAndStreamsUseTheirObjectsNumbers) {
  const std::string source = ksfixture::WriteTempFile("numbers-plain.pdf", PlainSource());
  TksCustomPDFDocument doc;
  doc.ShowSetupDialog = false;
  doc.LoadFromFile(source);
  doc.Encryption().SetEnabled(true);
  doc.Encryption().SetLevel(el128bit);
  doc.Encryption().SetOwnerPassword("o");
  const std::string output = fs::path(source).parent_path() / "numbers.pdf";
  doc.SaveToFile(output, 2);
  ASSERT_TRUE(doc.Encryptor);
  const std::string file = ksfixture::ReadFile(output);

  // Find the written piece dictionary and the content stream by what they hold.
  int pieceNumber = 0, contentNumber = 0, encryptNumber = 0;
  for (int n = 1; n < 12; ++n) {
    const std::string text = ObjectText(file, n);
    if (text.find("/Binary") != std::string::npos) pieceNumber = n;
    if (text.find("stream\r\n") != std::string::npos) contentNumber = n;
    if (text.find("/Filter /Standard") != std::string::npos) encryptNumber = n;
  }
  ASSERT_GT(pieceNumber, 3);
  ASSERT_GT(contentNumber, 3);
  const std::string piece = ObjectText(file, pieceNumber);
  EXPECT_NE(piece.find("/Binary <" + BytesToHexDigits(doc.Encryptor->Encrypt(kBinary, pieceNumber)) + ">"), std::string::npos)
      << piece;
  EXPECT_NE(piece.find("/Text <" + BytesToHexDigits(doc.Encryptor->Encrypt("a (b) c", pieceNumber)) + ">"), std::string::npos);
  EXPECT_NE(piece.find("/Empty <>"), std::string::npos);
  EXPECT_NE(ObjectText(file, contentNumber).find("stream\r\n" + doc.Encryptor->Encrypt(kContent, contentNumber) +
                                                  "\r\nendstream"),
            std::string::npos);
  // The information dictionary (object 2) is encrypted under 2.
  EXPECT_NE(ObjectText(file, 2).find("/CreationDate <" +
                                     BytesToHexDigits(doc.Encryptor->Encrypt("D:20240102030405Z", 2)) + ">"),
            std::string::npos);

  // The dictionary is the last object and the trailer names it with the new identifier.
  const std::string id = BytesToHexDigits(doc.Encryptor->GetFileID());
  const std::string ownerKey = BytesToHexDigits(doc.Encryptor->GetOwnerKey());
  EXPECT_EQ(encryptNumber, pieceNumber > contentNumber ? pieceNumber + 1 : contentNumber + 1);
  EXPECT_EQ(ObjectText(file, encryptNumber + 1), "");
  EXPECT_NE(ObjectText(file, encryptNumber).find("/O <" + ownerKey + ">"), std::string::npos);
  EXPECT_NE(file.find("/ID [ <" + id + "> <" + id + "> ]\r\n/Encrypt " + std::to_string(encryptNumber) + " 0 R\r\n"),
            std::string::npos);
}

// The keys, the identifier and the encryption dictionary belong to the handler of the
// first save: a second save of the same document writes them unchanged, even after the
// owner password changed.
TEST(EncryptedSave, SecondSaveKeepsKeysAndIdentifier) {
  const std::string source = ksfixture::WriteTempFile("twice-plain.pdf", PlainSource());
  TksCustomPDFDocument doc;
  doc.ShowSetupDialog = false;
  doc.LoadFromFile(source);
  doc.Encryption().SetEnabled(true);
  doc.Encryption().SetOwnerPassword("first");
  const std::string dir = fs::path(source).parent_path();
  doc.SaveToFile(dir + "/twice-1.pdf", 2);
  doc.Encryption().SetOwnerPassword("second");
  doc.SaveToFile(dir + "/twice-2.pdf", 2);
  const std::string a = ksfixture::ReadFile(dir + "/twice-1.pdf"), b = ksfixture::ReadFile(dir + "/twice-2.pdf");
  // "/O <...>", "/U <...>" and "/ID [ ... ]" as written.
  auto matches = [](const std::string& file) {
    std::vector<std::string> found;
    for (const char* key : {"\r\n/O <", "\r\n/U <", "\r\n/ID [ <"}) {
      const size_t at = file.find(key);
      found.push_back(at == std::string::npos ? "" : file.substr(at, file.find("\r\n", at + 2) - at));
    }
    return found;
  };
  EXPECT_THAT(matches(a), testing::Each(testing::Not(testing::IsEmpty())));
  EXPECT_EQ(matches(a), matches(b));

  // And the file opens with the first owner password, not the second.
  TksCustomPDFDocument reopened;
  EXPECT_TRUE(Open(reopened, dir + "/twice-2.pdf", u"first"));
  EXPECT_TRUE(reopened.IsOwner());
}

// "/O <...>", "/U <...>", "/P ..." and "/ID [ ... ]" as a save writes them.
std::vector<std::string> SecurityLines(const std::string& file) {
  std::vector<std::string> found;
  for (const char* key : {"\r\n/O <", "\r\n/U <", "\r\n/P ", "\r\n/ID [ <"}) {
    const size_t at = file.find(key);
    found.push_back(at == std::string::npos ? "" : file.substr(at + 2, file.find("\r\n", at + 2) - at - 2));
  }
  return found;
}

struct ResaveCase {
  const char* name;
  TksPDFEncryptionLevel level;
  std::u16string password;  // the one the source is opened with
};

class Resave : public testing::TestWithParam<ResaveCase> {};

// Saved again without changed settings, an encrypted document keeps the source's "/O",
// "/U", "/P" and "/ID": the key stays the same and both passwords still open it, with
// the permissions they opened the source with.
TEST_P(Resave, KeepsTheSourcesKeysAndBothPasswords) {
  const ResaveCase& c = GetParam();
  const std::string path = EncryptedFile(std::string("resave-") + c.name, {c.level, "u", "o", kPrintOnly});
  TksCustomPDFDocument doc;
  doc.ShowSetupDialog = false;
  ASSERT_TRUE(Open(doc, path, c.password));
  const std::string again = fs::path(path).parent_path() / (std::string("resave-") + c.name + "-again.pdf");
  doc.SaveToFile(again, 2);
  const std::vector<std::string> before = SecurityLines(ksfixture::ReadFile(path));
  EXPECT_THAT(before, testing::Each(testing::Not(testing::IsEmpty())));
  EXPECT_EQ(SecurityLines(ksfixture::ReadFile(again)), before);

  const TksUserPermissions expected = c.level == el40bit ? kPrintOnly40 : kPrintOnly;
  for (const auto& [password, owner] : {std::pair{u"u", false}, std::pair{u"o", true}}) {
    TksCustomPDFDocument reopened;
    ASSERT_TRUE(Open(reopened, again, password));
    EXPECT_EQ(reopened.IsOwner(), owner);
    EXPECT_EQ(reopened.Encryption().UserPermissions(), expected);
    EXPECT_EQ(reopened.Encryption().Level(), c.level);
    ExpectSourceContent(reopened);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Resave,
                         testing::Values(ResaveCase{"user40", el40bit, u"u"}, ResaveCase{"owner40", el40bit, u"o"},
                                         ResaveCase{"user128", el128bit, u"u"},
                                         ResaveCase{"owner128", el128bit, u"o"}),
                         [](const testing::TestParamInfo<ResaveCase>& i) { return std::string(i.param.name); });

// An AES source keeps its encryption dictionary on a resave, but not a damaged "/U" that
// opened here only because its leading bytes are right: written as it stood, no other
// reader would open the output. It is written at its length from what was checked.
TEST(EncryptedSave, ADamagedUserKeyIsNotCopied) {
  const std::string path = EncryptedFile("damaged-u", {elAES128, "u", "o", kPrintOnly});
  const std::string sound = ksfixture::ReadFile(path);
  const std::string u = SecurityLines(sound)[1];  // "/U <64 hex digits>"
  ASSERT_EQ(u.size(), 4u + 64u + 1u);
  const struct {
    const char* name;
    std::string damaged;
  } cases[] = {
      {"not hexadecimal", u.substr(0, u.size() - 1) + "zz>"},
      {"longer than 32 bytes", u.substr(0, u.size() - 1) + std::string(32, '0') + ">"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = sound;
    file.replace(file.find(u), u.size(), c.damaged);
    const std::string dir = fs::path(path).parent_path();
    const std::string source = ksfixture::WriteTempFile("damaged-u-source.pdf", file);
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    ASSERT_TRUE(Open(doc, source, u"u"));
    const std::string again = dir + "/damaged-u-again.pdf";
    doc.SaveToFile(again, 2);
    EXPECT_EQ(SecurityLines(ksfixture::ReadFile(again))[1], u);
    TksCustomPDFDocument reopened;
    EXPECT_TRUE(Open(reopened, again, u"o"));
  }
}

// The owner changes the settings: the save makes new keys from them, with the new
// permissions and passwords; what was not changed stays as the source had it.
TEST(EncryptedSave, OwnerChangesMakeNewKeys) {
  const std::string path = EncryptedFile("owner-change", {el128bit, "u", "o", kPrintOnly});
  const std::string dir = fs::path(path).parent_path();
  struct Change {
    const char* name;
    std::function<void(TksPDFEncryptionSettings&)> apply;
    std::u16string user, owner;
    TksUserPermissions permissions;
  } changes[] = {
      {"permissions", [](TksPDFEncryptionSettings& s) { s.SetUserPermissions({AllowCopy}); }, u"u", u"o",
       TksUserPermissions{AllowCopy}},
      {"owner", [](TksPDFEncryptionSettings& s) { s.SetOwnerPassword("new"); }, u"u", u"new", kPrintOnly},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    ASSERT_TRUE(Open(doc, path, u"o"));
    change.apply(doc.Encryption());
    const std::string output = dir + "/owner-change-" + change.name + ".pdf";
    doc.SaveToFile(output, 2);
    EXPECT_NE(SecurityLines(ksfixture::ReadFile(output)), SecurityLines(ksfixture::ReadFile(path)));
    TksCustomPDFDocument user, owner;
    ASSERT_TRUE(Open(user, output, change.user));
    EXPECT_FALSE(user.IsOwner());
    EXPECT_EQ(user.Encryption().UserPermissions(), change.permissions);
    ASSERT_TRUE(Open(owner, output, change.owner));
    EXPECT_TRUE(owner.IsOwner());
  }
}

// An object stream of an encrypted file is decrypted under its own number before its
// objects are read; the objects inside carry no encryption of their own.
TEST(EncryptedLoad, ObjectStreamsAreDecryptedBeforeTheyAreExpanded) {
  // Build the encrypted file by hand: the key comes from a handler made for the file.
  TksPDFEncryptionSettings settings;
  settings.SetEnabled(true);
  settings.SetLevel(el128bit);
  settings.SetOwnerPassword("o");
  TksPDFEncryption handler("seed", settings, "");
  const ksfixture::ObjStm objstm = ksfixture::MakeObjStm(
      {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
       {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
       {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /PieceInfo << /Note (in clear inside) >> >>"}});
  PdfBuilder b("%PDF-1.5");
  b.Stream(4, objstm.dictEntries, handler.Encrypt(objstm.data, 4));
  std::unique_ptr<TksPDFDictObject> encrypt = handler.BuildEncryptionDictionary();
  b.Object(5, ObjectToText(encrypt.get()));
  const std::string id = "<" + BytesToHexDigits(handler.GetFileID()) + ">";
  // Objects 1 to 3 stand compressed in object 4; the stream's own entry is not needed.
  const auto offsets = b.Offsets();
  const std::string rows = ksfixture::XRefStreamRows(
      {{0, 0, 65535}, {2, 4, 0}, {2, 4, 1}, {2, 4, 2}, {1, offsets.at(4), 0}, {1, offsets.at(5), 0}}, {1, 4, 2});
  b.Stream(6, "/Type /XRef /Size 6 /W [1 4 2] /Root 1 0 R /Encrypt 5 0 R /ID [" + id + " " + id + "]", rows);
  const std::string path = ksfixture::WriteTempFile("encrypted-objstm.pdf", b.Finish(6));

  TksCustomPDFDocument doc;
  ASSERT_TRUE(doc.LoadFromFile(path));
  ASSERT_TRUE(doc.IsOpened());
  ASSERT_EQ(doc.PageCount(), 1);
  EXPECT_EQ(AsString(Piece(doc)->Lookup("/Note"))->Bytes(), "in clear inside");
}

// AES data with a wrong padding, and a /Perms that does not say /P, open with warnings
// (real files carry both). Revision 6 values of tests/support/make_crypt_vectors.py: user
// "u", file key 00..1F; /Perms says /P -3884.
TEST(EncryptedLoad, AESPaddingAndPermsFaultsAreWarnings) {
  std::array<uint8_t, 32> key;
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i);
  auto aes = [&](std::string plain, bool pad) {
    if (pad) plain.append(16 - plain.size() % 16, static_cast<char>(16 - plain.size() % 16));
    std::string out(16, '\x5A');
    out += plain;
    auto* bytes = reinterpret_cast<uint8_t*>(out.data());
    kscrypt::AesCbc(key.data(), 32, bytes, bytes + 16, out.size() - 16, true);
    return "<" + BytesToHexDigits(out) + ">";
  };
  const std::string encrypt =
      "<< /Filter /Standard /V 5 /R 6 /Length 256 /P -3904 "
      "/CF << /StdCF << /CFM /AESV3 /Length 32 >> >> /StmF /StdCF /StrF /StdCF "
      "/U <4A70B474273CC9566CF0B71B8AFFDBBB6930304B56B3C7C7DD64B5341F64E71B11111111111111112222222222222222> "
      "/UE <03AA19ED64146E9B27F848861F6484A606CC33A259196B44B359F3313894DA86> "
      "/O <416F99332091A6DAA7506B7EDE2550293E16AC240953257D046C2744D32B5D7633333333333333334444444444444444> "
      "/OE <609D30A151D19F271137BE17AE587ADAEF41DC5CC8301B9B659807B04213F0AF> "
      "/Perms <AFDA9845019E0D8C6020846DEB85AC87> >>";
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>")
      .Object(6, "<< /Title " + aes("Sixteen bytes ok", false) + " /Subject " + aes("Padded", true) + " >>")
      .Object(7, encrypt);
  const std::string path = ksfixture::WriteTempFile("aes-faults.pdf", b.Build("/Root 1 0 R /Info 6 0 R /Encrypt 7 0 R"));
  TksCustomPDFDocument doc;
  std::vector<std::string> warnings;
  doc.OnWarning = [&](TksCustomPDFDocument*, const std::string& w) { warnings.push_back(w); };
  ASSERT_TRUE(Open(doc, path, u"u"));
  EXPECT_THAT(warnings, testing::UnorderedElementsAre(
                            "The encryption dictionary's /Perms does not match its /P; the permissions are taken from /P",
                            "Object 6: its AES-encrypted data end in a wrong padding; they are kept as decrypted"));
  EXPECT_EQ(doc.Info().Title(), u"Sixteen bytes ok");
  EXPECT_EQ(doc.Info().Subject(), u"Padded");
  EXPECT_EQ(doc.Encryption().UserPermissions(), TksUserPermissions{});  // from /P -3904
}

}  // namespace
