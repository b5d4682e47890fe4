// Tokenizer and object parser over a contiguous view of PDF bytes.
#pragma once
#include <cstdint>

class TksPDFStreamReader {
 public:
  virtual ~TksPDFStreamReader() = default;
};
