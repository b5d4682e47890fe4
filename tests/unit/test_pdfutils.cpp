// Filter-name dispatch, the decoding chain and the re-filtering of stream data on save.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/ksFilters.h"
#include "ksObjText.h"
#include "base/ksPDFResStrs.h"
#include "objects/ksPDFObjectStore.h"
#include "codec/ksFilterChain.h"

using testing::StrEq;
using testing::ThrowsMessage;

namespace {

std::unique_ptr<TksPDFNameObject> Name(const char* text) { return std::make_unique<TksPDFNameObject>(text); }

std::unique_ptr<TksPDFArrayObject> NameArray(std::initializer_list<const char*> names) {
  auto a = std::make_unique<TksPDFArrayObject>();
  for (const char* n : names) a->Add(Name(n));
  return a;
}

std::string Text(const TksPDFObject* o) { return ObjectToText(o); }

const std::string kContent = "BT /F1 12 Tf 72 712 Td (Hello, filters) Tj ET\n";

}  // namespace

// ---- names ----

struct NameCase {
  const char* name;
  TksDecodeFilter filter;
};

class FilterTypeFromNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(FilterTypeFromNameTest, MapsKnownNames) {
  EXPECT_EQ(FilterTypeFromName(GetParam().name), GetParam().filter);
}

INSTANTIATE_TEST_SUITE_P(Known, FilterTypeFromNameTest,
                         testing::Values(NameCase{"/ASCIIHexDecode", ftASCIIHexDecode},
                                         NameCase{"/ASCII85Decode", ftASCII85Decode},
                                         NameCase{"/LZWDecode", ftLZWDecode},
                                         NameCase{"/FlateDecode", ftFlateDecode},
                                         NameCase{"/RunLengthDecode", ftRunLengthDecode},
                                         NameCase{"/DCTDecode", ftDCTDecode}, NameCase{"/A85", ftASCII85Decode},
                                         NameCase{"/CCITTFaxDecode", ftCCITTFaxDecode}));

TEST(FilterTypeFromName, EnumOrdinals) {
  EXPECT_EQ(int(ftASCIIHexDecode), 0);
  EXPECT_EQ(int(ftASCII85Decode), 1);
  EXPECT_EQ(int(ftFlateDecode), 2);
  EXPECT_EQ(int(ftRunLengthDecode), 3);
  EXPECT_EQ(int(ftLZWDecode), 4);
  EXPECT_EQ(int(ftCCITTFaxDecode), 5);
  EXPECT_EQ(int(ftDCTDecode), 6);
}

TEST(FilterTypeFromName, RejectsOtherNamesWithTheNameAsWritten) {
  for (const char* name : {"/AHx", "/Fl", "/LZW", "/RL", "/CCF", "/DCT", "/flatedecode", "FlateDecode", "/JBIG2Decode"}) {
    EXPECT_THAT([&] { FilterTypeFromName(name); },
                ThrowsMessage<EUnsupportedFilterError>(StrEq(std::string("Unsupported filter (") + name + ")")));
  }
}

TEST(FindFilterName, SearchesUpToHighIndexCaseSensitively) {
  EXPECT_EQ(FindFilterName(OutputFilterNames, 1, "/FlateDecode"), 0);
  EXPECT_EQ(FindFilterName(OutputFilterNames, 1, "/RunLengthDecode"), 1);
  EXPECT_EQ(FindFilterName(OutputFilterNames, 1, "/ASCII85Decode"), -1);
  EXPECT_EQ(FindFilterName(OutputFilterNames, 3, "/ASCII85Decode"), 3);
  EXPECT_EQ(FindFilterName(OutputFilterNames, 3, "/flatedecode"), -1);
  EXPECT_EQ(FindFilterName(OutputFilterNames, 100, "/PDFDocEncoding"), 8);
  EXPECT_EQ(FindFilterName(OutputFilterNames, -1, "/FlateDecode"), -1);
}

// ---- /Filter values ----

