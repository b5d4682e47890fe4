// pagewright-convert --info over every file of the shared corpus: exit code, version
// and cross-reference kind as MANIFEST.tsv records them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <utility>
#include <sstream>
#include <string>
#include <vector>

#include "ksFixture.h"
#include "ksShell.h"

namespace {

struct Row {
  std::string file, declaredVersion, xref, encryption, correctReader;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.file; }

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> fields;
  std::stringstream ss(line);
  std::string f;
  while (std::getline(ss, f, sep)) fields.push_back(f);
  return fields;
}

std::vector<Row> Manifest() {
  std::vector<Row> rows;
  std::ifstream in(std::string(PW_CORPUS_DIR) + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    auto f = Split(line, '\t');
    if (f.size() < 9) continue;
    rows.push_back({f[0], f[2], f[4], f[6], f[8]});
  }
  return rows;
}

// The version the engine reads from a header as MANIFEST writes it ("1.7", or "1.7
// (catalog /Version 2.0)"): one digit of a 1.x minor version counts, any 2.x is 2.0,
// and a catalog's later version wins over the header's.
std::string ExpectedVersion(const std::string& declared) {
  auto normal = [](const std::string& v) { return v.rfind("2.", 0) == 0 ? std::string("2.0") : v.substr(0, 3); };
  std::string v = normal(declared.substr(0, declared.find(' ')));
  const std::string catalog = "(catalog /Version ";
  if (size_t at = declared.find(catalog); at != std::string::npos) {
    std::string c = normal(declared.substr(at + catalog.size(), 3));
    if (c > v) v = c;
  }
  return v;
}

struct CliRun {
  int exitCode = -1;
  bool timedOut = false;
  std::string out, err;
};

using ksshell::Quote;

// --info on a file by its path, with the options given before it.
CliRun RunInfoAt(const std::string& path, const std::string& options = "") {
  std::string errPath = ksfixture::WriteTempFile("info-stderr-" + std::to_string(::getpid()) + ".txt", "");
  std::string cmd = std::string("timeout 60 ") + Quote(PW_CONVERT_EXE) + " --info " + options + " " + Quote(path) +
                    " 2>" + Quote(errPath);
  CliRun r;
  FILE* p = ::popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int status = ::pclose(p);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.timedOut = r.exitCode == 124;
  r.err = ksfixture::ReadFile(errPath);
  std::remove(errPath.c_str());
  return r;
}

CliRun RunInfo(const std::string& file) { return RunInfoAt(std::string(PW_CORPUS_DIR) + "/" + file); }

std::string Line(const std::string& out, const std::string& key) {
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
  return "(missing)";
}

class CorpusInfo : public testing::TestWithParam<Row> {};

