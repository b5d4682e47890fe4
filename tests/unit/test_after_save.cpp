// What a save does besides writing: the desktop's opener started on the saved file (never
// waited for, always reaped, its absence or failure harmless) and the e-mail data the
// document carries for its caller.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "document/ksAddressList.h"
#include "document/ksCstPDFDoc.h"
#include "ksFixture.h"
#include "ksOpenFile.h"

namespace fs = std::filesystem;

namespace {

// A folder holding a stub xdg-open, put first on PATH for the test's lifetime; the stub
// appends "argc|arg1" to calls.txt and exits with the given status.
class StubOpener {
 public:
  explicit StubOpener(bool present = true, int exitStatus = 0) {
    std::string pattern = (fs::temp_directory_path() / "pw-open-XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ + "/bin");
    if (present) {
      const std::string stub = dir_ + "/bin/xdg-open";
      std::ofstream(stub) << "#!/bin/sh\nprintf '%s|%s\\n' \"$#\" \"$1\" >> '" << dir_ << "/calls.txt'\nexit "
                          << exitStatus << "\n";
      chmod(stub.c_str(), 0755);
    }
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    // Only the stub's folder and the shell's: a real opener elsewhere must not be found.
    setenv("PATH", (dir_ + "/bin:/bin:/usr/bin").c_str(), 1);
  }
  ~StubOpener() {
    setenv("PATH", oldPath_.c_str(), 1);
    fs::remove_all(dir_);
  }
  const std::string& Dir() const { return dir_; }
  // The calls recorded once count lines are there (or what is there after 10 s).
  std::string Calls(size_t count) const {
    std::string text;
    for (int i = 0; i < 1000; ++i) {
      text = ksfixture::ReadFile(dir_ + "/calls.txt");
      if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return text;
  }

 private:
  std::string dir_, oldPath_;
};

// Children of this process that still exist (running or not yet reaped).
int ChildProcesses() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    char state = 0;
    int ppid = 0;
    rest >> state >> ppid;
    if (ppid == getpid()) ++count;
  }
  return count;
}

bool NoChildrenWithin10s() {
  for (int i = 0; i < 1000; ++i) {
    if (ChildProcesses() == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(OpenWithDesktop, PassesTheAbsoluteNameAsOneArgumentAndReapsTheOpener) {
  StubOpener opener;
  const std::string absolute = opener.Dir() + "/a b;echo x.pdf";
  EXPECT_TRUE(ksplatform::OpenWithDesktop(absolute));
  EXPECT_EQ(opener.Calls(1), "1|" + absolute + "\n");

  // A relative name (even one that looks like an option) reaches the opener as a path.
  const fs::path before = fs::current_path();
  fs::current_path(opener.Dir());
  EXPECT_TRUE(ksplatform::OpenWithDesktop("-n.pdf"));
  fs::current_path(before);
  EXPECT_EQ(opener.Calls(2), "1|" + absolute + "\n1|" + opener.Dir() + "/-n.pdf\n");
  EXPECT_TRUE(NoChildrenWithin10s());
}

TEST(OpenWithDesktop, AMissingOrFailingOpenerIsHarmless) {
  {
    StubOpener missing(false);
    EXPECT_FALSE(ksplatform::OpenWithDesktop("/tmp/x.pdf"));
  }
  StubOpener failing(true, 3);
  EXPECT_TRUE(ksplatform::OpenWithDesktop("/tmp/x.pdf"));
  EXPECT_EQ(failing.Calls(1), "1|/tmp/x.pdf\n");
  EXPECT_TRUE(NoChildrenWithin10s());
}

TEST(AfterSave, ANewDocumentOpensTheSavedFileWithTheDesktopOnceWhenAsked) {
  StubOpener opener;
  TksCustomPDFDocument doc;
  doc.ShowSetupDialog = false;
  doc.EMailAfterSave = true;  // carried only: the save is the same
  doc.SaveToFile(opener.Dir() + "/closed", 2);
  doc.OpenAfterSave = true;
  doc.SaveToFile(opener.Dir() + "/opened", 2);
  EXPECT_EQ(opener.Calls(1), "1|" + opener.Dir() + "/opened.pdf\n");
  EXPECT_TRUE(fs::exists(opener.Dir() + "/closed.pdf"));
  EXPECT_TRUE(NoChildrenWithin10s());
  EXPECT_EQ(opener.Calls(1), "1|" + opener.Dir() + "/opened.pdf\n");  // once, not again
}

TEST(AfterSave, FailingOpenerLeavesTheSaveDone) {
  StubOpener missing(false);
  TksCustomPDFDocument doc;
  doc.ShowSetupDialog = false;
  doc.OpenAfterSave = true;
  std::vector<std::string> messages;
  doc.OnStatusMessage = [&](TksCustomPDFDocument*, const std::string& m) { messages.push_back(m); };
  doc.SaveToFile(missing.Dir() + "/out.pdf", 2);
  EXPECT_TRUE(fs::exists(missing.Dir() + "/out.pdf"));
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "Save Complete");
}

TEST(EMailInfo, StartsEmptyOnPort25AndIsOwnedByTheDocument) {
  TksCustomPDFDocument doc;
  EXPECT_FALSE(doc.EMailAfterSave);
  EXPECT_FALSE(doc.OpenAfterSave);
  const TksEMailInfo& fresh = doc.EMailInfo();
  EXPECT_EQ(fresh.Port, 25);
  EXPECT_TRUE(fresh.Host.empty() && fresh.UserID.empty() && fresh.Password.empty() && fresh.FromAddress.empty() &&
              fresh.FromName.empty() && fresh.ReplyTo.empty() && fresh.Subject.empty());
  EXPECT_TRUE(fresh.Attachments.empty() && fresh.Body.empty() && fresh.RecipientList.empty() &&
              fresh.CCList.empty() && fresh.BCCList.empty());
  EXPECT_EQ(fresh.Date, 0);
  EXPECT_FALSE(fresh.AuthenticationRequired);

  // The previous object is freed (the sanitizer build sees a leak or a double free).
  auto* mine = new TksEMailInfo();
  mine->Host = "smtp.example.org";
  mine->Body = {"first"};
  doc.SetEMailInfo(mine);
  EXPECT_EQ(&doc.EMailInfo(), mine);
  doc.SetEMailInfo(mine);  // the same object again: kept, not freed
  EXPECT_EQ(doc.EMailInfo().Host, "smtp.example.org");
  EXPECT_EQ(doc.EMailInfo().Body, std::vector<std::string>{"first"});

  doc.SetEMailInfo(nullptr);
  EXPECT_EQ(doc.EMailInfo().Port, 25);
  EXPECT_TRUE(doc.EMailInfo().Host.empty());

  // A load starts a new document's content, not new settings for the caller.
  doc.EMailInfo().Subject = "kept";
  doc.Reset();
  EXPECT_EQ(doc.EMailInfo().Subject, "kept");
}

TEST(EMailInfo, AddressListsSplitAtCommasOutsideQuotes) {
  using List = std::vector<std::string>;
  const struct {
    std::string text;
    List recipients;
  } cases[] = {
      {"", {}},
      {" , ,", {}},
      {"a@example.org", {"a@example.org"}},
      {" a@example.org ,b@example.org,\tc@example.org ", {"a@example.org", "b@example.org", "c@example.org"}},
      {"John Smith <js@example.org>", {"John Smith <js@example.org>"}},
      {"\"Smith, John\" <js@example.org>, x@example.org", {"\"Smith, John\" <js@example.org>", "x@example.org"}},
      {"\"A \\\", B\" <ab@example.org>,c@example.org", {"\"A \\\", B\" <ab@example.org>", "c@example.org"}},
      {"a@example.org,,b@example.org", {"a@example.org", "b@example.org"}},
      {"\"unclosed, still one", {"\"unclosed, still one"}},
      {"Иван <ivan@example.org>, b@example.org", {"Иван <ivan@example.org>", "b@example.org"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitAddressList(c.text), c.recipients) << c.text;
}

}  // namespace
