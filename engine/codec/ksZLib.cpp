#include "codec/ksZLib.h"

#include <algorithm>
#include <climits>

#include "base/ksPDFResStrs.h"

namespace {
// zlib counts in 32-bit units; larger requests go through in slices.
constexpr int64_t kMaxSlice = int64_t{1} << 30;
}  // namespace

const char* ZErrorText(int code) {
  switch (code) {
    case Z_NEED_DICT: return ksres::SZNeedDictionary;
    case Z_STREAM_END: return ksres::SZStreamEnd;
    case Z_OK: return "";
    case Z_ERRNO: return ksres::SZFileError;
    case Z_STREAM_ERROR: return ksres::SZStreamError;
    case Z_DATA_ERROR: return ksres::SZDataError;
    case Z_MEM_ERROR: return ksres::SZMemError;
    case Z_BUF_ERROR: return ksres::SZBufError;
    case Z_VERSION_ERROR: return ksres::SZVersionError;
    default: return ksres::SZStreamError;
  }
}

// ---- TCustomZStream ----

TCustomZStream::TCustomZStream(TksStream& strm)
    : strm_(strm), strmPos_(strm.Position()), buffer_(std::make_unique_for_overwrite<uint8_t[]>(ksZBufferSize)) {}

void TCustomZStream::RestorePosition() {
  if (strm_.Position() != strmPos_) strm_.SetPosition(strmPos_);
}

std::string ZCompressBytes(std::string_view data, uint8_t levelIndex) {
  z_stream z{};
  int r = deflateInit2(&z, ksZLevels[std::min<int>(levelIndex, 3)], Z_DEFLATED, 15, ksZMemLevel, Z_DEFAULT_STRATEGY);
  if (r != Z_OK) throw EZCompressionError(ZErrorText(r));
  struct End {
    z_stream& z;
    ~End() { deflateEnd(&z); }
  } end{z};
  // zlib's bound holds any result, so a single call with the whole input finishes;
  // counts are 32-bit, so larger data go in slices.
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  constexpr size_t kSlice = size_t{1} << 30;
  size_t in = 0;
  do {
    const size_t slice = std::min(data.size() - in, kSlice);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + in));
    z.avail_in = static_cast<uInt>(slice);
    in += slice;
    const int flush = in == data.size() ? Z_FINISH : Z_NO_FLUSH;
    do {
      if (z.total_out == out.size()) out.resize(out.size() + out.size() / 2 + 64);
      z.next_out = reinterpret_cast<Bytef*>(out.data() + z.total_out);
      z.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - z.total_out, kSlice));
      r = deflate(&z, flush);
      if (r < 0 && r != Z_BUF_ERROR) throw EZCompressionError(ZErrorText(r));
    } while (flush == Z_FINISH ? r != Z_STREAM_END : z.avail_in > 0);
  } while (in < data.size());
  out.resize(z.total_out);
  return out;
}

// ---- TCompressionStream ----

TCompressionStream::TCompressionStream(uint8_t levelIndex, TksStream& dest) : TCustomZStream(dest) {
  int level = ksZLevels[std::min<int>(levelIndex, 3)];
  int r = deflateInit2(&zrec_, level, Z_DEFLATED, 15, ksZMemLevel, Z_DEFAULT_STRATEGY);
  if (r != Z_OK) throw EZCompressionError(ZErrorText(r));
  zrec_.next_out = buffer_.get();
  zrec_.avail_out = static_cast<uInt>(ksZBufferSize);
}

TCompressionStream::~TCompressionStream() {
  if (!finished_) {
    try {
      Finish();
    } catch (...) {
      // A destructor cannot report; Finish is the place that does.
    }
  }
  deflateEnd(&zrec_);
}

void TCompressionStream::FlushBuffer(int64_t n) {
  strm_.WriteBuffer(buffer_.get(), n);
  strmPos_ = strm_.Position();
  zrec_.next_out = buffer_.get();
  zrec_.avail_out = static_cast<uInt>(ksZBufferSize);
  Progress();
}

int64_t TCompressionStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (finished_) throw EZCompressionError(ksres::SInvalidZStreamOp);
  RestorePosition();
  const auto* in = static_cast<const uint8_t*>(buffer);
  int64_t left = count;
  while (left > 0) {
    int64_t slice = std::min(left, kMaxSlice);
    zrec_.next_in = const_cast<Bytef*>(in);
    zrec_.avail_in = static_cast<uInt>(slice);
    while (zrec_.avail_in > 0) {
      int r = deflate(&zrec_, Z_NO_FLUSH);
      if (r < 0) throw EZCompressionError(ZErrorText(r));
      if (zrec_.avail_out == 0) FlushBuffer(ksZBufferSize);
    }
    in += slice;
    left -= slice;
  }
  totalIn_ += count;
  return count;
}

