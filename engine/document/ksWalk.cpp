// The structure walk's follow step and the resolution operations.
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "base/ksPDFResStrs.h"

TksPDFIndirectObject* TksCustomPDFDocument::FindLoaded(int32_t objectNumber, int32_t generation) const {
  if (ReferenceGone(objectNumber, generation)) return nullptr;
  if (TksPDFIndirectObject* o = Store->Find(DocumentID, objectNumber, generation)) return o;
  if (generation != 0)
    if (TksPDFIndirectObject* o = Store->Find(DocumentID, objectNumber, 0)) return o;
  // Objects read through a reference of generation 0 are stored under the generation
  // the file gave them.
  if (objectNumber >= 0 && static_cast<size_t>(objectNumber) < XRefEntries.size() && XRefEntries[objectNumber] &&
      XRefEntries[objectNumber]->Generation != generation)
    if (TksPDFIndirectObject* o = Store->Find(DocumentID, objectNumber, XRefEntries[objectNumber]->Generation))
      return o;
  if (objectNumber >= 0 && static_cast<size_t>(objectNumber) < XRefStreamEntries.size() &&
      XRefStreamEntries[objectNumber] && XRefStreamEntries[objectNumber]->EntryType == 1 &&
      XRefStreamEntries[objectNumber]->Field3 != generation)
    if (TksPDFIndirectObject* o = Store->Find(DocumentID, objectNumber,
                                               static_cast<int32_t>(XRefStreamEntries[objectNumber]->Field3)))
      return o;
  return nullptr;
}

TksPDFIndirectObject* TksCustomPDFDocument::AddLoaded(std::unique_ptr<TksPDFIndirectObject> object) {
  if (!object) return nullptr;
  if (TksPDFIndirectObject* existing = Store->Find(*object)) return existing;
  return Store->Add(std::move(object));
}



TksPDFObjectPtr TksCustomPDFDocument::FindDest(const std::string& name) const {
  // Links look names up one by one; a scan per lookup would make a file with many
  // links and many names quadratic. The table only grows between resets.
  if (destIndexed_ > Dests.size()) {
    destIndex_.clear();
    destIndexed_ = 0;
  }
  for (; destIndexed_ < Dests.size(); ++destIndexed_) destIndex_.try_emplace(Dests[destIndexed_].first, destIndexed_);
  auto it = destIndex_.find(name);
  if (it == destIndex_.end()) return nullptr;
  return CloneOf(Dests[it->second].second.get());
}

bool HoldsForeignDestination(const TksPDFDictObject& dict) {
  TksPDFObject* s = dict.Lookup("/S");
  return IsName(s, "/GoToR") || IsName(s, "/GoToE") || IsName(dict.Lookup("/Type"), "/Collection");
}

bool TksCustomPDFDocument::ReplaceNamedDestination(TksPDFDictObject& dict, int32_t index) {
  TksPDFObject* v = dict.ValueAt(index);
  std::string name;
  if (v->ObjectType == otString)
    name = static_cast<TksPDFStringObject*>(v)->Bytes();
  else if (v->ObjectType == otName)
    name = static_cast<TksPDFNameObject*>(v)->NameValue();
  else
    return v->ObjectType == otArray;
  TksPDFObjectPtr dest = FindDest(name);
  if (dest) dict.PutValueAt(index, std::move(dest));
  return true;
}

