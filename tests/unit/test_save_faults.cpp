// Saves that the system cuts short: a file system that runs out of space, a file-size
// limit, a process killed in the middle of a save. Each must leave the file it would
// have replaced byte for byte as it was, and no temporary file: the new file has no name
// until it is complete. The faults are real: a forked child under RLIMIT_FSIZE, a small
// tmpfs (root only), SIGKILL.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "ksFixture.h"

namespace fs = std::filesystem;
using testing::StrEq;

namespace {

// A one-page document holding a stream of size bytes (patterned, so nothing in the way
// could shrink it).
void BuildDocument(TksCustomPDFDocument& doc, size_t size) {
  doc.ShowSetupDialog = false;
  auto page = std::make_unique<TksPDFDictObject>();
  page->AddName("/Type", "/Page");
  page->AddObject("/Contents", std::make_unique<TksPDFIndirectReference>(doc.DocumentID, 2, 0));
  doc.Pages.push_back(doc.Store->Add(std::make_unique<TksPDFIndirectObject>(doc.DocumentID, 1, 0, std::move(page), 1)));
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 2654435761u) >> 13);
  auto stream = std::make_unique<TksPDFStreamObject>();
  stream->Data->LoadFromBytes(data);
  doc.Store->Add(std::make_unique<TksPDFIndirectObject>(doc.DocumentID, 2, 0, std::move(stream), 1));
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// What a child process reports: how it ended and the text it sent up a pipe.
struct ChildResult {
  int status = -1;
  std::string text;
};

// Runs body in a forked child; its return value becomes the exit code, and whatever it
// writes to the descriptor it is given reaches the parent. The child leaves through
// _exit, so nothing of the test framework runs twice.
template <class F>
ChildResult InChild(F body) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    _exit(body(fds[1]));
  }
  close(fds[1]);
  ChildResult r;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) r.text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

void Send(int fd, const std::string& text) { (void)!write(fd, text.data(), text.size()); }

// Saves a document of size bytes over target in a child: exit 0 with the message of
// the EFWriteError raised, 1 when the save went through, 2 for any other exception.
ChildResult SaveInChild(const std::string& target, size_t size, rlim_t fileSizeLimit) {
  return InChild([&](int fd) {
    if (fileSizeLimit != RLIM_INFINITY) {
      // Past the limit write() then fails with EFBIG instead of killing the process.
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{fileSizeLimit, fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
    }
    try {
      TksCustomPDFDocument doc;
      BuildDocument(doc, size);
      doc.SaveToFile(target, 2);
      return 1;
    } catch (const EFWriteError& e) {
      Send(fd, e.what());
      return 0;
    } catch (const std::exception& e) {
      Send(fd, e.what());
      return 2;
    }
  });
}

class SaveFaultTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pw-fault-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
    fs::remove_all(dir_);
  }
  // The previous file: bigger than what the faults allow, so a save that wrote over it
  // in place could not have kept it.
  std::string Previous() const {
    std::string old = "%PDF-1.4\n% the previous version\n";
    while (old.size() < 96 * 1024) old += "previous contents " + std::to_string(old.size()) + "\n";
    return old;
  }

  std::string dir_;
  bool mounted_ = false;
};

TEST_F(SaveFaultTest, FileSizeLimitFailsClearlyAndKeepsThePreviousFile) {
  const std::string target = dir_ + "/doc.pdf";
  const std::string old = Previous();
  WriteFile(target, old);
  ChildResult r = SaveInChild(target, 4 << 20, 64 * 1024);
  ASSERT_EQ(r.status, 0) << r.text;
  EXPECT_THAT(r.text, StrEq("Cannot write to file \"" + target + "\". File too large"));
  EXPECT_EQ(ksfixture::ReadFile(target), old);
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"doc.pdf"});

  // Without a previous file the failure leaves nothing behind.
  const std::string fresh = dir_ + "/fresh.pdf";
  r = SaveInChild(fresh, 4 << 20, 64 * 1024);
  ASSERT_EQ(r.status, 0) << r.text;
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"doc.pdf"});

  // The same save under no limit goes through: the limit, not the document, failed it.
  r = SaveInChild(target, 4 << 20, RLIM_INFINITY);
  EXPECT_EQ(r.status, 1) << r.text;
  EXPECT_GT(fs::file_size(target), size_t{4} << 20);
}