TEST(GetDecodeFilters, NameArrayAbsentAndNull) {
  auto name = Name("/FlateDecode");
  EXPECT_EQ(GetDecodeFilters(name.get()), TksDecodeFilters({ftFlateDecode}));
  auto array = NameArray({"/ASCII85Decode", "/LZWDecode", "/DCTDecode"});
  EXPECT_EQ(GetDecodeFilters(array.get()), TksDecodeFilters({ftASCII85Decode, ftLZWDecode, ftDCTDecode}));
  EXPECT_TRUE(GetDecodeFilters(nullptr).empty());
  TksPDFNullObject null;
  EXPECT_TRUE(GetDecodeFilters(&null).empty());
  TksPDFArrayObject empty;
  EXPECT_TRUE(GetDecodeFilters(&empty).empty());
}

TEST(GetDecodeFilters, WrongKindsNameWhatWasFound) {
  TksPDFIntegerObject number(7);
  EXPECT_THAT([&] { GetDecodeFilters(&number); },
              ThrowsMessage<EUnexpectedFilterObject>(StrEq("Unexpected filter object, found (7)")));
  TksPDFIndirectReference ref(1, 12, 0);
  EXPECT_THAT([&] { GetDecodeFilters(&ref); },
              ThrowsMessage<EUnexpectedFilterObject>(StrEq("Unexpected filter object, found (12 0 R)")));
  auto array = NameArray({"/FlateDecode"});
  array->AddInteger(3);
  EXPECT_THAT([&] { GetDecodeFilters(array.get()); },
              ThrowsMessage<EUnexpectedFilterObject>(StrEq("Unexpected filter object, found (3)")));
  auto unknown = NameArray({"/FlateDecode", "/AHx"});
  EXPECT_THAT([&] { GetDecodeFilters(unknown.get()); },
              ThrowsMessage<EUnsupportedFilterError>(StrEq("Unsupported filter (/AHx)")));
}

// ---- single filters ----

TEST(DecodeStreamWithFilter, HexWithTrailingEolAndNoEndMarker) {
  TksMemoryStream s(std::string("414243\r\n"));
  auto out = DecodeStreamWithFilter(ftASCIIHexDecode, s);
  EXPECT_EQ(out->ToString(), "ABC");
  EXPECT_EQ(out->Position(), 0);
  EXPECT_EQ(s.ToString(), "414243>");  // trimmed and closed in place
}

TEST(DecodeStreamWithFilter, EachDecodableFilter) {
  struct Case {
    TksDecodeFilter filter;
    std::string encoded;
  } cases[] = {
      {ftASCIIHexDecode, AsciiHexEncode(kContent) + "\n"},
      {ftASCII85Decode, Ascii85Encode(kContent) + "\r\n"},
      {ftFlateDecode, FlateCompress(kContent, 2) + "\r\n"},
      {ftRunLengthDecode, RunLengthEncode(kContent) + "\n"},
  };
  for (auto& c : cases) {
    TksMemoryStream s(c.encoded);
    EXPECT_EQ(DecodeStreamWithFilter(c.filter, s)->ToString(), kContent) << int(c.filter);
    EXPECT_EQ(DecodeStringWithFilter(c.filter, c.encoded), kContent) << int(c.filter);
  }
}

TEST(DecodeStreamWithFilter, PassThroughAndUnknownValues) {
  for (TksDecodeFilter f : {ftCCITTFaxDecode, ftDCTDecode}) {
    TksMemoryStream s(std::string("\xFF\xD8 raw\r\n"));
    EXPECT_EQ(DecodeStreamWithFilter(f, s)->ToString(), "\xFF\xD8 raw");
  }
  TksMemoryStream s(std::string("x"));
  EXPECT_THAT([&] { DecodeStreamWithFilter(static_cast<TksDecodeFilter>(9), s); },
              ThrowsMessage<EUnsupportedFilterError>(StrEq("Unsupported filter")));
}

TEST(DecodeStringWithFilter, DctPassesCcittAndUnknownRefused) {
  EXPECT_EQ(DecodeStringWithFilter(ftDCTDecode, "jpeg\n"), "jpeg");
  EXPECT_THAT([&] { DecodeStringWithFilter(ftCCITTFaxDecode, "fax"); },
              ThrowsMessage<EUnsupportedFilterError>(StrEq("Unsupported filter")));
  EXPECT_THAT([&] { DecodeStringWithFilter(static_cast<TksDecodeFilter>(7), "x"); },
              ThrowsMessage<EUnsupportedFilterError>(StrEq("Unsupported filter")));
}

