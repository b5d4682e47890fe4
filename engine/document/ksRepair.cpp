// Rebuilding the cross-reference data of a damaged file by scanning it for objects.
#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_map>

#include "document/ksCstPDFDoc.h"
#include "parse/ksPDFParsers.h"
#include "base/ksPDFResStrs.h"
#include "base/ksSyntax.h"

namespace {

constexpr std::string_view kObj = "obj";
constexpr std::string_view kTrailer = "trailer";
constexpr std::string_view kXRef = "xref";
constexpr std::string_view kStream = "stream";
constexpr std::string_view kEndstream = "endstream";

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
// Where a token may begin or must end.
bool IsBoundary(uint8_t c) { return ksIsWhiteSpace(c) || ksIsDelimiter(c); }

// What the first pass finds, in file order.
struct Mark {
  enum Kind : uint8_t { Header, Trailer, Table } kind;
  uint64_t at;     // where the header's number or the keyword begins
  uint64_t after;  // just past "obj" or "trailer"
  int32_t number = 0, generation = 0;
  // Found inside a string or stream data: taken only where no object read around it
  // holds it.
  bool quoted = false;
};

}  // namespace

// Two passes over the bytes, each linear in their number. The first finds every "N G obj",
// "xref" and "trailer" that stands at a token boundary, outside comments, and notes those
// inside strings and stream data as quoted. The second parses what follows each of them up
// to the next mark that is not quoted, so no byte is parsed more than twice however the
// file is made; the headers quoted inside a value it read, or inside stream data it stepped
// over (by a /Length that ends at "endstream", else up to the next "endstream"), are not
// taken for objects.
class TksXRefRebuilder {
 public:
  explicit TksXRefRebuilder(TksCustomPDFDocument& doc)
      : doc_(doc), data_(doc.load_->Reader->Data()), size_(doc.load_->Reader->Size()) {}

  void Rebuild() {
    doc_.XRefKind = xkRebuilt;
    FindMarks();
    ReadMarks();
    Settle();
  }

  // Gives the objects held in the object streams the scan found their entries: an object
  // stream defines its objects where it stands, so a later definition of a number, in the
  // file or in another object stream, wins over it.
  static void EnterObjectStreams(TksCustomPDFDocument& doc) {
    auto found = std::move(doc.load_->ScannedObjectStreams);
    doc.load_->ScannedObjectStreams.clear();
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    const int64_t maxNumber = static_cast<int64_t>(std::min<uint64_t>(doc.load_->Reader->Size() / 3, INT32_MAX));
    for (const auto& [streamNumber, position] : found) {
      const int32_t s = streamNumber;  // captured below, which a structured binding cannot be everywhere
      std::unique_ptr<TksPDFIndirectObject> object;
      try {
        object = doc.ReadObject(s);
      } catch (const EDecodedSizeError&) {
        throw;
      } catch (const Exception&) {
        continue;  // unreadable: its objects stay without entries
      }
      auto* stream = object ? AsStream(object->Value.get()) : nullptr;
      if (!stream || !stream->Data) continue;
      TksPDFObject* filter = doc.Store->Dereference(stream->Dict->Lookup("/Filter"));
      std::unique_ptr<TksMemoryStream> decoded;
      if (filter) {
        try {
          decoded = doc.DecodeStreamData(*stream, filter, doc.DecodeBounds.StructureStream, [s](const std::string& limit) {
                         return ksFormat(ksres::SObjStmTooLarge, s, limit.c_str());
                       }).ToStream();
        } catch (const EDecodedSizeError&) {
          throw;
        } catch (const Exception&) {
          continue;
        }
      }
      const TksMemoryStream& data = decoded ? *decoded : *stream->Data;
      std::optional<int64_t> count = IntegerValue(stream->Dict->Lookup("/N"));
      if (!count || *count < 0 || static_cast<uint64_t>(*count) > data.size() / 2) continue;
      TksPDFStreamReader reader(data.data(), data.size(), doc.DocumentID);
      reader.SkipWhiteSpace();
      for (int64_t k = 0; k < *count; ++k) {
        int32_t number = 0;
        int64_t relative = 0;
        if (!ksTryStrToInt32(reader.ReadToken(), number) || !ksTryStrToInt64(reader.ReadToken(), relative)) break;
        if (number <= 0 || number > maxNumber || number == s) continue;
        const auto slot = static_cast<size_t>(number);
        // Defined in the file after this stream: that definition stands.
        if (slot < doc.XRefEntries.size() && doc.XRefEntries[slot] &&
            static_cast<uint64_t>(doc.XRefEntries[slot]->Offset) > position)
          continue;
        auto& list = doc.XRefStreamEntries;
        if (slot >= list.size()) list.resize(slot + 1);
        list[slot] = TksXRefStmItem{.Field2 = s, .Field3 = k, .EntryType = 2, .Section = kStreamStamp};
      }
    }
  }

