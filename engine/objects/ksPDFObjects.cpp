#include "objects/ksPDFObjects.h"
#include "base/ksSyntax.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <mutex>
#include <random>
#include <unordered_set>

#include "base/ksConsts.h"
#include "base/ksPDFResStrs.h"
#include "ksPlatform.h"

#if KS_ADDRESS_SANITIZED
#include <sanitizer/asan_interface.h>
#endif

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Under AddressSanitizer the pool marks what it holds as unaddressable, so a value used
// after its delete is reported even though its memory never goes back to the heap.
inline void PoolPoison(void* p, size_t n) {
#if KS_ADDRESS_SANITIZED
  ASAN_POISON_MEMORY_REGION(p, n);
#else
  (void)p, (void)n;
#endif
}

inline void PoolUnpoison(void* p, size_t n) {
#if KS_ADDRESS_SANITIZED
  ASAN_UNPOISON_MEMORY_REGION(p, n);
#else
  (void)p, (void)n;
#endif
}

// Every block of every thread, so blocks stay reachable (and not leaks) after the
// thread that cut them has ended.
std::atomic<char*> gPoolBlocks{nullptr};

// Free lists of 8, 16, ... 64-byte cells cut from 64 KiB blocks, one set per thread.
// Cells freed go back to the list of the thread that frees them; blocks are kept for
// the life of the process (chained through their first granule) and their cells reused,
// so memory is bounded by the most objects alive at once.
// Sanitized builds keep every cell on a free list and the uncut rest of a block poisoned,
// the free-list link included: it overlays the freed value's first word (its vtable
// pointer), so the link is unpoisoned only while the pool itself reads or writes it.
class TksObjectPool {
 public:
  static constexpr size_t kGranule = 8;
  static constexpr size_t kLargest = 64;

  void* Allocate(size_t size) {
    const size_t cls = (size + kGranule - 1) / kGranule - 1;
    if (Cell* cell = free_[cls]) {
      PoolUnpoison(cell, sizeof(Cell));
      free_[cls] = cell->next;
      PoolUnpoison(cell, size);
      return cell;
    }
    const size_t cellSize = (cls + 1) * kGranule;
    if (left_ < cellSize) NewBlock();
    void* p = cursor_;
    cursor_ += cellSize;
    left_ -= cellSize;
    PoolUnpoison(p, size);
    return p;
  }

  void Free(void* p, size_t size) {
    const size_t cls = (size + kGranule - 1) / kGranule - 1;
    PoolPoison(p, (cls + 1) * kGranule);
    Link(static_cast<Cell*>(p), cls);
  }

 private:
  struct Cell {
    Cell* next;
  };
  static constexpr size_t kBlockSize = 64 * 1024;

  // The cell is poisoned before and after.
  void Link(Cell* cell, size_t cls) {
    PoolUnpoison(cell, sizeof(Cell));
    cell->next = free_[cls];
    PoolPoison(cell, sizeof(Cell));
    free_[cls] = cell;
  }

  void NewBlock() {
    // What is left of the old block becomes cells of the sizes it still holds.
    while (left_ >= kGranule) {
      size_t cellSize = std::min(left_ - left_ % kGranule, kLargest);
      Link(reinterpret_cast<Cell*>(cursor_), cellSize / kGranule - 1);
      cursor_ += cellSize;
      left_ -= cellSize;
    }
    auto* block = static_cast<char*>(::operator new(kBlockSize));
    char* head = gPoolBlocks.load(std::memory_order_relaxed);
    do {
      *reinterpret_cast<char**>(block) = head;
    } while (!gPoolBlocks.compare_exchange_weak(head, block, std::memory_order_release, std::memory_order_relaxed));
    cursor_ = block + kGranule;
    left_ = kBlockSize - kGranule;
    PoolPoison(cursor_, left_);
  }

  Cell* free_[kLargest / kGranule] = {};
  char* cursor_ = nullptr;
  size_t left_ = 0;
};

thread_local TksObjectPool gObjectPool;

}  // namespace

void* TksPDFObject::operator new(std::size_t size) {
  if (size <= TksObjectPool::kLargest) return gObjectPool.Allocate(size);
  return ::operator new(size);
}

void TksPDFObject::operator delete(void* p, std::size_t size) noexcept {
  if (!p) return;
  if (size <= TksObjectPool::kLargest) {
    gObjectPool.Free(p, size);
    return;
  }
  ::operator delete(p);
}

