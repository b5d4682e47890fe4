// What both commands do about passwords: hand the one given to the engine, and explain
// a document that stayed closed.
#include <cstdio>

#include "commands.h"
#include "document/ksCstPDFDoc.h"
#include "ksPlatform.h"

void InstallPasswordHandler(TksCustomPDFDocument& document, const TksCliOptions& options) {
  if (!options.hasPassword) return;  // the engine then tries the empty password
  // The engine takes the password as text. The terminal gives UTF-8; an argument that is
  // not UTF-8 comes from a single-byte terminal and is read as its code page.
  const std::string& typed = options.password;
  std::u16string password = ksplatform::Utf8ToUtf16(typed);
  if (ksplatform::Utf16ToUtf8(password) != typed) password = ksplatform::AnsiToWide(typed);
  document.OnPassword = [password](TksCustomPDFDocument*, std::u16string& given, bool& cont, int tries) {
    // One try with the given password; a second call means it did not open the file.
    given = password;
    cont = tries == 0;
  };
}

bool ReportNotOpened(const TksCustomPDFDocument& document, const TksCliOptions& options) {
  if (document.IsOpened()) return false;
  if (document.IsEncrypted)
    std::fprintf(stderr, "pagewright-convert: %s: %s\n", options.input.c_str(),
                 options.hasPassword ? "the password given does not open this encrypted file"
                                     : "the file is encrypted: a password is needed (--password=PW)");
  else
    std::fprintf(stderr, "pagewright-convert: %s: the file could not be read\n", options.input.c_str());
  return true;
}

const char* EncryptionText(const TksCustomPDFDocument& document) {
  if (!document.IsEncrypted || !document.Decryptor) return "none";
  const TksPDFDecrypt& handler = *document.Decryptor;
  if (handler.Level == elAES256) return "AES-256";
  if (handler.Level == elAES128) return "AES-128";
  return handler.KeyLength == 5 ? "RC4-40" : handler.KeyLength == 16 ? "RC4-128" : "RC4";
}