  // Entries of objects found in the file, and entries of objects found in object streams,
  // which win over them where EnterObjectStreams enters them.
  static constexpr uint32_t kFileStamp = 1, kStreamStamp = 2;

 private:
  struct TrailerFound {
    uint64_t at;
    std::unique_ptr<TksPDFDictObject> dict;
  };

  bool KeywordAt(uint64_t i, std::string_view word) const {
    return size_ - i >= word.size() && std::memcmp(data_ + i, word.data(), word.size()) == 0 &&
           (i + word.size() == size_ || IsBoundary(data_[i + word.size()]));
  }

  // "N G obj" starting at i: sets the mark's fields and returns true.
  bool HeaderAt(uint64_t i, Mark& mark) const {
    uint64_t p = i;
    auto number = [&](int maxDigits, int64_t& value) {
      const uint64_t from = p;
      value = 0;
      while (p < size_ && IsDigit(data_[p]) && p - from < static_cast<uint64_t>(maxDigits))
        value = value * 10 + (data_[p++] - '0');
      return p > from && (p == size_ || !IsDigit(data_[p]));
    };
    auto white = [&](bool needed) {
      const uint64_t from = p;
      while (p < size_ && ksIsWhiteSpace(data_[p])) ++p;
      return !needed || p > from;
    };
    int64_t n = 0, g = 0;
    if (!number(10, n) || !white(true) || !number(5, g) || !white(false) || !KeywordAt(p, kObj)) return false;
    if (n < 1 || n > INT32_MAX || g > 65535) return false;
    mark = Mark{Mark::Header, i, p + kObj.size(), static_cast<int32_t>(n), static_cast<int32_t>(g)};
    return true;
  }

  // One pass that knows the lexical states a header may hide in: strings (balanced
  // parentheses, backslash escapes), comments and stream data (up to "endstream"). Marks
  // inside strings and stream data are kept as quoted; inside comments they are dropped.
  void FindMarks() {
    enum { Plain, InString, InStream } state = Plain;
    int depth = 0;
    for (uint64_t i = 0; i < size_;) {
      const uint8_t c = data_[i];
      if (state == InString) {
        if (c == '\\') {
          i += 2;
          continue;
        }
        if (c == '(') ++depth;
        if (c == ')' && --depth == 0) state = Plain;
      } else if (state == InStream) {
        if (c == 'e' && size_ - i >= kEndstream.size() && std::memcmp(data_ + i, kEndstream.data(), kEndstream.size()) == 0) {
          state = Plain;
          i += kEndstream.size();
          continue;
        }
      } else if (c == '%') {
        while (i < size_ && data_[i] != 10 && data_[i] != 13) ++i;
        continue;
      } else if (c == '(') {
        state = InString;
        depth = 1;
      }
      const bool atBoundary = i == 0 || IsBoundary(data_[i - 1]);
      if (!atBoundary) {
        ++i;
        continue;
      }
      const bool quoted = state != Plain;
      Mark mark{};
      if (IsDigit(c) && HeaderAt(i, mark)) {
        mark.quoted = quoted;
        marks_.push_back(mark);
        i = mark.after;
        continue;
      }
      if (c == 'x' && KeywordAt(i, kXRef)) {
        marks_.push_back(Mark{Mark::Table, i, i + kXRef.size(), 0, 0, quoted});
        i += kXRef.size();
        continue;
      }
      if (c == 't' && KeywordAt(i, kTrailer)) {
        marks_.push_back(Mark{Mark::Trailer, i, i + kTrailer.size(), 0, 0, quoted});
        i += kTrailer.size();
        continue;
      }
      if (state == Plain && c == 's' && KeywordAt(i, kStream)) {
        state = InStream;
        i += kStream.size();
        continue;
      }
      ++i;
    }
  }

