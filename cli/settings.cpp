// The document settings of the command line: what the settings dialog edits, given as
// options and written into the document the way the dialog's OK writes them.
#include <cstring>
#include <string>
#include <string_view>

#include "commands.h"
#include "document/ksCstPDFDoc.h"
#include "document/ksViewerPreferenceList.h"
#include "ksPlatform.h"

namespace {

// In the order of the dialog's lists, so a position is the enumeration's value.
constexpr const char* kPageLayouts[] = {"none", "single-page", "one-column", "two-column-left", "two-column-right"};
constexpr const char* kPageModes[] = {"none", "use-outlines", "use-thumbs", "full-screen", "use-attachments"};
// In the order of TksUserPermissionsType.
constexpr const char* kPermissions[] = {"copy",      "modify",        "print",             "annotation",
                                        "form-fill", "accessibility", "document-assembly", "high-resolution-printing"};
constexpr const char* kViewerPreferences[kViewerPreferenceCount] = {"hide-toolbar", "hide-menubar",  "hide-window-ui",
                                              "fit-window",   "center-window", "display-doc-title"};

template <size_t N>
std::string Names(const char* const (&names)[N]) {
  std::string text;
  for (const char* name : names) text += (text.empty() ? "" : ", ") + std::string(name);
  return text;
}

// A name of the list, or with numbers its position as well; -1 for anything else.
template <size_t N>
int FromList(const char* const (&names)[N], std::string_view text, bool numbers = true) {
  for (size_t i = 0; i < N; ++i)
    if (text == names[i] || (numbers && text == std::to_string(i))) return static_cast<int>(i);
  return -1;
}

bool StartsWith(const char* s, const char* prefix, const char** rest) {
  const size_t n = std::strlen(prefix);
  if (std::strncmp(s, prefix, n) != 0) return false;
  *rest = s + n;
  return true;
}

// Comma-separated preference names as bits; what is wrong otherwise.
std::string PreferenceBits(const char* option, const char* list, unsigned& bits) {
  std::string_view rest(list);
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view name = rest.substr(0, comma);
    const int at = FromList(kViewerPreferences, name, false);
    if (at < 0)
      return std::string("unknown viewer preference '") + std::string(name) + "' in " + option + " (" +
             Names(kViewerPreferences) + ")";
    bits |= 1u << at;
    if (comma == std::string_view::npos) return std::string();
    rest.remove_prefix(comma + 1);
  }
}

// In the order of TksPDFEncryptionLevel.
constexpr const char* kEncryptionLevels[] = {"40", "128", "aes128", "aes256"};

// A password given in UTF-8 as the Windows-1252 bytes the RC4 and AES-128 handlers key
// on; none when a character has no byte there (it would silently become "?", locking the
// file with a password nobody typed).
std::optional<std::string> AnsiPassword(const std::string& utf8) {
  const std::u16string wide = ksplatform::Utf8ToUtf16(utf8);
  if (ksplatform::Utf16ToUtf8(wide) != utf8) return std::nullopt;
  std::string ansi = ksplatform::WideToAnsi(wide);
  if (ksplatform::AnsiToWide(ansi) != wide) return std::nullopt;
  return ansi;
}

}  // namespace

std::optional<std::string> ParseDocumentSettingsOption(TksDocumentSettingsOption& settings, const char* arg) {
  const char* rest = nullptr;
  const struct {
    const char* prefix;
    std::optional<std::string> TksDocumentSettingsOption::*field;
  } texts[] = {{"--title=", &TksDocumentSettingsOption::title},
               {"--subject=", &TksDocumentSettingsOption::subject},
               {"--author=", &TksDocumentSettingsOption::author},
               {"--keywords=", &TksDocumentSettingsOption::keywords},
               {"--creator=", &TksDocumentSettingsOption::creator}};
  for (const auto& t : texts) {
    if (!StartsWith(arg, t.prefix, &rest)) continue;
    // Bytes that are no UTF-8 would be written as replacement characters nobody typed.
    if (ksplatform::Utf16ToUtf8(ksplatform::Utf8ToUtf16(rest)) != rest)
      return std::string(t.prefix, std::strlen(t.prefix) - 1) + " is not UTF-8 text";
    settings.*t.field = rest;
    return std::string();
  }
  if (StartsWith(arg, "--page-layout=", &rest)) {
    settings.pageLayout = FromList(kPageLayouts, rest);
    if (settings.pageLayout < 0)
      return std::string("unknown page layout '") + rest + "' (0-4 or " + Names(kPageLayouts) + ")";
    return std::string();
  }
  if (StartsWith(arg, "--page-mode=", &rest)) {
    settings.pageMode = FromList(kPageModes, rest);
    if (settings.pageMode < 0) return std::string("unknown page mode '") + rest + "' (0-4 or " + Names(kPageModes) + ")";
    return std::string();
  }
  if (StartsWith(arg, "--viewer-prefs=", &rest)) return PreferenceBits("--viewer-prefs", rest, settings.setPreferences);
  if (StartsWith(arg, "--clear-viewer-prefs=", &rest))
    return PreferenceBits("--clear-viewer-prefs", rest, settings.clearPreferences);
  if (StartsWith(arg, "--encrypt=", &rest)) {
    settings.encrypt = FromList(kEncryptionLevels, rest, false);
    if (settings.encrypt < 0)
      return std::string("--encrypt takes 40 or 128 (RC4 bits), aes128 or aes256, not '") + rest + "'";
    return std::string();
  }
  if (std::strcmp(arg, "--decrypt") == 0) {
    settings.decrypt = true;
    return std::string();
  }
  for (const auto& [prefix, field] : {std::pair{"--user-password=", &TksDocumentSettingsOption::userPassword},
                                      std::pair{"--owner-password=", &TksDocumentSettingsOption::ownerPassword}}) {
    if (!StartsWith(arg, prefix, &rest)) continue;
    // Checked against the level once all options are read: --encrypt may come later.
    if (ksplatform::Utf16ToUtf8(ksplatform::Utf8ToUtf16(rest)) != rest)
      return std::string(prefix, std::strlen(prefix) - 1) + " is not UTF-8 text";
    settings.*field = rest;
    return std::string();
  }
  if (StartsWith(arg, "--allow=", &rest)) {
    if (std::strcmp(rest, "all") == 0) {
      settings.allow = TksUserPermissions::All().Bits;
    } else if (std::strcmp(rest, "none") == 0) {
      settings.allow = 0;
    } else {
      uint8_t bits = 0;
      std::string_view list(rest);
      while (true) {
        const size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        const int at = FromList(kPermissions, name, false);
        if (at < 0)
          return "unknown permission '" + std::string(name) + "' in --allow (all, none or a list of " +
                 Names(kPermissions) + ")";
        bits = static_cast<uint8_t>(bits | (1u << at));
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
      }
      settings.allow = bits;
    }
    return std::string();
  }
  if (std::strcmp(arg, "--open-after-save") == 0) {
    settings.openAfterSave = true;
    return std::string();
  }
  return std::nullopt;
}

