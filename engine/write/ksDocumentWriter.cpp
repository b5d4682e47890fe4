// Serialisation during a save: values in the context of their object, framed objects,
// streams, the page tree node, catalog, information, cross-reference table and trailer.
#include <algorithm>
#include <charconv>
#include <cstdio>

#include "write/ksDocumentWriter.h"
#include "write/ksXmpVersion.h"
#include "codec/ksFilters.h"
#include "base/ksSyntax.h"
#include "base/ksPDFResStrs.h"
#include "ksPlatform.h"

namespace {

constexpr std::string_view kPageParentLine = "/Parent 3 0 R\r\n";
// Below this, stream data are written from memory: a kernel copy would cost more than it saves.
constexpr size_t kCopyFromSourceAtLeast = 64 * 1024;
// Below this, stream data are compressed by the writer itself rather than ahead.
constexpr size_t kCompressAheadAtLeast = 16 * 1024;
// Bytes written from the mapped source between two hand-backs of its pages.
constexpr int64_t kSourceBytesBetweenPageReleases = 8 << 20;
// A metadata packet decoded for its version beyond this is left as it is.
constexpr uint64_t kMaxMetadataPacket = 64 << 20;
// Ten digits is all a classic cross-reference entry has room for.
constexpr int64_t kMaxXRefOffset = 9999999999LL;

void AppendNumber(std::string& out, int64_t value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

std::string NumberText(int64_t value) {
  std::string s;
  AppendNumber(s, value);
  return s;
}

std::string ReferenceText(int32_t number) { return NumberText(number) + " 0 R"; }

// The text form as a save writes it: references renumbered (or null), pages given their
// "/Parent". An encrypting handler transforms string bytes here under the context
// object's number; context -1 (the trailer's /ID, the encryption dictionary) is never
// encrypted.
class TksSaveTextForm : public TksTextFormHooks {
 public:
  TksSaveTextForm(const TksDocumentWriter& writer, TksCustomPDFDocument& document, int32_t context)
      : writer_(writer), document_(document), context_(context) {}
  int32_t SaveNumberOf(const TksPDFIndirectReference& ref) override { return writer_.SaveNumberOf(ref); }
  std::string_view ParentLine(const TksPDFDictObject& dict) override {
    return IsName(dict.Lookup("/Type"), "/Page") ? kPageParentLine : std::string_view();
  }
  // The string's own bytes are encrypted (never its text through a code page), so binary
  // and non-Latin strings survive.
  bool TransformString(const TksPDFStringObject& s, std::string& out) override {
    if (context_ == -1 || !document_.IsEncryptionEnabled()) return false;
    if (!document_.Encryptor) document_.CreateEncryptionHandler();
    if (!document_.Encryptor->EncryptsStrings()) return false;
    out = document_.EncryptData(s.Bytes(), context_);
    return true;
  }

 private:
  const TksDocumentWriter& writer_;
  TksCustomPDFDocument& document_;
  int32_t context_;
};


}  // namespace

// ---- the save ----

bool TksDocumentWriter::IsWritten(const TksPDFIndirectObject& object) const {
  if (object.UseCount <= 0) return false;
  // A reference to a null object means null: it is written so, and the object is not.
  if (!object.Value || object.Value->ObjectType == otNull) return false;
  // The old form of what the writer rebuilds stays out, however it was reached.
  return object.DocumentID != doc_.DocumentID || !doc_.RebuiltAs(object.ObjectNumber) ||
         (saveStore_ && saveStore_->Find(object) == &object);
}

void TksDocumentWriter::NumberObjects() {
  for (TksPDFObjectStore* store : {doc_.Store.get(), saveStore_.get()}) {
    for (int32_t i = 0; i < store->Count(); ++i) {
      TksPDFIndirectObject* object = store->Items(i);
      object->SaveNumber = IsWritten(*object) ? ++nextNumber_ : 0;
    }
  }
}

void TksDocumentWriter::Write() {
  // The reserved numbers: catalog 1, information 2, page tree 3.
  offsets_.clear();
  encryptNumber_ = 0;
  doc_.Info().SetProducer(ksplatform::Utf8ToUtf16(ksconst::ProducerText));
  // A handler made by an earlier save is kept, so its identifier and keys stay the same.
  if (doc_.IsEncryptionEnabled() && !doc_.Encryptor) doc_.CreateEncryptionHandler();
  nextNumber_ = 3;
  // A page of the page list is always written (the page tree would otherwise have a
  // dangling kid); marked before the outlines are built, which keep items by it.
  for (TksPDFIndirectObject* page : doc_.Pages)
    if (page && page->UseCount <= 0 && doc_.Store->Find(*page) == page) page->MarkUsed();
  saveStore_ = std::make_unique<TksPDFObjectStore>();
  doc_.StatusMessage(ksres::SBuildingOutlines);
  doc_.BuildOutlines(*saveStore_);
  doc_.StatusMessage(ksres::SBuildingObjects);
  NumberObjects();
  metadataObject_ = nullptr;
  if (const auto* ref = AsRef(doc_.Catalog->Metadata.get())) metadataObject_ = FindWritten(doc_, saveStore_.get(), *ref);
  output_->WriteText(HeaderText(doc_.PDFVersion));
  WriteCatalog();
  WriteInformation();
  WritePageTree();
  if (doc_.IsEncryptionEnabled()) WriteEncryptionDictionary();
  doc_.StatusMessage(ksres::SWritingXRefTable);
  WriteCrossReference();
}

// ---- lookups ----

TksPDFIndirectObject* TksDocumentWriter::FindWritten(const TksCustomPDFDocument& doc, const TksPDFObjectStore* built,
                                                    const TksPDFIndirectReference& ref) {
  TksPDFIndirectObject* found =
      ref.DocumentID == doc.DocumentID ? doc.FindLoaded(ref.ObjectNumber, ref.Generation) : doc.Store->Find(ref);
  if ((!found || found->SaveNumber == 0) && built)
    if (TksPDFIndirectObject* object = built->Find(ref)) return object;
  return found;
}

int32_t TksDocumentWriter::SaveNumberOf(const TksCustomPDFDocument& doc, const TksPDFObjectStore* built,
                                        const TksPDFIndirectReference& ref) {
  // A reference to the source's catalog, information or a page tree node names the
  // object written in its place.
  if (ref.DocumentID == doc.DocumentID)
    if (auto as = doc.RebuiltAs(ref.ObjectNumber); as && *as != TksCustomPDFDocument::rbOutlineItem) return *as;
  const TksPDFIndirectObject* target = FindWritten(doc, built, ref);
  return target ? target->SaveNumber : 0;
}

// ---- text forms ----

std::string TksDocumentWriter::KeyLine(std::string_view key, std::string_view value) {
  if (value.empty()) return std::string();
  std::string line;
  line.reserve(key.size() + value.size() + 3);
  line.append(key);
  line.push_back(' ');
  line.append(value);
  line += "\r\n";
  return line;
}

std::string TksDocumentWriter::HeaderText(TksPDFVersion version) {
  return std::string("%PDF-") + PDFVersionText(version) + "\r\n%\xE2\xE3\xCF\xD3\r\n";
}

std::string TksDocumentWriter::XRefEntry(int64_t offset, int32_t generation, char letter) {
  if (offset < 0 || offset > kMaxXRefOffset)
    throw ESaveError(ksFormat(ksres::SOffsetTooLarge, NumberText(offset).c_str()));
  if (generation < 0 || generation > 99999) {
    char line[48];
    int n = std::snprintf(line, sizeof line, "%.10lld %.5d %c\r\n", static_cast<long long>(offset), generation, letter);
    return std::string(line, static_cast<size_t>(n));
  }
  // One entry per object: digits placed by hand rather than through printf.
  std::string line = "0000000000 00000 n\r\n";
  for (int i = 9; offset > 0; --i, offset /= 10) line[static_cast<size_t>(i)] = static_cast<char>('0' + offset % 10);
  for (int i = 15; generation > 0; --i, generation /= 10) line[static_cast<size_t>(i)] = static_cast<char>('0' + generation % 10);
  line[17] = letter;
  return line;
}

std::string TksDocumentWriter::ValueText(int32_t context, const TksPDFObject* value) {
  if (value && value->ObjectType == otStream) {
    std::unique_ptr<TksPDFDictObject> dict;
    std::string owned;
    std::string_view bytes;
    PrepareStream(context, *static_cast<const TksPDFStreamObject*>(value), dict, owned, bytes);
    TksSaveTextForm form(*this, doc_, context);
    std::string text = ObjectToText(dict.get(), &form);
    text += kStreamDataOpen;
    text.append(bytes);
    text += kStreamDataClose;
    return text;
  }
  TksSaveTextForm form(*this, doc_, context);
  return ObjectToText(value, &form);
}

// ---- streams ----

bool TksDocumentWriter::EncryptBytesForSave(int32_t objectNumber, const TksPDFDictObject* dict,
                                               std::string_view bytes, std::string& encrypted) {
  if (!doc_.IsEncryptionEnabled()) return false;
  if (!doc_.Encryptor) doc_.CreateEncryptionHandler();
  if (!doc_.Encryptor->EncryptsStream(dict)) return false;
  encrypted = doc_.EncryptData(bytes, objectNumber, dict);
  return true;
}

void TksDocumentWriter::WriteEncryptionDictionary() {
  std::unique_ptr<TksPDFDictObject> dict = doc_.BuildEncryptionDictionary();
  encryptNumber_ = static_cast<int32_t>(offsets_.size()) + 1;
  // Context -1: the dictionary's own strings are the keys, never encrypted.
  WriteFramedObject(encryptNumber_, ValueText(-1, dict.get()));
}

bool TksDocumentWriter::RewriteMetadataVersion(const TksPDFDictObject& dict, std::string_view bytes,
                                               std::string& rewritten) {
  // Packets are stored unfiltered as a rule, so that readers find them; Flate alone (as
  // some writers compress them) is undone and done again, other filters stay as they are.
  const TksPDFObject* filter = dict.Lookup("/Filter");
  if (filter && filter->ObjectType == otArray && AsArray(filter)->Count() == 1) filter = AsArray(filter)->GetItem(0);
  const bool flate = IsName(filter, "/FlateDecode");
  const TksPDFObject* parms = dict.Lookup("/DecodeParms");
  const bool unfiltered = !filter || filter->ObjectType == otNull || (filter->ObjectType == otArray && AsArray(filter)->Count() == 0);
  if (!unfiltered && !(flate && (!parms || parms->ObjectType == otNull))) {
    doc_.Warning(ksres::SXmpFiltered);
    return false;
  }
  std::string packet;
  if (flate) {
    try {
      packet = FlateDecode(bytes, kMaxMetadataPacket);
    } catch (const Exception&) {
      doc_.Warning(ksres::SXmpUnparsed);
      return false;
    }
  } else {
    packet.assign(bytes);
  }
  switch (SetXmpPDFVersion(packet, PDFVersionText(doc_.PDFVersion))) {
    case TksXmpVersionResult::Rewritten:
      rewritten = flate ? FlateCompress(packet, 2) : std::move(packet);
      return true;
    case TksXmpVersionResult::Unparsed:
      doc_.Warning(ksres::SXmpUnparsed);
      return false;
    default:
      return false;
  }
}

void TksDocumentWriter::PrepareStream(int32_t context, const TksPDFStreamObject& stream,
                                         std::unique_ptr<TksPDFDictObject>& dict, std::string& owned,
                                         std::string_view& bytes, bool catalogMetadata) {
  // The document's own stream is never changed by a save: everything below works on copies.
  dict = stream.Dict ? stream.Dict->CloneDict() : std::make_unique<TksPDFDictObject>();
  bytes = stream.Data ? stream.Data->View() : std::string_view();

  // The packet says the version the header says; encryption (or its absence under
  // /EncryptMetadata false) follows as for any stream.
  if (catalogMetadata && RewriteMetadataVersion(*dict, bytes, owned)) bytes = owned;

  // Works on copies: the stream keeps the bytes it was read with for a later save. The
  // data are compressed from where they are (a worker thread may have done it already).
  if (doc_.Compression.Enabled && CompressesOnSave(doc_.Compression, *doc_.Store, *dict)) {
    std::string packed;
    if (!compressAhead_ || !compressAhead_->Take(&stream, packed)) packed = CompressStreamData(doc_.Compression, bytes);
    owned = ApplyCompressionOnSave(doc_.Compression, *doc_.Store, *dict, std::string(), &packed);
    bytes = owned;
  }

  std::string encrypted;
  if (context != -1 && EncryptBytesForSave(context, dict.get(), bytes, encrypted)) {
    owned = std::move(encrypted);
    bytes = owned;
  }

  // A "/Length" that disagrees with the bytes (a damaged source whose data were recovered)
  // would make the output unreadable; the bytes written decide it. It is always written
  // directly: the walk does not keep the objects that held lengths.
  const int64_t declared = IntegerValue(dict->Lookup("/Length")).value_or(-1);
  const int64_t actual = static_cast<int64_t>(bytes.size());
  if (declared != actual) {
    if (actual <= INT32_MAX)
      dict->SetInteger("/Length", static_cast<int32_t>(actual));
    else
      dict->SetObject("/Length", std::make_unique<TksPDFInt64Object>(actual));
  }
}

// ---- framing ----

void TksDocumentWriter::RecordOffset(int32_t number) {
  // Entry i of the offsets belongs to object i + 1: objects must arrive in number order.
  if (number != static_cast<int32_t>(offsets_.size()) + 1) throw EUnexpectedError(ksres::SUnexpectedError);
  int64_t offset = output_->Position();
  if (offset > kMaxXRefOffset) throw ESaveError(ksFormat(ksres::SOffsetTooLarge, NumberText(offset).c_str()));
  offsets_.push_back(offset);
}

void TksDocumentWriter::WriteFramedObject(int32_t number, std::string_view body) {
  RecordOffset(number);
  std::string head = "\r\n";
  AppendNumber(head, number);
  head += " 0 obj\r\n";
  output_->WriteText(head);
  output_->WriteText(body);
  output_->WriteText("\r\nendobj\r\n");
}

void TksDocumentWriter::WriteStreamObject(TksPDFIndirectObject& object, const TksPDFStreamObject& stream) {
  std::unique_ptr<TksPDFDictObject> dict;
  std::string owned;
  std::string_view bytes;
  PrepareStream(object.SaveNumber, stream, dict, owned, bytes, &object == metadataObject_);
  RecordOffset(object.SaveNumber);
  TksSaveTextForm form(*this, doc_, object.SaveNumber);
  std::string head = "\r\n";
  AppendNumber(head, object.SaveNumber);
  head += " 0 obj\r\n";
  AppendObjectText(head, dict.get(), &form);
  head += kStreamDataOpen;
  output_->WriteText(head);
  // Straight from the stream's data: a large stream is never copied into one text, and
  // one still in the source file is copied from the file.
  auto inSource = [this](std::string_view data) {
    const auto* at = reinterpret_cast<const uint8_t*>(data.data());
    return doc_.SourceFile && !data.empty() && at >= doc_.SourceFile->data() &&
           at + data.size() <= doc_.SourceFile->data() + doc_.SourceFile->size();
  };
  if (inSource(bytes) && bytes.size() >= kCopyFromSourceAtLeast) {
    output_->CopyFromFile(doc_.SourceFile->fd(), reinterpret_cast<const uint8_t*>(bytes.data()) - doc_.SourceFile->data(),
                          static_cast<int64_t>(bytes.size()));
  } else {
    output_->WriteText(bytes);
  }
  // The pages of the source around the data (its dictionary read by the load, the data
  // read through the mapping unless the kernel copied them) are resident; they are handed
  // back now and then, only the range passed since the last time, so the cost follows
  // the bytes written rather than the size of the source.
  const std::string_view read = stream.Data ? stream.Data->View() : std::string_view();
  if (inSource(read)) {
    const int64_t at = reinterpret_cast<const uint8_t*>(read.data()) - doc_.SourceFile->data();
    releaseFrom_ = std::min(releaseFrom_, std::max<int64_t>(at - 4096, 0));
    releaseTo_ = std::max(releaseTo_, at + static_cast<int64_t>(read.size()) + 4096);
    sourceBytesSincePageRelease_ += static_cast<int64_t>(read.size()) + 4096;
    if (sourceBytesSincePageRelease_ >= kSourceBytesBetweenPageReleases) {
      doc_.SourceFile->ReleasePages(static_cast<uint64_t>(releaseFrom_), static_cast<uint64_t>(releaseTo_ - releaseFrom_));
      sourceBytesSincePageRelease_ = 0;
      releaseFrom_ = INT64_MAX;
      releaseTo_ = 0;
    }
  }
  output_->WriteText(kStreamDataClose);
  output_->WriteText("\r\nendobj\r\n");
}

void TksDocumentWriter::WriteIndirectObject(TksPDFIndirectObject& object) {
  TksPDFObject* value = object.Value.get();
  if (value && value->ObjectType == otStream) {
    WriteStreamObject(object, *static_cast<const TksPDFStreamObject*>(value));
    return;
  }
  // An object without a value is written as null, never as an empty body.
  WriteFramedObject(object.SaveNumber, value ? ValueText(object.SaveNumber, value) : std::string("null"));
}

// ---- the page tree node and the objects ----

void TksDocumentWriter::WritePageTree() {
  doc_.StatusMessage(ksres::SWritingPages);
  std::string kids = "[ ";
  int32_t count = 0;
  for (TksPDFIndirectObject* page : doc_.Pages) {
    // Only pages that are being written can be kids; anything else would be a dangling kid.
    if (!page || page->SaveNumber <= 0) continue;
    if (doc_.Store->Find(*page) != page && !(saveStore_ && saveStore_->Find(*page) == page)) continue;
    kids += ReferenceText(page->SaveNumber);
    kids.push_back(' ');
    ++count;
  }
  kids.push_back(']');
  pagesWritten_ = count;
  std::string body = "<<\r\n/Type /Pages\r\n/Count ";
  AppendNumber(body, count);
  body += "\r\n/Kids ";
  body += kids;
  body += "\r\n>>";
  WriteFramedObject(3, body);

  // With compression on, worker threads compress the streams ahead of the one being
  // written: a cursor runs over the same objects in the same order and queues them.
  std::unique_ptr<TksCompressAhead> ahead;
  const unsigned threads = doc_.Compression.Enabled ? TksCompressAhead::ThreadsFor(doc_.SaveThreads) : 1;
  if (threads > 1) ahead = std::make_unique<TksCompressAhead>(doc_.Compression, threads);
  compressAhead_ = ahead.get();
  struct ClearOnExit {
    TksCompressAhead*& ahead;
    ~ClearOnExit() { ahead = nullptr; }
  } clear{compressAhead_};
  TksPDFObjectStore* const stores[] = {doc_.Store.get(), saveStore_.get()};
  size_t aheadStore = 0;
  int32_t aheadIndex = 0;
  auto queueAhead = [&] {
    while (ahead && aheadStore < std::size(stores) && ahead->HasRoom()) {
      TksPDFObjectStore* store = stores[aheadStore];
      if (!store || aheadIndex >= store->Count()) {
        ++aheadStore;
        aheadIndex = 0;
        continue;
      }
      const TksPDFIndirectObject* object = store->Items(aheadIndex++);
      if (const TksPDFStreamObject* stream = ToCompressAhead(*object)) ahead->Submit(stream, stream->Data->View());
    }
  };

  const int64_t total = static_cast<int64_t>(doc_.Store->Count()) + (saveStore_ ? saveStore_->Count() : 0);
  int64_t visited = 0;
  for (TksPDFObjectStore* store : stores) {
    if (!store) continue;
    for (int32_t i = 0; i < store->Count(); ++i) {
      queueAhead();
      TksPDFIndirectObject* object = store->Items(i);
      if (object->SaveNumber > 0) WriteIndirectObject(*object);  // numbered by NumberObjects
      ++visited;
      doc_.IOProgress(static_cast<int>(visited * 100 / total));
    }
  }
}

const TksPDFStreamObject* TksDocumentWriter::ToCompressAhead(const TksPDFIndirectObject& object) const {
  // The packet of the catalog's metadata changes before it is compressed; small data
  // cost less to compress than to hand over.
  if (object.SaveNumber <= 0 || &object == metadataObject_) return nullptr;
  const TksPDFStreamObject* stream = AsStream(object.Value.get());
  if (!stream || !stream->Data || stream->Data->View().size() < kCompressAheadAtLeast) return nullptr;
  static const TksPDFDictObject kNoEntries;
  try {
    return CompressesOnSave(doc_.Compression, *doc_.Store, stream->Dict ? *stream->Dict : kNoEntries) ? stream
                                                                                                      : nullptr;
  } catch (const std::exception&) {
    return nullptr;  // raised again, with its message, when the writer reaches it
  }
}

// ---- catalog and information ----

void TksDocumentWriter::WriteCatalog() {
  TksPDFCatalog& c = *doc_.Catalog;
  std::string body = "<<\r\n";
  catalogKeys_.clear();
  wroteExtensions_ = false;
  auto entry = [&](std::string_view key, std::string_view value) {
    std::string line = KeyLine(key, value);
    if (!line.empty()) catalogKeys_.emplace_back(key);
    body += line;
  };
  entry("/Type", "/Catalog");
  entry("/Pages", ReferenceText(3));
  entry("/Metadata", ValueText(1, c.Metadata.get()));
  entry("/PageMode", doc_.PageModeName());
  entry("/PageLayout", doc_.PageLayoutName());
  entry("/Names", ValueText(1, c.Names.get()));
  entry("/Outlines", ValueText(1, c.Outlines.get()));
  TksSaveTextForm form(*this, doc_, 1);
  entry("/ViewerPreferences", c.ViewerPreferences.CatalogText(&form));
  entry("/AcroForm", ValueText(1, c.AcroForm.get()));
  entry("/OpenAction", ValueText(1, c.OpenAction.get()));
  entry("/AA", ValueText(1, c.AA.get()));
  // AES-256 came to 1.7 as an extension before 2.0 took it in: readers of 1.7 that know
  // the extension open the file once the catalog declares it (level 3 for revision 5, 8
  // for revision 6).
  wroteExtensions_ =
      doc_.PDFVersion == pvPDF17 && doc_.IsEncryptionEnabled() && doc_.Encryptor && doc_.Encryptor->Version == 5;
  if (wroteExtensions_)
    entry("/Extensions", doc_.Encryptor->Revision == 5 ? "<< /ADBE << /BaseVersion /1.7 /ExtensionLevel 3 >> >>"
                                                       : "<< /ADBE << /BaseVersion /1.7 /ExtensionLevel 8 >> >>");
  // What the catalog does not build (structure tree, language, page labels, layers, ...)
  // follows, so a conversion loses none of it.
  if (c.OtherEntries) {
    const TksPDFDictObject& other = *c.OtherEntries;
    for (int32_t i = 0; i < other.Count(); ++i) {
      const std::string& key = other.KeyAt(i)->Text();
      if (TksPDFCatalog::IsBuiltKey(key)) continue;
      entry(key, ValueText(1, other.ValueAt(i)));
    }
  }
  body += ">>";
  WriteFramedObject(1, body);
}

void TksDocumentWriter::WriteInformation() { WriteFramedObject(2, ValueText(2, &doc_.Info().Dictionary())); }

// ---- cross-reference table and trailer ----

void TksDocumentWriter::WriteCrossReference() {
  const int64_t xrefPosition = output_->Position();
  xrefPosition_ = xrefPosition;
  const int32_t size = static_cast<int32_t>(offsets_.size()) + 1;
  std::string head = "xref\r\n0 ";
  AppendNumber(head, size);
  head += "\r\n";
  head += XRefEntry(0, 65535, 'f');
  output_->WriteText(head);
  std::string block;
  block.reserve(20 * 4096);
  for (int64_t offset : offsets_) {
    block += XRefEntry(offset, 0, 'n');
    if (block.size() >= 20 * 4096) {
      output_->WriteText(block);
      block.clear();
    }
  }
  output_->WriteText(block);

  std::string trailer = "trailer\r\n<<\r\n";
  trailer += KeyLine("/Size", NumberText(size));
  trailer += KeyLine("/Root", ReferenceText(1));
  trailer += KeyLine("/Info", ReferenceText(2));
  if (doc_.Trailer.IDArray) trailer += KeyLine("/ID", ValueText(-1, doc_.Trailer.IDArray.get()));
  if (encryptNumber_ > 0) trailer += KeyLine("/Encrypt", ReferenceText(encryptNumber_));
  trailer += ">>\r\nstartxref\r\n";
  AppendNumber(trailer, xrefPosition);
  trailer += "\r\n%%EOF\r\n";
  output_->WriteText(trailer);
}
