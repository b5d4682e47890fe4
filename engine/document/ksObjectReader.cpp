// Reading single objects from the source file.
#include <algorithm>

#include "document/ksCstPDFDoc.h"
#include "parse/ksPDFParsers.h"
#include "base/ksPDFResStrs.h"
#include "ksPlatform.h"

namespace {

// Objects read from the source between two hand-backs of its pages (about 2 MB of a
// file of small objects). A large stream counts as many: reading one touches pages at
// its start and at its end, far apart, each with the pages the system maps around it.
constexpr int kObjectsBetweenPageReleases = 16384;
constexpr uint64_t kStreamBytesPerObject = 16384;

// An indirect /Length may name a stream whose own /Length is indirect; the chain is
// followed this far only, so a loop of such objects ends.
constexpr int kMaxLengthReads = 8;

}  // namespace

void TksCustomPDFDocument::EntryInForce(int32_t number, const TksXRefItem*& table,
                                        const TksXRefStmItem*& stream) const {
  table = nullptr;
  stream = nullptr;
  if (number < 0) return;
  const auto n = static_cast<size_t>(number);
  const TksXRefItem* t = n < XRefEntries.size() && XRefEntries[n] ? &*XRefEntries[n] : nullptr;
  const TksXRefStmItem* s = n < XRefStreamEntries.size() && XRefStreamEntries[n] ? &*XRefStreamEntries[n] : nullptr;
  // The entry of the section applied later is the newer one, a free entry included.
  if (s && (!t || s->Section > t->Section))
    stream = s;
  else
    table = t;
}

int64_t TksCustomPDFDocument::FindObjectOffset(int32_t objectNumber) const {
  const TksXRefItem* table;
  const TksXRefStmItem* stream;
  EntryInForce(objectNumber, table, stream);
  if (stream) return stream->EntryType == 1 ? stream->Field2 : 0;
  if (table) return table->EntryType == 'n' ? table->Offset : 0;
  return 0;
}

bool TksCustomPDFDocument::ReferenceGone(int32_t objectNumber, int32_t generation) const {
  const TksXRefItem* table;
  const TksXRefStmItem* stream;
  EntryInForce(objectNumber, table, stream);
  int64_t current = 0;
  if (stream) {
    // Types other than 1 and 2 stand for the null object.
    if (stream->EntryType != 1 && stream->EntryType != 2) return true;
    current = stream->EntryType == 1 ? stream->Field3 : 0;
  } else if (table) {
    if (table->EntryType != 'n') return true;
    current = table->Generation;
  } else {
    return false;  // no entry: an object made here, or one the file lacks
  }
  if (generation == kAnyGeneration || generation == current || replacedGenerations_.empty()) return false;
  return replacedGenerations_.count(static_cast<uint64_t>(static_cast<uint32_t>(objectNumber)) << 32 |
                                    static_cast<uint32_t>(generation)) != 0;
}

bool TksCustomPDFDocument::InObjectStream(int32_t number, int64_t streamNumber) const {
  const TksXRefItem* table;
  const TksXRefStmItem* stream;
  EntryInForce(number, table, stream);
  return stream && stream->EntryType == 2 && stream->Field2 == streamNumber;
}


std::unique_ptr<TksPDFIndirectObject> TksCustomPDFDocument::ReadObjectAt() { return ReadObjectAtExpecting(-1); }

