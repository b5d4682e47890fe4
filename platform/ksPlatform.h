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

 private:
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  bool mapped_ = false;
};

bool FileExists(const std::string& path);

}  // namespace ksplatform
