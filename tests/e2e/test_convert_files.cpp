// The command-line converter and the file system around it: a save interrupted by
// SIGINT, SIGTERM or SIGHUP, a source cut short by another program while it is read,
// and file names that lead to no file.
//
// A run is held at an exact point by its own progress output: stderr is a pipe in packet
// mode with room for one write, so once this test stops reading, the converter blocks
// on its next line but one. What the test does then (a signal, a truncation) happens at
// that point of the run, whatever the machine's speed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ksFixture.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "pw-files-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Starts the converter with args; its stdout and stdin are /dev/null (stdin: the given
// file), its stderr the write end of pipe (closed here once the child has it).
pid_t Spawn(const std::vector<std::string>& args, int stderrFd, const std::string& stdinPath = "/dev/null") {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int in = open(stdinPath.c_str(), O_RDONLY);
  int null = open("/dev/null", O_WRONLY);
  if (in < 0 || null < 0 || dup2(in, 0) < 0 || dup2(null, 1) < 0 || dup2(stderrFd, 2) < 0) _exit(126);
  std::vector<char*> argv{const_cast<char*>(PW_CONVERT_EXE)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(PW_CONVERT_EXE, argv.data());
  _exit(127);
}

// A converter run that can be held at a line of its progress output.
class HeldRun {
 public:
  explicit HeldRun(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_DIRECT | O_CLOEXEC) != 0 || fcntl(fds[1], F_SETPIPE_SZ, 4096) < 0) return;
    pid_ = Spawn(args, fds[1]);
    close(fds[1]);
    read_ = fds[0];
  }
  ~HeldRun() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (read_ >= 0) close(read_);
  }
  pid_t pid() const { return pid_; }

  // Reads lines up to and including line. The converter then goes on until it is
  // blocked writing the line after the next one. False when it ended first.
  bool ReadThrough(const std::string& line) {
    char buf[4096];
    for (;;) {
      ssize_t n = read(read_, buf, sizeof buf);  // one write of the converter
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      text_.append(buf, static_cast<size_t>(n));
      if (std::string(buf, static_cast<size_t>(n)) == line + "\n") break;
    }
    // Blocked in the pipe (sleeping) is the one way it waits; seen twice to be sure.
    for (int seen = 0, i = 0; seen < 2 && i < 1000; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      seen = State() == 'S' ? seen + 1 : 0;
    }
    return State() == 'S';
  }

  // Lets the converter go on to its end; its wait status.
  int Finish() {
    char buf[4096];
    ssize_t n;
    while ((n = read(read_, buf, sizeof buf)) != 0) {
      if (n < 0 && errno != EINTR) break;
      if (n > 0) text_.append(buf, static_cast<size_t>(n));
    }
    return Wait();
  }
  int Wait() {
    if (status_ < 0) waitpid(pid_, &status_, 0);
    return status_;
  }
  // Everything read from its stderr.
  const std::string& text() const { return text_; }

  // The size of the file the converter is writing in folder without a name yet
  // ("FOLDER/#INODE (deleted)" in /proc); -1 when there is none.
  int64_t UnnamedOutputSize(const std::string& folder) const {
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid_) + "/fd")) {
      std::error_code ec;
      const std::string target = fs::read_symlink(e.path(), ec).string();
      if (ec || target.rfind(folder + "/#", 0) != 0) continue;
      struct stat st;
      if (stat(e.path().c_str(), &st) == 0) return st.st_size;
    }
    return -1;
  }

 private:
  char State() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = all.rfind(')');
    return close == std::string::npos || close + 2 >= all.size() ? '?' : all[close + 2];
  }

  pid_t pid_ = -1;
  int read_ = -1;
  int status_ = -1;
  std::string text_;
};

// A source of 400 pages: small content streams read from the mapping, large images
// copied from file to file by the kernel (about 19 MB in all). Made once.
const std::string& LargeSource() {
  static const std::string bytes = ksfixture::ManyPages(400, 8000, 4, 160000);
  return bytes;
}

