#include "ksFixture.h"

#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
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

PdfBuilder& PdfBuilder::Free(int number, int generation) {
  freed_[number] = generation;
  return *this;
}

PdfBuilder& PdfBuilder::Raw(const std::string& bytes) {
  objects_.push_back({-1, 0, bytes});
  return *this;
}

PdfBuilder PdfBuilder::Appending(std::string base) {
  PdfBuilder b;
  b.base_ = std::move(base);
  b.appending_ = true;
  return b;
}

std::string PdfBuilder::Body() const {
  std::string out = appending_ ? base_ : header_ + "\n%\xE2\xE3\xCF\xD3\n";
  for (const auto& o : objects_) out += o.text;
  return out;
}

std::map<int, size_t> PdfBuilder::Offsets() const {
  std::map<int, size_t> offsets;
  size_t pos = appending_ ? base_.size() : header_.size() + 1 + 6;
  for (const auto& o : objects_) {
    if (o.number >= 0) offsets[o.number] = pos;
    pos += o.text.size();
  }
  return offsets;
}

std::string PdfBuilder::Build(const std::string& trailerEntries) const {
  std::string out = Body();
  auto offsets = Offsets();
  if (appending_) {
    // One subsection per run of consecutive numbers, in-use and free entries alike.
    std::map<int, std::string> lines;
    char line[32];
    for (const auto& [number, offset] : offsets) {
      int gen = 0;
      for (const auto& o : objects_) if (o.number == number) gen = o.generation;
      std::snprintf(line, sizeof line, "%010zu %05d n\r\n", offset, gen);
      lines[number] = line;
    }
    for (const auto& [number, gen] : freed_) {
      std::snprintf(line, sizeof line, "%010d %05d f\r\n", 0, gen);
      lines[number] = line;
    }
    size_t xref = out.size();
    out += "xref\n";
    int size = lines.empty() ? 0 : lines.rbegin()->first + 1;
    for (auto it = lines.begin(); it != lines.end();) {
      auto end = it;
      int count = 0;
      while (end != lines.end() && end->first == it->first + count) ++end, ++count;
      out += std::to_string(it->first) + " " + std::to_string(count) + "\n";
      for (; it != end; ++it) out += it->second;
    }
    out += "trailer\n<< /Size " + std::to_string(size) + " " + trailerEntries + " >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
  }
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

std::string PdfBuilder::Finish(int number) const {
  auto offsets = Offsets();
  return Body() + "startxref\n" + std::to_string(offsets.at(number)) + "\n%%EOF\n";
}

std::string XRefStreamRows(const std::vector<std::array<uint64_t, 3>>& rows, std::array<int, 3> widths) {
  std::string out;
  for (const auto& row : rows)
    for (int f = 0; f < 3; ++f)
      for (int b = widths[f] - 1; b >= 0; --b) out.push_back(static_cast<char>((row[f] >> (8 * b)) & 0xFF));
  return out;
}

std::string PngPredict(const std::string& data, int columns, int tag) {
  std::string out;
  std::vector<int> prior(columns, 0);
  for (size_t start = 0; start < data.size(); start += columns) {
    out.push_back(static_cast<char>(tag));
    std::vector<int> row(columns, 0);
    for (int c = 0; c < columns && start + c < data.size(); ++c) {
      int x = static_cast<unsigned char>(data[start + c]);
      row[c] = x;
      int left = c ? row[c - 1] : 0, up = prior[c], ul = c ? prior[c - 1] : 0;
      int pred = 0;
      if (tag == 1) pred = left;
      if (tag == 2) pred = up;
      if (tag == 3) pred = (left + up) / 2;
      if (tag == 4) {
        int p = left + up - ul, pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - ul);
        pred = pa <= pb && pa <= pc ? left : (pb <= pc ? up : ul);
      }
      out.push_back(static_cast<char>((x - pred) & 0xFF));
    }
    prior = row;
  }
  return out;
}

std::string LzwLiteral(const std::string& bytes) {
  std::vector<int> codes{256};
  for (unsigned char c : bytes) codes.push_back(c);
  codes.push_back(257);
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (int code : codes) {
    acc = (acc << 9) | static_cast<uint32_t>(code);
    bits += 9;
    while (bits >= 8) {
      out.push_back(static_cast<char>((acc >> (bits - 8)) & 0xFF));
      bits -= 8;
    }
  }
  if (bits > 0) out.push_back(static_cast<char>((acc << (8 - bits)) & 0xFF));
  return out;
}

int64_t StartXRefOf(const std::string& file) {
  size_t at = file.rfind("startxref");
  if (at == std::string::npos) throw std::runtime_error("no startxref");
  return std::stoll(file.substr(at + 9));
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

std::string ManyPages(int pages, size_t contentBytes, int largeEvery, size_t largeBytes) {
  uint32_t state = 12345;
  auto patterned = [&](size_t size) {
    std::string data(size, '\0');
    for (char& c : data) {
      state = state * 1103515245u + 12345u;
      c = static_cast<char>(state >> 23);
    }
    return data;
  };
  PdfBuilder b;
  std::string kids;
  int next = 3;
  for (int i = 0; i < pages; ++i) {
    const int page = next++, content = next++;
    std::string resources;
    if (largeEvery > 0 && i % largeEvery == 0) {
      const int image = next++;
      b.Stream(image, "/Type /XObject /Subtype /Image /Width " + std::to_string(largeBytes) +
                          " /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8",
               patterned(largeBytes));
      resources = " /Resources << /XObject << /Im0 " + std::to_string(image) + " 0 R >> >>";
    }
    b.Object(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(content) +
                       " 0 R" + resources + " >>");
    b.Stream(content, "", patterned(contentBytes));
    kids += std::to_string(page) + " 0 R ";
  }
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  return b.Build("/Root 1 0 R");
}

std::string WriteTempFile(const std::string& name, const std::string& bytes) {
  auto dir = std::filesystem::temp_directory_path() / "pagewright-tests";
  std::filesystem::create_directories(dir);
  auto path = dir / (std::to_string(::getpid()) + "-" + name);
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