  // The value after a mark, parsed no further than end.
  TksPDFObjectPtr ValueAfter(uint64_t from, uint64_t end) {
    if (from >= end) return nullptr;
    TksPDFStreamReader reader(data_ + from, end - from, doc_.DocumentID);
    TksPDFObjectPtr value;
    try {
      value = reader.ParseObject();
    } catch (const Exception&) {
      return nullptr;
    }
    parsedEnd_ = from + reader.Position();
    return value;
  }

  // The end of the stream data that begin after the dictionary ending at dictEnd, just
  // past "endstream"; 0 when no "stream" keyword follows, size_ + 1 when no "endstream"
  // ends the data.
  uint64_t StreamEnd(const TksPDFDictObject& dict, uint64_t dictEnd) {
    uint64_t p = dictEnd;
    while (p < size_ && ksIsWhiteSpace(data_[p])) ++p;
    if (size_ - p < kStream.size() || std::memcmp(data_ + p, kStream.data(), kStream.size()) != 0) return 0;
    p += kStream.size();
    while (p < size_ && (data_[p] == ' ' || data_[p] == '\t')) ++p;
    if (p < size_ && data_[p] == 13) ++p;
    if (p < size_ && data_[p] == 10) ++p;
    // Where the data end is the reader's rule, so the scan steps over what a read takes;
    // a length that runs past an "endstream endobj" would hide the objects after it.
    std::optional<int64_t> length = IntegerValue(dict.Lookup("/Length"));
    TksPDFStreamReader& reader = *doc_.load_->Reader;
    uint64_t closing = UINT64_MAX;
    if (!reader.FindClosingEndstream(p, closing)) closing = UINT64_MAX;
    TksPDFStreamReader::TksStreamExtent extent;
    if (!reader.LocateStreamData(p, length ? *length : -1, extent, closing)) return size_ + 1;
    return extent.keyword + kEndstream.size();
  }