// The file the run would replace: larger than a partial output could be made to fit.
std::string PreviousOutput() {
  std::string old = "%PDF-1.4\n% the previous output\n";
  while (old.size() < 64 * 1024) old += "previous " + std::to_string(old.size()) + "\n";
  return old;
}

struct SignalPoint {
  const char* readThrough;  // the converter is held two lines after this one
  int signal;
};

void PrintTo(const SignalPoint& p, std::ostream* os) { *os << sigabbrev_np(p.signal) << " after " << p.readThrough; }

class ConvertInterrupted : public testing::TestWithParam<SignalPoint> {};

// Only the previous output survives, byte for byte: the new one has no name until it is
// complete, and the signal still ends the converter as it would have.
TEST_P(ConvertInterrupted, OnlyThePreviousOutputSurvives) {
  const SignalPoint& p = GetParam();
  TempDir dir;
  WriteFile(dir / "source.pdf", LargeSource());
  const std::string old = PreviousOutput();
  WriteFile(dir / "out.pdf", old);
  const std::string readThrough =
      std::string(p.readThrough) == "Saving File" ? "Saving File " + (dir / "out.pdf") : p.readThrough;

  HeldRun run({"--progress", dir / "source.pdf", dir / "out.pdf"});
  ASSERT_GT(run.pid(), 0);
  ASSERT_TRUE(run.ReadThrough(readThrough)) << run.text();
  const int64_t written = run.UnnamedOutputSize(dir.path());
  EXPECT_GE(written, 0) << "no output being written at this point";
  if (std::string(p.readThrough) == "99%") {
    EXPECT_GT(written, 1 << 20);
  }
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"out.pdf", "source.pdf"}));

  ASSERT_EQ(kill(run.pid(), p.signal), 0);
  const int status = run.Wait();
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status << "\n" << run.text();
  EXPECT_EQ(WTERMSIG(status), p.signal);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"out.pdf", "source.pdf"}));
  EXPECT_TRUE(ksfixture::ReadFile(dir / "out.pdf") == old) << "the previous output changed";
}

std::vector<SignalPoint> SignalPoints() {
  std::vector<SignalPoint> points;
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    for (const char* at : {"Saving File", "Writing Pages", "50%", "99%"}) points.push_back({at, sig});
  return points;
}

INSTANTIATE_TEST_SUITE_P(Points, ConvertInterrupted, testing::ValuesIn(SignalPoints()),
                         [](const testing::TestParamInfo<SignalPoint>& info) {
                           std::string name = std::string(sigabbrev_np(info.param.signal)) + "_" + info.param.readThrough;
                           for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

struct CutPoint {
  const char* readThrough;
  size_t keep;  // bytes of the source left; SIZE_MAX: half of it
  bool compress;
};

void PrintTo(const CutPoint& p, std::ostream* os) {
  *os << "cut to " << (p.keep == SIZE_MAX ? std::string("half") : std::to_string(p.keep)) << " after "
      << p.readThrough << (p.compress ? " (compressing)" : "");
}

class ConvertSourceCutShort : public testing::TestWithParam<CutPoint> {};

// Exit 2 with the reason, no signal, nothing left behind, the previous output intact.
TEST_P(ConvertSourceCutShort, FailsWithTheReasonAndLeavesNothing) {
  const CutPoint& p = GetParam();
  TempDir dir;
  const std::string source = dir / "source.pdf";
  WriteFile(source, LargeSource());
  const std::string old = PreviousOutput();
  WriteFile(dir / "out.pdf", old);

  std::vector<std::string> args{"--progress", source, dir / "out.pdf"};
  if (p.compress) args.insert(args.begin(), {"--compress=flate", "--compression-level=1"});
  HeldRun run(args);
  ASSERT_GT(run.pid(), 0);
  ASSERT_TRUE(run.ReadThrough(p.readThrough)) << run.text();
  fs::resize_file(source, p.keep == SIZE_MAX ? LargeSource().size() / 2 : p.keep);
  const int status = run.Finish();
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << run.text();
  EXPECT_EQ(WEXITSTATUS(status), 2) << run.text();
  const std::string expected = "pagewright-convert: The file \"" + source + "\" was changed while it was read\n";
  EXPECT_TRUE(run.text().size() >= expected.size() &&
              run.text().compare(run.text().size() - expected.size(), expected.size(), expected) == 0)
      << run.text();
  EXPECT_EQ(run.text().find("Save Complete"), std::string::npos);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"out.pdf", "source.pdf"}));
  EXPECT_TRUE(ksfixture::ReadFile(dir / "out.pdf") == old) << "the previous output changed";
}

