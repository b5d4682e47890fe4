// pagewright-convert: the engine without a display.
#include <cstdio>
#include <cstring>
#include <string>

#include <optional>

#include "base/ksConsts.h"
#include "base/ksExceptions.h"
#include "commands.h"
#include "content/ksNumberText.h"

namespace {

const char* kUsage =
    "Usage:\n"
    "  pagewright-convert [options] INPUT OUTPUT   rewrite INPUT as OUTPUT\n"
    "  pagewright-convert --info [--password=PW] [--pdf-version=V] [--page-info[=RANGE]] [--unit=U] FILE\n"
    "                                             show what FILE holds, one 'key: value' a line\n"
    "\n"
    "Options:\n"
    "  --pdf-version=V          1.0 ... 1.7 or 2.0 (default: the version INPUT declares)\n"
    "  --compress=flate|runlength  re-compress stream data on save\n"
    "  --compression-level=0..3    none, fastest, default, maximum (default 2)\n"
    "  --password=PW            user or owner password of an encrypted INPUT\n"
    "  --progress               show status and percentage on stderr\n"
    "  --quiet                  no warnings on stderr\n"
    "  --strict-version         refuse (exit 2, no output) when INPUT holds features the\n"
    "                           chosen version does not know; with --info --pdf-version=V\n"
    "                           those features are listed instead\n"
    "  --no-verify              do not read the output back before it replaces OUTPUT\n"
    "  --help                   this text\n"
    "\n"
    "Pages (RANGE: \"1,3,5-12\", \"-3\", \"4-\"; all pages when not given):\n"
    "  --transition=EFFECT      presentation transition: a name or 0-16 (none, dissolve,\n"
    "                           wipe-left-to-right, ...; see README)\n"
    "  --transition-duration=SECONDS   how long it lasts (default 1)\n"
    "  --transition-pages=RANGE the pages that get it\n"
    "  --add-content=FILE [--pages=RANGE] [--underlay] [--opacity=PCT] [--offset=X,Y] --\n"
    "                           draw FILE's content operators on the pages: on top, or\n"
    "                           beneath with --underlay; PCT 0-100 (default 100); moved\n"
    "                           by X,Y in the unit. May be given more than once\n"
    "  --page-info[=RANGE]      with --info: 'page N: width W height H box X1 Y1 X2 Y2\n"
    "                           rotate R' for each page\n"
    "  --unit=U                 pixels (96 per inch), points (default), inches, mm, twips:\n"
    "                           the unit of --page-info and --offset\n"
    "\n"
    "Exit status: 0 success, 3 success with warnings, 2 failure, 1 wrong usage.\n";

bool StartsWith(const char* s, const char* prefix, const char** rest) {
  size_t n = std::strlen(prefix);
  if (std::strncmp(s, prefix, n) != 0) return false;
  *rest = s + n;
  return true;
}

// The value of a number option; none for a text that is no number.
std::optional<double> NumberOption(const char* text) {
  try {
    return StrToFloatDot(text);
  } catch (const Exception&) {
    return std::nullopt;
  }
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
  // The --add-content group being read: its options follow it up to "--".
  TksContentOption* group = nullptr;
  bool transitionDetails = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* rest = nullptr;
    if (group) {
      if (std::strcmp(a, "--") == 0) {
        group = nullptr;
      } else if (StartsWith(a, "--pages=", &rest)) {
        group->pages = rest;
      } else if (std::strcmp(a, "--underlay") == 0) {
        group->underlay = true;
      } else if (StartsWith(a, "--opacity=", &rest)) {
        std::optional<double> v = NumberOption(rest);
        if (!v) return UsageError(std::string("opacity must be a number of percent, not '") + rest + "'");
        group->opacity = *v;
      } else if (StartsWith(a, "--offset=", &rest)) {
        const char* comma = std::strchr(rest, ',');
        std::optional<double> x = comma ? NumberOption(std::string(rest, comma).c_str()) : std::nullopt;
        std::optional<double> y = comma ? NumberOption(comma + 1) : std::nullopt;
        if (!x || !y) return UsageError(std::string("offset must be X,Y, not '") + rest + "'");
        group->offsetX = *x;
        group->offsetY = *y;
      } else if (a[0] != '-' || a[1] != '-') {
        return UsageError("the options of --add-content=" + group->file + " end with --");
      } else {
        return UsageError(std::string("'") + a + "' is not an option of --add-content; end its options with --");
      }
      continue;
    }
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
    } else if (std::strcmp(a, "--strict-version") == 0) {
      options.strictVersion = true;
    } else if (std::strcmp(a, "--no-verify") == 0) {
      options.verify = false;
    } else if (std::strcmp(a, "--page-info") == 0 || StartsWith(a, "--page-info=", &rest)) {
      options.pageInfo = true;
      options.pageInfoPages = rest ? rest : "";
    } else if (StartsWith(a, "--unit=", &rest)) {
      options.unit = UnitFromText(rest);
      if (options.unit < 0) return UsageError(std::string("unknown unit '") + rest + "' (pixels, points, inches, mm, twips)");
    } else if (StartsWith(a, "--transition=", &rest)) {
      options.transitionEffect = TransitionFromText(rest);
      if (options.transitionEffect < 0)
        return UsageError(std::string("unknown transition '") + rest + "' (0-16 or " + TransitionNames() + ")");
      options.hasTransition = true;
    } else if (StartsWith(a, "--transition-duration=", &rest)) {
      std::optional<double> v = NumberOption(rest);
      if (!v) return UsageError(std::string("transition duration must be a number of seconds, not '") + rest + "'");
      options.transitionDuration = *v;
      transitionDetails = true;
    } else if (StartsWith(a, "--transition-pages=", &rest)) {
      options.transitionPages = rest;
      transitionDetails = true;
    } else if (StartsWith(a, "--add-content=", &rest)) {
      if (!*rest) return UsageError("--add-content needs a file name");
      options.contents.emplace_back();
      options.contents.back().file = rest;
      group = &options.contents.back();
    } else if (StartsWith(a, "--pages=", &rest) || std::strcmp(a, "--underlay") == 0 ||
               StartsWith(a, "--opacity=", &rest) || StartsWith(a, "--offset=", &rest)) {
      return UsageError(std::string("'") + a + "' belongs to an --add-content=FILE ... -- group");
    } else if (a[0] == '-' && a[1] == '-') {
      return UsageError(std::string("unknown option '") + a + "'");
    } else {
      if (positionals == 2) return UsageError("too many file names");
      positional[positionals++] = a;
    }
  }
  if (group) return UsageError("the options of --add-content=" + group->file + " end with --");
  if (transitionDetails && !options.hasTransition)
    return UsageError("--transition-duration and --transition-pages go with --transition=EFFECT");
  if (options.pageInfo) info = true;
  // An empty name is what an unset shell variable gives: never a file meant.
  if (info) {
    if (options.hasTransition || !options.contents.empty())
      return UsageError("--info changes no file: --transition and --add-content need an output");
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
