// Outlines, named destinations and name trees.
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "document/ksCstPDFDoc.h"
#include "base/ksPDFResStrs.h"

namespace {

// Real name trees are a few levels deep and real outlines rarely pass ten.
constexpr int kMaxNameTreeDepth = 256;
constexpr int kMaxOutlineDepth = 256;

// The entries of an outline item the save writes first, in this order; every other
// entry but the structure ones (structure element, extensions, ...) follows as it stands.
constexpr std::string_view kItemKeys[] = {"/Dest", "/Title", "/C", "/F", "/A"};
constexpr std::string_view kStructureKeys[] = {"/Parent", "/Prev", "/Next", "/First", "/Last", "/Count"};

bool IsItemKey(std::string_view key) {
  for (std::string_view k : kItemKeys)
    if (k == key) return true;
  for (std::string_view k : kStructureKeys)
    if (k == key) return true;
  return false;
}

// A copy of an explicit destination, its page reference stamped with this document.
TksPDFObjectPtr DestinationCopy(const TksPDFArrayObject& dest, int32_t documentID) {
  TksPDFObjectPtr copy = dest.Clone();
  if (auto* page = AsRef(static_cast<TksPDFArrayObject*>(copy.get())->GetItem(0))) page->DocumentID = documentID;
  return copy;
}

}  // namespace

// ---- TksPDFOutline ----

TksPDFOutline::TksPDFOutline(TksCustomPDFDocument* document, int32_t documentID, int32_t objectNumber,
                             uint16_t generation, std::unique_ptr<TksPDFDictObject> value)
    : TksPDFIndirectObject(documentID, objectNumber, generation, std::move(value)), Document(document) {}

TksPDFOutline::~TksPDFOutline() {
  std::vector<std::unique_ptr<TksPDFOutline>> pending;
  if (First) pending.push_back(std::move(First));
  if (Next) pending.push_back(std::move(Next));
  while (!pending.empty()) {
    std::unique_ptr<TksPDFOutline> item = std::move(pending.back());
    pending.pop_back();
    if (item->First) pending.push_back(std::move(item->First));
    if (item->Next) pending.push_back(std::move(item->Next));
  }
}

int32_t TksPDFOutline::DescendantCount() const {
  int32_t count = 0;
  std::vector<const TksPDFOutline*> pending;
  if (First) pending.push_back(First.get());
  while (!pending.empty()) {
    const TksPDFOutline* item = pending.back();
    pending.pop_back();
    ++count;
    if (item->Next) pending.push_back(item->Next.get());
    if (item->First) pending.push_back(item->First.get());
  }
  return count;
}

// ---- destinations ----

void TksCustomPDFDocument::ReadDests(TksPDFObject* dests) {
  TksPDFDictObject* dict = nullptr;
  if (auto* ref = AsRef(dests)) {
    TksPDFIndirectObject* object = LoadObject(ref->ObjectNumber);
    if (!object) return;
    dict = AsDict(object->Value.get());
    if (!dict) throw EUnexpectedObjectError(ksres::SUnexpectedObject);
  } else {
    dict = AsDict(dests);
    if (!dict) throw EUnexpectedObjectError(ksres::SUnexpectedObject);
  }
  for (int32_t i = 0; i < dict->Count(); ++i) AddNamedDestination(dict->KeyAt(i)->NameValue(), dict->ValueAt(i));
}

void TksCustomPDFDocument::AddNamedDestination(std::string name, TksPDFObject* value) {
  if (auto* ref = AsRef(value)) {
    TksPDFIndirectObject* object = LoadObject(ref->ObjectNumber, ref->Generation);
    value = object ? object->Value.get() : nullptr;
  }
  // A name that leads nowhere (null, a missing object) still gets its entry, so the lookup
  // finds "no page".
  TksPDFArrayObject* dest = nullptr;
  if (value && value->ObjectType != otNull) {
    auto* boxed = AsDict(value);
    dest = AsArray(boxed ? ResolveValue(boxed->Lookup("/D")) : value);
    if (!dest) {
      // No destination at all: the name is left out, so links to it keep the name (the
      // name tree itself is written as it stands).
      Warning(ksFormat(ksres::SNamedDestinationUnusable, name.c_str()));
      return;
    }
  }
  Dests.emplace_back(std::move(name), dest ? DestinationCopy(*dest, DocumentID) : std::make_unique<TksPDFNullObject>());
}

