// Builds object values and in-memory documents from PDF text, so tests of the structure
// walk read like the files they stand for. Fixture use only: no comments, no streams in
// the text (see PutStream), references carry the document's ID.
#pragma once
#include <cstdint>
#include <string>

#include "ksCstPDFDoc.h"
#include "ksPDFObjects.h"

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

}  // namespace ksfixture
