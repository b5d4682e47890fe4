// The interactive form: the form dictionary, the field tree and the field records.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_set>

#include "document/ksCstPDFDoc.h"
#include "base/ksSyntax.h"
#include "base/ksPDFResStrs.h"
#include "codec/ksFilterChain.h"
#include "ksPlatform.h"

namespace {

// Real field trees are a few levels deep.
constexpr int kMaxFieldDepth = 128;

bool IsTokenSpace(char c) { return ksIsWhiteSpace(static_cast<uint8_t>(c)); }

std::vector<std::string> Tokens(const std::string& text) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsTokenSpace(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !IsTokenSpace(text[i])) ++i;
    if (i > start) tokens.emplace_back(text, start, i - start);
  }
  return tokens;
}

// Index of the first token equal to op with at least `before` tokens in front, or -1.
int FindOperator(const std::vector<std::string>& tokens, const char* op, size_t before) {
  for (size_t i = before; i < tokens.size(); ++i)
    if (tokens[i] == op) return static_cast<int>(i);
  return -1;
}

}  // namespace

std::unique_ptr<TksFontInfo> TksFontInfo::Clone() const {
  auto copy = std::make_unique<TksFontInfo>();
  copy->FontName = FontName;
  if (FontReference)
    copy->FontReference = std::make_unique<TksPDFIndirectReference>(
        FontReference->DocumentID, FontReference->ObjectNumber, FontReference->Generation);
  copy->Font = Font;
  copy->FontSize = FontSize;
  copy->ColorText = ColorText;
  return copy;
}

uint8_t FieldKindOf(const std::string& fieldType, int32_t flags) {
  if (fieldType == "/Btn") {
    if (flags == -1) return fkCheckBox;
    if (flags & 65536) return fkPushButton;
    if (flags & 32768) return fkRadioButton;
    return fkCheckBox;
  }
  if (fieldType == "/Tx") return fkText;
  if (fieldType == "/Sig") return fkSignature;
  return fkOther;
}

// A field list (/Fields, /Kids) is written as it stands, also an empty one and one given by
// reference; its items are followed by the field tree reading.
TksPDFArrayObject* TksCustomPDFDocument::FieldList(TksPDFObject* value) {
  // Marked whether read now or already stored (as the objects of an object stream are):
  // an unmarked list would be written as null.
  TksPDFArrayObject* list = resolver_->ResolveAs<TksPDFArrayObject, otArray>(value, fpStoreAndMark);
  if (auto* ref = AsRef(value); ref && list)
    if (TksPDFIndirectObject* object = FindLoaded(ref->ObjectNumber, ref->Generation)) object->Followed = true;
  return list;
}

TksPDFIndirectObject* TksCustomPDFDocument::LoadObject(int32_t objectNumber, int32_t generation) {
  return resolver_->Follow(objectNumber, generation, fpStoreAndMark);
}

void TksCustomPDFDocument::ReadAcroForm(TksPDFObject* form) {
  TksPDFDictObject* dict = nullptr;
  bool direct = false;
  if (auto* ref = AsRef(form)) {
    TksPDFIndirectObject* object = LoadObject(ref->ObjectNumber);
    dict = object ? AsDict(object->Value.get()) : nullptr;
    if (dict) object->Followed = true;  // its entries are followed right here
  } else if (AsDict(form)) {
    dict = AsDict(Catalog->AcroForm.get());
    direct = true;
  }
  if (!dict) {
    Catalog->AcroForm.reset();  // nothing a catalog could refer to
    return;
  }

  // Every entry but the field list, which the field tree reading follows.
  for (int32_t i = 0; i < dict->Count(); ++i)
    if (dict->KeyAt(i)->Text() != "/Fields") MarkReachable(dict->ValueAt(i));

  const TksPDFDictObject* fonts = nullptr;
  if (TksPDFObject* dr = dict->Lookup("/DR"))
    if (TksPDFDictObject* resources = Store->FindDictionary(dr)) fonts = Store->FindDictionary(resources->Lookup("/Font"));
  std::string appearance;
  bool hasAppearance = false;
  if (TksPDFObject* da = dict->Lookup("/DA"))
    if (TksPDFStringObject* s = ResolveString(da, true)) {
      appearance = s->Bytes();
      hasAppearance = true;
    }

  TksFieldTreeWalk walk;
  if (TksPDFArrayObject* fields = FieldList(dict->Lookup("/Fields")))
    for (int32_t i = 0; i < fields->Count(); ++i) {
      TksPDFObject* field = fields->GetItem(i);
      if (AsRef(field))
        ReadField(walk, nullptr, nullptr, hasAppearance ? &appearance : nullptr, fonts, field);
      else
        MarkReachable(field);  // not a field of the tree, but written as it stands
    }

  if (direct) {
    // The catalog can only refer to the form once it is an object of its own.
    auto object = std::make_unique<TksPDFIndirectObject>(DocumentID, NewObjectNumber(), 0,
                                                         std::move(Catalog->AcroForm), 1);
    object->Followed = true;
    Catalog->AcroForm = object->ReferenceTo();
    Store->Add(std::move(object));
  }
}