void TksCustomPDFDocument::ReadNameTree(TksPDFObject* names) {
  TksPDFDictObject* namesDict = ResolveDictionary(names, true);
  if (!namesDict) return;
  TksPDFObject* root = namesDict->Lookup("/Dests");
  if (!root || root->ObjectType == otNull) return;

  std::unordered_set<int32_t> nodesSeen;
  // A node given by reference is loaded (stored and marked) once; a second visit is a loop.
  auto nodeOf = [&](TksPDFObject* value) -> TksPDFDictObject* {
    if (auto* ref = AsRef(value)) {
      if (!nodesSeen.insert(ref->ObjectNumber).second)
        throw EPDFFileCorruptedError(ksFormat(ksres::SNameTreeLoop, ref->ObjectNumber));
      TksPDFIndirectObject* object = LoadObject(ref->ObjectNumber);
      if (!object) return nullptr;
      if (auto* dict = AsDict(object->Value.get())) return dict;
      throw EUnexpectedObjectError(ksres::SUnexpectedObject);
    }
    if (auto* dict = AsDict(value)) return dict;
    throw EUnexpectedObjectError(ksres::SUnexpectedObject);
  };

  auto addPairs = [&](TksPDFArrayObject& pairs) {
    for (int32_t i = 0; i + 1 < pairs.Count(); i += 2) {
      std::string key;
      if (auto* s = AsString(pairs.GetItem(i)))
        key = s->Bytes();
      else
        continue;  // not a key: the pair cannot be looked up
      AddNamedDestination(std::move(key), pairs.GetItem(i + 1));
    }
  };

  struct Level {
    TksPDFArrayObject* kids;
    int32_t next;
  };
  std::vector<Level> levels;
  auto visit = [&](TksPDFDictObject* node) {
    if (!node) return;
    if (TksPDFObject* kids = node->Lookup("/Kids")) {
      if (levels.size() >= static_cast<size_t>(kMaxNameTreeDepth))
        throw EPDFFileCorruptedError(ksFormat(ksres::SNameTreeTooDeep, kMaxNameTreeDepth));
      if (TksPDFArrayObject* array = ResolveArray(kids, true)) levels.push_back({array, 0});
    } else if (TksPDFArrayObject* pairs = ResolveArray(node->Lookup("/Names"), true)) {
      addPairs(*pairs);
    }
  };

  visit(nodeOf(root));
  while (!levels.empty()) {
    Level& top = levels.back();
    if (top.next >= top.kids->Count()) {
      levels.pop_back();
      continue;
    }
    TksPDFObject* kid = top.kids->GetItem(top.next++);
    if (!kid || kid->ObjectType == otNull) continue;
    visit(nodeOf(kid));
  }
}

// ---- outlines ----

void TksCustomPDFDocument::NormaliseAction(TksPDFDictObject& action) {
  int32_t d = action.IndexOfKey("/D");
  if (d >= 0 && !HoldsForeignDestination(action)) {
    TksPDFObject* value = action.ValueAt(d);
    if (value && value->ObjectType == otIndirectReference) {
      TksPDFObject* target = ResolveValue(value);
      if (target && target->ObjectType != otStream) action.PutValueAt(d, target->Clone());
      value = action.ValueAt(d);
    }
    if (value && value->ObjectType != otNull && value->ObjectType != otIndirectReference &&
        !ReplaceNamedDestination(action, d))
      throw EUnexpectedError(ksres::SUnexpectedError);
  }
  // Everything the action refers to is kept: scripts, files, URIs and the actions
  // chained under "/Next", whose own named destinations are replaced on the way.
  MarkReachable(&action);
}

