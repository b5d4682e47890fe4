// Reading a written file back: a streaming check of its table, objects and structure.
#include "write/ksReadBack.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/ksPDFResStrs.h"
#include "document/ksCstPDFDoc.h"
#include "parse/ksPDFParsers.h"
#include "write/ksDocumentWriter.h"

namespace {

// Bytes read between two hand-backs of the mapping's pages, so reading a large output
// back does not make it part of this process's memory.
constexpr uint64_t kBytesBetweenPageReleases = 1 << 20;
// Field trees of the output are followed this deep at most (the load refuses deeper ones).
constexpr int kMaxFieldDepth = 64;

[[noreturn]] void Mismatch(const std::string& detail) { throw ESaveError(ksFormat(ksres::SReadBackFailed, detail.c_str())); }

// The output, mapped read-only for the check and unmapped after it.
class TksMappedOutput {
 public:
  TksMappedOutput(int fd, int64_t size) : size_(static_cast<size_t>(size)) {
    if (size <= 0) Mismatch("the file is empty");
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) Mismatch("it cannot be mapped for reading");
    data_ = static_cast<const uint8_t*>(p);
  }
  ~TksMappedOutput() { ::munmap(const_cast<uint8_t*>(data_), size_); }
  TksMappedOutput(const TksMappedOutput&) = delete;
  TksMappedOutput& operator=(const TksMappedOutput&) = delete;
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  void ReleasePages() const { (void)::madvise(const_cast<uint8_t*>(data_), size_, MADV_DONTNEED); }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// The object number of a reference value; 0 for anything else.
int32_t RefNumber(const TksPDFObject* value) {
  const auto* ref = AsRef(value);
  return ref ? ref->ObjectNumber : 0;
}

// What the pass keeps of the objects it reads: only what the structure checks need.
struct TksOutputRecords {
  std::vector<std::string> catalogKeys;
  int32_t outlinesRoot = 0;
  int32_t acroForm = 0;
  std::vector<int32_t> fieldRoots;     // /Fields of a direct form
  std::vector<int32_t> kids;           // of the page tree node
  std::vector<bool> pages;             // by object number: a page
  std::unordered_map<int32_t, int32_t> annotsOfPage;      // page -> count, or -(array object)
  std::unordered_map<int32_t, int32_t> arrayCount;        // array objects -> their size
  std::unordered_map<int32_t, std::vector<int32_t>> arrayRefs;  // array objects -> references
  std::unordered_map<int32_t, std::pair<int32_t, int32_t>> outlineLinks;  // /First, /Next
  struct Field {
    bool isField = false;
    std::vector<int32_t> kids;
    int32_t kidsArray = 0;
  };
  std::unordered_map<int32_t, Field> fieldNodes;
};

std::vector<int32_t> RefsOf(const TksPDFArrayObject* array) {
  std::vector<int32_t> refs;
  if (!array) return refs;
  for (int32_t i = 0; i < array->Count(); ++i)
    if (int32_t n = RefNumber(array->GetItem(i))) refs.push_back(n);
  return refs;
}

void Record(int32_t number, const TksPDFObject* value, TksOutputRecords& r) {
  if (const auto* array = AsArray(value)) {
    r.arrayCount[number] = array->Count();
    r.arrayRefs[number] = RefsOf(array);
    return;
  }
  const TksPDFDictObject* dict = AsDict(value);
  if (!dict) return;
  if (number == 1) {
    for (int32_t i = 0; i < dict->Count(); ++i) r.catalogKeys.push_back(dict->KeyAt(i)->Text());
    r.outlinesRoot = RefNumber(dict->Lookup("/Outlines"));
    r.acroForm = RefNumber(dict->Lookup("/AcroForm"));
    if (const auto* form = AsDict(dict->Lookup("/AcroForm"))) r.fieldRoots = RefsOf(AsArray(form->Lookup("/Fields")));
    return;
  }
  if (number == 3) {
    r.kids = RefsOf(AsArray(dict->Lookup("/Kids")));
    return;
  }
  if (number == r.acroForm) {
    if (const TksPDFObject* fields = dict->Lookup("/Fields")) {
      r.fieldRoots = RefsOf(AsArray(fields));
      if (int32_t n = RefNumber(fields)) r.fieldRoots.push_back(-n);  // an array object, resolved later
    }
  }
  if (IsName(dict->Lookup("/Type"), "/Page")) {
    if (static_cast<size_t>(number) < r.pages.size()) r.pages[static_cast<size_t>(number)] = true;
    const TksPDFObject* annots = dict->Lookup("/Annots");
    if (const auto* array = AsArray(annots))
      r.annotsOfPage[number] = array->Count();
    else if (int32_t n = RefNumber(annots))
      r.annotsOfPage[number] = -n;
  }
  if (dict->Lookup("/First") || dict->Lookup("/Next"))
    r.outlineLinks[number] = {RefNumber(dict->Lookup("/First")), RefNumber(dict->Lookup("/Next"))};
  const TksPDFObject* kids = dict->Lookup("/Kids");
  const TksPDFObject* title = dict->Lookup("/T");
  const TksPDFObject* type = dict->Lookup("/FT");
  const bool isField = title && type && (title->ObjectType == otString || RefNumber(title)) &&
                       (type->ObjectType == otName || RefNumber(type));
  if (isField || kids) {
    TksOutputRecords::Field& field = r.fieldNodes[number];
    field.isField = isField;
    field.kids = RefsOf(AsArray(kids));
    field.kidsArray = RefNumber(kids);
  }
}

// One object at its table offset: "N 0 obj", a value, stream data of the length its
// dictionary gives, "endobj". Returns where "endobj" ends.
uint64_t ReadObjectAt(TksPDFStreamReader& reader, int32_t number, uint64_t offset, TksOutputRecords& records) {
  reader.Seek(offset);
  int32_t n = 0, g = 0;
  if (!reader.PeekObjectHeader(n, g) || n != number || g != 0)
    Mismatch(ksFormat(ksres::SReadBackNoObject, number, std::to_string(offset).c_str()));
  reader.SkipWhiteSpace();
  reader.ReadToken();
  reader.ReadToken();
  reader.ReadToken();
  reader.CurrentObjectNumber = number;
  reader.CurrentGeneration = 0;
  TksPDFObjectPtr value;
  try {
    value = reader.ParseObject();
  } catch (const Exception& e) {
    Mismatch(ksFormat(ksres::SReadBackBadObject, number, e.what()));
  }
  if (!value) Mismatch(ksFormat(ksres::SReadBackBadObject, number, "no value"));
  reader.SkipWhiteSpace();
  if (reader.PeekWord() == "stream") {
    const auto* dict = AsDict(value.get());
    const std::optional<int64_t> length = dict ? IntegerValue(dict->Lookup("/Length")) : std::nullopt;
    if (!length || *length < 0) Mismatch(ksFormat(ksres::SReadBackBadObject, number, "a stream without a direct /Length"));
    reader.ReadString(6);
    if (reader.ReadByte() != '\r' || reader.ReadByte() != '\n')
      Mismatch(ksFormat(ksres::SReadBackBadObject, number, "stream data not framed"));
    reader.Seek(reader.Position() + static_cast<uint64_t>(*length));
    reader.SkipWhiteSpace();
    if (reader.ReadString(9) != "endstream")
      Mismatch(ksFormat(ksres::SReadBackBadObject, number, "stream data not of their /Length"));
    reader.SkipWhiteSpace();
  }
  reader.SkipWhiteSpace();
  const uint64_t end = reader.Position() + 6;
  if (reader.ReadToken() != "endobj") Mismatch(ksFormat(ksres::SReadBackBadObject, number, "no endobj"));
  Record(number, value.get(), records);
  return end;
}

// The number of field dictionaries reached from the roots through /Kids, each once.
int32_t CountFields(const TksOutputRecords& r, std::vector<int32_t> roots) {
  for (size_t i = 0; i < roots.size(); ++i)
    if (roots[i] < 0) {
      auto it = r.arrayRefs.find(-roots[i]);
      std::vector<int32_t> more = it == r.arrayRefs.end() ? std::vector<int32_t>() : it->second;
      roots.erase(roots.begin() + static_cast<std::ptrdiff_t>(i--));
      roots.insert(roots.end(), more.begin(), more.end());
    }
  int32_t count = 0;
  std::unordered_set<int32_t> seen;
  std::vector<std::pair<int32_t, int>> pending;
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) pending.push_back({*it, 0});
  while (!pending.empty()) {
    auto [n, depth] = pending.back();
    pending.pop_back();
    if (!seen.insert(n).second || depth > kMaxFieldDepth) continue;
    auto it = r.fieldNodes.find(n);
    if (it == r.fieldNodes.end()) continue;
    if (it->second.isField) ++count;
    std::vector<int32_t> kids = it->second.kids;
    if (it->second.kidsArray)
      if (auto a = r.arrayRefs.find(it->second.kidsArray); a != r.arrayRefs.end()) kids = a->second;
    for (auto k = kids.rbegin(); k != kids.rend(); ++k) pending.push_back({*k, depth + 1});
  }
  return count;
}

