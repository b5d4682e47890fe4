#include "codec/ksFilters.h"
#include "base/ksSyntax.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "base/ksPDFResStrs.h"
#include "codec/ksZLib.h"

namespace {

std::atomic<uint64_t> gDecodeLimit{ksDefaultDecodeLimit};

// The first block a growing buffer takes; it doubles from there.
constexpr size_t kMinBlock = 4096;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Hex digit value of an upper-cased byte, -1 otherwise.
inline int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

inline bool IsAsciiBlank(uint8_t c) { return ksIsCodecBlank(c); }

}  // namespace

uint64_t ksDecodeLimit() { return gDecodeLimit.load(std::memory_order_relaxed); }
void ksSetDecodeLimit(uint64_t limit) { gDecodeLimit.store(limit, std::memory_order_relaxed); }

// ---- TksDecodeBuffer ----

TksDecodeBuffer::TksDecodeBuffer(uint64_t limit, uint64_t reserve)
    : limit_(std::min<uint64_t>(limit, std::numeric_limits<size_t>::max() / 2)) {
  Reserve(reserve);
}

TksDecodeBuffer::TksDecodeBuffer(TksDecodeBuffer&& other) noexcept
    : block_(std::move(other.block_)), size_(other.size_), capacity_(other.capacity_), limit_(other.limit_) {
  other.size_ = other.capacity_ = 0;
}

TksDecodeBuffer& TksDecodeBuffer::operator=(TksDecodeBuffer&& other) noexcept {
  block_ = std::move(other.block_);
  size_ = other.size_;
  capacity_ = other.capacity_;
  limit_ = other.limit_;
  other.size_ = other.capacity_ = 0;
  return *this;
}

void TksDecodeBuffer::ThrowTooLarge() const {
  throw EDecodedSizeError(ksFormat(ksres::SDecodedTooLarge, std::to_string(limit_).c_str()));
}

void TksDecodeBuffer::Reserve(uint64_t n) {
  n = std::min(n, limit_);
  if (n <= capacity_) return;
  auto* grown = static_cast<uint8_t*>(std::realloc(block_.get(), static_cast<size_t>(n)));
  if (!grown) throw std::bad_alloc();
  (void)block_.release();
  block_.reset(grown);
  capacity_ = static_cast<size_t>(n);
}

void TksDecodeBuffer::Grow(size_t needed) {
  // Doubling keeps appends cheap; the reservation never passes the limit, so a stream
  // that stops short of the limit never held room for more than it.
  const uint64_t doubled = std::max<uint64_t>(uint64_t{capacity_} * 2, kMinBlock);
  Reserve(std::max<uint64_t>(needed, std::min(doubled, limit_)));
}

void TksDecodeBuffer::Append(const void* bytes, size_t n) {
  if (n > 0) std::memcpy(Extend(n), bytes, n);
}

void TksDecodeBuffer::Append(size_t n, uint8_t byte) {
  if (n > 0) std::memset(Extend(n), byte, n);
}

std::unique_ptr<TksMemoryStream> TksDecodeBuffer::ToStream() {
  // Spare room is given back; for a large block that only unmaps its tail.
  if (capacity_ > size_ && size_ > 0)
    if (auto* fitted = static_cast<uint8_t*>(std::realloc(block_.get(), size_))) {
      (void)block_.release();
      block_.reset(fitted);
    }
  const size_t n = size_;
  size_ = capacity_ = 0;
  return TksMemoryStream::Adopt(std::move(block_), n);
}

// ---- ASCIIHex ----

std::string AsciiHexEncode(std::string_view data) {
  std::string out(data.size() * 2 + 1, '>');
  char* p = out.data();
  for (unsigned char b : data) {
    *p++ = kHexDigits[b >> 4];
    *p++ = kHexDigits[b & 15];
  }
  return out;
}