TEST(DecodeStringWithFilter, A85TrailingSpaceIsNotCut) {
  EXPECT_THAT([&] { DecodeStringWithFilter(ftASCII85Decode, "87cURD]i,\"Ebo80~> "); },
              ThrowsMessage<Exception>(StrEq("EndOfData marker is wrong")));
  EXPECT_EQ(DecodeStringWithFilter(ftASCII85Decode, "87cURD]i,\"Ebo80~>\r\n"), "Hello World!");
}

TEST(DecodeStreamWithFilter, EmptyStreamsDecodeToNothing) {
  for (TksDecodeFilter f : {ftASCIIHexDecode, ftASCII85Decode, ftFlateDecode, ftRunLengthDecode, ftLZWDecode}) {
    TksMemoryStream s;
    EXPECT_EQ(DecodeStreamWithFilter(f, s)->size(), 0u) << int(f);
    TksMemoryStream eol(std::string("\r\n"));
    EXPECT_EQ(DecodeStreamWithFilter(f, eol)->size(), 0u) << int(f);
  }
}

// ---- the chain ----

TEST(DecodeFilterChain, NoFilterCopiesTheWholeSource) {
  TksMemoryStream source(kContent);
  source.Seek(5, soBeginning);
  auto out = DecodeFilterChain(source, nullptr);
  EXPECT_EQ(out->ToString(), kContent);
  EXPECT_EQ(out->Position(), 0);
  EXPECT_NE(out.get(), &source);
}

TEST(DecodeFilterChain, UndoesFiltersInArrayOrder) {
  // Written as Flate, then ASCII85 on top: /Filter [/ASCII85Decode /FlateDecode].
  TksMemoryStream source(Ascii85Encode(FlateCompress(kContent, 3)) + "\r\n");
  auto filters = NameArray({"/ASCII85Decode", "/FlateDecode"});
  EXPECT_EQ(DecodeFilterChain(source, filters.get())->ToString(), kContent);
  auto a85 = NameArray({"/A85", "/FlateDecode"});
  EXPECT_EQ(DecodeFilterChain(source, a85.get())->ToString(), kContent);
  EXPECT_EQ(source.ToString(), Ascii85Encode(FlateCompress(kContent, 3)) + "\r\n");  // source untouched
}

TEST(DecodeFilterChain, PassThroughEntriesKeepTheBytes) {
  TksMemoryStream flated(FlateCompress(kContent, 2));
  auto flateThenDct = NameArray({"/FlateDecode", "/DCTDecode"});
  EXPECT_EQ(DecodeFilterChain(flated, flateThenDct.get())->ToString(), kContent);

  const std::string fax(std::string("\x00\x01\x02", 3) + "fax\r\n");
  TksMemoryStream faxed(fax);
  auto ccitt = NameArray({"/CCITTFaxDecode"});
  EXPECT_EQ(DecodeFilterChain(faxed, ccitt.get())->ToString(), fax);
}

TEST(DecodeFilterChain, SingleNameAndEveryCodec) {
  struct Case {
    const char* name;
    std::string encoded;
  } cases[] = {
      {"/ASCIIHexDecode", AsciiHexEncode(kContent)},
      {"/ASCII85Decode", Ascii85Encode(kContent)},
      {"/FlateDecode", FlateCompress(kContent, 1)},
      {"/RunLengthDecode", RunLengthEncode(kContent)},
  };
  for (auto& c : cases) {
    TksMemoryStream source(c.encoded);
    auto name = Name(c.name);
    EXPECT_EQ(DecodeFilterChain(source, name.get())->ToString(), kContent) << c.name;
  }
}

TEST(DecodeFilterChain, ErrorsReachTheCaller) {
  TksMemoryStream source(std::string("x\x9C garbage"));
  auto flate = Name("/FlateDecode");
  EXPECT_THAT([&] { DecodeFilterChain(source, flate.get()); },
              ThrowsMessage<EZDecompressionError>(StrEq("data error")));
  auto ahx = Name("/AHx");
  EXPECT_THAT([&] { DecodeFilterChain(source, ahx.get()); },
              ThrowsMessage<EUnsupportedFilterError>(StrEq("Unsupported filter (/AHx)")));
  TksPDFStringObject wrong("(FlateDecode)");
  EXPECT_THAT([&] { DecodeFilterChain(source, &wrong); },
              ThrowsMessage<EUnexpectedFilterObject>(StrEq("Unexpected filter object, found ((FlateDecode))")));
}

