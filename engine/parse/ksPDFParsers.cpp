#include "parse/ksPDFParsers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "base/ksPDFResStrs.h"
#include "base/ksSyntax.h"

namespace {

enum : uint8_t { kWhite = 1, kTokenDelim = 2, kNameTerm = 4 };

constexpr auto kClasses = [] {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c)
    if (ksIsParserWhiteSpace(static_cast<uint8_t>(c))) t[c] |= kWhite | kTokenDelim;
  // A name ends at white space other than NUL (a NUL is part of the name).
  for (int c = 1; c < 256; ++c)
    if (ksIsParserWhiteSpace(static_cast<uint8_t>(c))) t[c] |= kNameTerm;
  for (int c = 0; c < 256; ++c)
    if (ksIsDelimiter(static_cast<uint8_t>(c))) t[c] |= kTokenDelim | kNameTerm;
  return t;
}();

inline bool IsWhite(uint8_t c) { return kClasses[c] & kWhite; }
inline bool IsTokenDelim(uint8_t c) { return kClasses[c] & kTokenDelim; }
inline bool IsNameTerm(uint8_t c) { return kClasses[c] & kNameTerm; }
inline bool IsAlnum(uint8_t c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

constexpr std::string_view kEndstream = "endstream";

// The character a parse error names: the byte found, or the end of the data.
std::string Found(int c) { return c < 0 ? std::string(ksres::SEndOfData) : std::string(1, static_cast<char>(c)); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  return true;
}

template <class T>
bool TryStrToInt(std::string_view text, T& value) {
  // The sign "+" is accepted as numbers in PDF files may carry it.
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool TryStrToReal(std::string_view text, double& value) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  return ec == std::errc() && end == text.data() + text.size();
}

std::string HexBodyToBytes(std::string_view body) { return HexDigitsToBytes(body); }

// Resolves the escapes of a literal string's body.
std::string UnescapeLiteral(std::string_view body) {
  std::string out;
  out.reserve(body.size());
  for (size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (c != '\\' || i + 1 >= body.size()) {
      out.push_back(c);
      continue;
    }
    char n = body[i + 1];
    switch (n) {
      case '(': case ')': case '\\': out.push_back(n); ++i; break;
      case 'b': out.push_back('\b'); ++i; break;
      case 'f': out.push_back('\f'); ++i; break;
      case 'n': out.push_back('\n'); ++i; break;
      case 'r': out.push_back('\r'); ++i; break;
      case 't': out.push_back('\t'); ++i; break;
      default:
        if (n >= '0' && n <= '8') {
          // One to three digits, the digit 8 accepted as files carry it.
          int value = 0, digits = 0;
          while (digits < 3 && i + 1 < body.size() && body[i + 1] >= '0' && body[i + 1] <= '8') {
            value = value * 8 + (body[i + 1] - '0');
            ++digits;
            ++i;
          }
          out.push_back(static_cast<char>(value & 0xFF));
        } else {
          out.push_back('\\');  // an unknown escape keeps its backslash
        }
    }
  }
  return out;
}

}  // namespace

bool ksTryStrToInt32(std::string_view text, int32_t& value) { return TryStrToInt(text, value); }
bool ksTryStrToInt64(std::string_view text, int64_t& value) { return TryStrToInt(text, value); }

TksPDFStreamReader::NestingGuard::NestingGuard(TksPDFStreamReader& r) : reader(r) {
  if (++reader.depth_ > kMaxNesting) {
    --reader.depth_;
    throw ESyntaxError(ksFormat(ksres::SNestingTooDeep, kMaxNesting));
  }
}

TksPDFStreamReader::ScratchGuard::~ScratchGuard() {
  // After an error, what the container had read so far is dropped here.
  reader.keyScratch_.resize(keyBase);
  reader.valueScratch_.resize(valueBase);
}

void TksPDFStreamReader::ScratchGuard::MoveValues(std::vector<TksPDFObjectPtr>& to) {
  auto& from = reader.valueScratch_;
  to.reserve(from.size() - valueBase);
  for (size_t i = valueBase; i < from.size(); ++i) to.push_back(std::move(from[i]));
  from.resize(valueBase);
}

void TksPDFStreamReader::ScratchGuard::MoveInto(TksPDFDictObject& dict) {
  auto& keys = reader.keyScratch_;
  auto& values = reader.valueScratch_;
  dict.AppendEntries(std::span(keys).subspan(keyBase), std::span(values).subspan(valueBase));
  keys.resize(keyBase);
  values.resize(valueBase);
}

