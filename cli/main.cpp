// pagewright-convert: the engine without a display.
#include <cstdio>
#include <cstring>
#include <string>

#include "base/ksConsts.h"
#include "commands.h"

namespace {

const char* kUsage =
    "Usage:\n"
    "  pagewright-convert [options] INPUT OUTPUT   rewrite INPUT as OUTPUT\n"
    "  pagewright-convert --info [--password=PW] FILE\n"
    "                                             show what FILE holds, one 'key: value' a line\n"
    "\n"
    "Options:\n"
    "  --pdf-version=V          1.0 ... 1.7 or 2.0 (default: the version INPUT declares)\n"
    "  --compress=flate|runlength  re-compress stream data on save\n"
    "  --compression-level=0..3    none, fastest, default, maximum (default 2)\n"
    "  --password=PW            user or owner password of an encrypted INPUT\n"
    "  --progress               show status and percentage on stderr\n"
    "  --quiet                  no warnings on stderr\n"
    "  --help                   this text\n"
    "\n"
    "Exit status: 0 success, 3 success with warnings, 2 failure, 1 wrong usage.\n";

bool StartsWith(const char* s, const char* prefix, const char** rest) {
  size_t n = std::strlen(prefix);
  if (std::strncmp(s, prefix, n) != 0) return false;
  *rest = s + n;
  return true;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "pagewright-convert: %s\n\n%s", message.c_str(), kUsage);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  TksCliOptions options;
  bool info = false;
  std::string positional[2];
  int positionals = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* rest = nullptr;
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(a, "--info") == 0) {
      info = true;
    } else if (StartsWith(a, "--pdf-version=", &rest)) {
      if (!PDFVersionFromText(rest)) return UsageError(std::string("unknown PDF version '") + rest + "'");
      options.pdfVersion = rest;
    } else if (StartsWith(a, "--compress=", &rest)) {
      if (std::strcmp(rest, "flate") != 0 && std::strcmp(rest, "runlength") != 0)
        return UsageError(std::string("unknown compression '") + rest + "'");
      options.compress = rest;
    } else if (StartsWith(a, "--compression-level=", &rest)) {
      if (std::strlen(rest) != 1 || rest[0] < '0' || rest[0] > '3')
        return UsageError(std::string("compression level must be 0..3, not '") + rest + "'");
      options.compressionLevel = rest[0] - '0';
    } else if (StartsWith(a, "--password=", &rest)) {
      options.password = rest;
      options.hasPassword = true;
    } else if (std::strcmp(a, "--progress") == 0) {
      options.progress = true;
    } else if (std::strcmp(a, "--quiet") == 0) {
      options.quiet = true;
    } else if (a[0] == '-' && a[1] == '-') {
      return UsageError(std::string("unknown option '") + a + "'");
    } else {
      if (positionals == 2) return UsageError("too many file names");
      positional[positionals++] = a;
    }
  }
  // An empty name is what an unset shell variable gives: never a file meant.
  if (info) {
    if (positionals != 1) return UsageError("--info takes one file name");
    if (positional[0].empty()) return UsageError("the file name is empty");
    options.input = positional[0];
    return RunInfo(options);
  }
  if (positionals != 2) return UsageError("give an input and an output file name");
  if (positional[0].empty()) return UsageError("the input file name is empty");
  if (positional[1].empty()) return UsageError("the output file name is empty");
  options.input = positional[0];
  options.output = positional[1];
  return RunConvert(options);
}
