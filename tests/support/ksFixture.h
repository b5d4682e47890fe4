// Builds small PDF files for tests: offsets, /Length and cross-reference data are
// computed here, so no test counts bytes by hand.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ksfixture {

class PdfBuilder {
 public:
  explicit PdfBuilder(std::string header = "%PDF-1.4") : header_(std::move(header)) {}
  // An incremental update: objects are appended to base, and Build writes a table
  // listing only them (add "/Prev N" to the trailer entries yourself).
  static PdfBuilder Appending(std::string base);

  // Object N with the given body text (what stands between "obj" and "endobj").
  PdfBuilder& Object(int number, const std::string& body, int generation = 0);
  // Stream object N: dict entries (without << >>), data; /Length is added.
  PdfBuilder& Stream(int number, const std::string& dictEntries, const std::string& data, int generation = 0);
  // In an update: a free entry for number in the table Build writes.
  PdfBuilder& Free(int number, int generation = 1);
  // Raw bytes appended after the objects written so far (no xref entry).
  PdfBuilder& Raw(const std::string& bytes);

  // The file with one classic cross-reference table over every object and a trailer
  // holding /Size plus the given entries (e.g. "/Root 1 0 R").
  std::string Build(const std::string& trailerEntries) const;
  // The file with an uncompressed cross-reference stream (object number xrefNumber,
  // /W [1 4 2]) instead of a table; trailerEntries go into its dictionary.
  std::string BuildWithXRefStream(int xrefNumber, const std::string& trailerEntries) const;
  // Everything so far followed by "startxref" pointing at object number's offset: for
  // files whose cross-reference stream a test writes itself as the last object.
  std::string Finish(int number) const;

  // Body text of everything so far and each object's offset within the file.
  std::string Body() const;
  std::map<int, size_t> Offsets() const;

 private:
  struct Obj {
    int number;
    int generation;
    std::string text;  // whole "N G obj ... endobj\n"
  };
  std::string header_;
  std::vector<Obj> objects_;  // raw chunks have number -1
  std::string base_;          // the file an update is appended to
  std::map<int, int> freed_;  // number -> generation of free entries in an update
  bool appending_ = false;
};

// An object stream's body: "/Type /ObjStm /N n /First f" entries and its data for the
// given (number, object text) pairs, uncompressed.
struct ObjStm {
  std::string dictEntries;
  std::string data;
};
ObjStm MakeObjStm(const std::vector<std::pair<int, std::string>>& objects);

// zlib-compresses bytes (for /FlateDecode fixtures).
std::string Deflate(const std::string& bytes);

// Rows of a cross-reference stream: each row's three fields big-endian in the widths.
std::string XRefStreamRows(const std::vector<std::array<uint64_t, 3>>& rows, std::array<int, 3> widths);
// PNG-predicts rows of columns bytes, every row with the given tag (0..4).
std::string PngPredict(const std::string& data, int columns, int tag);
// LZW code of the bytes as literal 9-bit codes between a clear code and the end
// marker (valid for up to 250 bytes).
std::string LzwLiteral(const std::string& bytes);
// The offset the last "startxref" of a file gives.
int64_t StartXRefOf(const std::string& file);

// A document of pages pages, each with a content stream of contentBytes patterned bytes
// and, on every largeEvery-th page (none when 0), an image of largeBytes: for tests that
// need a file of some size and many objects. Objects 1 and 2 are catalog and page tree.
std::string ManyPages(int pages, size_t contentBytes, int largeEvery = 0, size_t largeBytes = 0);

// Writes bytes to a file under the temporary folder whose name carries the process id,
// so tests running side by side never share a file.
std::string WriteTempFile(const std::string& name, const std::string& bytes);
std::string ReadFile(const std::string& path);

}  // namespace ksfixture
