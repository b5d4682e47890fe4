// The structure walk over catalog and page tree.
#include <string_view>
#include <unordered_set>

#include "document/ksCstPDFDoc.h"
#include "parse/ksPDFParsers.h"
#include "base/ksPDFResStrs.h"

namespace {

// Deeper page trees than this are hostile; real ones are a handful of levels deep.
constexpr int kMaxPageTreeDepth = 512;


// A null entry means the same as no entry.
TksPDFObject* Present(const TksPDFDictObject& dict, std::string_view key) {
  TksPDFObject* v = dict.Lookup(key);
  return v && v->ObjectType != otNull ? v : nullptr;
}

// What a page tree entry is: its /Type says so; without one, a node has /Kids and a page
// has a page's entries or inherits a box. An entry with another /Type is neither.
enum class PageTreeKind { Page, Node, Neither };

PageTreeKind PageTreeKindOf(const TksPDFDictObject& dict, const TksPDFDictObject* inherited) {
  if (TksPDFObject* type = dict.Lookup("/Type")) {
    if (IsName(type, "/Page")) return PageTreeKind::Page;
    if (IsName(type, "/Pages")) return PageTreeKind::Node;
    return PageTreeKind::Neither;
  }
  if (dict.Lookup("/Kids")) return PageTreeKind::Node;
  for (const char* key : {"/Contents", "/MediaBox", "/Resources"})
    if (dict.Lookup(key)) return PageTreeKind::Page;
  if (inherited && (inherited->Lookup("/MediaBox") || inherited->Lookup("/CropBox"))) return PageTreeKind::Page;
  return PageTreeKind::Neither;
}

}  // namespace

void TksCustomPDFDocument::ResetStructure() {
  OutlineRoot.reset();
  OutlineCount = 0;
  AcroFormFields.clear();
  fieldValues_.clear();
  destIndex_.clear();
  destIndexed_ = 0;
  rebuilt_.clear();
  versionReport_.Clear();
  walkPage_ = 0;
  objectFeatures_.clear();
}

int32_t TksCustomPDFDocument::NewObjectNumber() {
  // The store's counter starts at the file's highest number; skipping numbers that are
  // taken keeps a new object from shadowing one of the file even when it does not.
  int32_t n = Store->NextObjectNumber();
  while (FindLoaded(n, 0) || FindObjectOffset(n) != 0) n = Store->NextObjectNumber();
  return n;
}

