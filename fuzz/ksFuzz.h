// Shared by the fuzz targets. Each target defines LLVMFuzzerTestOneInput; libFuzzer's
// own main calls it in the fuzzing build, replay_main.cpp calls it in the others.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec/ksFilters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace ksfuzz {

// Decoded data stop well below what libFuzzer's memory limit would call a leak or an
// out-of-memory, so a small compressed bomb is reported as the engine's own error.
inline constexpr uint64_t kDecodeCap = uint64_t{1} << 24;

inline void LimitDecoding() {
  static const bool once = (ksSetDecodeLimit(kDecodeCap), true);
  (void)once;
}

inline std::string_view View(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A file of this process under the temporary folder (several fuzzing jobs may share it).
std::string TempPath(const char* name);
void WriteWhole(const std::string& path, std::string_view bytes);

}  // namespace ksfuzz