TEST(DecodeFilterChain, CapAppliesToEveryStep) {
  const uint64_t saved = ksDecodeLimit();
  ksSetDecodeLimit(1000);
  TksMemoryStream source(FlateCompress(std::string(5000, 'a'), 3));
  auto flate = Name("/FlateDecode");
  EXPECT_THAT([&] { DecodeFilterChain(source, flate.get()); },
              ThrowsMessage<EDecodedSizeError>(StrEq("Decoded data exceed the limit of 1000 bytes")));
  ksSetDecodeLimit(saved);
  EXPECT_EQ(DecodeFilterChain(source, flate.get())->size(), 5000u);
}

TEST(DecodeChain, WhatALaterFilterReadsCountsAgainstTheLimit) {
  // [/FlateDecode /ASCIIHexDecode]: 1,200 hex digits (no ">", a line end after them) in
  // between, 600 bytes out; both are held while the second filter runs.
  const std::string plain(600, 'p');
  const std::string packed = FlateCompress(AsciiHexEncode(plain).substr(0, 1200) + "\r\n", 3);
  const TksDecodeFilters filters = {ftFlateDecode, ftASCIIHexDecode};
  struct Case {
    uint64_t limit;
    const char* refusal;  // null: decoded
    uint64_t produced;
  } cases[] = {
      {1802, nullptr, 1802},
      {1801, "Decoded data exceed the limit of 1801 bytes", 1801},
      {1000, "Decoded data exceed the limit of 1000 bytes", 1000},  // the first filter already passes it
  };
  for (const Case& c : cases) {
    TksDecodeRequest request{.Limit = c.limit, .Declared = 600};
    if (c.refusal) {
      EXPECT_THAT([&] { DecodeChain(packed, filters, request); },
                  ThrowsMessage<EDecodedSizeError>(StrEq(c.refusal)))
          << c.limit;
    } else {
      EXPECT_EQ(DecodeChain(packed, filters, request).View(), plain) << c.limit;
    }
    EXPECT_EQ(request.Produced, c.produced) << c.limit;
  }
}

TEST(DecodeChain, BytesWithNothingToUndoAreCopiedWhateverTheLimit) {
  TksDecodeRequest request{.Limit = 3};
  const TksDecodeFilters filters = {ftDCTDecode};
  EXPECT_EQ(DecodeChain(kContent, filters, request).View(), kContent);
  EXPECT_EQ(DecodeChain(kContent, {}, request).View(), kContent);
  EXPECT_EQ(request.Produced, 0u);
}

// ---- compression on save ----

namespace {

struct SaveFixture {
  TksPDFObjectStore store;
  TksPDFDictObject dict;
  TksCompression flate{true, 0, 2};
  TksCompression rle{true, 1, 0};

  // Stores value as object (1, num, 0) and returns a reference to it.
  std::unique_ptr<TksPDFIndirectReference> Stored(int32_t num, TksPDFObjectPtr value) {
    auto* obj = store.Add(std::make_unique<TksPDFIndirectObject>(1, num, 0, std::move(value)));
    return obj->ReferenceTo();
  }
};

}  // namespace

TEST(ApplyCompressionOnSave, DisabledLeavesEverything) {
  SaveFixture f;
  f.dict.AddInteger("/Length", 46);
  TksCompression off;
  EXPECT_FALSE(off.Enabled);
  EXPECT_EQ(ApplyCompressionOnSave(off, f.store, f.dict, kContent), kContent);
  EXPECT_EQ(Text(&f.dict), "<<\r\n/Length 46\r\n>>");
}

TEST(ApplyCompressionOnSave, NoFilterGetsTheMethodAndANewLength) {
  SaveFixture f;
  f.dict.AddInteger("/Length", static_cast<int32_t>(kContent.size()));
  std::string out = ApplyCompressionOnSave(f.flate, f.store, f.dict, kContent);
  EXPECT_EQ(out, FlateCompress(kContent, 2));
  EXPECT_EQ(FlateDecode(out), kContent);
  EXPECT_EQ(Text(f.dict.Lookup("/Filter")), "/FlateDecode");
  EXPECT_EQ(Text(f.dict.Lookup("/Length")), std::to_string(out.size()));

  SaveFixture g;
  std::string rle = ApplyCompressionOnSave(g.rle, g.store, g.dict, kContent);
  EXPECT_EQ(RunLengthDecode(rle), kContent);
  EXPECT_EQ(Text(g.dict.Lookup("/Filter")), "/RunLengthDecode");
  EXPECT_EQ(Text(g.dict.Lookup("/Length")), std::to_string(rle.size()));
}

