// pdf:PDFVersion set in an XMP packet: only the value's bytes change, and the padding
// before the trailer absorbs a change of length where it can.
#include <gtest/gtest.h>

#include <string>

#include "write/ksXmpVersion.h"

namespace {

std::string Packet(const std::string& value, const std::string& padding) {
  return "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
         "<rdf:Description xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" pdf:PDFVersion=\"" +
         value + "\"/></rdf:RDF></x:xmpmeta>\n" + padding + "<?xpacket end=\"w\"?>";
}

struct Case {
  const char* name;
  std::string packet;
  TksXmpVersionResult result;
  std::string expected;  // the packet afterwards
};

class XmpVersionTest : public testing::TestWithParam<Case> {};

TEST_P(XmpVersionTest, SetsTheValueAndKeepsTheRest) {
  std::string packet = GetParam().packet;
  EXPECT_EQ(SetXmpPDFVersion(packet, "1.4"), GetParam().result);
  EXPECT_EQ(packet, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmpVersionTest,
    testing::Values(
        Case{"same_length", Packet("1.7", "    \n"), TksXmpVersionResult::Rewritten, Packet("1.4", "    \n")},
        // A longer value came out of the padding, a shorter one goes into it.
        Case{"shorter", Packet("1.70", "    \n"), TksXmpVersionResult::Rewritten, Packet("1.4", "     \n")},
        Case{"longer", Packet("1", "    \n"), TksXmpVersionResult::Rewritten, Packet("1.4", "  \n")},
        // Without enough padding the packet grows; one white space character stays.
        Case{"no_padding", Packet("1", ""), TksXmpVersionResult::Rewritten, Packet("1.4", "")},
        Case{"already", Packet("1.4", "\n"), TksXmpVersionResult::Unchanged, Packet("1.4", "\n")},
        Case{"none", "<a xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" pdf:Producer=\"1.7\"/>",
             TksXmpVersionResult::Unchanged, "<a xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" pdf:Producer=\"1.7\"/>"},
        // Another namespace's PDFVersion is not the one meant.
        Case{"other_namespace", "<a xmlns:q=\"urn:other\" q:PDFVersion=\"1.7\"/>", TksXmpVersionResult::Unchanged,
             "<a xmlns:q=\"urn:other\" q:PDFVersion=\"1.7\"/>"},
        Case{"element", "<a xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\"><pdf:PDFVersion> 1.7 </pdf:PDFVersion></a>",
             TksXmpVersionResult::Rewritten,
             "<a xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\"><pdf:PDFVersion> 1.4 </pdf:PDFVersion></a>"},
        Case{"broken", "<a xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" pdf:PDFVersion=\"1.7\">",
             TksXmpVersionResult::Unparsed, "<a xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" pdf:PDFVersion=\"1.7\">"},
        Case{"entity", "<a xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" pdf:PDFVersion=\"1&#46;7\"/>",
             TksXmpVersionResult::Unparsed, "<a xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" pdf:PDFVersion=\"1&#46;7\"/>"},
        Case{"utf16", std::string("\xFE\xFF\0<", 4), TksXmpVersionResult::Unparsed, std::string("\xFE\xFF\0<", 4)}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
