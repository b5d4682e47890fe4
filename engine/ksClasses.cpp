#include "ksClasses.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ksConsts.h"
#include "ksPDFResStrs.h"

// ---- TksStream ----

int64_t TksStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TksStream::SetSize(int64_t) { throw EReadError("Stream size cannot be changed"); }

void TksStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TksStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EReadError("Stream write error");
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
    if (n < count) throw EReadError("Stream read error");
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
    if (n <= 0) throw EReadError("Stream read error");
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

// ---- TksFileStream ----

TksFileStream::TksFileStream(const std::string& path, Mode mode) : path_(path) {
  int flags = mode == fmOpenRead ? O_RDONLY : mode == fmCreate ? (O_RDWR | O_CREAT | O_TRUNC) : O_RDWR;
  fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd_ < 0)
    throw EReadError(ksFormat("Cannot open file \"%s\". %s", path.c_str(), std::strerror(errno)));
}

TksFileStream::~TksFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TksFileStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t TksFileStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw EReadError(ksFormat("Cannot write to file \"%s\". %s", path_.c_str(), std::strerror(errno)));
    done += n;
  }
  return done;
}

int64_t TksFileStream::Seek(int64_t offset, TksSeekOrigin origin) {
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

void TksFileStream::SetSize(int64_t newSize) {
  if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0)
    throw EReadError(ksFormat("Cannot resize file \"%s\". %s", path_.c_str(), std::strerror(errno)));
}

void TksFileStream::Flush() {
  if (::fsync(fd_) != 0 && errno != EINVAL)
    throw EReadError(ksFormat("Cannot write to file \"%s\". %s", path_.c_str(), std::strerror(errno)));
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

// ---- adapters ----

TksReadOnlyFilter::TksReadOnlyFilter(TksStream* source) {
  if (!source) throw EInvalidStream(ksres::SInvalidStream);
  Source = source;
  SourceSize = source->Size();
}

int64_t TksReadOnlyFilter::Read(void* buffer, int64_t count) { return Source->Read(buffer, count); }

int64_t TksReadOnlyFilter::Write(const void*, int64_t) { throw EReadError(ksres::SReadOnlyWrite); }

int64_t TksReadOnlyFilter::Seek(int64_t offset, TksSeekOrigin origin) {
  if (offset == -1) return -1;
  return Source->Seek(offset, origin);
}

uint8_t TksRandomAccessFilter::ReadByte() {
  uint8_t b = 0;
  Source->Read(&b, 1);
  return b;
}

std::string TksRandomAccessFilter::ReadString(int64_t count) {
  // Never reserve more than is left, whatever count a file claims.
  count = std::clamp<int64_t>(count, 0, std::max<int64_t>(Source->Size() - Source->Position(), 0));
  std::string s(static_cast<size_t>(count), '\0');
  int64_t n = Source->Read(s.data(), count);
  s.resize(static_cast<size_t>(std::max<int64_t>(n, 0)));
  return s;
}

uint8_t TksRandomAccessFilter::PeekByte() {
  uint8_t b = 0;
  int64_t n = Source->Read(&b, 1);
  AtEnd = Source->Position() >= Source->Size();
  if (n > 0) Source->Seek(-1, soCurrent);
  return b;
}

std::string TksRandomAccessFilter::PeekString(int64_t count) {
  std::string s = ReadString(count);
  if (!s.empty()) Source->Seek(-static_cast<int64_t>(s.size()), soCurrent);
  return s;
}

void TksRandomAccessFilter::StepBack() { Source->Seek(-1, soCurrent); }

void TksRandomAccessFilter::Skip(int64_t count) { Source->Seek(count, soCurrent); }

TksWriteOnlyFilter::TksWriteOnlyFilter(TksStream* target) {
  if (!target) throw EInvalidStream(ksres::SInvalidStream);
  Target = target;
}

int64_t TksWriteOnlyFilter::Read(void*, int64_t) { throw EReadError(ksres::SWriteOnlyRead); }

int64_t TksWriteOnlyFilter::Write(const void* buffer, int64_t count) { return Target->Write(buffer, count); }

int64_t TksWriteOnlyFilter::Seek(int64_t offset, TksSeekOrigin origin) { return Target->Seek(offset, origin); }

// ---- TksObjectList ----

void TksObjectList::Grow() {
  int32_t delta = capacity_ > 64 ? capacity_ / 4 : capacity_ > 8 ? 16 : 4;
  int32_t newCap = capacity_ + delta;
  auto items = std::make_unique<Pair[]>(static_cast<size_t>(newCap));
  if (count_) std::copy(items_.get(), items_.get() + count_, items.get());
  items_ = std::move(items);
  capacity_ = newCap;
}

int32_t TksObjectList::Add(int32_t id, TksPDFIndirectObject* object) {
  Insert(count_, id, object);
  return count_ - 1;
}

void TksObjectList::Insert(int32_t index, int32_t id, TksPDFIndirectObject* object) {
  if (id < 0) throw EInvalidID(ksFormat(ksres::SInvalidID, id));
  if (index < 0 || index > count_) throw Exception(ksFormat(ksres::SListIndexError, index));
  if (count_ == capacity_) Grow();
  std::move_backward(items_.get() + index, items_.get() + count_, items_.get() + count_ + 1);
  items_[static_cast<size_t>(index)] = Pair{id, object};
  ++count_;
}

TksPDFIndirectObject* TksObjectList::Items(int32_t index) const {
  if (index < 0 || index >= count_) throw Exception(ksFormat(ksres::SListIndexError, index));
  return items_[static_cast<size_t>(index)].object;
}

int32_t TksObjectList::IDs(int32_t index) const {
  if (index < 0 || index >= count_) throw Exception(ksFormat(ksres::SListIndexError, index));
  return items_[static_cast<size_t>(index)].id;
}

int32_t TksObjectList::IndexOfID(int32_t id) const {
  for (int32_t i = 0; i < count_; ++i)
    if (items_[static_cast<size_t>(i)].id == id) return i;
  return -1;
}

void TksObjectList::Clear() {
  items_.reset();
  count_ = 0;
  capacity_ = 0;
}

// ---- TksComponent ----

std::string TksComponent::About() const { return ksconst::ComponentAbout; }
std::string TksComponent::Version() const { return ksconst::ComponentVersion; }