void TksCustomPDFDocument::ReadField(TksFieldTreeWalk& walk, TksAcroFormField* parent, const std::u16string* parentName,
                                     const std::string* inheritedDA, const TksPDFDictObject* inheritedFonts,
                                     TksPDFObject* fieldReference) {
  auto* ref = AsRef(fieldReference);
  if (!ref) return;
  const int32_t number = ref->ObjectNumber;
  if (walk.Path.count(number)) throw EPDFFileCorruptedError(ksFormat(ksres::SFieldTreeLoop, number));
  if (!walk.Seen.insert(number).second) {
    // Listed both in /Fields and as a kid, for instance: one record is enough.
    Warning(ksFormat(ksres::SFieldListedTwice, number));
    return;
  }
  if (walk.Path.size() >= static_cast<size_t>(kMaxFieldDepth))
    throw EPDFFileCorruptedError(ksFormat(ksres::SFieldTreeTooDeep, kMaxFieldDepth));

  TksPDFIndirectObject* object = LoadObject(number);
  TksPDFDictObject* dict = object ? AsDict(object->Value.get()) : nullptr;
  if (!dict) return;
  object->Followed = true;  // its entries are followed below
  walk.Path.insert(number);
  struct LeavePath {
    std::unordered_set<int32_t>& path;
    int32_t number;
    ~LeavePath() { path.erase(number); }
  } leavePath{walk.Path, number};

  // A widget or kid contributes its appearance states and value to its parent.
  if (parent) {
    ReadFieldStates(*parent, *dict);
    ReadFieldValue(*parent, *dict);
  }

  bool hasAnnotationFlags = false;
  int32_t annotationFlags = 0;
  if (TksPDFObject* f = dict->Lookup("/F")) {
    MarkReachable(f);
    if (auto* flags = AsInteger(resolver_->Resolve(f, fpStoreAndMark))) {
      hasAnnotationFlags = true;
      annotationFlags = flags->Value;
      if (parent) parent->AnnotationFlags = annotationFlags;
    }
  }

  std::string defaultValue;
  TksPDFObject* dv = resolver_->Resolve(dict->Lookup("/DV"), fpStoreAndMark);
  if (auto* s = AsString(dv))
    defaultValue = s->Bytes();
  else if (auto* n = AsName(dv))
    defaultValue = n->NameValue();

  std::string appearanceHere;
  const std::string* appearance = inheritedDA;
  if (TksPDFObject* da = dict->Lookup("/DA")) {
    MarkReachable(da);
    if (TksPDFStringObject* s = ResolveString(da, true)) {
      appearanceHere = s->Bytes();
      appearance = &appearanceHere;
    }
  }

  std::unique_ptr<TksPDFDictObject> fonts;
  if (TksPDFObject* dr = dict->Lookup("/DR")) {
    MarkReachable(dr);
    fonts = inheritedFonts ? inheritedFonts->CloneDict() : std::make_unique<TksPDFDictObject>();
    if (TksPDFDictObject* resources = ResolveDictionary(dr, true))
      fonts->Merge(ResolveDictionary(resources->Lookup("/Font"), true));
  } else if (inheritedFonts) {
    fonts = inheritedFonts->CloneDict();
  }
  std::unique_ptr<TksFontInfo> fontInfo = ParseDefaultAppearance(appearance, fonts.get());
  if (parent && fontInfo) parent->FontInfo = fontInfo->Clone();

  int32_t flags = 0;
  if (auto* ff = AsInteger(resolver_->Resolve(dict->Lookup("/Ff"), fpStoreAndMark))) flags = ff->Value;

  // A field without a partial name adds no level to its kids' names.
  std::u16string fullName;
  const std::u16string* kidsParentName = parentName;
  TksAcroFormField* created = nullptr;
  if (TksPDFStringObject* title = ResolveString(dict->Lookup("/T"), true)) {
    std::u16string partial = TksPDFInfo::DecodeTextString(title);
    fullName = parentName ? *parentName + u"." + partial : partial;
    kidsParentName = &fullName;
    if (TksPDFNameObject* type = ResolveName(dict->Lookup("/FT"), true)) {
      auto field = std::make_unique<TksAcroFormField>();
      field->Store = Store.get();
      field->FieldObject = object;
      field->FullNameWide = fullName;
      field->FullName = ksplatform::WideToAnsi(fullName);
      field->FieldKind = FieldKindOf(type->Text, flags);
      field->Flags = flags;
      field->DefaultValue = defaultValue;
      if (hasAnnotationFlags) field->AnnotationFlags = annotationFlags;
      field->ReadOnly = (flags & 1) != 0;
      field->Multiline = (flags & 4096) != 0;
      if (auto* maxLen = AsInteger(dict->Lookup("/MaxLen"))) field->MaxLen = maxLen->Value;
      if (auto* q = AsInteger(dict->Lookup("/Q"))) field->Quadding = static_cast<uint8_t>(q->Value & 0xFF);
      ReadFieldValue(*field, *dict);
      if (field->FieldKind == fkCheckBox) field->States.push_back("Off");
      ReadFieldStates(*field, *dict);
      if (fontInfo) field->FontInfo = fontInfo->Clone();
      created = field.get();
      AcroFormFields.push_back(std::move(field));
    }
  }

  for (int32_t i = 0; i < dict->Count(); ++i) {
    TksPDFObject* value = dict->ValueAt(i);
    if (dict->KeyAt(i)->Text() != "/Kids") {
      MarkReachable(value);
      continue;
    }
    TksPDFArrayObject* kids = FieldList(value);
    if (!kids) continue;
    for (int32_t k = 0; k < kids->Count(); ++k) {
      TksPDFObject* kid = kids->GetItem(k);
      if (AsRef(kid))
        ReadField(walk, created, kidsParentName, appearance, fonts.get(), kid);
      else
        MarkReachable(kid);
    }
  }
}

