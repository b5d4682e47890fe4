// Cross-reference tables and streams, object streams and the PNG predictor.
#include <algorithm>
#include <climits>
#include <unordered_map>
#include <unordered_set>

#include "document/ksCstPDFDoc.h"
#include "parse/ksPDFParsers.h"
#include "base/ksPDFResStrs.h"
#include "codec/ksFilterChain.h"

namespace {

enum class SectionAt { None, Table, Stream };

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// What stands at a section offset: the keyword "xref" (possibly after one white-space
// byte), an object header (a digit), or neither.
SectionAt KindAt(TksPDFStreamReader& r, int64_t offset) {
  if (offset < 0 || static_cast<uint64_t>(offset) >= r.Size()) return SectionAt::None;
  r.Seek(static_cast<uint64_t>(offset));
  if (r.PeekString(4) == "xref") return SectionAt::Table;
  std::string_view five = r.PeekString(5);
  auto white = [](char c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; };
  while (!five.empty() && white(five.front())) five.remove_prefix(1);
  while (!five.empty() && white(five.back())) five.remove_suffix(1);
  if (five == "xref") return SectionAt::Table;
  if (IsDigit(r.PeekByte())) return SectionAt::Stream;
  return SectionAt::None;
}

// A /Prev or /XRefStm offset: absent, or a non-negative integer.
std::optional<int64_t> SectionOffset(const TksPDFObject* v) {
  if (!v) return std::nullopt;
  std::optional<int64_t> offset = IntegerValue(v);
  if (!offset || *offset < 0) throw ECrossReferenceError(ksFormat(ksres::SXRefPrev, ObjectToText(v).c_str()));
  return offset;
}

// Object numbers beyond this cannot stand in a file of this size (an object takes more
// than three bytes), so entry lists are never grown past it.
int64_t MaxObjectNumber(uint64_t fileSize) { return static_cast<int64_t>(std::min<uint64_t>(fileSize / 3, INT32_MAX)); }

uint64_t ReadBigEndian(const uint8_t* p, int width) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

// Reads a chain of cross-reference sections without recursion: first every section
// reachable through /Prev and /XRefStm (taking trailer values newest first), then
// their entries, oldest first, so newer entries replace older ones. A section reached
// twice is read once.
class TksXRefReader {
 public:
  explicit TksXRefReader(TksCustomPDFDocument& doc) : doc_(doc), r_(*doc.load_->Reader) {}

  void Read(int64_t offset, bool isStream) {
    Collect(offset, isStream);
    Apply();
  }

 private:
  struct Section {
    int64_t offset = 0;
    bool isStream = false;
    int prev = -1, xrefStm = -1;
    uint32_t stamp = 0;                          // when its entries were applied
    std::unique_ptr<TksPDFStreamObject> stream;  // cross-reference stream, data decoded
  };

