// Every file of the corpus through the command-line converter. Loadable files must come
// out as sound PDF of the chosen version with the same pages, the same rendering and the
// same outline items, annotations and form fields; files a correct reader refuses must
// fail cleanly, leaving no output behind, unless their damage costs nothing. qpdf,
// pdftoppm and jq are peers that check the output from outside.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ksFixture.h"
#include "ksShell.h"

namespace fs = std::filesystem;

namespace {

struct CorpusFile {
  std::string file, declaredVersion, pages, encryption, features, reader;
  int index = 0;  // among the files of its kind; picks the target version
};

std::vector<CorpusFile> Manifest() {
  std::vector<CorpusFile> files;
  std::ifstream in(std::string(PW_CORPUS_DIR) + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    if (cols.size() < 9) continue;
    files.push_back({cols[0], cols[2], cols[3], cols[6], cols[7], cols[8], 0});
  }
  return files;
}

void PrintTo(const CorpusFile& f, std::ostream* os) { *os << f.file; }

bool Loads(const CorpusFile& f) { return f.encryption == "none" && f.reader.rfind("loads", 0) == 0; }
// Damaged files a peer opens by rebuilding their cross-reference data.
bool Repairable(const CorpusFile& f) { return f.reader.find("qpdf repairs it") != std::string::npos; }
bool IsAES(const CorpusFile& f) { return f.encryption.rfind("AES", 0) == 0; }
// The manifest still calls AES files refused: they open now and are tested as encrypted files.
bool MustFail(const CorpusFile& f) {
  return f.reader.rfind("should fail cleanly", 0) == 0 && !Repairable(f) && !IsAES(f);
}

std::vector<CorpusFile> Select(bool (*pred)(const CorpusFile&)) {
  std::vector<CorpusFile> out;
  for (CorpusFile f : Manifest())
    if (pred(f)) {
      f.index = static_cast<int>(out.size());
      out.push_back(f);
    }
  return out;
}

using ksshell::Quote;
using ksshell::RunResult;
using ksshell::Shell;

// The first pages of output (up to three) render as those of source at 20 dpi; the
// pictures go to folder under stem. passwordOption is pdftoppm's ("" for none).
void ExpectSameFirstPages(const std::string& folder, const std::string& stem, const std::string& source,
                          const std::string& output, int pages, const std::string& passwordOption) {
  const int count = std::min(pages, 3);
  const std::string src = folder + "/" + stem + "s", out = folder + "/" + stem + "o";
  for (const auto& [pdf, prefix] : {std::pair{source, src}, std::pair{output, out}})
    Shell("pdftoppm -r 20 -f 1 -l " + std::to_string(count) + " " + passwordOption + " " + Quote(pdf) + " " +
          Quote(prefix) + " 2>/dev/null");
  int compared = 0;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().string();
    if (name.rfind(src + "-", 0) != 0) continue;
    EXPECT_TRUE(ksfixture::ReadFile(name) == ksfixture::ReadFile(out + name.substr(src.size())))
        << "page image " << name.substr(src.size()) << " differs";
    ++compared;
  }
  EXPECT_EQ(compared, count);
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// Pages (as found by walking the page tree, not as its /Count claims), outline items,
// annotations on the pages and form fields, as qpdf sees them.
std::string Counts(const std::string& pdf, const std::string& password = "") {
  const char* filter =
      "[(.pages | length),"
      " ([.outlines | .. | objects | select(has(\"destpageposfrom1\"))] | length),"
      " (. as $r | [$r.pages[].object as $p | ($r.qpdf[1][\"obj:\" + $p].value[\"/Annots\"]) as $a"
      "   | if $a == null then 0 elif ($a | type) == \"array\" then ($a | length)"
      "     else ($r.qpdf[1][\"obj:\" + $a].value | length) end] | add // 0),"
      " (.acroform.fields | length)] | @text";
  return Trim(Shell("qpdf --json=2 --json-key=outlines --json-key=pages --json-key=acroform --json-key=qpdf " +
                    (password.empty() ? "" : "--password=" + Quote(password) + " ") + Quote(pdf) +
                    " 2>/dev/null | jq -r " + Quote(filter))
                  .out);
}

int PagesIn(const std::string& counts) { return counts.size() > 1 ? std::atoi(counts.c_str() + 1) : 0; }

// Objects of a file and objects qpdf keeps when it rewrites it (it drops whatever
// nothing refers to): equal when the file carries no orphans. -1 when qpdf cannot.
std::pair<int, int> ObjectsAndKept(const std::string& pdf, const std::string& dir) {
  const std::string kept = dir + "/kept.pdf";
  auto objects = [](const std::string& file) {
    RunResult r = Shell("qpdf --show-xref " + Quote(file) + " 2>/dev/null | grep -c ': uncompressed'");
    return r.out.empty() ? -1 : std::atoi(r.out.c_str());
  };
  const int status = Shell("qpdf --object-streams=disable " + Quote(pdf) + " " + Quote(kept) + " 2>/dev/null").status;
  std::pair<int, int> result{objects(pdf), status == 0 || status == 3 ? objects(kept) : -1};
  fs::remove(kept);
  return result;
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "pw-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string TestName(const testing::TestParamInfo<CorpusFile>& info) {
  std::string name;
  for (char c : info.param.file) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

// What an output's pages are rendered against: the source, or where an update freed objects
// that are still referred to (poppler rebuilds the cross-reference data and brings them
// back), qpdf's reading of the source, which leaves them deleted.
std::string RenderingReference(const CorpusFile& f, const std::string& dir) {
  const std::string source = std::string(PW_CORPUS_DIR) + "/" + f.file;
  if (f.features.find("objects-freed") == std::string::npos) return source;
  const std::string reference = dir + "/reference.pdf";
  Shell("qpdf " + Quote(source) + " " + Quote(reference) + " 2>/dev/null");
  return reference;
}

const char* const kVersions[] = {"1.0", "1.1", "1.2", "1.3", "1.4", "1.5", "1.6", "1.7", "2.0"};

class ConvertLoadable : public testing::TestWithParam<CorpusFile> {};

TEST_P(ConvertLoadable, OutputIsSoundAndFaithful) {
  const CorpusFile& f = GetParam();
  const std::string source = std::string(PW_CORPUS_DIR) + "/" + f.file;
  const char* version = kVersions[f.index % 9];
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string output = dir.path() + "/out.pdf";

  RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " --quiet --pdf-version=" + version + " " + Quote(source) +
                       " " + Quote(output) + " 2>&1");
  ASSERT_TRUE(conv.status == 0 || conv.status == 3) << "exit " << conv.status << ": " << conv.out;
  ASSERT_TRUE(fs::exists(output));

  std::string bytes = ksfixture::ReadFile(output);
  EXPECT_EQ(bytes.substr(0, 11), std::string("%PDF-") + version + "\r\n%");

  // qpdf: no errors where the source has none (exit 2 means errors, 3 warnings only).
  RunResult srcCheck = Shell("qpdf --check " + Quote(source) + " 2>&1");
  RunResult outCheck = Shell("qpdf --check " + Quote(output) + " 2>&1");
  if (srcCheck.status != 2) {
    EXPECT_NE(outCheck.status, 2) << outCheck.out;
  }
  if (srcCheck.status == 0) {
    EXPECT_EQ(outCheck.status, 0) << outCheck.out;
  }
  // Nothing is written that nothing refers to.
  const auto [objects, kept] = ObjectsAndKept(output, dir.path());
  EXPECT_EQ(objects, kept) << "objects written, objects qpdf keeps";

  // The same pages, outline items, annotations and form fields; the output's /Count is
  // the number of pages its tree holds.
  const std::string srcCounts = Counts(source);
  const std::string outCounts = Counts(output);
  ASSERT_FALSE(outCounts.empty());
  EXPECT_EQ(outCounts, srcCounts) << "[pages, outline items, annotations, form fields]";
  const int pages = PagesIn(srcCounts);
  EXPECT_EQ(Trim(Shell("qpdf --show-npages " + Quote(output) + " 2>/dev/null").out), std::to_string(PagesIn(outCounts)));
  // The first three pages render to the same pixels.
  const std::string last = std::to_string(std::min(pages, 3));
  Shell("pdftoppm -r 20 -f 1 -l " + last + " " + Quote(RenderingReference(f, dir.path())) + " " +
        Quote(dir.path() + "/src") + " 2>/dev/null");
  Shell("pdftoppm -r 20 -f 1 -l " + last + " " + Quote(output) + " " + Quote(dir.path() + "/out") + " 2>/dev/null");
  int compared = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    std::string name = e.path().filename().string();
    if (name.rfind("src-", 0) != 0) continue;
    std::string a = ksfixture::ReadFile(dir.path() + "/src-" + name.substr(4));
    std::string b = ksfixture::ReadFile(dir.path() + "/out-" + name.substr(4));
    EXPECT_TRUE(a == b) << "page image " << name.substr(4) << " differs (" << a.size() << " vs " << b.size()
                        << " bytes)";
    ++compared;
  }
  EXPECT_EQ(compared, std::min(pages, 3));
}