// ---- String ----

void AppendHexDigits(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out.reserve(out.size() + bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
}

std::string HexDigitsToBytes(std::string_view digits) {
  std::string bytes;
  bytes.reserve(digits.size() / 2);
  int high = -1;
  for (char c : digits) {
    int v = HexValue(c);
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<char>((high << 4) | v));
      high = -1;
    }
  }
  if (high >= 0) bytes.push_back(static_cast<char>(high << 4));
  return bytes;
}

std::string TksPDFStringObject::Bytes() const {
  return IsHex ? HexDigitsToBytes(Content()) : Content();
}

std::string TksPDFStringObject::Content() const {
  if (Text.size() < 2) return std::string();
  return Text.substr(1, Text.size() - 2);
}

std::u16string TksPDFStringObject::TextValue() const {
  std::string content = Content();
  if (!IsHex) return ksplatform::AnsiToWide(content);
  bool unicode = content.size() >= 4 && (content[0] == 'F' || content[0] == 'f') &&
                 (content[1] == 'E' || content[1] == 'e') && (content[2] == 'F' || content[2] == 'f') &&
                 (content[3] == 'F' || content[3] == 'f');
  if (unicode) {
    std::u16string out;
    int digits = 0;
    uint32_t unit = 0;
    for (size_t i = 4; i < content.size(); ++i) {
      char c = content[i];
      if (c == '.') {
        out.push_back(u'.');
        continue;
      }
      int v = HexValue(c);
      if (v < 0) continue;
      unit = (unit << 4) | static_cast<uint32_t>(v);
      if (++digits == 4) {
        if (unit != 0xFEFF) out.push_back(static_cast<char16_t>(unit));
        digits = 0;
        unit = 0;
      }
    }
    return out;
  }
  std::string bytes = HexDigitsToBytes(content);
  return ksplatform::AnsiToWide(bytes);
}

// ---- Array ----

TksPDFObjectPtr TksPDFArrayObject::Clone() const {
  auto a = std::make_unique<TksPDFArrayObject>();
  a->Items.reserve(Items.size());
  for (const auto& item : Items) a->Items.push_back(CloneOf(item.get()));
  return a;
}

int32_t TksPDFArrayObject::Add(TksPDFObjectPtr object) {
  Items.push_back(std::move(object));
  return Count() - 1;
}

int32_t TksPDFArrayObject::AddInteger(int32_t value) { return Add(std::make_unique<TksPDFIntegerObject>(value)); }

TksPDFObject* TksPDFArrayObject::GetItem(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return Items[static_cast<size_t>(index)].get();
}

void TksPDFArrayObject::Insert(int32_t index, TksPDFObjectPtr object) {
  if (index < 0 || index > Count()) throw EListIndexError(ksFormat(ksres::SListIndexError, index));
  Items.insert(Items.begin() + index, std::move(object));
}

TksPDFObjectPtr TksPDFArrayObject::PutItem(int32_t index, TksPDFObjectPtr object) {
  if (index < 0 || index >= Count()) throw EListIndexError(ksFormat(ksres::SListIndexError, index));
  std::swap(Items[static_cast<size_t>(index)], object);
  return object;
}

TksPDFObjectPtr TksPDFArrayObject::Take(int32_t index) {
  if (index < 0 || index >= Count()) return nullptr;
  return std::move(Items[static_cast<size_t>(index)]);
}

void TksPDFArrayObject::DeleteAt(int32_t index) {
  if (index < 0 || index >= Count()) throw EListIndexError(ksFormat(ksres::SListIndexError, index));
  Items.erase(Items.begin() + index);
}

// ---- Dictionary keys ----

namespace {

// The texts keys share: each distinct text once, never freed (keys anywhere may point
// at it). A file can hold any number of distinct keys, so the table stops taking texts
// beyond a size no real file comes near; later keys own their text.
class TksSharedKeyTexts {
 public:
  static constexpr size_t kLongestShared = 64;
  static constexpr size_t kMostBytes = 8 << 20;

