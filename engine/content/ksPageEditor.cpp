#include "content/ksPageEditor.h"

#include <algorithm>
#include <climits>

#include "base/ksPDFResStrs.h"
#include "crypt/ksPDFCrypt.h"

namespace {

// A box entry: integers of either width and reals are numbers.
std::optional<double> NumberValue(const TksPDFObject* value) {
  if (auto i = IntegerValue(value)) return static_cast<double>(*i);
  if (value && value->ObjectType == otReal) return static_cast<const TksPDFRealObject*>(value)->Value;
  return std::nullopt;
}

}  // namespace

TksPDFDictObject& TksPageEditor::PageDictionary(int32_t pageNo) {
  doc_.CheckPageNumber(pageNo);
  TksPDFIndirectObject* page = doc_.Pages[static_cast<size_t>(pageNo - 1)];
  auto* dict = page ? AsDict(page->Value.get()) : nullptr;
  // The load keeps only dictionaries as pages; anything else is a document built wrongly.
  if (!dict) throw EUnexpectedError(ksres::SUnexpectedError);
  return *dict;
}

TksPDFObject* TksPageEditor::Resolve(TksPDFObject* value) { return doc_.Resolver().Resolve(value, fpPeek); }

std::optional<TksPageRect> TksPageEditor::ReadBox(TksPDFObject* value) {
  value = Resolve(value);
  if (!value || value->ObjectType == otNull) return std::nullopt;
  auto* array = AsArray(value);
  if (!array || array->Count() != 4) throw EUnexpectedObjectError(ksres::SUnexpectedObject);
  double n[4];
  for (int32_t i = 0; i < 4; ++i) {
    std::optional<double> v = NumberValue(Resolve(array->GetItem(i)));
    if (!v) throw EUnexpectedObjectError(ksres::SUnexpectedObject);
    n[i] = *v;
  }
  // Any two opposite corners make a box.
  return TksPageRect{std::min(n[0], n[2]), std::min(n[1], n[3]), std::max(n[0], n[2]), std::max(n[1], n[3])};
}

TksPageRect TksPageEditor::VisibleBox(int32_t pageNo) {
  TksPDFDictObject& page = PageDictionary(pageNo);
  std::optional<TksPageRect> media, crop;
  try {
    media = ReadBox(page.Lookup("/MediaBox"));
    crop = ReadBox(page.Lookup("/CropBox"));
  } catch (Exception& e) {
    e.NoteObject(doc_.Pages[static_cast<size_t>(pageNo - 1)]->ObjectNumber, -1);
    throw;
  }
  if (!media) {
    // A page must have one; viewers show a page without it at US Letter size.
    Warning(ksFormat(ksres::SPageWithoutMediaBox, pageNo));
    media = TksPageRect{0, 0, 612, 792};
  }
  if (!crop) return *media;
  // What lies outside the media box is never shown: viewers clip the crop box to it.
  const TksPageRect clipped{std::max(crop->x1, media->x1), std::max(crop->y1, media->y1),
                            std::min(crop->x2, media->x2), std::min(crop->y2, media->y2)};
  // A crop box beside the media box would leave nothing; the media box is shown then.
  if (clipped.x2 <= clipped.x1 || clipped.y2 <= clipped.y1) return *media;
  return clipped;
}

TksPDFDictObject* TksPageEditor::Resources(int32_t pageNo, bool create) {
  TksPDFDictObject& page = PageDictionary(pageNo);
  TksPDFObject* entry = page.Lookup("/Resources");
  if (auto* dict = AsDict(Resolve(entry))) return dict;
  if (!create) return nullptr;
  // Absent or null: the page simply has none. Anything else leads nowhere usable.
  if (entry && entry->ObjectType != otNull) Warning(ksFormat(ksres::SPageResourcesReplaced, pageNo));
  page.SetObject("/Resources", std::make_unique<TksPDFDictObject>());
  return AsDict(page.Lookup("/Resources"));
}

TksPDFDictObject* TksPageEditor::Category(TksPDFDictObject& resources, std::string_view category) {
  return AsDict(Resolve(resources.Lookup(category)));
}

void TksPageEditor::MarkTarget(const TksPDFIndirectReference& ref) {
  TksPDFIndirectObject* target =
      ref.DocumentID == doc_.DocumentID ? doc_.FindLoaded(ref.ObjectNumber, ref.Generation) : doc_.Store->Find(ref);
  if (target) target->MarkUsed();
}

TksPDFIndirectObject* TksPageEditor::AddObject(TksPDFObjectPtr value) {
  const int32_t number = doc_.NewObjectNumber();
  return doc_.Store->Add(std::make_unique<TksPDFIndirectObject>(doc_.DocumentID, number, 0, std::move(value)));
}

TksPDFIndirectObject* TksPageEditor::AddStream(std::string_view data) {
  auto dict = std::make_unique<TksPDFDictObject>();
  if (data.size() <= INT32_MAX)
    dict->AddInteger("/Length", static_cast<int32_t>(data.size()));
  else
    dict->AddInt64("/Length", static_cast<int64_t>(data.size()));
  return AddObject(std::make_unique<TksPDFStreamObject>(std::move(dict), std::make_unique<TksMemoryStream>(data)));
}

int32_t TksPageEditor::NextNameNumber() {
  if (!state_.NamesSeeded) {
    // Seeded from the file's identifier: the same input gives the same names, and so the
    // same output bytes, on every run; other files get other names.
    uint64_t seed = 0xCBF29CE484222325ull;
    const TksPDFArrayObject* id = doc_.Trailer.IDArray.get();
    if (const TksPDFStringObject* first = id ? AsString(id->GetItem(0)) : nullptr)
      for (unsigned char c : first->Bytes()) seed = (seed ^ c) * 0x100000001B3ull;
    state_.NameState = seed;
    state_.NamesSeeded = true;
  }
  // splitmix64: one 64-bit state, every step a well-mixed number.
  uint64_t z = (state_.NameState += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<int32_t>(z % 2147483647ull);
}

TksPDFIndirectObject* TksPageEditor::StoredObject(int32_t number) const {
  return number > 0 ? doc_.Store->Find(doc_.DocumentID, number, 0) : nullptr;
}

TksPDFIndirectObject* TksPageEditor::SaveStream() const { return StoredObject(state_.SaveStreamNumber); }
TksPDFIndirectObject* TksPageEditor::RestoreStream() const { return StoredObject(state_.RestoreStreamNumber); }

void TksPageEditor::NoteChange() {
  if (state_.ChangeWarned || !doc_.Decryptor || doc_.IsOwner()) return;
  const TksPDFDecrypt& source = *doc_.Decryptor;
  if (PermissionsFromP(source.Revision, source.PValue).Contains(AllowModify)) return;
  // Readers respect the permission, so the changes are made but not in silence.
  state_.ChangeWarned = true;
  Warning(ksres::SChangesNotPermitted);
}