void AsciiHexDecodeInto(std::string_view data, TksDecodeBuffer& out) {
  out.Reserve(data.size() / 2 + 1);
  int held = -1;
  for (unsigned char ch : data) {
    uint8_t c = ch;
    if (c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 32);
    if (c == '>') break;
    if (IsAsciiBlank(c)) continue;
    int v = HexValue(c);
    if (v < 0) throw EFilterDataError(ksres::SIllegalCharacter);
    if (held < 0) {
      held = v;
    } else {
      out.Push(static_cast<uint8_t>((held << 4) | v));
      held = -1;
    }
  }
  if (held >= 0) out.Push(static_cast<uint8_t>(held << 4));
}

namespace {

// The codec's own form: data must end with the marker.
void AsciiHexDecodeMarked(std::string_view data, TksDecodeBuffer& out) {
  if (data.empty()) return;
  if (data.back() != '>') throw EFilterDataError(ksres::SEndOfDataMarkerWrong);
  AsciiHexDecodeInto(data.substr(0, data.size() - 1), out);  // the final ">" is not data
}

}  // namespace

std::string AsciiHexDecode(std::string_view data, uint64_t limit) {
  TksDecodeBuffer out(limit);
  AsciiHexDecodeMarked(data, out);
  return out.ToString();
}

// ---- ASCII85 ----

std::string Ascii85Encode(std::string_view data) {
  std::string out;
  out.reserve(data.size() / 4 * 5 + 7);
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  size_t n = data.size();
  size_t i = 0;
  char digits[5];
  auto toDigits = [&digits](uint32_t v) {
    for (int k = 4; k >= 0; --k) {
      digits[k] = static_cast<char>('!' + v % 85);
      v /= 85;
    }
  };
  for (; i + 4 <= n; i += 4) {
    uint32_t v = (uint32_t{p[i]} << 24) | (uint32_t{p[i + 1]} << 16) | (uint32_t{p[i + 2]} << 8) | p[i + 3];
    if (v == 0) {
      out.push_back('z');
    } else {
      toDigits(v);
      out.append(digits, 5);
    }
  }
  if (size_t k = n - i; k > 0) {
    uint32_t v = 0;
    for (size_t j = 0; j < 4; ++j) v = (v << 8) | (j < k ? p[i + j] : 0);
    toDigits(v);
    out.append(digits, k + 1);
  }
  out.append("~>");
  return out;
}

void Ascii85DecodeInto(std::string_view data, TksDecodeBuffer& out) {
  static constexpr uint64_t kPow[5] = {52200625, 614125, 7225, 85, 1};
  if (data.empty()) return;
  if (data.size() < 2 || data.substr(data.size() - 2) != "~>") throw EFilterDataError(ksres::SEndOfDataMarkerWrong);
  const size_t end = data.size() - 2;
  out.Reserve(end / 5 * 4 + 4);
  uint64_t acc = 0;
  int count = 0;
  auto put4 = [&out](uint32_t v) {
    uint8_t* b = out.Extend(4);
    b[0] = static_cast<uint8_t>(v >> 24);
    b[1] = static_cast<uint8_t>(v >> 16);
    b[2] = static_cast<uint8_t>(v >> 8);
    b[3] = static_cast<uint8_t>(v);
  };
  for (size_t i = 0; i < end; ++i) {
    uint8_t c = static_cast<uint8_t>(data[i]);
    if (c >= '!' && c <= 'u') {
      acc += (c - 33) * kPow[count];
      if (++count == 5) {
        put4(static_cast<uint32_t>(acc));  // a group above 2^32 - 1 wraps
        acc = 0;
        count = 0;
      }
    } else if (c == 'z') {
      if (count != 0) throw EFilterDataError(ksres::SZInappropriate);
      put4(0);
    } else if (!IsAsciiBlank(c)) {
      throw EFilterDataError(ksres::SIllegalCharacter);
    }
  }
  if (count == 1) throw EFilterDataError(ksres::SSingleFinalCharacter);
  if (count > 1) {
    // The missing digits were read as 0, so the value is at most one unit of the
    // kept bytes too low: round the kept bytes up as one number.
    const int kept = count - 1;
    const int dropBits = 8 * (4 - kept);
    const uint32_t value = static_cast<uint32_t>(acc);
    uint32_t number = value >> dropBits;
    if (value & ((uint32_t{1} << dropBits) - 1)) ++number;
    uint8_t* b = out.Extend(static_cast<size_t>(kept));
    for (int k = kept - 1; k >= 0; --k) *b++ = static_cast<uint8_t>(number >> (8 * k));
  }
}