TksPDFStreamReader::TksPDFStreamReader(const uint8_t* data, uint64_t size, int32_t documentID,
                                       TksPDFDecryptor* decryptor)
    : DocumentID(documentID), Decryptor(decryptor), data_(data), size_(data ? size : 0) {}

std::string_view TksPDFStreamReader::PeekString(uint64_t count) const {
  if (pos_ >= size_) return {};
  uint64_t n = std::min(count, size_ - pos_);
  return {reinterpret_cast<const char*>(data_ + pos_), static_cast<size_t>(n)};
}

std::string_view TksPDFStreamReader::ReadString(uint64_t count) {
  std::string_view s = PeekString(count);
  pos_ += s.size();
  return s;
}

void TksPDFStreamReader::SkipWhiteSpace() {
  pos_ = SkipWhiteSpaceFrom(pos_, size_);
}

std::string_view TksPDFStreamReader::ReadTokenView() {
  if (pos_ >= size_) return {};
  uint64_t start = pos_++;  // the first byte is taken whatever it is, so "]" is a token
  while (pos_ < size_ && !IsTokenDelim(data_[pos_])) ++pos_;
  std::string_view token(reinterpret_cast<const char*>(data_ + start), static_cast<size_t>(pos_ - start));
  SkipWhiteSpace();
  return token;
}

std::string TksPDFStreamReader::ReadToken() { return std::string(ReadTokenView()); }

std::string TksPDFStreamReader::PeekWord() {
  SkipWhiteSpace();
  uint64_t end = pos_;
  while (end < size_ && !IsNameTerm(data_[end])) ++end;
  return std::string(reinterpret_cast<const char*>(data_ + pos_), static_cast<size_t>(end - pos_));
}

bool TksPDFStreamReader::PeekObjectHeader(int32_t& objectNumber, int32_t& generation) {
  uint64_t saved = pos_;
  SkipWhiteSpace();
  std::string_view t1 = ReadTokenView();
  std::string_view t2 = ReadTokenView();
  std::string_view t3 = ReadTokenView();
  pos_ = saved;
  return EqualsNoCase(t3, "obj") && TryStrToInt(t1, objectNumber) && TryStrToInt(t2, generation);
}

TksPDFObjectPtr TksPDFStreamReader::ParseObject() {
  SkipWhiteSpace();
  int c = PeekByte();
  switch (c) {
    case -1:
    case ')':
    case ']':
    case '>':
    case '}':
      return nullptr;  // no value: ends an array or dictionary
    case '[':
      return ReadArrayObject();
    case '/':
      return ReadNameObject();
    case '(':
      return ReadStringObject();
    case '<':
      if (PeekString(2) == "<<") return ReadDictObject();
      return ReadStringObject();
    case 't':
      if (ReadString(4) != "true") throw EBooleanError(ksFormat(ksres::SBooleanError, "true"));
      return std::make_unique<TksPDFBooleanObject>(true);
    case 'f':
      if (ReadString(5) != "false") throw EBooleanError(ksFormat(ksres::SBooleanError, "false"));
      return std::make_unique<TksPDFBooleanObject>(false);
    case 'n':
      if (ReadString(4) != "null") throw ENullObjectError(ksres::SNullObjectError);
      return std::make_unique<TksPDFNullObject>();
    default:
      return ParseNumberOrReference();
  }
}

