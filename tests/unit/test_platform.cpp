// What the platform layer gives the engine for files: output files that appear only when
// complete (unnamed while written, or named and removed on SIGINT, SIGTERM and SIGHUP),
// the end of a chain of symbolic links, and a mapped input that survives being cut short.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "ksFixture.h"
#include "ksPlatform.h"

namespace fs = std::filesystem;
using ksplatform::OutputFile;

namespace {

class PlatformFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pw-platform-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static void WriteTo(const OutputFile& file, const std::string& bytes) {
    ASSERT_EQ(write(file.fd(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  std::string dir_;
};

// Both ways of writing (no name while written; a hidden temporary name where the file
// system has no unnamed files) keep the same promise.
class OutputFileTest : public PlatformFileTest, public testing::WithParamInterface<OutputFile::Naming> {};

TEST_P(OutputFileTest, TheTargetChangesOnlyWhenTheNewFileIsPublished) {
  const std::string target = Path("doc.pdf");
  Write(target, "previous");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  {
    OutputFile file(target, GetParam());
    EXPECT_TRUE(file.Replacing());
    WriteTo(file, "new contents");
    if (GetParam() == OutputFile::onUnnamedWhereSupported) {
      // ext4, tmpfs, xfs and btrfs all have unnamed files: nothing shows beside the target.
      EXPECT_TRUE(file.Unnamed());
      EXPECT_EQ(Files(), std::vector<std::string>{"doc.pdf"});
    } else {
      EXPECT_FALSE(file.Unnamed());
      EXPECT_EQ(file.TemporaryName().rfind(Path(".doc.pdf."), 0), 0u) << file.TemporaryName();
      EXPECT_EQ(file.TemporaryName().substr(file.TemporaryName().size() - 6), ".pwtmp");
      EXPECT_EQ(Files().size(), 2u);
    }
    EXPECT_EQ(ksfixture::ReadFile(target), "previous");
    file.Close(true);
    EXPECT_EQ(ksfixture::ReadFile(target), "previous");
    file.Publish();
  }
  EXPECT_EQ(ksfixture::ReadFile(target), "new contents");
  EXPECT_EQ(Files(), std::vector<std::string>{"doc.pdf"});
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_P(OutputFileTest, AFileNeverPublishedLeavesNothing) {
  const std::string target = Path("doc.pdf");
  Write(target, "previous");
  {
    OutputFile file(target, GetParam());
    WriteTo(file, "half a file");
  }
  EXPECT_EQ(ksfixture::ReadFile(target), "previous");
  EXPECT_EQ(Files(), std::vector<std::string>{"doc.pdf"});

  {
    OutputFile file(Path("new.pdf"), GetParam());
    EXPECT_FALSE(file.Replacing());
    WriteTo(file, "half a file");
    file.Close(false);
  }
  EXPECT_EQ(Files(), std::vector<std::string>{"doc.pdf"});
}

TEST_P(OutputFileTest, ANewTargetAppearsWhole) {
  const std::string target = Path("new.pdf");
  OutputFile file(target, GetParam());
  WriteTo(file, "whole");
  file.Close(false);
  EXPECT_FALSE(fs::exists(target));
  file.Publish();
  EXPECT_EQ(ksfixture::ReadFile(target), "whole");
  EXPECT_EQ(Files(), std::vector<std::string>{"new.pdf"});

  // A file that appears under the name while the new one is written is replaced, as a
  // target present from the start would be.
  OutputFile late(Path("late.pdf"), GetParam());
  WriteTo(late, "mine");
  late.Close(false);
  Write(Path("late.pdf"), "someone else's");
  late.Publish();
  EXPECT_EQ(ksfixture::ReadFile(Path("late.pdf")), "mine");
  EXPECT_EQ(Files(), (std::vector<std::string>{"late.pdf", "new.pdf"}));
}

TEST_P(OutputFileTest, AFolderThatIsMissingFailsWithItsReason) {
  try {
    OutputFile file(Path("missing/doc.pdf"), GetParam());
    ADD_FAILURE() << "created";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ENOENT);
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, OutputFileTest, testing::Values(OutputFile::onUnnamedWhereSupported, OutputFile::onNamed),
                         [](const testing::TestParamInfo<OutputFile::Naming>& info) {
                           return std::string(info.param == OutputFile::onNamed ? "Named" : "Unnamed");
                         });

// A process ended by a signal while its named temporary file is written: the handler
// removes the file, and the process still ends by that signal. The child tells the
// parent through a pipe once it has written, then waits.
class TemporaryFileSignalTest : public PlatformFileTest, public testing::WithParamInterface<int> {};

TEST_P(TemporaryFileSignalTest, TheSignalRemovesTheTemporaryFileAndEndsTheProcess) {
  const int sig = GetParam();
  const std::string target = Path("doc.pdf");
  const std::string previous(200000, 'p');
  Write(target, previous);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(ready[0]);
    OutputFile file(target, OutputFile::onNamed);
    const std::string data(1 << 20, 'n');
    if (write(file.fd(), data.data(), data.size()) != static_cast<ssize_t>(data.size())) _exit(3);
    const std::string name = file.TemporaryName() + "\n";
    if (write(ready[1], name.data(), name.size()) < 0) _exit(3);
    for (;;) pause();
  }
  close(ready[1]);
  std::string name;
  char c;
  while (read(ready[0], &c, 1) == 1 && c != '\n') name.push_back(c);
  close(ready[0]);
  ASSERT_FALSE(name.empty()) << "the child did not get to write";
  EXPECT_EQ(fs::file_size(name), size_t{1} << 20);
  ASSERT_EQ(kill(pid, sig), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), sig);
  EXPECT_EQ(Files(), std::vector<std::string>{"doc.pdf"});
  EXPECT_EQ(ksfixture::ReadFile(target), previous);
}

INSTANTIATE_TEST_SUITE_P(Signals, TemporaryFileSignalTest, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(PlatformFileTest, FollowLinksEndsAtTheFileTheChainNames) {
  fs::create_directory(Path("sub"));
  Write(Path("sub/real.pdf"), "real");
  fs::create_symlink("sub/real.pdf", Path("relative"));           // relative to the link's folder
  fs::create_symlink(Path("relative"), Path("sub/absolute"));      // a link to a link
  fs::create_symlink("../sub/real.pdf", Path("sub/up"));
  fs::create_symlink("nowhere.pdf", Path("sub/dangling"));
  fs::create_symlink("loop-b", Path("loop-a"));
  fs::create_symlink("loop-a", Path("loop-b"));
  EXPECT_EQ(ksplatform::FollowLinks(Path("sub/real.pdf")), Path("sub/real.pdf"));
  EXPECT_EQ(ksplatform::FollowLinks(Path("relative")), Path("sub/real.pdf"));
  EXPECT_EQ(ksplatform::FollowLinks(Path("sub/absolute")), Path("sub/real.pdf"));
  EXPECT_EQ(ksplatform::FollowLinks(Path("sub/up")), Path("sub/../sub/real.pdf"));
  EXPECT_EQ(ksplatform::FollowLinks(Path("sub/dangling")), Path("sub/nowhere.pdf"));
  EXPECT_EQ(ksplatform::FollowLinks(Path("absent.pdf")), Path("absent.pdf"));
  try {
    ksplatform::FollowLinks(Path("loop-a"));
    ADD_FAILURE() << "a loop was followed to an end";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ELOOP);
  }
}

TEST_F(PlatformFileTest, KindOfFileTellsFilesFromTheRest) {
  Write(Path("file"), "x");
  ASSERT_EQ(chmod(Path("file").c_str(), 0444), 0);
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  uint32_t mode = 0;
  EXPECT_EQ(ksplatform::KindOfFile(Path("file"), &mode), ksplatform::fkRegular);
  EXPECT_EQ(mode, 0444u);
  EXPECT_EQ(ksplatform::KindOfFile(dir_), ksplatform::fkDirectory);
  EXPECT_EQ(ksplatform::KindOfFile(Path("fifo")), ksplatform::fkOther);
  EXPECT_EQ(ksplatform::KindOfFile("/dev/null"), ksplatform::fkOther);
  EXPECT_EQ(ksplatform::KindOfFile(Path("absent")), ksplatform::fkMissing);
  EXPECT_EQ(ksplatform::KindOfFile(Path("file/below")), ksplatform::fkMissing);
}

// Another program cuts the mapped file short: the pages it lost read as zeros instead of
// ending the process with SIGBUS, and the file says it was cut short.
TEST_F(PlatformFileTest, AMappedFileCutShortReadsZerosAndSaysSo) {
  std::string bytes(1 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(1 + i % 251);
  Write(Path("source"), bytes);
  ksplatform::MappedFile file(Path("source"));
  ASSERT_EQ(file.size(), bytes.size());
  EXPECT_EQ(file.data()[700000], static_cast<uint8_t>(bytes[700000]));
  EXPECT_FALSE(file.Faulted());

  fs::resize_file(Path("source"), 100000);
  EXPECT_FALSE(file.Unchanged());  // the size says so before any page is touched
  EXPECT_EQ(file.data()[50], static_cast<uint8_t>(bytes[50]));  // what the file still holds is still there
  EXPECT_EQ(file.data()[900000], 0);
  EXPECT_TRUE(file.Faulted());
  EXPECT_EQ(file.data()[700000], 0);
  EXPECT_EQ(file.data()[bytes.size() - 1], 0);
  file.ReleasePages();
  EXPECT_EQ(file.data()[800000], 0);
  EXPECT_FALSE(file.Unchanged());

  // Grown back to its old size, the file is still not what was read.
  fs::resize_file(Path("source"), bytes.size());
  EXPECT_FALSE(file.Unchanged());

  // Other mapped files are not disturbed.
  Write(Path("other"), bytes);
  ksplatform::MappedFile other(Path("other"));
  EXPECT_EQ(other.data()[900000], static_cast<uint8_t>(bytes[900000]));
  EXPECT_FALSE(other.Faulted());
  EXPECT_TRUE(other.Unchanged());
}

TEST_F(PlatformFileTest, OnlyRegularFilesAreMapped) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  for (const std::string& path : {Path("fifo"), dir_, std::string("/dev/null")}) {
    try {
      ksplatform::MappedFile file(path);
      ADD_FAILURE() << path << " was mapped";
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), testing::StrEq("Cannot open file \"" + path + "\". Not a regular file"));
    }
  }
}

}  // namespace
