#include "document/ksObjectResolver.h"

#include "document/ksCstPDFDoc.h"

TksPDFIndirectObject* TksObjectResolver::Follow(int32_t objectNumber, int32_t generation, TksFollowPolicy policy) {
  if (TksPDFIndirectObject* found = doc_.FindLoaded(objectNumber, generation)) {
    CheckGeneration(*found, generation);
    if (policy == fpStoreAndMark) found->MarkUsed();
    return found;
  }
  switch (policy) {
    case fpPeek:
      return nullptr;
    case fpKeepAside: {
      const uint64_t key = static_cast<uint64_t>(static_cast<uint32_t>(objectNumber)) << 32 |
                           static_cast<uint32_t>(generation);
      auto [it, fresh] = keptAside_.try_emplace(key);
      if (fresh) it->second = doc_.ReadObject(objectNumber, generation);
      return it->second.get();
    }
    case fpStore:
    case fpStoreAndMark:
      break;
  }
  std::unique_ptr<TksPDFIndirectObject> read = doc_.ReadObject(objectNumber, generation);
  if (!read) return nullptr;
  read->MarkUsed();
  return doc_.AddLoaded(std::move(read));
}

TksPDFObject* TksObjectResolver::Resolve(TksPDFObject* value, TksFollowPolicy policy) {
  for (int depth = 0; depth < kMaxReferenceChain; ++depth) {
    if (!value || value->ObjectType != otIndirectReference) return value;
    TksPDFIndirectObject* target = Follow(*static_cast<TksPDFIndirectReference*>(value), policy);
    if (!target) return nullptr;
    value = target->Value.get();
  }
  return nullptr;  // a reference loop names no value
}

void TksObjectResolver::Reset() {
  keptAside_.clear();
  generationWarned_.clear();
}

void TksObjectResolver::CheckGeneration(const TksPDFIndirectObject& object, int32_t generation) {
  if (generation == TksCustomPDFDocument::kAnyGeneration || object.Generation == generation ||
      object.DocumentID != doc_.DocumentID)
    return;
  if (generationWarned_.insert(object.ObjectNumber).second)
    doc_.RepeatedWarning(TksCustomPDFDocument::rfOtherGeneration,
                         ksFormat(ksres::SOtherGeneration, object.ObjectNumber, generation, object.ObjectNumber,
                                  object.Generation));
}
