#include "codec/ksFilterChain.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/ksPDFResStrs.h"
#include "objects/ksPDFObjectStore.h"

int FindFilterName(std::span<const char* const> table, int highIndex, std::string_view name) {
  const int last = std::min(highIndex, static_cast<int>(table.size()) - 1);
  for (int i = 0; i <= last; ++i)
    if (name == table[static_cast<size_t>(i)]) return i;
  return -1;
}

TksDecodeFilter FilterTypeFromName(std::string_view name) {
  struct Known {
    std::string_view name;
    TksDecodeFilter filter;
  };
  static constexpr Known kKnown[] = {
      {"/ASCIIHexDecode", ftASCIIHexDecode}, {"/ASCII85Decode", ftASCII85Decode},
      {"/LZWDecode", ftLZWDecode},           {"/FlateDecode", ftFlateDecode},
      {"/RunLengthDecode", ftRunLengthDecode}, {"/DCTDecode", ftDCTDecode},
      {"/A85", ftASCII85Decode},             {"/CCITTFaxDecode", ftCCITTFaxDecode},
  };
  for (const Known& k : kKnown)
    if (k.name == name) return k.filter;
  throw EUnsupportedFilterError(ksFormat(ksres::SUnsupportedFilterName, std::string(name).c_str()));
}

void GetDecodeFilters(const TksPDFObject* filterValue, TksDecodeFilters& filters) {
  filters.clear();
  if (!filterValue || filterValue->ObjectType == otNull) return;
  auto unexpected = [](const TksPDFObject* o) {
    return EUnexpectedFilterObject(ksFormat(ksres::SUnexpectedFilterObject, ObjectToText(o).c_str()));
  };
  if (filterValue->ObjectType == otName) {
    filters.push_back(FilterTypeFromName(static_cast<const TksPDFNameObject*>(filterValue)->Text));
    return;
  }
  if (filterValue->ObjectType != otArray) throw unexpected(filterValue);
  const auto* array = static_cast<const TksPDFArrayObject*>(filterValue);
  filters.reserve(array->Items.size());
  for (const TksPDFObjectPtr& item : array->Items) {
    if (!item || item->ObjectType != otName) throw unexpected(item.get());
    filters.push_back(FilterTypeFromName(static_cast<const TksPDFNameObject*>(item.get())->Text));
  }
}

TksDecodeFilters GetDecodeFilters(const TksPDFObject* filterValue) {
  TksDecodeFilters filters;
  GetDecodeFilters(filterValue, filters);
  return filters;
}

std::unique_ptr<TksFilter> NewDecodeFilter(TksDecodeFilter filter) {
  switch (filter) {
    case ftASCIIHexDecode: return std::make_unique<TksAsciiHexFilter>();
    case ftASCII85Decode: return std::make_unique<TksAscii85Filter>();
    case ftFlateDecode: return std::make_unique<TksFlateFilter>();
    case ftRunLengthDecode: return std::make_unique<TksRLEFilter>();
    case ftLZWDecode: return std::make_unique<TksLZWFilter>();
    default: throw EUnsupportedFilterError(ksres::SUnsupportedFilter);
  }
}

namespace {

// Stream data often keeps the end-of-line that precedes "endstream".
std::string_view TrimTrailingEOL(std::string_view data) {
  while (!data.empty() && (data.back() == '\r' || data.back() == '\n')) data.remove_suffix(1);
  return data;
}

// Decodes trimmed bytes with a decodable filter (0..4).
std::string DecodeTrimmed(TksDecodeFilter filter, std::string_view data) {
  auto codec = NewDecodeFilter(filter);
  if (filter == ftASCIIHexDecode && !data.empty() && data.back() != '>') {
    std::string closed;
    closed.reserve(data.size() + 1);
    closed.append(data).push_back('>');
    return codec->DecodeString(closed);
  }
  return codec->DecodeString(data);
}

}  // namespace

std::unique_ptr<TksMemoryStream> DecodeStreamWithFilter(TksDecodeFilter filter, TksMemoryStream& stream) {
  const size_t trimmed = TrimTrailingEOL(stream.View()).size();
  if (trimmed != stream.size()) stream.SetSize(static_cast<int64_t>(trimmed));
  if (IsPassThroughFilter(filter)) return std::make_unique<TksMemoryStream>(stream.View());
  if (filter == ftASCIIHexDecode && stream.size() > 0 && stream.View().back() != '>') {
    stream.Seek(0, soEnd);
    stream.WriteText(">");
  }
  auto codec = NewDecodeFilter(filter);
  auto result = codec->DecodeStream(stream);
  result->SetPosition(0);
  return result;
}

