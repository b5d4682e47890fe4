// PDF object values: the twelve kinds, their operations and their text form.
#pragma once
#include <optional>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/ksByteStreams.h"

enum TksPDFObjectType : uint8_t {
  otBoolean = 0, otInteger, otInt64, otReal, otString, otName, otArray, otDictionary,
  otStream, otNull, otIndirectReference, otIndirectObject
};

class TksPDFObject;
using TksPDFObjectPtr = std::unique_ptr<TksPDFObject>;

class TksPDFObject {
 public:
  explicit TksPDFObject(TksPDFObjectType type) : ObjectType(type) {}
  virtual ~TksPDFObject() = default;
  TksPDFObject(const TksPDFObject&) = delete;
  TksPDFObject& operator=(const TksPDFObject&) = delete;
  virtual TksPDFObjectPtr Clone() const = 0;
  const TksPDFObjectType ObjectType;

  // Values come from per-size free lists rather than one heap allocation each: a file
  // of many small objects makes millions of them, and the heap's own bookkeeping per
  // allocation would be a fifth of their memory.
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size) noexcept;
};

// Clone of a possibly absent value.
inline TksPDFObjectPtr CloneOf(const TksPDFObject* o) { return o ? o->Clone() : nullptr; }

class TksPDFBooleanObject : public TksPDFObject {
 public:
  explicit TksPDFBooleanObject(bool v) : TksPDFObject(otBoolean), Value(v ? 1 : 0) {}
  TksPDFObjectPtr Clone() const override { return std::make_unique<TksPDFBooleanObject>(Value != 0); }
  uint8_t Value;
};

class TksPDFIntegerObject : public TksPDFObject {
 public:
  explicit TksPDFIntegerObject(int32_t v) : TksPDFObject(otInteger), Value(v) {}
  TksPDFObjectPtr Clone() const override { return std::make_unique<TksPDFIntegerObject>(Value); }
  int32_t Value;
};

class TksPDFInt64Object : public TksPDFObject {
 public:
  explicit TksPDFInt64Object(int64_t v) : TksPDFObject(otInt64), Value(v) {}
  TksPDFObjectPtr Clone() const override { return std::make_unique<TksPDFInt64Object>(Value); }
  int64_t Value;
};

class TksPDFRealObject : public TksPDFObject {
 public:
  explicit TksPDFRealObject(double v) : TksPDFObject(otReal), Value(v) {}
  TksPDFObjectPtr Clone() const override { return std::make_unique<TksPDFRealObject>(Value); }
  double Value;
};

class TksPDFStringObject : public TksPDFObject {
 public:
  // Text keeps its delimiters: "(...)" with escapes resolved, or "<hex digits>".
  explicit TksPDFStringObject(std::string text, bool isHex = false)
      : TksPDFObject(otString), Text(std::move(text)), IsHex(isHex) {}
  TksPDFObjectPtr Clone() const override { return std::make_unique<TksPDFStringObject>(Text, IsHex); }
  std::string Content() const;
  // The bytes the string stands for: a literal's content, a hexadecimal string decoded.
  std::string Bytes() const;
  std::u16string TextValue() const;
  std::string Text;
  bool IsHex;
};


class TksPDFArrayObject : public TksPDFObject {
 public:
  TksPDFArrayObject() : TksPDFObject(otArray) {}
  TksPDFObjectPtr Clone() const override;
  int32_t Add(TksPDFObjectPtr object);
  int32_t AddInteger(int32_t value);
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  TksPDFObject* GetItem(int32_t index) const;
  void Insert(int32_t index, TksPDFObjectPtr object);
  // Stores object at index and hands back the element that was there.
  TksPDFObjectPtr PutItem(int32_t index, TksPDFObjectPtr object);
  // Takes the element out, leaving an empty slot.
  TksPDFObjectPtr Take(int32_t index);
  void DeleteAt(int32_t index);
  std::vector<TksPDFObjectPtr> Items;
};

// A dictionary key: the name's text with its "/". Files of many small objects hold
// millions of keys but only a few hundred distinct texts, so a key points at one copy of
// its text kept for the life of the process (eight bytes a key instead of a string each);
// a long text, or any text once that table has grown large, is owned by its key.
class TksPDFDictKey {
 public:
  TksPDFDictKey() = default;
  explicit TksPDFDictKey(std::string_view text);
  TksPDFDictKey(const TksPDFDictKey& other);
  TksPDFDictKey(TksPDFDictKey&& other) noexcept : bits_(other.bits_) { other.bits_ = 0; }
  TksPDFDictKey& operator=(TksPDFDictKey other) noexcept {
    std::swap(bits_, other.bits_);
    return *this;
  }
  ~TksPDFDictKey() {
    if (bits_ & kOwned) delete TextPointer();
  }
  const std::string& Text() const { return bits_ ? *TextPointer() : EmptyText(); }
  std::string NameValue() const { return Text().empty() ? std::string() : Text().substr(1); }

