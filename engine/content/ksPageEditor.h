// What the page operations share: the page's dictionary, its boxes and resources read
// through the loaded objects, new objects, and the state the document keeps for them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/ksCstPDFDoc.h"

// Lives for one operation; the state it changes is the document's (TksPageEditState).
class TksPageEditor {
 public:
  explicit TksPageEditor(TksCustomPDFDocument& document) : doc_(document), state_(document.pageEdit_) {}

  // The dictionary of page pageNo (checked).
  TksPDFDictObject& PageDictionary(int32_t pageNo);
  // A value behind any chain of references among the loaded objects (nothing is read from
  // the file after the load); none when it leads nowhere.
  TksPDFObject* Resolve(TksPDFObject* value);
  // A box as the value holds it, corners in order; none when the value is absent, null
  // or leads nowhere. EUnexpectedObjectError for anything but an array of four numbers.
  std::optional<TksPageRect> ReadBox(TksPDFObject* value);
  // The visible box of page pageNo in points (see GetPageBox).
  TksPageRect VisibleBox(int32_t pageNo);
  // The page's resource dictionary. With create, a page without one (or whose entry is no
  // dictionary, which is warned about) is given a new one; without, none then.
  TksPDFDictObject* Resources(int32_t pageNo, bool create);
  // The category dictionary of resources (resolved); none when it has none.
  TksPDFDictObject* Category(TksPDFDictObject& resources, std::string_view category);
  // Marks the object a reference names as used, so the writer writes it.
  void MarkTarget(const TksPDFIndirectReference& ref);
  // Stores value as a new object (number from the document's allocator, generation 0),
  // unmarked, and returns it.
  TksPDFIndirectObject* AddObject(TksPDFObjectPtr value);
  // A stream object holding data, stored as AddObject does.
  TksPDFIndirectObject* AddStream(std::string_view data);
  // The next number of the document's resource-name generator, below 2147483647.
  int32_t NextNameNumber();
  // The bracket stream objects; none before EnsureBracketStreams made them.
  TksPDFIndirectObject* SaveStream() const;
  TksPDFIndirectObject* RestoreStream() const;
  // Called as a page is about to change: a source that forbids changes without its
  // owner's password, and was opened without it, is warned about once per document.
  void NoteChange();
  TksPageEditState& State() { return state_; }
  TksCustomPDFDocument& Document() { return doc_; }
  void Warning(const std::string& text) { doc_.Warning(text); }

 private:
  TksPDFIndirectObject* StoredObject(int32_t number) const;
  TksCustomPDFDocument& doc_;
  TksPageEditState& state_;
};