std::string Ascii85Decode(std::string_view data, uint64_t limit) {
  TksDecodeBuffer out(limit);
  Ascii85DecodeInto(data, out);
  return out.ToString();
}

// ---- RunLength ----

std::string RunLengthEncode(std::string_view data) {
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  const size_t n = data.size();
  std::string out;
  out.reserve(n + n / 128 + 2);
  size_t litStart = 0;
  size_t litLen = 0;
  auto flushLiteral = [&] {
    size_t at = litStart;
    size_t m = litLen;
    while (m > 128) {
      out.push_back(static_cast<char>(127));
      out.append(data.substr(at, 128));
      at += 128;
      m -= 128;
    }
    if (m > 0) {
      out.push_back(static_cast<char>(m - 1));
      out.append(data.substr(at, m));
    }
    litLen = 0;
  };
  auto writeRun = [&out](uint8_t b, size_t count) {
    while (count > 128) {
      out.push_back(static_cast<char>(129));
      out.push_back(static_cast<char>(b));
      count -= 128;
    }
    // A remainder of one becomes a one-byte literal block (257 - 1 wraps to 0).
    out.push_back(static_cast<char>(static_cast<uint8_t>(257 - count)));
    out.push_back(static_cast<char>(b));
  };
  size_t i = 0;
  while (i < n) {
    const uint8_t b = p[i];
    size_t j = i + 1;
    while (j < n && p[j] == b) ++j;
    const size_t run = j - i;
    if (run >= 3) {
      flushLiteral();
      writeRun(b, run);
    } else if (run == 2) {
      if (j < n && litLen > 0 && (j == n - 1 || p[j] != p[j + 1])) {
        litLen += 2;  // a pair inside literal text is cheaper kept there
      } else {
        flushLiteral();
        writeRun(b, 2);
      }
    } else {
      if (litLen == 0) litStart = i;
      ++litLen;
    }
    i = j;
  }
  flushLiteral();
  out.push_back(static_cast<char>(128));
  return out;
}

void RunLengthDecodeInto(std::string_view data, TksDecodeBuffer& out) {
  if (data.empty()) return;
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  const size_t end = data.size() - 1;
  if (p[end] != 128) throw EFilterDataError(ksres::SRLEEndMarkerWrong);
  out.Reserve(uint64_t{data.size()} * 2);
  size_t i = 0;
  while (i < end) {
    const uint8_t len = p[i];
    if (len < 128) {
      const size_t count = size_t{len} + 1;
      if (i + 1 + count > end) throw EFilterDataError(ksres::SRLEUnexpectedEOF);
      out.Append(p + i + 1, count);
      i += 1 + count;
    } else if (len == 128) {
      throw EFilterDataError(ksres::SRLEPrematureEnd);
    } else {
      if (i + 1 >= end) throw EFilterDataError(ksres::SRLEUnexpectedEOF);
      out.Append(257 - size_t{len}, p[i + 1]);
      i += 2;
    }
  }
}

std::string RunLengthDecode(std::string_view data, uint64_t limit) {
  TksDecodeBuffer out(limit);
  RunLengthDecodeInto(data, out);
  return out.ToString();
}

// ---- LZW ----

namespace {

// Table entries are linked to their prefix entry, so adding one costs O(1) and the
// table never holds more than 4,095 entries of at most 4,095 bytes.
class LZWTable {
 public:
  static constexpr uint16_t kNone = 0xFFFF;
  struct Entry {
    uint16_t prefix;
    uint8_t last;
    uint8_t first;
    uint16_t length;
  };