  const std::string* Find(std::string_view text) {
    if (text.size() > kLongestShared) return nullptr;
    const size_t hash = std::hash<std::string_view>{}(text);
    // Each thread remembers recent texts, so the lock is taken for new texts only.
    thread_local const std::string* recent[kRecentSlots] = {};
    const std::string*& slot = recent[hash % kRecentSlots];
    if (slot && *slot == text) return slot;
    std::lock_guard<std::mutex> guard(lock_);
    auto it = texts_.find(text);
    if (it == texts_.end()) {
      if (bytes_ >= kMostBytes) return nullptr;
      it = texts_.emplace(text).first;
      bytes_ += text.size() + kNodeOverhead;
    }
    slot = &*it;
    return slot;
  }

 private:
  static constexpr size_t kRecentSlots = 512;
  static constexpr size_t kNodeOverhead = 64;
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };
  std::mutex lock_;
  // Node-based: an element never moves when the table grows.
  std::unordered_set<std::string, Hash, std::equal_to<>> texts_;
  size_t bytes_ = 0;
};

TksSharedKeyTexts& SharedKeyTexts() {
  static auto* texts = new TksSharedKeyTexts;  // outlives every key, static ones included
  return *texts;
}

}  // namespace

TksPDFDictKey::TksPDFDictKey(std::string_view text) {
  if (text.empty()) return;
  if (const std::string* shared = SharedKeyTexts().Find(text))
    bits_ = reinterpret_cast<uintptr_t>(shared);
  else
    bits_ = reinterpret_cast<uintptr_t>(new std::string(text)) | kOwned;
}

TksPDFDictKey::TksPDFDictKey(const TksPDFDictKey& other) : bits_(other.bits_) {
  if (bits_ & kOwned) bits_ = reinterpret_cast<uintptr_t>(new std::string(*other.TextPointer())) | kOwned;
}

const std::string& TksPDFDictKey::EmptyText() {
  static const std::string empty;
  return empty;
}

// ---- Dictionary ----

std::unique_ptr<TksPDFDictObject> TksPDFDictObject::CloneDict() const {
  auto d = std::make_unique<TksPDFDictObject>();
  d->entries_.reserve(entries_.size());
  for (const Entry& e : entries_) d->entries_.push_back(Entry{e.Key, CloneOf(e.Value.get())});
  return d;
}

TksPDFObjectPtr TksPDFDictObject::Clone() const { return CloneDict(); }

void TksPDFDictObject::AddEntry(std::string_view key, TksPDFObjectPtr value) {
  entries_.push_back(Entry{TksPDFDictKey(key), std::move(value)});
}

void TksPDFDictObject::AddObject(std::string_view key, TksPDFObjectPtr value) {
  AddEntry(key, std::move(value));
}

void TksPDFDictObject::AddInteger(std::string_view key, int32_t value) {
  AddObject(key, std::make_unique<TksPDFIntegerObject>(value));
}

void TksPDFDictObject::AddReal(std::string_view key, double value) {
  AddObject(key, std::make_unique<TksPDFRealObject>(value));
}

void TksPDFDictObject::AddInt64(std::string_view key, int64_t value) {
  AddObject(key, std::make_unique<TksPDFInt64Object>(value));
}

void TksPDFDictObject::AddName(std::string_view key, std::string_view name) {
  if (name.empty()) return;
  AddObject(key, std::make_unique<TksPDFNameObject>(std::string(name)));
}

int32_t TksPDFDictObject::IndexOfKey(std::string_view key) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].Key.Text() == key) return static_cast<int32_t>(i);
  return -1;
}

TksPDFObject* TksPDFDictObject::Lookup(std::string_view key) const {
  int32_t i = IndexOfKey(key);
  return i < 0 ? nullptr : entries_[static_cast<size_t>(i)].Value.get();
}

const TksPDFDictKey* TksPDFDictObject::KeyAt(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return &entries_[static_cast<size_t>(index)].Key;
}

TksPDFObject* TksPDFDictObject::ValueAt(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return entries_[static_cast<size_t>(index)].Value.get();
}

void TksPDFDictObject::SetObject(std::string_view key, TksPDFObjectPtr value) {
  int32_t i = IndexOfKey(key);
  if (i >= 0)
    entries_[static_cast<size_t>(i)].Value = std::move(value);
  else
    AddObject(key, std::move(value));
}

void TksPDFDictObject::SetName(std::string_view key, std::string_view name) {
  SetObject(key, std::make_unique<TksPDFNameObject>(std::string(name)));
}

void TksPDFDictObject::SetBoolean(std::string_view key, bool value) {
  SetObject(key, std::make_unique<TksPDFBooleanObject>(value));
}

