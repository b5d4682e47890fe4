#include "objects/ksPDFObjectStore.h"

#include <cmath>

#include "base/ksPDFResStrs.h"

namespace {

double Digits(int64_t n) {
  if (n <= 0) return 1;
  return std::floor(std::log10(static_cast<double>(n))) + 1;
}

// References may chain; a file can make them loop, so the walk is bounded.

}  // namespace

int32_t UniqueID(int32_t documentID, int32_t objectNumber, int32_t generation) {
  double id = (static_cast<double>(documentID) * std::pow(10.0, Digits(objectNumber)) + objectNumber) *
                  std::pow(10.0, Digits(generation)) +
              generation;
  // Truncate to the low 32 bits, as the scheme wraps for large numbers.
  double t = std::trunc(id);
  if (!std::isfinite(t)) return -1;
  double m = std::fmod(t, 18446744073709551616.0);
  if (m < 0) m += 18446744073709551616.0;
  uint64_t bits = m >= 9223372036854775808.0 ? static_cast<uint64_t>(m - 9223372036854775808.0) + (1ull << 63)
                                             : static_cast<uint64_t>(m);
  return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

TksPDFIndirectObject* TksPDFObjectStore::Add(std::unique_ptr<TksPDFIndirectObject> object) {
  if (!object) throw ENullObjectError(ksres::SNullObjectError);
  TksPDFIndirectObject* raw = object.get();
  const int32_t index = Count();
  if (!flatDocumentSet_) {
    flatDocument_ = raw->DocumentID;
    flatDocumentSet_ = true;
  }
  // The flat index grows with the store, so a hostile number like 2,000,000,000 cannot
  // make it large: such numbers go to the hash index.
  const int32_t number = raw->ObjectNumber;
  if (raw->DocumentID == flatDocument_ && number >= 0 &&
      static_cast<size_t>(number) < kFlatSlack + 4 * (objects_.size() + 1)) {
    if (static_cast<size_t>(number) >= flat_.size()) flat_.resize(static_cast<size_t>(number) + 1 + flat_.size() / 2);
    Slot& slot = flat_[static_cast<size_t>(number)];
    const Key key{raw->DocumentID, number, raw->Generation};
    if (slot.index < 0) {
      // Stored while its number was beyond the flat index: that object stays the one found.
      if (index_.empty() || !index_.count(key)) slot = Slot{index, raw->Generation};
    } else if (slot.generation != raw->Generation) {
      index_.try_emplace(key, index);
    }
    // The same identity again: the first object stored under it stays the one found.
  } else {
    index_.try_emplace(Key{raw->DocumentID, number, raw->Generation}, index);
  }
  objects_.push_back(std::move(object));
  return raw;
}

TksPDFIndirectObject* TksPDFObjectStore::Find(int32_t documentID, int32_t objectNumber, int32_t generation) const {
  const int32_t index = IndexOf(documentID, objectNumber, generation);
  return index < 0 ? nullptr : objects_[static_cast<size_t>(index)].get();
}

int32_t TksPDFObjectStore::IndexOf(int32_t documentID, int32_t objectNumber, int32_t generation) const {
  if (InFlatRange(documentID, objectNumber)) {
    const Slot& slot = flat_[static_cast<size_t>(objectNumber)];
    if (slot.index >= 0 && slot.generation == generation) return slot.index;
  }
  if (index_.empty()) return -1;
  auto it = index_.find(Key{documentID, objectNumber, generation});
  return it == index_.end() ? -1 : it->second;
}

int32_t TksPDFObjectStore::IndexOfID(int32_t id) const {
  for (size_t i = 0; i < objects_.size(); ++i)
    if (UniqueID(*objects_[i]) == id) return static_cast<int32_t>(i);
  return -1;
}

TksPDFIndirectObject* TksPDFObjectStore::Items(int32_t index) const {
  if (index < 0 || index >= Count()) throw EListIndexError(ksFormat(ksres::SListIndexError, index));
  return objects_[static_cast<size_t>(index)].get();
}

void TksPDFObjectStore::Clear() {
  objects_.clear();
  index_.clear();
  flat_.clear();
  flatDocumentSet_ = false;
  LastObjectNumber = 0;
}

template <class T, TksPDFObjectType K>
T* TksPDFObjectStore::FindTyped(TksPDFObject* value) const {
  for (int depth = 0; depth < kMaxReferenceChain; ++depth) {
    if (!value) return nullptr;
    if (value->ObjectType == K) return static_cast<T*>(value);
    if (value->ObjectType == otIndirectObject) {
      value = static_cast<TksPDFIndirectObject*>(value)->Value.get();
      continue;
    }
    if (value->ObjectType != otIndirectReference) throw EUnexpectedObjectError(ksres::SUnexpectedObject);
    TksPDFIndirectObject* target = Find(*static_cast<TksPDFIndirectReference*>(value));
    if (!target) return nullptr;
    value = target->Value.get();
  }
  throw EUnexpectedObjectError(ksres::SUnexpectedObject);
}

TksPDFDictObject* TksPDFObjectStore::FindDictionary(TksPDFObject* value) const {
  return FindTyped<TksPDFDictObject, otDictionary>(value);
}
TksPDFIntegerObject* TksPDFObjectStore::FindInteger(TksPDFObject* value) const {
  return FindTyped<TksPDFIntegerObject, otInteger>(value);
}
TksPDFNameObject* TksPDFObjectStore::FindName(TksPDFObject* value) const {
  return FindTyped<TksPDFNameObject, otName>(value);
}
TksPDFStringObject* TksPDFObjectStore::FindString(TksPDFObject* value) const {
  return FindTyped<TksPDFStringObject, otString>(value);
}

TksPDFArrayObject* TksPDFObjectStore::FindArray(TksPDFObject* value, std::unique_ptr<TksPDFArrayObject>& holder) const {
  TksPDFObject* v = Dereference(value);
  if (value && value->ObjectType == otIndirectReference && !v) return nullptr;
  if (!v || v->ObjectType == otNull) return nullptr;
  if (v->ObjectType == otArray) return static_cast<TksPDFArrayObject*>(v);
  if (v->ObjectType == otName) {
    holder = std::make_unique<TksPDFArrayObject>();
    holder->Add(v->Clone());
    return holder.get();
  }
  throw EUnexpectedObjectError(ksres::SUnexpectedObject);
}

TksPDFObject* TksPDFObjectStore::Dereference(TksPDFObject* value) const {
  for (int depth = 0; depth < kMaxReferenceChain; ++depth) {
    if (!value) return nullptr;
    if (value->ObjectType == otIndirectObject) {
      value = static_cast<TksPDFIndirectObject*>(value)->Value.get();
    } else if (value->ObjectType == otIndirectReference) {
      TksPDFIndirectObject* target = Find(*static_cast<TksPDFIndirectReference*>(value));
      if (!target) return nullptr;
      value = target->Value.get();
    } else {
      return value;
    }
  }
  return nullptr;  // a reference loop names no value
}