INSTANTIATE_TEST_SUITE_P(Corpus, ConvertLoadable, testing::ValuesIn(Select(Loads)), TestName);

// Files a correct reader refuses. The converter may refuse them (exit 2, a message, no
// output left behind) or, where the damage lies in objects the document does not reach
// or in claims it does not rely on (a page tree's /Count), write a sound file.
class ConvertDamaged : public testing::TestWithParam<CorpusFile> {};

TEST_P(ConvertDamaged, FailsCleanlyOrReportsWhatItLeftOut) {
  const CorpusFile& f = GetParam();
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string output = dir.path() + "/out.pdf";
  // A hostile file must not hold the converter: timeout ends it (exit 124) after ten
  // seconds, which is far beyond what any of these files needs even under the sanitizers.
  RunResult conv = Shell("timeout -k 5 10 " + std::string(PW_CONVERT_EXE) + " " +
                         Quote(std::string(PW_CORPUS_DIR) + "/" + f.file) + " " + Quote(output) + " 2>&1 >/dev/null");
  ASSERT_NE(conv.status, 124) << "still running after 10 seconds";
  ASSERT_TRUE(conv.status == 0 || conv.status == 2 || conv.status == 3) << "exit " << conv.status << ": " << conv.out;
  if (conv.status == 2) {
    // After any warnings, one line: the program's name and the engine's message, nothing
    // of the runtime's.
    std::string failure = conv.out;
    while (failure.rfind("pagewright-convert: warning: ", 0) == 0 && failure.find('\n') != std::string::npos)
      failure.erase(0, failure.find('\n') + 1);
    EXPECT_EQ(failure.rfind("pagewright-convert: ", 0), 0u) << conv.out;
    const std::string message = Trim(failure.substr(std::min(failure.size(), std::string("pagewright-convert: ").size())));
    EXPECT_GE(message.size(), 10u) << conv.out;
    EXPECT_EQ(message.find('\n'), std::string::npos) << conv.out;
    for (const char* noise : {"std::", "terminate", "what()", "Sanitizer", "Aborted"})
      EXPECT_EQ(conv.out.find(noise), std::string::npos) << conv.out;
    EXPECT_TRUE(fs::is_empty(dir.path()));
    return;
  }
  RunResult check = Shell("qpdf --check " + Quote(output) + " 2>&1");
  EXPECT_EQ(check.status, 0) << check.out;
}

