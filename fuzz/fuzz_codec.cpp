// Every codec. The first byte picks the codec, the rest is its input; decoders run
// under a small output cap. Encoders must give back what their decoder reads exactly.
#include <cstdlib>
#include <string>

#include "document/ksCstPDFDoc.h"
#include "base/ksExceptions.h"
#include "codec/ksFilters.h"
#include "ksFuzz.h"
#include "objects/ksPDFObjects.h"
#include "codec/ksFilterChain.h"

namespace {

constexpr uint64_t kCap = uint64_t{1} << 22;

template <class Encode, class Decode>
void RoundTrip(std::string_view in, Encode encode, Decode decode) {
  if (in.size() > kCap / 4) return;
  if (decode(encode(in)) != in) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ksfuzz::LimitDecoding();
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  std::string_view in = ksfuzz::View(data + 1, size - 1);
  try {
    switch (selector % 10) {
      case 0: (void)FlateDecode(in, kCap); break;
      case 1: (void)LZWDecode(in, kCap); break;
      case 2: (void)RunLengthDecode(in, kCap); break;
      case 3: (void)AsciiHexDecode(in, kCap); break;
      case 4: (void)Ascii85Decode(in, kCap); break;
      case 5: {
        // PNG predictor of cross-reference streams: the next byte gives the columns.
        if (in.empty()) break;
        const int32_t columns = static_cast<int32_t>(static_cast<uint8_t>(in[0])) - 8;
        TksMemoryStream stream(in.substr(1));
        auto out = TksCustomPDFDocument::UndoPNGPrediction(stream, columns);
        if (out->size() > in.size()) std::abort();
        break;
      }
      case 6: {
        // A chain as a stream's /Filter names it: each further byte picks one filter.
        if (in.size() < 2) break;
        static const char* const names[] = {"/FlateDecode", "/LZWDecode", "/RunLengthDecode", "/ASCIIHexDecode",
                                            "/ASCII85Decode", "/Fl", "/AHx", "/A85", "/RL", "/LZW", "/DCTDecode"};
        auto chain = std::make_unique<TksPDFArrayObject>();
        const size_t length = 1 + static_cast<uint8_t>(in[0]) % 3;
        for (size_t i = 1; i <= length && i < in.size(); ++i)
          chain->Add(std::make_unique<TksPDFNameObject>(names[static_cast<uint8_t>(in[i]) % 11]));
        TksMemoryStream stream(in.substr(std::min(in.size(), length + 1)));
        (void)DecodeFilterChain(stream, chain.get());
        break;
      }
      case 7:
        RoundTrip(in, [](std::string_view s) { return FlateCompress(s, 1); },
                  [](std::string_view s) { return FlateDecode(s, kCap); });
        break;
      case 8:
        RoundTrip(in, RunLengthEncode, [](std::string_view s) { return RunLengthDecode(s, kCap); });
        break;
      case 9:
        RoundTrip(in, AsciiHexEncode, [](std::string_view s) { return AsciiHexDecode(s, kCap); });
        RoundTrip(in, Ascii85Encode, [](std::string_view s) { return Ascii85Decode(s, kCap); });
        break;
    }
  } catch (const Exception&) {
  }
  return 0;
}