void TksCustomPDFDocument::ReadFieldValue(TksAcroFormField& field, const TksPDFDictObject& dict) {
  if (!field.FieldValue.empty() || field.ValueStream) return;
  TksPDFObject* value = resolver_->Resolve(dict.Lookup("/V"), fpStoreAndMark);
  if (auto* n = AsName(value)) {
    field.FieldValue = n->NameValue();
  } else if (auto* s = AsString(value)) {
    field.FieldValue = s->Bytes();
  } else if (auto* stream = AsStream(value)) {
    // Decoded only when asked for: saving writes the stream as it stands, and a value
    // can be a small stream that inflates to gigabytes.
    field.ValueStream = stream;
    MarkReachable(stream->Dict->Lookup("/Filter"));  // in the store when the value is asked for
  }
}

std::string_view TksCustomPDFDocument::FieldValueBytes(const TksAcroFormField& field) {
  const TksPDFStreamObject* stream = field.ValueStream;
  if (!stream) return field.FieldValue;
  if (auto known = fieldValues_.find(stream); known != fieldValues_.end()) return known->second->View();
  const TksPDFObject* filter = Store->Dereference(stream->Dict->Lookup("/Filter"));
  std::unique_ptr<TksMemoryStream> bytes;
  try {
    // Without a filter to undo the value is the stream's data as they stand.
    const TksDecodeFilters filters = GetDecodeFilters(filter);
    if (std::all_of(filters.begin(), filters.end(), IsPassThroughFilter)) return stream->Data->View();
    bytes = DecodeStreamData(*stream, filter, DecodeBounds.FieldValue, [&](const std::string& limit) {
              return ksFormat(ksres::SFieldValueTooLarge, field.FullName.c_str(), limit.c_str());
            }).ToStream();
  } catch (const EDecodedSizeError&) {
    throw;
  } catch (const Exception& e) {
    throw EFieldValueError(ksFormat(ksres::SFieldValueNotDecoded, field.FullName.c_str(), e.what()));
  }
  return fieldValues_.emplace(stream, std::move(bytes)).first->second->View();
}