INSTANTIATE_TEST_SUITE_P(Corpus, ConvertDamaged, testing::ValuesIn(Select(MustFail)), TestName);

// The first pages of two files render to the same pixels; how many were compared.
int SameFirstPages(const std::string& reference, const std::string& output, int pages, const std::string& dir) {
  const std::string last = std::to_string(std::min(pages, 3));
  Shell("pdftoppm -r 20 -f 1 -l " + last + " " + Quote(reference) + " " + Quote(dir + "/src") + " 2>/dev/null");
  Shell("pdftoppm -r 20 -f 1 -l " + last + " " + Quote(output) + " " + Quote(dir + "/out") + " 2>/dev/null");
  int compared = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    if (name.rfind("src-", 0) != 0) continue;
    std::string a = ksfixture::ReadFile(dir + "/src-" + name.substr(4));
    std::string b = ksfixture::ReadFile(dir + "/out-" + name.substr(4));
    EXPECT_TRUE(a == b) << "page image " << name.substr(4) << " differs (" << a.size() << " vs " << b.size() << " bytes)";
    ++compared;
  }
  return compared;
}

// Damaged files that peers repair convert, say so (exit 3, or 0 where the damage lies
// where the normal read never looks), and come out sound: qpdf finds nothing it would
// not find in its own repaired copy, the counts are qpdf's reading of the source and the
// pages render as poppler (which repairs too) renders the source.
class ConvertRepaired : public testing::TestWithParam<CorpusFile> {};

TEST_P(ConvertRepaired, OutputIsSoundAndFaithful) {
  const CorpusFile& f = GetParam();
  const std::string source = std::string(PW_CORPUS_DIR) + "/" + f.file;
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string output = dir.path() + "/out.pdf";
  RunResult conv = Shell("timeout -k 5 20 " + std::string(PW_CONVERT_EXE) + " " + Quote(source) + " " +
                         Quote(output) + " 2>&1");
  ASSERT_TRUE(conv.status == 0 || conv.status == 3) << "exit " << conv.status << ": " << conv.out;
  RunResult info = Shell(std::string(PW_CONVERT_EXE) + " --quiet --info " + Quote(source) + " 2>&1");
  if (info.out.find("\nrepaired: ") != std::string::npos) {
    EXPECT_EQ(conv.status, 3);
    EXPECT_EQ(conv.out.rfind("pagewright-convert: warning: The file was damaged and has been repaired\n", 0), 0u)
        << conv.out;
  }

  const std::string repairedByQpdf = dir.path() + "/qpdf.pdf";
  Shell("qpdf " + Quote(source) + " " + Quote(repairedByQpdf) + " 2>/dev/null");
  RunResult peerCheck = Shell("qpdf --check " + Quote(repairedByQpdf) + " 2>&1");
  RunResult outCheck = Shell("qpdf --check " + Quote(output) + " 2>&1");
  EXPECT_TRUE(outCheck.status == 0 || (outCheck.status == 3 && peerCheck.status == 3)) << outCheck.out;
  fs::remove(repairedByQpdf);

  const std::string srcCounts = Counts(source);
  EXPECT_EQ(Counts(output), srcCounts) << "[pages, outline items, annotations, form fields]";
  const int pages = PagesIn(srcCounts);
  EXPECT_EQ(SameFirstPages(source, output, pages, dir.path()), std::min(pages, 3));
}

INSTANTIATE_TEST_SUITE_P(Corpus, ConvertRepaired, testing::ValuesIn(Select(Repairable)), TestName);