void TksCustomPDFDocument::ReadOutlines(TksPDFObject* outlines) {
  OutlineRoot.reset();
  OutlineCount = 0;
  if (!AsRef(outlines) && !AsDict(outlines)) return;

  struct Pending {
    TksPDFObject* value;  // a reference, or the root given directly
    TksPDFOutline* parent;
    TksPDFOutline* prev;
    int depth;
  };
  std::vector<Pending> pending{{outlines, nullptr, nullptr, 0}};
  std::unordered_set<int32_t> seen;
  std::vector<TksPDFObjectPtr> links;  // the /First and /Next references of items read
  // The page tree has been read: every page of the document is loaded by now.
  const std::unordered_set<const TksPDFIndirectObject*> pages(Pages.begin(), Pages.end());
  bool depthWarned = false;

  while (!pending.empty()) {
    Pending p = pending.back();
    pending.pop_back();

    // The item's own copy of its dictionary, and the identity it is rebuilt under.
    std::unique_ptr<TksPDFDictObject> dict;
    int32_t documentID = DocumentID, objectNumber = 0;
    uint16_t generation = 0;
    if (auto* ref = AsRef(p.value)) {
      if (!seen.insert(ref->ObjectNumber).second) {
        Warning(ksFormat(ksres::SOutlineLoop, ref->ObjectNumber));
        continue;
      }
      // Items are rebuilt on save, so the source objects are neither stored nor marked,
      // and the walk does not bring them back through other references.
      NoteRebuilt(ref->ObjectNumber, rbOutlineItem);
      std::unique_ptr<TksPDFIndirectObject> readNow;
      TksPDFIndirectObject* object = FindLoaded(ref->ObjectNumber, ref->Generation);
      if (!object) {
        readNow = ReadObject(ref->ObjectNumber, ref->Generation);
        object = readNow.get();
      }
      TksPDFDictObject* source = object ? AsDict(object->Value.get()) : nullptr;
      if (!source) {
        Warning(ksFormat(ksres::SOutlineNotDictionary, ref->ObjectNumber));
        continue;
      }
      dict = source->CloneDict();
      documentID = object->DocumentID;
      objectNumber = object->ObjectNumber;
      generation = object->Generation;
    } else {
      dict = AsDict(p.value)->CloneDict();
    }
    ++OutlineCount;

    auto item = std::make_unique<TksPDFOutline>(this, documentID, objectNumber, generation, nullptr);
    item->PageList = &Pages;
    item->Parent = p.parent;
    item->Prev = p.prev;
    if (auto* count = AsInteger(ResolveValue(dict->Lookup("/Count")))) item->Closed = count->Value < 0;

    int32_t i = dict->IndexOfKey("/Title");
    if (i >= 0 && dict->ValueAt(i) && dict->ValueAt(i)->ObjectType != otString)
      if (TksPDFStringObject* title = ResolveString(dict->ValueAt(i), false)) dict->PutValueAt(i, title->Clone());
    if (i >= 0) NoteFeatures(FeaturesOfString(dict->ValueAt(i)));

    i = dict->IndexOfKey("/Dest");
    if (i >= 0 && dict->ValueAt(i) && dict->ValueAt(i)->ObjectType != otArray &&
        dict->ValueAt(i)->ObjectType != otNull) {
      if (dict->ValueAt(i)->ObjectType == otIndirectReference) {
        TksPDFObject* target = ResolveValue(dict->ValueAt(i));
        if (target && target->ObjectType != otStream) dict->PutValueAt(i, target->Clone());
      }
      TksPDFObject* value = dict->ValueAt(i);
      if (value->ObjectType != otNull && value->ObjectType != otIndirectReference &&
          !ReplaceNamedDestination(*dict, i))
        throw EUnexpectedError(ksres::SUnexpectedError);
    }

    // A destination naming no page of the document (a dangling reference, most often)
    // cannot be used; the bookmark itself, its title, action and children are kept.
    if (auto* dest = AsArray(dict->Lookup("/Dest")))
      if (auto* page = AsRef(dest->GetItem(0)))
        item->DestMissing = !pages.count(FindLoaded(page->ObjectNumber, page->Generation));

    i = dict->IndexOfKey("/A");
    if (i >= 0 && dict->ValueAt(i) && dict->ValueAt(i)->ObjectType != otNull) {
      TksPDFObject* value = dict->ValueAt(i);
      if (value->ObjectType == otIndirectReference) {
        if (auto* action = AsDict(ResolveValue(value))) {
          std::unique_ptr<TksPDFDictObject> copy = action->CloneDict();
          NormaliseAction(*copy);
          dict->PutValueAt(i, std::move(copy));
        } else {
          throw EUnexpectedError(ksres::SUnexpectedError);
        }
      } else if (auto* action = AsDict(value)) {
        NormaliseAction(*action);
      } else {
        throw EUnexpectedError(ksres::SUnexpectedError);
      }
    }

    // Colour and style are written as they are read: values behind references are taken in.
    for (const char* key : {"/C", "/F"}) {
      i = dict->IndexOfKey(key);
      if (i >= 0 && dict->ValueAt(i) && dict->ValueAt(i)->ObjectType == otIndirectReference) {
        TksPDFObject* target = ResolveValue(dict->ValueAt(i));
        if (target && target->ObjectType != otStream) dict->PutValueAt(i, target->Clone());
      }
    }

    // Entries the engine does not model are written as they stand (only for items: the
    // root is written with its structure entries alone), so what they refer to is kept.
    if (p.parent || p.prev)
      for (int32_t k = 0; k < dict->Count(); ++k)
        if (!IsItemKey(dict->KeyAt(k)->Text())) MarkReachable(dict->ValueAt(k));

    for (const char* key : {"/Parent", "/Prev", "/Count", "/Last"}) dict->Remove(key);
    TksPDFObjectPtr first, next;
    if ((i = dict->IndexOfKey("/First")) >= 0) {
      first = dict->TakeValueAt(i);
      dict->DeleteAt(i);
    }
    if ((i = dict->IndexOfKey("/Next")) >= 0) {
      next = dict->TakeValueAt(i);
      dict->DeleteAt(i);
    }
    if (dict->Count() > 0) item->Value = std::move(dict);

    TksPDFOutline* raw = item.get();
    if (!p.parent && !p.prev)
      OutlineRoot = std::move(item);
    else if (p.prev)
      p.prev->Next = std::move(item);
    else
      p.parent->First = std::move(item);

    // The next sibling waits while the children are read first, in document order;
    // the root has no siblings.
    if (p.parent && AsRef(next.get())) {
      links.push_back(std::move(next));
      pending.push_back({links.back().get(), p.parent, raw, p.depth});
    }
    if (AsRef(first.get())) {
      if (p.depth + 1 > kMaxOutlineDepth) {
        if (!depthWarned) Warning(ksFormat(ksres::SOutlineTooDeep, kMaxOutlineDepth));
        depthWarned = true;
      } else {
        links.push_back(std::move(first));
        pending.push_back({links.back().get(), raw, nullptr, p.depth + 1});
      }
    }
  }
}

