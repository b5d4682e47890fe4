// The document's font resources: finding a font a page already has, making a new simple or
// composite font with its descriptor, and finishing embedded programs before a save.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"
#include "codec/ksFilters.h"
#include "content/ksFontRegistry.h"
#include "content/ksFontResources.h"
#include "content/ksPageEditor.h"
#include "content/ksTrueType.h"

namespace {

// A subset's name until a save knows its program (and so its tag).
constexpr std::string_view kPendingSubsetTag = "AAAAAA+";

// "ABCDEF+Name": a subset made for other text.
bool IsSubsetName(std::string_view baseFont) {
  if (!baseFont.empty() && baseFont[0] == '/') baseFont.remove_prefix(1);
  if (baseFont.size() < 7 || baseFont[6] != '+') return false;
  return std::all_of(baseFont.begin(), baseFont.begin() + 6, [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string NameText(const TksPDFObject* value) {
  const auto* name = value && value->ObjectType == otName ? static_cast<const TksPDFNameObject*>(value) : nullptr;
  return name ? name->Text : std::string();
}

std::unique_ptr<TksPDFArrayObject> IntegerArray(std::initializer_list<int32_t> values) {
  auto array = std::make_unique<TksPDFArrayObject>();
  for (int32_t v : values) array->AddInteger(v);
  return array;
}

std::unique_ptr<TksPDFDictObject> FontDescriptor(const TksPDFFont& font, const std::string& fontName) {
  const TksPDFFontInfo& info = font.Info();
  auto d = std::make_unique<TksPDFDictObject>();
  d->AddName("/Type", "/FontDescriptor");
  d->AddName("/FontName", fontName);
  d->AddInteger("/Flags", info.DescriptorFlags);
  d->AddObject("/FontBBox", IntegerArray({info.FontBBox[0], info.FontBBox[3], info.FontBBox[2], info.FontBBox[1]}));
  d->AddInteger("/Ascent", static_cast<int32_t>(std::lround(info.Ascent)));
  d->AddInteger("/Descent", static_cast<int32_t>(std::lround(info.Descent)));
  d->AddInteger("/CapHeight", static_cast<int32_t>(std::lround(info.CapHeight)));
  d->AddInteger("/AvgWidth", info.AvgWidth);
  d->AddInteger("/MaxWidth", info.MaxWidth);
  d->AddInteger("/MissingWidth", info.MaxWidth);
  d->AddInteger("/StemV", info.StemV);
  d->AddInteger("/ItalicAngle", info.ItalicAngle);
  return d;
}

// A stream whose data are set before each save.
TksPDFIndirectObject* EmptyStream(TksPageEditor& editor) {
  auto dict = std::make_unique<TksPDFDictObject>();
  dict->AddInteger("/Length", 0);
  return editor.AddObject(std::make_unique<TksPDFStreamObject>(std::move(dict), std::make_unique<TksMemoryStream>()));
}

bool SameFace(const ksplatform::FontFace& a, const ksplatform::FontFace& b) {
  return a.File == b.File && a.Index == b.Index;
}

TksPDFDictObject* DictOf(TksPDFIndirectObject* object) { return object ? AsDict(object->Value.get()) : nullptr; }

// The /W array's numbers for the glyphs drawn: each run of consecutive glyphs as its
// first glyph and the array of their widths.
std::unique_ptr<TksPDFArrayObject> DrawnWidths(const TksPDFFont& font) {
  auto w = std::make_unique<TksPDFArrayObject>();
  const std::set<uint16_t>& glyphs = font.UsedGlyphs;
  for (auto it = glyphs.begin(); it != glyphs.end();) {
    w->AddInteger(*it);
    auto run = std::make_unique<TksPDFArrayObject>();
    uint32_t next = *it;
    for (; it != glyphs.end() && *it == next; ++it, ++next)
      run->AddInteger(*it < font.GlyphWidths.size() ? font.GlyphWidths[*it] : 0);
    w->Add(std::move(run));
  }
  return w;
}

// A CIDToGIDMap stream's data: two bytes of the new glyph per CID, from CID 0 to the last.
std::string CidToGidData(const std::vector<uint32_t>& cids, const std::vector<uint32_t>& glyphs) {
  const uint32_t last = cids.empty() ? 0 : *std::max_element(cids.begin(), cids.end());
  std::string data(2 * (static_cast<size_t>(last) + 1), '\0');
  for (size_t i = 0; i < cids.size() && i < glyphs.size(); ++i) {
    data[2 * cids[i]] = static_cast<char>(glyphs[i] >> 8);
    data[2 * cids[i] + 1] = static_cast<char>(glyphs[i] & 0xFF);
  }
  return data;
}

void SetCompressedData(TksPDFIndirectObject& object, const std::string& data, bool withLength1) {
  auto* stream = static_cast<TksPDFStreamObject*>(object.Value.get());
  const std::string packed = FlateCompress(data, 2);
  stream->Data = std::make_unique<TksMemoryStream>(packed);
  stream->Dict->SetInteger("/Length", static_cast<int32_t>(packed.size()));
  stream->Dict->SetName("/Filter", "/FlateDecode");
  if (withLength1) stream->Dict->SetInteger("/Length1", static_cast<int32_t>(data.size()));
}

}  // namespace

std::string SubsetTag(std::string_view program) {
  // FNV-1a over the bytes; six base-26 digits of the hash.
  uint64_t hash = 0xCBF29CE484222325ull;
  for (unsigned char c : program) hash = (hash ^ c) * 0x100000001B3ull;
  std::string tag(6, 'A');
  for (char& c : tag) {
    c = static_cast<char>('A' + hash % 26);
    hash /= 26;
  }
  return tag;
}

std::string EscapedName(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x21 || c > 0x7E || std::string_view("()<>[]{}/%#").find(static_cast<char>(c)) != std::string_view::npos) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "#%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// ---- the registry ----

TksFontRegistry& TksFontRegistry::Of(TksCustomPDFDocument& document) {
  TksPageEditor editor(document);
  std::shared_ptr<TksDocumentExtension>& slot = editor.State().Fonts;
  if (!slot) slot = std::make_shared<TksFontRegistry>();
  return static_cast<TksFontRegistry&>(*slot);
}

TksCreatedFont* TksFontRegistry::Find(const std::string& baseFont, const std::string& subtype,
                                      const std::string& encodingName, uint8_t embedMode,
                                      const ksplatform::FontFace& face) {
  for (auto& f : fonts_)
    if (f->BaseFont == baseFont && f->Subtype == subtype && f->EncodingName == encodingName &&
        f->EmbedMode == embedMode && SameFace(f->Font->Face(), face))
      return f.get();
  return nullptr;
}

TksCreatedFont* TksFontRegistry::FindObject(int32_t objectNumber) {
  for (auto& f : fonts_)
    if (f->FontObject == objectNumber) return f.get();
  return nullptr;
}

TksCreatedFont& TksFontRegistry::Add(std::unique_ptr<TksCreatedFont> font) {
  fonts_.push_back(std::move(font));
  return *fonts_.back();
}

void TksFontRegistry::PrepareForSave(TksCustomPDFDocument& document) {
  for (auto& f : fonts_) {
    TksPDFIndirectObject* fontObject = document.Store->Find(document.DocumentID, f->FontObject, 0);
    // A font no page refers to is not written, and neither is what belongs to it.
    if (!fontObject || fontObject->UseCount <= 0) continue;
    const auto mark = [&](int32_t number) -> TksPDFIndirectObject* {
      TksPDFIndirectObject* object = number > 0 ? document.Store->Find(document.DocumentID, number, 0) : nullptr;
      if (object && object->UseCount <= 0) object->MarkUsed();
      return object;
    };
    // The descriptor, and for composite fonts the descendant, hang off the font object.
    auto* dict = AsDict(fontObject->Value.get());
    if (auto* descendants = dict ? AsArray(dict->Lookup("/DescendantFonts")) : nullptr)
      if (auto* ref = AsRef(descendants->GetItem(0))) {
        TksPDFIndirectObject* cid = mark(ref->ObjectNumber);
        if (auto* cidDict = cid ? AsDict(cid->Value.get()) : nullptr)
          if (auto* desc = AsRef(cidDict->Lookup("/FontDescriptor"))) mark(desc->ObjectNumber);
      }
    if (auto* desc = dict ? AsRef(dict->Lookup("/FontDescriptor")) : nullptr) mark(desc->ObjectNumber);

    const bool composite = f->CidFontObject > 0;
    if (composite)
      if (auto* cidDict = DictOf(mark(f->CidFontObject))) cidDict->SetObject("/W", DrawnWidths(*f->Font));
    if (TksPDFIndirectObject* file = mark(f->FontFileObject)) {
      const bool cff = f->Font->CffOutlines();
      std::optional<ksplatform::FontSubset> subset;
      // A composite font's codes are glyph numbers: a CFF program keeps them, a TrueType
      // one is renumbered through the CIDToGIDMap.
      if (f->EmbedMode == 2) subset = f->Font->BuildSubsetFont(composite && cff);
      std::string program = subset ? subset->Program : f->Font->Program();
      if (f->EmbedMode == 2) {
        // The name carries the tag of this very subset (none when the whole program went in).
        const std::string face = f->BaseFont.substr(1 + kPendingSubsetTag.size());
        const std::string name = "/" + (subset ? SubsetTag(program) + "+" : std::string()) + face;
        dict->SetName("/BaseFont", name);
        if (auto* cidDict = DictOf(mark(f->CidFontObject))) cidDict->SetName("/BaseFont", name);
        if (auto* descriptor = DictOf(mark(f->DescriptorObject))) descriptor->SetName("/FontName", name);
      }
      if (TksPDFIndirectObject* map = mark(f->CidToGidObject)) {
        const std::vector<uint32_t> cids(f->Font->UsedGlyphs.begin(), f->Font->UsedGlyphs.end());
        SetCompressedData(*map, CidToGidData(cids, subset ? subset->NewGlyphs : cids), false);
      }
      if (cff) {
        // From 1.6 the OpenType program itself; before, its bare CFF font.
        const bool openType = document.PDFVersion >= pvPDF16;
        if (!openType) program = std::string(TksTrueTypeProgram(program).Table("CFF "));
        SetCompressedData(*file, program, false);
        static_cast<TksPDFStreamObject*>(file->Value.get())
            ->Dict->SetName("/Subtype", openType ? "/OpenType" : composite ? "/CIDFontType0C" : "/Type1C");
      } else {
        SetCompressedData(*file, program, true);
      }
    }
    if (TksPDFIndirectObject* map = mark(f->ToUnicodeObject)) {
      std::vector<std::pair<uint16_t, char32_t>> pairs;
      for (char32_t c : f->Font->UsedCodePoints)
        if (auto glyph = f->Font->GlyphOf(c)) pairs.emplace_back(*glyph, c);
      SetCompressedData(*map, ToUnicodeCMap(pairs), false);
    }
  }
}

// ---- what a font is written as ----

TksWantedFont WantedFontOf(const TksPDFFont& font, uint8_t embedMode, int32_t encoding) {
  TksWantedFont wanted;
  wanted.Face = font.Face();
  const bool trueType = font.Info().FontKind == ftkTrueType;
  // A CFF program embeds as it is; a composite font's codes are its glyph numbers, which
  // a CID-keyed CFF font does not take.
  const bool cff = font.CffOutlines();
  wanted.Composite = !font.IsWestern();
  if (wanted.Composite) {
    if (!trueType && !(cff && !font.CidKeyedOutlines()))
      throw EUnsupportedFontError(ksFormat(ksres::SUnsupportedFont, font.Font().Name.c_str()));
    wanted.Subtype = "/Type0";
    wanted.EncodingName = "/Identity-H";
    // Its codes are glyph numbers of this very program: it is always embedded.
    wanted.EmbedMode = embedMode == 0 ? 1 : embedMode;
  } else {
    wanted.Subtype = trueType ? "/TrueType" : "/Type1";
    if (encoding != 3) wanted.EncodingName = kFontEncodingNames[encoding];
    wanted.EmbedMode = trueType || cff ? embedMode : 0;
  }
  wanted.BaseFont = "/" + std::string(wanted.EmbedMode == 2 ? kPendingSubsetTag : "") +
                    EscapedName(TksPDFFont::BaseFontText(font.Font()));
  return wanted;
}

void CheckFontRequest(uint8_t embedMode, int32_t encoding) {
  if (embedMode > 2) throw EInvalidValueError(ksFormat(ksres::SInvalidEmbedMode, static_cast<int32_t>(embedMode)));
  if (encoding < 0 || encoding >= kFontEncodingCount)
    throw EInvalidValueError(ksFormat(ksres::SInvalidFontEncoding, encoding));
  if (encoding == 2) throw EInvalidValueError(ksres::SMacExpertRefused);
  if (encoding == 4) throw EInvalidValueError(ksres::SPDFDocRefused);
}

std::string MatchingFontKey(TksPageEditor& editor, TksPDFDictObject& fonts, const TksWantedFont& wanted,
                            int32_t encoding, std::u32string_view text, int32_t* objectNumber) {
  // The codes the text needs of a simple font: a loaded font must hold widths for them.
  int32_t low = 256, high = -1;
  if (!wanted.Composite)
    for (char32_t c : text)
      if (auto code = FontEncodingCode(encoding, c)) {
        low = std::min<int32_t>(low, *code);
        high = std::max<int32_t>(high, *code);
      }
  TksFontRegistry& registry = TksFontRegistry::Of(editor.Document());
  for (int32_t i = 0; i < fonts.Count(); ++i) {
    TksPDFObject* value = fonts.ValueAt(i);
    const auto* ref = AsRef(value);
    if (ref && ref->DocumentID == editor.Document().DocumentID) {
      if (TksCreatedFont* created = registry.FindObject(ref->ObjectNumber)) {
        if (created->BaseFont == wanted.BaseFont && created->Subtype == wanted.Subtype &&
            created->EncodingName == wanted.EncodingName && created->EmbedMode == wanted.EmbedMode &&
            SameFace(created->Font->Face(), wanted.Face)) {
          if (objectNumber) *objectNumber = ref->ObjectNumber;
          return fonts.KeyAt(i)->Text();
        }
        continue;
      }
    }
    // Loaded fonts: composite ones hold codes of another program, subsets glyphs of
    // other text, and an embedded program asked for must be ours.
    if (wanted.Composite || wanted.EmbedMode != 0) continue;
    auto* dict = AsDict(editor.Resolve(value));
    if (!dict || !dict->Lookup("/Subtype")) continue;
    const std::string baseFont = NameText(editor.Resolve(dict->Lookup("/BaseFont")));
    if (baseFont != wanted.BaseFont || IsSubsetName(baseFont)) continue;
    if (NameText(editor.Resolve(dict->Lookup("/Subtype"))) != wanted.Subtype) continue;
    if (NameText(editor.Resolve(dict->Lookup("/Encoding"))) != wanted.EncodingName) continue;
    if (high >= 0) {
      const auto* first = AsInteger(editor.Resolve(dict->Lookup("/FirstChar")));
      const auto* last = AsInteger(editor.Resolve(dict->Lookup("/LastChar")));
      if (!first || !last || first->Value > low || last->Value < high) continue;
    }
    if (objectNumber) *objectNumber = ref ? ref->ObjectNumber : -1;
    return fonts.KeyAt(i)->Text();
  }
  return {};
}

// ---- the document's operations ----

std::string TksCustomPDFDocument::FindFontResourceName(TksPDFDictObject* fontDictionary, const TksFont& font,
                                                      uint8_t encodingIndex, uint8_t embedMode,
                                                      const std::u16string& text) {
  CheckFontRequest(embedMode, encodingIndex);
  if (!fontDictionary) return {};
  TksPDFFont pdfFont(font, false, true, this);
  TksPageEditor editor(*this);
  return MatchingFontKey(editor, *fontDictionary, WantedFontOf(pdfFont, embedMode, encodingIndex), encodingIndex,
                         ToCharacters(text), nullptr);
}

std::unique_ptr<TksPDFIndirectReference> TksCustomPDFDocument::AddFontResource(const TksFont& font,
                                                                               const std::string& resourceName,
                                                                               uint8_t embedMode,
                                                                               uint8_t encodingIndex,
                                                                               const std::u16string& text) {
  CheckFontRequest(embedMode, encodingIndex);
  auto pdfFont = std::make_unique<TksPDFFont>(font, false, true, this);
  TksCreatedFont* created = CreateFontResource(*this, std::move(pdfFont), resourceName, embedMode, encodingIndex,
                                               ToCharacters(text));
  return std::make_unique<TksPDFIndirectReference>(DocumentID, created->FontObject, 0);
}

TksCreatedFont* CreateFontResource(TksCustomPDFDocument& document, std::unique_ptr<TksPDFFont> pdfFont,
                                   const std::string& resourceName, uint8_t embedMode, int32_t encoding,
                                   std::u32string_view text) {
  TksPageEditor editor(document);
  TksFontRegistry& registry = TksFontRegistry::Of(document);
  const TksWantedFont wanted = WantedFontOf(*pdfFont, embedMode, encoding);
  if (wanted.Composite && embedMode == 0 && !registry.WarnedCompositeEmbedding) {
    registry.WarnedCompositeEmbedding = true;
    editor.Warning(ksFormat(ksres::SCompositeEmbedded, pdfFont->Font().Name.c_str()));
  }

  // A font this document made already, or a loaded one some page has.
  if (TksCreatedFont* existing =
          registry.Find(wanted.BaseFont, wanted.Subtype, wanted.EncodingName, wanted.EmbedMode, pdfFont->Face())) {
    existing->Font->RecordDrawn(text);
    return existing;
  }
  auto entry = std::make_unique<TksCreatedFont>();
  TksPDFFont& font = *pdfFont;
  entry->Font = std::move(pdfFont);
  entry->EmbedMode = wanted.EmbedMode;
  entry->Encoding = encoding;
  entry->BaseFont = wanted.BaseFont;
  entry->Subtype = wanted.Subtype;
  entry->EncodingName = wanted.EncodingName;
  if (!wanted.Composite && wanted.EmbedMode == 0) {
    for (int32_t pageNo = 1; pageNo <= document.PageCount(); ++pageNo) {
      TksPDFDictObject* resources = editor.Resources(pageNo, false);
      TksPDFDictObject* fonts = resources ? editor.Category(*resources, "/Font") : nullptr;
      int32_t number = -1;
      if (fonts && !MatchingFontKey(editor, *fonts, wanted, encoding, text, &number).empty() && number > 0) {
        // Kept as a font of this document, so the next application finds it at once.
        entry->FontObject = number;
        return &registry.Add(std::move(entry));
      }
    }
  }

  font.RecordDrawn(text);

  auto descriptor = FontDescriptor(font, wanted.BaseFont);
  if (wanted.EmbedMode != 0) {
    TksPDFIndirectObject* file = EmptyStream(editor);
    entry->FontFileObject = file->ObjectNumber;
    descriptor->AddObject(font.CffOutlines() ? "/FontFile3" : "/FontFile2", file->ReferenceTo());
  }
  TksPDFIndirectObject* descriptorObject = editor.AddObject(std::move(descriptor));
  entry->DescriptorObject = descriptorObject->ObjectNumber;

  auto dict = std::make_unique<TksPDFDictObject>();
  dict->AddName("/Type", "/Font");
  dict->AddName("/Subtype", wanted.Subtype);
  if (!wanted.Composite) {
    dict->AddName("/BaseFont", wanted.BaseFont);
    if (!resourceName.empty()) dict->AddName("/Name", resourceName);
    if (!wanted.EncodingName.empty()) dict->AddName("/Encoding", wanted.EncodingName);
    dict->AddInteger("/FirstChar", 32);
    dict->AddInteger("/LastChar", 255);
    auto widths = std::make_unique<TksPDFArrayObject>();
    for (int32_t w : font.WidthsFor(encoding)) widths->AddInteger(w);
    dict->AddObject("/Widths", std::move(widths));
    dict->AddObject("/FontDescriptor", descriptorObject->ReferenceTo());
  } else {
    if (!resourceName.empty()) dict->AddName("/Name", resourceName);
    dict->AddName("/BaseFont", wanted.BaseFont);
    dict->AddName("/Encoding", wanted.EncodingName);
    TksPDFIndirectObject* map = EmptyStream(editor);
    entry->ToUnicodeObject = map->ObjectNumber;
    dict->AddObject("/ToUnicode", map->ReferenceTo());

    auto cid = std::make_unique<TksPDFDictObject>();
    cid->AddName("/Type", "/Font");
    cid->AddName("/Subtype", font.CffOutlines() ? "/CIDFontType0" : "/CIDFontType2");
    cid->AddName("/BaseFont", wanted.BaseFont);
    cid->AddObject("/FontDescriptor", descriptorObject->ReferenceTo());
    auto system = std::make_unique<TksPDFDictObject>();
    system->AddObject("/Registry", std::make_unique<TksPDFStringObject>("(Adobe)"));
    system->AddObject("/Ordering", std::make_unique<TksPDFStringObject>("(Identity)"));
    system->AddInteger("/Supplement", 0);
    cid->AddObject("/CIDSystemInfo", std::move(system));
    // The widths of the glyphs drawn, set at each save.
    cid->AddObject("/W", std::make_unique<TksPDFArrayObject>());
    cid->AddInteger("/DW", 1000);
    if (!font.CffOutlines()) {
      if (wanted.EmbedMode == 2) {
        TksPDFIndirectObject* map = EmptyStream(editor);
        entry->CidToGidObject = map->ObjectNumber;
        cid->AddObject("/CIDToGIDMap", map->ReferenceTo());
      } else {
        cid->AddName("/CIDToGIDMap", "/Identity");
      }
    }
    TksPDFIndirectObject* cidObject = editor.AddObject(std::move(cid));
    entry->CidFontObject = cidObject->ObjectNumber;
    auto descendants = std::make_unique<TksPDFArrayObject>();
    descendants->Add(cidObject->ReferenceTo());
    dict->AddObject("/DescendantFonts", std::move(descendants));
  }
  entry->FontObject = editor.AddObject(std::move(dict))->ObjectNumber;
  return &registry.Add(std::move(entry));
}
