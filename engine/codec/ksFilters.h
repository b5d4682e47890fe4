// Stream codecs: ASCIIHex, ASCII85, RunLength, LZW (decode only) and Flate.
// Each codec's core is a function from bytes to bytes; the TksFilter classes wrap them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/ksByteStreams.h"

// Every decoder stops with EDecodedSizeError once its output would pass a cap, so a
// small hostile stream cannot claim all memory. The cap is process-wide.
inline constexpr uint64_t ksDefaultDecodeLimit = uint64_t{1} << 30;
uint64_t ksDecodeLimit();
void ksSetDecodeLimit(uint64_t limit);

// What a decoder writes into. The bytes live in a block from malloc that grows
// geometrically through realloc, which moves the pages of a large block instead of
// copying them: a decode peaks near its output, not at the old and the new block
// together. The buffer never holds more than its limit; an append past it raises
// EDecodedSizeError, before any memory is taken for it.
class TksDecodeBuffer {
 public:
  // reserve: the expected size (declared by the stream or estimated), clipped to limit.
  explicit TksDecodeBuffer(uint64_t limit = ksDecodeLimit(), uint64_t reserve = 0);
  TksDecodeBuffer(TksDecodeBuffer&& other) noexcept;
  TksDecodeBuffer& operator=(TksDecodeBuffer&& other) noexcept;

  uint64_t Limit() const { return limit_; }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  const uint8_t* data() const { return block_.get(); }
  uint8_t* data() { return block_.get(); }
  std::string_view View() const { return {reinterpret_cast<const char*>(block_.get()), size_}; }
  void Reserve(uint64_t n);
  // Makes the buffer n bytes longer and returns where they start (their content is
  // undefined until written).
  uint8_t* Extend(size_t n) {
    if (n > limit_ - size_) ThrowTooLarge();
    if (n > capacity_ - size_) Grow(size_ + n);
    uint8_t* at = block_.get() + size_;
    size_ += n;
    return at;
  }
  void Append(const void* bytes, size_t n);
  void Append(size_t n, uint8_t byte);
  void Push(uint8_t byte) { *Extend(1) = byte; }
  void Truncate(size_t n) {
    if (n < size_) size_ = n;
  }
  // The bytes as a memory stream, handed over without a copy; the buffer is left empty.
  std::unique_ptr<TksMemoryStream> ToStream();
  std::string ToString() const { return std::string(View()); }
  [[noreturn]] void ThrowTooLarge() const;

 private:
  void Grow(size_t needed);
  TksMallocBlock block_;
  size_t size_ = 0;
  size_t capacity_ = 0;
  uint64_t limit_;
};

// ---- codec cores ----
// The ...Into forms append to out, whose limit bounds them; the string forms decode into
// a buffer of their own and copy the result out.
std::string AsciiHexEncode(std::string_view data);
std::string AsciiHexDecode(std::string_view data, uint64_t limit = ksDecodeLimit());
// Reads up to the first ">" or the end of data, so a missing end marker is tolerated here.
void AsciiHexDecodeInto(std::string_view data, TksDecodeBuffer& out);
std::string Ascii85Encode(std::string_view data);
std::string Ascii85Decode(std::string_view data, uint64_t limit = ksDecodeLimit());
void Ascii85DecodeInto(std::string_view data, TksDecodeBuffer& out);
// Empty input gives the end marker alone.
std::string RunLengthEncode(std::string_view data);
std::string RunLengthDecode(std::string_view data, uint64_t limit = ksDecodeLimit());
void RunLengthDecodeInto(std::string_view data, TksDecodeBuffer& out);
std::string LZWDecode(std::string_view data, uint64_t limit = ksDecodeLimit());
void LZWDecodeInto(std::string_view data, TksDecodeBuffer& out);
// levelIndex: 0 none, 1 fastest, 2 zlib's default, 3 maximum.
std::string FlateCompress(std::string_view data, uint8_t levelIndex);
std::string FlateDecode(std::string_view data, uint64_t limit = ksDecodeLimit());
void FlateDecodeInto(std::string_view data, TksDecodeBuffer& out);

// Deflates the whole of source (zlib's default level) onto the end of target and
// returns the number of bytes added.
int64_t CompressInto(TksMemoryStream& source, TksStream& target);

// ---- codec classes ----

// Stream forms read the whole source from its start and return a new memory
// stream at position 0; the source is never owned. A decoded stream holds the
// decoder's buffer itself.
class TksFilter {
 public:
  virtual ~TksFilter() = default;
  virtual std::unique_ptr<TksMemoryStream> CompressStream(TksStream& source, uint8_t level);
  virtual std::string CompressString(std::string_view data, uint8_t level);
  virtual std::unique_ptr<TksMemoryStream> EncodeStream(TksStream& source);
  virtual std::string EncodeString(std::string_view data);
  virtual std::unique_ptr<TksMemoryStream> DecodeStream(TksStream& source) = 0;
  virtual std::string DecodeString(std::string_view data) = 0;

  // Output cap of this codec's decoding, taken from the process-wide cap.
  uint64_t DecodeLimit = ksDecodeLimit();

 protected:
  // Runs a core over the whole of source and wraps the result.
  template <class F>
  static std::unique_ptr<TksMemoryStream> OverStream(TksStream& source, F&& core);
  // Runs a decoding core over the whole of source into a buffer of DecodeLimit.
  template <class F>
  std::unique_ptr<TksMemoryStream> DecodeOverStream(TksStream& source, F&& core) const;
};

class TksAsciiHexFilter : public TksFilter {
 public:
  std::unique_ptr<TksMemoryStream> EncodeStream(TksStream& source) override;
  std::string EncodeString(std::string_view data) override;
  std::unique_ptr<TksMemoryStream> DecodeStream(TksStream& source) override;
  std::string DecodeString(std::string_view data) override;
};

class TksAscii85Filter : public TksFilter {
 public:
  std::unique_ptr<TksMemoryStream> EncodeStream(TksStream& source) override;
  std::string EncodeString(std::string_view data) override;
  std::unique_ptr<TksMemoryStream> DecodeStream(TksStream& source) override;
  std::string DecodeString(std::string_view data) override;
};

class TksRLEFilter : public TksFilter {
 public:
  std::unique_ptr<TksMemoryStream> EncodeStream(TksStream& source) override;
  std::string EncodeString(std::string_view data) override;
  std::unique_ptr<TksMemoryStream> DecodeStream(TksStream& source) override;
  std::string DecodeString(std::string_view data) override;
};

class TksLZWFilter : public TksFilter {
 public:
  std::unique_ptr<TksMemoryStream> DecodeStream(TksStream& source) override;
  std::string DecodeString(std::string_view data) override;
};

class TksFlateFilter : public TksFilter {
 public:
  std::unique_ptr<TksMemoryStream> CompressStream(TksStream& source, uint8_t level) override;
  std::string CompressString(std::string_view data, uint8_t level) override;
  std::unique_ptr<TksMemoryStream> DecodeStream(TksStream& source) override;
  std::string DecodeString(std::string_view data) override;
};
