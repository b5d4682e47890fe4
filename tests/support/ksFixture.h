// Builds small PDF files for tests: offsets, /Length and cross-reference data are
// computed here, so no test counts bytes by hand.
#pragma once
#include <map>
#include <string>
#include <vector>

namespace ksfixture {

class PdfBuilder {
 public:
  explicit PdfBuilder(std::string header = "%PDF-1.4") : header_(std::move(header)) {}

  // Object N with the given body text (what stands between "obj" and "endobj").
  PdfBuilder& Object(int number, const std::string& body, int generation = 0);
  // Stream object N: dict entries (without << >>), data; /Length is added.
  PdfBuilder& Stream(int number, const std::string& dictEntries, const std::string& data, int generation = 0);
  // Raw bytes appended after the objects written so far (no xref entry).
  PdfBuilder& Raw(const std::string& bytes);

  // The file with one classic cross-reference table over every object and a trailer
  // holding /Size plus the given entries (e.g. "/Root 1 0 R").
  std::string Build(const std::string& trailerEntries) const;
  // The file with an uncompressed cross-reference stream (object number xrefNumber,
  // /W [1 4 2]) instead of a table; trailerEntries go into its dictionary.
  std::string BuildWithXRefStream(int xrefNumber, const std::string& trailerEntries) const;

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

std::string WriteTempFile(const std::string& name, const std::string& bytes);
std::string ReadFile(const std::string& path);

}  // namespace ksfixture
