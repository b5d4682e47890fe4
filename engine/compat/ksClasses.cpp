#include "compat/ksClasses.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/ksPDFResStrs.h"

// ---- TksFileStream ----

TksFileStream::TksFileStream(const std::string& path, Mode mode) : path_(path) {
  int flags = mode == fmOpenRead ? O_RDONLY : mode == fmCreate ? (O_RDWR | O_CREAT | O_TRUNC) : O_RDWR;
  fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd_ < 0)
    throw EReadError(ksFormat(ksres::SCannotOpenFile, path.c_str(), std::strerror(errno)));
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
      throw EReadError(ksFormat(ksres::SCannotWriteFile, path_.c_str(), std::strerror(errno)));
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
    throw EReadError(ksFormat(ksres::SCannotResizeFile, path_.c_str(), std::strerror(errno)));
}

void TksFileStream::Flush() {
  if (::fsync(fd_) != 0 && errno != EINVAL)
    throw EReadError(ksFormat(ksres::SCannotWriteFile, path_.c_str(), std::strerror(errno)));
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
  if (index < 0 || index > count_) throw EListIndexError(ksFormat(ksres::SListIndexError, index));
  if (count_ == capacity_) Grow();
  std::move_backward(items_.get() + index, items_.get() + count_, items_.get() + count_ + 1);
  items_[static_cast<size_t>(index)] = Pair{id, object};
  ++count_;
}

TksPDFIndirectObject* TksObjectList::Items(int32_t index) const {
  if (index < 0 || index >= count_) throw EListIndexError(ksFormat(ksres::SListIndexError, index));
  return items_[static_cast<size_t>(index)].object;
}

int32_t TksObjectList::IDs(int32_t index) const {
  if (index < 0 || index >= count_) throw EListIndexError(ksFormat(ksres::SListIndexError, index));
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

