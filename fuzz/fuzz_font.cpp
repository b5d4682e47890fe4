// The TrueType reader over any bytes: the directory, the character map, the widths and a
// subset of some glyphs, which must read back. Only EFontProgramError may come out of the
// reader; the subsetter refuses what it cannot cut.
#include <cstdlib>
#include <string>
#include <vector>

#include "base/ksExceptions.h"
#include "content/ksTrueType.h"
#include "ksFonts.h"
#include "ksFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string program(ksfuzz::View(data, size));
  try {
    TksTrueTypeProgram font(program);
    const auto map = font.CharacterMap();
    const auto widths = font.GlyphWidths();
    const int32_t count = font.GlyphCount();
    std::vector<char32_t> characters;
    for (const auto& [character, glyph] : map) {
      if (glyph >= count && count > 0) std::abort();  // the map names only glyphs that exist
      characters.push_back(character);
      if (characters.size() > 8) break;
    }
    (void)widths;
    if (auto subset = ksplatform::SubsetFontProgram(program, characters, {0}, false)) {
      // What we embed must read back.
      try {
        TksTrueTypeProgram again(subset->Program);
        (void)again.CharacterMap();
      } catch (const EFontProgramError&) {
        std::abort();
      }
    }
  } catch (const EFontProgramError&) {
  }
  return 0;
}