  void Collect(int64_t offset, bool isStream) {
    struct Todo {
      int64_t offset;
      bool isStream;
      int parent;
      bool viaXRefStm;
    };
    std::vector<Todo> todo{{offset, isStream, -1, false}};
    std::unordered_map<int64_t, int> indexAt;
    while (!todo.empty()) {
      Todo t = todo.back();
      todo.pop_back();
      if (auto seen = indexAt.find(t.offset); seen != indexAt.end()) {
        // The /Prev chain is read before any /XRefStm stream, so a /Prev that reaches a
        // section again goes round a loop: the chain ends there, and what was read stands.
        // A stream named again by a newer section's /XRefStm (updates of hybrid files
        // repeat the older one) is no fault; it takes the newer place.
        if (t.viaXRefStm)
          sections_[static_cast<size_t>(t.parent)].xrefStm = seen->second;
        else
          LoseSections(ksFormat(ksres::SXRefLoop, static_cast<long long>(t.offset)));
        continue;
      }
      const bool viaPrev = t.parent >= 0 && !t.viaXRefStm;
      std::unique_ptr<TksPDFStreamObject> stream;
      if (t.isStream) {
        stream = ReadXRefStreamAt(t.offset, viaPrev);
        if (!stream) {
          LoseSections(ksFormat(ksres::SXRefPrevIgnored, static_cast<long long>(t.offset)));
          continue;
        }
      }
      int index = static_cast<int>(sections_.size());
      indexAt.emplace(t.offset, index);
      sections_.push_back(Section{t.offset, t.isStream, -1, -1, 0, std::move(stream)});
      if (t.parent >= 0) (t.viaXRefStm ? sections_[t.parent].xrefStm : sections_[t.parent].prev) = index;

      std::optional<int64_t> prev, xrefStm;
      if (!t.isStream) {
        doc_.StatusMessage(ksres::SReadingXRefTable);
        r_.Seek(static_cast<uint64_t>(t.offset));
        std::unique_ptr<TksPDFDictObject> trailer = r_.ReadTrailer();
        doc_.TakeTrailerValues(*trailer);
        prev = SectionOffset(trailer->Lookup("/Prev"));
        // Followed also without /Prev: objects kept in object streams are listed only there.
        xrefStm = SectionOffset(trailer->Lookup("/XRefStm"));
        if (index == 0 && xrefStm && doc_.XRefKind == xkTable) doc_.XRefKind = xkHybrid;
      } else {
        doc_.TakeTrailerValues(*sections_[index].stream->Dict);
        // The stream of a hybrid section extends that section; the older sections are
        // the table's /Prev chain, which such a stream's own /Prev often repeats.
        if (!t.viaXRefStm) prev = SectionOffset(sections_[index].stream->Dict->Lookup("/Prev"));
      }
      // Pushed so that the /Prev chain is read before the /XRefStm stream.
      if (xrefStm) {
        if (KindAt(r_, *xrefStm) != SectionAt::Stream) throw EPDFFileCorruptedError(ksres::SFileCorrupted);
        todo.push_back({*xrefStm, true, index, true});
      }
      if (prev) {
        SectionAt kind = KindAt(r_, *prev);
        if (kind == SectionAt::None)
          LoseSections(ksFormat(ksres::SXRefPrevIgnored, static_cast<long long>(*prev)));
        else
          todo.push_back({*prev, kind == SectionAt::Stream, index, false});
      }
    }
  }

  // The chain ends early: what it read stands, but an object it leaves without an entry
  // is taken for one of the lost sections'.
  void LoseSections(const std::string& warning) {
    doc_.Warning(warning);
    doc_.load_->SectionsLost = true;
  }

  // Entries are applied oldest first, in the reverse of the order a lookup searches the
  // sections: a section, then its /XRefStm stream, then its /Prev chain. A section
  // reached twice counts where it is reached first, its newest place.
  void Apply() {
    std::vector<int> order;
    std::vector<bool> placed(sections_.size(), false);
    std::vector<int> stack{0};
    while (!stack.empty()) {
      const int index = stack.back();
      stack.pop_back();
      if (index < 0 || placed[static_cast<size_t>(index)]) continue;
      placed[static_cast<size_t>(index)] = true;
      order.push_back(index);
      stack.push_back(sections_[static_cast<size_t>(index)].prev);
      stack.push_back(sections_[static_cast<size_t>(index)].xrefStm);  // searched first
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
      Section& s = sections_[static_cast<size_t>(*it)];
      s.stamp = ++doc_.xrefSections_;
      if (s.isStream) {
        ApplyStream(*s.stream, s.stamp);
      } else {
        // A table's free entries do not hide what its own /XRefStm stream lists: hybrid
        // files mark the objects kept in object streams free in the table.
        const uint32_t ownStream = s.xrefStm >= 0 ? sections_[static_cast<size_t>(s.xrefStm)].stamp : 0;
        ApplyTable(s.offset, s.stamp, ownStream);
      }
      s.stream.reset();
    }
    // The lists grew an entry at a time and are kept for the document's life: the spare
    // room growth left would be a third of their memory.
    doc_.XRefEntries.shrink_to_fit();
    doc_.XRefStreamEntries.shrink_to_fit();
  }

