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

// Each returns the process exit code: 0 success, 3 success with warnings, 2 failure.
int RunInfo(const TksCliOptions& options);
int RunConvert(const TksCliOptions& options);
