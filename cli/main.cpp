// pagewright-convert: the engine without a display.
#include <cstdio>
#include <cstring>
#include <new>
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
    "  --threads=N              threads that compress streams (default: one per core;\n"
    "                           the output is the same for any N)\n"
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
    "  --stamp=TEXT [--pages=RANGE] [--font=FACE] [--size=PT] [--style=bold,italic,\n"
    "          underline,strikeout] [--color=#RRGGBB|NAME] [--outline-color=...]\n"
    "          [--render-mode=0..7] [--angle=DEG] [--opacity=0..100]\n"
    "          [--halign=left|center|right|x] [--valign=top|middle|bottom|y] [--x=N]\n"
    "          [--y=N] [--underlay] [--vertical] [--encoding=winansi|macroman|standard]\n"
    "          [--embed=none|full|subset] [--charset=auto|NAME] [--var=NAME=VALUE]... --\n"
    "                           draw TEXT on the pages (default Arial 12 pt, top left, on\n"
    "                           top); placeholders <%PageNo%>, <%TotPage%>, <%ShortDate%>,\n"
    "                           <%LongDate%>, <%ShortTime%>, <%LongTime%>, <%Title%>,\n"
    "                           <%Author%>, <%Subject%>, <%Creator%>, <%NAME%> from --var;\n"
    "                           \\n in TEXT starts a new line. May be given more than once\n"
    "  --stamp-image=FILE [--pages=RANGE] [--halign=...] [--valign=...] [--x=N] [--y=N]\n"
    "          [--width=N] [--height=N] [--angle=DEG] [--opacity=0..100] [--underlay] --\n"
    "                           draw a picture (PNG, JPEG, BMP, GIF, TIFF, ICO, SVG) on the\n"
    "                           pages, at its pixels at 96 per inch unless sized in the unit\n"
    "  --formatted-text=MARKUP [--pages=RANGE] [--x=N] [--y=N] --\n"
    "                           draw text with <B>, <I>, <U>, <StrikeOut> and <FONT SIZE=\n"
    "                           COLOR= FACE= CHARSET=> tags as runs on one line from x, y\n"
    "                           (the unit; from the left and top)\n"
    "  --page-info[=RANGE]      with --info: 'page N: width W height H box X1 Y1 X2 Y2\n"
    "                           rotate R' for each page\n"
    "  --unit=U                 pixels (96 per inch), points (default), inches, mm, twips:\n"
    "                           the unit of --page-info, --offset, --x, --y\n"
    "\n"
    "Document settings (as the settings dialog sets them):\n"
    "  --title=TEXT --subject=TEXT --author=TEXT --keywords=TEXT --creator=TEXT\n"
    "                           document information (UTF-8); only those given change\n"
    "  --page-layout=L          none, single-page, one-column, two-column-left,\n"
    "                           two-column-right (or 0-4)\n"
    "  --page-mode=M            none, use-outlines, use-thumbs, full-screen,\n"
    "                           use-attachments (or 0-4)\n"
    "  --viewer-prefs=LIST      set viewer preferences: hide-toolbar, hide-menubar,\n"
    "                           hide-window-ui, fit-window, center-window, display-doc-title\n"
    "  --clear-viewer-prefs=LIST  clear them\n"
    "  --open-after-save        open OUTPUT with xdg-open once it is written\n"
    "  --encrypt=40|128|aes128|aes256 [--user-password=PW] [--owner-password=PW]\n"
    "          [--allow=LIST|all|none]\n"
    "                           write OUTPUT encrypted with RC4 at 40 or 128 bits or with\n"
    "                           AES (passwords in UTF-8; only characters of Windows-1252\n"
    "                           but with aes256); LIST of print, modify, copy,\n"
    "                           annotation, form-fill, accessibility, document-assembly,\n"
    "                           high-resolution-printing\n"
    "  --decrypt                write OUTPUT unencrypted (needs the owner password)\n"
    "\n"
    "\n"
    "Many files (--batch):\n"
    "  pagewright-convert --batch [--jobs=N] [--list=FILE] [--report=FILE] [--timeout=SECONDS]\n"
    "      [--memory-limit=MIB] [--converter=PROGRAM] [options] INPUT... -o OUTDIR\n"
    "                           converts every INPUT file, every *.pdf under an INPUT\n"
    "                           folder and every file named in a list (a name a line) with\n"
    "                           the same options into OUTDIR, keeping relative paths; N at\n"
    "                           once (default: the number of cores), each in a process of\n"
    "                           its own, stopped after SECONDS (default 600) or past MIB\n"
    "                           beyond the input's size (default 2048). A JSON line per\n"
    "                           file goes to FILE (default OUTDIR/pagewright-batch.jsonl);\n"
    "                           run again, it converts only what is not done yet\n"
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