TksPDFObjectPtr TksPDFStreamReader::ParseNumberOrReference() {
  SkipWhiteSpace();
  std::string_view t1 = ReadTokenView();
  uint64_t afterFirst = pos_;
  std::string_view t2 = ReadTokenView();
  std::string_view t3 = ReadTokenView();

  auto toInt32 = [](std::string_view t) {
    int32_t v = 0;
    if (!TryStrToInt(t, v)) throw ESyntaxError(ksFormat(ksres::SInvalidInteger, std::string(t).c_str()));
    return v;
  };
  auto toGeneration = [&](std::string_view t) {
    int32_t v = toInt32(t);
    if (v < 0 || v > 65535) throw ESyntaxError(ksFormat(ksres::SInvalidGeneration, std::string(t).c_str()));
    return static_cast<uint16_t>(v);
  };

  if (t3 == "R") {
    int32_t number = toInt32(t1);
    return std::make_unique<TksPDFIndirectReference>(DocumentID, number, toGeneration(t2));
  }
  if (EqualsNoCase(t3, "obj")) {
    int32_t number = toInt32(t1);
    uint16_t generation = toGeneration(t2);
    NestingGuard guard(*this);
    CurrentObjectNumber = number;
    CurrentGeneration = generation;
    TksPDFObjectPtr value;
    // An object with nothing before "endobj" is taken as null.
    if (PeekWord() != "endobj") value = ParseObject();
    if (!value) value = std::make_unique<TksPDFNullObject>();
    if (PeekWord() == "stream") {
      if (value->ObjectType != otDictionary) throw EStreamReadError(ksres::SStreamReadError);
      std::unique_ptr<TksPDFDictObject> dict(static_cast<TksPDFDictObject*>(value.release()));
      value = std::make_unique<TksPDFStreamObject>(std::move(dict));
    }
    return std::make_unique<TksPDFIndirectObject>(DocumentID, number, generation, std::move(value));
  }

  pos_ = afterFirst;  // the two tokens read ahead are given back
  if (t1.find('.') != std::string_view::npos) {
    double real = 0;
    if (TryStrToReal(t1, real)) return std::make_unique<TksPDFRealObject>(real);
    // Not a number after all: kept as a string holding the token, so nothing is lost.
    return std::make_unique<TksPDFStringObject>("(" + std::string(t1) + ")");
  }
  int32_t i32 = 0;
  if (TryStrToInt(t1, i32)) return std::make_unique<TksPDFIntegerObject>(i32);
  int64_t i64 = 0;
  if (TryStrToInt(t1, i64)) return std::make_unique<TksPDFInt64Object>(i64);
  throw ESyntaxError(ksFormat(ksres::SInvalidInteger, std::string(t1).c_str()));
}

std::unique_ptr<TksPDFArrayObject> TksPDFStreamReader::ReadArrayObject() {
  SkipWhiteSpace();
  int c = PeekByte();
  if (c != '[') throw EArrayReadError(ksFormat(ksres::SArrayReadError, Found(c).c_str()));
  ++pos_;
  NestingGuard guard(*this);
  ScratchGuard scratch(*this);
  SkipWhiteSpace();
  while (PeekByte() != ']') {
    TksPDFObjectPtr item = ParseObject();
    if (!item) break;
    valueScratch_.push_back(std::move(item));
    SkipWhiteSpace();
  }
  c = ReadByte();
  // Only "]" closes an array: another closing delimiter or the end of the data is an error.
  if (c != ']') throw EArrayReadError(ksFormat(ksres::SArrayReadError, Found(c).c_str()));
  auto array = std::make_unique<TksPDFArrayObject>();
  scratch.MoveValues(array->Items);
  return array;
}

std::unique_ptr<TksPDFDictObject> TksPDFStreamReader::ReadDictObject() {
  SkipWhiteSpace();
  std::string_view open = PeekString(2);
  if (open != "<<") {
    int bad = open.empty() ? -1 : (open[0] != '<' ? static_cast<uint8_t>(open[0])
                                                  : (open.size() < 2 ? -1 : static_cast<uint8_t>(open[1])));
    throw EDictionaryReadError(ksFormat(ksres::SDictionaryReadError, Found(bad).c_str()));
  }
  pos_ += 2;
  NestingGuard guard(*this);
  ScratchGuard scratch(*this);
  for (;;) {
    SkipWhiteSpace();
    int c = PeekByte();
    if (c == '>') {
      ReadString(2);
      break;
    }
    if (c < 0) throw EDictionaryReadError(ksFormat(ksres::SDictionaryReadError, ksres::SEndOfData));
    std::string key = ReadNameText();
    TksPDFObjectPtr value = ParseObject();  // none before ">>": the key is kept without a value
    keyScratch_.emplace_back(key);
    valueScratch_.push_back(std::move(value));
  }
  auto dict = std::make_unique<TksPDFDictObject>();
  scratch.MoveInto(*dict);
  return dict;
}

std::unique_ptr<TksPDFNameObject> TksPDFStreamReader::ReadNameObject() {
  return std::make_unique<TksPDFNameObject>(ReadNameText());
}