// A sound file damaged in the ways damage is met: each copy converts to the pages of
// the sound file, and says it was repaired.
TEST(ConvertMadeDamage, EachDamagedCopyHasTheSoundFilesPages) {
  const std::string sound = ksfixture::ReadFile(std::string(PW_CORPUS_DIR) + "/gen-objstm-disabled-classic-xref.pdf");
  ASSERT_FALSE(sound.empty());
  const size_t xref = static_cast<size_t>(ksfixture::StartXRefOf(sound));
  ASSERT_EQ(sound.compare(xref, 4, "xref"), 0);
  const size_t trailer = sound.find("trailer", xref);
  const size_t startxref = sound.rfind("startxref");
  // The offset of one entry (the fourth object's) off by some bytes.
  std::string offEntry = sound;
  {
    size_t entry = sound.find_first_of("\r\n", sound.find_first_of("\r\n", xref) + 1);
    while (sound[entry] == '\r' || sound[entry] == '\n') ++entry;
    entry += 20 * 4;
    const long long moved = std::stoll(sound.substr(entry, 10)) + 7;
    char text[24];
    std::snprintf(text, sizeof text, "%010lld", moved);
    offEntry.replace(entry, 10, text);
  }
  // The trailer's /Prev pointing at its own table.
  std::string cycle = sound;
  cycle.insert(sound.find("<<", trailer) + 2, " /Prev " + std::to_string(xref) + " ");

  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"cut in the table", sound.substr(0, xref + (trailer - xref) / 2)},
      {"cut before the table", sound.substr(0, xref)},
      {"cut after startxref", sound.substr(0, startxref + 10)},
      {"junk prepended", std::string(300, 'J') + "\n" + sound},
      {"startxref changed", sound.substr(0, startxref) + "startxref\n" + std::to_string(xref / 2) + "\n%%EOF\n"},
      {"one offset off", offEntry},
      {"a /Prev cycle", cycle},
      {"table made spaces", std::string(sound).replace(xref, trailer - xref, std::string(trailer - xref, ' '))},
  };
  const std::string reference = std::string(PW_CORPUS_DIR) + "/gen-objstm-disabled-classic-xref.pdf";
  const std::string counts = Counts(reference);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string input = dir.path() + "/damaged.pdf";
    {
      std::ofstream out(input, std::ios::binary);
      out << c.bytes;
    }
    const std::string output = dir.path() + "/out.pdf";
    RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " " + Quote(input) + " " + Quote(output) + " 2>&1");
    EXPECT_EQ(conv.status, 3) << conv.out;
    EXPECT_NE(conv.out.find("warning: "), std::string::npos);
    EXPECT_EQ(Shell("qpdf --check " + Quote(output) + " >/dev/null 2>&1").status, 0);
    EXPECT_EQ(Counts(output), counts);
    fs::remove(input);
    EXPECT_EQ(SameFirstPages(reference, output, PagesIn(counts), dir.path()), std::min(PagesIn(counts), 3));
  }
}


// Save-time compression keeps the document: same checks, pages and pixels.
class ConvertCompressed : public testing::TestWithParam<CorpusFile> {};

TEST_P(ConvertCompressed, OutputIsSoundAndRendersTheSame) {
  const CorpusFile& f = GetParam();
  const std::string source = std::string(PW_CORPUS_DIR) + "/" + f.file;
  const bool runLength = f.index % 12 == 6;
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string output = dir.path() + "/packed.pdf";
  RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " --quiet " +
                         (runLength ? "--compress=runlength " : "--compress=flate --compression-level=3 ") +
                         Quote(source) + " " + Quote(output) + " 2>&1");
  ASSERT_TRUE(conv.status == 0 || conv.status == 3) << "exit " << conv.status << ": " << conv.out;
  RunResult srcCheck = Shell("qpdf --check " + Quote(source) + " 2>&1");
  RunResult outCheck = Shell("qpdf --check " + Quote(output) + " 2>&1");
  if (srcCheck.status == 0) {
    EXPECT_EQ(outCheck.status, 0) << outCheck.out;
  }
  const auto [objects, kept] = ObjectsAndKept(output, dir.path());
  EXPECT_EQ(objects, kept) << "objects written, objects qpdf keeps";
  const std::string srcCounts = Counts(source);
  EXPECT_EQ(Counts(output), srcCounts);
  const std::string last = std::to_string(std::min(PagesIn(srcCounts), 3));
  Shell("pdftoppm -r 20 -f 1 -l " + last + " " + Quote(RenderingReference(f, dir.path())) + " " +
        Quote(dir.path() + "/src") + " 2>/dev/null");
  Shell("pdftoppm -r 20 -f 1 -l " + last + " " + Quote(output) + " " + Quote(dir.path() + "/out") + " 2>/dev/null");
  for (const auto& e : fs::directory_iterator(dir.path())) {
    std::string name = e.path().filename().string();
    if (name.rfind("src-", 0) != 0) continue;
    EXPECT_TRUE(ksfixture::ReadFile(dir.path() + "/src-" + name.substr(4)) ==
                ksfixture::ReadFile(dir.path() + "/out-" + name.substr(4)))
        << "page image " << name.substr(4) << " differs";
  }
}

std::vector<CorpusFile> EverySixthLoadable() {
  std::vector<CorpusFile> out;
  for (const CorpusFile& f : Select(Loads))
    if (f.index % 6 == 0) out.push_back(f);
  return out;
}

INSTANTIATE_TEST_SUITE_P(Corpus, ConvertCompressed, testing::ValuesIn(EverySixthLoadable()), TestName);

// ---- encrypted files ----

bool IsRC4(const CorpusFile& f) { return f.encryption.rfind("RC4", 0) == 0 && !MustFail(f); }

// A password of the manifest's encryption column ("user=view owner=master", user="",
// owner=? when unknown); empty optional when unknown. Given as UTF-8, as on a terminal.
std::optional<std::string> ManifestPassword(const CorpusFile& f, const std::string& role) {
  const std::string key = " " + role + "=";
  size_t at = f.encryption.find(key);
  if (at == std::string::npos) return std::nullopt;
  at += key.size();
  if (f.encryption.compare(at, 2, "\"\"") == 0) return std::string();
  std::string value = f.encryption.substr(at, f.encryption.find(' ', at) - at);
  if (value == "?") return std::nullopt;
  return value;
}

// The same password as the Latin-1 bytes the file was made with, for the peers.
std::string Latin1(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
      out.push_back(static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F)));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

class ConvertEncrypted : public testing::TestWithParam<CorpusFile> {};