// One row per /Filter value: does compression happen, and what /Filter results.
struct SaveCase {
  const char* label;
  std::vector<const char*> filter;  // empty: no /Filter; one entry: a name; else an array
  bool asArray;
  int method;
  bool compressed;
  const char* resultFilter;
};

class ApplyCompressionCases : public testing::TestWithParam<SaveCase> {};

TEST_P(ApplyCompressionCases, Decides) {
  const SaveCase& c = GetParam();
  SaveFixture f;
  if (c.asArray) {
    auto a = std::make_unique<TksPDFArrayObject>();
    for (const char* n : c.filter) a->Add(Name(n));
    f.dict.AddObject("/Filter", std::move(a));
  } else if (!c.filter.empty()) {
    f.dict.AddName("/Filter", c.filter[0]);
  }
  f.dict.AddInteger("/Length", static_cast<int32_t>(kContent.size()));
  TksCompression settings{true, static_cast<uint8_t>(c.method), 3};
  std::string out = ApplyCompressionOnSave(settings, f.store, f.dict, kContent);
  if (c.compressed) {
    EXPECT_EQ(out, CompressStreamData(settings, kContent));
    EXPECT_EQ(Text(f.dict.Lookup("/Length")), std::to_string(out.size()));
  } else {
    EXPECT_EQ(out, kContent);
    EXPECT_EQ(Text(f.dict.Lookup("/Length")), std::to_string(kContent.size()));
  }
  EXPECT_EQ(Text(f.dict.Lookup("/Filter")), c.resultFilter);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, ApplyCompressionCases,
    testing::Values(
        SaveCase{"FlateKept", {"/FlateDecode"}, false, 0, false, "/FlateDecode"},
        SaveCase{"DctKept", {"/DCTDecode"}, false, 0, false, "/DCTDecode"},
        SaveCase{"Jbig2Kept", {"/JBIG2Decode"}, false, 0, false, "/JBIG2Decode"},
        SaveCase{"CcittKept", {"/CCITTFaxDecode"}, false, 1, false, "/CCITTFaxDecode"},
        SaveCase{"RunLengthKeptUnderRle", {"/RunLengthDecode"}, false, 1, false, "/RunLengthDecode"},
        SaveCase{"A85Wrapped", {"/ASCII85Decode"}, false, 0, true, "[ /FlateDecode /ASCII85Decode ]"},
        SaveCase{"FlateUnderRleWrapped", {"/FlateDecode"}, false, 1, true, "[ /RunLengthDecode /FlateDecode ]"},
        SaveCase{"ArrayWithFlateKept", {"/ASCII85Decode", "/FlateDecode"}, true, 1, false,
                 "[ /ASCII85Decode /FlateDecode ]"},
        SaveCase{"ArrayWithRleKept", {"/RunLengthDecode"}, true, 0, false, "[ /RunLengthDecode ]"},
        SaveCase{"ArrayWithCcittKept", {"/CCITTFaxDecode"}, true, 0, false, "[ /CCITTFaxDecode ]"},
        SaveCase{"ArrayWithDctCompressed", {"/ASCIIHexDecode", "/DCTDecode"}, true, 0, true,
                 "[ /FlateDecode /ASCIIHexDecode /DCTDecode ]"},
        SaveCase{"EmptyArrayCompressed", {}, true, 0, true, "[ /FlateDecode ]"}),
    [](const testing::TestParamInfo<SaveCase>& info) { return std::string(info.param.label); });