std::string TksPDFStreamReader::ReadNameText() {
  SkipWhiteSpace();
  int c = PeekByte();
  if (c != '/') throw ENameReadError(ksFormat(ksres::SNameReadError, Found(c).c_str()));
  uint64_t start = pos_++;
  while (pos_ < size_ && !IsNameTerm(data_[pos_])) ++pos_;
  std::string text(reinterpret_cast<const char*>(data_ + start), static_cast<size_t>(pos_ - start));
  if (pos_ < size_ && IsWhite(data_[pos_])) ++pos_;
  return text;
}

std::unique_ptr<TksPDFStringObject> TksPDFStreamReader::ReadStringObject() {
  SkipWhiteSpace();
  int c = ReadByte();
  if (c != '(' && c != '<') throw EStringReadError(ksFormat(ksres::SStringReadError, Found(c).c_str()));
  const uint8_t open = static_cast<uint8_t>(c);
  const uint8_t close = open == '(' ? ')' : '>';
  const bool hex = open == '<';
  std::string body;
  int depth = 1;
  for (;;) {
    if (pos_ >= size_) throw EStringReadError(ksFormat(ksres::SStringReadError, ksres::SEndOfData));
    uint8_t b = data_[pos_++];
    if (b == '\\') {
      if (pos_ >= size_) throw EStringReadError(ksFormat(ksres::SStringReadError, ksres::SEndOfData));
      uint8_t n = data_[pos_++];
      if (n == 13 || n == 10) continue;  // line continuation; after CR an LF stays in the text
      body.push_back('\\');
      body.push_back(static_cast<char>(n));
      continue;
    }
    if (b == open) {
      ++depth;
    } else if (b == close && --depth == 0) {
      break;
    }
    body.push_back(static_cast<char>(b));
  }
  std::string content = hex ? std::move(body) : UnescapeLiteral(body);
  bool isHex = hex;
  if (Decryptor && !content.empty()) {
    if (CurrentObjectNumber == -1 && CurrentGeneration == -1) throw EInvalidObjectNo(ksres::SInvalidObjectNo);
    if (hex) content = HexBodyToBytes(content);
    Decryptor->DecryptString(CurrentObjectNumber, CurrentGeneration, content);
    isHex = false;  // decrypted bytes are kept in literal form
  }
  std::string text;
  text.reserve(content.size() + 2);
  text.push_back(isHex ? '<' : '(');
  text += content;
  text.push_back(isHex ? '>' : ')');
  return std::make_unique<TksPDFStringObject>(std::move(text), isHex);
}

bool TksPDFStreamReader::EndstreamAt(uint64_t position) const {
  return position <= size_ && size_ - position >= kEndstream.size() &&
         std::memcmp(data_ + position, kEndstream.data(), kEndstream.size()) == 0;
}

void TksPDFStreamReader::IndexEndstreams() {
  if (endstreamsIndexed_) return;
  endstreamsIndexed_ = true;
  const uint8_t* p = data_;
  const uint8_t* end = data_ + size_;
  while (p && end - p >= static_cast<ptrdiff_t>(kEndstream.size())) {
    p = static_cast<const uint8_t*>(memmem(p, static_cast<size_t>(end - p), kEndstream.data(), kEndstream.size()));
    if (!p) break;
    endstreams_.push_back(static_cast<uint64_t>(p - data_));
    p += kEndstream.size();
  }
}

bool TksPDFStreamReader::FindEndstream(uint64_t start, uint64_t& found) {
  IndexEndstreams();
  auto it = std::lower_bound(endstreams_.begin(), endstreams_.end(), start);
  if (it == endstreams_.end()) return false;
  found = *it;
  return true;
}

bool TksPDFStreamReader::FindClosingEndstream(uint64_t start, uint64_t& found) {
  IndexEndstreams();
  if (!closingIndexed_) {
    closingIndexed_ = true;
    static constexpr std::string_view kEndobj = "endobj";
    // Filled from the end, so each keyword looks only at the few bytes after it.
    const auto count = static_cast<uint32_t>(std::min<size_t>(endstreams_.size(), UINT32_MAX));
    nextClosing_.assign(count, count);
    uint32_t next = count;
    for (uint32_t i = count; i-- > 0;) {
      const uint64_t after = endstreams_[i] + kEndstream.size();
      const uint64_t at = SkipWhiteSpaceFrom(after, after + kMaxGapBeforeEndstream);
      if (size_ - at >= kEndobj.size() && std::memcmp(data_ + at, kEndobj.data(), kEndobj.size()) == 0) next = i;
      nextClosing_[i] = next;
    }
  }
  const auto it = std::lower_bound(endstreams_.begin(), endstreams_.end(), start);
  const auto i = static_cast<size_t>(it - endstreams_.begin());
  if (i >= nextClosing_.size() || nextClosing_[i] >= nextClosing_.size()) return false;
  found = endstreams_[nextClosing_[i]];
  return true;
}

