// The writer of one save: it numbers what is written, serialises objects, the page tree
// node, catalog and information, and ends with the cross-reference table and trailer.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "write/ksCompressAhead.h"

// Lives for exactly one save (or, without an output, for forming the text of one value):
// the offsets, numbers and objects built for the output are its own and go with it. The
// document is read, apart from what a save records there: save numbers of its objects,
// the encrypting handler made on first need and the trailer's new /ID.
class TksDocumentWriter {
 public:
  TksDocumentWriter(TksCustomPDFDocument& document, TksStream* output) : doc_(document), output_(output) {}
  TksDocumentWriter(const TksDocumentWriter&) = delete;
  TksDocumentWriter& operator=(const TksDocumentWriter&) = delete;

  // The whole document, header to trailer.
  void Write();
  // The text of value as written in object context (-1: never encrypted).
  std::string ValueText(int32_t context, const TksPDFObject* value);
  // SaveNumber of the object a reference names (document store, then the objects this save
  // built); 0 when it is not being written.
  int32_t SaveNumberOf(const TksPDFIndirectReference& ref) const { return SaveNumberOf(doc_, saveStore_.get(), ref); }
  // The same for doc, with built the objects a running save made (none outside a save).
  static int32_t SaveNumberOf(const TksCustomPDFDocument& doc, const TksPDFObjectStore* built,
                              const TksPDFIndirectReference& ref);

  // The object a reference names for the output: the document's, or one the save built.
  static TksPDFIndirectObject* FindWritten(const TksCustomPDFDocument& doc, const TksPDFObjectStore* built,
                                           const TksPDFIndirectReference& ref);

  // What the save wrote, for reading the file back: the offset of object i + 1 at i,
  // the table's position, the catalog's keys in order, the pages the page tree lists.
  const std::vector<int64_t>& Offsets() const { return offsets_; }
  int64_t XRefPosition() const { return xrefPosition_; }
  const std::vector<std::string>& CatalogKeys() const { return catalogKeys_; }
  // Whether the catalog declares the extension its encryption needs (never the source's).
  bool WroteExtensions() const { return wroteExtensions_; }
  int32_t PagesWritten() const { return pagesWritten_; }

  static std::string KeyLine(std::string_view key, std::string_view value);
  static std::string HeaderText(TksPDFVersion version);
  static std::string XRefEntry(int64_t offset, int32_t generation, char letter);

 private:
  bool IsWritten(const TksPDFIndirectObject& object) const;
  void NumberObjects();
  void WriteCatalog();
  void WriteInformation();
  void WritePageTree();
  void WriteIndirectObject(TksPDFIndirectObject& object);
  void WriteStreamObject(TksPDFIndirectObject& object, const TksPDFStreamObject& stream);
  void WriteFramedObject(int32_t number, std::string_view body);
  void WriteEncryptionDictionary();
  void WriteCrossReference();
  // A copy of the stream's dictionary and the bytes to write (pointing into the stream's
  // data or into owned when re-encoded or encrypted), with a "/Length" that matches them.
  void PrepareStream(int32_t context, const TksPDFStreamObject& stream, std::unique_ptr<TksPDFDictObject>& dict,
                     std::string& owned, std::string_view& bytes, bool catalogMetadata = false);
  // The catalog's XMP packet with pdf:PDFVersion saying the version written; false when
  // it stays as it is (a warning says why when it could not be read).
  bool RewriteMetadataVersion(const TksPDFDictObject& dict, std::string_view bytes, std::string& rewritten);
  // Stream data of an encrypted save; false when the save is not encrypted or the handler
  // leaves a stream with this dictionary in clear.
  bool EncryptBytesForSave(int32_t objectNumber, const TksPDFDictObject* dict, std::string_view bytes,
                           std::string& encrypted);
  void RecordOffset(int32_t number);
  // The stream of object when its data are worth compressing ahead on a worker thread.
  const TksPDFStreamObject* ToCompressAhead(const TksPDFIndirectObject& object) const;

  TksCustomPDFDocument& doc_;
  TksStream* output_;                           // counts the bytes written; not owned
  std::vector<int64_t> offsets_;                // entry i: object i + 1
  int32_t nextNumber_ = 3;                      // 1 catalog, 2 information, 3 page tree
  int32_t encryptNumber_ = 0;                   // the encryption dictionary's number
  std::unique_ptr<TksPDFObjectStore> saveStore_;  // what this save builds (outline items)
  int64_t sourceBytesSincePageRelease_ = 0;
  int64_t releaseFrom_ = INT64_MAX, releaseTo_ = 0;  // source range read since the last hand-back
  int64_t xrefPosition_ = -1;
  std::vector<std::string> catalogKeys_;
  bool wroteExtensions_ = false;
  int32_t pagesWritten_ = 0;
  const TksPDFIndirectObject* metadataObject_ = nullptr;  // the catalog's /Metadata stream
  TksCompressAhead* compressAhead_ = nullptr;  // while the objects are written, when compressing
};
