// Following references: the one place that decides what happens to an object reached
// through a reference, so whether it ends up in the output is visible at each call.
#pragma once
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"
#include "objects/ksPDFObjectStore.h"

class TksCustomPDFDocument;

// What a followed reference does with the object it reaches.
enum TksFollowPolicy : uint8_t {
  // Only objects already loaded; nothing is read from the file.
  fpPeek = 0,
  // Objects read from the file are kept aside until the next reset and never written:
  // for values the walk reads and the writer rebuilds (titles, counts, the information).
  fpKeepAside,
  // Objects read are stored and marked used; objects already stored are left as they are,
  // so the walk decides about them.
  fpStore,
  // The object reached is stored and marked used, however it was found: it is written.
  fpStoreAndMark,
};

class TksObjectResolver {
 public:
  explicit TksObjectResolver(TksCustomPDFDocument& document) : doc_(document) {}
  TksObjectResolver(const TksObjectResolver&) = delete;
  TksObjectResolver& operator=(const TksObjectResolver&) = delete;

  // The object (number, generation) names; none when it leads nowhere. A stored object of
  // another generation is taken, with a warning once per number.
  TksPDFIndirectObject* Follow(int32_t objectNumber, int32_t generation, TksFollowPolicy policy);
  TksPDFIndirectObject* Follow(const TksPDFIndirectReference& ref, TksFollowPolicy policy) {
    return Follow(ref.ObjectNumber, ref.Generation, policy);
  }
  // The value at the end of a chain of references; none when the chain leads nowhere or
  // is longer than kMaxReferenceChain (a loop).
  TksPDFObject* Resolve(TksPDFObject* value, TksFollowPolicy policy);
  // The same, of kind K: the value itself when it has the kind, none when it is absent
  // or leads nowhere; EUnexpectedObjectError for another kind or a loop.
  template <class T, TksPDFObjectType K>
  T* ResolveAs(TksPDFObject* value, TksFollowPolicy policy) {
    for (int depth = 0; depth < kMaxReferenceChain; ++depth) {
      if (!value || value->ObjectType == K) return static_cast<T*>(value);
      if (value->ObjectType != otIndirectReference) throw EUnexpectedObjectError(ksres::SUnexpectedObject);
      TksPDFIndirectObject* target = Follow(*static_cast<TksPDFIndirectReference*>(value), policy);
      if (!target) return nullptr;
      value = target->Value.get();
    }
    throw EUnexpectedObjectError(ksres::SUnexpectedObject);
  }
  // The warning for an object reached under a reference of another generation (once
  // per number; a generation that matches any is no mismatch).
  void CheckGeneration(const TksPDFIndirectObject& object, int32_t generation);
  // Forgets the objects kept aside and the warnings given (the document was reset).
  void Reset();

 private:

  TksCustomPDFDocument& doc_;
  // Objects read under fpKeepAside, by (number << 32 | generation): read once, alive until reset.
  std::unordered_map<uint64_t, std::unique_ptr<TksPDFIndirectObject>> keptAside_;
  std::unordered_set<int32_t> generationWarned_;
};