TEST(ApplyCompressionOnSave, IndirectFilterValuesAreResolved) {
  SaveFixture f;
  auto ref = f.Stored(20, Name("/ASCIIHexDecode"));
  f.dict.AddObject("/Filter", std::move(ref));
  std::string hex = AsciiHexEncode(kContent);
  std::string out = ApplyCompressionOnSave(f.flate, f.store, f.dict, hex);
  EXPECT_EQ(Text(f.dict.Lookup("/Filter")), "[ /FlateDecode /ASCIIHexDecode ]");
  EXPECT_EQ(FlateDecode(out), hex);

  // An array held elsewhere is copied, not changed; references inside it become names.
  SaveFixture g;
  auto nameRef = g.Stored(31, Name("/ASCII85Decode"));
  auto arr = std::make_unique<TksPDFArrayObject>();
  arr->Add(std::move(nameRef));
  auto arrRef = g.Stored(30, std::move(arr));
  g.dict.AddObject("/Filter", std::move(arrRef));
  ApplyCompressionOnSave(g.flate, g.store, g.dict, kContent);
  EXPECT_EQ(Text(g.dict.Lookup("/Filter")), "[ /FlateDecode /ASCII85Decode ]");
  EXPECT_EQ(Text(g.store.Items(1)->Value.get()), "[ 31 0 R ]");

  // A stored /FlateDecode counts as already compressed.
  SaveFixture h;
  auto flateRef = h.Stored(40, Name("/FlateDecode"));
  h.dict.AddObject("/Filter", std::move(flateRef));
  EXPECT_EQ(ApplyCompressionOnSave(h.flate, h.store, h.dict, kContent), kContent);
}

TEST(ApplyCompressionOnSave, NullOrDanglingFilterCountsAsNone) {
  SaveFixture f;
  f.dict.AddObject("/Filter", std::make_unique<TksPDFNullObject>());
  ApplyCompressionOnSave(f.flate, f.store, f.dict, kContent);
  EXPECT_EQ(Text(f.dict.Lookup("/Filter")), "/FlateDecode");

  SaveFixture g;
  g.dict.AddObject("/Filter", std::make_unique<TksPDFIndirectReference>(1, 99, 0));
  ApplyCompressionOnSave(g.flate, g.store, g.dict, kContent);
  EXPECT_EQ(Text(g.dict.Lookup("/Filter")), "/FlateDecode");
}

TEST(ApplyCompressionOnSave, WrongFilterKindsRaiseTheDocumentError) {
  SaveFixture f;
  f.dict.AddInteger("/Filter", 5);
  EXPECT_THAT([&] { ApplyCompressionOnSave(f.flate, f.store, f.dict, kContent); },
              ThrowsMessage<ksCstPDFDoc::EUnexpectedObjectError>(StrEq("Unexpected filter object, found (5)")));

  SaveFixture g;
  auto a = NameArray({"/ASCII85Decode"});
  a->Add(std::make_unique<TksPDFStringObject>("(Fl)"));
  g.dict.AddObject("/Filter", std::move(a));
  EXPECT_THAT([&] { ApplyCompressionOnSave(g.flate, g.store, g.dict, kContent); },
              ThrowsMessage<ksCstPDFDoc::EUnexpectedObjectError>(StrEq("Unexpected filter object, found ((Fl))")));
}

TEST(ApplyCompressionOnSave, DecodeParmsMoveWithTheirFilters) {
  SaveFixture f;
  f.dict.AddName("/Filter", "/LZWDecode");
  auto parms = std::make_unique<TksPDFDictObject>();
  parms->AddInteger("/Predictor", 2);
  f.dict.AddObject("/DecodeParms", std::move(parms));
  ApplyCompressionOnSave(f.flate, f.store, f.dict, kContent);
  EXPECT_EQ(Text(f.dict.Lookup("/Filter")), "[ /FlateDecode /LZWDecode ]");
  EXPECT_EQ(Text(f.dict.Lookup("/DecodeParms")), "[ null <<\r\n/Predictor 2\r\n>> ]");

  SaveFixture g;
  g.dict.AddObject("/Filter", NameArray({"/ASCII85Decode", "/LZWDecode"}));
  auto list = std::make_unique<TksPDFArrayObject>();
  list->Add(std::make_unique<TksPDFNullObject>());
  auto p = std::make_unique<TksPDFDictObject>();
  p->AddInteger("/EarlyChange", 0);
  list->Add(std::move(p));
  g.dict.AddObject("/DecodeParms", std::move(list));
  ApplyCompressionOnSave(g.flate, g.store, g.dict, kContent);
  EXPECT_EQ(Text(g.dict.Lookup("/DecodeParms")), "[ null null <<\r\n/EarlyChange 0\r\n>> ]");
}

