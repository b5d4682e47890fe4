// Attaching content streams to pages: the bracket streams that close off a page's own
// graphics state, the array rule, opacity graphics states and content from operators.
#include <algorithm>
#include <cmath>
#include <string>

#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"
#include "content/ksContentSyntax.h"
#include "content/ksNumberText.h"
#include "content/ksPageEditor.h"
#include "document/ksCstPDFDoc.h"

namespace {

bool IsReferenceTo(const TksPDFObject* value, const TksPDFIndirectObject& object) {
  const auto* ref = AsRef(value);
  return ref && ref->DocumentID == object.DocumentID && ref->ObjectNumber == object.ObjectNumber;
}

// A percentage as an opacity: refused when not finite, else held to 0-100.
double ClampedOpacity(double percent) {
  RefuseNonFinite(percent);
  return std::clamp(percent, 0.0, 100.0);
}

// A graphics-state number as few digits as it needs: an integer when whole.
TksPDFObjectPtr FractionObject(double value) {
  if (value == std::trunc(value)) return std::make_unique<TksPDFIntegerObject>(static_cast<int32_t>(value));
  return std::make_unique<TksPDFRealObject>(StrToFloatDot(FloatToStrDot(value)));
}

// What one content stream of a page may decode to when its q and Q are counted.
constexpr uint64_t kPageContentCap = uint64_t{256} << 20;

// How one content stream pairs its q and Q; a fault ends the count there, as readers
// stop drawing at it too.
TksPageEditState::ContentBalance StreamBalance(TksCustomPDFDocument& document, TksPageEditor& editor,
                                               const TksPDFStreamObject& stream, int32_t pageNo) {
  TksPageEditState::ContentBalance balance;
  try {
    const TksDecodeBuffer data = document.DecodeStreamData(
        stream, editor.Resolve(stream.Dict->Lookup("/Filter")), kPageContentCap,
        [pageNo](const std::string& limit) { return ksFormat(ksres::SPageContentTooLarge, pageNo, limit.c_str()); });
    TksContentScanner scanner;
    scanner.Scan(data.View());
    balance.Unmatched = scanner.UnmatchedRestores();
    balance.Open = scanner.OpenSaves();
  } catch (const Exception& e) {
    balance.Unreadable = e.what();
  }
  return balance;
}

// How the page's own content pairs its q and Q: the Q with no q before them, and the q
// left open at its end, over its streams in order. A stream that cannot be read is
// warned about; the content then counts as balanced.
std::pair<int64_t, int64_t> ContentBalance(TksCustomPDFDocument& document, TksPageEditor& editor,
                                           const std::vector<TksPDFObject*>& items, int32_t pageNo) {
  int64_t unmatched = 0, open = 0;
  for (TksPDFObject* item : items) {
    const auto* stream = AsStream(editor.Resolve(item));
    if (!stream || !stream->Data) continue;
    const auto* ref = AsRef(item);
    auto& known = editor.State().ContentBalances;
    auto it = ref ? known.find(ref->ObjectNumber) : known.end();
    const TksPageEditState::ContentBalance balance =
        it != known.end() ? it->second : StreamBalance(document, editor, *stream, pageNo);
    if (ref && it == known.end()) known.emplace(ref->ObjectNumber, balance);
    if (!balance.Unreadable.empty()) {
      editor.Warning(ksFormat(ksres::SPageContentNotCounted, pageNo, balance.Unreadable.c_str()));
      return {0, 0};
    }
    // The Q of this stream close the q the streams before left open first.
    unmatched += std::max<int64_t>(0, balance.Unmatched - open);
    open = std::max<int64_t>(0, open - balance.Unmatched) + balance.Open;
  }
  return {unmatched, open};
}

}  // namespace

void TksCustomPDFDocument::EnsureBracketStreams() {
  TksPageEditor editor(*this);
  // One pair for the whole document, however many pages are drawn on.
  if (!editor.SaveStream()) editor.State().SaveStreamNumber = editor.AddStream("q")->ObjectNumber;
  if (!editor.RestoreStream()) editor.State().RestoreStreamNumber = editor.AddStream("Q")->ObjectNumber;
}

