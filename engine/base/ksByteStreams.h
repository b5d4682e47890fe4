// Byte streams and the component base.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/ksExceptions.h"

enum TksSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// The framework's stream: Read/Write/Seek are the virtual slots; sizes are 64-bit.
class TksStream {
 public:
  virtual ~TksStream() = default;
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TksSeekOrigin origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t newSize);

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
  // Reads or writes exactly count bytes or raises EReadError.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  void WriteText(std::string_view text) { WriteBuffer(text.data(), static_cast<int64_t>(text.size())); }
  // Copies count bytes from source's position; count 0 copies the whole source from 0.
  int64_t CopyFrom(TksStream& source, int64_t count);
  // Appends count bytes of the open file fd from offset; EReadError when the file ends
  // first. A stream backed by a file may let the kernel copy them.
  virtual void CopyFromFile(int fd, int64_t offset, int64_t count);
};

// A block from malloc, released with free: a buffer grown with realloc can change hands
// without a copy.
struct TksFreeDeleter {
  void operator()(uint8_t* p) const noexcept { std::free(p); }
};
using TksMallocBlock = std::unique_ptr<uint8_t, TksFreeDeleter>;

// In-memory bytes. A stream may borrow read-only bytes owned elsewhere (a mapped
// input file); the first change copies them, so borrowing never alters the source.
class TksMemoryStream : public TksStream {
 public:
  TksMemoryStream() = default;
  explicit TksMemoryStream(std::string_view bytes) { LoadFromBytes(bytes); }
  static std::unique_ptr<TksMemoryStream> Borrow(const uint8_t* data, size_t size);
  // Takes over a block whose first size bytes are the data (a decoder's output); like
  // borrowed bytes they are copied on the first change.
  static std::unique_ptr<TksMemoryStream> Adopt(TksMallocBlock block, size_t size);

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TksSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(size()); }
  void SetSize(int64_t newSize) override;

  const uint8_t* data() const { return view_ ? view_ : buf_.data(); }
  size_t size() const { return view_ ? viewSize_ : buf_.size(); }
  bool IsBorrowed() const { return view_ != nullptr && !block_; }
  std::string_view View() const { return {reinterpret_cast<const char*>(data()), size()}; }
  std::string ToString() const { return std::string(View()); }
  void LoadFromBytes(std::string_view bytes);
  void LoadFromStream(TksStream& source);  // whole source, from 0
  void Clear();
  void Reserve(size_t n) { Own(); buf_.reserve(n); }
  std::vector<uint8_t>& Buffer() { Own(); return buf_; }

 private:
  void Own();
  std::vector<uint8_t> buf_;
  TksMallocBlock block_;  // owns view_ when adopted
  const uint8_t* view_ = nullptr;
  size_t viewSize_ = 0;
  int64_t pos_ = 0;
};

// Memory stream with big-endian integer operations and four-byte alignment.
class TksExtMemStream : public TksMemoryStream {
 public:
  TksExtMemStream() = default;
  int64_t PadCount = 0;
  uint8_t ReadByte();
  uint16_t ReadUInt16BE();
  uint32_t ReadUInt32BE();
  int64_t ReadString(std::string& out, int64_t count);
  void SkipBytes(int64_t count);
  void WriteByte(uint8_t value);
  void WriteBytes(std::initializer_list<uint8_t> bytes);
  void WriteUInt16BE(uint16_t value);
  void WriteUInt32BE(uint32_t value);
  void WriteString(std::string_view text);
  void PadToLongBoundary();
};

// Base of the document component: two read-only texts.
class TksComponent {
 public:
  virtual ~TksComponent() = default;
  std::string About() const;
  std::string Version() const;
  void SetAbout(const std::string&) {}
  void SetVersion(const std::string&) {}
};
