// Published types the converter itself does not use: a file stream, stream adapters and
// the (unique ID, object) list. Kept for callers written against them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "base/ksByteStreams.h"

class TksPDFIndirectObject;

// A file on disk; modes follow the framework's: create (truncate) or open for reading.
class TksFileStream : public TksStream {
 public:
  enum Mode { fmOpenRead, fmCreate, fmOpenReadWrite };
  TksFileStream(const std::string& path, Mode mode);
  ~TksFileStream() override;
  TksFileStream(const TksFileStream&) = delete;
  TksFileStream& operator=(const TksFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TksSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  void Flush();
  const std::string& FileName() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// Read-only view of another stream; never owns it.
class TksReadOnlyFilter : public TksStream {
 public:
  explicit TksReadOnlyFilter(TksStream* source);
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TksSeekOrigin origin) override;
  int64_t SourceSize = 0;
  TksStream* Source = nullptr;
};

// Read-only view with look-ahead.
class TksRandomAccessFilter : public TksReadOnlyFilter {
 public:
  using TksReadOnlyFilter::TksReadOnlyFilter;
  uint8_t ReadByte();
  std::string ReadString(int64_t count);
  uint8_t PeekByte();
  std::string PeekString(int64_t count);
  void StepBack();
  void Skip(int64_t count);
  bool AtEnd = false;
};

// Write-only view of another stream; never owns it.
class TksWriteOnlyFilter : public TksStream {
 public:
  explicit TksWriteOnlyFilter(TksStream* target);
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TksSeekOrigin origin) override;
  TksStream* Target = nullptr;
};

// (unique ID, indirect object) pairs. Does not own the objects.
class TksObjectList {
 public:
  int32_t Add(int32_t id, TksPDFIndirectObject* object);
  void Insert(int32_t index, int32_t id, TksPDFIndirectObject* object);
  TksPDFIndirectObject* Items(int32_t index) const;
  int32_t IDs(int32_t index) const;
  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }
  int32_t IndexOfID(int32_t id) const;
  void Clear();

 private:
  void Grow();
  struct Pair { int32_t id; TksPDFIndirectObject* object; };
  std::unique_ptr<Pair[]> items_;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

