// The save driver: file name, form appearances, numbering, header and the safe
// replacement of the target file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "write/ksDocumentWriter.h"
#include "write/ksReadBack.h"
#include "base/ksPDFResStrs.h"
#include "ksPlatform.h"

namespace {

// The output of a save: a file beside the target that has no name while it is written
// (or a hidden temporary name, removed on failure and on SIGINT, SIGTERM and SIGHUP;
// see ksplatform::OutputFile), written through one buffer, counting every byte (its
// count is the write position the offsets come from). Commit gives it the target's
// name; until then the target is untouched.
class TksSaveFile : public TksStream {
 public:
  // target: the output name as the user gave it (messages name it); path: the file it
  // leads to, links followed.
  TksSaveFile(const std::string& target, const std::string& path)
      : target_(target), buffer_(std::make_unique_for_overwrite<char[]>(kBufferSize)) {
    try {
      file_ = std::make_unique<ksplatform::OutputFile>(path);
    } catch (const std::system_error& e) {
      throw EFCreateError(ksFormat(ksres::SCannotCreateFile, target.c_str(), std::strerror(e.code().value())));
    }
    fd_ = file_->fd();
  }

  TksSaveFile(const TksSaveFile&) = delete;
  TksSaveFile& operator=(const TksSaveFile&) = delete;

  int64_t Read(void*, int64_t) override { throw EReadError(ksres::SWriteOnlyRead); }

  int64_t Write(const void* data, int64_t count) override {
    if (count <= 0) return 0;
    const auto* bytes = static_cast<const char*>(data);
    if (static_cast<size_t>(count) >= kBufferSize) {
      // Large blocks (stream data) go straight to the file.
      FlushBuffer();
      WriteAll(bytes, static_cast<size_t>(count));
    } else {
      if (used_ + static_cast<size_t>(count) > kBufferSize) FlushBuffer();
      std::memcpy(buffer_.get() + used_, bytes, static_cast<size_t>(count));
      used_ += static_cast<size_t>(count);
    }
    written_ += count;
    return count;
  }

  // Stream data still in the source file go from file to file inside the kernel: no
  // copy through this process, and none of the source's pages become its memory.
  void CopyFromFile(int fd, int64_t offset, int64_t count) override {
    FlushBuffer();
    while (count > 0 && kernelCopy_) {
      loff_t in = static_cast<loff_t>(offset);
      ssize_t n = ::copy_file_range(fd, &in, fd_, nullptr, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EPERM)) {
        kernelCopy_ = false;  // file systems or kernels that cannot: copied through a buffer
        break;
      }
      if (n < 0) Fail(errno);
      if (n == 0) throw EReadError(ksres::SStreamReadShort);  // the source ended early
      offset += n;
      count -= n;
      written_ += n;
    }
    if (count > 0) TksStream::CopyFromFile(fd, offset, count);
  }

  int64_t Seek(int64_t offset, TksSeekOrigin origin) override {
    // Only the position can be asked for: the output is written front to back.
    if ((origin == soCurrent || origin == soEnd) && offset == 0) return written_;
    if (origin == soBeginning && offset == written_) return written_;
    throw EFWriteError(ksFormat(ksres::SCannotWriteFile, target_.c_str(), "The output cannot seek"));
  }

  int64_t Size() override { return written_; }
  int Descriptor() const { return fd_; }
  // Everything written so far is in the file.
  void Flush() { FlushBuffer(); }

  // Everything written (and on disk when a file is replaced), then the new file takes
  // the target's place. Only an existing file can be lost to a crash between rename and
  // write-back, so only then is the wait for the disk worth its cost (seconds for a
  // large file).
  void Commit() {
    FlushBuffer();
    try {
      file_->Close(file_->Replacing());
    } catch (const std::system_error& e) {
      Fail(e.code().value());
    }
    try {
      file_->Publish();
    } catch (const std::system_error& e) {
      throw EFCreateError(ksFormat(ksres::SCannotCreateFile, target_.c_str(), std::strerror(e.code().value())));
    }
  }

 private:
  static constexpr size_t kBufferSize = 1 << 20;

  [[noreturn]] void Fail(int error) {
    throw EFWriteError(ksFormat(ksres::SCannotWriteFile, target_.c_str(), std::strerror(error)));
  }

  void WriteAll(const char* data, size_t count) {
    while (count > 0) {
      ssize_t n = ::write(fd_, data, std::min<size_t>(count, size_t{1} << 30));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail(errno);
      if (n == 0) Fail(ENOSPC);
      data += n;
      count -= static_cast<size_t>(n);
    }
  }

  void FlushBuffer() {
    if (used_ == 0) return;
    size_t n = used_;
    used_ = 0;
    WriteAll(buffer_.get(), n);
  }

  std::string target_;
  std::unique_ptr<ksplatform::OutputFile> file_;
  int fd_ = -1;  // file_'s
  // Not cleared: a small file touches only the pages it fills.
  std::unique_ptr<char[]> buffer_;
  bool kernelCopy_ = true;
  size_t used_ = 0;
  int64_t written_ = 0;
};

}  // namespace

std::string TksCustomPDFDocument::SaveFileName(const std::string& fileName) {
  size_t slash = fileName.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = fileName.rfind('.');
  std::string extension = dot == std::string::npos || dot < start ? std::string() : fileName.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return extension == ".pdf" ? fileName : fileName + ".pdf";
}

