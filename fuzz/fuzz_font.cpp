// The TrueType reader over any bytes: the directory, the character map, the widths and a
// subset of some glyphs, which must read back. Only EFontProgramError may come out.
#include <cstdlib>
#include <set>
#include <string>

#include "base/ksExceptions.h"
#include "content/ksTrueType.h"
#include "ksFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string program(ksfuzz::View(data, size));
  try {
    TksTrueTypeProgram font(program);
    const auto map = font.CharacterMap();
    const auto widths = font.GlyphWidths();
    const int32_t count = font.GlyphCount();
    std::set<uint16_t> glyphs{0};
    for (const auto& [character, glyph] : map) {
      if (glyph >= count && count > 0) std::abort();  // the map names only glyphs that exist
      glyphs.insert(glyph);
      if (glyphs.size() > 8) break;
    }
    (void)widths;
    if (auto subset = font.Subset(glyphs)) {
      // What we embed must read back with the same map.
      TksTrueTypeProgram again(*subset);
      if (again.CharacterMap() != map) std::abort();
    }
  } catch (const EFontProgramError&) {
  }
  return 0;
}
