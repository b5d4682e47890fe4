#include "ksFuzz.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ksfuzz {

std::string TempPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  std::filesystem::path base = dir && *dir ? dir : "/tmp";
  return (base / ("pw-fuzz-" + std::to_string(getpid()) + "-" + name)).string();
}

void WriteWhole(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

}  // namespace ksfuzz