// Each password the manifest gives opens the file; the output is encrypted again, passes
// qpdf's check with that password and keeps the pages; it renders the same.
TEST_P(ConvertEncrypted, OpensWithEachKnownPasswordAndStaysProtected) {
  const CorpusFile& f = GetParam();
  const std::string source = std::string(PW_CORPUS_DIR) + "/" + f.file;
  const std::optional<std::string> user = ManifestPassword(f, "user");
  const std::optional<std::string> owner = ManifestPassword(f, "owner");
  ASSERT_TRUE(user) << f.encryption;
  const char* version = kVersions[f.index % 9];
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());

  std::vector<std::string> passwords = {*user};
  if (owner && *owner != *user) passwords.push_back(*owner);
  int run = 0;
  for (const std::string& password : passwords) {
    SCOPED_TRACE("password '" + password + "'");
    const std::string output = dir.path() + "/out" + std::to_string(run++) + ".pdf";
    // The empty user password needs no --password at all.
    const std::string option = password.empty() ? "" : "--password=" + Quote(password) + " ";
    RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " --quiet " + option + "--pdf-version=" + version + " " +
                           Quote(source) + " " + Quote(output) + " 2>&1");
    ASSERT_TRUE(conv.status == 0 || conv.status == 3) << "exit " << conv.status << ": " << conv.out;
    EXPECT_EQ(ksfixture::ReadFile(output).substr(0, 11), std::string("%PDF-") + version + "\r\n%");

    const std::string peerPassword = Quote(Latin1(password));
    RunResult encryption = Shell("qpdf --show-encryption --password=" + peerPassword + " " + Quote(output) + " 2>&1");
    EXPECT_EQ(encryption.out.rfind("R = ", 0), 0u) << "the output is not encrypted: " << encryption.out;
    RunResult check = Shell("qpdf --check --password=" + peerPassword + " " + Quote(output) + " 2>&1");
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_EQ(Trim(Shell("qpdf --show-npages --password=" + peerPassword + " " + Quote(output) + " 2>/dev/null").out),
              f.pages);

    // Rendering is the slow check: once per file is enough.
    if (run > 1) continue;
    ExpectSameFirstPages(dir.path(), std::to_string(run), source, output, std::atoi(f.pages.c_str()),
                         "-upw " + peerPassword);
  }
}

// Without a working password nothing is written and the message says why.
TEST_P(ConvertEncrypted, RefusesWithoutAWorkingPassword) {
  const CorpusFile& f = GetParam();
  const std::string source = std::string(PW_CORPUS_DIR) + "/" + f.file;
  TempDir dir;
  const std::string output = dir.path() + "/out.pdf";
  RunResult wrong = Shell(std::string(PW_CONVERT_EXE) + " --password=not-the-password " + Quote(source) + " " +
                          Quote(output) + " 2>&1");
  EXPECT_EQ(wrong.status, 2) << wrong.out;
  EXPECT_EQ(wrong.out, "pagewright-convert: " + source + ": the password given does not open this encrypted file\n");
  if (!ManifestPassword(f, "user")->empty()) {
    RunResult none = Shell(std::string(PW_CONVERT_EXE) + " " + Quote(source) + " " + Quote(output) + " 2>&1");
    EXPECT_EQ(none.status, 2) << none.out;
    EXPECT_EQ(none.out,
              "pagewright-convert: " + source + ": the file is encrypted: a password is needed (--password=PW)\n");
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(Corpus, ConvertEncrypted, testing::ValuesIn(Select(IsRC4)), TestName);

class ConvertAES : public testing::TestWithParam<CorpusFile> {};

// What qpdf reports of the method with a password: the revision and the three methods.
std::string QpdfMethod(const std::string& pdf, const std::string& password) {
  return Shell("qpdf --show-encryption --password=" + Quote(password) + " " + Quote(pdf) +
               " 2>&1 | grep -E '^R = |encryption method'")
      .out;
}

// Each password the manifest gives opens the file, to the version it declares and to one
// below its method: the output keeps the method (with a warning where the version predates
// it, and at 1.7 the extension that declares AES-256), passes qpdf's check, keeps pages,
// outline items, annotations and fields, and renders the same.
TEST_P(ConvertAES, OpensWithEachPasswordAndKeepsTheMethodInEachVersion) {
  const CorpusFile& f = GetParam();
  const std::string source = std::string(PW_CORPUS_DIR) + "/" + f.file;
  const std::optional<std::string> user = ManifestPassword(f, "user");
  const std::optional<std::string> owner = ManifestPassword(f, "owner");
  ASSERT_TRUE(user) << f.encryption;
  const bool aes256 = f.encryption.rfind("AES-256", 0) == 0;
  const std::string method = aes256 ? "AES-256" : "AES-128";
  const std::string since = aes256 ? "2.0" : "1.6";
  const std::string below = aes256 ? (f.declaredVersion == "2.0" ? "1.7" : "1.5") : "1.4";
  const std::string sourceMethod = QpdfMethod(source, *user);
  ASSERT_NE(sourceMethod, "");
  const std::string sourceCounts = Counts(source, *user);
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());

  std::vector<std::string> passwords = {*user};
  if (owner && *owner != *user) passwords.push_back(*owner);
  int run = 0;
  for (const std::string& password : passwords) {
    for (const std::string& version : {f.declaredVersion, below}) {
      SCOPED_TRACE("password '" + password + "', version " + version);
      const std::string output = dir.path() + "/out" + std::to_string(run++) + ".pdf";
      const std::string option = password.empty() ? "" : "--password=" + Quote(password) + " ";
      RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " " + option + "--pdf-version=" + version + " " +
                             Quote(source) + " " + Quote(output) + " 2>&1");
      const std::string warning = "pagewright-convert: warning: PDF " + version + " does not support " + method +
                                  " encryption (PDF " + since + ")\n";
      if (version < since) {
        EXPECT_EQ(conv.status, 3) << conv.out;
        EXPECT_NE(conv.out.find(warning), std::string::npos) << conv.out;
      } else {
        EXPECT_EQ(conv.status, 0) << conv.out;
      }
      EXPECT_EQ(ksfixture::ReadFile(output).substr(0, 9), "%PDF-" + version + "\r");
      // Either password opens the output as it opened the source.
      for (const std::string& other : passwords) {
        EXPECT_EQ(QpdfMethod(output, other), sourceMethod);
        RunResult check = Shell("qpdf --check --password=" + Quote(other) + " " + Quote(output) + " 2>&1");
        EXPECT_EQ(check.status, 0) << check.out;
      }
      EXPECT_EQ(Counts(output, *user), sourceCounts);
      const bool extension =
          Shell("qpdf --password=" + Quote(*user) + " --show-object=1 " + Quote(output) + " 2>/dev/null").out.find(
              "/Extensions << /ADBE << /BaseVersion /1.7 /ExtensionLevel ") != std::string::npos;
      EXPECT_EQ(extension, aes256 && version == "1.7");
      if (run > 1) continue;  // rendering is the slow check: once per file
      ExpectSameFirstPages(dir.path(), "", source, output, std::atoi(f.pages.c_str()), "-upw " + Quote(*user));
    }
  }

  // A wrong password, or none where one is needed: exit 2, the usual messages, no output.
  TempDir empty;
  RunResult wrong = Shell(std::string(PW_CONVERT_EXE) + " --password=not-the-password " + Quote(source) + " " +
                          Quote(empty.path() + "/out.pdf") + " 2>&1");
  EXPECT_EQ(wrong.status, 2) << wrong.out;
  EXPECT_EQ(wrong.out, "pagewright-convert: " + source + ": the password given does not open this encrypted file\n");
  if (!user->empty()) {
    RunResult none = Shell(std::string(PW_CONVERT_EXE) + " " + Quote(source) + " " + Quote(empty.path() + "/out.pdf") +
                           " 2>&1");
    EXPECT_EQ(none.status, 2) << none.out;
    EXPECT_EQ(none.out,
              "pagewright-convert: " + source + ": the file is encrypted: a password is needed (--password=PW)\n");
  }
  EXPECT_TRUE(fs::is_empty(empty.path()));
}