void TksPDFDictObject::SetInteger(std::string_view key, int32_t value) {
  SetObject(key, std::make_unique<TksPDFIntegerObject>(value));
}

void TksPDFDictObject::Remove(std::string_view key) {
  int32_t i = IndexOfKey(key);
  if (i >= 0) DeleteAt(i);
}

void TksPDFDictObject::DeleteAt(int32_t index) {
  if (index < 0 || index >= Count()) return;
  entries_.erase(entries_.begin() + index);
}

TksPDFObjectPtr TksPDFDictObject::PutValueAt(int32_t index, TksPDFObjectPtr value) {
  if (index < 0 || index >= Count()) throw EInvalidIndex(ksres::SIndexOutOfBounds);
  std::swap(entries_[static_cast<size_t>(index)].Value, value);
  return value;
}

TksPDFObjectPtr TksPDFDictObject::TakeValueAt(int32_t index) {
  if (index < 0 || index >= Count()) return nullptr;
  return std::move(entries_[static_cast<size_t>(index)].Value);
}

void TksPDFDictObject::Merge(const TksPDFDictObject* other) {
  if (!other) return;
  for (const Entry& e : other->entries_) SetObject(e.Key.Text(), CloneOf(e.Value.get()));
}

// ---- Stream ----

TksPDFStreamObject::TksPDFStreamObject()
    : TksPDFObject(otStream), Dict(std::make_unique<TksPDFDictObject>()), Data(std::make_unique<TksMemoryStream>()) {}

TksPDFStreamObject::TksPDFStreamObject(std::unique_ptr<TksPDFDictObject> dict, std::unique_ptr<TksMemoryStream> data)
    : TksPDFObject(otStream),
      Dict(dict ? std::move(dict) : std::make_unique<TksPDFDictObject>()),
      Data(data ? std::move(data) : std::make_unique<TksMemoryStream>()) {}

TksPDFObjectPtr TksPDFStreamObject::Clone() const {
  auto data = std::make_unique<TksMemoryStream>();
  if (Data) {
    if (Data->IsBorrowed())
      data = TksMemoryStream::Borrow(Data->data(), Data->size());
    else
      data->LoadFromBytes(Data->View());
  }
  return std::make_unique<TksPDFStreamObject>(Dict ? Dict->CloneDict() : nullptr, std::move(data));
}

// ---- Indirect object ----

TksPDFObjectPtr TksPDFIndirectObject::Clone() const {
  auto o = std::make_unique<TksPDFIndirectObject>(DocumentID, ObjectNumber, Generation, CloneOf(Value.get()));
  o->SaveNumber = SaveNumber;
  o->UseCount = UseCount;
  return o;
}

// ---- names and text form ----

std::string ObjectTypeName(TksPDFObjectType type) {
  switch (type) {
    case otBoolean: return "Boolean Object";
    case otInteger: return "Integer Object";
    case otInt64: return "Int64 Object";
    case otReal: return "Real Object";
    case otString: return "String Object";
    case otName: return "Name Object";
    case otArray: return "Array Object";
    case otDictionary: return "Dictionary Object";
    case otStream: return "Stream Object";
    case otNull: return "Null Object";
    case otIndirectReference: return "IndirectReference Object";
    case otIndirectObject: return "Indirect Object";
  }
  return "Unknown Object";
}

namespace {

void AppendInt(std::string& out, int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

}  // namespace

void AppendRealText(std::string& out, double value) {
  if (!std::isfinite(value)) value = 0;
  // Ten significant digits first, then exactly ten decimals.
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 9);
  double rounded = value;
  std::from_chars(buf, r.ptr, rounded);
  if (rounded == 0) rounded = 0;  // no "-0"
  r = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, 10);
  const char* start = buf;
  // A tiny negative value rounds to zero in ten decimals: no "-0.0000000000".
  if (*start == '-' && std::all_of(buf + 1, r.ptr, [](char c) { return c == '0' || c == '.'; })) ++start;
  out.append(start, static_cast<size_t>(r.ptr - start));
}

void AppendEscapedLiteral(std::string& out, std::string_view content) {
  out.reserve(out.size() + content.size() + 2);
  for (char c : content) {
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '(': out += "\\("; break;
      case ')': out += "\\)"; break;
      case '\\': out += "\\\\"; break;
      default: out.push_back(c);
    }
  }
}

