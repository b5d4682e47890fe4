// Where PDF filter names become codec calls: the /Filter dispatch, the decoding
// chain and the re-filtering of stream data on save.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/ksFilters.h"
#include "objects/ksPDFObjects.h"

class TksPDFObjectStore;

enum TksDecodeFilter : uint8_t {
  ftASCIIHexDecode = 0,
  ftASCII85Decode,
  ftFlateDecode,
  ftRunLengthDecode,
  ftLZWDecode,
  ftCCITTFaxDecode,  // passed through, never decoded
  ftDCTDecode,       // passed through, never decoded
};

// In the order the filters are to be undone (the order of the /Filter array).
using TksDecodeFilters = std::vector<TksDecodeFilter>;

// Names written by the engine: the compression methods (0..1), the ASCII
// encodings (2..3), then the simple-font encodings (4..8).
inline constexpr std::array<const char*, 9> OutputFilterNames = {
    "/FlateDecode",     "/RunLengthDecode",   "/ASCIIHexDecode",   "/ASCII85Decode",   "/WinAnsiEncoding",
    "/MacRomanEncoding", "/MacExpertEncoding", "/StandardEncoding", "/PDFDocEncoding"};

// Index of the first of table[0..highIndex] equal to name (case-sensitive), or -1.
int FindFilterName(std::span<const char* const> table, int highIndex, std::string_view name);

// Document settings of the save-time compression.
struct TksCompression {
  bool Enabled = false;
  uint8_t Method = 0;  // 0 Flate, 1 RunLength
  uint8_t Level = 2;   // 0 none, 1 fastest, 2 default, 3 maximum
};

// Kept for the settings' sake; no ASCII encoding is applied on save.
struct TksASCIIEncode {
  bool Enabled = false;
  uint8_t Method = 0;  // 0 ASCIIHex, 1 ASCII85
};

// Name as written, leading "/" included; unknown names raise EUnsupportedFilterError.
TksDecodeFilter FilterTypeFromName(std::string_view name);

// A name gives one filter, an array one per entry. Absent or null gives none.
// The caller resolves an indirect /Filter value first.
void GetDecodeFilters(const TksPDFObject* filterValue, TksDecodeFilters& filters);
TksDecodeFilters GetDecodeFilters(const TksPDFObject* filterValue);

inline bool IsPassThroughFilter(TksDecodeFilter f) { return f == ftCCITTFaxDecode || f == ftDCTDecode; }

// A new codec object for a decodable filter (0..4); others raise EUnsupportedFilterError.
std::unique_ptr<TksFilter> NewDecodeFilter(TksDecodeFilter filter);

// Cuts trailing CR/LF off stream (shrinking it) and decodes it into a new stream.
// Pass-through filters give a copy of the (trimmed) stream.
std::unique_ptr<TksMemoryStream> DecodeStreamWithFilter(TksDecodeFilter filter, TksMemoryStream& stream);
// The same for bytes; CCITT fax data is refused here.
std::string DecodeStringWithFilter(TksDecodeFilter filter, std::string_view data);

// How one decode through a chain of filters is bounded and sized.
struct TksDecodeRequest {
  // The most the decoded data may reach. While a later filter of the chain runs, the
  // bytes it reads (an earlier filter's output) count against it too, so the memory a
  // decode holds stays within it.
  uint64_t Limit = ksDecodeLimit();
  // The decoded length the stream declares (/DL), reserved at once; 0 when it gives none.
  uint64_t Declared = 0;
  // Out: the bytes the filters produced, also when one of them failed.
  uint64_t Produced = 0;
};

// Undoes the filters in list order on data, skipping pass-through entries; no copy is
// made between filters. Each filter's input loses its trailing CR and LF bytes, and
// ASCIIHex input may lack its ">". A list without a decodable filter gives a copy of
// data. Past request.Limit: EDecodedSizeError naming that limit.
TksDecodeBuffer DecodeChain(std::string_view data, const TksDecodeFilters& filters, TksDecodeRequest& request);

// Undoes every filter of filterValue on the whole of source; the result is new and
// positioned at 0. /DecodeParms is not applied.
std::unique_ptr<TksMemoryStream> DecodeFilterChain(TksMemoryStream& source, const TksPDFObject* filterValue);

// Compresses data with the configured method and level.
std::string CompressStreamData(const TksCompression& settings, std::string_view data);

// Re-filters stream data on save: when compression is on and the stream is not
// already compressed, returns the compressed bytes and puts the method's name in
// front of dict's /Filter, setting /Length. /DecodeParms becomes an array aligned with
// the new /Filter (a null for the new filter, then each old filter's own parameters),
// or goes when no filter has any. Otherwise data and dict stay as they are. dict is the
// writer's clone; /Filter and /DecodeParms are resolved through store.
// compressed: data already compressed with CompressStreamData (by a worker thread), used
// in place of compressing them here.
std::string ApplyCompressionOnSave(const TksCompression& settings, const TksPDFObjectStore& store,
                                   TksPDFDictObject& dict, std::string data, std::string* compressed = nullptr);
// Whether ApplyCompressionOnSave compresses the data of a stream with this dictionary
// (raising what it raises for a filter entry that is not a name).
bool CompressesOnSave(const TksCompression& settings, const TksPDFObjectStore& store, const TksPDFDictObject& dict);
