// Every file of the corpus through the command-line converter. Loadable files must come
// out as sound PDF of the chosen version with the same pages, the same rendering and the
// same outline items, annotations and form fields; files a correct reader refuses must
// fail cleanly, leaving no output behind. qpdf, pdftoppm and jq are peers that check the
// output from outside.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ksFixture.h"

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
bool MustFail(const CorpusFile& f) { return f.reader.rfind("should fail cleanly", 0) == 0; }

std::vector<CorpusFile> Select(bool (*pred)(const CorpusFile&)) {
  std::vector<CorpusFile> out;
  for (CorpusFile f : Manifest())
    if (pred(f)) {
      f.index = static_cast<int>(out.size());
      out.push_back(f);
    }
  return out;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct RunResult {
  int status = -1;
  std::string out;
};

// Runs a shell command; stdout is captured, stderr goes where the command sends it.
RunResult Shell(const std::string& command) {
  RunResult r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  std::array<char, 65536> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// Outline items, annotations on the pages and form fields, as qpdf sees them.
std::string Counts(const std::string& pdf) {
  const char* filter =
      "[([.outlines | .. | objects | select(has(\"destpageposfrom1\"))] | length),"
      " (. as $r | [$r.pages[].object as $p | ($r.qpdf[1][\"obj:\" + $p].value[\"/Annots\"]) as $a"
      "   | if $a == null then 0 elif ($a | type) == \"array\" then ($a | length)"
      "     else ($r.qpdf[1][\"obj:\" + $a].value | length) end] | add // 0),"
      " (.acroform.fields | length)] | @text";
  return Trim(Shell("qpdf --json=2 --json-key=outlines --json-key=pages --json-key=acroform --json-key=qpdf " +
                  Quote(pdf) + " 2>/dev/null | jq -r " + Quote(filter))
                  .out);
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

  // The source's pages as its page tree actually holds them (a root /Count may lie);
  // the output's single node must count exactly those.
  std::string srcPages = Trim(Shell("qpdf --json=2 --json-key=pages " + Quote(source) +
                                    " 2>/dev/null | jq '.pages | length'").out);
  std::string outPages = Trim(Shell("qpdf --show-npages " + Quote(output) + " 2>/dev/null").out);
  EXPECT_EQ(outPages, srcPages);

  // The first three pages render to the same pixels.
  Shell("pdftoppm -r 20 -f 1 -l 3 " + Quote(source) + " " + Quote(dir.path() + "/src") + " 2>/dev/null");
  Shell("pdftoppm -r 20 -f 1 -l 3 " + Quote(output) + " " + Quote(dir.path() + "/out") + " 2>/dev/null");
  std::vector<std::string> rendered;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    std::string name = e.path().filename().string();
    if (name.rfind("src-", 0) == 0) rendered.push_back(name.substr(4));
  }
  for (const std::string& page : rendered) {
    if (!fs::exists(dir.path() + "/out-" + page) && std::to_string(rendered.size()) != srcPages) continue;
    std::string a = ksfixture::ReadFile(dir.path() + "/src-" + page);
    std::string b = ksfixture::ReadFile(dir.path() + "/out-" + page);
    EXPECT_TRUE(a == b) << "page image " << page << " differs (" << a.size() << " vs " << b.size() << " bytes)";
  }

  std::string srcCounts = Counts(source);
  std::string outCounts = Counts(output);
  EXPECT_FALSE(outCounts.empty());
  EXPECT_EQ(outCounts, srcCounts) << "[outline items, annotations, form fields]";
}

INSTANTIATE_TEST_SUITE_P(Corpus, ConvertLoadable, testing::ValuesIn(Select(Loads)), TestName);

class ConvertRefused : public testing::TestWithParam<CorpusFile> {};

TEST_P(ConvertRefused, FailsCleanlyWithoutOutput) {
  const CorpusFile& f = GetParam();
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string output = dir.path() + "/out.pdf";
  RunResult conv = Shell(std::string(PW_CONVERT_EXE) + " " + Quote(std::string(PW_CORPUS_DIR) + "/" + f.file) + " " +
                       Quote(output) + " 2>&1 >/dev/null");
  // Damage confined to cross-reference entries of objects nothing refers to costs no
  // data: such a file may convert, and then its output must be sound.
  bool damageMayBeUnused = f.reader.find("xref offset(s) wrong") != std::string::npos ||
                           f.reader.find("no subsection header") != std::string::npos;
  if (damageMayBeUnused && conv.status == 0) {
    RunResult check = Shell("qpdf --check " + Quote(output) + " 2>&1");
    EXPECT_EQ(check.status, 0) << check.out;
    return;
  }
  EXPECT_EQ(conv.status, 2) << conv.out;
  EXPECT_EQ(conv.out.rfind("pagewright-convert: ", 0), 0u) << conv.out;
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(Corpus, ConvertRefused, testing::ValuesIn(Select(MustFail)), TestName);

}  // namespace
