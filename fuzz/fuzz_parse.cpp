// The tokenizer and ParseObject over arbitrary bytes: every value in turn, the stream
// data behind each indirect stream object, then the header, "startxref" and trailer
// readers over the same bytes. Serialising each value checks the object model too.
#include <cstdlib>

#include "base/ksExceptions.h"
#include "ksFuzz.h"
#include "parse/ksPDFParsers.h"
#include "codec/ksFilterChain.h"

namespace {

void ReadValues(TksPDFStreamReader& reader) {
  uint64_t last = UINT64_MAX;
  while (!reader.AtEnd() && reader.Position() != last) {
    last = reader.Position();
    TksPDFObjectPtr value;
    try {
      value = reader.ParseObject();
    } catch (const Exception&) {
      continue;  // no progress check needed: a failed read moved on or the loop ends
    }
    if (!value) {
      reader.ReadByte();  // a closing delimiter with nothing open
      continue;
    }
    (void)ObjectToText(value.get());
    if (auto* indirect = AsIndirect(value.get())) {
      if (auto* stream = AsStream(indirect->Value.get())) {
        int64_t length = -1;
        if (auto* l = stream->Dict->Lookup("/Length"); l && l->ObjectType == otInteger)
          length = static_cast<TksPDFIntegerObject*>(l)->Value;
        try {
          auto data = reader.ReadStreamData(length, indirect->ObjectNumber, indirect->Generation);
          if (data->size() > reader.Size()) std::abort();
        } catch (const Exception&) {
        }
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ksfuzz::LimitDecoding();
  TksPDFStreamReader reader(data, size, 1);
  ReadValues(reader);
  try {
    reader.ReadHeader();
  } catch (const Exception&) {
  }
  try {
    reader.Seek(0);
    const int64_t at = reader.FindStartXRef();
    reader.Seek(at < 0 ? 0 : static_cast<uint64_t>(at));
    reader.ReadTrailer();
  } catch (const Exception&) {
  }
  return 0;
}