void TCompressionStream::Finish() {
  if (finished_) return;
  finished_ = true;
  RestorePosition();
  zrec_.next_in = nullptr;
  zrec_.avail_in = 0;
  for (;;) {
    int r = deflate(&zrec_, Z_FINISH);
    if (r == Z_STREAM_END) break;
    if (r != Z_OK && r != Z_BUF_ERROR) throw EZCompressionError(ZErrorText(r));
    // Without a full buffer to empty no further call could progress.
    if (zrec_.avail_out != 0) throw EZCompressionError(ZErrorText(Z_BUF_ERROR));
    FlushBuffer(ksZBufferSize);
  }
  int64_t rest = ksZBufferSize - zrec_.avail_out;
  if (rest > 0) FlushBuffer(rest);
}

int64_t TCompressionStream::Read(void*, int64_t) { throw EZCompressionError(ksres::SInvalidZStreamOp); }

int64_t TCompressionStream::Seek(int64_t offset, TksSeekOrigin origin) {
  if (offset == 0 && origin == soCurrent) return totalIn_;
  throw EZCompressionError(ksres::SInvalidZStreamOp);
}

// ---- TDecompressionStream ----

TDecompressionStream::TDecompressionStream(TksStream& source) : TCustomZStream(source), startPos_(strmPos_) {
  zrec_.next_in = buffer_.get();
  zrec_.avail_in = 0;
  int r = inflateInit(&zrec_);
  if (r != Z_OK) throw EZDecompressionError(ZErrorText(r));
}

TDecompressionStream::~TDecompressionStream() { inflateEnd(&zrec_); }

int64_t TDecompressionStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || ended_) return 0;
  RestorePosition();
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t produced = 0;
  while (produced < count && !ended_) {
    if (zrec_.avail_in == 0) {
      int64_t n = strm_.Read(buffer_.get(), ksZBufferSize);
      if (n <= 0) break;  // truncated data: what was inflated is the result
      strmPos_ += n;
      zrec_.next_in = buffer_.get();
      zrec_.avail_in = static_cast<uInt>(n);
      Progress();
    }
    uInt room = static_cast<uInt>(std::min(count - produced, kMaxSlice));
    zrec_.next_out = out + produced;
    zrec_.avail_out = room;
    int r = inflate(&zrec_, Z_NO_FLUSH);
    produced += room - zrec_.avail_out;
    if (r == Z_STREAM_END) {
      ended_ = true;
      // Whatever follows the zlib stream belongs to someone else.
      if (zrec_.avail_in > 0) {
        strmPos_ -= zrec_.avail_in;
        strm_.SetPosition(strmPos_);
        zrec_.avail_in = 0;
      }
    } else if (r == Z_NEED_DICT) {
      // No preset dictionary is ever known here; calling inflate again would loop.
      throw EZDecompressionError(ZErrorText(r));
    } else if (r < 0) {
      throw EZDecompressionError(ZErrorText(r));
    }
  }
  totalOut_ += produced;
  return produced;
}

int64_t TDecompressionStream::Write(const void*, int64_t) { throw EZDecompressionError(ksres::SInvalidZStreamOp); }

int64_t TDecompressionStream::Seek(int64_t offset, TksSeekOrigin origin) {
  if (offset == 0 && origin == soCurrent) return totalOut_;
  if (offset == 0 && origin == soBeginning) {
    int r = inflateReset(&zrec_);
    if (r != Z_OK) throw EZDecompressionError(ZErrorText(r));
    strmPos_ = startPos_;
    strm_.SetPosition(strmPos_);
    zrec_.next_in = buffer_.get();
    zrec_.avail_in = 0;
    totalOut_ = 0;
    ended_ = false;
    return 0;
  }
  int64_t skip;
  if (origin == soCurrent && offset > 0)
    skip = offset;
  else if (origin == soBeginning && offset > totalOut_)
    skip = offset - totalOut_;
  else if (origin == soBeginning && offset == totalOut_)
    return totalOut_;
  else if (origin == soEnd && offset == 0)
    skip = INT64_MAX;
  else
    throw EZDecompressionError(ksres::SInvalidZStreamOp);
  uint8_t discard[8192];
  while (skip > 0) {
    int64_t want = std::min<int64_t>(skip, sizeof discard);
    int64_t got = Read(discard, want);
    skip -= got;
    if (got < want) break;
  }
  return totalOut_;
}
