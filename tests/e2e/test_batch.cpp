// pagewright-convert --batch over real files: outputs under the same relative paths, a
// report line for every file, resumption after a kill, and conversions that hang or crash
// reported without stopping the rest.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/ksConsts.h"
#include "ksFixture.h"
#include "ksShell.h"

namespace fs = std::filesystem;
using ksshell::Quote;
using ksshell::Shell;

namespace {

const std::string kCorpus = PW_CORPUS_DIR;
const std::string kConvert = PW_CONVERT_EXE;

// The report's lines by input, the last line of each input winning.
std::map<std::string, std::string> Report(const std::string& path) {
  std::map<std::string, std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t start = line.find("\"input\":\"") + 9;
    lines[line.substr(start, line.find('"', start) - start)] = line;
  }
  return lines;
}

std::string HexOf(const std::string& bytes) {
  std::string hex;
  char buf[3];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    hex += buf;
  }
  return hex;
}

size_t LineCount(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  size_t n = 0;
  while (std::getline(in, line)) ++n;
  return n;
}

class BatchTest : public ::testing::Test {
 protected:
  ksshell::TempDir dir_{"pw-batch-"};
  std::string in_ = dir_.Path("in");
  std::string out_ = dir_.Path("out");

  void SetUp() override {
    fs::create_directories(in_ + "/sub/deeper");
    fs::copy_file(kCorpus + "/pdfjs_clippath.pdf", in_ + "/a.pdf");
    fs::copy_file(kCorpus + "/gen-objstm-disabled-classic-xref.pdf", in_ + "/sub/b.PDF");
    fs::copy_file(kCorpus + "/pypdf_example.pdf", in_ + "/sub/deeper/c.pdf");
    std::ofstream(in_ + "/sub/notes.txt") << "not a PDF";
  }
  // A converter stand-in: hangs on names with "hang", dies on "crash", is slow on "slow",
  // and hands every other file to the real converter.
  std::string Wrapper() {
    const std::string path = dir_.File("wrapper.sh",
                     "#!/bin/sh\n"
                     "case \"$*\" in *hang*) exec sleep 60;; *crash*) kill -SEGV $$;; *slow*) sleep 0.4;; esac\n"
                     "exec " + Quote(kConvert) + " \"$@\"\n");
    fs::permissions(path, fs::perms::owner_exec, fs::perm_options::add);
    return path;
  }
  ksshell::RunResult Batch(const std::string& args) {
    return Shell(Quote(kConvert) + " --batch " + args + " -o " + Quote(out_) + " 2>" + Quote(dir_.Path("stderr")));
  }
};

TEST_F(BatchTest, FoldersAndListsConvertUnderTheirRelativePaths) {
  const std::string list = dir_.File("list.txt", "# a list file\n" + kCorpus + "/qpdf_gen1.pdf\n\n");
  const auto result = Batch("--jobs=2 --pdf-version=1.4 --list=" + Quote(list) + " " + Quote(in_));
  // c.pdf holds optional content, which 1.4 does not know: converted with that warning.
  EXPECT_EQ(result.status, 3) << Shell("cat " + Quote(dir_.Path("stderr"))).out;
  for (const char* name : {"a.pdf", "sub/b.PDF", "sub/deeper/c.pdf", "qpdf_gen1.pdf"}) {
    const std::string path = out_ + "/" + name;
    EXPECT_EQ(Shell("head -c 8 " + Quote(path)).out, "%PDF-1.4") << name;
    EXPECT_EQ(Shell("qpdf --check " + Quote(path) + " >/dev/null 2>&1; echo $?").out, "0\n") << name;
  }
  EXPECT_FALSE(fs::exists(out_ + "/sub/notes.txt"));
  const auto report = Report(out_ + "/pagewright-batch.jsonl");
  ASSERT_EQ(report.size(), 4u);
  const std::string& line = report.at(in_ + "/sub/deeper/c.pdf");
  EXPECT_NE(line.find("\"output\":\"" + out_ + "/sub/deeper/c.pdf\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"status\":3,\"warnings\":[\"PDF 1.4 does not support optional content (PDF 1.5), used on "
                      "page 1\"]"),
            std::string::npos)
      << line;
  EXPECT_NE(report.at(in_ + "/a.pdf").find("\"status\":0,\"warnings\":[]"), std::string::npos);
  EXPECT_NE(line.find("\"input_size\":" + std::to_string(fs::file_size(in_ + "/sub/deeper/c.pdf"))), std::string::npos);
  EXPECT_NE(line.find("\"output_size\":" + std::to_string(fs::file_size(out_ + "/sub/deeper/c.pdf"))),
            std::string::npos);

  // Run again: nothing is converted; an output that went missing is made again.
  fs::remove(out_ + "/a.pdf");
  EXPECT_EQ(Batch("--jobs=2 --pdf-version=1.4 --list=" + Quote(list) + " " + Quote(in_)).status, 0);
  // (the kept c.pdf is not converted again, so no warning this time)
  EXPECT_EQ(LineCount(out_ + "/pagewright-batch.jsonl"), 5u);
  EXPECT_TRUE(fs::exists(out_ + "/a.pdf"));
  EXPECT_NE(Shell("cat " + Quote(dir_.Path("stderr"))).out.find("1 converted (0 with warnings), 0 failed, 3 kept"),
            std::string::npos);
}

