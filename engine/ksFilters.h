// Stream codecs: ASCIIHex, ASCII85, RunLength, LZW (decode only) and Flate.
// Each codec's core is a function from bytes to bytes; the TksFilter classes wrap them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ksClasses.h"

// Every decoder stops with EDecodedSizeError once its output would pass a cap, so a
// small hostile stream cannot claim all memory. The cap is process-wide.
inline constexpr uint64_t ksDefaultDecodeLimit = uint64_t{1} << 30;
uint64_t ksDecodeLimit();
void ksSetDecodeLimit(uint64_t limit);

// ---- codec cores ----
std::string AsciiHexEncode(std::string_view data);
std::string AsciiHexDecode(std::string_view data, uint64_t limit = ksDecodeLimit());
std::string Ascii85Encode(std::string_view data);
std::string Ascii85Decode(std::string_view data, uint64_t limit = ksDecodeLimit());
// Empty input gives the end marker alone.
std::string RunLengthEncode(std::string_view data);
std::string RunLengthDecode(std::string_view data, uint64_t limit = ksDecodeLimit());
std::string LZWDecode(std::string_view data, uint64_t limit = ksDecodeLimit());
// levelIndex: 0 none, 1 fastest, 2 zlib's default, 3 maximum.
std::string FlateCompress(std::string_view data, uint8_t levelIndex);
std::string FlateDecode(std::string_view data, uint64_t limit = ksDecodeLimit());

// Deflates the whole of source (zlib's default level) onto the end of target and
// returns the number of bytes added.
int64_t CompressInto(TksMemoryStream& source, TksStream& target);

// ---- codec classes ----

// Stream forms read the whole source from its start and return a new memory
// stream at position 0; the source is never owned.
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
