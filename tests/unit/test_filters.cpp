// The codecs: ASCIIHex, ASCII85, RunLength, LZW and Flate, their classes and the
// zlib streams under Flate.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "codec/ksFilters.h"
#include "compat/ksClasses.h"
#include "base/ksPDFResStrs.h"
#include "codec/ksZLib.h"

using testing::StrEq;
using testing::ThrowsMessage;

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

// Writes codes most significant bit first, as the LZW filter reads them.
class BitWriter {
 public:
  void Put(int code, int width) {
    acc_ = (acc_ << width) | static_cast<uint64_t>(code);
    n_ += width;
    while (n_ >= 8) {
      out_.push_back(static_cast<char>((acc_ >> (n_ - 8)) & 0xFF));
      n_ -= 8;
    }
  }
  std::string Finish() {
    if (n_ > 0) out_.push_back(static_cast<char>((acc_ << (8 - n_)) & 0xFF));
    n_ = 0;
    return out_;
  }

 private:
  uint64_t acc_ = 0;
  int n_ = 0;
  std::string out_;
};

std::string Codes(std::initializer_list<int> codes, int width = 9) {
  BitWriter w;
  for (int c : codes) w.Put(c, width);
  return w.Finish();
}

// A plain LZW encoder for the round trips. The decoder has one entry more than the
// codes sent since the last reset, and widens at 511, 1023 and 2047 entries. With
// clears, a Clear code is sent before the decoder's table would fill; without, the
// encoder follows the decoder's own reset at 4,095 entries, staying at 12 bits.
std::string LzwEncode(std::string_view data, bool withClears = true) {
  BitWriter w;
  std::unordered_map<uint32_t, int> dict;
  int next = 258;
  int sent = 0;  // codes sent since the last reset
  int width = 9;
  bool fixedWidth = false;
  auto reset = [&] {
    dict.clear();
    next = 258;
    sent = 0;
  };
  auto emit = [&](int code) {
    w.Put(code, width);
    ++sent;
    int size = 257 + sent;
    if (!fixedWidth) width = size >= 2047 ? 12 : size >= 1023 ? 11 : size >= 511 ? 10 : 9;
  };
  w.Put(256, 9);
  if (!data.empty()) {
    int prefix = static_cast<uint8_t>(data[0]);
    for (size_t i = 1; i < data.size(); ++i) {
      uint8_t c = static_cast<uint8_t>(data[i]);
      uint32_t key = (static_cast<uint32_t>(prefix) << 8) | c;
      auto it = dict.find(key);
      if (it != dict.end()) {
        prefix = it->second;
        continue;
      }
      emit(prefix);
      dict.emplace(key, next++);
      prefix = c;
      if (257 + sent == 4094 && withClears) {
        w.Put(256, width);
        reset();
        width = 9;
      } else if (257 + sent == 4095) {
        reset();
        fixedWidth = true;
      }
    }
    emit(prefix);
  }
  w.Put(257, width);
  return w.Finish();
}

// Reproducible test data: uniform random bytes, or runs and zero stretches that
// exercise run blocks, "z" groups and long LZW strings.
std::string RandomBytes(size_t n, uint32_t seed, bool structured) {
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(n);
  if (!structured) {
    for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(rng() & 0xFF));
    return s;
  }
  while (s.size() < n) {
    uint32_t kind = rng() % 4;
    size_t len = 1 + rng() % (kind == 0 ? 300 : 12);
    char b = kind == 1 ? '\0' : static_cast<char>(rng() % 6 + 'a');
    for (size_t i = 0; i < len && s.size() < n; ++i) s.push_back(kind == 3 ? static_cast<char>(rng() & 0xFF) : b);
  }
  return s;
}

const std::vector<size_t> kSizes = {0,    1,    2,    3,     4,     5,     7,     8,      9,      127,   128,
                                    129,  130,  255,  256,   257,   1000,  4095,  4096,   10239,  10240,
                                    10241, 65535, 65536, 65537, 100003, 200000};

struct Codec {
  const char* name;
  std::function<std::string(std::string_view)> encode;
  std::function<std::string(std::string_view)> decode;
};

const std::vector<Codec>& Codecs() {
  static const std::vector<Codec> codecs = {
      {"AsciiHex", AsciiHexEncode, [](std::string_view d) { return AsciiHexDecode(d); }},
      {"Ascii85", Ascii85Encode, [](std::string_view d) { return Ascii85Decode(d); }},
      {"RunLength", RunLengthEncode, [](std::string_view d) { return RunLengthDecode(d); }},
      {"Flate0", [](std::string_view d) { return FlateCompress(d, 0); }, [](std::string_view d) { return FlateDecode(d); }},
      {"Flate1", [](std::string_view d) { return FlateCompress(d, 1); }, [](std::string_view d) { return FlateDecode(d); }},
      {"Flate2", [](std::string_view d) { return FlateCompress(d, 2); }, [](std::string_view d) { return FlateDecode(d); }},
      {"Flate3", [](std::string_view d) { return FlateCompress(d, 3); }, [](std::string_view d) { return FlateDecode(d); }},
      {"LZW", [](std::string_view d) { return LzwEncode(d); }, [](std::string_view d) { return LZWDecode(d); }},
      {"LZWNoClear", [](std::string_view d) { return LzwEncode(d, false); },
       [](std::string_view d) { return LZWDecode(d); }},
  };
  return codecs;
}