INSTANTIATE_TEST_SUITE_P(Corpus, ConvertAES, testing::ValuesIn(Select(IsAES)), TestName);

std::string CorpusPath(const char* name) { return std::string(PW_CORPUS_DIR) + "/" + name; }

// Files protected by qpdf (a peer) with restricted permissions, converted after opening
// with either password: the output keeps the source's keys, so qpdf finds the same
// encryption (revision, /P, user password, permissions, key), the same /ID, and both
// passwords open it. Passwords are handed to qpdf as the bytes they were set as.
struct PeerProtection {
  const char* name;
  std::string user, owner;  // UTF-8, as typed on a terminal
  std::string settings;     // qpdf --encrypt arguments after the passwords
  bool clearMetadata;
};

const PeerProtection kPeerProtections[] = {
    {"rc4_40", "u40", "o40", "40 --print=n --modify=n", false},
    {"rc4_128", "u128", "o128", "128 --use-aes=n --print=low --modify=form --extract=n", false},
    {"rc4_128_clear_metadata", "u4", "o4", "128 --use-aes=n --cleartext-metadata --assemble=n", true},
    // Set as UTF-8 bytes: the text typed opens it through its UTF-8 bytes.
    {"utf8_passwords", "p\xC3\xA4ssw\xC3\xB6rd", "\xE5\xAF\x86\xE7\xA0\x81", "128 --use-aes=n --print=none", false},
    {"aes128", "u", "o", "128 --use-aes=y --print=low --modify=annotate", false},
    {"aes128_clear_metadata", "ua", "oa", "128 --use-aes=y --cleartext-metadata --extract=n", true},
    {"aes256", "u", "o", "256 --print=none --assemble=n", false},
    // Any text: the AES-256 handler keys on UTF-8.
    {"aes256_unicode", "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C", "\xE5\xAF\x86\xE7\xA0\x81",
     "256 --modify=none", false},
};

void PrintTo(const PeerProtection& p, std::ostream* os) { *os << p.name; }

class ConvertPeerEncrypted : public testing::TestWithParam<PeerProtection> {};

