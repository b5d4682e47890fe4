// The converter's document settings (what the settings dialog edits) as pdfinfo and qpdf
// read them, their usage errors, and --open-after-save with a stub opener.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ksFixture.h"
#include "ksShell.h"

namespace fs = std::filesystem;
using ksfixture::PdfBuilder;
using ksshell::Quote;
using ksshell::Shell;

namespace {

class TempDir : public ksshell::TempDir {
 public:
  TempDir() : ksshell::TempDir("pw-settings-") {}
};

struct CliRun {
  int status = -1;
  std::string err;
};

// The converter with the arguments as one shell text; env goes before it (VAR=... ).
CliRun Convert(const TempDir& dir, const std::string& args, const std::string& env = "") {
  const std::string err = dir.Path("stderr.txt");
  CliRun r;
  r.status = Shell(env + Quote(PW_CONVERT_EXE) + " " + args + " 2>" + Quote(err)).status;
  r.err = ksfixture::ReadFile(err);
  return r;
}

// One page; a catalog with a layout the option names do not hold and two preferences;
// information with a Cyrillic title ("Старый", UTF-16BE) and an author.
std::string Source() {
  PdfBuilder b;
  b.Object(1,
           "<< /Type /Catalog /Pages 2 0 R /PageLayout /TwoPageLeft "
           "/ViewerPreferences << /HideToolbar true /FitWindow true >> >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 200 200] >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R >>");
  b.Object(4, "<< /Title <FEFF0421044204300440044b0439> /Author (Me) >>");
  return b.Build("/Root 1 0 R /Info 4 0 R");
}

// pdfinfo's line for key ("" when it shows none).
std::string PdfinfoLine(const std::string& pdf, const std::string& key) {
  const std::string out = "\n" + Shell("pdfinfo " + Quote(pdf) + " 2>/dev/null").out;
  const size_t at = out.find("\n" + key + ":");
  if (at == std::string::npos) return std::string();
  const size_t start = out.find_first_not_of(' ', at + key.size() + 2);
  return out.substr(start, out.find('\n', start) - start);
}

// The catalog's layout, mode and viewer preferences as qpdf's JSON gives them, references
// resolved, keys sorted.
std::string CatalogView(const std::string& pdf) {
  const char* script =
      "import json,sys\n"
      "objs=json.load(sys.stdin)['qpdf'][1]\n"
      "val=lambda v: objs['obj:'+v]['value'] if isinstance(v,str) and v.endswith(' R') else v\n"
      "cat=val(objs['trailer']['value']['/Root'])\n"
      "print(json.dumps({k:val(cat[k]) for k in ('/PageLayout','/PageMode','/ViewerPreferences') if k in cat},"
      "sort_keys=True))\n";
  std::string out = Shell("qpdf --json=2 --json-key=qpdf " + Quote(pdf) + " | python3 -c " + Quote(script)).out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST(DocumentSettings, InformationInAnyScriptShowsInPdfinfoAndOnlyGivenFieldsChange) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Source());
  CliRun r = Convert(dir, "--title='Привет' --author=A --subject='Sujet é' --keywords=k1,k2 --creator=Crème " +
                              Quote(in) + " " + Quote(dir.Path("all.pdf")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(PdfinfoLine(dir.Path("all.pdf"), "Title"), "Привет");
  EXPECT_EQ(PdfinfoLine(dir.Path("all.pdf"), "Author"), "A");
  EXPECT_EQ(PdfinfoLine(dir.Path("all.pdf"), "Subject"), "Sujet é");
  EXPECT_EQ(PdfinfoLine(dir.Path("all.pdf"), "Keywords"), "k1,k2");
  EXPECT_EQ(PdfinfoLine(dir.Path("all.pdf"), "Creator"), "Crème");

  r = Convert(dir, "--author=B " + Quote(in) + " " + Quote(dir.Path("author.pdf")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(PdfinfoLine(dir.Path("author.pdf"), "Title"), "Старый");
  EXPECT_EQ(PdfinfoLine(dir.Path("author.pdf"), "Author"), "B");
}

TEST(DocumentSettings, ViewSettingsShowInTheCatalog) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Source());
  const std::string kSourcePreferences = R"("/ViewerPreferences": {"/FitWindow": true, "/HideToolbar": true})";
  const struct {
    std::string args, catalog;
  } cases[] = {
      {"", R"({"/PageLayout": "/TwoPageLeft", )" + kSourcePreferences + "}"},
      {"--page-layout=one-column --page-mode=full-screen",
       R"({"/PageLayout": "/OneColumn", "/PageMode": "/FullScreen", )" + kSourcePreferences + "}"},
      {"--page-layout=4 --page-mode=4",
       R"({"/PageLayout": "/TwoColumnRight", "/PageMode": "/UseAttachments", )" + kSourcePreferences + "}"},
      {"--page-layout=none --page-mode=use-thumbs", R"({"/PageMode": "/UseThumbs", )" + kSourcePreferences + "}"},
      {"--viewer-prefs=center-window,display-doc-title --clear-viewer-prefs=hide-toolbar",
       R"({"/PageLayout": "/TwoPageLeft", "/ViewerPreferences": {"/CenterWindow": true, "/DisplayDocTitle": true, )"
       R"("/FitWindow": true}})"},
      {"--clear-viewer-prefs=hide-toolbar,fit-window --viewer-prefs=hide-menubar,hide-window-ui",
       R"({"/PageLayout": "/TwoPageLeft", "/ViewerPreferences": {"/HideMenubar": true, "/HideWindowUI": true}})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string out = dir.Path("out.pdf");
    CliRun r = Convert(dir, c.args + " " + Quote(in) + " " + Quote(out));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CatalogView(out), c.catalog);
    EXPECT_EQ(Shell("qpdf --check " + Quote(out) + " >/dev/null 2>&1").status, 0);
  }
}

TEST(DocumentSettings, WrongValuesAreUsageErrors) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Source());
  const struct {
    std::string args, message;
  } cases[] = {
      {"--page-layout=two-page-left", "unknown page layout 'two-page-left' (0-4 or none, single-page, one-column, "
                                      "two-column-left, two-column-right)"},
      {"--page-mode=5", "unknown page mode '5' (0-4 or none, use-outlines, use-thumbs, full-screen, use-attachments)"},
      {"--viewer-prefs=fit-window,,center-window",
       "unknown viewer preference '' in --viewer-prefs (hide-toolbar, hide-menubar, hide-window-ui, fit-window, "
       "center-window, display-doc-title)"},
      {"--clear-viewer-prefs=0",
       "unknown viewer preference '0' in --clear-viewer-prefs (hide-toolbar, hide-menubar, hide-window-ui, "
       "fit-window, center-window, display-doc-title)"},
      {"--viewer-prefs=fit-window --clear-viewer-prefs=center-window,fit-window",
       "viewer preference 'fit-window' is both in --viewer-prefs and --clear-viewer-prefs"},
      {"--title=\"$(printf '\\377\\376')\"", "--title is not UTF-8 text"},
      {"--creator=\"$(printf 'a\\303')\"", "--creator is not UTF-8 text"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    CliRun r = Convert(dir, c.args + " " + Quote(in) + " " + Quote(dir.Path("out.pdf")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "pagewright-convert: " + c.message);
    EXPECT_FALSE(fs::exists(dir.Path("out.pdf")));
  }
  CliRun info = Convert(dir, "--info --page-mode=none " + Quote(in));
  EXPECT_EQ(info.status, 1);
  EXPECT_EQ(info.err.substr(0, info.err.find('\n')),
            "pagewright-convert: --info changes no file: the document settings need an output");
}

// The lines a stub opener recorded once count of them are there (or after 10 s).
std::string Recorded(const std::string& file, size_t count) {
  std::string text;
  for (int i = 0; i < 1000; ++i) {
    text = ksfixture::ReadFile(file);
    if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= count) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return text;
}

TEST(DocumentSettings, OpenAfterSaveStartsTheOpenerOnceWhateverItsOutcome) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Source());
  fs::create_directories(dir.Path("bin"));
  fs::create_directories(dir.Path("failing"));
  fs::create_directories(dir.Path("empty"));
  const std::string calls = dir.Path("calls.txt");
  for (const auto& [folder, status] : {std::pair<std::string, int>{"bin", 0}, {"failing", 4}}) {
    const std::string stub = dir.Path(folder + "/xdg-open");
    std::ofstream(stub) << "#!/bin/sh\nprintf '%s|%s\\n' \"$#\" \"$1\" >> " << Quote(calls) << "\nexit " << status
                        << "\n";
    chmod(stub.c_str(), 0755);
  }
  // Relative output names, with a blank and ";": the opener gets the absolute name.
  const std::string cd = "cd " + Quote(dir.Path("")) + " && ";
  CliRun r = Convert(dir, Quote(in) + " 'not opened.pdf'", cd + "PATH=" + Quote(dir.Path("bin")) + " ");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Convert(dir, "--open-after-save " + Quote(in) + " 'a b;c'", cd + "PATH=" + Quote(dir.Path("bin")) + " ");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Recorded(calls, 1), "1|" + dir.Path("a b;c.pdf") + "\n");
  EXPECT_TRUE(fs::exists(dir.Path("not opened.pdf")));

  r = Convert(dir, "--open-after-save " + Quote(in) + " failing.pdf", cd + "PATH=" + Quote(dir.Path("failing")) + " ");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Recorded(calls, 2), "1|" + dir.Path("a b;c.pdf") + "\n1|" + dir.Path("failing.pdf") + "\n");

  r = Convert(dir, "--open-after-save " + Quote(in) + " missing.pdf", cd + "PATH=" + Quote(dir.Path("empty")) + " ");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::exists(dir.Path("missing.pdf")));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(ksfixture::ReadFile(calls), "1|" + dir.Path("a b;c.pdf") + "\n1|" + dir.Path("failing.pdf") + "\n");
}

}  // namespace