INSTANTIATE_TEST_SUITE_P(Load, ConvertSourceCutShort,
                         testing::Values(CutPoint{"Reading Cross-Reference Table", 0, false},
                                         CutPoint{"Traversing Pages...", SIZE_MAX, false},
                                         CutPoint{"Processing Annotations...", 100000, false}));
INSTANTIATE_TEST_SUITE_P(Save, ConvertSourceCutShort,
                         testing::Values(CutPoint{"Writing Pages", 0, false}, CutPoint{"50%", SIZE_MAX, false},
                                         CutPoint{"Writing Pages", 20000, true}, CutPoint{"50%", SIZE_MAX, true},
                                         CutPoint{"99%", 1000, true}));

struct Outcome {
  int status;
  std::string text;  // stderr and stdout
};

Outcome Convert(const std::vector<std::string>& args, const std::string& stdinPath = "/dev/null") {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {-1, ""};
  pid_t pid = Spawn(args, fds[1], stdinPath);
  close(fds[1]);
  Outcome r{-1, ""};
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) r.text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

// Streams compressed on worker threads come out as the writer alone writes them: the
// same bytes for any number of threads, whatever the order the workers finish in.
TEST(ConvertCompressedOnThreads, TheOutputIsTheSameForAnyThreadCount) {
  // Pages whose content streams (text, of sizes around the size compressed ahead) and
  // images (soft gradients) are stored without a filter.
  ksfixture::PdfBuilder b;
  std::string kids;
  const int pages = 30;
  for (int i = 0; i < pages; ++i) {
    const int page = 3 + 3 * i, content = page + 1, image = page + 2;
    std::string text;
    for (int line = 0; text.size() < size_t(4000 + 2500 * i); ++line)
      text += "BT /F1 " + std::to_string(8 + line % 5) + " Tf 72 " + std::to_string(720 - line % 60 * 11) +
              " Td (Page " + std::to_string(i + 1) + ", line " + std::to_string(line) + ") Tj ET\n";
    text += "q 100 0 0 100 300 300 cm /Im0 Do Q\n";
    std::string pixels(200 * 200 * 3, '\0');
    for (size_t k = 0; k < pixels.size(); ++k) pixels[k] = static_cast<char>((k / 3 % 200 + k / 600 + i * 9) & 0xFF);
    b.Stream(image, "/Type /XObject /Subtype /Image /Width 200 /Height 200 /ColorSpace /DeviceRGB /BitsPerComponent 8",
             pixels);
    b.Object(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(content) +
                       " 0 R /Resources << /XObject << /Im0 " + std::to_string(image) + " 0 R >> >> >>");
    b.Stream(content, "", text);
    kids += std::to_string(page) + " 0 R ";
  }
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  TempDir dir;
  const std::string source = dir / "source.pdf";
  WriteFile(source, b.Build("/Root 1 0 R"));
  std::string single;
  for (const char* threads : {"1", "2", "5"}) {
    SCOPED_TRACE(std::string("--threads=") + threads);
    const std::string out = dir / (std::string("out") + threads + ".pdf");
    const Outcome r = Convert({"--compress=flate", std::string("--threads=") + threads, source, out});
    ASSERT_EQ(r.status, 0) << r.text;
    const std::string bytes = ksfixture::ReadFile(out);
    if (single.empty()) {
      single = bytes;
      EXPECT_LT(bytes.size(), fs::file_size(source) / 4) << "the streams were not compressed";
      EXPECT_EQ(std::system(("qpdf --check '" + out + "' >/dev/null 2>&1").c_str()), 0);
    } else {
      EXPECT_TRUE(bytes == single) << "differs from the output of one thread";
    }
  }
  EXPECT_EQ(Convert({"--threads=0", source, dir / "x.pdf"}).status, 1);
}