  // Before an entry replaces the one in force for number: an object that a newer section
  // frees, or gives another generation, can no longer be reached by its old generation.
  void NoteReplacement(int64_t number, int64_t newGeneration) {
    const TksXRefItem* table;
    const TksXRefStmItem* stream;
    doc_.EntryInForce(static_cast<int32_t>(number), table, stream);
    int64_t old = -1;
    if (stream && (stream->EntryType == 1 || stream->EntryType == 2))
      old = stream->EntryType == 1 ? stream->Field3 : 0;
    else if (table && table->EntryType == 'n')
      old = table->Generation;
    if (old < 0 || old == newGeneration || old > UINT32_MAX) return;
    doc_.replacedGenerations_.insert(static_cast<uint64_t>(number) << 32 | static_cast<uint64_t>(old));
  }

  // The cross-reference stream at offset, its data decoded. Where none stands, an offset
  // that /Prev gives yields none; any other raises an error.
  std::unique_ptr<TksPDFStreamObject> ReadXRefStreamAt(int64_t offset, bool viaPrev) {
    r_.Seek(static_cast<uint64_t>(offset));
    std::unique_ptr<TksPDFIndirectObject> object;
    try {
      object = doc_.ReadObjectAt();
    } catch (const Exception&) {
      if (!viaPrev) throw;  // a /Prev into other data may meet anything there
    }
    auto* found = object ? AsStream(object->Value.get()) : nullptr;
    if (found && !IsName(found->Dict->Lookup("/Type"), "/XRef") && !found->Dict->Lookup("/W")) found = nullptr;
    if (!found) {
      if (viaPrev) return nullptr;
      throw ECrossReferenceError(ksFormat(ksres::SXRefNotStream, static_cast<long long>(offset)));
    }
    std::unique_ptr<TksPDFStreamObject> stream(static_cast<TksPDFStreamObject*>(object->Value.release()));
    TksPDFObject* filter = doc_.Store->Dereference(stream->Dict->Lookup("/Filter"));
    if (!filter) return stream;  // used as it stands, without prediction
    TksDecodeFilters filters = GetDecodeFilters(filter);
    if (std::find(filters.begin(), filters.end(), ftDCTDecode) != filters.end()) return stream;
    TksDecodeBuffer data =
        doc_.DecodeStreamData(*stream, filter, doc_.DecodeBounds.StructureStream, [offset](const std::string& limit) {
          return ksFormat(ksres::SXRefStreamTooLarge, static_cast<long long>(offset), limit.c_str());
        });

    TksPDFObject* parms = stream->Dict->Lookup("/DecodeParms");
    if (auto* list = AsArray(parms)) {
      parms = nullptr;
      for (int32_t i = 0; i < list->Count() && !parms; ++i)
        if (AsDict(list->GetItem(i))) parms = list->GetItem(i);
    }
    if (auto* dict = AsDict(parms)) {
      std::optional<int64_t> predictor = IntegerValue(dict->Lookup("/Predictor"));
      std::optional<int64_t> columns = IntegerValue(dict->Lookup("/Columns"));
      if (predictor && *predictor > 1 && *predictor < 10)
        throw ECrossReferenceError(ksFormat(ksres::SPredictorUnsupported, static_cast<int>(*predictor)));
      // Only PNG rows are undone; /Predictor 1 says the data are not predicted.
      if (predictor ? *predictor >= 10 : columns.has_value()) {
        int64_t c = columns.value_or(1);
        if (c < 1 || c > (1 << 16)) throw ECrossReferenceError(ksFormat(ksres::SPredictorColumns, static_cast<int>(c)));
        TksCustomPDFDocument::UndoPNGPredictionInPlace(data, static_cast<int32_t>(c));
      }
    }
    stream->Data = data.ToStream();
    return stream;
  }

