// Object-stream expansion. The input's first line holds the object stream's dictionary
// entries (/N, /First, perhaps /Filter), the rest its data; around them stands a fixed
// file whose cross-reference stream places objects 3 to 20 in that object stream, so
// every input reaches the expansion rather than stopping at the file structure.
#include <cstdio>

#include "document/ksCstPDFDoc.h"
#include "base/ksExceptions.h"
#include "ksFuzz.h"
#include "parse/ksPDFParsers.h"

namespace {

constexpr int kLastNumber = 20;

void Row(std::string& out, int type, uint32_t field2, uint16_t field3) {
  out += static_cast<char>(type);
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((field2 >> shift) & 0xFF);
  out += static_cast<char>(field3 >> 8);
  out += static_cast<char>(field3 & 0xFF);
}

std::string Wrap(std::string_view input) {
  const size_t eol = input.find('\n');
  const std::string_view entries = eol == std::string_view::npos ? std::string_view() : input.substr(0, eol);
  const std::string_view body = eol == std::string_view::npos ? input : input.substr(eol + 1);

  std::string file = "%PDF-1.5\n";
  const size_t objStmOffset = file.size();
  file += "1 0 obj\n<< /Type /ObjStm ";
  file += entries;
  file += " /Length " + std::to_string(body.size()) + " >>\nstream\n";
  file += body;
  file += "\nendstream\nendobj\n";
  const size_t xrefOffset = file.size();
  std::string rows;
  Row(rows, 0, 0, 65535);
  Row(rows, 1, static_cast<uint32_t>(objStmOffset), 0);
  Row(rows, 1, static_cast<uint32_t>(xrefOffset), 0);
  for (int n = 3; n <= kLastNumber; ++n) Row(rows, 2, 1, static_cast<uint16_t>(n - 3));
  file += "2 0 obj\n<< /Type /XRef /W [1 4 2] /Size " + std::to_string(kLastNumber + 1) +
          " /Root 3 0 R /Length " + std::to_string(rows.size()) + " >>\nstream\n";
  file += rows;
  file += "\nendstream\nendobj\nstartxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ksfuzz::LimitDecoding();
  const std::string file = Wrap(ksfuzz::View(data, size));
  TksCustomPDFDocument doc;
  doc.OpenReader(reinterpret_cast<const uint8_t*>(file.data()), file.size());
  try {
    doc.ReadCrossReference();
    // The walk follows what the expanded objects refer to.
    doc.ReadStructure();
  } catch (const Exception&) {
  }
  doc.CloseReader();
  return 0;
}
