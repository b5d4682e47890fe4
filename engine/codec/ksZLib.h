// zlib-format deflate and inflate as streams over another stream.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/ksByteStreams.h"

// Compression levels by index: none, fastest, zlib's default, maximum.
inline constexpr int ksZLevels[4] = {0, 1, -1, 9};
inline constexpr int64_t ksZBufferSize = 65536;
// zlib's largest hash tables: a fifth faster at the same level on image data, for
// 128 KiB more per stream being compressed.
inline constexpr int ksZMemLevel = 9;

// zlib's text for one of its result codes.
const char* ZErrorText(int code);

// data deflated in one piece into one buffer, as a compressing stream of the same level
// writes them: no copies between buffers for data already in memory.
std::string ZCompressBytes(std::string_view data, uint8_t levelIndex);

// Holds the wrapped stream (not owned), where that stream was last left, the zlib
// state and one fixed buffer; the wrapped stream is moved back there before every
// access, so others may use it in between.
class TCustomZStream : public TksStream {
 public:
  TCustomZStream(const TCustomZStream&) = delete;
  TCustomZStream& operator=(const TCustomZStream&) = delete;
  // Called each time a buffer went to or came from the wrapped stream.
  std::function<void(TCustomZStream&)> OnProgress;

 protected:
  explicit TCustomZStream(TksStream& strm);
  void RestorePosition();
  void Progress() {
    if (OnProgress) OnProgress(*this);
  }
  TksStream& strm_;
  int64_t strmPos_;
  z_stream zrec_{};
  std::unique_ptr<uint8_t[]> buffer_;
};

// Write-only: deflates what is written into the wrapped stream.
class TCompressionStream : public TCustomZStream {
 public:
  // levelIndex indexes ksZLevels; indexes above 3 mean maximum.
  TCompressionStream(uint8_t levelIndex, TksStream& dest);
  // Finishes the zlib stream if Finish was not called; errors are lost here, so
  // callers that care call Finish.
  ~TCompressionStream() override;
  // Flushes everything into the wrapped stream and ends the zlib stream.
  void Finish();

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // Only the position query (0 from the current position): input bytes consumed.
  int64_t Seek(int64_t offset, TksSeekOrigin origin) override;

 private:
  void FlushBuffer(int64_t n);
  bool finished_ = false;
  int64_t totalIn_ = 0;
};

// Read-only: inflates from the wrapped stream. Truncated data ends the output
// without an error; bytes after the end of the zlib stream are left unread.
class TDecompressionStream : public TCustomZStream {
 public:
  explicit TDecompressionStream(TksStream& source);
  ~TDecompressionStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // Position query, forward skips, reset to the start and a move to the end.
  int64_t Seek(int64_t offset, TksSeekOrigin origin) override;
  bool StreamEnded() const { return ended_; }

 private:
  int64_t startPos_;
  int64_t totalOut_ = 0;
  bool ended_ = false;
};
