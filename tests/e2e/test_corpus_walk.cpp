// The structure walk over every loadable unencrypted file of the shared corpus, through
// pagewright-convert --info, against what qpdf (a peer, read through jq) finds: pages,
// outline items, annotations on the pages, and form-field names.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ksFixture.h"
#include "ksShell.h"

namespace {

struct Row {
  std::string file, encryption, correctReader;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.file; }

std::vector<Row> LoadableRows() {
  std::vector<Row> rows;
  std::ifstream in(std::string(PW_CORPUS_DIR) + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    for (std::string field; std::getline(ss, field, '\t');) f.push_back(field);
    if (f.size() < 9 || f[6] != "none" || f[8].rfind("loads", 0) != 0) continue;
    rows.push_back({f[0], f[6], f[8]});
  }
  return rows;
}

using ksshell::Quote;

struct ShellRun {
  int status = -1;
  std::string out;
};

ShellRun Shell(const std::string& command) {
  ShellRun r;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Value(const std::vector<std::string>& lines, const std::string& key) {
  for (const std::string& line : lines)
    if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
  return "(missing)";
}

// "pages outlines annotations" as qpdf counts them: the page objects of the tree (not
// the root's /Count), every outline item at any depth, the entries of each page's /Annots.
std::string PeerCounts(const std::string& pdf) {
  const char* filter =
      "[(.pages | length), ([.outlines | .. | objects | select(has(\"kids\"))] | length),"
      " (. as $r | [$r.pages[].object as $p | ($r.qpdf[1][\"obj:\" + $p].value[\"/Annots\"]) as $a"
      "   | if $a == null then 0 elif ($a | type) == \"array\" then ($a | length)"
      "     else ($r.qpdf[1][\"obj:\" + $a].value | length) end] | add // 0)] | map(tostring) | join(\" \")";
  ShellRun r = Shell("qpdf --json=2 --json-key=outlines --json-key=pages --json-key=qpdf " + Quote(pdf) +
                " 2>/dev/null | jq -r " + Quote(filter));
  return Lines(r.out).empty() ? "(qpdf gave nothing)" : Lines(r.out).front();
}

std::vector<std::string> PeerFieldNames(const std::string& pdf) {
  return Lines(Shell("qpdf --json=2 --json-key=acroform " + Quote(pdf) +
                     " 2>/dev/null | jq -r '.acroform.fields[].fullname'")
                   .out);
}

class CorpusWalk : public testing::TestWithParam<Row> {};

TEST_P(CorpusWalk, AgreesWithThePeer) {
  const std::string pdf = std::string(PW_CORPUS_DIR) + "/" + GetParam().file;
  ShellRun info = Shell("timeout 60 " + Quote(PW_CONVERT_EXE) + " --info --quiet " + Quote(pdf) + " 2>/dev/null");
  ASSERT_EQ(info.status, 0) << info.out;
  std::vector<std::string> lines = Lines(info.out);

  EXPECT_EQ(Value(lines, "pages") + " " + Value(lines, "outlines") + " " + Value(lines, "annotations"),
            PeerCounts(pdf))
      << "[pages outlines annotations]";

  // The terminal fields by their full names: those qpdf lists (once per widget there).
  const std::vector<std::string> peer = PeerFieldNames(pdf);
  std::vector<std::string> fields;
  for (const std::string& line : lines)
    if (line.rfind("field: ", 0) == 0) fields.push_back(line.substr(7));
  EXPECT_EQ(Value(lines, "fields"), std::to_string(fields.size()));
  EXPECT_EQ(std::set<std::string>(fields.begin(), fields.end()), std::set<std::string>(peer.begin(), peer.end()));
}

TEST(InfoStructure, ShowsTheWalkAndTheInformationAsUtf8) {
  ksfixture::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /PageMode /UseOutlines /PageLayout /TwoColumnLeft /Outlines 8 0 R "
              "/AcroForm << /Fields [6 0 R] >> >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
  b.Object(3, "<< /Type /Page /Annots [6 0 R 7 0 R] >>");
  b.Object(4, "<< /Type /Page /Annots 5 0 R >>");
  b.Object(5, "[7 0 R]");
  b.Object(6, "<< /Type /Annot /Subtype /Widget /T <FEFF00C4006E> /FT /Tx /Kids [9 0 R 13 0 R] >>");
  b.Object(7, "<< /Type /Annot /Subtype /Text >>");
  b.Object(8, "<< /First 10 0 R >>");
  // Terminal fields: one of its own type, one whose type and widget are its parent's and
  // kid's; the node above them is no field of its own.
  b.Object(9, "<< /T (kid) /FT /Tx /Parent 6 0 R >>");
  b.Object(10, "<< /Title (One) /First 11 0 R >>");
  b.Object(11, "<< /Title (Two) >>");
  b.Object(12, "<< /Title (Caf\\351) /Author <FEFF004A00F8> /CreationDate (D:20240101) >>");
  b.Object(13, "<< /T (b) /Parent 6 0 R /Kids [14 0 R] >>");
  b.Object(14, "<< /Type /Annot /Subtype /Widget /Parent 13 0 R >>");
  std::string path = ksfixture::WriteTempFile("info-structure.pdf", b.Build("/Root 1 0 R /Info 12 0 R"));
  ShellRun info = Shell(Quote(PW_CONVERT_EXE) + " --info " + Quote(path));
  ASSERT_EQ(info.status, 0);
  std::vector<std::string> lines = Lines(info.out);
  lines.erase(lines.begin(), lines.begin() + 5);  // version, xref, objects, encrypted, encryption
  EXPECT_THAT(lines, testing::ElementsAre("pages: 2", "page_mode: UseOutlines", "page_layout: TwoColumnLeft",
                                          "outlines: 2", "annotations: 3", "fields: 2", "field: \xC3\x84n.kid",
                                          "field: \xC3\x84n.b", "title: Caf\xC3\xA9", "author: J\xC3\xB8",
                                          "creation_date: D:20240101"));
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusWalk, testing::ValuesIn(LoadableRows()),
                         [](const testing::TestParamInfo<Row>& info) {
                           std::string name;
                           for (char c : info.param.file) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
