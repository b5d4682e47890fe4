// Builds object values and in-memory documents from PDF text, so tests of the structure
// walk read like the files they stand for. Fixture use only: no comments, no streams in
// the text (see PutStream), references carry the document's ID.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "objects/ksPDFObjects.h"

namespace ksfixture {

TksPDFObjectPtr ParseValue(const std::string& text, int32_t documentID);
// Stores object n (generation 0, unmarked) of doc with the value given as text.
TksPDFIndirectObject* Put(TksCustomPDFDocument& doc, int32_t n, const std::string& text);
// Stores stream object n with the dictionary given as text and the data.
TksPDFIndirectObject* PutStream(TksCustomPDFDocument& doc, int32_t n, const std::string& dictText,
                                const std::string& data);
// Sets the trailer's root and raises the store's last number to cover every stored object.
void SetRoot(TksCustomPDFDocument& doc, int32_t rootNumber);
// The text form of a value, references as "n g R".
std::string Text(const TksPDFObject* value);
// The same on one line: every CR LF becomes a space.
std::string OneLineText(const TksPDFObject* value);

// An in-memory document whose warnings are collected, filled object by object.
struct MemoryDoc {
  TksCustomPDFDocument doc;
  std::vector<std::string> warnings;
  MemoryDoc() {
    doc.OnWarning = [this](TksCustomPDFDocument*, const std::string& w) { warnings.push_back(w); };
  }
  TksPDFIndirectObject* Put(int32_t n, const std::string& text) { return ksfixture::Put(doc, n, text); }
  TksPDFIndirectObject* Get(int32_t n) { return doc.Store->Find(doc.DocumentID, n, 0); }
};

}  // namespace ksfixture