TEST_F(BatchTest, HangsCrashesAndFailuresAreReportedAndTheRestConverted) {
  fs::copy_file(in_ + "/a.pdf", in_ + "/hang.pdf");
  fs::copy_file(in_ + "/a.pdf", in_ + "/crash.pdf");
  std::ofstream(in_ + "/broken.pdf") << "%PDF-1.4\nnothing else";
  // Two inputs given by absolute path with one name would write one output.
  fs::create_directories(dir_.Path("other"));
  fs::copy_file(in_ + "/a.pdf", dir_.Path("other/a.pdf"));
  const auto started = std::chrono::steady_clock::now();
  const auto result = Batch("--jobs=2 --timeout=2 --converter=" + Quote(Wrapper()) + " " + Quote(in_) + " " +
                            Quote(dir_.Path("other/a.pdf")));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(result.status, 2);
  EXPECT_LT(seconds, 30);
  const auto report = Report(out_ + "/pagewright-batch.jsonl");
  ASSERT_EQ(report.size(), 7u);
  EXPECT_NE(report.at(in_ + "/hang.pdf").find("\"status\":2,\"error\":\"stopped after 2 s\""), std::string::npos);
  EXPECT_NE(report.at(in_ + "/crash.pdf").find("ended with signal 11"), std::string::npos);
  EXPECT_NE(report.at(in_ + "/broken.pdf").find("\"status\":2,\"error\":\""), std::string::npos);
  EXPECT_NE(report.at(dir_.Path("other/a.pdf")).find("writes the same output"), std::string::npos);
  for (const char* name : {"a.pdf", "sub/b.PDF", "sub/deeper/c.pdf"}) {
    EXPECT_NE(report.at(in_ + "/" + name).find("\"status\":0"), std::string::npos) << name;
    EXPECT_TRUE(fs::exists(out_ + "/" + name)) << name;
  }
  for (const char* name : {"hang.pdf", "crash.pdf", "broken.pdf"}) EXPECT_FALSE(fs::exists(out_ + "/" + name));
}

// Without a converter program, conversions run in workers the batch forks, several files
// each. A file that runs out of time or fails takes its worker down and new workers convert
// the rest; workers are renewed as files pass, and the outputs are those of the program.
TEST_F(BatchTest, WorkersTakenDownByAFileAreReplaced) {
  fs::create_directories(in_ + "/many");
  for (int i = 0; i < 70; ++i) fs::copy_file(in_ + "/a.pdf", in_ + "/many/" + std::to_string(i) + ".pdf");
  std::ofstream(in_ + "/broken.pdf") << "%PDF-1.4\nnothing else";
  // A page whose content takes seconds to compress at the maximum level.
  std::string content;
  for (int i = 0; content.size() < (16u << 20); ++i)
    content += std::to_string(i % 997) + " 0 0 " + std::to_string(i % 89) + " re f\n";
  ksfixture::PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  b.Stream(4, "", content);
  std::ofstream(in_ + "/slow.pdf", std::ios::binary) << b.Build("/Root 1 0 R");

  const auto result = Batch("--jobs=2 --timeout=1 --compress=flate --compression-level=3 --threads=1 " + Quote(in_));
  EXPECT_EQ(result.status, 2);
  const auto report = Report(out_ + "/pagewright-batch.jsonl");
  ASSERT_EQ(report.size(), 75u);
  EXPECT_NE(report.at(in_ + "/slow.pdf").find("\"status\":2,\"error\":\"stopped after 1 s\""), std::string::npos);
  EXPECT_NE(report.at(in_ + "/broken.pdf").find("\"status\":2,\"error\":\""), std::string::npos);
  EXPECT_FALSE(fs::exists(out_ + "/slow.pdf"));
  const std::string single = dir_.Path("single.pdf");
  const int singleStatus = Shell(Quote(kConvert) + " --quiet --compress=flate --compression-level=3 " +
                                 Quote(in_ + "/a.pdf") + " " + Quote(single)).status;
  ASSERT_TRUE(singleStatus == 0 || singleStatus == 3) << singleStatus;
  const std::string expected = ksfixture::ReadFile(single);
  for (int i = 0; i < 70; ++i) {
    const std::string name = "many/" + std::to_string(i) + ".pdf";
    EXPECT_NE(report.at(in_ + "/" + name).find("\"status\":" + std::to_string(singleStatus)), std::string::npos)
        << name;
    EXPECT_TRUE(ksfixture::ReadFile(out_ + "/" + name) == expected) << name;
  }
  // No worker is left behind ("[/]..." keeps pgrep's own command line from matching).
  EXPECT_EQ(Shell("pgrep -f -- " + Quote("[/]" + in_.substr(1)) + " >/dev/null").status, 1);
}