std::string CheckDocumentSettings(const TksDocumentSettingsOption& settings) {
  if (settings.encrypt >= 0 && settings.decrypt) return "--encrypt and --decrypt exclude each other";
  if (settings.encrypt < 0 && (settings.userPassword || settings.ownerPassword || settings.allow))
    return "--user-password, --owner-password and --allow go with --encrypt=40|128|aes128|aes256";
  // AES-256 keys on the UTF-8 text itself; the others on Windows-1252 bytes.
  if (settings.encrypt != elAES256)
    for (const auto& [name, value] : {std::pair{"--user-password", &settings.userPassword},
                                      std::pair{"--owner-password", &settings.ownerPassword}})
      if (*value && !AnsiPassword(**value))
        return std::string(name) +
               " holds characters that RC4 and AES-128 encryption cannot take (only those of Windows-1252; "
               "aes256 takes any)";
  const unsigned both = settings.setPreferences & settings.clearPreferences;
  for (size_t i = 0; i < std::size(kViewerPreferences); ++i)
    if (both & (1u << i))
      return std::string("viewer preference '") + kViewerPreferences[i] +
             "' is both in --viewer-prefs and --clear-viewer-prefs";
  return std::string();
}

void ApplyDocumentSettings(TksCustomPDFDocument& document, const TksDocumentSettingsOption& settings) {
  // The dialog's order: encryption, information, opening after the save, view, preferences.
  // Settings opened with the user password are locked: changing them fails with the
  // engine's message before anything is written.
  TksPDFEncryptionSettings& encryption = document.Encryption();
  if (settings.encrypt >= 0) {
    const auto level = static_cast<TksPDFEncryptionLevel>(settings.encrypt);
    encryption.SetEnabled(true);
    encryption.SetLevel(level);
    // What is not given stays as the document has it, as the dialog's edits show it; an
    // empty owner password keeps the previous one there too. AES-256 takes the text's
    // UTF-8, the others its Windows-1252 bytes (checked when the options were read).
    const auto bytes = [&](const std::string& utf8) { return level == elAES256 ? utf8 : *AnsiPassword(utf8); };
    if (settings.ownerPassword && !settings.ownerPassword->empty())
      encryption.SetOwnerPassword(bytes(*settings.ownerPassword));
    if (settings.userPassword) encryption.SetUserPassword(bytes(*settings.userPassword));
    if (settings.allow) encryption.SetUserPermissions(TksUserPermissions::FromBits(*settings.allow).Chosen());
  }
  if (settings.decrypt) encryption.SetEnabled(false);
  TksPDFInfo& info = document.Info();
  const auto wide = [](const std::string& utf8) { return ksplatform::Utf8ToUtf16(utf8); };
  if (settings.title) info.SetTitle(wide(*settings.title));
  if (settings.subject) info.SetSubject(wide(*settings.subject));
  if (settings.author) info.SetAuthor(wide(*settings.author));
  if (settings.keywords) info.SetKeywords(wide(*settings.keywords));
  if (settings.creator) info.SetCreator(wide(*settings.creator));
  if (settings.openAfterSave) document.OpenAfterSave = true;
  // A layout or mode the lists do not name, carried from the source, stays unless one is
  // chosen; a choice (even "none") replaces it.
  if (settings.pageLayout >= 0) {
    document.PageLayout = static_cast<TksPageLayout>(settings.pageLayout);
    document.OtherPageLayout.clear();
  }
  if (settings.pageMode >= 0) {
    document.PageMode = static_cast<TksPageMode>(settings.pageMode);
    document.OtherPageMode.clear();
  }
  TksPDFViewerPreferences& preferences = document.ViewerPreferences();
  for (size_t i = 0; i < std::size(kViewerPreferences); ++i) {
    if (settings.setPreferences & (1u << i)) SetViewerPreference(preferences, static_cast<int>(i), true);
    if (settings.clearPreferences & (1u << i)) SetViewerPreference(preferences, static_cast<int>(i), false);
  }
}