  void ReadMarks() {
    const int64_t maxNumber = static_cast<int64_t>(std::min<uint64_t>(size_ / 3, INT32_MAX));
    uint64_t skipUntil = 0;
    auto& list = doc_.XRefEntries;
    // A plain mark's value is parsed up to the next plain mark, so a string or stream that
    // quotes a header does not cut it short; a quoted mark outside every value read (its
    // string was no string: damage, or a lone parenthesis) is read up to the next mark of
    // any kind. Plain ranges do not overlap, nor do quoted ones: each byte is parsed at
    // most twice.
    std::vector<uint64_t> nextPlain(marks_.size() + 1, size_);
    for (size_t k = marks_.size(); k-- > 0;) nextPlain[k] = marks_[k].quoted ? nextPlain[k + 1] : marks_[k].at;
    for (size_t k = 0; k < marks_.size(); ++k) {
      const Mark& mark = marks_[k];
      if (mark.at < skipUntil) continue;
      const uint64_t end =
          mark.quoted ? (k + 1 < marks_.size() ? marks_[k + 1].at : size_) : nextPlain[k + 1];
      if (mark.kind == Mark::Table) {
        ReadFreeEntries(mark.after, end, mark.at);
        continue;
      }
      TksPDFObjectPtr value = ValueAfter(mark.after, end);
      auto* dict = AsDict(value.get());
      if (mark.kind == Mark::Trailer) {
        if (dict) {
          skipUntil = parsedEnd_;
          trailers_.push_back({mark.at, std::unique_ptr<TksPDFDictObject>(static_cast<TksPDFDictObject*>(value.release()))});
        }
        continue;
      }
      if (!value || mark.number > maxNumber) {
        ++unreadable_;
        continue;
      }
      // What the value spans is this object's: headers quoted there are not objects.
      skipUntil = parsedEnd_;
      if (dict) {
        const uint64_t streamEnd = StreamEnd(*dict, parsedEnd_);
        if (streamEnd > size_) {
          ++unreadable_;  // its data run to the end of the file: cut short
          continue;
        }
        if (streamEnd > 0) skipUntil = streamEnd;
        TksPDFObject* type = dict->Lookup("/Type");
        if (IsName(type, "/Catalog")) lastCatalog_ = mark.number;
        if (streamEnd == 0 && IsName(dict->Lookup("/Filter"), "/Standard")) encryption_ = mark;
        if (streamEnd > 0 && IsName(type, "/ObjStm")) doc_.load_->ScannedObjectStreams.push_back({mark.number, mark.at});
        if (streamEnd > 0 && IsName(type, "/XRef"))
          trailers_.push_back({mark.at, std::unique_ptr<TksPDFDictObject>(static_cast<TksPDFDictObject*>(value.release()))});
      }
      const auto slot = static_cast<size_t>(mark.number);
      if (slot >= list.size()) list.resize(slot + 1);
      if (!list[slot]) ++found_;
      list[slot] = TksXRefItem{.Offset = static_cast<int64_t>(mark.at), .Generation = mark.generation,
                               .ObjectNumber = mark.number, .Section = kFileStamp, .EntryType = 'n'};
    }
    // A free entry of a table that follows an object's last definition deletes it, as the
    // update that table belongs to did.
    for (const auto& [number, at] : freedAt_) {
      const auto slot = static_cast<size_t>(number);
      if (slot < list.size() && list[slot] && static_cast<uint64_t>(list[slot]->Offset) < at) {
        list[slot].reset();
        --found_;
        ++freed_;
      }
    }
    // An object stream redefined later as something else (or deleted) is no object stream.
    auto& streams = doc_.load_->ScannedObjectStreams;
    streams.erase(std::remove_if(streams.begin(), streams.end(),
                                 [&](const auto& s) {
                                   const auto& entry = list[static_cast<size_t>(s.first)];
                                   return !entry || static_cast<uint64_t>(entry->Offset) != s.second;
                                 }),
                  streams.end());
  }

  // The free entries of a table at position at, read as far as its lines stay whole:
  // subsections "first count" of entries "offset generation f|n".
  void ReadFreeEntries(uint64_t from, uint64_t end, uint64_t at) {
    const int64_t maxNumber = static_cast<int64_t>(std::min<uint64_t>(size_ / 3, INT32_MAX));
    TksPDFStreamReader reader(data_ + from, end - from, doc_.DocumentID);
    reader.SkipWhiteSpace();  // tokens are read from where they begin
    for (;;) {
      int64_t first = 0, count = 0;
      if (!ksTryStrToInt64(reader.ReadToken(), first) || !ksTryStrToInt64(reader.ReadToken(), count) || first < 0 ||
          count <= 0)
        return;
      for (int64_t n = first; n < first + count; ++n) {
        int64_t offset = 0, generation = 0;
        if (!ksTryStrToInt64(reader.ReadToken(), offset) || !ksTryStrToInt64(reader.ReadToken(), generation)) return;
        const std::string kind = reader.ReadToken();
        if (kind != "f" && kind != "n") return;
        if (kind == "f" && n > 0 && n <= maxNumber) freedAt_[static_cast<int32_t>(n)] = at;
      }
    }
  }

