// The PDF version an XMP metadata packet states (pdf:PDFVersion), set to the version a
// save writes, every other byte kept.
#pragma once
#include <string>
#include <string_view>

enum class TksXmpVersionResult {
  Unchanged,  // no pdf:PDFVersion, or it already says the version
  Rewritten,  // packet holds the new version
  Unparsed,   // not well-formed XML (or not UTF-8): left as it was
};

// Sets every pdf:PDFVersion of packet (attribute or element form, any prefix bound to
// the pdf namespace) to version. Where the value's length changes, the packet's padding
// (white space before "<?xpacket end") gives or takes the difference, so the packet keeps
// its length when the padding allows.
TksXmpVersionResult SetXmpPDFVersion(std::string& packet, std::string_view version);