// Restores the process-wide decode cap when a test ends.
class DecodeLimitGuard {
 public:
  explicit DecodeLimitGuard(uint64_t limit) : saved_(ksDecodeLimit()) { ksSetDecodeLimit(limit); }
  ~DecodeLimitGuard() { ksSetDecodeLimit(saved_); }

 private:
  uint64_t saved_;
};

}  // namespace

// ---- round trips ----

class RoundTrip : public testing::TestWithParam<size_t> {};

TEST_P(RoundTrip, EveryEncoderDecoderPair) {
  const size_t codecIndex = GetParam();
  const Codec& codec = Codecs()[codecIndex];
  for (bool structured : {false, true}) {
    for (size_t n : kSizes) {
      std::string data = RandomBytes(n, static_cast<uint32_t>(n * 31 + codecIndex + (structured ? 7 : 0)), structured);
      std::string encoded = codec.encode(data);
      ASSERT_EQ(codec.decode(encoded), data) << codec.name << " size " << n << (structured ? " structured" : "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Codecs, RoundTrip, testing::Range<size_t>(0, 9),
                         [](const testing::TestParamInfo<size_t>& info) {
                           return std::string(Codecs()[info.param].name);
                         });

// ---- ASCIIHex ----

TEST(AsciiHex, EncodesUpperCaseWithEndMarkerOnly) {
  EXPECT_EQ(AsciiHexEncode(""), ">");
  EXPECT_EQ(AsciiHexEncode(Bytes({0x00, 0x1F, 0xA0, 0xFF})), "001FA0FF>");
  EXPECT_EQ(AsciiHexEncode(std::string(100, 'z')).find_first_of(" \r\n"), std::string::npos);
}

struct DecodeCase {
  const char* label;
  std::string in;
  std::string out;
};

class AsciiHexDecodeCases : public testing::TestWithParam<DecodeCase> {};
TEST_P(AsciiHexDecodeCases, Decodes) { EXPECT_EQ(AsciiHexDecode(GetParam().in), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(
    Cases, AsciiHexDecodeCases,
    testing::Values(DecodeCase{"SpacedDigits", "4 1 4 2>", "AB"}, DecodeCase{"OddDigitCount", "414>", "A@"},
                    DecodeCase{"StopsAtFirstEndMarker", "41>4243>", "A"},
                    DecodeCase{"LowerCase", "6a6B>", "jk"},
                    DecodeCase{"BlanksBetweenDigitsOfAPair", "4\t1\r\n4 2>", "AB"},
                    DecodeCase{"EndMarkerAlone", ">", ""}, DecodeCase{"Empty", "", ""},
                    DecodeCase{"AllBytes", "00FF80>", Bytes({0, 255, 128})}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.label); });

struct ErrorCase {
  const char* label;
  std::string in;
  const char* message;
};

class AsciiHexErrors : public testing::TestWithParam<ErrorCase> {};
TEST_P(AsciiHexErrors, Raise) {
  EXPECT_THAT([&] { AsciiHexDecode(GetParam().in); }, ThrowsMessage<Exception>(StrEq(GetParam().message)));
}
INSTANTIATE_TEST_SUITE_P(
    Cases, AsciiHexErrors,
    testing::Values(ErrorCase{"NoEndMarker", "4142", "EndOfData marker is wrong"},
                    ErrorCase{"TrailingNewline", "4142>\n", "EndOfData marker is wrong"},
                    ErrorCase{"NotADigit", "41G2>", "Illeagal character within stream"},
                    ErrorCase{"FormFeed", "41\f42>", "Illeagal character within stream"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.label); });

// ---- ASCII85 ----

TEST(Ascii85, EncodesGroupsZerosAndPartialGroups) {
  EXPECT_EQ(Ascii85Encode(std::string(4, '\0')), "z~>");
  EXPECT_EQ(Ascii85Encode(std::string(1, '\0')), "!!~>");
  EXPECT_EQ(Ascii85Encode(std::string(3, '\0')), "!!!!~>");  // a partial group is never "z"
  EXPECT_EQ(Ascii85Encode(""), "~>");
  EXPECT_EQ(Ascii85Encode("Hello World!"), "87cURD]i,\"Ebo80~>");
  EXPECT_EQ(Ascii85Encode(Bytes({0xFF, 0xFF, 0xFF, 0xFF})), "s8W-!~>");
  EXPECT_EQ(Ascii85Encode(std::string(8, '\0') + "A"), "zz5l~>");
}

class Ascii85DecodeCases : public testing::TestWithParam<DecodeCase> {};
TEST_P(Ascii85DecodeCases, Decodes) { EXPECT_EQ(Ascii85Decode(GetParam().in), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(
    Cases, Ascii85DecodeCases,
    testing::Values(DecodeCase{"Text", "87cURD]i,\"Ebo80~>", "Hello World!"},
                    DecodeCase{"LineBreaksAndBlanks", "87cUR\r\nD]i,\"\tEbo 80\n~>", "Hello World!"},
                    DecodeCase{"ZeroGroup", "z~>", std::string(4, '\0')},
                    DecodeCase{"ZeroGroupsAroundData", "z5l^lbz~>", std::string(4, '\0') + "A" + std::string(7, '\0')},
                    DecodeCase{"TwoCharGroup", "!!~>", std::string(1, '\0')},
                    DecodeCase{"MaxGroup", "s8W-!~>", Bytes({0xFF, 0xFF, 0xFF, 0xFF})},
                    DecodeCase{"GroupAboveTheRangeWraps", "uuuuu~>", Bytes({0x08, 0x78, 0x0E, 0xC4})},
                    // Rounding the kept bytes up carries into the bytes before them.
                    DecodeCase{"CarryIntoFirstByte", "!WW~>", Bytes({0x02, 0x00})},
                    DecodeCase{"CarryAcrossTwoBytes", "5l^l~>", Bytes({0x41, 0x00, 0x00})},
                    DecodeCase{"CarryFromLastByte", "rr<~>", Bytes({0xFF, 0x00})},
                    DecodeCase{"MarkerAlone", "~>", ""}, DecodeCase{"Empty", "", ""}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.label); });

class Ascii85Errors : public testing::TestWithParam<ErrorCase> {};
TEST_P(Ascii85Errors, Raise) {
  EXPECT_THAT([&] { Ascii85Decode(GetParam().in); }, ThrowsMessage<Exception>(StrEq(GetParam().message)));
}
INSTANTIATE_TEST_SUITE_P(
    Cases, Ascii85Errors,
    testing::Values(ErrorCase{"NoMarker", "87cUR", "EndOfData marker is wrong"},
                    ErrorCase{"MarkerThenSpace", "87cUR~> ", "EndOfData marker is wrong"},
                    ErrorCase{"OneByte", "~", "EndOfData marker is wrong"},
                    ErrorCase{"HalfMarker", "87cUR>", "EndOfData marker is wrong"},
                    ErrorCase{"ZInsideGroup", "87z~>", "\"z\" found at inappropriate position"},
                    ErrorCase{"ZAfterFourChars", "87cUz~>", "\"z\" found at inappropriate position"},
                    ErrorCase{"OutsideAlphabet", "87cU{R~>", "Illeagal character within stream"},
                    ErrorCase{"TildeInside", "87~cUR~>", "Illeagal character within stream"},
                    ErrorCase{"SingleFinal", "87cURD~>", "Single Final Character"},
                    ErrorCase{"SingleAlone", "8~>", "Single Final Character"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.label); });

// ---- RunLength ----

class RunLengthDecodeCases : public testing::TestWithParam<DecodeCase> {};
TEST_P(RunLengthDecodeCases, Decodes) { EXPECT_EQ(RunLengthDecode(GetParam().in), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(
    Cases, RunLengthDecodeCases,
    testing::Values(DecodeCase{"LiteralThenRun", Bytes({2, 'p', 'q', 'r', 254, 's', 128}), "pqrsss"},
                    DecodeCase{"LongestRun", Bytes({129, 'x', 128}), std::string(128, 'x')},
                    DecodeCase{"ShortestRun", Bytes({255, 'x', 128}), "xx"},
                    DecodeCase{"MarkerAlone", Bytes({128}), ""}, DecodeCase{"Empty", "", ""}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.label); });

class RunLengthErrors : public testing::TestWithParam<ErrorCase> {};
TEST_P(RunLengthErrors, Raise) {
  EXPECT_THAT([&] { RunLengthDecode(GetParam().in); }, ThrowsMessage<Exception>(StrEq(GetParam().message)));
}
INSTANTIATE_TEST_SUITE_P(
    Cases, RunLengthErrors,
    testing::Values(ErrorCase{"NoMarker", Bytes({0, 'a'}), "EndOfData Marker is wrong"},
                    ErrorCase{"Premature", Bytes({0, 'a', 128, 0, 'b', 128}), "Premature EndOfData Marker found"},
                    ErrorCase{"LiteralIntoMarker", Bytes({2, 'a', 'b', 128}), "Unexpected EndOfFile found"},
                    ErrorCase{"RunWithoutByte", Bytes({0, 'a', 200, 128}), "Unexpected EndOfFile found"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.label); });

class RunLengthEncodeCases : public testing::TestWithParam<DecodeCase> {};
TEST_P(RunLengthEncodeCases, Encodes) { EXPECT_EQ(RunLengthEncode(GetParam().in), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(
    Cases, RunLengthEncodeCases,
    testing::Values(DecodeCase{"Run130", std::string(130, 'x'), Bytes({129, 'x', 255, 'x', 128})},
                    DecodeCase{"Run129LeavesOneByteLiteral", std::string(129, 'x'), Bytes({129, 'x', 0, 'x', 128})},
                    DecodeCase{"PairInsideLiteral", "pqqr", Bytes({3, 'p', 'q', 'q', 'r', 128})},
                    DecodeCase{"TwoPairs", "qqrr", Bytes({255, 'q', 255, 'r', 128})},
                    DecodeCase{"PairBeforeRepetitionFlushes", "pqqrr", Bytes({0, 'p', 255, 'q', 255, 'r', 128})},
                    DecodeCase{"PairAtEnd", "pqq", Bytes({0, 'p', 255, 'q', 128})},
                    DecodeCase{"SingleByte", "x", Bytes({0, 'x', 128})},
                    DecodeCase{"RunOfThree", "abbbc", Bytes({0, 'a', 254, 'b', 0, 'c', 128})},
                    DecodeCase{"EmptyIsTheMarkerAlone", "", Bytes({128})}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.label); });

TEST(RunLength, LongLiteralsSplitAt128) {
  std::string data;
  for (int i = 0; i < 200; ++i) data.push_back(static_cast<char>(i));
  std::string expected = Bytes({127}) + data.substr(0, 128) + Bytes({71}) + data.substr(128) + Bytes({128});
  EXPECT_EQ(RunLengthEncode(data), expected);
}

// ---- LZW ----

class LZWDecodeCases : public testing::TestWithParam<DecodeCase> {};
TEST_P(LZWDecodeCases, Decodes) { EXPECT_EQ(LZWDecode(GetParam().in), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(
    Cases, LZWDecodeCases,
    testing::Values(DecodeCase{"RepeatedPair", Codes({65, 66, 258, 257}), "ABAB"},
                    DecodeCase{"ClearFirst", Codes({256, 65, 66, 258, 257}), "ABAB"},
                    // A code one past the table repeats the previous string plus its first byte.
                    DecodeCase{"CodeNotYetDefined", Codes({65, 258, 257}), "AAA"},
                    DecodeCase{"CodeFarAboveTable", Codes({65, 66, 400, 257}), "ABBB"},
                    DecodeCase{"WithoutEndCode", Codes({65, 66, 67}), "ABC"},
                    DecodeCase{"RestIgnoredAfterEnd", Codes({65, 257, 66, 67}), "A"},
                    DecodeCase{"EndCodeFirst", Codes({257, 65}), ""},
                    DecodeCase{"Empty", "", ""}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.label); });

TEST(LZW, LastCodeEndingInLastByteDecodes) {
  // Eight 9-bit codes fill exactly nine bytes; no end code follows.
  std::string data = Codes({65, 66, 67, 68, 69, 70, 71, 72});
  ASSERT_EQ(data.size(), 9u);
  EXPECT_EQ(LZWDecode(data), "ABCDEFGH");
}

TEST(LZW, ClearAfterWidthGrewReturnsToNineBits) {
  // Enough distinct pairs to pass 1,023 entries, so the codes have become 11 bits wide.
  BitWriter w;
  std::string expected;
  int size = 257;
  int width = 9;
  for (int i = 0; size < 1100; ++i) {
    int code = 'a' + i % 26;
    w.Put(code, width);
    expected.push_back(static_cast<char>(code));
    ++size;
    width = size >= 2047 ? 12 : size >= 1023 ? 11 : size >= 511 ? 10 : 9;
  }
  ASSERT_EQ(width, 11);
  w.Put(256, 11);
  for (int code : {int{'X'}, int{'Y'}, 258, 257}) w.Put(code, 9);
  expected += "XYXY";
  EXPECT_EQ(LZWDecode(w.Finish()), expected);
}

TEST(LZW, FirstCodeAboveTheTableIsRefused) {
  EXPECT_THAT([] { LZWDecode(Codes({300, 65, 257})); },
              ThrowsMessage<Exception>(StrEq("Invalid LZW code (300) at the start of the data")));
  EXPECT_THAT([] { LZWDecode(Codes({256, 258, 257})); },
              ThrowsMessage<Exception>(StrEq("Invalid LZW code (258) at the start of the data")));
}

TEST(LZW, AnyCodeSequenceStaysInBounds) {
  // Random 12-bit-wide noise (all codes up to 4095): output stays within the cap
  // and the table never outgrows its 4,095 entries.
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    std::string noise;
    noise.push_back('A');  // a valid first code follows from the first 9 bits
    noise.push_back('\0');
    for (int i = 0; i < 20000; ++i) noise.push_back(static_cast<char>(rng() & 0xFF));
    std::string out = LZWDecode(noise, 64u << 20);
    EXPECT_LE(out.size(), 64u << 20);
  }
}

TEST(LZW, StaleCodeAfterClearUsesLastByte) {
  // 300 is defined before the Clear; after it the previous code no longer names an
  // entry, so a not-yet-defined code gives the last string's first byte alone.
  BitWriter w;
  std::vector<int> codes;
  for (int i = 0; i < 44; ++i) codes.push_back('a' + i % 26);
  for (int c : codes) w.Put(c, 9);
  w.Put(300, 9);  // defined by now: codes[42] codes[43]
  w.Put(256, 9);  // Clear; the previous code stays 300
  w.Put(258, 9);  // above the fresh table, and entry 300 is gone
  w.Put(257, 9);
  std::string out = LZWDecode(w.Finish());
  std::string expected;
  for (int c : codes) expected.push_back(static_cast<char>(c));
  // Entry k (k >= 258) is codes[k - 258] followed by codes[k - 257].
  std::string e300 = expected.substr(300 - 258, 2);
  expected += e300;
  expected.push_back(e300[0]);
  EXPECT_EQ(out, expected);
}

// ---- Flate ----

TEST(Flate, TrailingBytesAfterTheStreamAreIgnored) {
  const std::string content = RandomBytes(5000, 3, true);
  for (const char* tail : {"\r\n", "\n", "endstream garbage"})
    EXPECT_EQ(FlateDecode(FlateCompress(content, 2) + tail), content) << tail;
}

TEST(Flate, TruncatedDataGivesAPrefix) {
  const std::string content = RandomBytes(300000, 4, true);
  const std::string packed = FlateCompress(content, 2);
  for (size_t cut : {packed.size() / 3, packed.size() / 2, packed.size() - 5, packed.size() - 1}) {
    std::string out = FlateDecode(packed.substr(0, cut));
    EXPECT_LT(out.size(), content.size() + 1);
    EXPECT_EQ(out, content.substr(0, out.size())) << cut;
  }
  EXPECT_EQ(FlateDecode(packed.substr(0, 2)), "");  // the header alone
}

TEST(Flate, CorruptDataRaisesDataError) {
  const std::string packed = FlateCompress("some text to spoil", 2);
  std::string badHeader = packed;
  badHeader[0] = 0x79;
  std::string badCheck = packed;
  badCheck.back() ^= 0x55;
  for (const std::string& bad : {badHeader, badCheck, std::string("not zlib at all")}) {
    EXPECT_THAT([&] { FlateDecode(bad); }, ThrowsMessage<EZDecompressionError>(StrEq("data error")));
  }
}

TEST(Flate, PresetDictionaryStopsWithNeedDictionary) {
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 6), Z_OK);
  const char dict[] = "dictionary words";
  ASSERT_EQ(deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dict), sizeof dict - 1), Z_OK);
  std::string input = "words from the dictionary";
  unsigned char out[256];
  z.next_in = reinterpret_cast<Bytef*>(input.data());
  z.avail_in = static_cast<uInt>(input.size());
  z.next_out = out;
  z.avail_out = sizeof out;
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  std::string packed(reinterpret_cast<char*>(out), sizeof out - z.avail_out);
  deflateEnd(&z);
  EXPECT_THAT([&] { FlateDecode(packed); }, ThrowsMessage<EZDecompressionError>(StrEq("need dictionary")));
}

TEST(Flate, ExactlyOnePieceOfOutput) {
  const std::string content = RandomBytes(10240, 5, false);
  EXPECT_EQ(FlateDecode(FlateCompress(content, 1)), content);
}

TEST(Flate, LevelsMapToZlibLevels) {
  const std::string content = RandomBytes(50000, 6, true);
  const std::string none = FlateCompress(content, 0);
  const std::string fastest = FlateCompress(content, 1);
  const std::string normal = FlateCompress(content, 2);
  const std::string maximum = FlateCompress(content, 3);
  // zlib header: FLEVEL in the top bits of the second byte.
  EXPECT_EQ(static_cast<uint8_t>(none[0]), 0x78);
  EXPECT_EQ(static_cast<uint8_t>(none[1]) >> 6, 0);
  EXPECT_EQ(static_cast<uint8_t>(fastest[1]) >> 6, 0);
  EXPECT_EQ(static_cast<uint8_t>(normal[1]) >> 6, 2);
  EXPECT_EQ(static_cast<uint8_t>(maximum[1]) >> 6, 3);
  // Level 0 writes stored blocks: the first block's type bits are 00.
  EXPECT_EQ(static_cast<uint8_t>(none[2]) & 0x06, 0);
  EXPECT_GT(none.size(), content.size());
  EXPECT_LE(maximum.size(), normal.size());
  EXPECT_LT(normal.size(), fastest.size());
  EXPECT_EQ(FlateCompress(content, 7), maximum);  // indexes past the table mean maximum
  // Bytes in memory deflated in one piece come out as the compressing stream writes them
  // (but for where level 0 cuts its stored blocks, which follows the buffers).
  for (uint8_t level = 1; level < 4; ++level) {
    TksMemoryStream target;
    {
      TCompressionStream z(level, target);
      for (size_t at = 0; at < content.size(); at += 7000) z.WriteBuffer(content.data() + at, std::min<int64_t>(7000, content.size() - at));
    }
    EXPECT_EQ(target.View(), FlateCompress(content, level)) << "level " << int(level);
  }
}

TEST(Flate, EmptyInputs) {
  const std::string empty = FlateCompress("", 2);
  EXPECT_EQ(empty.size(), 8u);  // header, one empty final block, Adler-32
  EXPECT_EQ(FlateDecode(empty), "");
  EXPECT_EQ(FlateDecode(""), "");
}

TEST(Flate, CompressIntoAppendsAndCounts) {
  TksMemoryStream target(std::string("prefix"));
  target.SetPosition(2);
  const std::string content = RandomBytes(70000, 8, true);
  TksMemoryStream source(content);
  source.SetPosition(100);  // the whole of source counts
  int64_t added = CompressInto(source, target);
  EXPECT_EQ(added, static_cast<int64_t>(target.size()) - 6);
  EXPECT_EQ(target.View().substr(0, 6), "prefix");
  EXPECT_EQ(FlateDecode(target.View().substr(6)), content);
  EXPECT_EQ(target.View().substr(6), FlateCompress(content, 2));
}

// ---- zlib streams ----

TEST(ZStreams, WrongDirectionAndSeeksRaise) {
  TksMemoryStream sink;
  TCompressionStream c(2, sink);
  char b[4];
  EXPECT_THAT([&] { c.Read(b, 4); }, ThrowsMessage<EZCompressionError>(StrEq("Invalid ZStream operation!")));
  EXPECT_THAT([&] { c.Seek(1, soBeginning); }, ThrowsMessage<EZCompressionError>(StrEq("Invalid ZStream operation!")));
  c.WriteText("abcdef");
  EXPECT_EQ(c.Seek(0, soCurrent), 6);

  TksMemoryStream packed(FlateCompress("abcdef", 2));
  TDecompressionStream d(packed);
  EXPECT_THAT([&] { d.Write("x", 1); }, ThrowsMessage<EZDecompressionError>(StrEq("Invalid ZStream operation!")));
  EXPECT_THAT([&] { d.Seek(-1, soCurrent); }, ThrowsMessage<EZDecompressionError>(StrEq("Invalid ZStream operation!")));
  EXPECT_THAT([&] { d.Seek(1, soEnd); }, ThrowsMessage<EZDecompressionError>(StrEq("Invalid ZStream operation!")));
}

TEST(ZStreams, DecompressionSeeks) {
  const std::string content = RandomBytes(30000, 9, true);
  TksMemoryStream packed(FlateCompress(content, 2));
  TDecompressionStream d(packed);
  char b[10];
  EXPECT_EQ(d.Seek(20000, soCurrent), 20000);  // forward skip
  ASSERT_EQ(d.Read(b, 10), 10);
  EXPECT_EQ(std::string(b, 10), content.substr(20000, 10));
  EXPECT_EQ(d.Seek(25000, soBeginning), 25000);
  EXPECT_EQ(d.Seek(0, soEnd), 30000);
  EXPECT_EQ(d.Read(b, 10), 0);
  EXPECT_EQ(d.Seek(0, soBeginning), 0);  // reset to the start
  ASSERT_EQ(d.Read(b, 10), 10);
  EXPECT_EQ(std::string(b, 10), content.substr(0, 10));
  EXPECT_THAT([&] { d.Seek(5, soBeginning); },
              ThrowsMessage<EZDecompressionError>(StrEq("Invalid ZStream operation!")));
}

TEST(ZStreams, DataAfterTheEndIsLeftInTheWrappedStream) {
  const std::string packed = FlateCompress("first part", 2);
  TksMemoryStream s(packed + "NEXT");
  TDecompressionStream d(s);
  char b[64];
  EXPECT_EQ(d.Read(b, 64), 10);
  EXPECT_EQ(std::string(b, 10), "first part");
  EXPECT_EQ(s.Position(), static_cast<int64_t>(packed.size()));
  EXPECT_EQ(d.Read(b, 64), 0);
}

TEST(ZStreams, WrappedStreamMayMoveBetweenCalls) {
  TksMemoryStream s;
  s.WriteText("HEAD");
  int progress = 0;
  {
    TCompressionStream c(3, s);
    c.OnProgress = [&progress](TCustomZStream&) { ++progress; };
    const std::string content = RandomBytes(200000, 10, false);
    c.WriteBuffer(content.data(), 100000);
    s.SetPosition(0);  // someone else used the stream meanwhile
    c.WriteBuffer(content.data() + 100000, 100000);
    c.Finish();
    EXPECT_EQ(FlateDecode(s.View().substr(4)), content);
  }
  EXPECT_GT(progress, 2);
  EXPECT_EQ(s.View().substr(0, 4), "HEAD");
}

TEST(ZStreams, CompressionFinishesInTheDestructor) {
  TksMemoryStream s;
  {
    TCompressionStream c(1, s);
    c.WriteText("written without Finish");
  }
  EXPECT_EQ(FlateDecode(s.View()), "written without Finish");
}

// ---- output caps ----

TEST(DecodeCaps, EveryDecoderStopsAtItsCap) {
  const std::string big = RandomBytes(5000, 11, true);
  struct Case {
    const char* name;
    std::string encoded;
    std::function<std::string(std::string_view, uint64_t)> decode;
  } cases[] = {
      {"AsciiHex", AsciiHexEncode(big), AsciiHexDecode},
      {"Ascii85", Ascii85Encode(big), Ascii85Decode},
      {"RunLength", RunLengthEncode(big), RunLengthDecode},
      {"LZW", LzwEncode(big), LZWDecode},
      {"Flate", FlateCompress(big, 2), FlateDecode},
  };
  for (auto& c : cases) {
    EXPECT_THAT([&] { c.decode(c.encoded, 4999); },
                ThrowsMessage<EDecodedSizeError>(StrEq("Decoded data exceed the limit of 4999 bytes")))
        << c.name;
    EXPECT_EQ(c.decode(c.encoded, 5000), big) << c.name;
  }
}

TEST(DecodeCaps, BombsStopEarly) {
  // 64 MiB of zeros in about 64 KiB of Flate, and the LZW and RunLength equivalents.
  std::string zeros(64u << 20, '\0');
  const std::string flate = FlateCompress(zeros, 3);
  std::string rle;
  for (int i = 0; i < (1 << 19); ++i) rle += Bytes({129, 0});
  rle.push_back(static_cast<char>(128));
  zeros.clear();
  zeros.shrink_to_fit();
  const char* message = "Decoded data exceed the limit of 1048576 bytes";
  EXPECT_THAT([&] { FlateDecode(flate, 1u << 20); }, ThrowsMessage<EDecodedSizeError>(StrEq(message)));
  EXPECT_THAT([&] { RunLengthDecode(rle, 1u << 20); }, ThrowsMessage<EDecodedSizeError>(StrEq(message)));
  EXPECT_THAT([&] { LZWDecode(LzwEncode(std::string(4u << 20, 'q')), 1u << 20); },
              ThrowsMessage<EDecodedSizeError>(StrEq(message)));
  EXPECT_THAT([&] { Ascii85Decode(std::string(300000, 'z') + "~>", 1u << 20); },
              ThrowsMessage<EDecodedSizeError>(StrEq(message)));
}

TEST(DecodeCaps, TheBufferNeverReservesPastItsLimit) {
  // Doubling from 4096 would reserve 8192: room the limit says can never be used.
  TksDecodeBuffer out(5000);
  out.Append(4096, 'a');
  EXPECT_EQ(out.capacity(), 4096u);
  out.Push('a');
  EXPECT_EQ(out.capacity(), 5000u);
  out.Reserve(1u << 30);
  EXPECT_EQ(out.capacity(), 5000u);
  EXPECT_THAT([&] { out.Extend(904); },
              ThrowsMessage<EDecodedSizeError>(StrEq("Decoded data exceed the limit of 5000 bytes")));
  EXPECT_EQ(out.size(), 4097u);
  out.Append(std::string(903, 'b').data(), 903);
  std::unique_ptr<TksMemoryStream> stream = out.ToStream();
  EXPECT_EQ(stream->ToString(), std::string(4097, 'a') + std::string(903, 'b'));
  EXPECT_FALSE(stream->IsBorrowed());
  EXPECT_EQ(out.size(), 0u);

  // A reservation from a declared size is clipped the same way.
  EXPECT_EQ(TksDecodeBuffer(100, 1u << 30).capacity(), 100u);
  EXPECT_EQ(TksDecodeBuffer(100, 40).capacity(), 40u);
}

TEST(DecodeCaps, ProcessWideCapReachesTheClasses) {
  EXPECT_EQ(ksDecodeLimit(), ksDefaultDecodeLimit);
  DecodeLimitGuard guard(100);
  TksFlateFilter flate;
  EXPECT_EQ(flate.DecodeLimit, 100u);
  const std::string packed = FlateCompress(std::string(101, 'a'), 2);
  EXPECT_THAT([&] { flate.DecodeString(packed); },
              ThrowsMessage<EDecodedSizeError>(StrEq("Decoded data exceed the limit of 100 bytes")));
  flate.DecodeLimit = 101;
  EXPECT_EQ(flate.DecodeString(packed), std::string(101, 'a'));
}

// ---- the classes ----

TEST(FilterClasses, SlotsTheyDoNotOverrideGiveNothing) {
  TksMemoryStream src(std::string("data"));
  TksAsciiHexFilter hex;
  EXPECT_EQ(hex.CompressString("data", 2), "");
  EXPECT_EQ(hex.CompressStream(src, 2), nullptr);
  TksFlateFilter flate;
  EXPECT_EQ(flate.EncodeString("data"), "");
  EXPECT_EQ(flate.EncodeStream(src), nullptr);
  TksLZWFilter lzw;
  EXPECT_EQ(lzw.EncodeString("data"), "");
  EXPECT_EQ(lzw.CompressString("data", 1), "");
  EXPECT_EQ(lzw.EncodeStream(src), nullptr);
}

TEST(FilterClasses, StreamFormsReadTheWholeSourceAndStartAtZero) {
  const std::string content = RandomBytes(3000, 12, true);
  struct Case {
    std::unique_ptr<TksFilter> filter;
    std::string encoded;
    bool canEncode;
  };
  std::vector<Case> cases;
  cases.push_back({std::make_unique<TksAsciiHexFilter>(), AsciiHexEncode(content), true});
  cases.push_back({std::make_unique<TksAscii85Filter>(), Ascii85Encode(content), true});
  cases.push_back({std::make_unique<TksRLEFilter>(), RunLengthEncode(content), true});
  cases.push_back({std::make_unique<TksLZWFilter>(), LzwEncode(content), false});
  cases.push_back({std::make_unique<TksFlateFilter>(), FlateCompress(content, 2), false});
  for (auto& c : cases) {
    TksMemoryStream encoded(c.encoded);
    encoded.Seek(0, soEnd);
    auto decoded = c.filter->DecodeStream(encoded);
    EXPECT_EQ(decoded->Position(), 0);
    EXPECT_EQ(decoded->ToString(), content);
    EXPECT_EQ(c.filter->DecodeString(c.encoded), content);
    // Through an adapter, so not a memory stream.
    TksReadOnlyFilter view(&encoded);
    EXPECT_EQ(c.filter->DecodeStream(view)->ToString(), content);
    if (c.canEncode) {
      TksMemoryStream plain(content);
      plain.Seek(7, soBeginning);
      auto out = c.filter->EncodeStream(plain);
      EXPECT_EQ(out->Position(), 0);
      EXPECT_EQ(out->ToString(), c.encoded);
      EXPECT_EQ(c.filter->EncodeString(content), c.encoded);
    }
  }
  TksFlateFilter flate;
  TksMemoryStream plain(content);
  auto packed = flate.CompressStream(plain, 3);
  EXPECT_EQ(packed->Position(), 0);
  EXPECT_EQ(packed->ToString(), FlateCompress(content, 3));
  EXPECT_EQ(flate.CompressString(content, 0), FlateCompress(content, 0));
}

// ---- hostile input ----

TEST(HostileInput, NoiseEndsInResultsOrEngineErrors) {
  // Noise, and valid streams with bytes flipped: every decoder either returns or
  // raises one of the engine's exceptions (the sanitizer build checks the rest).
  const std::string content = RandomBytes(4000, 13, true);
  const std::vector<std::pair<std::function<std::string(std::string_view, uint64_t)>, std::string>> decoders = {
      {AsciiHexDecode, AsciiHexEncode(content)}, {Ascii85Decode, Ascii85Encode(content)},
      {RunLengthDecode, RunLengthEncode(content)}, {LZWDecode, LzwEncode(content)},
      {FlateDecode, FlateCompress(content, 2)},
  };
  std::mt19937 rng(99);
  for (const auto& [decode, valid] : decoders) {
    for (int round = 0; round < 150; ++round) {
      std::string input;
      if (round % 2 == 0) {
        input.resize(rng() % 3000);
        for (char& c : input) c = static_cast<char>(rng() & 0xFF);
      } else {
        input = valid;
        for (int k = 0; k < 1 + round % 5; ++k) input[rng() % input.size()] ^= static_cast<char>(1 + rng() % 255);
      }
      try {
        std::string out = decode(input, 1u << 20);
        EXPECT_LE(out.size(), 1u << 20);
      } catch (const Exception&) {
      }
    }
  }
}