TEST(ApplyCompressionOnSave, DecodeParmsStayAlignedWithTheFilters) {
  struct Case {
    const char* filter;  // null: none
    const char* parms;
    const char* result;  // null: no /DecodeParms
  } cases[] = {
      // Predictor parameters on a stream without a filter belong to none: a reader would
      // apply them to the new Flate data.
      {nullptr, "<< /Predictor 12 /Columns 4 >>", nullptr},
      {nullptr, "[ << /Predictor 12 /Columns 4 >> ]", nullptr},
      {"[ ]", "<< /Predictor 12 >>", nullptr},
      {"/LZWDecode", "<< /Predictor 2 >>", "[ null << /Predictor 2 >> ]"},
      {"/LZWDecode", "[ << /EarlyChange 0 >> << /Predictor 2 >> ]", "[ null << /EarlyChange 0 >> ]"},
      {"[ /ASCII85Decode /LZWDecode ]", "<< /EarlyChange 0 >>", "[ null << /EarlyChange 0 >> null ]"},
      {"[ /ASCII85Decode /LZWDecode ]", "[ null << /EarlyChange 0 >> ]", "[ null null << /EarlyChange 0 >> ]"},
      {"[ /ASCII85Decode /LZWDecode ]", "[ null 7 0 R ]", "[ null null 7 0 R ]"},
      {"[ /ASCII85Decode /LZWDecode ]", "[ 8 0 R ]", nullptr},  // a reference to null is no parameters
      {"[ /ASCII85Decode /LZWDecode ]", "[ null ]", nullptr},
      {"/ASCII85Decode", "null", nullptr},
      {"/ASCII85Decode", "(junk)", nullptr},
  };
  for (const Case& c : cases) {
    SaveFixture f;
    f.store.Add(std::make_unique<TksPDFIndirectObject>(1, 7, 0, ksfixture::ParseValue("<< /EarlyChange 0 >>", 1)));
    f.store.Add(std::make_unique<TksPDFIndirectObject>(1, 8, 0, ksfixture::ParseValue("null", 1)));
    if (c.filter) f.dict.AddObject("/Filter", ksfixture::ParseValue(c.filter, 1));
    f.dict.AddObject("/DecodeParms", ksfixture::ParseValue(c.parms, 1));
    const std::string out = ApplyCompressionOnSave(f.flate, f.store, f.dict, kContent);
    EXPECT_EQ(FlateDecode(out), kContent) << c.parms;
    TksPDFObject* parms = f.dict.Lookup("/DecodeParms");
    if (c.result)
      EXPECT_EQ(ksfixture::OneLineText(parms), c.result) << c.filter << " " << c.parms;
    else
      EXPECT_EQ(parms, nullptr) << (c.filter ? c.filter : "no filter") << " " << c.parms;
  }

  // A stream left as it is keeps its parameters, whatever they are.
  SaveFixture kept;
  kept.dict.AddName("/Filter", "/FlateDecode");
  kept.dict.AddObject("/DecodeParms", ksfixture::ParseValue("[ << /Predictor 12 >> 5 ]", 1));
  ApplyCompressionOnSave(kept.flate, kept.store, kept.dict, kContent);
  EXPECT_EQ(ksfixture::OneLineText(kept.dict.Lookup("/DecodeParms")), "[ << /Predictor 12 >> 5 ]");
}

TEST(ApplyCompressionOnSave, EmptyDataStillBecomesAValidStream) {
  SaveFixture f;
  std::string out = ApplyCompressionOnSave(f.flate, f.store, f.dict, "");
  EXPECT_FALSE(out.empty());
  EXPECT_EQ(FlateDecode(out), "");
  SaveFixture g;
  EXPECT_EQ(ApplyCompressionOnSave(g.rle, g.store, g.dict, ""), "\x80");
}

TEST(CompressStreamData, MethodsAndLevels) {
  EXPECT_EQ(CompressStreamData({true, 0, 0}, kContent), FlateCompress(kContent, 0));
  EXPECT_EQ(CompressStreamData({true, 0, 3}, kContent), FlateCompress(kContent, 3));
  EXPECT_EQ(CompressStreamData({true, 1, 3}, kContent), RunLengthEncode(kContent));
  EXPECT_THAT([&] { CompressStreamData({true, 2, 0}, kContent); },
              ThrowsMessage<EUnsupportedFilterError>(StrEq("Unsupported filter")));
}
