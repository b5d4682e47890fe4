#include "base/ksByteStreams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/ksConsts.h"
#include "base/ksPDFResStrs.h"

// ---- TksStream ----

int64_t TksStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TksStream::SetSize(int64_t) { throw EReadError(ksres::SStreamSizeFixed); }

void TksStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError(ksres::SStreamReadShort);
}

void TksStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EReadError(ksres::SStreamWriteShort);
}

int64_t TksStream::CopyFrom(TksStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (auto* mem = dynamic_cast<TksMemoryStream*>(&source)) {
    // Whole blocks straight from memory, no bounce buffer.
    int64_t pos = mem->Position();
    int64_t n = std::min<int64_t>(count, static_cast<int64_t>(mem->size()) - pos);
    if (n < count) throw EReadError(ksres::SStreamReadShort);
    WriteBuffer(mem->data() + pos, n);
    mem->Seek(n, soCurrent);
    return n;
  }
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buf.size()));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return count;
}

void TksStream::CopyFromFile(int fd, int64_t offset, int64_t count) {
  std::vector<uint8_t> buf(static_cast<size_t>(std::clamp<int64_t>(count, 0, 1 << 20)));
  while (count > 0) {
    ssize_t n = ::pread(fd, buf.data(), static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(buf.size()))),
                        static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EReadError(ksres::SStreamReadShort);
    WriteBuffer(buf.data(), n);
    offset += n;
    count -= n;
  }
}

// ---- TksMemoryStream ----

std::unique_ptr<TksMemoryStream> TksMemoryStream::Borrow(const uint8_t* data, size_t size) {
  auto s = std::make_unique<TksMemoryStream>();
  s->view_ = size ? data : nullptr;
  s->viewSize_ = size;
  return s;
}

std::unique_ptr<TksMemoryStream> TksMemoryStream::Adopt(TksMallocBlock block, size_t size) {
  auto s = std::make_unique<TksMemoryStream>();
  if (size == 0) return s;
  s->view_ = block.get();
  s->viewSize_ = size;
  s->block_ = std::move(block);
  return s;
}

void TksMemoryStream::Own() {
  if (view_) {
    buf_.assign(view_, view_ + viewSize_);
    view_ = nullptr;
    viewSize_ = 0;
    block_.reset();
  }
}

int64_t TksMemoryStream::Read(void* buffer, int64_t count) {
  int64_t avail = static_cast<int64_t>(size()) - pos_;
  int64_t n = std::clamp<int64_t>(count, 0, std::max<int64_t>(avail, 0));
  if (n > 0) std::memcpy(buffer, data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TksMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  Own();
  size_t end = static_cast<size_t>(pos_ + count);
  if (end > buf_.size()) {
    if (end > buf_.capacity()) buf_.reserve(std::max(end, buf_.capacity() * 2));
    buf_.resize(end);
  }
  std::memcpy(buf_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ += count;
  return count;
}

int64_t TksMemoryStream::Seek(int64_t offset, TksSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? pos_ : static_cast<int64_t>(size());
  int64_t target;
  // A hostile offset saturates instead of wrapping around to the start.
  if (__builtin_add_overflow(base, offset, &target)) target = offset > 0 ? INT64_MAX : 0;
  pos_ = std::max<int64_t>(0, target);
  return pos_;
}

void TksMemoryStream::SetSize(int64_t newSize) {
  Own();
  buf_.resize(static_cast<size_t>(std::max<int64_t>(newSize, 0)));
  if (pos_ > newSize) pos_ = newSize;
}

void TksMemoryStream::LoadFromBytes(std::string_view bytes) {
  buf_.assign(bytes.begin(), bytes.end());  // bytes may be this stream's own
  view_ = nullptr;
  viewSize_ = 0;
  block_.reset();
  pos_ = 0;
}

void TksMemoryStream::LoadFromStream(TksStream& source) {
  if (&source == this) return;
  Clear();
  source.SetPosition(0);
  int64_t n = source.Size();
  buf_.resize(static_cast<size_t>(n));
  source.ReadBuffer(buf_.data(), n);
  pos_ = 0;
}

void TksMemoryStream::Clear() {
  view_ = nullptr;
  viewSize_ = 0;
  block_.reset();
  buf_.clear();
  buf_.shrink_to_fit();
  pos_ = 0;
}

// ---- TksExtMemStream ----

uint8_t TksExtMemStream::ReadByte() {
  uint8_t b = 0;
  Read(&b, 1);
  return b;
}

uint16_t TksExtMemStream::ReadUInt16BE() {
  uint8_t b[2] = {0, 0};
  Read(b, 2);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t TksExtMemStream::ReadUInt32BE() {
  uint8_t b[4] = {0, 0, 0, 0};
  Read(b, 4);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

int64_t TksExtMemStream::ReadString(std::string& out, int64_t count) {
  // Never reserve more than is left, whatever count a file claims.
  count = std::clamp<int64_t>(count, 0, std::max<int64_t>(Size() - Position(), 0));
  out.assign(static_cast<size_t>(count), '\0');
  int64_t n = Read(out.data(), count);
  out.resize(static_cast<size_t>(n));
  return n;
}

void TksExtMemStream::SkipBytes(int64_t count) {
  const int64_t pos = Position();
  const int64_t size = Size();
  SetPosition(count >= 0 ? (count > size - pos ? size : pos + count) : (count < -pos ? 0 : pos + count));
}

void TksExtMemStream::WriteByte(uint8_t value) { Write(&value, 1); }

void TksExtMemStream::WriteBytes(std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) WriteByte(b);
}

void TksExtMemStream::WriteUInt16BE(uint16_t value) {
  uint8_t b[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  Write(b, 2);
}

void TksExtMemStream::WriteUInt32BE(uint32_t value) {
  uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  Write(b, 4);
}

void TksExtMemStream::WriteString(std::string_view text) { Write(text.data(), static_cast<int64_t>(text.size())); }

void TksExtMemStream::PadToLongBoundary() {
  Seek(0, soEnd);
  int64_t rem = Size() % 4;
  PadCount = rem ? 4 - rem : 0;
  static const uint8_t zeros[4] = {0, 0, 0, 0};
  if (PadCount) Write(zeros, PadCount);
}

// ---- TksComponent ----

std::string TksComponent::About() const { return ksconst::ComponentAbout; }
std::string TksComponent::Version() const { return ksconst::ComponentVersion; }