  void ApplyTable(int64_t offset, uint32_t stamp, uint32_t ownStreamStamp) {
    const int64_t maxNumber = MaxObjectNumber(r_.Size());
    r_.Seek(static_cast<uint64_t>(offset));
    r_.SkipWhiteSpace();
    r_.ReadString(4);  // "xref"
    r_.SkipWhiteSpace();
    while (r_.PeekString(7) != "trailer") {
      std::string firstText = r_.ReadToken();
      std::string countText = r_.ReadToken();
      int64_t first = 0, count = 0;
      const uint64_t left = r_.Size() - std::min(r_.Position(), r_.Size());
      if (!ksTryStrToInt64(firstText, first) || !ksTryStrToInt64(countText, count) || first < 0 || count < 0 ||
          first > INT32_MAX || count > INT32_MAX - first || static_cast<uint64_t>(count) > left / 18)
        throw ECrossReferenceError(ksFormat(ksres::SXRefSubsection, (firstText + " " + countText).c_str()));
      if (count == 0) break;  // a count of 0 ends the section
      for (int64_t k = 0; k < count; ++k) {
        const int64_t number = first + k;
        std::string_view e = r_.ReadString(18);
        auto digits = [&](size_t from, size_t n) {
          for (size_t i = from; i < from + n; ++i)
            if (!IsDigit(e[i])) return false;
          return true;
        };
        if (e.size() < 18 || !digits(0, 10) || e[10] != ' ' || !digits(11, 5) || e[16] != ' ' ||
            (e[17] != 'n' && e[17] != 'f'))
          throw ECrossReferenceError(ksFormat(ksres::SXRefEntry, static_cast<long long>(number)));
        r_.SkipWhiteSpace();  // the entry's line end, two bytes or (in some files) one
        auto& list = doc_.XRefEntries;
        const auto slot = static_cast<size_t>(number);
        if (e[17] == 'f') {
          // A free entry frees what an older section gave, unless this section's own
          // stream lists the object; where nothing is listed there is nothing to free.
          const auto& streams = doc_.XRefStreamEntries;
          const bool inStream = slot < streams.size() && streams[slot];
          if (inStream && ownStreamStamp != 0 && streams[slot]->Section == ownStreamStamp) continue;
          if (!inStream && (slot >= list.size() || !list[slot])) continue;
          NoteReplacement(number, -1);
          if (slot >= list.size()) list.resize(slot + 1);
          list[slot] = TksXRefItem{.Offset = 0, .Generation = 0, .ObjectNumber = static_cast<int32_t>(number),
                                   .Section = stamp, .EntryType = 'f'};
          continue;
        }
        if (number > maxNumber)
          throw ECrossReferenceError(ksFormat(ksres::SXRefObjectNumber, static_cast<long long>(number)));
        int64_t entryOffset = 0;
        int32_t generation = 0;
        ksTryStrToInt64(e.substr(0, 10), entryOffset);
        ksTryStrToInt32(e.substr(11, 5), generation);
        NoteReplacement(number, generation);
        if (slot >= list.size()) list.resize(slot + 1);
        list[slot] = TksXRefItem{.Offset = entryOffset, .Generation = generation,
                                 .ObjectNumber = static_cast<int32_t>(number), .Section = stamp, .EntryType = 'n'};
      }
      r_.SkipWhiteSpace();
    }
  }

