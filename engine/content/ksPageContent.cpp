// Attaching content streams to pages: the bracket streams that close off a page's own
// graphics state, the array rule, opacity graphics states and content from operators.
#include <algorithm>
#include <cmath>
#include <string>

#include "base/ksPDFResStrs.h"
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

  if (nothing) {
    // A blank page: the new stream is all it shows, and needs no bracket.
    page.SetObject("/Contents", newContent.Clone());
    editor.MarkTarget(newContent);
    return;
  }
  if (overlay) EnsureBracketStreams();
  TksPDFIndirectObject* save = editor.SaveStream();
  TksPDFIndirectObject* restore = editor.RestoreStream();

  if (single) {
    auto array = std::make_unique<TksPDFArrayObject>();
    if (overlay) {
      array->Add(save->ReferenceTo());
      array->Add(contents->Clone());
      array->Add(restore->ReferenceTo());
      array->Add(newContent.Clone());
      save->MarkUsed();
      restore->MarkUsed();
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
    if (!wrapped) {
      array->Insert(0, save->ReferenceTo());
      array->Add(restore->ReferenceTo());
      save->MarkUsed();
      restore->MarkUsed();
    }
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
  text.append(operators);
  if (!operators.empty() && operators.back() != '\n' && operators.back() != '\r') text += '\n';
  text += "Q\n";
  std::unique_ptr<TksPDFIndirectReference> content = AddContentStream(std::move(text));
  for (int32_t pageNo : pages) {
    AddExtGStateToPage(pageNo - 1, name, gstate.get());
    if (gstate) NoteFeatures(FeatureBit(pfConstantAlpha), pageNo);
    AppendPageContent(pageNo - 1, *content, placement.Overlay);
  }
}
