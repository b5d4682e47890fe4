// The command-line converter's commands.
#pragma once
#include <functional>
#include <string>
#include <optional>
#include <utility>
#include <vector>

#include "content/ksPDFFont.h"

// One --add-content group: operators from a file put on pages.
struct TksContentOption {
  std::string file;
  std::string pages;        // a page range; "" for every page
  bool underlay = false;    // beneath the page's content instead of above it
  double opacity = 100;     // percent
  double offsetX = 0, offsetY = 0;  // in the options' unit
};

// One --stamp group: text stamped onto pages.
struct TksStampOption {
  std::string text;  // UTF-8; "\n" is a line feed
  std::string pages;
  std::string font = "Arial";
  double size = 12;
  bool bold = false, italic = false, underline = false, strikeout = false;
  TksColor color, outlineColor;
  int renderMode = 0;
  int angle = 0;
  int opacity = 100;
  int halign = 0, valign = 0;  // left/top, centre/middle, right/bottom, x/y
  double x = 0, y = 0;         // in the options' unit, from the left and top
  bool underlay = false, vertical = false;
  int encoding = 0;  // winansi, macroman, macexpert, standard, pdfdoc
  int embed = 0;     // none, full, subset
  int charset = -1;  // -1: chosen from the text
  std::vector<std::pair<std::string, std::string>> vars;
};

// One --stamp-image group: a picture stamped onto pages.
struct TksImageStampOption {
  std::string file;
  TksStampOption place;          // pages, alignment, x, y, angle, opacity, underlay
  double width = 0, height = 0;  // in the options' unit; 0: the picture's own size
};

// One --formatted-text group: text with tags drawn as runs on one line.
struct TksFormattedTextOption {
  std::string markup;  // UTF-8
  std::string pages;
  double x = 0, y = 0;  // in the options' unit, from the left and top
};

// The document settings of the command line: information texts (UTF-8; only those given
// are written), opening view, viewer preferences set and cleared, opening after the save.
struct TksDocumentSettingsOption {
  std::optional<std::string> title, subject, author, keywords, creator;
  int pageLayout = -1;  // a TksPageLayout; -1 keeps the document's
  int pageMode = -1;    // a TksPageMode; -1 keeps the document's
  unsigned setPreferences = 0, clearPreferences = 0;  // bits: 1 << position in ViewerPreferenceNames
  bool openAfterSave = false;
  // Encryption: a TksPDFEncryptionLevel, or -1 to keep the document's; passwords in UTF-8
  // as given (each kept as it is when not given); permission bits (TksUserPermissions).
  int encrypt = -1;
  bool decrypt = false;
  std::optional<std::string> userPassword, ownerPassword;
  std::optional<uint8_t> allow;
  bool Any() const {
    return title || subject || author || keywords || creator || pageLayout >= 0 || pageMode >= 0 ||
           setPreferences || clearPreferences || openAfterSave || encrypt >= 0 || decrypt || userPassword ||
           ownerPassword || allow;
  }
};

struct TksCliOptions {
  std::string input, output;
  std::string pdfVersion;     // "" keeps the version the input declares
  std::string compress;       // "", "flate" or "runlength"
  int compressionLevel = 2;   // 0..3
  std::string password;       // UTF-8
  bool hasPassword = false;
  bool progress = false;
  bool quiet = false;
  bool strictVersion = false;  // features the version does not know refuse the conversion
  bool verify = true;          // read the output back before it replaces anything
  int32_t threads = 0;         // compression threads of a save (0: one per core)
  // Page operations.
  int unit = 1;               // a TksMeasurementUnit; points unless --unit says otherwise
  bool pageInfo = false;      // --page-info: a line per page after the other --info lines
  std::string pageInfoPages;  // its range; "" for every page
  bool hasTransition = false;
  int transitionEffect = 0;   // 0..16
  double transitionDuration = 1;  // seconds
  std::string transitionPages;
  std::vector<TksContentOption> contents;
  std::vector<TksStampOption> stamps;
  std::vector<TksImageStampOption> imageStamps;
  std::vector<TksFormattedTextOption> formattedTexts;
  // Document settings, applied as the settings dialog's OK applies them.
  TksDocumentSettingsOption settings;
};

class TksCustomPDFDocument;
// Installs an OnPassword handler that offers the given password once.
void InstallPasswordHandler(TksCustomPDFDocument& document, const TksCliOptions& options);
// Prints why a loaded document is not open (encrypted without a working password, or not
// read) and returns true; false when it is open.
bool ReportNotOpened(const TksCustomPDFDocument& document, const TksCliOptions& options);
// "none", "RC4-40", "RC4-128" (or "RC4" for other key lengths).
const char* EncryptionText(const TksCustomPDFDocument& document);

// The value of a number option: a decimal number that is finite ("nan", "inf" and
// overflowing exponents are none), or none.
std::optional<double> NumberOption(const char* text);
// How far any position, offset or size of the page options may reach either way: the
// largest page there is, 200 inches.
inline constexpr double kMaxReachPoints = 14400;
// What is wrong with the positions, offsets and sizes of the page option groups, once the
// unit is known ("" when nothing).
std::string CheckReach(const TksCliOptions& options);
// --unit's names, --transition's names (or 0-16): the value, or -1 for an unknown text.
int UnitFromText(const std::string& text);
int TransitionFromText(const std::string& text);
// The transition effect names, in their order, for messages.
std::string TransitionNames();
// Applies --transition and --add-content to a loaded document; engine errors pass.
void ApplyPageOptions(TksCustomPDFDocument& document, const TksCliOptions& options);
// One option of a --stamp group: none when arg is no such option, "" when taken, else
// what is wrong with its value.
std::optional<std::string> ParseStampOption(TksStampOption& stamp, const char* arg);
std::optional<std::string> ParseStampImageOption(TksImageStampOption& stamp, const char* arg);
std::optional<std::string> ParseFormattedTextOption(TksFormattedTextOption& text, const char* arg);
// Applies the --stamp-image, --stamp and --formatted-text groups in order; engine errors pass.
void ApplyStamps(TksCustomPDFDocument& document, const TksCliOptions& options);
// --page-info's lines.
void PrintPageInfo(TksCustomPDFDocument& document, const TksCliOptions& options);

// One document-settings option: none when arg is no such option, "" when taken, else what
// is wrong with its value.
std::optional<std::string> ParseDocumentSettingsOption(TksDocumentSettingsOption& settings, const char* arg);
// What is wrong with the settings as a whole ("" when nothing).
std::string CheckDocumentSettings(const TksDocumentSettingsOption& settings);
// Writes the settings into a loaded document.
void ApplyDocumentSettings(TksCustomPDFDocument& document, const TksDocumentSettingsOption& settings);

// One conversion from its arguments (the program's name first), giving its exit status.
using TksConvertOne = std::function<int(std::vector<std::string>& args)>;
// --batch: the arguments as given; checkOptions reads the conversion options every file
// gets and gives 0 when they are right (else the exit code, its message shown);
// convertOne runs a file's conversion in the process forked for it.
int RunBatch(int argc, char** argv, const std::function<int(const std::vector<std::string>&)>& checkOptions,
             const TksConvertOne& convertOne);

// Each returns the process exit code: 0 success, 3 success with warnings, 2 failure.
int RunInfo(const TksCliOptions& options);
int RunConvert(const TksCliOptions& options);