  void ApplyStream(const TksPDFStreamObject& stream, uint32_t stamp) {
    const TksPDFDictObject& dict = *stream.Dict;
    auto* w = AsArray(dict.Lookup("/W"));
    int widths[3] = {0, 0, 0};
    if (!w || w->Count() != 3) throw ECrossReferenceError(ksres::SXRefWidths);
    for (int i = 0; i < 3; ++i) {
      std::optional<int64_t> v = IntegerValue(w->GetItem(i));
      if (!v || *v < 0 || *v > 8) throw ECrossReferenceError(ksres::SXRefWidths);
      widths[i] = static_cast<int>(*v);
    }
    const int entryWidth = widths[0] + widths[1] + widths[2];

    std::vector<std::pair<int64_t, int64_t>> ranges;  // (first number, count)
    if (TksPDFObject* indexValue = dict.Lookup("/Index")) {
      auto* index = AsArray(indexValue);
      if (!index) throw ECrossReferenceError(ksres::SXRefIndex);
      for (int32_t i = 0; i + 1 < index->Count(); i += 2) {
        std::optional<int64_t> first = IntegerValue(index->GetItem(i));
        std::optional<int64_t> count = IntegerValue(index->GetItem(i + 1));
        if (!first || !count || *first < 0 || *count < 0 || *first > INT32_MAX || *count > INT32_MAX - *first)
          throw ECrossReferenceError(ksres::SXRefIndex);
        if (*count == 0) break;  // a count of 0 ends the stream's entries
        ranges.push_back({*first, *count});
      }
    } else {
      std::optional<int64_t> size = IntegerValue(dict.Lookup("/Size"));
      if (!size || *size < 0 || *size > INT32_MAX) throw ECrossReferenceError(ksres::SXRefSize);
      if (*size > 0) ranges.push_back({0, *size});
    }
    int64_t announced = 0;
    for (const auto& range : ranges) announced += range.second;
    if (announced == 0) return;
    if (entryWidth == 0) throw ECrossReferenceError(ksres::SXRefWidths);
    const uint8_t* data = stream.Data->data();
    const int64_t available = static_cast<int64_t>(stream.Data->size()) / entryWidth;
    if (announced > available)
      throw ECrossReferenceError(
          ksFormat(ksres::SXRefShort, static_cast<long long>(available), static_cast<long long>(announced)));

    const int64_t maxNumber = MaxObjectNumber(r_.Size());
    auto& list = doc_.XRefStreamEntries;
    for (const auto& [first, count] : ranges) {
      for (int64_t k = 0; k < count; ++k, data += entryWidth) {
        const int64_t number = first + k;
        // A missing type field means type 1.
        int32_t type = widths[0] == 0 ? 1 : static_cast<int32_t>(std::min<uint64_t>(ReadBigEndian(data, widths[0]), INT32_MAX));
        auto field2 = static_cast<int64_t>(ReadBigEndian(data + widths[0], widths[1]) & INT64_MAX);
        auto field3 = static_cast<int64_t>(ReadBigEndian(data + widths[0] + widths[1], widths[2]) & INT64_MAX);
        const bool inUse = type == 1 || type == 2;
        if (!inUse) {
          // Free (or of a type this reader does not know, which stands for null): it frees
          // what an older section gave; where nothing is listed there is nothing to free.
          const auto slot = static_cast<size_t>(number);
          const auto& tables = doc_.XRefEntries;
          if ((slot >= list.size() || !list[slot]) && (slot >= tables.size() || !tables[slot])) continue;
        }
        if (inUse && number > maxNumber)
          throw ECrossReferenceError(ksFormat(ksres::SXRefObjectNumber, static_cast<long long>(number)));
        NoteReplacement(number, type == 1 ? field3 : type == 2 ? 0 : -1);
        if (static_cast<size_t>(number) >= list.size()) list.resize(static_cast<size_t>(number) + 1);
        list[static_cast<size_t>(number)] = TksXRefStmItem{.Field2 = field2, .Field3 = field3, .EntryType = type, .Section = stamp};
      }
    }
  }