  LZWTable() { Reset(); }
  void Reset() {
    for (int i = 0; i < 256; ++i) entries_[i] = Entry{kNone, uint8_t(i), uint8_t(i), 1};
    entries_[256] = Entry{kNone, 0, 0, 1};  // Clear's placeholder
    size_ = 257;
  }
  int Size() const { return size_; }
  const Entry& operator[](int code) const { return entries_[static_cast<size_t>(code)]; }
  // Appends entry(prefix) + b, or b alone when prefix is not a current entry.
  void Add(int prefix, uint8_t b) {
    if (prefix >= 0 && prefix < size_) {
      const Entry& e = entries_[static_cast<size_t>(prefix)];
      entries_[static_cast<size_t>(size_)] =
          Entry{static_cast<uint16_t>(prefix), b, e.first, static_cast<uint16_t>(e.length + 1)};
    } else {
      entries_[static_cast<size_t>(size_)] = Entry{kNone, b, b, 1};
    }
    ++size_;
  }
  void AppendTo(TksDecodeBuffer& out, int code) const {
    const Entry* e = &entries_[static_cast<size_t>(code)];
    uint8_t* at = out.Extend(e->length) + e->length;
    for (;;) {
      *--at = e->last;
      if (e->prefix == kNone) break;
      e = &entries_[e->prefix];
    }
  }

 private:
  std::array<Entry, 4096> entries_;
  int size_ = 257;
};

}  // namespace

void LZWDecodeInto(std::string_view data, TksDecodeBuffer& out) {
  if (data.empty()) return;
  out.Reserve(uint64_t{data.size()} * 3);
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  const size_t n = data.size();
  auto table = std::make_unique<LZWTable>();
  int width = 9;
  uint32_t bits = 0;
  int nbits = 0;
  size_t pos = 0;
  int prev = -1;
  uint8_t lastFirst = 0;
  for (;;) {
    while (nbits <= 16 && pos < n) {
      bits = (bits << 8) | p[pos++];
      nbits += 8;
    }
    if (nbits < width) break;
    int code = static_cast<int>((bits >> (nbits - width)) & ((1u << width) - 1));
    nbits -= width;
    if (code == 256) {
      table->Reset();
      width = 9;
      continue;  // the previous code is kept
    }
    if (code == 257) break;
    if (code < table->Size()) {
      table->Add(prev, (*table)[code].first);
    } else {
      if (prev < 0) throw EFilterDataError(ksFormat(ksres::SLZWInvalidFirstCode, code));
      // Taken as the next code to be defined: previous string plus its first byte.
      code = table->Size();
      table->Add(prev, lastFirst);
    }
    const LZWTable::Entry& s = (*table)[code];
    table->AppendTo(out, code);
    lastFirst = s.first;
    prev = code;
    const int size = table->Size();
    if ((size == 511 || size == 1023 || size == 2047) && width < 12) ++width;
    if (size == 4095) table->Reset();  // width stays until a Clear code
  }
}

std::string LZWDecode(std::string_view data, uint64_t limit) {
  TksDecodeBuffer out(limit);
  LZWDecodeInto(data, out);
  return out.ToString();
}

// ---- Flate ----

std::string FlateCompress(std::string_view data, uint8_t levelIndex) { return ZCompressBytes(data, levelIndex); }