// Reads the arguments and runs what they ask for; with checkOnly, reads them only and
// gives 0 for a conversion they would run (usage errors give 1 with their message).
int ParseAndRun(int argc, char** argv, bool checkOnly) {
  TksCliOptions options;
  bool info = false;
  std::string positional[2];
  int positionals = 0;
  // The --add-content group being read: its options follow it up to "--".
  TksContentOption* group = nullptr;
  // The --stamp and --stamp-image groups being read, likewise.
  TksStampOption* stamp = nullptr;
  TksImageStampOption* imageStamp = nullptr;
  TksFormattedTextOption* formatted = nullptr;
  bool transitionDetails = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* rest = nullptr;
    if (formatted) {
      if (std::strcmp(a, "--") == 0) {
        formatted = nullptr;
        continue;
      }
      // The unit is the document's; it may be given here, where x and y are.
      if (StartsWith(a, "--unit=", &rest)) {
        options.unit = UnitFromText(rest);
        if (options.unit < 0) return UsageError(std::string("unknown unit '") + rest + "' (pixels, points, inches, mm, twips)");
        continue;
      }
      std::optional<std::string> error = ParseFormattedTextOption(*formatted, a);
      if (!error) {
        if (a[0] != '-' || a[1] != '-') return UsageError("the options of --formatted-text end with --");
        return UsageError(std::string("'") + a + "' is not an option of --formatted-text; end its options with --");
      }
      if (!error->empty()) return UsageError(*error);
      continue;
    }
    if (imageStamp) {
      if (std::strcmp(a, "--") == 0) {
        imageStamp = nullptr;
        continue;
      }
      std::optional<std::string> error = ParseStampImageOption(*imageStamp, a);
      if (!error) {
        if (a[0] != '-' || a[1] != '-') return UsageError("the options of --stamp-image end with --");
        return UsageError(std::string("'") + a + "' is not an option of --stamp-image; end its options with --");
      }
      if (!error->empty()) return UsageError(*error);
      continue;
    }
    if (stamp) {
      if (std::strcmp(a, "--") == 0) {
        stamp = nullptr;
        continue;
      }
      std::optional<std::string> error = ParseStampOption(*stamp, a);
      if (!error) {
        if (a[0] != '-' || a[1] != '-') return UsageError("the options of --stamp end with --");
        return UsageError(std::string("'") + a + "' is not an option of --stamp; end its options with --");
      }
      if (!error->empty()) return UsageError(*error);
      continue;
    }
    if (group) {
      if (std::strcmp(a, "--") == 0) {
        group = nullptr;
      } else if (StartsWith(a, "--pages=", &rest)) {
        group->pages = rest;
      } else if (std::strcmp(a, "--underlay") == 0) {
        group->underlay = true;
      } else if (StartsWith(a, "--opacity=", &rest)) {
        std::optional<double> v = NumberOption(rest);
        if (!v || *v < 0 || *v > 100)
          return UsageError(std::string("--opacity must be a number of percent, 0..100, not '") + rest + "'");
        group->opacity = *v;
      } else if (StartsWith(a, "--offset=", &rest)) {
        const char* comma = std::strchr(rest, ',');
        std::optional<double> x = comma ? NumberOption(std::string(rest, comma).c_str()) : std::nullopt;
        std::optional<double> y = comma ? NumberOption(comma + 1) : std::nullopt;
        if (!x || !y) return UsageError(std::string("--offset must be X,Y (two numbers), not '") + rest + "'");
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
    } else if (StartsWith(a, "--threads=", &rest)) {
      char* end = nullptr;
      const long n = std::strtol(rest, &end, 10);
      if (!*rest || *end || n < 1 || n > 64) return UsageError("--threads takes a number of 1 to 64");
      options.threads = static_cast<int32_t>(n);
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
    } else if (StartsWith(a, "--formatted-text=", &rest)) {
      if (!*rest) return UsageError("--formatted-text needs a text");
      options.formattedTexts.emplace_back();
      options.formattedTexts.back().markup = rest;
      formatted = &options.formattedTexts.back();
    } else if (StartsWith(a, "--stamp-image=", &rest)) {
      if (!*rest) return UsageError("--stamp-image needs a picture file");
      options.imageStamps.emplace_back();
      options.imageStamps.back().file = rest;
      imageStamp = &options.imageStamps.back();
    } else if (StartsWith(a, "--stamp=", &rest)) {
      if (!*rest) return UsageError("--stamp needs a text");
      options.stamps.emplace_back();
      options.stamps.back().text = rest;
      stamp = &options.stamps.back();
    } else if (std::optional<std::string> error = ParseDocumentSettingsOption(options.settings, a)) {
      if (!error->empty()) return UsageError(*error);
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
  if (stamp) return UsageError("the options of --stamp end with --");
  if (imageStamp) return UsageError("the options of --stamp-image end with --");
  if (formatted) return UsageError("the options of --formatted-text end with --");
  if (transitionDetails && !options.hasTransition)
    return UsageError("--transition-duration and --transition-pages go with --transition=EFFECT");
  if (std::string error = CheckDocumentSettings(options.settings); !error.empty()) return UsageError(error);
  // Lengths are known in points only now: --unit may follow the groups.
  if (std::string error = CheckReach(options); !error.empty()) return UsageError(error);
  if (options.pageInfo) info = true;
  // An empty name is what an unset shell variable gives: never a file meant.
  if (info) {
    if (options.hasTransition || !options.contents.empty() || !options.stamps.empty() ||
        !options.imageStamps.empty() || !options.formattedTexts.empty())
      return UsageError("--info changes no file: --transition, --add-content and --stamp need an output");
    if (options.settings.Any()) return UsageError("--info changes no file: the document settings need an output");
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
  if (checkOnly) return 0;
  return RunConvert(options);
}

}  // namespace

int main(int argc, char** argv) {
  const auto run = [](std::vector<std::string>& args, bool checkOnly) {
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return ParseAndRun(static_cast<int>(args.size()), pointers.data(), checkOnly);
  };
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--batch") == 0)
      return RunBatch(
          argc, argv,
          [&](const std::vector<std::string>& conversionArgs) {
            // The options every file gets, read as for one conversion of a stand-in pair.
            std::vector<std::string> args{argv[0]};
            args.insert(args.end(), conversionArgs.begin(), conversionArgs.end());
            args.insert(args.end(), {"in.pdf", "out.pdf"});
            return run(args, true);
          },
          [&](std::vector<std::string>& args) { return run(args, false); });
  try {
    return ParseAndRun(argc, argv, false);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "pagewright-convert: out of memory\n");
    return 2;
  }
}