  void Settle() {
    // The newest trailer first; each value is taken from the newest trailer that has it.
    for (auto it = trailers_.rbegin(); it != trailers_.rend(); ++it) doc_.TakeTrailerValues(*it->dict);
    objectStreams_ = static_cast<int32_t>(doc_.load_->ScannedObjectStreams.size());
    // The trailer that named the encryption dictionary is lost, the dictionary is not: the
    // file is still encrypted, and read as clear its strings and streams are noise.
    if ((!doc_.Trailer.EncryptEntry || doc_.Trailer.EncryptEntry->ObjectType == otNull) && encryption_.number > 0) {
      const auto slot = static_cast<size_t>(encryption_.number);
      const auto& list = doc_.XRefEntries;
      if (slot < list.size() && list[slot] && static_cast<uint64_t>(list[slot]->Offset) == encryption_.at) {
        doc_.Trailer.EncryptEntry = std::make_unique<TksPDFIndirectReference>(
            doc_.DocumentID, encryption_.number, static_cast<uint16_t>(encryption_.generation));
        doc_.RepairNotes.push_back(ksFormat(ksres::SRepairEncryptFound, encryption_.number));
      }
    }
    const bool encrypted = doc_.Trailer.EncryptEntry && doc_.Trailer.EncryptEntry->ObjectType != otNull;
    // Object streams of an encrypted file are read once its password is known.
    if (!encrypted && !doc_.load_->ScannedObjectStreams.empty()) {
      EnterObjectStreams(doc_);
      if (!doc_.XRefStreamEntries.empty()) doc_.ExpandObjectStreams();
    }
    TksPDFTrailer& t = doc_.Trailer;
    const TksXRefItem* table = nullptr;
    const TksXRefStmItem* stream = nullptr;
    if (t.RootNumber > 0) doc_.EntryInForce(t.RootNumber, table, stream);
    if (t.RootNumber <= 0 || (!table && !stream && !encrypted)) {
      const int32_t catalog = lastCatalog_ > 0 ? lastCatalog_ : encrypted ? -1 : CatalogInObjectStreams();
      if (catalog > 0) {
        t.RootNumber = catalog;
        doc_.RepairNotes.push_back(ksFormat(ksres::SRepairRootFromCatalog, catalog));
      }
    }
    if (t.RootNumber <= 0) throw EPDFFileCorruptedError(ksres::SRepairNoCatalog);
    doc_.RepairNotes.push_back(ksFormat(ksres::SRepairRebuilt, found_, objectStreams_));
    if (unreadable_ > 0) doc_.RepairNotes.push_back(ksFormat(ksres::SRepairSkippedObjects, unreadable_));
    if (freed_ > 0) doc_.RepairNotes.push_back(ksFormat(ksres::SRepairFreed, freed_));
  }

  // The catalog of the newest object stream that holds one (by the stream's place in the
  // file), or -1: files that keep their catalog there name it only in a trailer.
  int32_t CatalogInObjectStreams() const {
    int32_t found = -1;
    int64_t foundAt = -1;
    const auto& entries = doc_.XRefStreamEntries;
    for (size_t i = 0; i < entries.size(); ++i) {
      const auto& entry = entries[i];
      if (!entry || entry->EntryType != 2 || entry->Field2 <= 0) continue;
      const auto s = static_cast<size_t>(entry->Field2);
      if (s >= doc_.XRefEntries.size() || !doc_.XRefEntries[s] || doc_.XRefEntries[s]->Offset < foundAt) continue;
      TksPDFIndirectObject* object = doc_.Store->Find(doc_.DocumentID, static_cast<int32_t>(i), 0);
      auto* dict = object ? AsDict(object->Value.get()) : nullptr;
      if (dict && IsName(dict->Lookup("/Type"), "/Catalog")) {
        found = static_cast<int32_t>(i);
        foundAt = doc_.XRefEntries[s]->Offset;
      }
    }
    return found;
  }

  TksCustomPDFDocument& doc_;
  const uint8_t* data_;
  uint64_t size_;
  std::vector<Mark> marks_;
  std::vector<TrailerFound> trailers_;
  uint64_t parsedEnd_ = 0;
  int32_t lastCatalog_ = -1;
  Mark encryption_{};  // the last encryption dictionary found
  int32_t found_ = 0, unreadable_ = 0, objectStreams_ = 0, freed_ = 0;
  // Object number -> position of the last table that marks it free.
  std::unordered_map<int32_t, uint64_t> freedAt_;
};

void TksCustomPDFDocument::RebuildCrossReference() { TksXRefRebuilder(*this).Rebuild(); }

void TksCustomPDFDocument::EnterScannedObjectStreams() {
  if (load_ && !load_->ScannedObjectStreams.empty()) TksXRefRebuilder::EnterObjectStreams(*this);
}