void TksCustomPDFDocument::ReadFieldStates(TksAcroFormField& field, const TksPDFDictObject& dict) {
  if (field.FieldKind == fkRadioButton || field.FieldKind == fkCheckBox) {
    auto* appearances = AsDict(resolver_->Resolve(dict.Lookup("/AP"), fpStoreAndMark));
    if (!appearances) return;
    // A single appearance stream instead of a state dictionary names no states.
    auto* normal = AsDict(resolver_->Resolve(appearances->Lookup("/N"), fpStoreAndMark));
    if (!normal) return;
    std::unordered_set<std::string> known(field.States.begin(), field.States.end());
    const bool noToggleToOff = field.FieldKind == fkRadioButton && (field.Flags & 16384) != 0;
    for (int32_t i = 0; i < normal->Count(); ++i) {
      const TksPDFDictKey* key = normal->KeyAt(i);
      if (noToggleToOff && key->Text() == "/Off") continue;
      std::string state = key->NameValue();
      if (known.insert(state).second) field.States.push_back(std::move(state));
    }
  } else if (field.FieldKind == fkOther) {
    auto* options = AsArray(resolver_->Resolve(dict.Lookup("/Opt"), fpStoreAndMark));
    if (!options) return;
    field.States.clear();
    for (int32_t i = 0; i < options->Count(); ++i) {
      TksPDFObject* option = resolver_->Resolve(options->GetItem(i), fpStoreAndMark);
      if (auto* s = AsString(option)) {
        field.States.push_back(s->Bytes());
      } else if (auto* pair = AsArray(option)) {
        for (int32_t j = 0; j < pair->Count(); j += 2)
          if (auto* text = AsString(resolver_->Resolve(pair->GetItem(j), fpStoreAndMark))) field.States.push_back(text->Bytes());
      }
    }
  }
}

std::unique_ptr<TksFontInfo> TksCustomPDFDocument::ParseDefaultAppearance(const std::string* appearance,
                                                                         const TksPDFDictObject* fonts) {
  if (!appearance || !fonts) return nullptr;
  auto info = std::make_unique<TksFontInfo>();
  // Operators are matched as whole tokens, so a font name holding "rg" or "Tf" is not one.
  const std::vector<std::string> tokens = Tokens(*appearance);
  if (int rg = FindOperator(tokens, "rg", 3); rg >= 0)
    info->ColorText = tokens[rg - 3] + " " + tokens[rg - 2] + " " + tokens[rg - 1] + " rg";
  else if (int g = FindOperator(tokens, "g", 1); g >= 0)
    info->ColorText = tokens[g - 1] + " g";

  int tf = FindOperator(tokens, "Tf", 2);
  if (tf < 0) return info;
  const std::string& name = tokens[tf - 2];
  TksPDFObject* entry = fonts->Lookup(name);
  if (!entry) return info;

  info->FontName = name;
  if (auto* ref = AsRef(entry))
    info->FontReference = std::make_unique<TksPDFIndirectReference>(ref->DocumentID, ref->ObjectNumber, ref->Generation);
  const std::string& sizeText = tokens[tf - 1];
  double size = 0;
  auto [end, ec] = std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size);
  (void)end;
  if (ec != std::errc() || !std::isfinite(size)) size = 0;
  info->FontSize = size;
  info->Font.Size = std::fabs(size) < 1e9 ? static_cast<int32_t>(std::lround(size)) : 0;
  if (auto* font = AsDict(resolver_->Resolve(entry, fpStoreAndMark)))
    if (auto* baseFont = AsName(resolver_->Resolve(font->Lookup("/BaseFont"), fpStoreAndMark))) {
      std::string base = baseFont->NameValue();
      info->Font.Name = base.substr(0, base.find_first_of(",-"));
      info->Font.Bold = base.find("Bold") != std::string::npos;
      info->Font.Italic = base.find("Italic") != std::string::npos;
    }
  return info;
}