// Items below the outline root, each once.
int32_t CountOutlineItems(const TksOutputRecords& r) {
  if (!r.outlinesRoot) return 0;
  int32_t count = 0;
  std::unordered_set<int32_t> seen{r.outlinesRoot};
  std::vector<int32_t> pending;
  if (auto it = r.outlineLinks.find(r.outlinesRoot); it != r.outlineLinks.end() && it->second.first)
    pending.push_back(it->second.first);
  while (!pending.empty()) {
    int32_t n = pending.back();
    pending.pop_back();
    if (!n || !seen.insert(n).second) continue;
    ++count;
    if (auto it = r.outlineLinks.find(n); it != r.outlineLinks.end()) {
      pending.push_back(it->second.second);
      pending.push_back(it->second.first);
    }
  }
  return count;
}

// The document's side: what the output must hold.
int32_t SourceAnnotations(const TksCustomPDFDocument& doc) {
  int32_t count = 0;
  for (const TksPDFIndirectObject* page : doc.Pages) {
    const auto* dict = page ? AsDict(page->Value.get()) : nullptr;
    TksPDFObject* annots = dict ? dict->Lookup("/Annots") : nullptr;
    if (const auto* ref = AsRef(annots)) {
      const TksPDFIndirectObject* object = TksDocumentWriter::FindWritten(doc, nullptr, *ref);
      annots = object && object->SaveNumber > 0 ? object->Value.get() : nullptr;
    }
    if (const auto* array = AsArray(annots)) count += array->Count();
  }
  return count;
}

