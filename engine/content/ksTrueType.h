// Reading an OpenType font program (TrueType or CFF outlines) for embedding: its tables,
// its character map and the advance of each glyph (subsets are cut by
// ksplatform::SubsetFontProgram). Every offset,
// length and count is checked against the program's size: a program that breaks a rule
// raises EFontProgramError and is then not embedded, never read past its end.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class TksTrueTypeProgram {
 public:
  // The bytes are kept, not copied: they must outlive this reader.
  explicit TksTrueTypeProgram(std::string_view program);

  // A table's bytes; empty when the program has no table of that tag.
  std::string_view Table(std::string_view tag) const;
  bool HasTable(std::string_view tag) const { return tables_.count(std::string(tag)) != 0; }

  // Character -> glyph from the Unicode character map: the (3,10) format-12 subtable when
  // there is one (characters beyond the Basic Multilingual Plane), else the (3,1) format-4
  // one; characters that map to glyph 0 (no glyph) are left out. Empty when the program
  // has neither subtable.
  std::map<char32_t, uint16_t> CharacterMap() const;

  // The advance of every glyph in 1/1000 em (whole-number division); glyphs numbered from
  // the count of horizontal metrics on share the last advance.
  std::vector<int32_t> GlyphWidths() const;

  int32_t GlyphCount() const;

  // The "CFF " table's font is CID-keyed (its glyphs are found by CID through its charset,
  // not by glyph number). False for TrueType outlines.
  bool CidKeyedOutlines() const;

 private:
  struct Record {
    uint32_t Offset;
    uint32_t Length;
    uint32_t Checksum;
  };
  std::string_view program_;
  std::map<std::string, Record> tables_;
};
