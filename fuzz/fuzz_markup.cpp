// The formatted-text walk over any text: it ends, hands on only non-empty runs, and
// raises nothing but the size refusal.
#include <cstdlib>
#include <string>

#include "base/ksExceptions.h"
#include "content/ksFormattedText.h"
#include "ksFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  if (size % 2) text += static_cast<char16_t>(data[size - 1]);
  size_t drawn = 0;
  try {
    WalkFormattedText(text, [&](const TksFont& font, const std::u16string& run) {
      if (run.empty() || font.Size < 1) std::abort();
      drawn += run.size();
    });
  } catch (const EInvalidValueError&) {
  }
  if (drawn > text.size()) std::abort();  // runs hold text of the input, once
  return 0;
}