// An input is opened by its own name; names that are no file are refused with what
// they are; an empty name is a usage error; an output link writes where it leads.
TEST(ConvertFileNames, EachNameIsTakenForWhatItIs) {
  TempDir dir;
  const std::string pdf = ksfixture::ManyPages(2, 100);
  WriteFile(dir / "scan", pdf);
  WriteFile(dir / "in.pdf", pdf);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir / "folder");
  WriteFile(dir / "locked.pdf", "locked");
  ASSERT_EQ(chmod((dir / "locked.pdf").c_str(), 0444), 0);
  WriteFile(dir / "target.pdf", "old");
  fs::create_symlink("target.pdf", dir / "link.pdf");

  const struct {
    std::vector<std::string> args;
    int status;
    std::string text;  // the first line of the output
    std::string written;  // a file that must hold a PDF afterwards
    std::string stdinPath = "/dev/null";
  } cases[] = {
      {{dir / "scan", dir / "out"}, 0, "", dir / "out.pdf"},
      {{"/dev/stdin", dir / "from-stdin.pdf"}, 0, "", dir / "from-stdin.pdf", dir / "in.pdf"},
      {{dir / "in.pdf", dir / "link.pdf"}, 0, "", dir / "target.pdf"},
      {{dir / "in.pdf", ""}, 1, "pagewright-convert: the output file name is empty", ""},
      {{"", dir / "out.pdf"}, 1, "pagewright-convert: the input file name is empty", ""},
      {{"--info", ""}, 1, "pagewright-convert: the file name is empty", ""},
      {{dir / "in.pdf", "/dev/null"}, 2, "pagewright-convert: /dev/null is not a regular file", ""},
      {{dir / "in.pdf", dir / "folder"}, 2, "pagewright-convert: " + (dir / "folder") + " is a directory", ""},
      {{dir / "folder", dir / "out.pdf"}, 2, "pagewright-convert: " + (dir / "folder") + " is a directory", ""},
      {{dir / "fifo", dir / "out.pdf"}, 2, "pagewright-convert: " + (dir / "fifo") + " is not a regular file", ""},
      {{dir / "in.pdf", dir / "locked.pdf"}, 2,
       "pagewright-convert: " + (dir / "locked.pdf") + " is read-only; it was not replaced", ""},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += "'" + a + "' ";
    if (!c.written.empty()) fs::remove(c.written);
    Outcome r = Convert(c.args, c.stdinPath);
    EXPECT_EQ(r.status, c.status) << shown << "\n" << r.text;
    EXPECT_EQ(r.text.substr(0, r.text.find('\n')), c.text) << shown;
    if (!c.written.empty()) {
      EXPECT_EQ(ksfixture::ReadFile(c.written).substr(0, 8), "%PDF-1.4") << shown;
    }
  }
  EXPECT_TRUE(fs::is_symlink(dir / "link.pdf"));
  EXPECT_EQ(ksfixture::ReadFile(dir / "locked.pdf"), "locked");
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"fifo", "folder", "from-stdin.pdf", "in.pdf", "link.pdf",
                                                   "locked.pdf", "out.pdf", "scan", "target.pdf"}));
}

}  // namespace
