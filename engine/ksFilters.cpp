#include "ksFilters.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "ksPDFResStrs.h"
#include "ksZLib.h"

namespace {

std::atomic<uint64_t> gDecodeLimit{ksDefaultDecodeLimit};

[[noreturn]] void ThrowTooLarge(uint64_t limit) {
  throw EDecodedSizeError(ksFormat(ksres::SDecodedTooLarge, std::to_string(limit).c_str()));
}

// True when out may grow by n bytes without passing limit.
inline bool Fits(const std::string& out, uint64_t n, uint64_t limit) {
  return n <= limit && out.size() <= limit - n;
}

inline void Reserve(std::string& out, uint64_t estimate, uint64_t limit) {
  out.reserve(static_cast<size_t>(std::min(estimate, limit)));
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Hex digit value of an upper-cased byte, -1 otherwise.
inline int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

inline bool IsAsciiBlank(uint8_t c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

}  // namespace

uint64_t ksDecodeLimit() { return gDecodeLimit.load(std::memory_order_relaxed); }
void ksSetDecodeLimit(uint64_t limit) { gDecodeLimit.store(limit, std::memory_order_relaxed); }

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

std::string AsciiHexDecode(std::string_view data, uint64_t limit) {
  std::string out;
  if (data.empty()) return out;
  if (data.back() != '>') throw Exception(ksres::SEndOfDataMarkerWrong);
  Reserve(out, data.size() / 2 + 1, limit);
  int held = -1;
  const size_t end = data.size() - 1;  // the final ">" is not read as data
  for (size_t i = 0; i < end; ++i) {
    uint8_t c = static_cast<uint8_t>(data[i]);
    if (c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 32);
    if (c == '>') break;
    if (IsAsciiBlank(c)) continue;
    int v = HexValue(c);
    if (v < 0) throw Exception(ksres::SIllegalCharacter);
    if (held < 0) {
      held = v;
    } else {
      if (!Fits(out, 1, limit)) ThrowTooLarge(limit);
      out.push_back(static_cast<char>((held << 4) | v));
      held = -1;
    }
  }
  if (held >= 0) {
    if (!Fits(out, 1, limit)) ThrowTooLarge(limit);
    out.push_back(static_cast<char>(held << 4));
  }
  return out;
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

std::string Ascii85Decode(std::string_view data, uint64_t limit) {
  static constexpr uint64_t kPow[5] = {52200625, 614125, 7225, 85, 1};
  std::string out;
  if (data.empty()) return out;
  if (data.size() < 2 || data.substr(data.size() - 2) != "~>") throw Exception(ksres::SEndOfDataMarkerWrong);
  const size_t end = data.size() - 2;
  Reserve(out, end / 5 * 4 + 4, limit);
  uint64_t acc = 0;
  int count = 0;
  auto put4 = [&out, limit](uint32_t v) {
    if (!Fits(out, 4, limit)) ThrowTooLarge(limit);
    const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
    out.append(b, 4);
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
      if (count != 0) throw Exception(ksres::SZInappropriate);
      put4(0);
    } else if (!IsAsciiBlank(c)) {
      throw Exception(ksres::SIllegalCharacter);
    }
  }
  if (count == 1) throw Exception(ksres::SSingleFinalCharacter);
  if (count > 1) {
    // The missing digits were read as 0, so the value is at most one unit of the
    // kept bytes too low: round the kept bytes up as one number.
    const int kept = count - 1;
    const int dropBits = 8 * (4 - kept);
    const uint32_t value = static_cast<uint32_t>(acc);
    uint32_t number = value >> dropBits;
    if (value & ((uint32_t{1} << dropBits) - 1)) ++number;
    if (!Fits(out, static_cast<uint64_t>(kept), limit)) ThrowTooLarge(limit);
    for (int k = kept - 1; k >= 0; --k) out.push_back(static_cast<char>(number >> (8 * k)));
  }
  return out;
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

std::string RunLengthDecode(std::string_view data, uint64_t limit) {
  std::string out;
  if (data.empty()) return out;
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  const size_t end = data.size() - 1;
  if (p[end] != 128) throw Exception(ksres::SRLEEndMarkerWrong);
  Reserve(out, data.size() * 2, limit);
  size_t i = 0;
  while (i < end) {
    const uint8_t len = p[i];
    if (len < 128) {
      const size_t count = size_t{len} + 1;
      if (i + 1 + count > end) throw Exception(ksres::SRLEUnexpectedEOF);
      if (!Fits(out, count, limit)) ThrowTooLarge(limit);
      out.append(data.substr(i + 1, count));
      i += 1 + count;
    } else if (len == 128) {
      throw Exception(ksres::SRLEPrematureEnd);
    } else {
      if (i + 1 >= end) throw Exception(ksres::SRLEUnexpectedEOF);
      const size_t count = 257 - size_t{len};
      if (!Fits(out, count, limit)) ThrowTooLarge(limit);
      out.append(count, data[i + 1]);
      i += 2;
    }
  }
  return out;
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
  void AppendTo(std::string& out, int code) const {
    const Entry* e = &entries_[static_cast<size_t>(code)];
    size_t at = out.size() + e->length;
    out.resize(at);
    for (;;) {
      out[--at] = static_cast<char>(e->last);
      if (e->prefix == kNone) break;
      e = &entries_[e->prefix];
    }
  }

 private:
  std::array<Entry, 4096> entries_;
  int size_ = 257;
};

}  // namespace

std::string LZWDecode(std::string_view data, uint64_t limit) {
  std::string out;
  if (data.empty()) return out;
  Reserve(out, data.size() * 3, limit);
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
      if (prev < 0) throw Exception(ksFormat(ksres::SLZWInvalidFirstCode, code));
      // Taken as the next code to be defined: previous string plus its first byte.
      code = table->Size();
      table->Add(prev, lastFirst);
    }
    const LZWTable::Entry& s = (*table)[code];
    if (!Fits(out, s.length, limit)) ThrowTooLarge(limit);
    table->AppendTo(out, code);
    lastFirst = s.first;
    prev = code;
    const int size = table->Size();
    if ((size == 511 || size == 1023 || size == 2047) && width < 12) ++width;
    if (size == 4095) table->Reset();  // width stays until a Clear code
  }
  return out;
}

