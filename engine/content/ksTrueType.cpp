#include "content/ksTrueType.h"

#include <algorithm>

#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"

namespace {

[[noreturn]] void Damaged(const char* what) { throw EFontProgramError(ksFormat(ksres::SFontProgramDamaged, what)); }

// Big-endian reads within one table (or the whole program), each checked against its end.
struct Reader {
  std::string_view bytes;
  uint8_t U8(uint64_t at) const {
    if (at >= bytes.size()) Damaged("a field lies outside its table");
    return static_cast<uint8_t>(bytes[at]);
  }
  uint16_t U16(uint64_t at) const { return static_cast<uint16_t>(U8(at) << 8 | U8(at + 1)); }
  int16_t I16(uint64_t at) const { return static_cast<int16_t>(U16(at)); }
  uint32_t U32(uint64_t at) const { return static_cast<uint32_t>(U16(at)) << 16 | U16(at + 2); }
  // The bytes from at on, length long, checked.
  std::string_view Part(uint64_t at, uint64_t length) const {
    if (at > bytes.size() || length > bytes.size() - at) Damaged("a part lies outside its table");
    return bytes.substr(at, length);
  }
};

}  // namespace

TksTrueTypeProgram::TksTrueTypeProgram(std::string_view program) : program_(program) {
  const Reader r{program};
  if (program.size() < 12) Damaged("too short for a table directory");
  const uint16_t count = r.U16(4);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = 12 + 16ull * i;
    const std::string tag(r.Part(at, 4));
    const Record rec{r.U32(at + 8), r.U32(at + 12), r.U32(at + 4)};
    if (rec.Offset > program.size() || rec.Length > program.size() - rec.Offset)
      Damaged("a table lies outside the program");
    tables_.emplace(tag, rec);
  }
}

std::string_view TksTrueTypeProgram::Table(std::string_view tag) const {
  const auto found = tables_.find(std::string(tag));
  if (found == tables_.end()) return {};
  return program_.substr(found->second.Offset, found->second.Length);
}

std::map<char32_t, uint16_t> TksTrueTypeProgram::CharacterMap() const {
  std::map<char32_t, uint16_t> map;
  const Reader cmap{Table("cmap")};
  if (cmap.bytes.empty()) return map;
  // A glyph number past the program's glyphs names no glyph: such characters have none.
  const uint32_t glyphCount = HasTable("maxp") ? static_cast<uint32_t>(GlyphCount()) : 0x10000;
  const uint16_t subtables = cmap.U16(2);
  uint64_t unicode = 0, full = 0;  // offsets of the (3,1) and (3,10) subtables
  for (uint32_t i = 0; i < subtables; ++i) {
    const uint64_t at = 4 + 8ull * i;
    const uint16_t platform = cmap.U16(at), encoding = cmap.U16(at + 2);
    const uint32_t offset = cmap.U32(at + 4);
    if (platform != 3) continue;
    if (encoding == 1 && cmap.U16(offset) == 4) unicode = offset;
    if (encoding == 10 && cmap.U16(offset) == 12) full = offset;
  }
  if (full) {
    const Reader sub{cmap.Part(full, cmap.U32(full + 4))};
    const uint32_t groups = sub.U32(12);
    if (groups > (sub.bytes.size() - 16) / 12) Damaged("character map groups outrun the subtable");
    int64_t previousEnd = -1;
    for (uint32_t g = 0; g < groups; ++g) {
      const uint64_t at = 16 + 12ull * g;
      const uint32_t start = sub.U32(at), end = sub.U32(at + 4), glyph = sub.U32(at + 8);
      // Groups are sorted and apart: this keeps the walk within the code space.
      if (start > end || end > 0x10FFFF || static_cast<int64_t>(start) <= previousEnd)
        Damaged("character map groups overlap or are out of order");
      previousEnd = end;
      for (uint32_t c = start; c <= end; ++c) {
        const uint64_t id = static_cast<uint64_t>(glyph) + (c - start);
        if (id != 0 && id < glyphCount) map.emplace(c, static_cast<uint16_t>(id));
      }
    }
    return map;
  }
  if (!unicode) return map;
  const Reader sub{cmap.Part(unicode, cmap.U16(unicode + 2))};
  const uint16_t segments = sub.U16(6) / 2;
  const uint64_t ends = 14, starts = ends + 2ull * segments + 2, deltas = starts + 2ull * segments,
                 ranges = deltas + 2ull * segments;
  if (ranges + 2ull * segments > sub.bytes.size()) Damaged("character map segments outrun the subtable");
  int32_t previousEnd = -1;
  for (uint32_t s = 0; s < segments; ++s) {
    const uint16_t end = sub.U16(ends + 2 * s), start = sub.U16(starts + 2 * s);
    const uint16_t delta = sub.U16(deltas + 2 * s), rangeOffset = sub.U16(ranges + 2 * s);
    if (static_cast<int32_t>(end) <= previousEnd) Damaged("character map segments are out of order");
    previousEnd = end;
    for (uint32_t c = start; c <= end && c != 0xFFFF; ++c) {
      uint32_t glyph;
      if (rangeOffset == 0) {
        glyph = (c + delta) & 0xFFFF;
      } else {
        // The entry rangeOffset bytes past this segment's own range offset.
        const uint64_t at = ranges + 2ull * s + rangeOffset + 2ull * (c - start);
        const uint16_t entry = sub.U16(at);
        if (entry == 0) continue;  // no glyph; the delta does not apply to it
        glyph = (entry + delta) & 0xFFFF;
      }
      if (glyph != 0 && glyph < glyphCount) map.emplace(c, static_cast<uint16_t>(glyph));
    }
  }
  return map;
}

