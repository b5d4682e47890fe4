// What the desktop gives the engine: the ANSI code page (Windows-1252), mapped input
// files and UTF-8 helpers for the command line.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace ksplatform {

// Windows-1252 bytes to UTF-16 and back. Bytes the code page leaves undefined map to
// the code unit of the same value; characters outside it become "?".
std::u16string AnsiToWide(std::string_view ansi);
std::string WideToAnsi(std::u16string_view wide);

std::string Utf16ToUtf8(std::u16string_view wide);
std::u16string Utf8ToUtf16(std::string_view utf8);

// A read-only view of a whole file, mapped when it can be.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path);  // throws std::runtime_error with the OS text
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }
  // Open for the mapping's lifetime, so data can be copied from the file by the kernel
  // without passing through (and being counted in) this process's memory.
  int fd() const { return fd_; }
  // Whether the file still has the size, modification time and identity (device, inode)
  // it had when it was mapped; false once it was written to, truncated or could not be
  // asked. Bytes borrowed from the mapping are only what the file held while this is true.
  bool Unchanged() const;
  const std::string& path() const { return path_; }
  // Hands the pages read so far back to the system's file cache; the bytes stay where
  // they are and are read in again when touched. A reader going through a large file
  // calls this now and then, so the file does not become part of its own memory.
  void ReleasePages() const;

 private:
  std::string path_;
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  bool mapped_ = false;
  int fd_ = -1;
  uint64_t device_ = 0, inode_ = 0;
  int64_t mtimeSec_ = 0, mtimeNsec_ = 0;
};

bool FileExists(const std::string& path);

}  // namespace ksplatform
