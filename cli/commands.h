// The command-line converter's commands.
#pragma once
#include <string>

struct TksCliOptions {
  std::string input, output;
  std::string pdfVersion;     // "" keeps the version the input declares
  std::string compress;       // "", "flate" or "runlength"
  int compressionLevel = 2;   // 0..3
  std::string password;       // UTF-8
  bool hasPassword = false;
  bool progress = false;
  bool quiet = false;
};

class TksCustomPDFDocument;
// Installs an OnPassword handler that offers the given password once.
void InstallPasswordHandler(TksCustomPDFDocument& document, const TksCliOptions& options);
// Prints why a loaded document is not open (encrypted without a working password, or not
// read) and returns true; false when it is open.
bool ReportNotOpened(const TksCustomPDFDocument& document, const TksCliOptions& options);
// "none", "RC4-40", "RC4-128" (or "RC4" for other key lengths).
const char* EncryptionText(const TksCustomPDFDocument& document);

// Each returns the process exit code: 0 success, 3 success with warnings, 2 failure.
int RunInfo(const TksCliOptions& options);
int RunConvert(const TksCliOptions& options);