std::unique_ptr<TksPDFIndirectObject> TksCustomPDFDocument::ReadObject(int32_t objectNumber, int32_t generation) {
  if (!load_ || ReferenceGone(objectNumber, generation)) return nullptr;
  // A source cut short reads as zeros from where it ends: the read stops at the next
  // object instead of going on with them.
  if (SourceFile && SourceFile->Faulted()) CheckSourceReadWhole();
  int64_t offset = FindObjectOffset(objectNumber);
  if (offset <= 0) {
    if (load_->SectionsLost && objectNumber > 0) {
      const TksXRefItem* table;
      const TksXRefStmItem* stream;
      EntryInForce(objectNumber, table, stream);
      if (!table && !stream) throw ECrossReferenceError(ksFormat(ksres::SXRefNoEntry, objectNumber));
    }
    return nullptr;
  }
  load_->Reader->Seek(static_cast<uint64_t>(offset));
  // The cross-reference data promise the object here; anything else means they are
  // wrong, and going on would silently drop whatever the object holds.
  int32_t number = 0, headerGeneration = 0;
  if (!load_->Reader->PeekObjectHeader(number, headerGeneration) || number != objectNumber)
    throw ECrossReferenceError(ksFormat(ksres::SObjectNotAtOffset, objectNumber, static_cast<long long>(offset)));
  std::unique_ptr<TksPDFIndirectObject> object;
  try {
    object = ReadObjectAtExpecting(objectNumber);
  } catch (Exception& e) {
    e.NoteObject(objectNumber, offset);
    throw;
  }
  if (object) resolver_->CheckGeneration(*object, generation);
  ++load_->ObjectsSincePageRelease;
  if (TksPDFStreamObject* stream = object ? AsStream(object->Value.get()) : nullptr)
    if (stream->Data)
      load_->ObjectsSincePageRelease += static_cast<int>(std::min<uint64_t>(stream->Data->size() / kStreamBytesPerObject,
                                                                        kObjectsBetweenPageReleases));
  if (SourceFile && load_->ObjectsSincePageRelease >= kObjectsBetweenPageReleases) {
    SourceFile->ReleasePages();
    load_->ObjectsSincePageRelease = 0;
  }
  return object;
}

std::unique_ptr<TksPDFIndirectObject> TksCustomPDFDocument::ReadObjectAtExpecting(int32_t expectedNumber) {
  if (!load_ || load_->Reader->Position() == 0) return nullptr;
  // Where no object header stands, or the header names another object (a wrong
  // offset in a damaged file), there is no object to read.
  int32_t number = 0, generation = 0;
  if (!load_->Reader->PeekObjectHeader(number, generation) || (expectedNumber >= 0 && number != expectedNumber)) {
    // The object is lost to this document; a conversion must not pass that over in silence.
    if (expectedNumber >= 0) Warning(ksFormat(ksres::SObjectLeftOut, expectedNumber));
    return nullptr;
  }
  TksPDFObjectPtr value = load_->Reader->ParseObject();
  if (!value || value->ObjectType != otIndirectObject) return nullptr;
  std::unique_ptr<TksPDFIndirectObject> object(static_cast<TksPDFIndirectObject*>(value.release()));
  if (auto* stream = AsStream(object->Value.get())) ReadStreamDataFor(*object, *stream);
  return object;
}

std::optional<int64_t> TksCustomPDFDocument::ResolveStreamLength(TksPDFObject* value) {
  if (std::optional<int64_t> direct = IntegerValue(value)) return direct;
  auto* ref = AsRef(value);
  if (!ref) return std::nullopt;
  TksPDFIndirectObject* target = FindLoaded(ref->ObjectNumber, ref->Generation);
  if (!target && load_->LengthReads < kMaxLengthReads) {
    // The length is read into the store unmarked. The writer gives every stream a direct
    // /Length, so it is written only when something else refers to it.
    uint64_t saved = load_->Reader->Position();
    ++load_->LengthReads;
    std::unique_ptr<TksPDFIndirectObject> read;
    try {
      read = ReadObject(ref->ObjectNumber, ref->Generation);
    } catch (const Exception&) {
      read.reset();  // an unreadable length object leaves the length unknown
    }
    --load_->LengthReads;
    load_->Reader->Seek(saved);
    if (read) target = AddLoaded(std::move(read));
  }
  return target ? IntegerValue(target->Value.get()) : std::nullopt;
}