int32_t TksTrueTypeProgram::GlyphCount() const {
  const Reader maxp{Table("maxp")};
  if (maxp.bytes.empty()) Damaged("no \"maxp\" table");
  return maxp.U16(4);
}

std::vector<int32_t> TksTrueTypeProgram::GlyphWidths() const {
  const Reader head{Table("head")}, hhea{Table("hhea")}, hmtx{Table("hmtx")};
  const uint16_t unitsPerEm = head.U16(18);
  if (unitsPerEm == 0) Damaged("units per em are 0");
  const uint16_t metrics = hhea.U16(34);
  const int32_t glyphs = GlyphCount();
  if (glyphs > 0 && metrics == 0) Damaged("no horizontal metrics");
  std::vector<int32_t> widths(static_cast<size_t>(glyphs));
  for (int32_t g = 0; g < glyphs; ++g) {
    // Glyphs past the last metric share its advance.
    const uint32_t m = std::min<uint32_t>(static_cast<uint32_t>(g), metrics - 1u);
    widths[static_cast<size_t>(g)] = static_cast<int32_t>(hmtx.U16(4ull * m) * 1000u / unitsPerEm);
  }
  return widths;
}

bool TksTrueTypeProgram::CidKeyedOutlines() const {
  const Reader cff{Table("CFF ")};
  if (cff.bytes.empty()) return false;
  // The header, then the name index; the top dictionary is the first of the next index.
  const auto indexEnd = [&](uint64_t at, uint64_t* firstStart, uint64_t* firstEnd) {
    const uint16_t count = cff.U16(at);
    if (count == 0) return at + 2;
    const uint8_t size = cff.U8(at + 2);
    if (size < 1 || size > 4) Damaged("a CFF index has an offset size out of range");
    const auto offset = [&](uint32_t i) {
      uint64_t v = 0;
      for (uint8_t k = 0; k < size; ++k) v = v << 8 | cff.U8(at + 3 + uint64_t(i) * size + k);
      return v;
    };
    const uint64_t data = at + 3 + (uint64_t(count) + 1) * size - 1;  // offsets count from 1
    if (firstStart) *firstStart = data + offset(0), *firstEnd = data + offset(1);
    return data + offset(count);
  };
  uint64_t start = 0, end = 0;
  indexEnd(indexEnd(cff.U8(2), nullptr, nullptr), &start, &end);
  if (end < start) Damaged("a CFF index's offsets are out of order");
  const Reader dict{cff.Part(start, end - start)};
  // Operands are skipped by their first byte; the registry-ordering operator (12 30)
  // marks a CID-keyed font.
  for (uint64_t i = 0; i < dict.bytes.size();) {
    const uint8_t b = dict.U8(i);
    if (b == 12) {
      if (dict.U8(i + 1) == 30) return true;
      i += 2;
    } else if (b <= 21) {
      i += 1;
    } else if (b == 28) {
      i += 3;
    } else if (b == 29) {
      i += 5;
    } else if (b == 30) {
      while ((dict.U8(++i) & 0x0F) != 0x0F && (dict.U8(i) >> 4) != 0x0F) {}
      ++i;
    } else if (b >= 247 && b <= 254) {
      i += 2;
    } else {
      i += 1;
    }
  }
  return false;
}