void TksCustomPDFDocument::ReadStructure() {
  std::unique_ptr<TksPDFIndirectObject> catalogReadNow;
  // Nothing is read from the source file after the walk, also when it fails.
  struct ReleaseReader {
    TksCustomPDFDocument* doc;
    ~ReleaseReader() { doc->load_.reset(); }
  } releaseReader{this};

  // Document information: whatever the trailer's /Info holds, so title and author
  // survive a conversion also when the file names no producer.
  if (Trailer.InfoReference && Info_->IsEmpty()) {
    TksPDFObject* value = ResolveValue(Trailer.InfoReference.get());
    if (auto* info = AsDict(value)) {
      if (Trailer.InfoReference->ObjectNumber > 0) NoteRebuilt(Trailer.InfoReference->ObjectNumber, rbInformation);
      std::unique_ptr<TksPDFDictObject> copy = info->CloneDict();
      // The dictionary is written as a new object, so values kept in objects of their
      // own are taken in; only what cannot stand directly stays a reference.
      for (int32_t i = 0; i < copy->Count(); ++i) {
        TksPDFObject* v = copy->ValueAt(i);
        if (!v || v->ObjectType != otIndirectReference) continue;
        TksPDFObject* target = ResolveValue(v);
        if (target && target->ObjectType != otStream) copy->PutValueAt(i, target->Clone());
      }
      MarkReachable(copy.get());
      Info_->SetDictionary(std::move(copy));
    } else if (value) {
      Warning(ksFormat(ksres::SInfoNotDictionary, Trailer.InfoReference->ObjectNumber));
    }
  }

  // The catalog: read for the walk, not stored; the writer builds a new one.
  const int32_t rootNumber = Trailer.RootNumber;
  TksPDFIndirectObject* catalogObject = rootNumber > 0 ? FindLoaded(rootNumber, 0) : nullptr;
  if (!catalogObject && rootNumber > 0) {
    catalogReadNow = ReadObject(rootNumber);
    catalogObject = catalogReadNow.get();
  }
  if (!catalogObject) throw EPDFFileCorruptedError(ksFormat(ksres::SCatalogNotFound, rootNumber));
  TksPDFDictObject* catalog = AsDict(catalogObject->Value.get());
  if (!catalog) throw EPDFFileCorruptedError(ksFormat(ksres::SCatalogNotDictionary, rootNumber));
  NoteRebuilt(rootNumber, rbCatalog);

  // A catalog may raise the header's version (PDFVersion holds the header's here); a /Version
  // that names no known version is ignored. The writer drops the entry: the header it
  // writes holds the version chosen.
  CatalogVersion.reset();
  if (TksPDFObject* v = Present(*catalog, "/Version"))
    if (auto* name = AsName(ResolveValue(v))) CatalogVersion = PDFVersionFromText(name->NameValue());
  if (CatalogVersion && *CatalogVersion > PDFVersion) PDFVersion = *CatalogVersion;

  // A name the enumerations have no value for is kept as it stands; the defaults need
  // no entry.
  TksPDFNameObject* mode = AsName(catalog->Lookup("/PageMode"));
  PageMode = PageModeFromName(mode ? std::string_view(mode->Text) : std::string_view());
  if (PageMode == pmNone && mode && mode->Text != "/UseNone") OtherPageMode = mode->Text;
  TksPDFNameObject* layout = AsName(catalog->Lookup("/PageLayout"));
  PageLayout = PageLayoutFromName(layout ? std::string_view(layout->Text) : std::string_view());
  if (PageLayout == plNone && layout && layout->Text != "/None") OtherPageLayout = layout->Text;

  if (TksPDFObject* v = Present(*catalog, "/ViewerPreferences"))
    if (TksPDFDictObject* prefs = ResolveDictionary(v, false)) {
      Catalog->ViewerPreferences.SetDictionary(prefs->CloneDict());
      // Keys the engine does not model are written as they stand, references included.
      TksPDFDictObject& kept = Catalog->ViewerPreferences.Dictionary();
      for (int32_t i = 0; i < kept.Count(); ++i)
        if (!TksPDFViewerPreferences::IsModelledKey(kept.KeyAt(i)->Text())) MarkReachable(kept.ValueAt(i));
    }

  if (TksPDFObject* v = Present(*catalog, "/Metadata")) {
    Catalog->Metadata = v->Clone();
    MarkReachable(Catalog->Metadata.get());
  }

  // Named destinations are collected before anything that may use them is followed,
  // so links, actions and outlines all get the explicit destinations.
  TksPDFObject* dests = Present(*catalog, "/Dests");
  if (dests) ReadDests(dests);
  TksPDFObject* names = Present(*catalog, "/Names");
  if (names) ReadNameTree(names);

  // Deliberate: the walk reports 10, 75, 30, 90, 60, 100 in that order, not rising.
  // Callers that drive progress bars and scripts that log them expect this sequence;
  // it marks the steps, not a share of the work.
  IOProgress(10);
  StatusMessage(ksres::STraversingPages);
  auto* pagesRef = AsRef(catalog->Lookup("/Pages"));
  if (!pagesRef) throw EUnexpectedObjectError(ksFormat(ksres::SExpectedReference, "/Pages"));
  ReadPageTree(pagesRef->ObjectNumber, pagesRef->Generation, nullptr);

  IOProgress(75);
  if (dests) StatusMessage(ksres::SProcessingDests);

  IOProgress(30);
  StatusMessage(ksres::SProcessingAnnots);
  for (size_t i = 0; i < Pages.size(); ++i)
    if (auto* dict = AsDict(Pages[i]->Value.get())) {
      walkPage_ = static_cast<int32_t>(i + 1);
      MarkReachable(dict->Lookup("/Annots"));
    }
  walkPage_ = 0;

  IOProgress(90);
  if (TksPDFObject* v = Present(*catalog, "/AcroForm")) {
    Catalog->AcroForm = v->Clone();
    ReadAcroForm(v);
    StatusMessage(ksres::SAcroFormsProcessed);
  }

  if (TksPDFObject* v = Present(*catalog, "/OpenAction")) {
    Catalog->OpenAction = v->Clone();
    MarkReachable(Catalog->OpenAction.get());
  }
  if (TksPDFObject* v = Present(*catalog, "/AA")) {
    Catalog->AA = v->Clone();
    MarkReachable(Catalog->AA.get());
  }

  if (names) {
    StatusMessage(ksres::SProcessingNameTree);
    // Every tree the dictionary holds (destinations, scripts, embedded files) is kept.
    Catalog->Names = names->Clone();
    MarkReachable(Catalog->Names.get());
  }

  IOProgress(60);
  StatusMessage(ksres::SReadingOutlines);
  if (TksPDFObject* v = Present(*catalog, "/Outlines")) {
    Catalog->Outlines = v->Clone();
    ReadOutlines(v);
  }

  // Features the catalog declares by its entries.
  if (Catalog->AcroForm) NoteFeatures(FeatureBit(pfInteractiveForm));
  if (Catalog->Metadata) NoteFeatures(FeatureBit(pfXMPMetadata));
  if (Present(*catalog, "/StructTreeRoot")) NoteFeatures(FeatureBit(pfTaggedStructure));
  if (Present(*catalog, "/OCProperties")) NoteFeatures(FeatureBit(pfOptionalContent));
  if (Present(*catalog, "/Collection")) NoteFeatures(FeatureBit(pfPortfolio));

  // Structure tree, language, page labels, layers and the rest: kept so that the
  // writer can put them back after the entries it builds.
  for (int32_t i = 0; i < catalog->Count(); ++i) {
    const std::string& key = catalog->KeyAt(i)->Text();
    TksPDFObject* v = catalog->ValueAt(i);
    if (!v || v->ObjectType == otNull || TksPDFCatalog::IsBuiltKey(key) || TksPDFCatalog::IsDroppedKey(key) || Catalog->OtherEntries->IndexOfKey(key) >= 0)
      continue;
    Catalog->OtherEntries->AddObject(key, v->Clone());
    MarkReachable(Catalog->OtherEntries->ValueAt(Catalog->OtherEntries->Count() - 1));
  }

  IOProgress(100);
}