void TksCustomPDFDocument::NoteObjectStarts() {
  auto& starts = load_->ObjectStarts;
  starts.clear();
  for (const auto& e : XRefEntries)
    if (e && e->EntryType == 'n' && e->Offset > 0) starts.push_back(static_cast<uint64_t>(e->Offset));
  for (const auto& e : XRefStreamEntries)
    if (e && e->EntryType == 1 && e->Field2 > 0) starts.push_back(static_cast<uint64_t>(e->Field2));
  if (!std::is_sorted(starts.begin(), starts.end())) std::sort(starts.begin(), starts.end());
}

void TksCustomPDFDocument::ReadStreamDataFor(TksPDFIndirectObject& object, TksPDFStreamObject& stream) {
  const uint64_t streamKeyword = load_->Reader->Position();
  // Cross-reference streams, and a metadata stream the producer left in clear, are read
  // as they stand even when the document is encrypted.
  struct DecryptorGuard {
    TksPDFStreamReader& reader;
    TksPDFDecryptor* saved;
    ~DecryptorGuard() { reader.Decryptor = saved; }
  } guard{*load_->Reader, load_->Reader->Decryptor};
  // Streams of another method than the reader's (embedded files under "/EFF") are read as
  // they stand and decrypted here.
  const bool otherMethod = load_->Reader->Decryptor && Decryptor &&
                           Decryptor->StreamMethodFor(stream.Dict.get()) != Decryptor->StreamMethod;
  if (otherMethod) load_->Reader->Decryptor = nullptr;
  // The next object the entries place after this one: the data cannot reach into it.
  const auto& starts = load_->ObjectStarts;
  const auto next = std::upper_bound(starts.begin(), starts.end(), streamKeyword);
  const uint64_t limit = next == starts.end() ? UINT64_MAX : *next;
  auto readWith = [&](int64_t length) {
    load_->Reader->Seek(streamKeyword);
    stream.Data = load_->Reader->ReadStreamData(length, object.ObjectNumber, object.Generation, limit);
    if (otherMethod) Decryptor->DecryptData(stream.Data->Buffer(), object.ObjectNumber, object.Generation, stream.Dict.get());
    // Data found through the "endstream" search are a guess (a stream whose data hold the
    // word is cut there): that is reported, unless only the end-of-line was miscounted.
    if (load_->Reader->LastLengthFit != TksPDFStreamReader::lfRecovered) return;
    const auto size = static_cast<unsigned long long>(stream.Data->size());
    RepeatedWarning(rfLengthRepaired,
                    length >= 0 ? ksFormat(ksres::SLengthRepaired, object.ObjectNumber, static_cast<long long>(length), size)
                                : ksFormat(ksres::SLengthMissing, object.ObjectNumber, size));
  };
  auto usable = [](const std::optional<int64_t>& length) { return length && *length >= 0; };

  std::optional<int64_t> length = ResolveStreamLength(stream.Dict->Lookup("/Length"));
  if (usable(length)) {
    try {
      readWith(*length);
      return;
    } catch (const Exception&) {
      // retried below with /Length1
    }
    std::optional<int64_t> length1 = ResolveStreamLength(stream.Dict->Lookup("/Length1"));
    if (usable(length1)) {
      readWith(*length1);
      return;
    }
    stream.Data = std::make_unique<TksMemoryStream>();
    Warning(ksFormat(ksres::SStreamDataUnreadable, object.ObjectNumber));
    return;
  }
  std::optional<int64_t> length1 = ResolveStreamLength(stream.Dict->Lookup("/Length1"));
  if (usable(length1)) {
    readWith(*length1);
    return;
  }
  // No length at all: the data run up to "endstream", which must be there.
  try {
    readWith(-1);
  } catch (const EEndStreamError&) {
    throw EEndStreamError(ksFormat(ksres::SNoEndstream, object.ObjectNumber));
  }
}
