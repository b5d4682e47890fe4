// The objects one page needs, as GetPageObjects collects them.
#pragma once
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "objects/ksPDFObjectStore.h"

// Copies of indirect objects, owned, in the order they were reached. Each object is
// known by its document, number and generation: the unique ID the object lists use is
// not injective, so two objects may share one (and it may be negative).
class TksPageObjectList {
 public:
  TksPageObjectList() = default;
  TksPageObjectList(const TksPageObjectList&) = delete;
  TksPageObjectList& operator=(const TksPageObjectList&) = delete;

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TksPDFIndirectObject* Items(int32_t index) const;
  // The unique ID of entry index, for callers keyed by it.
  int32_t IDs(int32_t index) const { return UniqueID(*Items(index)); }
  // The entry that is a copy of (document, number, generation); none when there is none.
  TksPDFIndirectObject* Find(int32_t documentID, int32_t objectNumber, int32_t generation) const;
  // Takes a copy in; returns it.
  TksPDFIndirectObject* Add(std::unique_ptr<TksPDFIndirectObject> object);

  // Identities the walk has met, taken in or not: a page reached through another page's
  // entries is met but left out.
  bool Seen(const TksPDFIndirectObject& object) const { return seen_.count(KeyOf(object)) > 0; }
  // False when object was met before.
  bool NoteSeen(const TksPDFIndirectObject& object) { return seen_.insert(KeyOf(object)).second; }

 private:
  struct Key {
    int32_t doc, num, gen;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& k) const noexcept {
      uint64_t h = (uint64_t(uint32_t(k.doc)) * 0x9E3779B97F4A7C15ull) ^ (uint64_t(uint32_t(k.num)) << 16) ^
                   uint64_t(uint32_t(k.gen));
      return static_cast<size_t>(h ^ (h >> 29));
    }
  };
  static Key KeyOf(const TksPDFIndirectObject& o) { return {o.DocumentID, o.ObjectNumber, o.Generation}; }

  std::vector<std::unique_ptr<TksPDFIndirectObject>> items_;
  std::unordered_map<Key, size_t, KeyHash> index_;  // identity -> entry
  std::unordered_set<Key, KeyHash> seen_;
};