std::string DecodeStringWithFilter(TksDecodeFilter filter, std::string_view data) {
  data = TrimTrailingEOL(data);
  if (filter == ftDCTDecode) return std::string(data);
  return DecodeTrimmed(filter, data);
}

namespace {

void DecodeInto(TksDecodeFilter filter, std::string_view data, TksDecodeBuffer& out) {
  switch (filter) {
    case ftASCIIHexDecode: AsciiHexDecodeInto(data, out); break;
    case ftASCII85Decode: Ascii85DecodeInto(data, out); break;
    case ftFlateDecode: FlateDecodeInto(data, out); break;
    case ftRunLengthDecode: RunLengthDecodeInto(data, out); break;
    case ftLZWDecode: LZWDecodeInto(data, out); break;
    default: throw EUnsupportedFilterError(ksres::SUnsupportedFilter);
  }
}

}  // namespace

TksDecodeBuffer DecodeChain(std::string_view data, const TksDecodeFilters& filters, TksDecodeRequest& request) {
  size_t last = filters.size();
  for (size_t i = 0; i < filters.size(); ++i)
    if (!IsPassThroughFilter(filters[i])) last = i;
  if (last == filters.size()) {
    // Nothing to undo: the bytes as they are, which the limit on decoding does not bound.
    TksDecodeBuffer copy(std::max<uint64_t>(request.Limit, data.size()), data.size());
    copy.Append(data.data(), data.size());
    return copy;
  }
  std::optional<TksDecodeBuffer> held;  // the previous filter's output, the next one's input
  for (size_t i = 0; i <= last; ++i) {
    if (IsPassThroughFilter(filters[i])) continue;
    const uint64_t input = held ? held->size() : 0;
    TksDecodeBuffer out(request.Limit - std::min(input, request.Limit), i == last ? request.Declared : 0);
    try {
      DecodeInto(filters[i], TrimTrailingEOL(held ? held->View() : data), out);
    } catch (const EDecodedSizeError&) {
      request.Produced += out.size();
      // The limit the caller set, not what its input left of it.
      throw EDecodedSizeError(ksFormat(ksres::SDecodedTooLarge, std::to_string(request.Limit).c_str()));
    } catch (...) {
      request.Produced += out.size();
      throw;
    }
    request.Produced += out.size();
    held = std::move(out);
  }
  return std::move(*held);
}

std::unique_ptr<TksMemoryStream> DecodeFilterChain(TksMemoryStream& source, const TksPDFObject* filterValue) {
  TksDecodeRequest request;
  return DecodeChain(source.View(), GetDecodeFilters(filterValue), request).ToStream();
}

std::string CompressStreamData(const TksCompression& settings, std::string_view data) {
  switch (settings.Method) {
    case 0: return TksFlateFilter().CompressString(data, settings.Level);
    case 1: return TksRLEFilter().EncodeString(data);
    default: throw EUnsupportedFilterError(ksres::SUnsupportedFilter);
  }
}

namespace {

[[noreturn]] void ThrowUnexpectedFilter(const TksPDFObject* found) {
  throw ksCstPDFDoc::EUnexpectedObjectError(ksFormat(ksres::SUnexpectedFilterObject, ObjectToText(found).c_str()));
}

// A filter entry resolved to its name object, or the error naming what was found.
const TksPDFNameObject* ResolveFilterName(const TksPDFObjectStore& store, TksPDFObject* entry) {
  TksPDFObject* value = store.Dereference(entry);
  if (!value || value->ObjectType != otName) ThrowUnexpectedFilter(value ? value : entry);
  return static_cast<const TksPDFNameObject*>(value);
}

}  // namespace