uint64_t TksPDFStreamReader::SkipWhiteSpaceFrom(uint64_t position, uint64_t limit) const {
  limit = std::min(limit, size_);
  while (position < limit) {
    const uint8_t c = data_[position];
    if (c == '%') {
      // A comment runs to the end of its line; the line end is skipped as white space.
      while (position < limit && data_[position] != 13 && data_[position] != 10) ++position;
    } else if (IsWhite(c)) {
      ++position;
    } else {
      break;
    }
  }
  return position;
}

uint64_t TksPDFStreamReader::WhiteRunBefore(uint64_t keyword) {
  // Kept per keyword: streams whose lengths all land in the run before one "endstream"
  // walk it once between them.
  auto [it, added] = whiteBefore_.try_emplace(keyword, keyword);
  if (added) {
    uint64_t q = keyword;
    while (q > 0 && IsWhite(data_[q - 1])) --q;
    it->second = q;
  }
  return it->second;
}

bool TksPDFStreamReader::LocateStreamData(uint64_t start, int64_t length, TksStreamExtent& extent, uint64_t limit) {
  start = std::min(start, size_);
  const bool inside = length >= 0 && static_cast<uint64_t>(length) <= size_ - start;
  const uint64_t claimed = inside ? start + static_cast<uint64_t>(length) : 0;
  uint64_t found = 0;
  bool slipped = false;
  if (inside && claimed <= limit) {
    // Only a short gap is looked at here: a long one is settled against the first
    // "endstream" below, so no run of white space is walked once per stream.
    const uint64_t gapEnd = claimed + std::min(kMaxGapBeforeEndstream, size_ - claimed);
    const uint64_t at = SkipWhiteSpaceFrom(claimed, gapEnd);
    if (EndstreamAt(at)) {
      extent = {static_cast<uint64_t>(length), at, lfExact};
      return true;
    }
    // A length that counts an end-of-line too many ends a byte or two into the keyword.
    for (uint64_t back = 1; back <= 2 && !slipped && claimed >= start + back; ++back)
      if (EndstreamAt(claimed - back)) {
        found = claimed - back;
        slipped = true;
      }
  }
  if (!slipped) {
    // The data end at the first "endstream" after their start: a length reaching past it
    // would take in the objects that follow, up to another stream's end (or, landing on
    // that end, hide the objects between).
    if (!FindEndstream(start, found)) return false;
    if (inside && claimed <= found && claimed >= WhiteRunBefore(found)) {
      // The length is right; only white space stands before the keyword.
      extent = {static_cast<uint64_t>(length), found, lfExact};
      return true;
    }
  }
  const uint64_t count = found - start;
  // A length that counts the end-of-line before "endstream", or leaves it out, whether
  // it is one byte or two, describes the same data.
  uint64_t content = count;
  if (content > 0 && data_[start + content - 1] == 10) --content;
  if (content > 0 && data_[start + content - 1] == 13) --content;
  const bool lineEnd = length >= 0 && static_cast<uint64_t>(length) >= content && static_cast<uint64_t>(length) <= content + 2;
  extent = {count, found, lineEnd ? lfLineEnd : lfRecovered};
  return true;
}

std::unique_ptr<TksMemoryStream> TksPDFStreamReader::ReadStreamData(int64_t length, int32_t objectNumber,
                                                                    int32_t generation, uint64_t limit) {
  SkipWhiteSpace();
  if (ReadString(6) != "stream") throw EStreamReadError(ksres::SStreamReadError);
  while (pos_ < size_ && (data_[pos_] == ' ' || data_[pos_] == '\t')) ++pos_;
  if (pos_ < size_ && data_[pos_] == 13) ++pos_;
  if (pos_ < size_ && data_[pos_] == 10) ++pos_;
  const uint64_t start = std::min(pos_, size_);

  TksStreamExtent extent;
  LastLengthFit = lfExact;
  if (!LocateStreamData(start, length, extent, limit)) {
    pos_ = size_;
    throw EEndStreamError(ksres::SEndStreamError);
  }
  LastLengthFit = extent.fit;
  const uint64_t count = extent.count;

  std::unique_ptr<TksMemoryStream> data;
  if (Decryptor) {
    if (CurrentObjectNumber == -1 || CurrentGeneration == -1) throw EInvalidObjectNo(ksres::SInvalidObjectNo);
    data = std::make_unique<TksMemoryStream>();
    data->Buffer().assign(data_ + start, data_ + start + count);
    Decryptor->DecryptStream(objectNumber, generation, data->Buffer());
  } else if (BorrowStreamData) {
    data = TksMemoryStream::Borrow(data_ + start, static_cast<size_t>(count));
  } else {
    data = std::make_unique<TksMemoryStream>(
        std::string_view(reinterpret_cast<const char*>(data_ + start), static_cast<size_t>(count)));
  }
  // The keyword was found above: the white space before it is not walked again.
  pos_ = extent.keyword + kEndstream.size();
  return data;
}