void CheckCount(const char* what, int64_t written, int64_t expected) {
  if (written != expected)
    Mismatch(ksFormat(ksres::SReadBackCount, what, std::to_string(written).c_str(), std::to_string(expected).c_str()));
}

}  // namespace

void ReadBackWrittenFile(const TksCustomPDFDocument& doc, const TksDocumentWriter& writer, int fd, int64_t size) {
  TksMappedOutput file(fd, size);
  TksPDFStreamReader reader(file.data(), file.size(), -1);
  reader.BorrowStreamData = true;
  try {
    const std::string header = TksDocumentWriter::HeaderText(doc.PDFVersion);
    if (file.size() < header.size() || std::memcmp(file.data(), header.data(), header.size()) != 0)
      Mismatch("the header is not the one written");
    // The table: where startxref says, one entry per object, each the offset written.
    const int64_t xref = reader.FindStartXRef();
    if (xref != writer.XRefPosition()) Mismatch(ksFormat(ksres::SReadBackCount, "startxref", std::to_string(xref).c_str(),
                                                         std::to_string(writer.XRefPosition()).c_str()));
    reader.Seek(static_cast<uint64_t>(xref));
    const std::vector<int64_t>& offsets = writer.Offsets();
    const int64_t entries = static_cast<int64_t>(offsets.size()) + 1;
    if (reader.ReadToken() != "xref" || reader.ReadToken() != "0" || reader.ReadToken() != std::to_string(entries))
      Mismatch("the cross-reference table does not begin as written");
    reader.SkipWhiteSpace();
    const uint64_t table = reader.Position();
    if (table + static_cast<uint64_t>(entries) * 20 > file.size()) Mismatch("the cross-reference table is cut short");
    for (int64_t i = 0; i < entries; ++i) {
      const char* e = reinterpret_cast<const char*>(file.data() + table + static_cast<uint64_t>(i) * 20);
      const std::string_view line(e, 20);
      int64_t offset = 0;
      bool digits = true;
      for (int k = 0; k < 10; ++k) {
        if (e[k] < '0' || e[k] > '9') digits = false;
        offset = offset * 10 + (e[k] - '0');
      }
      const bool sound = digits && line[10] == ' ' && line[16] == ' ' && line[18] == '\r' && line[19] == '\n' &&
                         (i == 0 ? line.substr(11, 7) == "65535 f" : line.substr(11, 7) == "00000 n");
      if (!sound) Mismatch(ksFormat(ksres::SReadBackBadEntry, static_cast<int32_t>(i)));
      if (i % 50000 == 0) file.ReleasePages();  // a megabyte of entries at a time
      if (i == 0) continue;
      if (offset != offsets[static_cast<size_t>(i - 1)])
        Mismatch(ksFormat(ksres::SReadBackEntryOffset, static_cast<int32_t>(i), std::to_string(offset).c_str(),
                          std::to_string(offsets[static_cast<size_t>(i - 1)]).c_str()));
    }
    file.ReleasePages();
    reader.Seek(table + static_cast<uint64_t>(entries) * 20);
    std::unique_ptr<TksPDFDictObject> trailer = reader.ReadTrailer();
    if (!trailer || IntegerValue(trailer->Lookup("/Size")) != entries || RefNumber(trailer->Lookup("/Root")) != 1)
      Mismatch("the trailer is not the one written");

    // Every object, in file order; each is dropped once its records are taken.
    TksOutputRecords records;
    records.pages.assign(offsets.size() + 1, false);
    uint64_t sinceRelease = 0, last = 0;
    // The table holds the offsets written (checked above), so those are where objects are.
    for (size_t i = 0; i < offsets.size(); ++i) {
      const uint64_t end = ReadObjectAt(reader, static_cast<int32_t>(i + 1), static_cast<uint64_t>(offsets[i]), records);
      // Objects follow each other: the next one starts after this one ends.
      if (i + 1 < offsets.size() && end > static_cast<uint64_t>(offsets[i + 1]))
        Mismatch(ksFormat(ksres::SReadBackBadObject, static_cast<int32_t>(i + 1), "it runs into the next object"));
      sinceRelease += reader.Position() - last;
      last = reader.Position();
      if (sinceRelease >= kBytesBetweenPageReleases) {
        file.ReleasePages();
        sinceRelease = 0;
      }
    }

    // The structure, against the document.
    if (records.catalogKeys != writer.CatalogKeys()) Mismatch("the catalog's entries are not those written");
    for (const std::string& key : records.catalogKeys)
      if (TksPDFCatalog::IsDroppedKey(key) && !(key == "/Extensions" && writer.WroteExtensions()))
        Mismatch("the catalog holds " + key);
    CheckCount("pages", static_cast<int64_t>(records.kids.size()), static_cast<int64_t>(doc.Pages.size()));
    for (int32_t kid : records.kids)
      if (kid <= 0 || static_cast<size_t>(kid) >= records.pages.size() || !records.pages[static_cast<size_t>(kid)]) Mismatch(ksFormat(ksres::SReadBackBadObject, kid, "the page tree lists it, it is no page"));
    int64_t annotations = 0;
    for (const auto& [page, count] : records.annotsOfPage) {
      if (count >= 0) {
        annotations += count;
      } else if (auto it = records.arrayCount.find(-count); it != records.arrayCount.end()) {
        annotations += it->second;
      }
    }
    CheckCount("annotations", annotations, SourceAnnotations(doc));
    CheckCount("outline items", CountOutlineItems(records), doc.OutlineRoot ? doc.OutlineRoot->DescendantCount() : 0);
    CheckCount("form fields", CountFields(records, records.fieldRoots), static_cast<int64_t>(doc.AcroFormFields.size()));
  } catch (const ESaveError&) {
    file.ReleasePages();
    throw;
  } catch (const Exception& e) {
    Mismatch(e.what());
  }
  file.ReleasePages();
}