TEST_P(CorpusInfo, MatchesTheManifest) {
  const Row& row = GetParam();
  CliRun r = RunInfo(row.file);
  ASSERT_FALSE(r.timedOut) << row.file << " did not finish";
  ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 2) << row.file << " exit " << r.exitCode << "\n" << r.err;
  if (r.exitCode == 2) {
    EXPECT_FALSE(r.err.empty()) << "a failure names its reason";
  }

  if (row.encryption.rfind("AES", 0) == 0) {
    // Without a password only an empty user password opens it (CorpusPermissions opens
    // the others with theirs).
    if (row.encryption.find(" user=\"\" ") != std::string::npos) {
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(Line(r.out, "encryption"), row.encryption.substr(0, row.encryption.find(' ')));
    } else {
      EXPECT_EQ(r.exitCode, 2) << r.out;
      EXPECT_THAT(r.err, testing::HasSubstr("a password is needed")) << r.err;
    }
    return;
  }
  if (row.encryption != "none" && row.correctReader.rfind("needs password", 0) == 0) {
    // No --password: the file stays closed and the message says what is missing.
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_THAT(r.err, testing::HasSubstr("a password is needed")) << r.err;
    return;
  }
  if (row.encryption != "none" && row.correctReader.rfind("loads", 0) == 0) {
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Line(r.out, "encrypted"), "yes");
    // "RC4-128 (R3 V2) ..." names the key length as the output does.
    EXPECT_EQ(Line(r.out, "encryption"), row.encryption.substr(0, row.encryption.find(' ')));
    EXPECT_THAT(Line(r.out, "permissions"), testing::MatchesRegex("none|[a-z -]+"));
    return;
  }
  if (row.correctReader.rfind("loads", 0) == 0) {
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Line(r.out, "version"), ExpectedVersion(row.declaredVersion));
    EXPECT_EQ(Line(r.out, "xref"), row.xref.substr(0, row.xref.find(' ')));
    EXPECT_THAT(Line(r.out, "objects"), testing::MatchesRegex("[0-9]+"));
    EXPECT_EQ(Line(r.out, "encrypted"), "no");
    return;
  }
  // Damage in objects that only the document walk reads (wrong object offsets; a
  // page tree that lies about its size; the table of that file is well formed) may
  // pass here; damaged file structure must not.
  const bool objectLevel = row.correctReader.find("offset(s) wrong") != std::string::npos ||
                           row.correctReader.find("no subsection header") != std::string::npos;
  // A /Prev that loops or points at no section ends the chain with a warning; the
  // sections read before it may describe the whole document.
  const bool chainEnds = row.correctReader.find("/Prev loop") != std::string::npos ||
                         row.correctReader.find("startxref or /Prev offset") != std::string::npos;
  // Damaged structure opens only through a repair, which --info names (a file cut short
  // that qpdf gives up on may still hold a whole document, as mutool finds).
  const bool peerMayOpen = row.correctReader.find("qpdf repairs it") != std::string::npos ||
                           row.correctReader.find("qpdf cannot open it either") != std::string::npos;
  if (!objectLevel && !chainEnds && !peerMayOpen) {
    EXPECT_EQ(r.exitCode, 2) << r.out;
  } else if (!objectLevel && !chainEnds && r.exitCode == 0) {
    EXPECT_THAT(r.out, testing::HasSubstr("\nrepaired: ")) << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusInfo, testing::ValuesIn(Manifest()),
                         [](const testing::TestParamInfo<Row>& info) {
                           std::string name = info.param.file;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// Either password gives the permissions "/P" grants: the owner is told apart by "owner".
TEST(CorpusInfo, PasswordDecidesOwnerNotPermissions) {
  const std::string file = std::string(PW_CORPUS_DIR) + "/qpdf_enc-R3_V2_U_view_O_master.pdf";
  for (const auto& [password, owner] : {std::pair{"master", "yes"}, std::pair{"view", "no"}}) {
    CliRun r = RunInfoAt(file, std::string("--password=") + password);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Line(r.out, "encryption"), "RC4-128");
    EXPECT_EQ(Line(r.out, "owner"), owner);
    EXPECT_EQ(Line(r.out, "security_revision"), "3");
    EXPECT_EQ(Line(r.out, "p"), "-3104");
    EXPECT_EQ(Line(r.out, "p_bits"), "6 9 10");
    // What qpdf --show-encryption reports as allowed for this file.
    EXPECT_EQ(Line(r.out, "permissions"), "annotate fill-forms accessibility");
  }
  EXPECT_EQ(RunInfoAt(file, "--password=wrong").exitCode, 2);
}

// /P -64 at revision 2 denies everything, though it sets bits 9 to 12: that revision
// does not read them.
TEST(CorpusInfo, RevisionTwoReadsOnlyItsOwnBits) {
  CliRun r = RunInfoAt(std::string(PW_CORPUS_DIR) + "/qpdf_enc-R2_V1_U_view_O_master.pdf", "--password=view");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Line(r.out, "encryption"), "RC4-40");
  EXPECT_EQ(Line(r.out, "security_revision"), "2");
  EXPECT_EQ(Line(r.out, "p"), "-64");
  EXPECT_EQ(Line(r.out, "p_bits"), "9 10 11 12");
  EXPECT_EQ(Line(r.out, "permissions"), "none");
}

// The user password of a corpus row as its MANIFEST entry gives it (UTF-8); none when
// unknown.
std::optional<std::string> UserPassword(const Row& row) {
  const size_t at = row.encryption.find(" user=");
  if (at == std::string::npos) return std::nullopt;
  const size_t start = at + 6;
  if (row.encryption.compare(start, 2, "\"\"") == 0) return std::string();
  std::string value = row.encryption.substr(start, row.encryption.find(' ', start) - start);
  if (value == "?") return std::nullopt;
  return value;
}

// Latin-1 bytes of a UTF-8 text, as the files with non-ASCII passwords were made.
std::string Latin1(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size())
      out.push_back(static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F)));
    else
      out.push_back(static_cast<char>(c));
  }
  return out;
}