void TksCustomPDFDocument::ApplyNeedAppearances(uint8_t mode) {
  if (mode > 1 || !Catalog) return;
  TksPDFDictObject* form = nullptr;
  if (auto* ref = AsRef(Catalog->AcroForm.get())) {
    if (TksPDFIndirectObject* target = TksDocumentWriter::FindWritten(*this, nullptr, *ref)) form = AsDict(target->Value.get());
  } else {
    form = AsDict(Catalog->AcroForm.get());
  }
  if (form) form->SetBoolean("/NeedAppearances", mode == 0);
}

void TksCustomPDFDocument::CheckSourceUnchanged() const {
  if (SourceFile && !SourceFile->Unchanged())
    throw ESaveError(ksFormat(ksres::SSourceChanged, SourceFile->path().c_str()));
}

namespace {

// The file the output name leads to (links followed), refused when it cannot be written
// as a file: a folder, a device such as /dev/null or a FIFO, an existing file that
// nobody may write (the mode bits decide, as a process of the superuser may write
// anything).
std::string OutputPath(const std::string& fileName, const std::string& outputName) {
  auto refuseNonFile = [](const std::string& name, ksplatform::FileKind kind) {
    if (kind == ksplatform::fkDirectory) throw EFCreateError(ksFormat(ksres::SIsDirectory, name.c_str()));
    if (kind == ksplatform::fkOther) throw EFCreateError(ksFormat(ksres::SNotRegularFile, name.c_str()));
  };
  // The name as given first: "/dev/null" names a device, not the base of "/dev/null.pdf".
  if (fileName != outputName) refuseNonFile(fileName, ksplatform::KindOfFile(fileName));
  std::string path;
  try {
    path = ksplatform::FollowLinks(outputName);
  } catch (const std::system_error& e) {
    throw EFCreateError(ksFormat(ksres::SCannotCreateFile, outputName.c_str(), std::strerror(e.code().value())));
  }
  uint32_t mode = 0;
  const ksplatform::FileKind kind = ksplatform::KindOfFile(path, &mode);
  refuseNonFile(outputName, kind);
  if (kind == ksplatform::fkRegular && (mode & 0222) == 0)
    throw EFCreateError(ksFormat(ksres::SOutputReadOnly, outputName.c_str()));
  return path;
}

}  // namespace

void TksCustomPDFDocument::SaveToFile(const std::string& fileName, uint8_t needAppearancesMode) {
  // A load that stopped part-way leaves a store that is not the document; writing it
  // would produce a file that silently lacks pages or objects.
  if (IsLoaded && !StructureRead)
    throw ESaveError(IsEncrypted ? ksres::SPasswordNeeded : ksres::SDocumentIncomplete);
  // Cancelled: no file, an existing one untouched, no message.
  if (ShowSetupDialog && ShowSettingsDialog() == kModalCancel) return;

  // An empty name (an unset variable in a script) would write a hidden ".pdf".
  if (fileName.empty()) throw EFCreateError(ksres::SOutputNameEmpty);
  const std::string outputName = SaveFileName(fileName);
  const std::string outputPath = OutputPath(fileName, outputName);
  ApplyNeedAppearances(needAppearancesMode);
  // Embedded font programs and their maps hold what every application drew.
  if (pageEdit_.Fonts) pageEdit_.Fonts->PrepareForSave(*this);
  StatusMessage(ksFormat(ksres::SSavingFile, outputName.c_str()));

  TksSaveFile file(outputName, outputPath);
  // Stream data are read from the source file while they are written; a source changed
  // since it was read would give a file mixed from two versions, or none at all.
  CheckSourceUnchanged();
  TksDocumentWriter writer(*this, &SaveOutput(file));
  try {
    writer.Write();
  } catch (...) {
    // A source cut short fails the save somewhere (a short copy, zeros that do not
    // decode); the cause is what the user needs to hear.
    CheckSourceReadWhole();
    throw;
  }
  CheckSourceReadWhole();
  // The file replaces the target only once it reads back as the document written.
  file.Flush();
  // No status message of its own: callers match the save's sequence of messages.
  if (VerifySave) ReadBackWrittenFile(*this, writer, file.Descriptor(), file.Size());
  file.Commit();

  if (OpenAfterSave && OpenFileHook) {
    try {
      OpenFileHook(outputName);
    } catch (...) {
      // Opening the saved file is a convenience; the save itself succeeded.
    }
  }
  StatusMessage(ksres::SSaveComplete);
}

// ---- serialisation outside a save ----

std::string TksCustomPDFDocument::WriteValue(int32_t context, const TksPDFObject* value) {
  return TksDocumentWriter(*this, nullptr).ValueText(context, value);
}

int32_t TksCustomPDFDocument::SaveNumberOf(const TksPDFIndirectReference& ref) const {
  return TksDocumentWriter::SaveNumberOf(*this, nullptr, ref);
}

std::string TksCustomPDFDocument::KeyLine(std::string_view key, std::string_view value) {
  return TksDocumentWriter::KeyLine(key, value);
}

std::string TksCustomPDFDocument::HeaderText(TksPDFVersion version) { return TksDocumentWriter::HeaderText(version); }

std::string TksCustomPDFDocument::XRefEntry(int64_t offset, int32_t generation, char letter) {
  return TksDocumentWriter::XRefEntry(offset, generation, letter);
}