  TksCustomPDFDocument& doc_;
  TksPDFStreamReader& r_;
  std::vector<Section> sections_;
};

void TksCustomPDFDocument::TakeTrailerValues(const TksPDFDictObject& trailer) {
  TksPDFTrailer& t = Trailer;
  if (t.RootNumber == -1)
    if (auto* root = AsRef(trailer.Lookup("/Root"))) t.RootNumber = root->ObjectNumber;
  if (!load_->PendingID)
    if (TksPDFObject* id = trailer.Lookup("/ID")) load_->PendingID = id->Clone();
  if (!t.EncryptEntry)
    if (TksPDFObject* encrypt = trailer.Lookup("/Encrypt")) t.EncryptEntry = encrypt->Clone();
  if (!t.InfoReference)
    if (auto* info = AsRef(trailer.Lookup("/Info")))
      t.InfoReference.reset(static_cast<TksPDFIndirectReference*>(info->Clone().release()));
}

void TksCustomPDFDocument::ReadSectionChain(int64_t offset, bool isStream) {
  TksXRefReader(*this).Read(offset, isStream);
}

void TksCustomPDFDocument::ReadXRefTable(int64_t offset) { ReadSectionChain(offset, false); }

void TksCustomPDFDocument::ReadXRefStream(int64_t offset) { ReadSectionChain(offset, true); }

void TksCustomPDFDocument::ReadCrossReference() {
  XRefKind = xkNone;
  load_->PendingID.reset();
  if (load_->Rebuild) {
    RebuildCrossReference();
    NoteObjectStarts();
  } else {
    const int64_t start = load_->Reader->FindStartXRef();
    switch (KindAt(*load_->Reader, start)) {
      case SectionAt::Table:
        XRefKind = xkTable;
        ReadXRefTable(start);
        break;
      case SectionAt::Stream:
        XRefKind = xkStream;
        StatusMessage(ksres::SReadingXRefStream);
        ReadXRefStream(start);
        break;
      case SectionAt::None:
        throw EPDFFileCorruptedError(ksres::SFileCorrupted);
    }
    NoteObjectStarts();
    // The object streams of an encrypted file are still encrypted: they are expanded once
    // a password has opened the document.
    const bool encrypted = Trailer.EncryptEntry && Trailer.EncryptEntry->ObjectType != otNull;
    if (!XRefStreamEntries.empty() && !encrypted) ExpandObjectStreams();
  }

  if (load_->PendingID) {
    TksPDFObjectPtr id = std::move(load_->PendingID);
    if (id->ObjectType == otArray) {
      Trailer.IDArray.reset(static_cast<TksPDFArrayObject*>(id.release()));
    } else if (id->ObjectType == otIndirectReference) {
      if (TksPDFArrayObject* array = ResolveArray(id.get(), false))
        Trailer.IDArray.reset(static_cast<TksPDFArrayObject*>(array->Clone().release()));
    }
    // An /ID of any other kind is no file identifier and is left out.
  }
  // New objects must not take a number that either kind of entry gives.
  Store->LastObjectNumber = static_cast<int32_t>(std::max(XRefEntries.size(), XRefStreamEntries.size()));
}

void TksCustomPDFDocument::ExpandObjectStreams() {
  std::unordered_set<int64_t> expanded;
  for (size_t i = 0; i < XRefStreamEntries.size(); ++i) {
    const auto& entry = XRefStreamEntries[i];
    if (!entry || entry->EntryType != 2) continue;
    const int64_t streamNumber = entry->Field2;
    // An object a later table entry took out of the stream does not make it expandable.
    if (!InObjectStream(static_cast<int32_t>(i), streamNumber)) continue;
    if (!expanded.insert(streamNumber).second) continue;
    if (streamNumber <= 0 || streamNumber > INT32_MAX) continue;
    const auto s = static_cast<int32_t>(streamNumber);

    // Found through either kind of entry: in hybrid files the table lists the stream.
    const int64_t offset = FindObjectOffset(s);
    std::unique_ptr<TksPDFIndirectObject> object;
    if (offset > 0) {
      load_->Reader->Seek(static_cast<uint64_t>(offset));
      object = ReadObjectAtExpecting(s);
    }
    auto* stream = object ? AsStream(object->Value.get()) : nullptr;
    if (!stream) {
      Warning(ksFormat(ksres::SObjStmUnreadable, s));
      continue;
    }
    const TksPDFDictObject& dict = *stream->Dict;
    if (!IsName(Store->Dereference(dict.Lookup("/Type")), "/ObjStm")) continue;

    // Without /Filter the data are used as they stand; LZW is decoded like any other.
    TksPDFObject* filter = Store->Dereference(dict.Lookup("/Filter"));
    std::unique_ptr<TksMemoryStream> decoded;
    if (filter) {
      TksDecodeFilters filters = GetDecodeFilters(filter);
      if (std::find(filters.begin(), filters.end(), ftDCTDecode) != filters.end()) continue;
      decoded = DecodeStreamData(*stream, filter, DecodeBounds.StructureStream, [s](const std::string& limit) {
                  return ksFormat(ksres::SObjStmTooLarge, s, limit.c_str());
                }).ToStream();
    }
    const TksMemoryStream& data = decoded ? *decoded : *stream->Data;

    std::optional<int64_t> count = IntegerValue(Store->Dereference(dict.Lookup("/N")));
    std::optional<int64_t> first = IntegerValue(Store->Dereference(dict.Lookup("/First")));
    if (!count || *count < 0 || static_cast<uint64_t>(*count) > data.size() / 2)
      throw EPDFFileCorruptedError(ksFormat(ksres::SObjStmInvalid, s, "/N"));
    if (!first || *first < 0 || static_cast<uint64_t>(*first) > data.size())
      throw EPDFFileCorruptedError(ksFormat(ksres::SObjStmInvalid, s, "/First"));

    TksPDFStreamReader reader(data.data(), data.size(), DocumentID);
    reader.BorrowStreamData = false;
    uint64_t listPosition = 0;
    for (int64_t k = 0; k < *count; ++k) {
      reader.Seek(listPosition);
      int32_t number = 0;
      int64_t relative = 0;
      if (!ksTryStrToInt32(reader.ReadToken(), number) || !ksTryStrToInt64(reader.ReadToken(), relative) ||
          relative < 0 || static_cast<uint64_t>(relative) > data.size() - static_cast<uint64_t>(*first))
        throw EPDFFileCorruptedError(ksFormat(ksres::SObjStmInvalid, s, "object list"));
      listPosition = reader.Position();
      // Only the copy the entries place here now; an older copy never hides a newer object.
      if (!InObjectStream(number, s) || Store->Find(DocumentID, number, 0)) continue;
      reader.Seek(static_cast<uint64_t>(*first + relative));
      TksPDFObjectPtr value = reader.ParseObject();
      if (auto* wrapped = AsIndirect(value.get())) value = std::move(wrapped->Value);
      if (!value) value = std::make_unique<TksPDFNullObject>();

      // Every object goes into the store unmarked, the catalog and the information
      // dictionary included: the structure walk finds it like any other and marks it
      // only when it reaches it, so what nothing refers to is not written.
      Store->Add(std::make_unique<TksPDFIndirectObject>(DocumentID, number, 0, std::move(value)));
    }
  }
}

std::unique_ptr<TksMemoryStream> TksCustomPDFDocument::UndoPNGPrediction(TksMemoryStream& data, int32_t columns) {
  if (columns < 1) throw ECrossReferenceError(ksFormat(ksres::SPredictorColumns, columns));
  const uint64_t pos = static_cast<uint64_t>(std::clamp<int64_t>(data.Position(), 0, static_cast<int64_t>(data.size())));
  TksDecodeBuffer rows(UINT64_MAX, data.size() - pos);
  rows.Append(data.data() + pos, data.size() - pos);
  UndoPNGPredictionInPlace(rows, columns);
  data.SetPosition(static_cast<int64_t>(data.size()));
  return rows.ToStream();
}

void TksCustomPDFDocument::UndoPNGPredictionInPlace(TksDecodeBuffer& data, int32_t columns) {
  if (columns < 1) throw ECrossReferenceError(ksFormat(ksres::SPredictorColumns, columns));
  uint8_t* bytes = data.data();
  const size_t n = data.size();
  const size_t cols = static_cast<size_t>(columns);
  std::vector<uint8_t> prior(cols, 0), row(cols, 0);
  // A row's output starts before its input (one tag byte less per row so far), so
  // writing never overtakes reading.
  size_t out = 0;
  for (size_t i = 0; i < n;) {
    const uint8_t tag = bytes[i++];
    if (tag > 4) throw EImproperPNGAlgorithm(ksres::SImproperPNG);
    // A last, short row is decoded as far as it goes.
    const size_t take = std::min(cols, n - i);
    for (size_t c = 0; c < take; ++c) {
      const int raw = bytes[i + c];
      const int left = c ? row[c - 1] : 0;
      const int up = prior[c];
      const int upperLeft = c ? prior[c - 1] : 0;
      int predicted = 0;
      switch (tag) {
        case 0: predicted = 0; break;
        case 1: predicted = left; break;
        case 2: predicted = up; break;
        case 3: predicted = (left + up) / 2; break;
        case 4: {
          const int p = left + up - upperLeft;
          const int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upperLeft);
          predicted = pa <= pb && pa <= pc ? left : (pb <= pc ? up : upperLeft);
          break;
        }
      }
      row[c] = static_cast<uint8_t>(raw + predicted);
    }
    std::copy_n(row.begin(), take, bytes + out);
    out += take;
    i += take;
    prior.swap(row);  // row is rewritten before it is read again
  }
  data.Truncate(out);
}