TEST_P(ConvertPeerEncrypted, KeepsBothPasswordsAndThePermissions) {
  const PeerProtection& c = GetParam();
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string source = dir.path() + "/source.pdf";
  // Uncompressed, so the metadata stream's text is visible where it is in clear.
  RunResult made = Shell("qpdf --allow-weak-crypto --password-mode=bytes --stream-data=uncompress "
                         "--object-streams=disable --encrypt " + Quote(c.user) + " " + Quote(c.owner) + " " +
                         c.settings + " -- " + Quote(CorpusPath("pdf20ex_Simple_PDF_2.0_file.pdf")) + " " +
                         Quote(source) + " 2>&1");
  ASSERT_EQ(made.status, 0) << made.out;
  auto qpdf = [](const std::string& password, const std::string& args, const std::string& file) {
    return Shell("qpdf --password-mode=bytes --password=" + Quote(password) + " " + args + " " + Quote(file) +
                 " 2>&1");
  };
  auto id = [&](const std::string& file) {
    const std::string trailer = qpdf(c.user, "--show-object=trailer", file).out;
    const size_t at = trailer.find("/ID [");
    return at == std::string::npos ? std::string("(none)") : trailer.substr(at, trailer.find(']', at) - at);
  };
  const std::string sourceId = id(source);
  ASSERT_NE(sourceId, "(none)");

  for (const std::string& opener : {c.user, c.owner}) {
    SCOPED_TRACE(opener == c.user ? "opened with the user password" : "opened with the owner password");
    const std::string output = dir.path() + "/out.pdf";
    RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " --password=" + Quote(opener) + " " + Quote(source) + " " +
                           Quote(output) + " 2>&1");
    ASSERT_EQ(conv.status, 0) << conv.out;
    for (const std::string& password : {c.user, c.owner}) {
      EXPECT_EQ(qpdf(password, "--show-encryption --show-encryption-key", output).out,
                qpdf(password, "--show-encryption --show-encryption-key", source).out);
      RunResult check = qpdf(password, "--check", output);
      EXPECT_EQ(check.status, 0) << check.out;
    }
    EXPECT_EQ(id(output), sourceId);
    EXPECT_EQ(ksfixture::ReadFile(output).find("<x:xmpmeta") != std::string::npos, c.clearMetadata);
  }
}

INSTANTIATE_TEST_SUITE_P(Peer, ConvertPeerEncrypted, testing::ValuesIn(kPeerProtections),
                         [](const testing::TestParamInfo<PeerProtection>& i) { return std::string(i.param.name); });

TEST(ConvertCommand, SavesOverTheFileItLoaded) {
  TempDir dir;
  const std::string file = dir.path() + "/same.pdf";
  fs::copy_file(CorpusPath("pysamples_pdflatex-outline.pdf"), file);
  fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);  // the corpus is read-only
  const std::string before = Counts(file);
  RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " --pdf-version=2.0 " + Quote(file) + " " + Quote(file) + " 2>&1");
  ASSERT_EQ(conv.status, 0) << conv.out;
  EXPECT_EQ(ksfixture::ReadFile(file).substr(0, 10), "%PDF-2.0\r\n");
  EXPECT_EQ(Shell("qpdf --check " + Quote(file) + " >/dev/null 2>&1").status, 0);
  EXPECT_EQ(Counts(file), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(ConvertCommand, ProgressKeepsTheInputVersionAndAddsTheExtension) {
  TempDir dir;
  RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " --progress " + Quote(CorpusPath("pysamples_pdflatex-outline.pdf")) +
                         " " + Quote(dir.path() + "/named") + " 2>&1 >/dev/null");
  ASSERT_EQ(conv.status, 0) << conv.out;
  const std::string out = dir.path() + "/named.pdf";
  EXPECT_EQ(ksfixture::ReadFile(out).substr(0, 8), "%PDF-1.5");  // as the input declares
  for (const std::string& line : {std::string("Document read complete. Pages read = 4\n"), "Saving File " + out + "\n",
                                  std::string("Writing Pages\n"), std::string("100%\n"), std::string("Save Complete\n")})
    EXPECT_NE(conv.out.find(line), std::string::npos) << line << " missing in:\n" << conv.out;
}

// Bookmarks whose page the file does not have (dangling references, directly or through
// a named destination) keep their titles and their place in the tree.
TEST(ConvertCommand, BookmarksToMissingPagesKeepTheirPlace) {
  TempDir dir;
  ksfixture::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 10 0 R /Dests << /gone [42 0 R /Fit] >> >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 200 200] >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R >>");
  b.Object(4, "<< /Type /Page /Parent 2 0 R >>");
  b.Object(10, "<< /Type /Outlines /First 11 0 R /Last 15 0 R /Count 5 >>");
  b.Object(11, "<< /Title (Intro) /Parent 10 0 R /Next 12 0 R /Dest [3 0 R /Fit] >>");
  b.Object(12, "<< /Title (Lost) /Parent 10 0 R /Prev 11 0 R /Next 15 0 R /First 13 0 R /Last 14 0 R /Count 2 "
               "/Dest [40 0 R /Fit] /C [1 0 0] >>");
  b.Object(13, "<< /Title (Lost child) /Parent 12 0 R /Next 14 0 R /Dest [41 0 R /XYZ 0 0 0] >>");
  b.Object(14, "<< /Title (Kept child) /Parent 12 0 R /Prev 13 0 R /Dest [4 0 R /Fit] >>");
  b.Object(15, "<< /Title (Named) /Parent 10 0 R /Prev 12 0 R /Dest /gone >>");
  const std::string source = dir.path() + "/bookmarks.pdf", output = dir.path() + "/out.pdf";
  {
    std::ofstream(source, std::ios::binary) << b.Build("/Root 1 0 R");
  }
  RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " " + Quote(source) + " " + Quote(output) + " 2>&1");
  EXPECT_EQ(conv.status, 3) << conv.out;
  EXPECT_EQ(conv.out,
            "pagewright-convert: warning: Bookmarks kept without their destination, which names no page of the "
            "document: 3\n");
  const char* tree = "def t: {title, kids: [.kids[] | t]}; [.outlines[] | t] | @json";
  auto outline = [&](const std::string& pdf) {
    return Trim(Shell("qpdf --json=2 --json-key=outlines " + Quote(pdf) + " 2>/dev/null | jq -r " + Quote(tree)).out);
  };
  EXPECT_EQ(outline(source),
            "[{\"title\":\"Intro\",\"kids\":[]},{\"title\":\"Lost\",\"kids\":[{\"title\":\"Lost child\",\"kids\":[]},"
            "{\"title\":\"Kept child\",\"kids\":[]}]},{\"title\":\"Named\",\"kids\":[]}]");
  EXPECT_EQ(outline(output), outline(source));
  EXPECT_EQ(Shell("qpdf --check " + Quote(output) + " >/dev/null 2>&1").status, 0);
}

