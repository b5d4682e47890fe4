// The security handler's password check. The input holds up to three values: the
// encryption dictionary, the trailer's /ID array and a password string; the handler reads
// the dictionary (any revision, RC4 or AES), authenticates the password (and the empty
// one), decrypts a string and some data with the key it derived, and encrypts with the
// source's keys what must decrypt to the same bytes again.
#include <cstdlib>
#include <string>

#include "base/ksExceptions.h"
#include "ksFuzz.h"
#include "crypt/ksPDFCrypt.h"
#include "parse/ksPDFParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ksfuzz::LimitDecoding();
  TksPDFStreamReader reader(data, size, 1);
  TksPDFObjectPtr dictValue, idValue, passwordValue;
  try {
    dictValue = reader.ParseObject();
    idValue = reader.ParseObject();
    passwordValue = reader.ParseObject();
  } catch (const Exception&) {
  }
  auto* dict = AsDict(dictValue.get());
  if (!dict) return 0;
  std::string password;
  if (auto* s = AsString(passwordValue.get())) password = s->Bytes();
  for (const std::string& attempt : {password, std::string()}) {
    try {
      TksPDFDecrypt handler;
      handler.ReadEncryptionData(*dict, AsArray(idValue.get()));
      handler.OnBadPadding = [](int32_t) {};
      TksPDFEncryptionSettings settings;
      settings.SetEnabled(true);
      settings.SetLevel(handler.Level);
      settings.SetUserPermissions(PermissionsFromP(handler.Revision, handler.PValue));
      if (handler.AuthenticateBytes(settings, attempt)) {
        std::string bytes(data, data + std::min<size_t>(size, 64));
        handler.DecryptString(bytes, 1, 0);
        std::vector<uint8_t> raw(data, data + size);
        handler.DecryptData(raw, 7, 0, dict);
        (void)handler.IsStreamEncrypted(dict);
        // What the output would hold: the source's keys and methods.
        TksPDFEncryption out(handler);
        (void)out.BuildEncryptionDictionary();
        const std::string plain(data, data + std::min<size_t>(size, 100));
        std::string round = out.Encrypt(plain, 3, 0);
        handler.DecryptString(round, 3, 0);
        if (handler.AreStringsEncrypted() && round != plain) std::abort();
      }
    } catch (const Exception&) {
    }
  }
  return 0;
}
