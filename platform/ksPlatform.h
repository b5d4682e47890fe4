// What the desktop gives the engine: the ANSI code page (Windows-1252), mapped input
// files, output files that appear only when complete, and UTF-8 helpers for the command
// line.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ksplatform {

// Windows-1252 bytes to UTF-16 and back. Bytes the code page leaves undefined map to
// the code unit of the same value; characters outside it become "?".
std::u16string AnsiToWide(std::string_view ansi);
std::string WideToAnsi(std::u16string_view wide);

std::string Utf16ToUtf8(std::u16string_view wide);
std::u16string Utf8ToUtf16(std::string_view utf8);

// A password prepared for the AES-256 handler: the SASLprep profile of stringprep
// (mapping, NFKC, prohibited and bidirectional checks); none when the text holds what
// the profile prohibits.
std::optional<std::u16string> SaslPrep(std::u16string_view text);

// A read-only view of a whole file, mapped when it can be.
//
// A file truncated by another program while it is mapped would end the process with
// SIGBUS at the first touch of a lost page. A process-wide handler maps zero pages over
// the lost range instead and marks the file as faulted, so readers see zeros, go on to a
// normal failure and ask Unchanged() (or Faulted()) what happened.
class MappedFile {
 public:
  // Throws std::runtime_error with the OS text; a file that is not a regular file
  // (a directory, FIFO or device) is refused.
  explicit MappedFile(const std::string& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }
  // Open for the mapping's lifetime, so data can be copied from the file by the kernel
  // without passing through (and being counted in) this process's memory.
  int fd() const { return fd_; }
  // Whether the file still has the size, modification time and identity (device, inode)
  // it had when it was mapped, and no page of it was lost; false once it was written
  // to, truncated or could not be asked. Bytes borrowed from the mapping are only what
  // the file held while this is true.
  bool Unchanged() const;
  // Whether a page of the mapping was found gone (the file was cut short) and zeros
  // stand in its place. Cheap enough to ask once per object read.
  bool Faulted() const;
  const std::string& path() const { return path_; }
  // Hands the pages read so far back to the system's file cache; the bytes stay where
  // they are and are read in again when touched. A reader going through a large file
  // calls this now and then, so the file does not become part of its own memory.
  void ReleasePages() const;
  // The same for the pages holding bytes [offset, offset + length): as cheap as the range
  // is short, where the whole mapping costs a walk over all of it.
  void ReleasePages(uint64_t offset, uint64_t length) const;

 private:
  std::string path_;
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  bool mapped_ = false;
  int slot_ = -1;  // in the table of mappings the SIGBUS handler knows
  int fd_ = -1;
  uint64_t device_ = 0, inode_ = 0;
  int64_t mtimeSec_ = 0, mtimeNsec_ = 0;
};

// A new file that takes the place of target only when it is complete, so no visible
// partial file survives an interruption short of a power cut.
//
// Where the file system allows, the file has no name while it is written (O_TMPFILE in
// the target's folder) and is linked in when complete; elsewhere it is written under a
// hidden temporary name beside the target (".NAME.XXXXXXXX.pwtmp") that SIGINT, SIGTERM
// and SIGHUP remove before the process ends as the signal would end it. Failures throw
// std::system_error with the errno of the step that failed.
class OutputFile {
 public:
  enum Naming { onUnnamedWhereSupported, onNamed };
  // target is the file's final path (links already followed: see FollowLinks). An
  // existing target lends the new file its permissions (and, where allowed, its owner).
  explicit OutputFile(const std::string& target, Naming naming = onUnnamedWhereSupported);
  // Without Publish the new file disappears and target is left as it was.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  int fd() const { return fd_; }
  // Whether target existed when this file was created.
  bool Replacing() const { return replacing_; }
  // Whether the file is being written without a name.
  bool Unnamed() const { return temp_.empty(); }
  // The temporary name while there is one (the named way); empty otherwise.
  const std::string& TemporaryName() const { return temp_; }
  // Flushes the file to the disk when sync is set, then closes it (errors of the write).
  void Close(bool sync);
  // Gives the closed file the target's name, replacing an existing target at once
  // (errors of the creation).
  void Publish();

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  int slot_ = -1;  // in the table of names the signal handler removes
  bool replacing_ = false;
  bool published_ = false;
};

// The file a name leads to: the end of its chain of symbolic links, each relative link
// taken from the folder of the link that holds it; a name that is no link comes back
// unchanged, and the end of a chain need not exist. A loop, or a chain longer than the
// system follows, throws std::system_error (ELOOP).
std::string FollowLinks(const std::string& path);

// What stands under a name (links followed). fkUnknown: the system would not say (a
// folder on the way that cannot be searched); opening it tells why.
enum FileKind { fkMissing, fkRegular, fkDirectory, fkOther, fkUnknown };
// mode, when given, receives the permission bits of what is there.
FileKind KindOfFile(const std::string& path, uint32_t* mode = nullptr);

bool FileExists(const std::string& path);

}  // namespace ksplatform