void TksCustomPDFDocument::ReadPageTree(int32_t objectNumber, int32_t generation, const TksPDFDictObject* inherited) {
  // One level per "/Pages" node on the path; the children are walked in a loop, so
  // a deep or wide tree costs no call stack.
  struct Level {
    std::unique_ptr<TksPDFIndirectObject> readNow;  // a node read for this walk, freed after
    TksPDFArrayObject* kids = nullptr;
    int32_t next = 0;
    std::unique_ptr<TksPDFDictObject> inherited;  // what the children inherit
  };
  std::vector<Level> levels;
  std::unordered_set<int32_t> nodesSeen;

  auto readNode = [&](int32_t n, int32_t g, const TksPDFDictObject* inheritedHere) {
    std::unique_ptr<TksPDFIndirectObject> readNow;
    // A node read now is stored only once it proves to be a page: the tree's own nodes
    // are rebuilt by the writer and live only while their level is walked.
    TksPDFIndirectObject* node = resolver_->Follow(n, g, fpPeek);
    if (!node) {
      readNow = ReadObject(n, g);
      node = readNow.get();
    }
    TksPDFDictObject* dict = node ? AsDict(node->Value.get()) : nullptr;
    const PageTreeKind kind = dict ? PageTreeKindOf(*dict, inheritedHere) : PageTreeKind::Neither;
    // Viewers open files whose tree names a missing object, or an object of another
    // kind: such a kid holds no page, and the pages that are there are kept. Without
    // the root there is no document.
    if (kind == PageTreeKind::Neither) {
      if (levels.empty()) throw EPDFFileCorruptedError(ksFormat(ksres::SPageTreeRootMissing, n));
      Warning(dict ? ksFormat(ksres::SPageTreeKidUnknown, n) : ksFormat(ksres::SPageTreeKidMissing, n));
      return;
    }
    if (!dict->Lookup("/Type"))
      RepeatedWarning(rfUntypedPageTreeEntry,
                      ksFormat(ksres::SPageTreeKidUntyped, n, kind == PageTreeKind::Page ? "page" : "page tree node"));

    if (kind == PageTreeKind::Page) {
      if (readNow) node = AddLoaded(std::move(readNow));
      node->MarkUsed();
      dict = AsDict(node->Value.get());
      if (!dict) throw EUnexpectedError(ksres::SUnexpectedError);
      // The writer gives every page its new parent. Its article beads (/B) stay, as the
      // catalog's threads do.
      // A page known by its entries is written as what it is.
      if (!dict->Lookup("/Type")) dict->SetObject("/Type", std::make_unique<TksPDFNameObject>("/Page"));
      dict->Remove("/Parent");
      if (inheritedHere)
        for (int32_t i = 0; i < inheritedHere->Count(); ++i) {
          const std::string& key = inheritedHere->KeyAt(i)->Text();
          if (dict->IndexOfKey(key) < 0) dict->AddObject(key, CloneOf(inheritedHere->ValueAt(i)));
        }
      // The page's entries are followed here (its annotations later, in page order),
      // so reaching the page again from elsewhere needs no second walk.
      node->Followed = true;
      walkPage_ = static_cast<int32_t>(Pages.size() + 1);
      for (int32_t i = 0; i < dict->Count(); ++i)
        if (dict->KeyAt(i)->Text() != "/Annots") {
          versionReport_.Note(FeaturesOfEntry(dict->KeyAt(i)->Text(), dict->ValueAt(i)), walkPage_);
          MarkReachable(dict->ValueAt(i));
        }
      walkPage_ = 0;
      Pages.push_back(node);
      return;
    }

    if (!nodesSeen.insert(n).second) throw EPDFFileCorruptedError(ksFormat(ksres::SPageTreeLoop, n));
    // The writer's single page tree node takes the place of every node of the source.
    NoteRebuilt(n, rbPageTree);
    if (levels.size() >= static_cast<size_t>(kMaxPageTreeDepth))
      throw EPDFFileCorruptedError(ksFormat(ksres::SPageTreeTooDeep, kMaxPageTreeDepth));
    Level level;
    level.kids = ResolveArray(dict->Lookup("/Kids"), false);
    level.inherited = inheritedHere ? inheritedHere->CloneDict() : std::make_unique<TksPDFDictObject>();
    for (const char* key : {"/Rotate", "/MediaBox", "/Resources", "/CropBox"})
      if (TksPDFObject* v = dict->Lookup(key)) level.inherited->SetObject(key, v->Clone());
    level.readNow = std::move(readNow);
    levels.push_back(std::move(level));
  };

  readNode(objectNumber, generation, inherited);
  while (!levels.empty()) {
    Level& top = levels.back();
    if (!top.kids || top.next >= top.kids->Count()) {
      levels.pop_back();
      continue;
    }
    TksPDFObject* kid = top.kids->GetItem(top.next++);
    if (!kid || kid->ObjectType == otNull) continue;  // an empty slot holds no page
    auto* ref = AsRef(kid);
    if (!ref) throw EUnexpectedObjectError(ksFormat(ksres::SExpectedReference, "/Kids"));
    // The inherited dictionary is owned by a unique_ptr, so it stays put when levels grows.
    readNode(ref->ObjectNumber, ref->Generation, top.inherited.get());
  }
}
