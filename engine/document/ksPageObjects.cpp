// Collecting the objects one page needs. Here rather than with the other page operations
// in content/: GetPageObjects and its step are virtual, and a virtual member is defined
// where the class's other virtual members are, or every program would need content/.
#include "document/ksPageObjects.h"

#include "base/ksPDFResStrs.h"
#include "document/ksCstPDFDoc.h"

TksPDFIndirectObject* TksPageObjectList::Find(int32_t documentID, int32_t objectNumber, int32_t generation) const {
  auto it = index_.find(Key{documentID, objectNumber, generation});
  return it == index_.end() ? nullptr : items_[it->second].get();
}

TksPDFIndirectObject* TksPageObjectList::Items(int32_t index) const {
  if (index < 0 || index >= Count()) throw EInvalidIndex(ksFormat(ksres::SListIndexError, index));
  return items_[static_cast<size_t>(index)].get();
}

TksPDFIndirectObject* TksPageObjectList::Add(std::unique_ptr<TksPDFIndirectObject> object) {
  if (!object) throw ENullObjectError(ksres::SNullObjectError);
  const Key key = KeyOf(*object);
  seen_.insert(key);
  index_.try_emplace(key, items_.size());
  items_.push_back(std::move(object));
  return items_.back().get();
}

void TksCustomPDFDocument::CheckPageNumber(int32_t pageNo) const {
  if (pageNo < 1 || pageNo > PageCount()) throw EInvalidPageError(ksFormat(ksres::SInvalidPage, pageNo));
}

std::unique_ptr<TksPageObjectList> TksCustomPDFDocument::GetPageObjects(int32_t pageNo) {
  CheckPageNumber(pageNo);
  auto list = std::make_unique<TksPageObjectList>();
  const TksPDFIndirectObject* page = Pages[static_cast<size_t>(pageNo - 1)];
  TksPDFIndirectObject* copy = list->Add(std::unique_ptr<TksPDFIndirectObject>(
      static_cast<TksPDFIndirectObject*>(page->Clone().release())));
  // A stack rather than recursion: a file can chain references as deep as it likes.
  std::vector<TksPDFObject*> pending{copy->Value.get()};
  while (!pending.empty()) {
    TksPDFObject* value = pending.back();
    pending.pop_back();
    CollectPageObjects(value, *list, pending);
  }
  return list;
}

void TksCustomPDFDocument::CollectPageObjects(TksPDFObject* value, TksPageObjectList& list,
                                              std::vector<TksPDFObject*>& pending) {
  if (!value) return;
  // Children go on the stack last first, so they are walked in the order they stand
  // and the list keeps the order a depth-first walk reaches them in.
  switch (value->ObjectType) {
    case otArray: {
      auto& items = static_cast<TksPDFArrayObject*>(value)->Items;
      for (auto it = items.rbegin(); it != items.rend(); ++it) pending.push_back(it->get());
      break;
    }
    case otDictionary: {
      auto* dict = static_cast<TksPDFDictObject*>(value);
      for (int32_t i = dict->Count() - 1; i >= 0; --i) pending.push_back(dict->ValueAt(i));
      break;
    }
    case otStream:
      pending.push_back(static_cast<TksPDFStreamObject*>(value)->Dict.get());
      break;
    case otIndirectObject:
      pending.push_back(static_cast<TksPDFIndirectObject*>(value)->Value.get());
      break;
    case otIndirectReference: {
      const auto& ref = *static_cast<TksPDFIndirectReference*>(value);
      // Only what is loaded: the source file is not read after the load.
      TksPDFIndirectObject* target =
          ref.DocumentID == DocumentID ? FindLoaded(ref.ObjectNumber, ref.Generation) : Store->Find(ref);
      if (!target || !list.NoteSeen(*target)) return;
      // Another page is met, not entered: the walk would spread through the whole document.
      if (auto* dict = AsDict(target->Value.get()); dict && IsName(dict->Lookup("/Type"), "/Page")) return;
      TksPDFIndirectObject* copy =
          list.Add(std::unique_ptr<TksPDFIndirectObject>(static_cast<TksPDFIndirectObject*>(target->Clone().release())));
      pending.push_back(copy->Value.get());
      break;
    }
    default:
      break;
  }
}
