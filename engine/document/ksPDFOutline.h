// An outline (bookmark) item as read from a file, linked into the document's tree.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "objects/ksPDFObjects.h"

class TksCustomPDFDocument;

// Value is the item's dictionary without its structure entries (/Parent, /Prev, /Next,
// /First, /Last, /Count), or nothing when no other entry is left.
class TksPDFOutline : public TksPDFIndirectObject {
 public:
  TksPDFOutline(TksCustomPDFDocument* document, int32_t documentID, int32_t objectNumber, uint16_t generation,
                std::unique_ptr<TksPDFDictObject> value);
  // Siblings and children are owned through First and Next; long bookmark lists would
  // overflow the stack if each item destroyed the next one, so the tree is taken apart
  // in a loop.
  ~TksPDFOutline() override;

  TksPDFDictObject* Dict() const { return AsDict(Value.get()); }
  // Number of items below this one, at any depth.
  int32_t DescendantCount() const;

  TksCustomPDFDocument* Document;
  bool Closed = false;
  // Its "/Dest" names no page of the document (an object the file does not have, or one
  // that is no page): the item is written without it.
  bool DestMissing = false;
  const std::vector<TksPDFIndirectObject*>* PageList = nullptr;
  TksPDFOutline* Parent = nullptr;
  std::unique_ptr<TksPDFOutline> First;
  TksPDFOutline* Prev = nullptr;
  std::unique_ptr<TksPDFOutline> Next;
};