std::vector<Row> OpeningEncryptedRows() {
  std::vector<Row> rows;
  for (const Row& row : Manifest())
    if ((row.encryption.rfind("AES", 0) == 0 ||
         (row.encryption.rfind("RC4", 0) == 0 &&
          (row.correctReader.rfind("loads", 0) == 0 || row.correctReader.rfind("needs password", 0) == 0))) &&
        UserPassword(row))
      rows.push_back(row);
  return rows;
}

class CorpusPermissions : public testing::TestWithParam<Row> {};

// The revision, /P and the permissions as qpdf --show-encryption (a peer) reads them.
TEST_P(CorpusPermissions, AgreeWithThePeer) {
  const Row& row = GetParam();
  const std::string path = std::string(PW_CORPUS_DIR) + "/" + row.file;
  const std::string password = *UserPassword(row);
  CliRun ours = RunInfoAt(path, password.empty() ? "" : "--password=" + Quote(password));
  ASSERT_EQ(ours.exitCode, 0) << ours.err;

  FILE* p = ::popen(("qpdf --show-encryption --password=" + Quote(Latin1(password)) + " " + Quote(path) + " 2>&1").c_str(),
                    "r");
  std::string peer;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) peer.append(buf, n);
  ::pclose(p);
  const std::pair<const char*, const char*> names[] = {
      {"extract for any purpose", "copy"},       {"modify other", "modify"},
      {"print low resolution", "print"},         {"modify annotations", "annotate"},
      {"modify forms", "fill-forms"},            {"extract for accessibility", "accessibility"},
      {"modify document assembly", "assemble"},  {"print high resolution", "print-high-resolution"},
  };
  std::string allowed;
  for (const auto& [line, name] : names) {
    if (peer.find(std::string(line) + ": allowed") == std::string::npos) continue;
    if (!allowed.empty()) allowed += ' ';
    allowed += name;
  }
  EXPECT_EQ(Line(ours.out, "permissions"), allowed.empty() ? "none" : allowed) << peer;
  // "AES-256 (R6 V5) ...": the method and the revision, as the manifest names them.
  EXPECT_EQ(Line(ours.out, "encryption"), row.encryption.substr(0, row.encryption.find(' ')));
  EXPECT_NE(peer.find("R = " + Line(ours.out, "security_revision") + "\n"), std::string::npos) << peer;
  EXPECT_NE(peer.find("P = " + Line(ours.out, "p") + "\n"), std::string::npos) << peer;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusPermissions, testing::ValuesIn(OpeningEncryptedRows()),
                         [](const testing::TestParamInfo<Row>& info) {
                           std::string name = info.param.file;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// Text from the file is shown, never obeyed: control characters and escape sequences
// (a title that would set the terminal's title), a NUL, line breaks and reordering marks
// are escaped, a backslash doubled; bytes without a byte-order mark are PDFDocEncoding.
TEST(InfoValues, ShowWhatATerminalWouldObeyEscaped) {
  ksfixture::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R] >> >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>");
  b.Object(4, "<< /T <FEFF001B005B0032004A0078> /FT /Tx >>");
  b.Object(5,
           "<< /Title <FEFF0041001B005D0030003B0070007700A0006E0065006400070042000000430020005C202E0044>"
           " /Author (\\200\\215 \\030\\240) /Subject (one\\r\\ntwo\\000three) /Keywords <FEFF009B00320020>"
           " /Creator (\\033[31m) /CreationDate (D:2024\\007) >>");
  const std::string path = ksfixture::WriteTempFile("info-escapes.pdf", b.Build("/Root 1 0 R /Info 5 0 R"));
  CliRun r = RunInfoAt(path);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Line(r.out, "field"), "\\x1b[2Jx");
  EXPECT_EQ(Line(r.out, "title"), "A\\x1b]0;pw\xC2\xA0ned\\x07B\\x00C \\\\\\u202eD");
  EXPECT_EQ(Line(r.out, "author"), "\xE2\x80\xA2\xE2\x80\x9C \xCB\x98\xE2\x82\xAC");  // "• ˘€" and a quote
  EXPECT_EQ(Line(r.out, "subject"), "one\\x0d\\x0atwo\\x00three");
  EXPECT_EQ(Line(r.out, "keywords"), "\\x9b2 ");
  EXPECT_EQ(Line(r.out, "creator"), "\xCB\x99[31m");  // 0x1B is a dot accent in PDFDocEncoding
  EXPECT_EQ(Line(r.out, "creation_date"), "D:2024\\x07");
  for (char c : r.out) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
}

TEST(CorpusInfo, ManifestIsRead) { EXPECT_GT(Manifest().size(), 100u); }

}  // namespace
