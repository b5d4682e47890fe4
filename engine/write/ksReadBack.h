// Reading a written file back before it replaces anything: one pass over its objects in
// file order, each parsed and dropped, and a few small records for the structure checks.
#pragma once
#include <cstdint>

class TksCustomPDFDocument;
class TksDocumentWriter;

// Checks the bytes of the file open as fd (size bytes, written by writer for doc): every
// object parses where the cross-reference table puts it and the table holds the offsets
// the writer recorded; the trailer; page count, outline items, annotations and form
// fields as the document has them; the catalog's keys as the writer wrote them.
// A mismatch raises ESaveError "The written file did not read back correctly: ...".
void ReadBackWrittenFile(const TksCustomPDFDocument& doc, const TksDocumentWriter& writer, int fd, int64_t size);
