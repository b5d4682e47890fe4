#include "ksFixture.h"

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ksfixture {

PdfBuilder& PdfBuilder::Object(int number, const std::string& body, int generation) {
  objects_.push_back({number, generation,
                      std::to_string(number) + " " + std::to_string(generation) + " obj\n" + body + "\nendobj\n"});
  return *this;
}

PdfBuilder& PdfBuilder::Stream(int number, const std::string& dictEntries, const std::string& data, int generation) {
  std::string body = "<< " + dictEntries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
                     "\nendstream";
  return Object(number, body, generation);
}

PdfBuilder& PdfBuilder::Raw(const std::string& bytes) {
  objects_.push_back({-1, 0, bytes});
  return *this;
}

std::string PdfBuilder::Body() const {
  std::string out = header_ + "\n%\xE2\xE3\xCF\xD3\n";
  for (const auto& o : objects_) out += o.text;
  return out;
}

std::map<int, size_t> PdfBuilder::Offsets() const {
  std::map<int, size_t> offsets;
  size_t pos = header_.size() + 1 + 6;
  for (const auto& o : objects_) {
    if (o.number >= 0) offsets[o.number] = pos;
    pos += o.text.size();
  }
  return offsets;
}

std::string PdfBuilder::Build(const std::string& trailerEntries) const {
  std::string out = Body();
  auto offsets = Offsets();
  int size = offsets.empty() ? 1 : offsets.rbegin()->first + 1;
  size_t xref = out.size();
  out += "xref\n0 " + std::to_string(size) + "\n";
  char line[32];
  for (int n = 0; n < size; ++n) {
    auto it = offsets.find(n);
    if (it == offsets.end())
      std::snprintf(line, sizeof line, "%010d %05d f\r\n", 0, n == 0 ? 65535 : 0);
    else {
      int gen = 0;
      for (const auto& o : objects_) if (o.number == n) gen = o.generation;
      std::snprintf(line, sizeof line, "%010zu %05d n\r\n", it->second, gen);
    }
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(size) + " " + trailerEntries + " >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::string PdfBuilder::BuildWithXRefStream(int xrefNumber, const std::string& trailerEntries) const {
  std::string out = Body();
  auto offsets = Offsets();
  size_t xref = out.size();
  offsets[xrefNumber] = xref;
  int size = offsets.rbegin()->first + 1;
  std::string data;
  for (int n = 0; n < size; ++n) {
    auto it = offsets.find(n);
    unsigned type = it == offsets.end() ? 0 : 1;
    unsigned long off = it == offsets.end() ? 0 : it->second;
    data.push_back(static_cast<char>(type));
    for (int s = 24; s >= 0; s -= 8) data.push_back(static_cast<char>((off >> s) & 0xFF));
    data.push_back(0);
    data.push_back(n == 0 && type == 0 ? static_cast<char>(0xFF) : 0);
  }
  out += std::to_string(xrefNumber) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(size) +
         " /W [1 4 2] /Length " + std::to_string(data.size()) + " " + trailerEntries + " >>\nstream\n" + data +
         "\nendstream\nendobj\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

ObjStm MakeObjStm(const std::vector<std::pair<int, std::string>>& objects) {
  std::string head, body;
  for (const auto& [num, text] : objects) {
    head += std::to_string(num) + " " + std::to_string(body.size()) + " ";
    body += text + "\n";
  }
  head += "\n";
  ObjStm r;
  r.dictEntries = "/Type /ObjStm /N " + std::to_string(objects.size()) + " /First " + std::to_string(head.size());
  r.data = head + body;
  return r;
}

std::string Deflate(const std::string& bytes) {
  uLongf len = compressBound(bytes.size());
  std::string out(len, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &len, reinterpret_cast<const Bytef*>(bytes.data()),
                bytes.size(), Z_DEFAULT_COMPRESSION) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(len);
  return out;
}

std::string WriteTempFile(const std::string& name, const std::string& bytes) {
  auto dir = std::filesystem::temp_directory_path() / "pagewright-tests";
  std::filesystem::create_directories(dir);
  auto path = dir / name;
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace ksfixture