// Entries the engine does not model are carried through: a page mode and layout outside
// its enumerations, viewer preferences beyond the twelve it knows, an outline item's
// structure element, a page's article beads.
TEST(ConvertCommand, EntriesTheEngineDoesNotModelAreCarriedThrough) {
  TempDir dir;
  ksfixture::PdfBuilder b("%PDF-1.7");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /PageMode /UseOC /PageLayout /TwoPageLeft /Outlines 10 0 R "
              "/Threads [20 0 R] /StructTreeRoot 30 0 R /ViewerPreferences << /FitWindow true /PrintScaling /None "
              "/Duplex /DuplexFlipLongEdge /NumCopies 2 /PickTrayByPDFSize true /PrintPageRange [0 0] >> >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 200 200] >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /B [21 0 R] >>");
  b.Object(10, "<< /Type /Outlines /First 11 0 R /Last 11 0 R /Count 1 >>");
  b.Object(11, "<< /Title (Section) /Parent 10 0 R /Dest [3 0 R /Fit] /SE 31 0 R >>");
  b.Object(20, "<< /Type /Thread /F 21 0 R /I << /Title (Story) >> >>");
  b.Object(21, "<< /Type /Bead /T 20 0 R /N 21 0 R /V 21 0 R /P 3 0 R /R [0 0 100 100] >>");
  b.Object(30, "<< /Type /StructTreeRoot /K 31 0 R >>");
  b.Object(31, "<< /Type /StructElem /S /P /P 30 0 R /Pg 3 0 R >>");
  const std::string source = dir.path() + "/carried.pdf", output = dir.path() + "/out.pdf";
  {
    std::ofstream(source, std::ios::binary) << b.Build("/Root 1 0 R");
  }
  RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " " + Quote(source) + " " + Quote(output) + " 2>&1");
  ASSERT_EQ(conv.status, 0) << conv.out;

  const char* entries =
      ".qpdf[1] as $o | $o[\"obj:\" + $o.trailer.value[\"/Root\"]].value as $c"
      " | $c[\"/ViewerPreferences\"] as $v"
      " | $o[\"obj:\" + $o[\"obj:\" + $c[\"/Outlines\"]].value[\"/First\"]].value as $item"
      " | $o[\"obj:\" + $o[\"obj:\" + $c[\"/Pages\"]].value[\"/Kids\"][0]].value as $page"
      " | [$c[\"/PageMode\"], $c[\"/PageLayout\"], $v[\"/FitWindow\"], $v[\"/PrintScaling\"], $v[\"/Duplex\"],"
      "    $v[\"/NumCopies\"], $v[\"/PickTrayByPDFSize\"], $v[\"/PrintPageRange\"],"
      "    $o[\"obj:\" + $item[\"/SE\"]].value[\"/S\"], $o[\"obj:\" + $page[\"/B\"][0]].value[\"/Type\"]] | @json";
  auto carried = [&](const std::string& pdf) {
    return Trim(Shell("qpdf --json=2 --json-key=qpdf " + Quote(pdf) + " 2>/dev/null | jq -r " + Quote(entries)).out);
  };
  EXPECT_EQ(carried(source),
            "[\"/UseOC\",\"/TwoPageLeft\",true,\"/None\",\"/DuplexFlipLongEdge\",2,true,[0,0],\"/P\",\"/Bead\"]");
  EXPECT_EQ(carried(output), carried(source));
  EXPECT_EQ(Shell("qpdf --check " + Quote(output) + " >/dev/null 2>&1").status, 0);
  const auto [objects, kept] = ObjectsAndKept(output, dir.path());
  EXPECT_EQ(objects, kept);

  // --info shows the names as the file has them.
  const std::string info = Shell(std::string(PW_CONVERT_EXE) + " --info " + Quote(source) + " 2>&1").out;
  EXPECT_NE(info.find("page_mode: UseOC\npage_layout: TwoPageLeft\n"), std::string::npos) << info;
}

TEST(ConvertCommand, AnOutputThatCannotBeCreatedFailsWithTheReason) {
  TempDir dir;
  const std::string out = dir.path() + "/missing/out.pdf";
  RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " " + Quote(CorpusPath("pysamples_minimal-document.pdf")) + " " +
                         Quote(out) + " 2>&1");
  EXPECT_EQ(conv.status, 2);
  EXPECT_EQ(conv.out, "pagewright-convert: Cannot create file \"" + out + "\". No such file or directory\n");
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(ConvertCommand, AMissingInputFailsWithoutOutput) {
  TempDir dir;
  RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " " + Quote(dir.path() + "/absent.pdf") + " " +
                         Quote(dir.path() + "/out.pdf") + " 2>&1");
  EXPECT_EQ(conv.status, 2);
  EXPECT_EQ(conv.out, "pagewright-convert: " + dir.path() + "/absent.pdf File Not Found\n");
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
