// pagewright-convert --page-info over every file of the shared corpus, against the crop
// boxes pdfinfo (a peer) reports: sizes and boxes agree within 0.01 point.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ksShell.h"

namespace fs = std::filesystem;
using ksshell::Quote;
using ksshell::Shell;

namespace {

// File name -> the user password MANIFEST.tsv names for it (when it names one).
std::map<std::string, std::string> Passwords() {
  std::map<std::string, std::string> found;
  std::ifstream in(std::string(PW_CORPUS_DIR) + "/MANIFEST.tsv");
  std::string line;
  const std::regex user("user=(\\S+)");
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    for (std::string f; std::getline(ss, f, '\t');) fields.push_back(f);
    std::smatch m;
    if (fields.size() > 6 && std::regex_search(fields[6], m, user) && m[1] != "\"\"") found[fields[0]] = m[1];
  }
  return found;
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(PW_CORPUS_DIR, ec))
    if (entry.path().extension() == ".pdf") files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  return files;
}

// Page number -> six numbers: width, height and the box.
using PageNumbers = std::map<int, std::vector<double>>;

PageNumbers Ours(const std::string& path, const std::string& password, int& status) {
  ksshell::RunResult r = Shell(std::string("timeout 120 ") + Quote(PW_CONVERT_EXE) + " --info --page-info --quiet " +
                               (password.empty() ? "" : "--password=" + Quote(password) + " ") + Quote(path) +
                               " 2>/dev/null");
  status = r.status;
  PageNumbers pages;
  const std::regex line("page (\\d+): width (\\S+) height (\\S+) box (\\S+) (\\S+) (\\S+) (\\S+) rotate (\\d+)");
  std::istringstream lines(r.out);
  for (std::string l; std::getline(lines, l);) {
    std::smatch m;
    if (!std::regex_match(l, m, line)) continue;
    std::vector<double>& n = pages[std::stoi(m[1])];
    for (int i = 2; i <= 7; ++i) n.push_back(std::stod(m[i]));
  }
  return pages;
}

PageNumbers Theirs(const std::string& path, const std::string& password) {
  ksshell::RunResult r = Shell("pdfinfo -box -f 1 -l 1000000 " + (password.empty() ? "" : "-upw " + Quote(password) + " ") +
                               Quote(path) + " 2>/dev/null");
  PageNumbers pages;
  const std::regex line("Page\\s+(\\d+) CropBox:\\s+(\\S+)\\s+(\\S+)\\s+(\\S+)\\s+(\\S+)");
  std::istringstream lines(r.out);
  for (std::string l; std::getline(lines, l);) {
    std::smatch m;
    if (!std::regex_match(l, m, line)) continue;
    const double x1 = std::stod(m[2]), y1 = std::stod(m[3]), x2 = std::stod(m[4]), y2 = std::stod(m[5]);
    pages[std::stoi(m[1])] = {x2 - x1, y2 - y1, x1, y1, x2, y2};
  }
  return pages;
}

class CorpusPageInfo : public testing::TestWithParam<std::string> {};

TEST_P(CorpusPageInfo, AgreesWithPdfinfo) {
  const std::string& file = GetParam();
  const std::string path = std::string(PW_CORPUS_DIR) + "/" + file;
  static const std::map<std::string, std::string> passwords = Passwords();
  const auto pw = passwords.find(file);
  const std::string password = pw == passwords.end() ? "" : pw->second;
  int status = -1;
  const PageNumbers ours = Ours(path, password, status);
  const PageNumbers theirs = Theirs(path, password);
  // Files either reader cannot open are the loading tests' business.
  if (status == 2 || theirs.empty()) return;
  ASSERT_TRUE(status == 0 || status == 3) << file;
  ASSERT_EQ(ours.size(), theirs.size()) << file;
  for (const auto& [page, numbers] : theirs) {
    const auto it = ours.find(page);
    ASSERT_NE(it, ours.end()) << file << " page " << page;
    for (size_t i = 0; i < numbers.size(); ++i)
      EXPECT_NEAR(it->second[i], numbers[i], 0.01) << file << " page " << page << " number " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusPageInfo, testing::ValuesIn(CorpusFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