TEST_F(SaveFaultTest, FullFileSystemFailsClearlyAndKeepsThePreviousFile) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  if (mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=1m,mode=0700") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  mounted_ = true;
  const std::string target = dir_ + "/doc.pdf";
  const std::string old = Previous();
  WriteFile(target, old);
  ASSERT_EQ(ksfixture::ReadFile(target), old);
  ChildResult r = SaveInChild(target, 4 << 20, RLIM_INFINITY);
  ASSERT_EQ(r.status, 0) << r.text;
  EXPECT_THAT(r.text, StrEq("Cannot write to file \"" + target + "\". No space left on device"));
  EXPECT_EQ(ksfixture::ReadFile(target), old);
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"doc.pdf"});

  // Once the space is there, the same save replaces the file.
  r = SaveInChild(target, 256 * 1024, RLIM_INFINITY);
  EXPECT_EQ(r.status, 1) << r.text;
  EXPECT_EQ(ksfixture::ReadFile(target).substr(0, 8), "%PDF-1.4");
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"doc.pdf"});
}

// The file a process is writing in folder without giving it a name (opened with
// O_TMPFILE: /proc shows it as "FOLDER/#INODE (deleted)"), and its size; -1 when there
// is none.
int64_t UnnamedFileSize(pid_t pid, const std::string& folder) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& e : fs::directory_iterator(fds)) {
    std::error_code ec;
    const std::string target = fs::read_symlink(e.path(), ec).string();
    if (ec || target.rfind(folder + "/#", 0) != 0 || target.find(" (deleted)") == std::string::npos) continue;
    struct stat st;
    if (stat(e.path().c_str(), &st) == 0) return st.st_size;
  }
  return -1;
}

// A save killed at a given point: the child stops itself there (so the point is met
// exactly, whatever the machine's speed), the parent checks that the new file is being
// written, unseen beside the target, and kills it. Nothing of it survives.
class SaveKilledTest : public SaveFaultTest, public testing::WithParamInterface<const char*> {};

TEST_P(SaveKilledTest, ThePreviousFileIsIntactAndAlone) {
  const std::string target = dir_ + "/doc.pdf";
  const std::string old = Previous();
  WriteFile(target, old);
  const std::string stopAt = GetParam();
  const size_t size = 48 << 20;

  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    TksCustomPDFDocument doc;
    BuildDocument(doc, size);
    doc.OnStatusMessage = [&](TksCustomPDFDocument*, const std::string& m) {
      if (m == stopAt) raise(SIGSTOP);
    };
    try {
      doc.SaveToFile(target, 2);
    } catch (...) {
      _exit(2);
    }
    _exit(1);
  }
  int st = 0;
  ASSERT_EQ(waitpid(pid, &st, WUNTRACED), pid);
  if (!WIFSTOPPED(st)) {
    FAIL() << "the save ended before it reached \"" << stopAt << "\"";
  }
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"doc.pdf"});
  const int64_t written = UnnamedFileSize(pid, dir_);
  EXPECT_GE(written, 0) << "no unnamed file open in " << dir_;
  if (stopAt == std::string("Writing Cross-Reference Table")) {
    EXPECT_GT(written, static_cast<int64_t>(size));
  }
  kill(pid, SIGKILL);
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL);

  EXPECT_EQ(ksfixture::ReadFile(target), old);
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"doc.pdf"});
}

INSTANTIATE_TEST_SUITE_P(Points, SaveKilledTest,
                         testing::Values("Building Objects...", "Writing Pages", "Writing Cross-Reference Table"));

}  // namespace
