#include "content/ksTrueType.h"

#include <array>

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

void Put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xFF));
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v >> 16));
  Put16(out, static_cast<uint16_t>(v & 0xFFFF));
}
void Set32(std::string& out, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) out[at + k] = static_cast<char>(v >> (24 - 8 * k));
}
void PadTo4(std::string& out) { out.append((4 - out.size() % 4) % 4, '\0'); }

// The sum of big-endian 32-bit words, the last one filled with zeros.
uint32_t Checksum(std::string_view bytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes.size(); i += 4) {
    uint32_t word = 0;
    for (size_t k = 0; k < 4; ++k)
      word = word << 8 | (i + k < bytes.size() ? static_cast<uint8_t>(bytes[i + k]) : 0u);
    sum += word;
  }
  return sum;
}

// The tables a subset keeps, in the order of their tags (the directory must be sorted).
constexpr std::array<std::string_view, 10> kKeptTables = {"cmap", "cvt ", "fpgm", "glyf", "head",
                                                          "hhea", "hmtx", "loca", "maxp", "prep"};
// The font checksum's fixed sum.
constexpr uint32_t kChecksumMagic = 0xB1B0AFBA;
// Offsets of the short "loca" format are halved into 16 bits.
constexpr uint32_t kShortLocaReach = 0x1FFFE;

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

std::vector<uint32_t> TksTrueTypeProgram::GlyphOffsets() const {
  const Reader head{Table("head")}, loca{Table("loca")};
  const bool longFormat = head.I16(50) == 1;
  const uint64_t glyphs = static_cast<uint64_t>(GlyphCount());
  const uint64_t glyfSize = Table("glyf").size();
  std::vector<uint32_t> offsets(glyphs + 1);
  for (uint64_t g = 0; g <= glyphs; ++g) {
    offsets[g] = longFormat ? loca.U32(4 * g) : 2u * loca.U16(2 * g);
    if ((g > 0 && offsets[g] < offsets[g - 1]) || offsets[g] > glyfSize) Damaged("glyph offsets are not in order");
  }
  return offsets;
}

std::optional<std::string> TksTrueTypeProgram::Subset(const std::set<uint16_t>& glyphs) const {
  if (!HasTable("glyf") || !HasTable("loca") || !HasTable("head") || !HasTable("maxp")) Damaged("no outlines");
  const bool longFormat = Reader{Table("head")}.I16(50) == 1;
  const std::vector<uint32_t> offsets = GlyphOffsets();
  const Reader glyf{Table("glyf")};

  std::string newGlyf, newLoca;
  const auto putLoca = [&](size_t at) {
    if (longFormat) Put32(newLoca, static_cast<uint32_t>(at));
    else Put16(newLoca, static_cast<uint16_t>(at / 2));
  };
  for (size_t g = 0; g + 1 < offsets.size(); ++g) {
    putLoca(newGlyf.size());
    const uint32_t length = offsets[g + 1] - offsets[g];
    if (length == 0 || !glyphs.count(static_cast<uint16_t>(g))) continue;
    if (glyf.I16(offsets[g]) < 0) return std::nullopt;  // composite: its parts are not kept
    newGlyf.append(glyf.Part(offsets[g], length));
    PadTo4(newGlyf);
    if (!longFormat && newGlyf.size() > kShortLocaReach) return std::nullopt;
  }
  putLoca(newGlyf.size());

  // The directory lists the kept tables the program has; the search fields follow from
  // their count.
  std::vector<std::string_view> kept;
  for (std::string_view tag : kKeptTables)
    if (HasTable(tag)) kept.push_back(tag);
  const uint16_t count = static_cast<uint16_t>(kept.size());
  uint16_t power = 1, selector = 0;
  while (power * 2u <= count) {
    power = static_cast<uint16_t>(power * 2);
    ++selector;
  }
  std::string out;
  Put32(out, 0x00010000);
  Put16(out, count);
  Put16(out, static_cast<uint16_t>(power * 16));
  Put16(out, selector);
  Put16(out, static_cast<uint16_t>(count * 16 - power * 16));

  // Data: the copied tables in tag order, then the new "glyf" and "loca".
  std::string data;
  std::map<std::string_view, std::pair<uint32_t, uint32_t>> placed;  // tag -> offset, length
  const size_t dataStart = 12 + 16 * kept.size();
  size_t headAt = 0;
  for (std::string_view tag : kept) {
    if (tag == "glyf" || tag == "loca") continue;
    std::string table(Table(tag));
    if (tag == "head") {
      if (table.size() < 12) Damaged("the \"head\" table is too short");
      Set32(table, 8, 0);  // the checksum adjustment, set last
      headAt = dataStart + data.size();
    }
    placed[tag] = {static_cast<uint32_t>(dataStart + data.size()), static_cast<uint32_t>(table.size())};
    data += table;
    PadTo4(data);
  }
  for (const auto& [tag, bytes] : {std::pair<std::string_view, const std::string*>{"glyf", &newGlyf}, {"loca", &newLoca}}) {
    placed[tag] = {static_cast<uint32_t>(dataStart + data.size()), static_cast<uint32_t>(bytes->size())};
    data += *bytes;
    PadTo4(data);
  }
  for (std::string_view tag : kept) {
    const auto [offset, length] = placed[tag];
    out.append(tag);
    const bool rebuilt = tag == "glyf" || tag == "loca";
    const uint32_t sum =
        rebuilt ? Checksum(tag == "glyf" ? newGlyf : newLoca) : tables_.at(std::string(tag)).Checksum;
    Put32(out, sum);
    Put32(out, offset);
    Put32(out, length);
  }
  out += data;
  Set32(out, headAt + 8, kChecksumMagic - Checksum(out));
  return out;
}