void FlateDecodeInto(std::string_view data, TksDecodeBuffer& out) {
  if (data.empty()) return;
  auto source = TksMemoryStream::Borrow(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  TDecompressionStream z(*source);
  out.Reserve(uint64_t{data.size()} * 2);
  // Inflated straight into the buffer, a piece at a time, and never past the limit:
  // one byte more than the limit allows is what tells a stream that passes it.
  constexpr size_t kPiece = 65536;
  for (;;) {
    const uint64_t room = out.Limit() - out.size();
    if (room == 0) {
      uint8_t probe;
      if (z.Read(&probe, 1) > 0) out.ThrowTooLarge();
      return;
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(room, kPiece));
    const size_t before = out.size();
    const int64_t got = z.Read(out.Extend(want), static_cast<int64_t>(want));
    out.Truncate(before + static_cast<size_t>(got));
    if (static_cast<size_t>(got) < want) return;
  }
}

std::string FlateDecode(std::string_view data, uint64_t limit) {
  TksDecodeBuffer out(limit);
  FlateDecodeInto(data, out);
  return out.ToString();
}

int64_t CompressInto(TksMemoryStream& source, TksStream& target) {
  const int64_t before = target.Seek(0, soEnd);
  TCompressionStream z(2, target);
  z.WriteBuffer(source.data(), static_cast<int64_t>(source.size()));
  z.Finish();
  return target.Seek(0, soEnd) - before;
}

// ---- TksFilter ----

template <class F>
std::unique_ptr<TksMemoryStream> TksFilter::OverStream(TksStream& source, F&& core) {
  std::string result;
  if (auto* mem = dynamic_cast<TksMemoryStream*>(&source)) {
    result = core(mem->View());
  } else {
    TksMemoryStream whole;
    whole.LoadFromStream(source);
    result = core(whole.View());
  }
  return std::make_unique<TksMemoryStream>(result);
}

template <class F>
std::unique_ptr<TksMemoryStream> TksFilter::DecodeOverStream(TksStream& source, F&& core) const {
  TksDecodeBuffer out(DecodeLimit);
  if (auto* mem = dynamic_cast<TksMemoryStream*>(&source)) {
    core(mem->View(), out);
  } else {
    TksMemoryStream whole;
    whole.LoadFromStream(source);
    core(whole.View(), out);
  }
  return out.ToStream();
}

std::unique_ptr<TksMemoryStream> TksFilter::CompressStream(TksStream&, uint8_t) { return nullptr; }
std::string TksFilter::CompressString(std::string_view, uint8_t) { return {}; }
std::unique_ptr<TksMemoryStream> TksFilter::EncodeStream(TksStream&) { return nullptr; }
std::string TksFilter::EncodeString(std::string_view) { return {}; }

std::unique_ptr<TksMemoryStream> TksAsciiHexFilter::EncodeStream(TksStream& source) {
  return OverStream(source, [](std::string_view d) { return AsciiHexEncode(d); });
}
std::string TksAsciiHexFilter::EncodeString(std::string_view data) { return AsciiHexEncode(data); }
std::unique_ptr<TksMemoryStream> TksAsciiHexFilter::DecodeStream(TksStream& source) {
  return DecodeOverStream(source, AsciiHexDecodeMarked);
}
std::string TksAsciiHexFilter::DecodeString(std::string_view data) { return AsciiHexDecode(data, DecodeLimit); }

std::unique_ptr<TksMemoryStream> TksAscii85Filter::EncodeStream(TksStream& source) {
  return OverStream(source, [](std::string_view d) { return Ascii85Encode(d); });
}
std::string TksAscii85Filter::EncodeString(std::string_view data) { return Ascii85Encode(data); }
std::unique_ptr<TksMemoryStream> TksAscii85Filter::DecodeStream(TksStream& source) {
  return DecodeOverStream(source, Ascii85DecodeInto);
}
std::string TksAscii85Filter::DecodeString(std::string_view data) { return Ascii85Decode(data, DecodeLimit); }

std::unique_ptr<TksMemoryStream> TksRLEFilter::EncodeStream(TksStream& source) {
  return OverStream(source, [](std::string_view d) { return RunLengthEncode(d); });
}
std::string TksRLEFilter::EncodeString(std::string_view data) { return RunLengthEncode(data); }
std::unique_ptr<TksMemoryStream> TksRLEFilter::DecodeStream(TksStream& source) {
  return DecodeOverStream(source, RunLengthDecodeInto);
}
std::string TksRLEFilter::DecodeString(std::string_view data) { return RunLengthDecode(data, DecodeLimit); }

std::unique_ptr<TksMemoryStream> TksLZWFilter::DecodeStream(TksStream& source) {
  return DecodeOverStream(source, LZWDecodeInto);
}
std::string TksLZWFilter::DecodeString(std::string_view data) { return LZWDecode(data, DecodeLimit); }

std::unique_ptr<TksMemoryStream> TksFlateFilter::CompressStream(TksStream& source, uint8_t level) {
  return OverStream(source, [level](std::string_view d) { return FlateCompress(d, level); });
}
std::string TksFlateFilter::CompressString(std::string_view data, uint8_t level) {
  return FlateCompress(data, level);
}
std::unique_ptr<TksMemoryStream> TksFlateFilter::DecodeStream(TksStream& source) {
  return DecodeOverStream(source, FlateDecodeInto);
}
std::string TksFlateFilter::DecodeString(std::string_view data) { return FlateDecode(data, DecodeLimit); }