namespace {

// What qpdf reports of a file's encryption with password: "BITS METHOD" and the
// capabilities granted, sorted ("-" for none); the error text when it cannot open it.
std::string QpdfEncryption(const std::string& pdf, const std::string& password) {
  const char* script =
      "import json,sys\n"
      "e=json.load(sys.stdin)['encrypt']\n"
      "p=e['parameters']\n"
      "caps=sorted(k for k,v in e['capabilities'].items() if v)\n"
      "print(p['bits'],p['method'],','.join(caps) or '-')\n";
  std::string out = Shell("qpdf --json --json-key=encrypt --password=" + Quote(password) + " " + Quote(pdf) +
                          " 2>&1 | python3 -c " + Quote(script) + " 2>/dev/null")
                        .out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST(DocumentSettings, EncryptionWithPasswordsAndPermissionsAsQpdfReadsIt) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Source());
  const struct {
    std::string args, owner, user, report;
  } cases[] = {
      {"--encrypt=128 --user-password=u --owner-password=o --allow=print,copy", "o", "u", "128 RC4 extract,printlow"},
      {"--encrypt=40 --user-password=u --owner-password=o --allow=none", "o", "u", "40 RC4 -"},
      {"--encrypt=128 --owner-password=o --allow=all", "o", "",
       "128 RC4 accessibility,extract,modify,modifyannotations,modifyassembly,modifyforms,modifyother,printhigh,"
       "printlow"},
      {"--encrypt=128 --user-password=u --owner-password=o "
       "--allow=modify,annotation,form-fill,accessibility,document-assembly,high-resolution-printing",
       // High-resolution printing is a degree of printing: choosing it chooses printing too.
       "o", "u",
       "128 RC4 accessibility,modify,modifyannotations,modifyassembly,modifyforms,modifyother,printhigh,printlow"},
      {"--encrypt=128 --user-password=u --owner-password=o --allow=high-resolution-printing", "o", "u",
       "128 RC4 printhigh,printlow"},
      // At a version that knows the method (below it the conversion warns, exit 3).
      {"--pdf-version=1.6 --encrypt=aes128 --user-password=u --owner-password=o --allow=print,copy", "o", "u",
       "128 AESv2 extract,printlow"},
      {"--pdf-version=2.0 --encrypt=aes256 --user-password=u --owner-password=o --allow=print,annotation", "o", "u",
       "256 AESv3 modifyannotations,printlow"},
      // AES-256 takes any text.
      {"--pdf-version=2.0 --encrypt=aes256 --user-password='Ж' --owner-password='密码' --allow=none", "密码", "Ж",
       "256 AESv3 -"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string out = dir.Path("enc.pdf");
    CliRun r = Convert(dir, c.args + " " + Quote(in) + " " + Quote(out));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(QpdfEncryption(out, c.owner), c.report);
    EXPECT_EQ(Shell("qpdf --check --password=" + Quote(c.user) + " " + Quote(out) + " >/dev/null 2>&1").status, 0);
    EXPECT_EQ(QpdfEncryption(out, "wrong"), "");
  }

  // "€" is byte 0x80 in Windows-1252, which the handler keys on; "Ж" has no byte there.
  CliRun euro = Convert(dir, "--encrypt=128 --user-password='€' --owner-password=o " + Quote(in) + " " +
                                 Quote(dir.Path("euro.pdf")));
  ASSERT_EQ(euro.status, 0) << euro.err;
  EXPECT_EQ(Shell("qpdf --check --password-mode=bytes --password=\"$(printf '\\200')\" " +
                  Quote(dir.Path("euro.pdf")) + " >/dev/null 2>&1")
                .status,
            0);
  EXPECT_EQ(Convert(dir, "--info --password='€' " + Quote(dir.Path("euro.pdf"))).status, 0);
  CliRun cyrillic = Convert(dir, "--encrypt=128 --user-password='Ж' " + Quote(in) + " " + Quote(dir.Path("zh.pdf")));
  EXPECT_EQ(cyrillic.status, 1);
  EXPECT_EQ(cyrillic.err.substr(0, cyrillic.err.find('\n')),
            "pagewright-convert: --user-password holds characters that RC4 and AES-128 encryption cannot take (only "
            "those of Windows-1252; aes256 takes any)");
  EXPECT_FALSE(fs::exists(dir.Path("zh.pdf")));
}

TEST(DocumentSettings, EncryptedSourceKeepsWhatIsNotGivenAndDecryptsOnlyForTheOwner) {
  TempDir dir;
  const std::string in = std::string(PW_CORPUS_DIR) + "/gen-rc4-40-objstm-user-u40.pdf";  // user u40, owner o40
  // A new level alone: both passwords stay.
  CliRun r = Convert(dir, "--password=o40 --encrypt=128 " + Quote(in) + " " + Quote(dir.Path("128.pdf")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(QpdfEncryption(dir.Path("128.pdf"), "o40"), testing::StartsWith("128 RC4 "));
  EXPECT_EQ(Shell("qpdf --check --password=u40 " + Quote(dir.Path("128.pdf")) + " >/dev/null 2>&1").status, 0);

  r = Convert(dir, "--password=o40 --decrypt " + Quote(in) + " " + Quote(dir.Path("plain.pdf")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Shell("qpdf --show-encryption " + Quote(dir.Path("plain.pdf"))).out, "File is not encrypted\n");

  for (const std::string args : {"--decrypt", "--encrypt=128 --user-password=x"}) {
    SCOPED_TRACE(args);
    r = Convert(dir, "--password=u40 " + args + " " + Quote(in) + " " + Quote(dir.Path("user.pdf")));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "pagewright-convert: User cannot change encryption settings\n");
    EXPECT_FALSE(fs::exists(dir.Path("user.pdf")));
  }
}

// The owner password of an AES-256 file does not give its user password: changed settings
// keep the user's part of the keys, and a level that would need new ones is refused.
TEST(DocumentSettings, AES256OwnerChangesKeepTheUnknownUserPassword) {
  TempDir dir;
  const std::string in = std::string(PW_CORPUS_DIR) + "/qpdf_enc-XI-R6_V5_U_view_O_master.pdf";  // view, master
  CliRun r = Convert(dir, "--password=master --encrypt=aes256 --allow=print " + Quote(in) + " " +
                              Quote(dir.Path("256.pdf")));
  ASSERT_EQ(r.status, 3) << r.err;  // the declared 1.7 predates AES-256
  for (const char* password : {"view", "master"}) EXPECT_EQ(QpdfEncryption(dir.Path("256.pdf"), password), "256 AESv3 printlow");
  r = Convert(dir, "--password=master --encrypt=aes128 " + Quote(in) + " " + Quote(dir.Path("128.pdf")));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "pagewright-convert: The user password of this file is not known (the owner password opened it): give the "
            "user password to change its encryption\n");
  EXPECT_FALSE(fs::exists(dir.Path("128.pdf")));
  // With the user password given, new keys of any level.
  r = Convert(dir, "--password=master --encrypt=aes128 --user-password=view " + Quote(in) + " " +
                       Quote(dir.Path("128.pdf")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(QpdfEncryption(dir.Path("128.pdf"), "view"), testing::StartsWith("128 AESv2 "));
  EXPECT_THAT(QpdfEncryption(dir.Path("128.pdf"), "master"), testing::StartsWith("128 AESv2 "));
}

// A source that leaves its XMP metadata in clear (made by qpdf) keeps them so under new
// keys of any level that can: 40-bit keys encrypt everything, and say so.
TEST(DocumentSettings, MetadataLeftInClearStayInClear) {
  TempDir dir;
  const std::string packet = "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
                             "<dc:title xmlns:dc=\"http://purl.org/dc/elements/1.1/\">clear-marker</dc:title></x:xmpmeta>"
                             "<?xpacket end=\"w\"?>";
  PdfBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 4 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 200 200] >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R >>");
  b.Stream(4, "/Type /Metadata /Subtype /XML", packet);
  const std::string plain = dir.File("plain.pdf", b.Build("/Root 1 0 R"));
  const std::string in = dir.Path("in.pdf");
  ASSERT_EQ(Shell("qpdf --encrypt u o 128 --use-aes=y --cleartext-metadata -- " + Quote(plain) + " " + Quote(in))
                .status,
            0);
  auto rawHasMarker = [](const std::string& pdf) {
    return ksfixture::ReadFile(pdf).find("clear-marker") != std::string::npos;
  };
  ASSERT_TRUE(rawHasMarker(in));
  const struct {
    const char* level;
    const char* report;
    bool clear;
  } cases[] = {
      {"40", "40 RC4", false}, {"128", "128 RC4", true}, {"aes128", "128 AESv2", true}, {"aes256", "256 AESv3", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    const std::string out = dir.Path(std::string(c.level) + ".pdf");
    CliRun r = Convert(dir, "--pdf-version=2.0 --password=o --encrypt=" + std::string(c.level) +
                                " --user-password=uu --owner-password=oo " + Quote(in) + " " + Quote(out));
    if (c.clear) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.status, 3) << r.err;
      EXPECT_EQ(r.err,
                "pagewright-convert: warning: The source leaves its XMP metadata unencrypted, which 40-bit encryption "
                "cannot do: they are encrypted\n");
    }
    EXPECT_EQ(rawHasMarker(out), c.clear);
    EXPECT_THAT(QpdfEncryption(out, "oo"), testing::StartsWith(std::string(c.report) + " "));
    EXPECT_EQ(Shell("qpdf --check --password=uu " + Quote(out) + " >/dev/null 2>&1").status, 0);
    // qpdf reads the packet as written, in clear or decrypted.
    EXPECT_EQ(Shell("qpdf --password=uu --qdf --object-streams=disable " + Quote(out) + " - | grep -c clear-marker")
                  .out,
              "1\n");
  }
}

TEST(DocumentSettings, WrongEncryptionOptionsAreUsageErrors) {
  TempDir dir;
  const std::string in = dir.File("in.pdf", Source());
  const struct {
    std::string args, message;
  } cases[] = {
      {"--encrypt=256", "--encrypt takes 40 or 128 (RC4 bits), aes128 or aes256, not '256'"},
      {"--encrypt=40 --decrypt", "--encrypt and --decrypt exclude each other"},
      {"--allow=print", "--user-password, --owner-password and --allow go with --encrypt=40|128|aes128|aes256"},
      {"--owner-password=o", "--user-password, --owner-password and --allow go with --encrypt=40|128|aes128|aes256"},
      // Checked against the level whatever the order.
      {"--owner-password='ключ' --encrypt=aes128",
       "--owner-password holds characters that RC4 and AES-128 encryption cannot take (only those of "
       "Windows-1252; aes256 takes any)"},
      {"--encrypt=40 --allow=print,fill",
       "unknown permission 'fill' in --allow (all, none or a list of copy, modify, print, annotation, form-fill, "
       "accessibility, document-assembly, high-resolution-printing)"},
      {"--encrypt=40 --owner-password='ключ'",
       "--owner-password holds characters that RC4 and AES-128 encryption cannot take (only those of "
       "Windows-1252; aes256 takes any)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    CliRun r = Convert(dir, c.args + " " + Quote(in) + " " + Quote(dir.Path("out.pdf")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "pagewright-convert: " + c.message);
    EXPECT_FALSE(fs::exists(dir.Path("out.pdf")));
  }
}

}  // namespace