 private:
  static constexpr uintptr_t kOwned = 1;
  std::string* TextPointer() const { return reinterpret_cast<std::string*>(bits_ & ~kOwned); }
  static const std::string& EmptyText();
  // The shared text's address, or an owned text's address with kOwned set; 0 is empty.
  uintptr_t bits_ = 0;
};

class TksPDFNameObject : public TksPDFObject {
 public:
  explicit TksPDFNameObject(std::string_view text) : TksPDFObject(otName), text_(text), Text(text_.Text()) {}
  TksPDFObjectPtr Clone() const override { return std::make_unique<TksPDFNameObject>(Text); }
  std::string NameValue() const { return text_.NameValue(); }

 private:
  // Names repeat as keys do (/Type, /Page, /Font ...) and share their text the same way.
  TksPDFDictKey text_;

 public:
  const std::string& Text;
};

class TksPDFDictObject : public TksPDFObject {
 public:
  TksPDFDictObject() : TksPDFObject(otDictionary) {}
  TksPDFObjectPtr Clone() const override;
  std::unique_ptr<TksPDFDictObject> CloneDict() const;

  void AddEntry(std::string_view key, TksPDFObjectPtr value);
  void AddEntry(std::unique_ptr<TksPDFNameObject> key, TksPDFObjectPtr value) { AddEntry(key->Text, std::move(value)); }
  void AddObject(std::string_view key, TksPDFObjectPtr value);
  void AddInteger(std::string_view key, int32_t value);
  void AddReal(std::string_view key, double value);
  void AddInt64(std::string_view key, int64_t value);
  void AddName(std::string_view key, std::string_view name);

  int32_t IndexOfKey(std::string_view key) const;
  TksPDFObject* Lookup(std::string_view key) const;
  const TksPDFDictKey* KeyAt(int32_t index) const;
  TksPDFObject* ValueAt(int32_t index) const;
  void SetObject(std::string_view key, TksPDFObjectPtr value);
  void SetObject(const TksPDFNameObject& key, TksPDFObjectPtr value) { SetObject(key.Text, std::move(value)); }
  void SetName(std::string_view key, std::string_view name);
  void SetBoolean(std::string_view key, bool value);
  void SetInteger(std::string_view key, int32_t value);
  void Remove(std::string_view key);
  void DeleteAt(int32_t index);
  // Stores value at index and hands back the previous value.
  TksPDFObjectPtr PutValueAt(int32_t index, TksPDFObjectPtr value);
  // Takes the value of an entry out, leaving the entry without a value.
  TksPDFObjectPtr TakeValueAt(int32_t index);
  void Merge(const TksPDFDictObject* other);
  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  // Moves entries in at the end, in order, without a duplicate check (the parser's way of
  // building a dictionary from what it read).
  void AppendEntries(std::span<TksPDFDictKey> keys, std::span<TksPDFObjectPtr> values);

 private:
  // One list, so a dictionary costs one allocation and sixteen bytes an entry; a value
  // may be empty.
  struct Entry {
    TksPDFDictKey Key;
    TksPDFObjectPtr Value;
  };
  std::vector<Entry> entries_;
};

class TksPDFStreamObject : public TksPDFObject {
 public:
  TksPDFStreamObject();
  explicit TksPDFStreamObject(std::unique_ptr<TksPDFDictObject> dict,
                              std::unique_ptr<TksMemoryStream> data = nullptr);
  TksPDFObjectPtr Clone() const override;
  std::unique_ptr<TksPDFDictObject> Dict;
  std::unique_ptr<TksMemoryStream> Data;
};

class TksPDFNullObject : public TksPDFObject {
 public:
  TksPDFNullObject() : TksPDFObject(otNull) {}
  TksPDFObjectPtr Clone() const override { return std::make_unique<TksPDFNullObject>(); }
};

class TksPDFIndirectReference : public TksPDFObject {
 public:
  TksPDFIndirectReference(int32_t documentID, int32_t objectNumber, uint16_t generation)
      : TksPDFObject(otIndirectReference), DocumentID(documentID), ObjectNumber(objectNumber),
        Generation(generation) {}
  TksPDFObjectPtr Clone() const override {
    return std::make_unique<TksPDFIndirectReference>(DocumentID, ObjectNumber, Generation);
  }
  int32_t DocumentID;
  int32_t ObjectNumber;
  uint16_t Generation;
};