void AppendObjectText(std::string& out, const TksPDFObject* obj, TksTextFormHooks* hooks) {
  if (!obj) return;
  switch (obj->ObjectType) {
    case otBoolean:
      out += static_cast<const TksPDFBooleanObject*>(obj)->Value ? "true" : "false";
      break;
    case otInteger: AppendInt(out, static_cast<const TksPDFIntegerObject*>(obj)->Value); break;
    case otInt64: AppendInt(out, static_cast<const TksPDFInt64Object*>(obj)->Value); break;
    case otReal: AppendRealText(out, static_cast<const TksPDFRealObject*>(obj)->Value); break;
    case otString: {
      auto* s = static_cast<const TksPDFStringObject*>(obj);
      std::string transformed;
      if (hooks && hooks->TransformString(*s, transformed)) {
        // Transformed (encrypted) bytes are binary: hexadecimal keeps them intact.
        out.push_back('<');
        AppendHexDigits(out, transformed);
        out.push_back('>');
      } else if (s->IsHex) {
        out += s->Text;
      } else {
        out.push_back('(');
        AppendEscapedLiteral(out, std::string_view(s->Text).substr(s->Text.empty() ? 0 : 1,
                                                                   s->Text.size() >= 2 ? s->Text.size() - 2 : 0));
        out.push_back(')');
      }
      break;
    }
    case otName: out += static_cast<const TksPDFNameObject*>(obj)->Text; break;
    case otArray: {
      out += "[ ";
      for (const auto& item : static_cast<const TksPDFArrayObject*>(obj)->Items) {
        AppendObjectText(out, item.get(), hooks);
        out.push_back(' ');
      }
      out.push_back(']');
      break;
    }
    case otDictionary: {
      auto* d = static_cast<const TksPDFDictObject*>(obj);
      std::string_view parentLine = hooks ? hooks->ParentLine(*d) : std::string_view();
      out += "<<\r\n";
      for (int32_t i = 0; i < d->Count(); ++i) {
        const std::string& key = d->KeyAt(i)->Text();
        if (!parentLine.empty() && key == "/Parent") continue;
        out += key;
        out.push_back(' ');
        AppendObjectText(out, d->ValueAt(i), hooks);
        out += "\r\n";
      }
      out += parentLine;
      out += ">>";
      break;
    }
    case otStream: {
      auto* s = static_cast<const TksPDFStreamObject*>(obj);
      AppendObjectText(out, s->Dict.get(), hooks);
      out += kStreamDataOpen;
      if (s->Data) out.append(s->Data->View());
      out += kStreamDataClose;
      break;
    }
    case otNull: out += "null"; break;
    case otIndirectReference: {
      auto* r = static_cast<const TksPDFIndirectReference*>(obj);
      if (!hooks) {
        AppendInt(out, r->ObjectNumber);
        out.push_back(' ');
        AppendInt(out, r->Generation);
        out += " R";
        break;
      }
      int32_t n = hooks->SaveNumberOf(*r);
      if (n <= 0) {
        out += "null";
      } else {
        AppendInt(out, n);
        out += " 0 R";
      }
      break;
    }
    case otIndirectObject:
      AppendObjectText(out, static_cast<const TksPDFIndirectObject*>(obj)->Value.get(), hooks);
      break;
  }
}

std::string ObjectToText(const TksPDFObject* obj, TksTextFormHooks* hooks) {
  std::string out;
  AppendObjectText(out, obj, hooks);
  return out;
}

// ---- resource names ----

namespace {

std::string RandomSuffix() {
  static std::mutex lock;
  static std::mt19937 generator(static_cast<uint32_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count()));
  std::lock_guard<std::mutex> guard(lock);
  std::uniform_int_distribution<int32_t> dist(0, 2147483646);
  return std::to_string(dist(generator));
}

}  // namespace

std::string NewFontResourceName() { return "/VelFnt" + RandomSuffix(); }
std::string NewImageResourceName() { return "/VelImg" + RandomSuffix(); }
std::string NewExtGStateResourceName() { return "/GS" + RandomSuffix(); }

void TksPDFDictObject::AppendEntries(std::span<TksPDFDictKey> keys, std::span<TksPDFObjectPtr> values) {
  const size_t n = std::min(keys.size(), values.size());
  entries_.reserve(entries_.size() + n);
  for (size_t i = 0; i < n; ++i) entries_.push_back(Entry{std::move(keys[i]), std::move(values[i])});
}