// A batch killed part-way keeps what it finished; started again it converts only the rest.
TEST_F(BatchTest, AKilledBatchResumesWithTheRest) {
  for (int i = 0; i < 8; ++i) fs::copy_file(in_ + "/a.pdf", in_ + "/slow" + std::to_string(i) + ".pdf");
  const std::string command = Quote(kConvert) + " --batch --jobs=1 --converter=" + Quote(Wrapper()) + " " +
                              Quote(in_) + " -o " + Quote(out_) + " 2>/dev/null";
  Shell("(" + command + ") & pid=$!; sleep 1.5; kill -KILL $pid; wait $pid 2>/dev/null; true");
  const std::string reportPath = out_ + "/pagewright-batch.jsonl";
  const size_t before = LineCount(reportPath);
  EXPECT_GT(before, 0u);
  EXPECT_LT(before, 11u);
  // What the killed run had not finished left no file behind, half-written or whole.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  size_t outputs = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out_))
    if (entry.path().extension() == ".pdf" || entry.path().extension() == ".PDF") ++outputs;
  // One more when the kill came between a conversion's end and its report line.
  EXPECT_GE(outputs, before);
  EXPECT_LE(outputs, before + 1);

  EXPECT_EQ(Shell(command + "; echo $?").out, "0\n");
  const auto report = Report(reportPath);
  EXPECT_EQ(report.size(), 11u);
  // Only the rest was converted: nothing twice but, at most, that one.
  EXPECT_LE(LineCount(reportPath), 11u + (outputs - before));
}

// Names are compared as they are written (with the .pdf the conversion appends), a report
// line parses whatever bytes a name holds, and a rerun never takes the outputs for inputs.
TEST_F(BatchTest, OutputsAreNamedAsWrittenAndNeverTakenForInputs) {
  fs::copy_file(in_ + "/a.pdf", in_ + "/x");
  fs::copy_file(in_ + "/a.pdf", in_ + "/x.pdf");
  const std::string odd = in_ + "/odd\xff\xc3(.pdf";  // bytes that are no UTF-8
  fs::copy_file(in_ + "/a.pdf", odd);
  out_ = in_ + "/out";
  const std::string args = "--jobs=2 " + Quote(in_ + "/x") + " " + Quote(in_ + "/x.pdf") + " " + Quote(in_);
  EXPECT_EQ(Batch(args).status, 2);
  const std::string report = out_ + "/pagewright-batch.jsonl";
  // Every line is JSON, and the odd name comes back byte for byte.
  const std::string parsed = Shell("python3 -c 'import json,sys\nfor l in open(sys.argv[1], encoding=\"utf-8\"): "
                                   "r = json.loads(l); print(r[\"status\"], r[\"output_size\"], "
                                   "r[\"input\"].encode(\"utf-8\", \"surrogateescape\").hex())' " +
                                   Quote(report))
                                 .out;
  EXPECT_NE(parsed.find(" " + HexOf(odd)), std::string::npos) << parsed;
  EXPECT_EQ(parsed.find("18446744073709551615"), std::string::npos) << parsed;
  const auto lines = Report(report);
  EXPECT_NE(lines.at(in_ + "/x.pdf").find("writes the same output"), std::string::npos) << lines.at(in_ + "/x.pdf");
  EXPECT_TRUE(fs::exists(out_ + "/x.pdf"));
  // A rerun over the folder that holds the outputs converts nothing new.
  EXPECT_EQ(Batch(args).status, 2);
  EXPECT_FALSE(fs::exists(out_ + "/out"));
  EXPECT_EQ(Shell("grep -c " + Quote("\"input\":\"" + out_) + " " + Quote(report)).out, "0\n");
}

// A file that needs more memory than the limit is reported as such, and the others are
// converted by new workers.
TEST_F(BatchTest, AMemoryLimitHitIsReportedAsSuch) {
  if (KS_ADDRESS_SANITIZED) GTEST_SKIP() << "sanitizer builds set no address-space limit";
  EXPECT_EQ(Batch("--jobs=1 --memory-limit=5 " + Quote(in_ + "/a.pdf")).status, 2);
  const auto report = Report(out_ + "/pagewright-batch.jsonl");
  EXPECT_NE(report.at(in_ + "/a.pdf").find("the conversion ran out of its memory limit (5 MiB)"), std::string::npos)
      << report.at(in_ + "/a.pdf");
}

TEST_F(BatchTest, WrongUsageConvertsNothing) {
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {"--pdf-version=9 " + Quote(in_), "unknown PDF version '9'"},
      {"--info " + Quote(in_), "--info does not go with --batch"},
      {"--jobs=0 " + Quote(in_), "--jobs takes a number of 1 to 1024"},
      {"", "--batch needs input files, folders or --list"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Batch(c.args).status, 1) << c.args;
    EXPECT_NE(Shell("cat " + Quote(dir_.Path("stderr"))).out.find(c.message), std::string::npos) << c.args;
    EXPECT_FALSE(fs::exists(out_)) << c.args;
  }
  EXPECT_EQ(Shell(Quote(kConvert) + " --batch " + Quote(in_) + " 2>&1 >/dev/null | head -1").out,
            "pagewright-convert: --batch needs the output folder: -o OUTDIR\n");
}

}  // namespace
