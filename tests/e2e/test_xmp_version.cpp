// The catalog's XMP packet says the version the header says: pdf:PDFVersion (attribute or
// element) is rewritten in place, the packet keeps its length and every other byte, as
// Python's xml.etree and qpdf read it; a packet that is no XML is left with a warning, and
// encrypted metadata (or metadata left in clear) is rewritten under the file's own rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ksFixture.h"
#include "ksShell.h"

namespace fs = std::filesystem;
using ksfixture::PdfBuilder;
using ksshell::Quote;
using ksshell::Shell;

namespace {

class TempDir : public ksshell::TempDir {
 public:
  TempDir() : ksshell::TempDir("pw-xmp-") {}
};

// A packet with two kilobytes of padding; body holds the rdf:Description's content.
std::string Packet(const std::string& description) {
  std::string padding;
  for (int i = 0; i < 20; ++i) padding += std::string(99, ' ') + "\n";
  return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n" +
         description +
         " </rdf:RDF>\n"
         "</x:xmpmeta>\n" +
         padding + "<?xpacket end=\"w\"?>";
}

const std::string kAttributeForm =
    "  <rdf:Description rdf:about=\"\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\"\n"
    "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\" pdf:Producer=\"Maker 1.7\" pdf:PDFVersion=\"1.7\">\n"
    "   <dc:format>application/pdf</dc:format>\n"
    "  </rdf:Description>\n";
const std::string kElementForm =
    "  <rdf:Description rdf:about=\"\" xmlns:p=\"http://ns.adobe.com/pdf/1.3/\">\n"
    "   <p:Producer>Maker 1.7</p:Producer>\n"
    "   <p:PDFVersion>1.7</p:PDFVersion>\n"
    "  </rdf:Description>\n";

std::string WithMetadata(const std::string& packet) {
  PdfBuilder b("%PDF-1.7");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 4 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>")
      .Stream(4, "/Type /Metadata /Subtype /XML", packet);
  return b.Build("/Root 1 0 R");
}

// The packet as it stands in a file whose metadata are in clear.
std::string PacketIn(const std::string& pdf) {
  const std::string bytes = ksfixture::ReadFile(pdf);
  const size_t begin = bytes.find("<?xpacket begin");
  const size_t end = bytes.find("<?xpacket end=\"w\"?>", begin);
  if (begin == std::string::npos || end == std::string::npos) return {};
  return bytes.substr(begin, end + 19 - begin);
}

// pdf:PDFVersion as xml.etree reads it from the packet in file (attribute or element).
std::string VersionByElementTree(const std::string& file) {
  const std::string script =
      "import sys, xml.etree.ElementTree as ET\n"
      "root = ET.parse(sys.argv[1]).getroot()\n"
      "key = '{http://ns.adobe.com/pdf/1.3/}PDFVersion'\n"
      "for e in root.iter():\n"
      "    if key in e.attrib: print(e.attrib[key])\n"
      "    if e.tag == key: print(e.text)\n";
  return Shell("python3 -c " + Quote(script) + " " + Quote(file) + " 2>&1").out;
}

struct Form {
  const char* name;
  const std::string* description;
};

class XmpVersion : public testing::TestWithParam<Form> {};

TEST_P(XmpVersion, PacketSaysTheChosenVersionWithEveryOtherByteKept) {
  TempDir dir;
  const std::string packet = Packet(*GetParam().description);
  const std::string input = dir.File("in.pdf", WithMetadata(packet));
  const std::string output = dir.Path("out.pdf");
  const auto r = Shell(std::string(PW_CONVERT_EXE) + " --pdf-version=1.4 " + Quote(input) + " " + Quote(output) +
                       " 2>" + Quote(dir.Path("err.txt")));
  // 1.4 knows XMP: nothing to warn about.
  EXPECT_EQ(r.status, 0) << ksfixture::ReadFile(dir.Path("err.txt"));
  const std::string written = PacketIn(output);
  ASSERT_EQ(written.size(), packet.size());
  std::string expected = packet;
  const size_t at = GetParam().description == &kAttributeForm ? expected.find("PDFVersion=\"1.7\"") + 12
                                                              : expected.find("PDFVersion>1.7<") + 11;
  expected.replace(at, 3, "1.4");
  EXPECT_EQ(written, expected);  // the producer's "1.7" is untouched
  EXPECT_EQ(VersionByElementTree(dir.File("packet.xml", written)), "1.4\n");
  EXPECT_EQ(VersionByElementTree(dir.File("source.xml", packet)), "1.7\n");
}

INSTANTIATE_TEST_SUITE_P(Forms, XmpVersion,
                         testing::Values(Form{"attribute", &kAttributeForm}, Form{"element", &kElementForm}),
                         [](const testing::TestParamInfo<Form>& info) { return std::string(info.param.name); });

TEST(XmpVersionFaults, PacketThatIsNoXmlIsLeftWithAWarning) {
  TempDir dir;
  std::string packet = Packet(kAttributeForm);
  packet.replace(packet.find("</rdf:Description>"), 18, "</rdf:Descriptio>");
  const std::string input = dir.File("in.pdf", WithMetadata(packet));
  const auto r = Shell(std::string(PW_CONVERT_EXE) + " --pdf-version=1.4 " + Quote(input) + " " +
                       Quote(dir.Path("out.pdf")) + " 2>" + Quote(dir.Path("err.txt")));
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(ksfixture::ReadFile(dir.Path("err.txt")),
            "pagewright-convert: warning: The XMP metadata could not be read as XML; its pdf:PDFVersion was left as it "
            "was\n");
  EXPECT_EQ(PacketIn(dir.Path("out.pdf")), packet);
}

// Encrypted with RC4-128 by qpdf: metadata encrypted (revision 3; qpdf also compresses the
// packet then, so it is inflated and deflated again), and left in clear (revision 4,
// /EncryptMetadata false). Either way the packet read back says 1.4.
TEST(XmpVersionFaults, EncryptedAndClearMetadataOfEncryptedFiles) {
  TempDir dir;
  const std::string packet = Packet(kAttributeForm);
  const std::string plain = dir.File("plain.pdf", WithMetadata(packet));
  for (const std::string clear : {"", "--cleartext-metadata"}) {
    SCOPED_TRACE(clear);
    const std::string encrypted = dir.Path("enc.pdf"), output = dir.Path("out.pdf");
    ASSERT_EQ(Shell("qpdf --allow-weak-crypto --encrypt '' owner 128 --use-aes=n " + clear + " -- " + Quote(plain) +
                    " " + Quote(encrypted) + " 2>&1")
                  .status,
              0);
    // The packet is readable in the file exactly when it is left in clear.
    EXPECT_EQ(PacketIn(encrypted).empty(), clear.empty());
    ASSERT_EQ(Shell(std::string(PW_CONVERT_EXE) + " --quiet --pdf-version=1.4 " + Quote(encrypted) + " " + Quote(output))
                  .status,
              0);
    EXPECT_EQ(PacketIn(output).empty(), clear.empty());
    ASSERT_EQ(Shell("qpdf --decrypt " + Quote(output) + " " + Quote(dir.Path("dec.pdf")) + " 2>&1").status, 0);
    EXPECT_EQ(VersionByElementTree(dir.File("packet.xml", PacketIn(dir.Path("dec.pdf")))), "1.4\n");
  }
}

}  // namespace
