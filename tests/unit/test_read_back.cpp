// Reading a saved file back before it replaces the target: a writer whose output is
// tampered with on its way to the file (one offset of the table, an object's body, the
// stream framing) fails the save with the read-back message, leaves the previous file
// byte for byte and no temporary file; without the check the same save goes through.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "ksFixture.h"

namespace fs = std::filesystem;
using ksfixture::PdfBuilder;
using testing::ThrowsMessage;
using testing::StrEq;

namespace {

// Passes every byte on to the file, after edit has had its way with each block.
class TksTamperStream : public TksStream {
 public:
  TksTamperStream(TksStream& file, std::function<void(std::string&)> edit) : file_(file), edit_(std::move(edit)) {}
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* data, int64_t count) override {
    std::string block(static_cast<const char*>(data), static_cast<size_t>(count));
    edit_(block);
    file_.WriteBuffer(block.data(), static_cast<int64_t>(block.size()));
    return count;
  }
  int64_t Seek(int64_t offset, TksSeekOrigin origin) override { return file_.Seek(offset, origin); }
  void CopyFromFile(int fd, int64_t offset, int64_t count) override { file_.CopyFromFile(fd, offset, count); }

 private:
  TksStream& file_;
  std::function<void(std::string&)> edit_;
};

class TksTamperingDocument : public TksCustomPDFDocument {
 public:
  std::function<void(std::string&)> Edit;

 protected:
  TksStream& SaveOutput(TksStream& file) override {
    tamper_ = std::make_unique<TksTamperStream>(file, Edit);
    return *tamper_;
  }

 private:
  std::unique_ptr<TksTamperStream> tamper_;
};

// Replaces the first from in a block with to (same length, so offsets stay).
std::function<void(std::string&)> ReplaceOnce(std::string from, std::string to) {
  return [from, to, done = false](std::string& block) mutable {
    if (done) return;
    size_t at = block.find(from);
    if (at == std::string::npos) return;
    block.replace(at, from.size(), to);
    done = true;
  };
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Fault {
  const char* name;
  std::function<void(std::string&)> edit;
  const char* message;
};

class ReadBackTest : public testing::TestWithParam<Fault> {};

// One page with a stream, an outline item and a link annotation.
std::string Source() {
  PdfBuilder b("%PDF-1.4");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 6 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R /Annots [5 0 R] >>")
      .Stream(4, "", "0 0 1 rg 20 20 160 160 re f")
      .Object(5, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /Dest [3 0 R /Fit] >>")
      .Object(6, "<< /Type /Outlines /First 7 0 R /Last 7 0 R /Count 1 >>")
      .Object(7, "<< /Title (One) /Parent 6 0 R /Dest [3 0 R /Fit] >>");
  return b.Build("/Root 1 0 R");
}

TEST_P(ReadBackTest, TamperedOutputFailsAndKeepsThePreviousFile) {
  const Fault& fault = GetParam();
  const std::string dir = fs::path(ksfixture::WriteTempFile(std::string("rb-") + fault.name + ".pdf", Source()))
                              .parent_path()
                              .string() +
                          "/rb-" + fault.name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string source = dir + "/in.pdf", target = dir + "/out.pdf";
  { std::ofstream(source, std::ios::binary) << Source(); }
  const std::string previous = "%PDF-1.4\n% the previous version\n";
  { std::ofstream(target, std::ios::binary) << previous; }

  TksTamperingDocument doc;
  doc.ShowSetupDialog = false;
  doc.Edit = fault.edit;
  ASSERT_TRUE(doc.LoadFromFile(source));
  EXPECT_THAT([&] { doc.SaveToFile(target, 2); }, ThrowsMessage<ESaveError>(StrEq(fault.message)));
  EXPECT_EQ(ksfixture::ReadFile(target), previous);
  EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"in.pdf", "out.pdf"}));

  // The check is what refused it: without it the tampered file is written.
  doc.VerifySave = false;
  doc.SaveToFile(target, 2);
  EXPECT_NE(ksfixture::ReadFile(target), previous);
  EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"in.pdf", "out.pdf"}));
  fs::remove_all(dir);
}

// Object 1 (the catalog) follows the 17-byte header.
INSTANTIATE_TEST_SUITE_P(
    Faults, ReadBackTest,
    testing::Values(
        Fault{"offset", ReplaceOnce("0000000017 00000 n", "0000000018 00000 n"),
              "The written file did not read back correctly: cross-reference entry 1 gives offset 18, the object was "
              "written at 17"},
        Fault{"pagetype", ReplaceOnce("/Type /Page\r", "/Type /Pagx\r"),
              "The written file did not read back correctly: object 4: the page tree lists it, it is no page"},
        Fault{"annots", ReplaceOnce("/Annots", "/Annotx"),
              "The written file did not read back correctly: annotations: 0 read back, 1 expected"},
        Fault{"endstream", ReplaceOnce("endstream", "endstreaM"),
              "The written file did not read back correctly: object 5: stream data not of their /Length"},
        Fault{"value", ReplaceOnce("/Fit", "/F)t"),
              "The written file did not read back correctly: object 6: Error reading PDF array ())"},
        Fault{"outline", ReplaceOnce("/First", "/Firsx"),
              "The written file did not read back correctly: outline items: 0 read back, 1 expected"}),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST(ReadBack, SoundSaveReadsBack) {
  const std::string source = ksfixture::WriteTempFile("rb-sound.pdf", Source());
  TksCustomPDFDocument doc;
  doc.ShowSetupDialog = false;
  ASSERT_TRUE(doc.LoadFromFile(source));
  const std::string target = source + ".out.pdf";
  doc.SaveToFile(target, 2);
  EXPECT_EQ(ksfixture::ReadFile(target).substr(0, 8), "%PDF-1.4");
  fs::remove(target);
  fs::remove(source);
}

}  // namespace