void TksCustomPDFDocument::AppendPageContent(int32_t pageIndex, const TksPDFIndirectReference& newContent,
                                             bool overlay) {
  const int32_t pageNo = pageIndex + 1;
  TksPageEditor editor(*this);
  TksPDFDictObject& page = editor.PageDictionary(pageNo);
  const int32_t index = page.IndexOfKey("/Contents");
  TksPDFObject* contents = index >= 0 ? page.ValueAt(index) : nullptr;

  // What the page shows now: one stream, an array of streams (the page's own, or a copy
  // of one that several pages may share), or nothing.
  TksPDFObject* target = contents;
  if (AsRef(contents)) {
    target = editor.Resolve(contents);
    if (!target || target->ObjectType == otNull) Warning(ksFormat(ksres::SPageContentsMissing, pageNo));
  }
  const bool nothing = !target || target->ObjectType == otNull;
  const bool single = target && target->ObjectType == otStream && AsRef(contents);
  if (!nothing && !single && !AsArray(target))
    throw EUnexpectedError(ksFormat(ksres::SUnexpectedContentObject, pageNo));
  editor.NoteChange();

  if (nothing) {
    // A blank page: the new stream is all it shows, and needs no bracket.
    page.SetObject("/Contents", newContent.Clone());
    editor.MarkTarget(newContent);
    return;
  }
  if (overlay) EnsureBracketStreams();
  TksPDFIndirectObject* save = editor.SaveStream();
  TksPDFIndirectObject* restore = editor.RestoreStream();

  // Closing off the page's content: a q before it and a Q after, and one more of each for
  // every Q it has without a q and every q it leaves open, so that its own pairing can
  // neither undo the bracket nor leave the overlay inside its state.
  const auto bracket = [&](TksPDFArrayObject& array) {
    std::vector<TksPDFObject*> items;
    for (const TksPDFObjectPtr& item : array.Items) items.push_back(item.get());
    const auto [unmatched, open] = ContentBalance(*this, editor, items, pageNo);
    std::vector<TksPDFObjectPtr> closed;
    closed.reserve(array.Items.size() + static_cast<size_t>(unmatched + open) + 2);
    for (int64_t i = 0; i <= unmatched; ++i) closed.push_back(save->ReferenceTo());
    for (TksPDFObjectPtr& item : array.Items) closed.push_back(std::move(item));
    for (int64_t i = 0; i <= open; ++i) closed.push_back(restore->ReferenceTo());
    array.Items = std::move(closed);
    save->MarkUsed();
    restore->MarkUsed();
  };

  if (single) {
    auto array = std::make_unique<TksPDFArrayObject>();
    if (overlay) {
      array->Add(contents->Clone());
      bracket(*array);
      array->Add(newContent.Clone());
    } else {
      array->Add(newContent.Clone());
      array->Add(contents->Clone());
    }
    page.PutValueAt(index, std::move(array));
    editor.MarkTarget(newContent);
    return;
  }

  // An array held in an object of its own may be every page's: this page gets a copy,
  // and the other pages keep what they show.
  TksPDFArrayObject* array = AsArray(contents);
  if (!array) {
    page.PutValueAt(index, target->Clone());
    array = AsArray(page.ValueAt(index));
  }
  if (!overlay) {
    array->Insert(0, newContent.Clone());
  } else {
    // The page's content is closed off once; later overlays follow the restore.
    const bool wrapped = std::any_of(array->Items.begin(), array->Items.end(),
                                     [&](const TksPDFObjectPtr& item) { return IsReferenceTo(item.get(), *save); });
    if (!wrapped) bracket(*array);
    array->Add(newContent.Clone());
  }
  editor.MarkTarget(newContent);
}

std::unique_ptr<TksPDFIndirectReference> TksCustomPDFDocument::CreateOpacityGState(double fillOpacity,
                                                                                   double strokeOpacity) {
  fillOpacity = ClampedOpacity(fillOpacity);
  strokeOpacity = ClampedOpacity(strokeOpacity);
  if (fillOpacity == 100 && strokeOpacity == 100) return nullptr;
  auto dict = std::make_unique<TksPDFDictObject>();
  dict->AddObject("/CA", FractionObject(strokeOpacity / 100));
  dict->AddObject("/ca", FractionObject(fillOpacity / 100));
  dict->AddName("/Type", "/ExtGState");
  return TksPageEditor(*this).AddObject(std::move(dict))->ReferenceTo();
}

std::unique_ptr<TksPDFIndirectReference> TksCustomPDFDocument::AddContentStream(std::string data) {
  return TksPageEditor(*this).AddStream(data)->ReferenceTo();
}

void TksCustomPDFDocument::AttachPageContent(const std::string& pageRange, std::string_view operators,
                                             const TksContentPlacement& placement) {
  // Everything that can be refused is settled before the first object is made.
  const std::vector<int32_t> pages = ParsePageRange(pageRange, PageCount());
  // Operators that do not parse would swallow what follows them: the page's own content
  // when they are drawn beneath it.
  TksContentScanner scanner;
  if (!scanner.Scan(operators)) {
    const TksContentFault& fault = scanner.Fault();
    throw ESyntaxError(ksFormat(ksres::SContentOperatorsBroken, static_cast<long long>(fault.Line),
                                static_cast<long long>(fault.Column), fault.What.c_str()));
  }
  const double opacity = ClampedOpacity(placement.Opacity);
  const double dx = ToPoints(MeasurementUnit, placement.OffsetX);
  const double dy = ToPoints(MeasurementUnit, placement.OffsetY);
  std::string move;
  if (dx != 0 || dy != 0) move = "1 0 0 1 " + FloatToStrDot(dx) + " " + FloatToStrDot(dy) + " cm\n";

  std::unique_ptr<TksPDFIndirectReference> gstate = CreateOpacityGState(opacity, opacity);
  std::string name;
  if (gstate) name = NewPageResourceName("/ExtGState", "/GS", pages);
  // The operators' own state (colour, matrix, opacity) ends with them, so an underlay
  // cannot reach the page's content.
  std::string text = "q\n";
  if (gstate) text += name + " gs\n";
  text += move;
  // Their own q and Q paired, so they can neither undo this q nor leave state behind.
  for (int64_t i = 0; i < scanner.UnmatchedRestores(); ++i) text += "q\n";
  text.append(operators);
  if (!operators.empty() && operators.back() != '\n' && operators.back() != '\r') text += '\n';
  for (int64_t i = 0; i < scanner.OpenSaves(); ++i) text += "Q\n";
  text += "Q\n";
  std::unique_ptr<TksPDFIndirectReference> content = AddContentStream(std::move(text));
  for (int32_t pageNo : pages) {
    AddExtGStateToPage(pageNo - 1, name, gstate.get());
    if (gstate) NoteFeatures(FeatureBit(pfConstantAlpha), pageNo);
    AppendPageContent(pageNo - 1, *content, placement.Overlay);
  }
}