void TksCustomPDFDocument::MarkReachable(TksPDFObject* value) {
  // Depth-first in document order, with an explicit stack: files nest and chain
  // objects far deeper than the call stack allows.
  struct Frame {
    TksPDFObject* container;
    int32_t next;
    bool streamDict = false;  // a stream's dictionary: its /Length is the writer's
    // The version report's features met below this container, and the object whose
    // value it is (none for a direct value): they are kept for that object when it ends.
    uint32_t features = 0;
    const TksPDFIndirectObject* owner = nullptr;
  };
  std::vector<Frame> stack;
  std::vector<TksPDFObject*> pendingRoots{value};
  uint32_t found = 0;  // what the frames that have ended carried up to the top

  auto carry = [&](uint32_t features) {
    if (!features) return;
    if (stack.empty())
      found |= features;
    else
      stack.back().features |= features;
  };
  auto pop = [&] {
    const Frame ended = stack.back();
    stack.pop_back();
    if (ended.owner && ended.features) objectFeatures_[ended.owner] |= ended.features;
    carry(ended.features);
  };

  auto visit = [&](TksPDFObject* v) {
    // Follows one value; containers are pushed to be walked.
    if (!v) return;
    switch (v->ObjectType) {
      case otArray:
      case otDictionary:
        stack.push_back({v, 0});
        break;
      case otStream:
        stack.push_back({static_cast<TksPDFStreamObject*>(v)->Dict.get(), 0, true});
        break;
      case otIndirectObject:
        if (TksPDFObject* inner = static_cast<TksPDFIndirectObject*>(v)->Value.get()) pendingRoots.push_back(inner);
        break;
      case otIndirectReference: {
        auto* ref = static_cast<TksPDFIndirectReference*>(v);
        if (ref->ObjectNumber <= 0) {
          Warning(ksFormat(ksres::SInvalidObjectNumberInPDF, ref->ObjectNumber));
          break;
        }
        // The writer builds these anew; their old form must not come back through a
        // reference to it.
        if (ref->DocumentID == DocumentID && !rebuilt_.empty() && rebuilt_.count(ref->ObjectNumber)) break;
        TksPDFIndirectObject* stored = resolver_->Follow(*ref, fpStoreAndMark);
        if (!stored) break;
        // Objects expanded from object streams, or stored by a lookup, are in the
        // store without having been followed: each is followed once, when first reached.
        if (stored->Followed) {
          // Reached again (a resource shared by pages): what it holds counts here too.
          if (!objectFeatures_.empty())
            if (auto it = objectFeatures_.find(stored); it != objectFeatures_.end()) carry(it->second);
          break;
        }
        stored->Followed = true;
        if (TksPDFObject* inner = stored->Value.get()) {
          if (inner->ObjectType == otStream)
            stack.push_back({static_cast<TksPDFStreamObject*>(inner)->Dict.get(), 0, true, 0, stored});
          else if (inner->ObjectType == otArray || inner->ObjectType == otDictionary)
            stack.push_back({inner, 0, false, 0, stored});
        }
        break;
      }
      default:
        break;
    }
  };

  while (!pendingRoots.empty()) {
    TksPDFObject* root = pendingRoots.back();
    pendingRoots.pop_back();
    if (root && root->ObjectType == otString) found |= FeaturesOfString(root);
    visit(root);
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.container->ObjectType == otArray) {
        auto* a = static_cast<TksPDFArrayObject*>(f.container);
        if (f.next >= a->Count()) {
          pop();
          continue;
        }
        TksPDFObject* item = a->GetItem(f.next++);
        if (!item) continue;
        if (item->ObjectType == otStream) {
          Warning(ksres::SStreamInsideArray);
          continue;
        }
        if (item->ObjectType == otString) f.features |= FeaturesOfString(item);
        if (item->ObjectType == otArray || item->ObjectType == otDictionary ||
            item->ObjectType == otIndirectReference)
          visit(item);
      } else {
        auto* d = static_cast<TksPDFDictObject*>(f.container);
        if (f.next >= d->Count()) {
          pop();
          continue;
        }
        int32_t i = f.next++;
        TksPDFObject* item = d->ValueAt(i);
        if (!item) continue;
        const std::string& key = d->KeyAt(i)->Text();
        if (f.streamDict && key == "/Length") continue;
        if ((key == "/Dest" || key == "/D") && (item->ObjectType == otString || item->ObjectType == otName) &&
            (key == "/Dest" || !HoldsForeignDestination(*d))) {
          ReplaceNamedDestination(*d, i);
          item = d->ValueAt(i);
        }
        f.features |= FeaturesOfEntry(key, item);
        if (item->ObjectType == otArray || item->ObjectType == otDictionary ||
            item->ObjectType == otIndirectReference)
          visit(item);  // may push onto stack: f is not used afterwards
      }
    }
  }
  versionReport_.Note(found, walkPage_);
}

std::vector<TksVersionFinding> TksCustomPDFDocument::VersionFindings(TksPDFVersion target) const {
  TksVersionReport report = versionReport_;
  // What the save itself adds: streams compressed with Flate, the source's keys.
  if (Compression.Enabled && Compression.Method == 0) report.Note(FeatureBit(pfFlate), 0);
  if (IsEncryptionEnabled()) {
    switch (OutputEncryptionLevel()) {
      case el40bit: break;
      case el128bit: report.Note(FeatureBit(pfKey128), 0); break;
      case elAES128: report.Note(FeatureBit(pfAES128), 0); break;
      case elAES256: report.Note(FeatureBit(pfAES256), 0); break;
    }
  }
  return report.Findings(target);
}

TksPDFObject* TksCustomPDFDocument::ResolveValue(TksPDFObject* value) { return resolver_->Resolve(value, fpKeepAside); }

TksPDFArrayObject* TksCustomPDFDocument::ResolveArray(TksPDFObject* value, bool keepInStore) {
  return resolver_->ResolveAs<TksPDFArrayObject, otArray>(value, keepInStore ? fpStore : fpKeepAside);
}
TksPDFStringObject* TksCustomPDFDocument::ResolveString(TksPDFObject* value, bool keepInStore) {
  return resolver_->ResolveAs<TksPDFStringObject, otString>(value, keepInStore ? fpStore : fpKeepAside);
}
TksPDFNameObject* TksCustomPDFDocument::ResolveName(TksPDFObject* value, bool keepInStore) {
  return resolver_->ResolveAs<TksPDFNameObject, otName>(value, keepInStore ? fpStore : fpKeepAside);
}
TksPDFDictObject* TksCustomPDFDocument::ResolveDictionary(TksPDFObject* value, bool keepInStore) {
  return resolver_->ResolveAs<TksPDFDictObject, otDictionary>(value, keepInStore ? fpStore : fpKeepAside);
}
