// The object store, cross-reference entries and trailer values.
#pragma once
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "objects/ksPDFObjects.h"

// Decimal concatenation of document, object number and generation, truncated to
// 32 bits. Not injective; kept for the object lists that are keyed by it.
int32_t UniqueID(int32_t documentID, int32_t objectNumber, int32_t generation);
inline int32_t UniqueID(const TksPDFIndirectObject& o) { return UniqueID(o.DocumentID, o.ObjectNumber, o.Generation); }
inline int32_t UniqueID(const TksPDFIndirectReference& r) {
  return UniqueID(r.DocumentID, r.ObjectNumber, r.Generation);
}

// The longest chain of references followed to reach a value: a file can make references
// loop, and nothing sound needs more.
inline constexpr int kMaxReferenceChain = 64;

// One entry of a classic cross-reference table. Fields ordered widest first: there is
// one entry per object, so padding would cost a megabyte per 130,000 objects.
struct TksXRefItem {
  int64_t Offset = 0;
  int32_t Generation = 0;
  int32_t ObjectNumber = 0;
  uint32_t Section = 0;  // order in which its section was applied: the later one is newer
  uint8_t EntryType = 'f';
};

// One entry of a cross-reference stream.
struct TksXRefStmItem {
  int64_t Field2 = 0;
  int64_t Field3 = 0;
  int32_t EntryType = 0;
  uint32_t Section = 0;  // order in which its section was applied: the later one is newer
};

struct TksPDFTrailer {
  int32_t RootNumber = -1;
  TksPDFObjectPtr EncryptEntry;
  std::unique_ptr<TksPDFIndirectReference> InfoReference;
  std::unique_ptr<TksPDFArrayObject> IDArray;
};

// Owns every indirect object of a document. Objects keep their insertion order (the
// writer numbers them in it) and are found by their exact identity: through a flat index
// by object number for the document the store mostly holds, through a hash index for
// the rest (other documents, a second generation of a number, numbers far beyond the
// count, which would make the flat index large).
class TksPDFObjectStore {
 public:
  TksPDFObjectStore() = default;
  TksPDFObjectStore(const TksPDFObjectStore&) = delete;
  TksPDFObjectStore& operator=(const TksPDFObjectStore&) = delete;

  // Stores the object at the end and returns it; an absent object raises ENullObjectError.
  TksPDFIndirectObject* Add(std::unique_ptr<TksPDFIndirectObject> object);
  TksPDFIndirectObject* Find(const TksPDFIndirectReference& ref) const {
    return Find(ref.DocumentID, ref.ObjectNumber, ref.Generation);
  }
  TksPDFIndirectObject* Find(const TksPDFIndirectObject& obj) const {
    return Find(obj.DocumentID, obj.ObjectNumber, obj.Generation);
  }
  TksPDFIndirectObject* Find(int32_t documentID, int32_t objectNumber, int32_t generation) const;
  int32_t IndexOf(int32_t documentID, int32_t objectNumber, int32_t generation) const;
  int32_t IndexOfID(int32_t id) const;  // linear; only for callers keyed by UniqueID
  int32_t Count() const { return static_cast<int32_t>(objects_.size()); }
  TksPDFIndirectObject* Items(int32_t index) const;
  int32_t NextObjectNumber() { return ++LastObjectNumber; }
  void Clear();

  // Typed lookups: the value itself when it has the kind (or is absent), a reference
  // followed through the store (none when not stored), else EUnexpectedObjectError.
  TksPDFDictObject* FindDictionary(TksPDFObject* value) const;
  TksPDFIntegerObject* FindInteger(TksPDFObject* value) const;
  TksPDFNameObject* FindName(TksPDFObject* value) const;
  TksPDFStringObject* FindString(TksPDFObject* value) const;
  // As above for arrays; a null gives none and a name gives a one-element array that
  // the caller owns through holder.
  TksPDFArrayObject* FindArray(TksPDFObject* value, std::unique_ptr<TksPDFArrayObject>& holder) const;
  // Follows references and indirect objects to a direct value; none when a reference is not stored.
  TksPDFObject* Dereference(TksPDFObject* value) const;

  int32_t LastObjectNumber = 0;

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
  template <class T, TksPDFObjectType K>
  T* FindTyped(TksPDFObject* value) const;
  // Numbers below this always get a flat slot, whatever the store holds.
  static constexpr size_t kFlatSlack = 1 << 16;

  // One slot per object number of flatDocument_: the store index of the first object
  // stored under that number and the generation it has; index -1 when there is none.
  struct Slot {
    int32_t index = -1;
    int32_t generation = 0;
  };
  bool InFlatRange(int32_t documentID, int32_t objectNumber) const {
    return documentID == flatDocument_ && objectNumber >= 0 && static_cast<size_t>(objectNumber) < flat_.size();
  }

  std::vector<std::unique_ptr<TksPDFIndirectObject>> objects_;
  int32_t flatDocument_ = 0;
  bool flatDocumentSet_ = false;
  std::vector<Slot> flat_;
  std::unordered_map<Key, int32_t, KeyHash> index_;
};
