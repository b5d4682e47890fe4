// The security handler's password check. The input holds up to three values: the
// encryption dictionary, the trailer's /ID array and a password string; the handler reads
// the dictionary, authenticates the password (and the empty one) and decrypts a string
// and some data with the key it derived.
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
      TksPDFEncryptionSettings settings;
      settings.SetEnabled(true);
      settings.SetLevel(handler.Level);
      settings.SetUserPermissions(PermissionsFromP(handler.Revision, handler.PValue));
      if (handler.AuthenticateBytes(settings, attempt)) {
        std::string bytes(data, data + std::min<size_t>(size, 64));
        handler.DecryptString(bytes, 1, 0);
        std::vector<uint8_t> raw(data, data + size);
        handler.DecryptData(raw.data(), raw.size(), 7, 0);
        (void)handler.IsStreamEncrypted(dict);
      }
    } catch (const Exception&) {
    }
  }
  return 0;
}