class TksPDFIndirectObject : public TksPDFObject {
 public:
  TksPDFIndirectObject(int32_t documentID, int32_t objectNumber, uint16_t generation,
                       TksPDFObjectPtr value, int markUsed = 0)
      : TksPDFObject(otIndirectObject), DocumentID(documentID), ObjectNumber(objectNumber),
        Generation(generation), Value(std::move(value)) {
    if (markUsed == 1) MarkUsed();
  }
  TksPDFObjectPtr Clone() const override;
  void MarkUsed() { ++UseCount; }
  std::unique_ptr<TksPDFIndirectReference> ReferenceTo() const {
    return std::make_unique<TksPDFIndirectReference>(DocumentID, ObjectNumber, Generation);
  }
  int32_t DocumentID;
  int32_t ObjectNumber;
  uint16_t Generation;
  // Set once the structure walk has followed the value: each object is followed the first
  // time the walk reaches it (objects from object streams are stored unfollowed). A clone
  // starts unfollowed. (Beside Generation, in what would be padding: one object each.)
  bool Followed = false;
  int32_t SaveNumber = 0;
  int32_t UseCount = 0;
  TksPDFObjectPtr Value;
};

// Typed views of a possibly absent value; nothing when the kind differs. Each has a
// const form for values that are only read.
template <class T, TksPDFObjectType K>
inline T* ksAs(TksPDFObject* o) { return o && o->ObjectType == K ? static_cast<T*>(o) : nullptr; }
template <class T, TksPDFObjectType K>
inline const T* ksAs(const TksPDFObject* o) { return o && o->ObjectType == K ? static_cast<const T*>(o) : nullptr; }
#define KS_TYPED_VIEW(Name, T, K)                                              \
  inline T* Name(TksPDFObject* o) { return ksAs<T, K>(o); }                  \
  inline const T* Name(const TksPDFObject* o) { return ksAs<T, K>(o); }
KS_TYPED_VIEW(AsDict, TksPDFDictObject, otDictionary)
KS_TYPED_VIEW(AsArray, TksPDFArrayObject, otArray)
KS_TYPED_VIEW(AsName, TksPDFNameObject, otName)
KS_TYPED_VIEW(AsString, TksPDFStringObject, otString)
KS_TYPED_VIEW(AsStream, TksPDFStreamObject, otStream)
KS_TYPED_VIEW(AsInteger, TksPDFIntegerObject, otInteger)
KS_TYPED_VIEW(AsRef, TksPDFIndirectReference, otIndirectReference)
KS_TYPED_VIEW(AsIndirect, TksPDFIndirectObject, otIndirectObject)
#undef KS_TYPED_VIEW
// The value of an integer of either width; none for anything else.
inline std::optional<int64_t> IntegerValue(const TksPDFObject* o) {
  if (!o) return std::nullopt;
  if (o->ObjectType == otInteger) return static_cast<const TksPDFIntegerObject*>(o)->Value;
  if (o->ObjectType == otInt64) return static_cast<const TksPDFInt64Object*>(o)->Value;
  return std::nullopt;
}
// True for a name object with exactly this text.
inline bool IsName(const TksPDFObject* o, std::string_view text) {
  return o && o->ObjectType == otName && static_cast<const TksPDFNameObject*>(o)->Text == text;
}

std::string ObjectTypeName(TksPDFObjectType type);

// Hexadecimal digits to bytes; other characters are skipped and an odd final digit
// stands for its high half.
std::string HexDigitsToBytes(std::string_view digits);
// Upper-case hexadecimal digits of bytes, appended to out.
void AppendHexDigits(std::string& out, std::string_view bytes);
inline std::string BytesToHexDigits(std::string_view bytes) {
  std::string out;
  AppendHexDigits(out, bytes);
  return out;
}

// Hooks of the text form: what an indirect reference becomes, and how string bytes
// are transformed on an encrypted save.
class TksTextFormHooks {
 public:
  virtual ~TksTextFormHooks() = default;
  // SaveNumber of the object the reference names; 0 when it is not written ("null").
  virtual int32_t SaveNumberOf(const TksPDFIndirectReference& ref) = 0;
  // Replaces a string's content bytes before escaping (encryption); false keeps them.
  virtual bool TransformString(const TksPDFStringObject&, std::string&) { return false; }
  // A line written after a dictionary's own entries (a page's "/Parent" on save); when
  // it is not empty the dictionary's own "/Parent" is left out, so it is never doubled.
  virtual std::string_view ParentLine(const TksPDFDictObject&) { return {}; }
};

// Appends the text form of obj (absent: nothing). Without hooks a reference is
// written with the numbers it was read with.
void AppendObjectText(std::string& out, const TksPDFObject* obj, TksTextFormHooks* hooks = nullptr);
std::string ObjectToText(const TksPDFObject* obj, TksTextFormHooks* hooks = nullptr);
void AppendRealText(std::string& out, double value);
void AppendEscapedLiteral(std::string& out, std::string_view content);

// Fresh resource names for new fonts, images and graphics states.
std::string NewFontResourceName();
std::string NewImageResourceName();
std::string NewExtGStateResourceName();
