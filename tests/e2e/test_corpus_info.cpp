// pagewright-convert --info over every file of the shared corpus: exit code, version
// and cross-reference kind as MANIFEST.tsv records them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ksFixture.h"

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

CliRun RunInfo(const std::string& file) {
  std::string errPath = ksfixture::WriteTempFile("info-stderr-" + std::to_string(::getpid()) + ".txt", "");
  std::string cmd = std::string("timeout 60 '") + PW_CONVERT_EXE + "' --info '" + PW_CORPUS_DIR + "/" + file +
                    "' 2>'" + errPath + "'";
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
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_THAT(r.err, testing::HasSubstr("encrypted with AES")) << r.err;
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
  if (!objectLevel && !chainEnds) {
    EXPECT_EQ(r.exitCode, 2) << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusInfo, testing::ValuesIn(Manifest()),
                         [](const testing::TestParamInfo<Row>& info) {
                           std::string name = info.param.file;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// The permissions "/P" grants to the user; everything to the owner.
TEST(CorpusInfo, PasswordDecidesOwnerAndPermissions) {
  const std::string file = std::string(PW_CORPUS_DIR) + "/qpdf_enc-R3_V2_U_view_O_master.pdf";
  auto run = [&](const std::string& password) {
    CliRun r;
    FILE* p = ::popen((std::string("'") + PW_CONVERT_EXE + "' --info --password=" + password + " '" + file + "'").c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  };
  CliRun owner = run("master");
  ASSERT_EQ(owner.exitCode, 0);
  EXPECT_EQ(Line(owner.out, "encryption"), "RC4-128");
  EXPECT_EQ(Line(owner.out, "owner"), "yes");
  EXPECT_EQ(Line(owner.out, "permissions"),
            "copy modify print annotate fill-forms accessibility assemble print-high-resolution");
  CliRun user = run("view");
  ASSERT_EQ(user.exitCode, 0);
  EXPECT_EQ(Line(user.out, "owner"), "no");
  // /P -3104: what qpdf --show-encryption reports as allowed for this file.
  EXPECT_EQ(Line(user.out, "permissions"), "annotate fill-forms accessibility");
  EXPECT_EQ(run("wrong").exitCode, 2);
}

TEST(CorpusInfo, ManifestIsRead) { EXPECT_GT(Manifest().size(), 100u); }

}  // namespace
