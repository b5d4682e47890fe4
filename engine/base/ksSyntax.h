// Byte-level rules of the file format that several parts of the engine apply: white
// space, the text-string byte-order marks and the framing of stream data.
#pragma once
#include <cstdint>
#include <string_view>

// White space as the file format defines it: NUL, TAB, LF, FF, CR and SPACE. Read so
// wherever text of the format is taken apart outside the object parser (appearance
// strings of form fields).
constexpr bool ksIsWhiteSpace(uint8_t c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }
// The object parser's white space: the same without form feed, which the tokenizer reads
// as a regular byte (deliberately: the parser's token rules are fixed that way).
constexpr bool ksIsParserWhiteSpace(uint8_t c) { return c != 12 && ksIsWhiteSpace(c); }
// The delimiters of the format: they end any token before them, and "%" starts a comment
// wherever it stands outside a string, so "/Type /Page%note" is the name "/Page".
constexpr bool ksIsDelimiter(uint8_t c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' ||
         c == '%';
}
// What the ASCII codecs skip between digits: SPACE, LF, CR and TAB only.
constexpr bool ksIsCodecBlank(uint8_t c) { return c == 32 || c == 10 || c == 13 || c == 9; }

// Byte-order marks of text strings: UTF-16BE, and UTF-8 (which later versions allow).
inline constexpr std::string_view kUTF16BEMark = "\xFE\xFF";
inline constexpr std::string_view kUTF8Mark = "\xEF\xBB\xBF";
constexpr bool ksStartsWithMark(std::string_view bytes, std::string_view mark) {
  return bytes.substr(0, mark.size()) == mark;
}

// What surrounds stream data in a written object: after the dictionary, and after the data.
inline constexpr std::string_view kStreamDataOpen = "\r\nstream\r\n";
inline constexpr std::string_view kStreamDataClose = "\r\nendstream";