void TksCustomPDFDocument::BuildOutlines(TksPDFObjectStore& saveStore) {
  if (!OutlineRoot) return;

  // An item goes when its page is not written (a deleted page); its children take
  // its place among its siblings, so bookmarks to pages that remain are not lost.
  auto isDropped = [&](const TksPDFOutline& item) {
    if (item.DestMissing) return false;
    auto* dest = AsArray(item.Dict() ? item.Dict()->Lookup("/Dest") : nullptr);
    if (!dest) return false;
    TksPDFObject* page = dest->GetItem(0);
    if (page && page->ObjectType == otNull) return false;
    auto* ref = AsRef(page);
    if (!ref) {
      Warning(ksres::SExpectedPageRefInOutline);
      return false;
    }
    TksPDFIndirectObject* target = Store->Find(*ref);
    if (!target && ref->DocumentID == DocumentID) target = FindLoaded(ref->ObjectNumber, ref->Generation);
    return !target || target->UseCount == 0;
  };

  struct Built {
    TksPDFOutline* item;
    size_t parent;
    size_t position;  // among the parent's kids
    std::vector<size_t> kids;
    int32_t visible = 0;  // descendants shown when this item is open
  };
  std::vector<Built> built;
  built.push_back({OutlineRoot.get(), 0, 0, {}, 0});

  // Kept children of each item, in document order (pre-order over the whole tree).
  std::vector<std::pair<TksPDFOutline*, size_t>> stack;  // (item, parent index)
  auto keptChildren = [&](const TksPDFOutline& parent) {
    std::vector<TksPDFOutline*> kept;
    std::vector<TksPDFOutline*> cursors{parent.First.get()};
    while (!cursors.empty()) {
      TksPDFOutline* c = cursors.back();
      if (!c) {
        cursors.pop_back();
        continue;
      }
      cursors.back() = c->Next.get();
      if (isDropped(*c))
        cursors.push_back(c->First.get());
      else
        kept.push_back(c);
    }
    return kept;
  };
  {
    std::vector<TksPDFOutline*> kids = keptChildren(*OutlineRoot);
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back({*it, 0});
  }
  while (!stack.empty()) {
    auto [item, parent] = stack.back();
    stack.pop_back();
    size_t index = built.size();
    built.push_back({item, parent, built[parent].kids.size(), {}, 0});
    built[parent].kids.push_back(index);
    std::vector<TksPDFOutline*> kids = keptChildren(*item);
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back({*it, index});
  }

  // Children come after their parents, so counting backwards sees every child first.
  for (size_t i = built.size(); i-- > 0;) {
    int32_t visible = 0;
    for (size_t k : built[i].kids) visible += 1 + (built[k].item->Closed ? 0 : built[k].visible);
    built[i].visible = visible;
  }

  // An item keeps the identity it was read under, so references to it reach the rebuilt
  // item; the old object of that number is never written (an item expanded from an
  // object stream is in the store, unwritten). An identity that something else of the
  // document has, or none (a root given directly), gets a new number.
  for (Built& b : built) {
    TksPDFOutline& item = *b.item;
    const bool ownIdentity = item.ObjectNumber > 0 && item.DocumentID == DocumentID &&
                             RebuiltAs(item.ObjectNumber) == rbOutlineItem;
    if (!ownIdentity) {
      item.DocumentID = DocumentID;
      item.ObjectNumber = NewObjectNumber();
      item.Generation = 0;
    }
  }

  int32_t destsMissing = 0;
  for (size_t i = 0; i < built.size(); ++i) {
    Built& b = built[i];
    auto dict = std::make_unique<TksPDFDictObject>();
    if (i > 0) {
      if (b.item->DestMissing) ++destsMissing;
      if (TksPDFDictObject* source = b.item->Dict()) {
        for (std::string_view key : kItemKeys) {
          TksPDFObject* v = source->Lookup(key);
          if (!v || (b.item->DestMissing && key == "/Dest")) continue;
          if (key == "/C") {
            TksPDFObject* colour = Store->Dereference(v);
            if (!AsArray(colour)) continue;
            v = colour;
          }
          dict->AddObject(std::string(key), v->Clone());
        }
        for (int32_t k = 0; k < source->Count(); ++k)
          if (!IsItemKey(source->KeyAt(k)->Text()) && source->ValueAt(k))
            dict->AddObject(source->KeyAt(k)->Text(), source->ValueAt(k)->Clone());
      }
      const Built& parent = built[b.parent];
      dict->AddObject("/Parent", parent.item->ReferenceTo());
      if (b.position > 0) dict->AddObject("/Prev", built[parent.kids[b.position - 1]].item->ReferenceTo());
      if (b.position + 1 < parent.kids.size())
        dict->AddObject("/Next", built[parent.kids[b.position + 1]].item->ReferenceTo());
    }
    if (!b.kids.empty()) {
      dict->AddObject("/First", built[b.kids.front()].item->ReferenceTo());
      dict->AddObject("/Last", built[b.kids.back()].item->ReferenceTo());
    }
    if (i == 0)
      dict->AddInteger("/Count", b.visible);
    else if (!b.kids.empty())
      dict->AddInteger("/Count", b.item->Closed ? -b.visible : b.visible);
    const TksPDFOutline& item = *b.item;
    saveStore.Add(std::make_unique<TksPDFIndirectObject>(item.DocumentID, item.ObjectNumber, item.Generation,
                                                         std::move(dict), 1));
  }
  Catalog->Outlines = OutlineRoot->ReferenceTo();
  if (destsMissing > 0) Warning(ksFormat(ksres::SOutlineDestsMissing, destsMissing));
}