TksPDFVersion TksPDFStreamReader::ReadHeader() {
  pos_ = 0;
  // The header is itself a comment: a "%" in it (a binary marker on the same line) stays
  // part of its token, so an error names what the file begins with.
  uint64_t end = size_ > 0 ? 1 : 0;
  while (end < size_ && (data_[end] == '%' || !IsTokenDelim(data_[end]))) ++end;
  std::string token(reinterpret_cast<const char*>(data_), static_cast<size_t>(end));
  pos_ = end;
  SkipWhiteSpace();
  std::string_view head = std::string_view(token).substr(0, 7);
  if (head != "%PDF-1." && head != "%PDF-2.")
    throw EInvalidHeader(ksFormat(ksres::SInvalidHeader, std::string(head).c_str()));
  if (head == "%PDF-2.") return pvPDF20;
  if (token.size() > 7 && token[7] >= '0' && token[7] <= '9') {
    int minor = token[7] - '0';
    if (minor >= 8) throw EUnsupportedVersion(ksFormat(ksres::SUnsupportedVersion, token.c_str()));
    return static_cast<TksPDFVersion>(pvPDF10 + minor);
  }
  throw ESyntaxError(ksFormat(ksres::SInvalidInteger, token.substr(7, 1).c_str()));
}

int64_t TksPDFStreamReader::FindStartXRef() const {
  static constexpr std::string_view kKeyword = "startxref";
  if (size_ < kKeyword.size()) throw ESyntaxError(ksres::SInvalidPDFFile);
  uint64_t match = 0;
  bool found = false;
  for (uint64_t i = size_ - kKeyword.size() + 1; i-- > 0;) {
    if ((data_[i] | 0x20) != 's') continue;
    if (!EqualsNoCase(std::string_view(reinterpret_cast<const char*>(data_ + i), kKeyword.size()), kKeyword))
      continue;
    if (i > 0 && IsAlnum(data_[i - 1])) continue;
    uint64_t after = i + kKeyword.size();
    if (after < size_ && IsAlnum(data_[after])) continue;
    match = i;
    found = true;
    break;
  }
  if (!found) throw ESyntaxError(ksres::SInvalidPDFFile);
  uint64_t p = match;
  while (p < size_ && (data_[p] < '0' || data_[p] > '9')) ++p;
  uint64_t digits = p;
  while (digits < size_ && data_[digits] >= '0' && data_[digits] <= '9') ++digits;
  int64_t offset = 0;
  if (digits == p ||
      !TryStrToInt(std::string_view(reinterpret_cast<const char*>(data_ + p), static_cast<size_t>(digits - p)), offset))
    throw EOffsetError(ksres::SOffsetError);
  return offset;
}

std::unique_ptr<TksPDFDictObject> TksPDFStreamReader::ReadTrailer() {
  if (pos_ >= size_) throw ETrailerError(ksres::STrailerError);
  const void* t = std::memchr(data_ + pos_, 't', static_cast<size_t>(size_ - pos_));
  if (!t) {
    pos_ = size_;
    throw ETrailerError(ksres::STrailerError);
  }
  pos_ = static_cast<uint64_t>(static_cast<const uint8_t*>(t) - data_);
  if (ReadString(7) != "trailer") throw ETrailerError(ksres::STrailerError);
  TksPDFObjectPtr value = ParseObject();
  if (!value || value->ObjectType != otDictionary) throw ETrailerError(ksres::STrailerError);
  return std::unique_ptr<TksPDFDictObject>(static_cast<TksPDFDictObject*>(value.release()));
}