namespace {

// The names of the stream's filters, resolved, when compression applies to it; none
// when it is already compressed in a way a second compression cannot improve.
std::optional<std::vector<std::string>> FiltersToKeep(const TksCompression& settings, const TksPDFObjectStore& store,
                                                      const TksPDFDictObject& dict, const TksPDFObject*& filter) {
  if (!settings.Enabled) return std::nullopt;
  if (settings.Method > 1) throw EUnsupportedFilterError(ksres::SUnsupportedFilter);
  const std::string_view methodName = OutputFilterNames[settings.Method];

  filter = store.Dereference(dict.Lookup("/Filter"));
  if (filter && filter->ObjectType == otNull) filter = nullptr;  // a null entry is an absent one

  // Resolved copies of the existing names: a reference inside the clone could name
  // an object the writer leaves out.
  std::vector<std::string> existing;
  if (filter && filter->ObjectType == otName) {
    const std::string& name = static_cast<const TksPDFNameObject*>(filter)->Text;
    if (name == "/DCTDecode" || name == "/JBIG2Decode" || name == methodName || name == "/CCITTFaxDecode")
      return std::nullopt;
    existing.push_back(name);
  } else if (filter && filter->ObjectType == otArray) {
    for (const TksPDFObjectPtr& item : static_cast<const TksPDFArrayObject*>(filter)->Items) {
      const std::string& name = ResolveFilterName(store, item.get())->Text;
      if (name == "/FlateDecode" || name == "/RunLengthDecode" || name == "/CCITTFaxDecode") return std::nullopt;
      existing.push_back(name);
    }
  } else if (filter) {
    ThrowUnexpectedFilter(filter);
  }
  return existing;
}

}  // namespace

bool CompressesOnSave(const TksCompression& settings, const TksPDFObjectStore& store, const TksPDFDictObject& dict) {
  const TksPDFObject* filter = nullptr;
  return FiltersToKeep(settings, store, dict, filter).has_value();
}

std::string ApplyCompressionOnSave(const TksCompression& settings, const TksPDFObjectStore& store,
                                   TksPDFDictObject& dict, std::string data, std::string* compressed) {
  const TksPDFObject* filter = nullptr;
  std::optional<std::vector<std::string>> kept = FiltersToKeep(settings, store, dict, filter);
  if (!kept) return data;
  std::vector<std::string>& existing = *kept;
  const std::string_view methodName = OutputFilterNames[settings.Method];

  std::string packed = compressed ? std::move(*compressed) : CompressStreamData(settings, data);

  if (packed.size() <= static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    dict.SetInteger("/Length", static_cast<int32_t>(packed.size()));
  else
    dict.SetObject("/Length", std::make_unique<TksPDFInt64Object>(static_cast<int64_t>(packed.size())));

  // Parameters stay with the filters they belong to: entry i of /DecodeParms is filter
  // i's. The new first filter has none; parameters that belong to no filter (a stream
  // without /Filter may still carry predictor parameters) are dropped, as a reader would
  // apply them to the new filter.
  std::vector<TksPDFObjectPtr> parms(existing.size());
  TksPDFObject* oldParms = store.Dereference(dict.Lookup("/DecodeParms"));
  if (oldParms && oldParms->ObjectType == otDictionary && !existing.empty()) {
    parms[0] = oldParms->Clone();
  } else if (oldParms && oldParms->ObjectType == otArray) {
    const auto& items = static_cast<TksPDFArrayObject*>(oldParms)->Items;
    for (size_t i = 0; i < parms.size() && i < items.size(); ++i) {
      TksPDFObject* item = store.Dereference(items[i].get());
      if (item && item->ObjectType != otNull) parms[i] = items[i]->Clone();
    }
  }
  if (std::any_of(parms.begin(), parms.end(), [](const TksPDFObjectPtr& p) { return p != nullptr; })) {
    auto aligned = std::make_unique<TksPDFArrayObject>();
    aligned->Add(std::make_unique<TksPDFNullObject>());
    for (TksPDFObjectPtr& p : parms) aligned->Add(p ? std::move(p) : std::make_unique<TksPDFNullObject>());
    dict.SetObject("/DecodeParms", std::move(aligned));
  } else {
    dict.Remove("/DecodeParms");
  }

  if (!filter) {
    dict.SetName("/Filter", methodName);
  } else {
    auto names = std::make_unique<TksPDFArrayObject>();
    names->Add(std::make_unique<TksPDFNameObject>(std::string(methodName)));
    for (std::string& name : existing) names->Add(std::make_unique<TksPDFNameObject>(std::move(name)));
    dict.SetObject("/Filter", std::move(names));
  }
  return packed;
}
