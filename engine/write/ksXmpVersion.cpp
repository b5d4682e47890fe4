// pdf:PDFVersion in an XMP packet: expat finds it (and proves the packet well-formed);
// the bytes are changed where it stands and nowhere else.
#include "write/ksXmpVersion.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr char kSeparator = '\x01';
constexpr std::string_view kPDFVersionName = "http://ns.adobe.com/pdf/1.3/\x01PDFVersion";

struct Replacement {
  size_t start, length;
};

// What the parse finds: the byte ranges holding a version value.
struct TksXmpScan {
  XML_Parser parser = nullptr;
  std::string_view text;
  std::vector<Replacement> values;
  // The element form: where the content of an open pdf:PDFVersion element begins.
  std::vector<long> openVersion;
  bool failed = false;
};

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The range of the value of the attribute whose local name is PDFVersion in the start tag
// tag (raw text), when its value is value.
bool FindAttributeValue(std::string_view tag, std::string_view value, size_t& at) {
  for (size_t pos = tag.find(":PDFVersion"); pos != std::string_view::npos; pos = tag.find(":PDFVersion", pos + 1)) {
    size_t i = pos + std::strlen(":PDFVersion");
    while (i < tag.size() && IsXmlSpace(tag[i])) ++i;
    if (i >= tag.size() || tag[i] != '=') continue;
    ++i;
    while (i < tag.size() && IsXmlSpace(tag[i])) ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
    const char quote = tag[i++];
    const size_t end = tag.find(quote, i);
    if (end == std::string_view::npos || tag.substr(i, end - i) != value) continue;
    at = i;
    return true;
  }
  return false;
}

void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto& scan = *static_cast<TksXmpScan*>(data);
  const long index = XML_GetCurrentByteIndex(scan.parser);
  const int count = XML_GetCurrentByteCount(scan.parser);
  if (name == kPDFVersionName) scan.openVersion.push_back(index + count);
  for (const XML_Char** a = attributes; a && *a; a += 2) {
    if (a[0] != kPDFVersionName) continue;
    if (index < 0 || count <= 0) {
      scan.failed = true;
      continue;
    }
    const std::string_view tag = scan.text.substr(static_cast<size_t>(index), static_cast<size_t>(count));
    size_t at = 0;
    // An attribute written with entities is not where its text can be replaced.
    if (!FindAttributeValue(tag, a[1], at)) {
      scan.failed = true;
      continue;
    }
    scan.values.push_back({static_cast<size_t>(index) + at, std::strlen(a[1])});
  }
}

void XMLCALL EndElement(void* data, const XML_Char* name) {
  auto& scan = *static_cast<TksXmpScan*>(data);
  if (name != kPDFVersionName || scan.openVersion.empty()) return;
  const long start = scan.openVersion.back();
  scan.openVersion.pop_back();
  const long end = XML_GetCurrentByteIndex(scan.parser);
  if (start < 0 || end < start) {
    scan.failed = true;
    return;
  }
  // The value without the white space around it.
  size_t s = static_cast<size_t>(start), e = static_cast<size_t>(end);
  while (s < e && IsXmlSpace(scan.text[s])) ++s;
  while (e > s && IsXmlSpace(scan.text[e - 1])) --e;
  // Content with markup or entities inside is not a plain version text.
  if (scan.text.substr(s, e - s).find_first_of("<&") != std::string_view::npos) {
    scan.failed = true;
    return;
  }
  scan.values.push_back({s, e - s});
}

}  // namespace

TksXmpVersionResult SetXmpPDFVersion(std::string& packet, std::string_view version) {
  // XMP is UTF-8 in PDF files; UTF-16 or UTF-32 packets are left alone.
  if (packet.size() >= 2 && (packet[0] == '\0' || packet[1] == '\0' || static_cast<unsigned char>(packet[0]) == 0xFE ||
                             static_cast<unsigned char>(packet[0]) == 0xFF))
    return TksXmpVersionResult::Unparsed;
  TksXmpScan scan;
  scan.text = packet;
  scan.parser = XML_ParserCreateNS("UTF-8", kSeparator);
  if (!scan.parser) return TksXmpVersionResult::Unparsed;
  XML_SetUserData(scan.parser, &scan);
  XML_SetElementHandler(scan.parser, StartElement, EndElement);
  const bool parsed = XML_Parse(scan.parser, packet.data(), static_cast<int>(packet.size()), XML_TRUE) == XML_STATUS_OK;
  XML_ParserFree(scan.parser);
  if (!parsed || scan.failed || packet.size() > static_cast<size_t>(INT32_MAX)) return TksXmpVersionResult::Unparsed;

  std::sort(scan.values.begin(), scan.values.end(), [](const Replacement& a, const Replacement& b) { return a.start > b.start; });
  bool changed = false;
  long grown = 0;
  for (const Replacement& r : scan.values) {  // from the back, so earlier ranges stay put
    if (packet.compare(r.start, r.length, version) == 0) continue;
    packet.replace(r.start, r.length, version);
    grown += static_cast<long>(version.size()) - static_cast<long>(r.length);
    changed = true;
  }
  if (!changed) return TksXmpVersionResult::Unchanged;

  // The padding before the trailer absorbs the difference where it can.
  const size_t trailer = packet.rfind("<?xpacket end");
  if (grown != 0 && trailer != std::string::npos) {
    size_t padding = trailer;
    while (padding > 0 && IsXmlSpace(packet[padding - 1])) --padding;
    if (grown > 0) {
      // Taken from the padding, of which one white space character stays.
      const size_t available = trailer - padding > 1 ? trailer - padding - 1 : 0;
      const size_t take = std::min(static_cast<size_t>(grown), available);
      packet.erase(padding + 1, take);
    } else {
      packet.insert(std::min(padding + 1, trailer), static_cast<size_t>(-grown), ' ');
    }
  }
  return TksXmpVersionResult::Rewritten;
}