// ---- Flate ----

std::string FlateCompress(std::string_view data, uint8_t levelIndex) {
  TksMemoryStream target;
  target.Reserve(data.size() / 2 + 64);
  TCompressionStream z(levelIndex, target);
  z.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  z.Finish();
  return target.ToString();
}

std::string FlateDecode(std::string_view data, uint64_t limit) {
  std::string out;
  if (data.empty()) return out;
  auto source = TksMemoryStream::Borrow(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  TDecompressionStream z(*source);
  Reserve(out, data.size() * 2, limit);
  constexpr int64_t kPiece = 10240;
  char piece[kPiece];
  for (;;) {
    int64_t got = z.Read(piece, kPiece);
    if (!Fits(out, static_cast<uint64_t>(got), limit)) ThrowTooLarge(limit);
    out.append(piece, static_cast<size_t>(got));
    if (got < kPiece) break;
  }
  return out;
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

std::unique_ptr<TksMemoryStream> TksFilter::CompressStream(TksStream&, uint8_t) { return nullptr; }
std::string TksFilter::CompressString(std::string_view, uint8_t) { return {}; }
std::unique_ptr<TksMemoryStream> TksFilter::EncodeStream(TksStream&) { return nullptr; }
std::string TksFilter::EncodeString(std::string_view) { return {}; }

std::unique_ptr<TksMemoryStream> TksAsciiHexFilter::EncodeStream(TksStream& source) {
  return OverStream(source, [](std::string_view d) { return AsciiHexEncode(d); });
}
std::string TksAsciiHexFilter::EncodeString(std::string_view data) { return AsciiHexEncode(data); }
std::unique_ptr<TksMemoryStream> TksAsciiHexFilter::DecodeStream(TksStream& source) {
  return OverStream(source, [this](std::string_view d) { return AsciiHexDecode(d, DecodeLimit); });
}
std::string TksAsciiHexFilter::DecodeString(std::string_view data) { return AsciiHexDecode(data, DecodeLimit); }

std::unique_ptr<TksMemoryStream> TksAscii85Filter::EncodeStream(TksStream& source) {
  return OverStream(source, [](std::string_view d) { return Ascii85Encode(d); });
}
std::string TksAscii85Filter::EncodeString(std::string_view data) { return Ascii85Encode(data); }
std::unique_ptr<TksMemoryStream> TksAscii85Filter::DecodeStream(TksStream& source) {
  return OverStream(source, [this](std::string_view d) { return Ascii85Decode(d, DecodeLimit); });
}
std::string TksAscii85Filter::DecodeString(std::string_view data) { return Ascii85Decode(data, DecodeLimit); }

std::unique_ptr<TksMemoryStream> TksRLEFilter::EncodeStream(TksStream& source) {
  return OverStream(source, [](std::string_view d) { return RunLengthEncode(d); });
}
std::string TksRLEFilter::EncodeString(std::string_view data) { return RunLengthEncode(data); }
std::unique_ptr<TksMemoryStream> TksRLEFilter::DecodeStream(TksStream& source) {
  return OverStream(source, [this](std::string_view d) { return RunLengthDecode(d, DecodeLimit); });
}
std::string TksRLEFilter::DecodeString(std::string_view data) { return RunLengthDecode(data, DecodeLimit); }

std::unique_ptr<TksMemoryStream> TksLZWFilter::DecodeStream(TksStream& source) {
  return OverStream(source, [this](std::string_view d) { return LZWDecode(d, DecodeLimit); });
}
std::string TksLZWFilter::DecodeString(std::string_view data) { return LZWDecode(data, DecodeLimit); }

std::unique_ptr<TksMemoryStream> TksFlateFilter::CompressStream(TksStream& source, uint8_t level) {
  return OverStream(source, [level](std::string_view d) { return FlateCompress(d, level); });
}
std::string TksFlateFilter::CompressString(std::string_view data, uint8_t level) {
  return FlateCompress(data, level);
}
std::unique_ptr<TksMemoryStream> TksFlateFilter::DecodeStream(TksStream& source) {
  return OverStream(source, [this](std::string_view d) { return FlateDecode(d, DecodeLimit); });
}
std::string TksFlateFilter::DecodeString(std::string_view data) { return FlateDecode(data, DecodeLimit); }
