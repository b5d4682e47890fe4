// The tokenizer and object parser.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "parse/ksPDFParsers.h"
#include "base/ksPDFResStrs.h"

namespace {

using testing::StrEq;
using testing::ThrowsMessage;

// A reader over a test's bytes; the bytes live as long as the reader.
struct Source {
  explicit Source(std::string b) : bytes(std::move(b)), reader(Data(), bytes.size(), 7) {}
  const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(bytes.data()); }
  std::string Rest() const { return bytes.substr(std::min<size_t>(reader.Position(), bytes.size())); }
  std::string bytes;
  TksPDFStreamReader reader;
};

struct ValueCase {
  const char* input;
  TksPDFObjectType type;
  const char* text;  // the value's text form
};

class ParseObjectValues : public testing::TestWithParam<ValueCase> {};

TEST_P(ParseObjectValues, GivesKindAndText) {
  Source s(GetParam().input);
  TksPDFObjectPtr v = s.reader.ParseObject();
  ASSERT_TRUE(v);
  EXPECT_EQ(v->ObjectType, GetParam().type);
  EXPECT_EQ(ObjectToText(v.get()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ParseObjectValues,
    testing::Values(
        ValueCase{"[1 2 3]", otArray, "[ 1 2 3 ]"},
        ValueCase{"[]", otArray, "[ ]"},
        ValueCase{"[ ]", otArray, "[ ]"},
        ValueCase{"<<>>", otDictionary, "<<\r\n>>"},
        ValueCase{"<< /A 1 0 R /B [/X (y)] >>", otDictionary, "<<\r\n/A 1 0 R\r\n/B [ /X (y) ]\r\n>>"},
        ValueCase{"<</A/B/C<</D 1>>>>", otDictionary, "<<\r\n/A /B\r\n/C <<\r\n/D 1\r\n>>\r\n>>"},
        ValueCase{"<48 65 6C6C6F>", otString, "<48 65 6C6C6F>"},
        ValueCase{"/A#20B", otName, "/A#20B"},
        ValueCase{"/Name/Other", otName, "/Name"},
        ValueCase{"3000000000", otInt64, "3000000000"},
        ValueCase{"-2147483648", otInteger, "-2147483648"},
        ValueCase{"+7", otInteger, "7"},
        ValueCase{"1.5", otReal, "1.5000000000"},
        ValueCase{"-.5", otReal, "-0.5000000000"},
        ValueCase{"4.", otReal, "4.0000000000"},
        ValueCase{"true", otBoolean, "true"},
        ValueCase{"false", otBoolean, "false"},
        ValueCase{"null", otNull, "null"},
        ValueCase{"12 3 R", otIndirectReference, "12 3 R"},
        ValueCase{"  % a comment\r\n  %another\n 42", otInteger, "42"},
        ValueCase{"[1 2 R 3]", otArray, "[ 1 2 R 3 ]"},
        ValueCase{"[1 2 3 R]", otArray, "[ 1 2 3 R ]"},
        ValueCase{"<< /K >>", otDictionary, "<<\r\n/K \r\n>>"}));

// A comment ends the token it touches: a name, a number, a keyword.
INSTANTIATE_TEST_SUITE_P(
    CommentsEndTokens, ParseObjectValues,
    testing::Values(
        ValueCase{"/Page%note\n", otName, "/Page"},
        ValueCase{"[/a%c\n/b]", otArray, "[ /a /b ]"},
        ValueCase{"<</Type /Page%note\n/Count 3>>", otDictionary, "<<\r\n/Type /Page\r\n/Count 3\r\n>>"},
        ValueCase{"<</Type/Page%note\r>>", otDictionary, "<<\r\n/Type /Page\r\n>>"},
        ValueCase{"2 0 R%c\n", otIndirectReference, "2 0 R"},
        ValueCase{"[2 0 R%c\n 3]", otArray, "[ 2 0 R 3 ]"},
        ValueCase{"[2%c\n0%c\nR]", otArray, "[ 2 0 R ]"},
        ValueCase{"792%c", otInteger, "792"},
        ValueCase{"[0 0 612 792%c\n]", otArray, "[ 0 0 612 792 ]"},
        ValueCase{"-1.5%c\n", otReal, "-1.5000000000"},
        ValueCase{"3000000000%c", otInt64, "3000000000"},
        ValueCase{"true%c", otBoolean, "true"},
        ValueCase{"<</A null%c\n>>", otDictionary, "<<\r\n/A null\r\n>>"}));

struct StringCase {
  const char* input;
  std::string text;  // Text as stored, delimiters included
  bool isHex;
};

class ReadStrings : public testing::TestWithParam<StringCase> {};

TEST_P(ReadStrings, KeepDelimitersAndResolveEscapes) {
  Source s(GetParam().input);
  auto v = s.reader.ReadStringObject();
  EXPECT_EQ(v->Text, GetParam().text);
  EXPECT_EQ(v->IsHex, GetParam().isHex);
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, ReadStrings,
    testing::Values(StringCase{"(a(b)c)", "(a(b)c)", false},       // balanced pair stays
                    StringCase{"(a\\)b)", "(a)b)", false},         // escaped ")" does not end it
                    StringCase{"(\\101)", "(A)", false},           // octal
                    StringCase{"(\\8)", std::string("(\x08)"), false},
                    StringCase{"(\\18)", std::string("(\x10)"), false},
                    StringCase{"(\\0053)", std::string("(\x05" "3)"), false},  // at most three digits
                    StringCase{"(\\q)", "(\\q)", false},           // unknown escape keeps the backslash
                    StringCase{"(\\n\\r\\t\\b\\f)", "(\n\r\t\b\f)", false},
                    StringCase{"(\\\\\\(\\))", "(\\())", false},
                    StringCase{"(a\\\nb)", "(ab)", false},         // line continuation
                    StringCase{"(a\\\r\nb)", "(a\nb)", false},     // after CR the LF stays
                    StringCase{"()", "()", false},
                    StringCase{"<48 65>", "<48 65>", true},        // white space kept in hex
                    StringCase{"<>", "<>", true}));

struct ErrorCase {
  const char* name;
  std::string input;
  std::function<void(TksPDFStreamReader&)> op;
  std::function<void(std::function<void()>)> expect;
};

template <class E>
std::function<void(std::function<void()>)> Throws(std::string message) {
  return [message](std::function<void()> f) { EXPECT_THAT(f, ThrowsMessage<E>(StrEq(message))); };
}

void Parse(TksPDFStreamReader& r) { r.ParseObject(); }
void Array(TksPDFStreamReader& r) { r.ReadArrayObject(); }
void Dict(TksPDFStreamReader& r) { r.ReadDictObject(); }
void Name(TksPDFStreamReader& r) { r.ReadNameObject(); }
void String(TksPDFStreamReader& r) { r.ReadStringObject(); }
void Header(TksPDFStreamReader& r) { r.ReadHeader(); }
void StartXRef(TksPDFStreamReader& r) { r.FindStartXRef(); }
void Trailer(TksPDFStreamReader& r) { r.ReadTrailer(); }

class ParserErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(ParserErrors, RaiseTheirClassAndMessage) {
  Source s(GetParam().input);
  GetParam().expect([&] { GetParam().op(s.reader); });
}

std::string Nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }
std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParserErrors,
    testing::Values(
        ErrorCase{"ArrayWrongOpen", "(x)", Array, Throws<EArrayReadError>("Error reading PDF array (()")},
        ErrorCase{"ArrayAtEnd", "[1 2", Array, Throws<EArrayReadError>("Error reading PDF array (end of data)")},
        ErrorCase{"ArrayWrongClose", "[1 2 )", Parse, Throws<EArrayReadError>("Error reading PDF array ())")},
        ErrorCase{"NameWrongStart", "x", Name, Throws<ENameReadError>("Error reading PDF name string (x)")},
        ErrorCase{"DictWrongOpen", "<a", Dict, Throws<EDictionaryReadError>("Error reading PDF dictionary (a)")},
        ErrorCase{"DictNotAngle", "[", Dict, Throws<EDictionaryReadError>("Error reading PDF dictionary ([)")},
        ErrorCase{"DictAtEnd", "<< /A 1", Parse,
                  Throws<EDictionaryReadError>("Error reading PDF dictionary (end of data)")},
        ErrorCase{"DictKeyNotName", "<< 1 2 >>", Parse, Throws<ENameReadError>("Error reading PDF name string (1)")},
        ErrorCase{"StringWrongOpen", "x", String, Throws<EStringReadError>("Error reading PDF string (x)")},
        ErrorCase{"StringAtEnd", "(abc", Parse, Throws<EStringReadError>("Error reading PDF string (end of data)")},
        ErrorCase{"HexAtEnd", "<4142", Parse, Throws<EStringReadError>("Error reading PDF string (end of data)")},
        ErrorCase{"EscapeAtEnd", "(a\\", Parse, Throws<EStringReadError>("Error reading PDF string (end of data)")},
        ErrorCase{"True", "tru", Parse, Throws<EBooleanError>("Expected boolean (true) object")},
        ErrorCase{"False", "fals", Parse, Throws<EBooleanError>("Expected boolean (false) object")},
        ErrorCase{"Null", "nul", Parse, Throws<ENullObjectError>("Expected PDF null object")},
        ErrorCase{"NotANumber", "abc", Parse, Throws<Exception>("'abc' is not a valid integer value")},
        ErrorCase{"Exponent", "1e5", Parse, Throws<Exception>("'1e5' is not a valid integer value")},
        ErrorCase{"TooBig", "99999999999999999999", Parse,
                  Throws<Exception>("'99999999999999999999' is not a valid integer value")},
        ErrorCase{"BadReference", "x 0 R", Parse, Throws<Exception>("'x' is not a valid integer value")},
        ErrorCase{"BadGeneration", "1 70000 R", Parse, Throws<Exception>("Invalid generation number (70000)")},
        ErrorCase{"StreamWithoutDict", "1 0 obj 5 stream\nabc\nendstream", Parse,
                  Throws<EStreamReadError>("Error reading PDF stream")},
        ErrorCase{"TooDeep", Nested(600), Parse, Throws<Exception>("PDF objects nested deeper than 512 levels")},
        ErrorCase{"DeepDicts", Repeat("<</A ", 600), Parse,
                  Throws<Exception>("PDF objects nested deeper than 512 levels")},
        ErrorCase{"HeaderPostScript", "%!PS-Adobe-3.0\n", Header,
                  Throws<EInvalidHeader>("Invalid PDF Header (%!PS-Ad)")},
        ErrorCase{"HeaderEmpty", "", Header, Throws<EInvalidHeader>("Invalid PDF Header ()")},
        ErrorCase{"HeaderNotFirst", " %PDF-1.4\n", Header, Throws<EInvalidHeader>("Invalid PDF Header ( %PDF-1)")},
        ErrorCase{"Version19", "%PDF-1.9\n", Header, Throws<EUnsupportedVersion>("Unsupported PDF Version (%PDF-1.9)")},
        ErrorCase{"Version18", "%PDF-1.8 junk\n", Header,
                  Throws<EUnsupportedVersion>("Unsupported PDF Version (%PDF-1.8)")},
        ErrorCase{"VersionLetter", "%PDF-1.x\n", Header, Throws<Exception>("'x' is not a valid integer value")},
        ErrorCase{"VersionMissing", "%PDF-1.\n", Header, Throws<Exception>("'' is not a valid integer value")},
        ErrorCase{"NoStartXRef", "%PDF-1.4\ntrailer\n%%EOF", StartXRef, Throws<Exception>("Invalid PDF File")},
        ErrorCase{"StartXRefPartOfWord", "xstartxref 12", StartXRef, Throws<Exception>("Invalid PDF File")},
        ErrorCase{"StartXRefNoOffset", "startxref\n%%EOF", StartXRef,
                  Throws<EOffsetError>("Error reading document. Unable to read offset")},
        ErrorCase{"StartXRefTruncated", "startxref", StartXRef,
                  Throws<EOffsetError>("Error reading document. Unable to read offset")},
        ErrorCase{"StartXRefHuge", "startxref 99999999999999999999", StartXRef,
                  Throws<EOffsetError>("Error reading document. Unable to read offset")},
        ErrorCase{"NoTrailer", "xref\n0 1\n0000000000 65535 f\r\n", Trailer,
                  Throws<ETrailerError>("Error reading PDF trailer")},
        ErrorCase{"WrongTrailerWord", "xref\ntrail", Trailer, Throws<ETrailerError>("Error reading PDF trailer")},
        ErrorCase{"TrailerNotDict", "trailer [1]", Trailer, Throws<ETrailerError>("Error reading PDF trailer")}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

// Truncated input of every construct ends in that construct's error, never in a loop.
class TruncatedInput : public testing::TestWithParam<const char*> {};

TEST_P(TruncatedInput, FailsAtTheEnd) {
  Source s(GetParam());
  EXPECT_THROW(s.reader.ParseObject(), Exception);
}

INSTANTIATE_TEST_SUITE_P(Table, TruncatedInput,
                         testing::Values("(", "<", "<<", "[", "<< /A", "[ (a", "<< /A [ 1 2", "1 0 obj <<", "t", "f", "n"));

TEST(ParseObject, ThreeIntegersGiveThreeElements) {
  Source s("[1 2 3]");
  auto v = s.reader.ParseObject();
  auto* a = AsArray(v.get());
  ASSERT_EQ(a->Count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(AsInteger(a->GetItem(i))->Value, i + 1);
}

TEST(ParseObject, TokenWithTwoPointsBecomesAStringHoldingIt) {
  Source s("1.2.3");
  auto v = s.reader.ParseObject();
  auto* str = AsString(v.get());
  ASSERT_TRUE(str);
  EXPECT_EQ(str->Content(), "1.2.3");
}

TEST(ParseObject, IndirectObjectLeavesReaderBeforeEndobj) {
  Source s("12 0 obj <<>> endobj");
  auto v = s.reader.ParseObject();
  auto* o = AsIndirect(v.get());
  ASSERT_TRUE(o);
  EXPECT_EQ(o->ObjectNumber, 12);
  EXPECT_EQ(o->Generation, 0);
  EXPECT_EQ(o->DocumentID, 7);
  EXPECT_EQ(o->Value->ObjectType, otDictionary);
  EXPECT_EQ(s.Rest(), "endobj");
  EXPECT_EQ(s.reader.CurrentObjectNumber, 12);
  EXPECT_EQ(s.reader.CurrentGeneration, 0);
}

TEST(ParseObject, HeaderKeywordInAnyCaseAndEmptyBodyIsNull) {
  Source s("7 2 OBJ\nendobj");
  auto v = s.reader.ParseObject();
  auto* o = AsIndirect(v.get());
  ASSERT_TRUE(o);
  EXPECT_EQ(o->Generation, 2);
  EXPECT_EQ(o->Value->ObjectType, otNull);
}

TEST(ParseObject, StreamHeaderGivesStreamWithoutData) {
  Source s("3 0 obj << /Length 3 >>\nstream\nabc\nendstream\nendobj");
  auto v = s.reader.ParseObject();
  auto* st = AsStream(AsIndirect(v.get())->Value.get());
  ASSERT_TRUE(st);
  EXPECT_EQ(st->Data->size(), 0u);
  EXPECT_EQ(s.Rest().substr(0, 6), "stream");
}

TEST(ParseObject, ReferenceCarriesDocumentID) {
  Source s("<< /P 5 0 R >>");
  auto v = s.reader.ParseObject();
  auto* ref = AsRef(AsDict(v.get())->Lookup("/P"));
  ASSERT_TRUE(ref);
  EXPECT_EQ(ref->DocumentID, 7);
  EXPECT_EQ(ref->ObjectNumber, 5);
}

TEST(ParseObject, NothingAtClosingDelimitersAndEnd) {
  for (const char* in : {")", "]", ">", "}", "", "   % only a comment"}) {
    Source s(in);
    EXPECT_EQ(s.reader.ParseObject(), nullptr) << in;
  }
}

TEST(ParseObject, NameEndsAtWhiteSpaceWhichIsConsumed) {
  Source s("/Abc def");
  auto n = s.reader.ReadNameObject();
  EXPECT_EQ(n->Text, "/Abc");
  EXPECT_EQ(s.Rest(), "def");
  Source t("/Abc(x)");
  EXPECT_EQ(t.reader.ReadNameObject()->Text, "/Abc");
  EXPECT_EQ(t.Rest(), "(x)");
}

TEST(Tokens, ReadTokenTakesOneDelimiterAndSkipsWhiteSpace) {
  Source s("] ]abc  def%x\n/g");
  EXPECT_EQ(s.reader.ReadToken(), "]");
  EXPECT_EQ(s.reader.ReadToken(), "]abc");
  EXPECT_EQ(s.reader.ReadToken(), "def");
  EXPECT_EQ(s.reader.ReadToken(), "/g");
  EXPECT_EQ(s.reader.ReadToken(), "");
  EXPECT_EQ(s.reader.ReadToken(), "");
}

// "obj", "endobj" and "R" followed by a comment are still those keywords.
TEST(Tokens, KeywordsEndAtAComment) {
  Source s("12 0 obj%header\n<</P 3 0 R%ref\n>>%value\nendobj%end\n");
  int32_t n = 0, g = 0;
  ASSERT_TRUE(s.reader.PeekObjectHeader(n, g));
  EXPECT_EQ(n, 12);
  auto v = s.reader.ParseObject();
  auto* o = AsIndirect(v.get());
  ASSERT_TRUE(o);
  EXPECT_EQ(AsRef(AsDict(o->Value.get())->Lookup("/P"))->ObjectNumber, 3);
  EXPECT_EQ(s.reader.PeekWord(), "endobj");
  Source t("%PDF-1.4%\xE2\xE3\n");
  EXPECT_EQ(t.reader.ReadHeader(), pvPDF14);
}

TEST(Tokens, PeekWordLeavesPositionAfterWhiteSpace) {
  Source s("  stream\r\nabc");
  EXPECT_EQ(s.reader.PeekWord(), "stream");
  EXPECT_EQ(s.Rest(), "stream\r\nabc");
}

TEST(Tokens, FormFeedIsNotWhiteSpace) {
  Source s("\f1");
  s.reader.SkipWhiteSpace();
  EXPECT_EQ(s.reader.Position(), 0u);
}

TEST(Tokens, PeekObjectHeader) {
  int32_t n = 0, g = 0;
  Source s("  15 2 obj << >>");
  EXPECT_TRUE(s.reader.PeekObjectHeader(n, g));
  EXPECT_EQ(n, 15);
  EXPECT_EQ(g, 2);
  EXPECT_EQ(s.reader.Position(), 0u);
  Source t("15 2 R");
  EXPECT_FALSE(t.reader.PeekObjectHeader(n, g));
  Source u("stream data");
  EXPECT_FALSE(u.reader.PeekObjectHeader(n, g));
}

struct HeaderCase {
  const char* input;
  TksPDFVersion version;
};

class Headers : public testing::TestWithParam<HeaderCase> {};

TEST_P(Headers, GiveTheVersion) {
  Source s(GetParam().input);
  EXPECT_EQ(s.reader.ReadHeader(), GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(Table, Headers,
                         testing::Values(HeaderCase{"%PDF-1.0\n", pvPDF10}, HeaderCase{"%PDF-1.4\r%\xE2\xE3", pvPDF14},
                                         HeaderCase{"%PDF-1.7", pvPDF17}, HeaderCase{"%PDF-1.70\n", pvPDF17},
                                         HeaderCase{"%PDF-1.10\n", pvPDF11}, HeaderCase{"%PDF-2.0\n", pvPDF20},
                                         HeaderCase{"%PDF-2.01\n", pvPDF20}, HeaderCase{"%PDF-2.9\n", pvPDF20}));

struct StartXRefCase {
  const char* input;
  int64_t offset;
};

class StartXRefs : public testing::TestWithParam<StartXRefCase> {};

TEST_P(StartXRefs, FindTheLastOffset) {
  Source s(GetParam().input);
  s.reader.Seek(3);
  EXPECT_EQ(s.reader.FindStartXRef(), GetParam().offset);
}

INSTANTIATE_TEST_SUITE_P(Table, StartXRefs,
                         testing::Values(StartXRefCase{"startxref\n116\n%%EOF\n", 116},
                                         StartXRefCase{"startxref 10\n%%EOF\nstartxref\n20\n%%EOF", 20},
                                         StartXRefCase{"STARTXREF\r\n31\r\n%%EOF", 31},
                                         StartXRefCase{"startxref\n5000000000\n%%EOF", 5000000000LL},
                                         StartXRefCase{"startxref\n 77", 77}));

struct StreamCase {
  const char* name;
  std::string dataBeforeEnd;  // bytes between "stream\n" and "endstream"
  int64_t length;
  std::string expected;
  TksPDFStreamReader::TksLengthFit fit;
  std::string after = "\nendobj";  // what follows "endstream"
};

class StreamData : public testing::TestWithParam<StreamCase> {};

TEST_P(StreamData, RecoversTheLengthThroughEndstream) {
  Source s("stream\n" + GetParam().dataBeforeEnd + "endstream\nendobj\n4 0 obj (x) endobj endstream");
  auto data = s.reader.ReadStreamData(GetParam().length, 1, 0);
  EXPECT_EQ(data->ToString(), GetParam().expected);
  EXPECT_EQ(data->IsBorrowed(), !GetParam().expected.empty());
  EXPECT_EQ(s.Rest().substr(0, GetParam().after.size()), GetParam().after);
  EXPECT_EQ(s.reader.LastLengthFit, GetParam().fit);
}

const std::string k20 = "0123456789ABCDEFGHIJ";

INSTANTIATE_TEST_SUITE_P(
    Table, StreamData,
    testing::Values(StreamCase{"Exact", k20 + "\n", 20, k20, TksPDFStreamReader::lfExact},
                    StreamCase{"ExactWithEol", k20 + "\r\n", 22, k20 + "\r\n", TksPDFStreamReader::lfExact},
                    // A length counting two bytes of end-of-line where one stands: no damage.
                    StreamCase{"CountsCrLfOverLf", k20 + "\n", 22, k20 + "\n", TksPDFStreamReader::lfLineEnd},
                    StreamCase{"OneShort", k20 + "\n", 19, k20 + "\n", TksPDFStreamReader::lfRecovered},
                    StreamCase{"OnePastTheEol", k20 + "\r\n", 23, k20 + "\r\n", TksPDFStreamReader::lfRecovered},
                    StreamCase{"TenTooLong", k20 + "\n", 30, k20 + "\n", TksPDFStreamReader::lfRecovered},
                    StreamCase{"TenTooShort", k20 + "\n", 10, k20 + "\n", TksPDFStreamReader::lfRecovered},
                    StreamCase{"FarTooLong", k20 + "\n", 1 << 30, k20 + "\n", TksPDFStreamReader::lfRecovered},
                    // Up to the end of the source, past a later "endstream": the first one ends the data.
                    StreamCase{"ToTheEnd", k20 + "\n", 66, k20 + "\n", TksPDFStreamReader::lfRecovered},
                    // A long run of white space (or a comment) between the data and the keyword.
                    StreamCase{"LongGap", k20 + "\n" + std::string(4000, ' ') + "\r\n", 20, k20, TksPDFStreamReader::lfExact},
                    // An end-of-line counted too many over data that quote the keyword.
                    StreamCase{"SlipOverQuotedKeyword", "(endstream) Tj\n", 16, "(endstream) Tj\n",
                               TksPDFStreamReader::lfLineEnd},
                    StreamCase{"CommentInGap", k20 + "\n% note\n", 20, k20, TksPDFStreamReader::lfExact},
                    StreamCase{"LongGapOneShort", k20 + std::string(4000, ' '), 19, k20 + std::string(4000, ' '),
                               TksPDFStreamReader::lfRecovered},
                    StreamCase{"Unknown", k20 + "\n", -1, k20 + "\n", TksPDFStreamReader::lfRecovered},
                    StreamCase{"Zero", "", 0, "", TksPDFStreamReader::lfExact},
                    StreamCase{"ZeroButData", "abc\n", 0, "abc\n", TksPDFStreamReader::lfRecovered},
                    StreamCase{"DataHoldsKeyword", "xendstreamy\n", 12, "xendstreamy\n", TksPDFStreamReader::lfExact}),
    [](const testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

// A limit says where another object begins: a length that lands on a later "endstream"
// past it ends at the stream's own instead; without one, or within it, the length stands
// (data may quote the keyword).
TEST(StreamData, ALengthRunningOverTheNextObjectEndsAtTheOwnEndstream) {
  const std::string source = "stream\n" + k20 + "\nendstream\nendobj\n4 0 obj << >>\nstream\nxyz\nendstream\n";
  const uint64_t start = 7, next = source.find("4 0 obj"), later = source.rfind("endstream");
  const struct {
    const char* name;
    int64_t length;
    uint64_t limit;
    std::string expected;
    TksPDFStreamReader::TksLengthFit fit;
  } cases[] = {
      {"onto a later endstream, past the next object", static_cast<int64_t>(later - start), next, k20 + "\n",
       TksPDFStreamReader::lfRecovered},
      {"onto a later endstream, no limit", static_cast<int64_t>(later - start), UINT64_MAX,
       source.substr(start, later - start), TksPDFStreamReader::lfExact},
      {"right, within the limit", 20, next, k20, TksPDFStreamReader::lfExact},
      {"unknown, within the limit", -1, next, k20 + "\n", TksPDFStreamReader::lfRecovered},
  };
  for (const auto& c : cases) {
    Source s(source);
    auto data = s.reader.ReadStreamData(c.length, 1, 0, c.limit);
    EXPECT_EQ(data->ToString(), c.expected) << c.name;
    EXPECT_EQ(s.reader.LastLengthFit, c.fit) << c.name;
    EXPECT_EQ(s.Rest().substr(0, 7), c.fit == TksPDFStreamReader::lfExact && c.length > 20 ? "\n" : "\nendobj") << c.name;
  }
}

// The latest end of a stream object's data: the first "endstream" that "endobj" follows.
TEST(StreamData, ClosingEndstreamIsTheOneEndobjFollows) {
  Source s("stream\n(endstream) Tj\nendstream %c\n endobj 5 0 obj<<>>stream\nendstream\rendobj\nendstream");
  const uint64_t first = s.bytes.find("endstream %c"), second = s.bytes.find("endstream\r");
  uint64_t found = 0;
  ASSERT_TRUE(s.reader.FindClosingEndstream(0, found));
  EXPECT_EQ(found, first);
  ASSERT_TRUE(s.reader.FindClosingEndstream(first + 1, found));
  EXPECT_EQ(found, second);
  EXPECT_FALSE(s.reader.FindClosingEndstream(second + 1, found));
}

TEST(StreamData, EndOfLineAfterKeyword) {
  for (const char* eol : {"\r\n", "\n", "\r", " \r\n", "\t\n", ""}) {
    Source s(std::string("stream") + eol + "abc\nendstream");
    EXPECT_EQ(s.reader.ReadStreamData(3, 1, 0)->ToString(), "abc") << eol;
  }
}

TEST(StreamData, Errors) {
  Source noKeyword("strean\nabc\nendstream");
  EXPECT_THAT([&] { noKeyword.reader.ReadStreamData(3, 1, 0); },
              ThrowsMessage<EStreamReadError>(StrEq("Error reading PDF stream")));
  Source noEnd("stream\nabc\nendobj\n");
  EXPECT_THAT([&] { noEnd.reader.ReadStreamData(3, 1, 0); },
              ThrowsMessage<EEndStreamError>(StrEq("Expected PDF endstream")));
  Source unknownNoEnd("stream\nabc");
  EXPECT_THAT([&] { unknownNoEnd.reader.ReadStreamData(-1, 1, 0); },
              ThrowsMessage<EEndStreamError>(StrEq("Expected PDF endstream")));
}

TEST(StreamData, CopiedWhenBorrowingIsOff) {
  Source s("stream\nabc\nendstream");
  s.reader.BorrowStreamData = false;
  auto data = s.reader.ReadStreamData(3, 1, 0);
  EXPECT_FALSE(data->IsBorrowed());
  EXPECT_EQ(data->ToString(), "abc");
}

TEST(Trailer, FoundAfterTheTable) {
  Source s("xref\n0 1\n0000000000 65535 f\r\ntrailer\n<< /Size 1 /Root 1 0 R >>\nstartxref\n0\n%%EOF");
  auto t = s.reader.ReadTrailer();
  EXPECT_EQ(AsInteger(t->Lookup("/Size"))->Value, 1);
  EXPECT_TRUE(AsRef(t->Lookup("/Root")));
}

// Reverses bytes and records under which numbers it was asked, so a test sees what
// reached the handler.
class ReversingDecryptor : public TksPDFDecryptor {
 public:
  void DecryptString(int32_t n, int32_t g, std::string& bytes) override {
    calls.push_back("S" + std::to_string(n) + "/" + std::to_string(g));
    std::reverse(bytes.begin(), bytes.end());
  }
  void DecryptStream(int32_t n, int32_t g, std::vector<uint8_t>& bytes) override {
    calls.push_back("D" + std::to_string(n) + "/" + std::to_string(g));
    std::reverse(bytes.begin(), bytes.end());
  }
  std::vector<std::string> calls;
};

TEST(Decryption, StringsUnderTheCurrentObjectAndStreamsUnderTheirArguments) {
  ReversingDecryptor d;
  Source s("5 1 obj << /A (abc) /B <414243> /C () >>\nstream\nxyz\nendstream");
  s.reader.Decryptor = &d;
  auto v = s.reader.ParseObject();
  auto* st = AsStream(AsIndirect(v.get())->Value.get());
  auto* a = AsString(st->Dict->Lookup("/A"));
  auto* b = AsString(st->Dict->Lookup("/B"));
  EXPECT_EQ(a->Text, "(cba)");
  EXPECT_EQ(b->Text, "(CBA)");  // hex becomes literal once decrypted
  EXPECT_FALSE(b->IsHex);
  EXPECT_EQ(AsString(st->Dict->Lookup("/C"))->Text, "()");
  auto data = s.reader.ReadStreamData(3, 9, 4);
  EXPECT_EQ(data->ToString(), "zyx");
  EXPECT_FALSE(data->IsBorrowed());
  EXPECT_THAT(d.calls, testing::ElementsAre("S5/1", "S5/1", "D9/4"));
}

TEST(Decryption, StringOutsideAnObjectIsRefused) {
  ReversingDecryptor d;
  Source s("(abc)");
  s.reader.Decryptor = &d;
  EXPECT_THAT([&] { s.reader.ParseObject(); }, ThrowsMessage<EInvalidObjectNo>(StrEq("Invalid object number")));
}

TEST(Reader, EmptySource) {
  TksPDFStreamReader r(nullptr, 0, 1);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_EQ(r.ParseObject(), nullptr);
  EXPECT_EQ(r.ReadToken(), "");
  EXPECT_EQ(r.PeekByte(), -1);
}

}  // namespace
