// Damaged files: the load falls back to cross-reference data rebuilt by scanning the file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "base/ksPDFResStrs.h"
#include "ksFixture.h"

namespace {

using ksfixture::PdfBuilder;
using testing::StrEq;
using testing::ThrowsMessage;

const std::string kContent = "0 0 m 100 100 l S";

// Catalog, page tree, one page with a content stream, an information dictionary.
PdfBuilder Document(const std::string& header = "%PDF-1.4") {
  PdfBuilder b(header);
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>")
      .Stream(4, "", kContent)
      .Object(5, "<< /Title (Repaired) >>");
  return b;
}
const char* const kTrailer = "/Root 1 0 R /Info 5 0 R";

struct Loaded {
  std::vector<std::string> warnings;
};

Loaded Load(TksCustomPDFDocument& doc, const std::string& name, const std::string& bytes) {
  Loaded result;
  doc.OnWarning = [&result](TksCustomPDFDocument*, const std::string& text) { result.warnings.push_back(text); };
  doc.LoadFromFile(ksfixture::WriteTempFile(name, bytes));
  return result;
}

std::string ContentOf(TksCustomPDFDocument& doc, int page) {
  auto* dict = AsDict(doc.Pages.at(static_cast<size_t>(page))->Value.get());
  auto* stream = AsStream(doc.Store->Dereference(dict->Lookup("/Contents")));
  return stream && stream->Data ? std::string(stream->Data->View()) : std::string();
}

// The offset text of object number's entry in the file's (one) table, replaced.
std::string WithEntryOffset(std::string file, int number, int64_t offset) {
  size_t firstEntry = static_cast<size_t>(ksfixture::StartXRefOf(file)) + 4;
  while (file[firstEntry] == '\r' || file[firstEntry] == '\n') ++firstEntry;
  firstEntry = file.find_first_of("\r\n", firstEntry);  // past the subsection header
  while (file[firstEntry] == '\r' || file[firstEntry] == '\n') ++firstEntry;
  char text[24];
  std::snprintf(text, sizeof text, "%010lld", static_cast<long long>(offset));
  file.replace(firstEntry + 20 * static_cast<size_t>(number), 10, text);
  return file;
}

std::string WithStartXRef(std::string file, const std::string& value) {
  return file.replace(file.rfind("startxref"), std::string::npos, "startxref\n" + value + "\n%%EOF\n");
}

// Each kind of damage still reads as the sound file does, and says it was repaired.
TEST(Repair, DamagedCopiesReadAsTheSoundFile) {
  const PdfBuilder builder = Document();
  const std::string sound = builder.Build(kTrailer);
  const size_t table = sound.find("\nxref\n") + 1;
  const size_t trailer = sound.find("trailer");
  const int64_t page = static_cast<int64_t>(builder.Offsets().at(3));
  const struct {
    const char* name;
    std::function<std::string()> damage;
    TksXRefKind kind;
    std::string note;  // the first line RepairNotes holds
    bool keepsInfo = true;  // false where the cut takes the only trailer, and /Info with it
  } cases[] = {
      {"startxref into an object", [&] { return WithStartXRef(sound, std::to_string(page + 3)); }, xkRebuilt,
       ksFormat(ksres::SRepairCause, "File is corrupted")},
      {"startxref beyond the end", [&] { return WithStartXRef(sound, "999999"); }, xkRebuilt,
       ksFormat(ksres::SRepairCause, "File is corrupted")},
      {"cut before the table", [&] { return sound.substr(0, table); }, xkRebuilt,
       ksFormat(ksres::SRepairCause, ksres::SInvalidPDFFile), false},
      {"cut inside the table", [&] { return sound.substr(0, table + 40); }, xkRebuilt,
       ksFormat(ksres::SRepairCause, ksres::SInvalidPDFFile), false},
      {"cut inside the trailer", [&] { return sound.substr(0, trailer + 12); }, xkRebuilt,
       ksFormat(ksres::SRepairCause, ksres::SInvalidPDFFile), false},
      {"table made spaces",
       [&] { return std::string(sound).replace(table, trailer - table, std::string(trailer - table, ' ')); }, xkRebuilt,
       ksFormat(ksres::SRepairCause, "File is corrupted")},
      {"an entry off by some bytes", [&] { return WithEntryOffset(sound, 3, page + 5); }, xkRebuilt,
       ksFormat(ksres::SRepairCause, ksFormat(ksres::SObjectNotAtOffset, 3, static_cast<long long>(page + 5)).c_str())},
      {"an entry at another object", [&] { return WithEntryOffset(sound, 3, static_cast<int64_t>(builder.Offsets().at(2))); },
       xkRebuilt,
       ksFormat(ksres::SRepairCause, ksFormat(ksres::SObjectNotAtOffset, 3,
                                              static_cast<long long>(builder.Offsets().at(2))).c_str())},
      // Offsets that count from the header are read as they stand.
      {"junk before the header", [&] { return "Received: by a mail gateway\r\n" + sound; }, xkTable,
       ksFormat(ksres::SRepairHeaderShift, 29LL)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TksCustomPDFDocument doc;
    Loaded loaded = Load(doc, "damaged.pdf", c.damage());
    ASSERT_TRUE(doc.IsOpened());
    EXPECT_EQ(doc.XRefKind, c.kind);
    ASSERT_FALSE(doc.RepairNotes.empty());
    EXPECT_EQ(doc.RepairNotes.front(), c.note);
    ASSERT_FALSE(loaded.warnings.empty());
    EXPECT_EQ(loaded.warnings.front(), ksres::SRepaired);
    ASSERT_EQ(doc.PageCount(), 1);
    EXPECT_EQ(ContentOf(doc, 0), kContent);
    EXPECT_EQ(doc.Info().Title(), c.keepsInfo ? u"Repaired" : u"");
  }
}

TEST(Repair, ASoundFileIsReadAsItStands) {
  TksCustomPDFDocument doc;
  Loaded loaded = Load(doc, "sound.pdf", Document().Build(kTrailer));
  EXPECT_EQ(doc.XRefKind, xkTable);
  EXPECT_FALSE(doc.Repaired());
  EXPECT_TRUE(loaded.warnings.empty());
  // Rebuilt on request, it reads the same.
  TksCustomPDFDocument rebuilt;
  rebuilt.RepairMode = TksCustomPDFDocument::rmAlways;
  Load(rebuilt, "sound.pdf", Document().Build(kTrailer));
  EXPECT_EQ(rebuilt.XRefKind, xkRebuilt);
  EXPECT_EQ(rebuilt.RepairNotes, std::vector<std::string>{ksFormat(ksres::SRepairRebuilt, 5, 0)});
  ASSERT_EQ(rebuilt.PageCount(), 1);
  EXPECT_EQ(ContentOf(rebuilt, 0), kContent);
}

// Without the fallback, or where the scan finds nothing to read, the file's own failure
// is what is reported, and no warning of a rebuild.
TEST(Repair, WhatCannotBeRebuiltFailsWithTheFilesOwnError) {
  PdfBuilder noCatalog;
  noCatalog.Object(1, "<< /Type /Pages /Kids [] /Count 0 >>");
  PdfBuilder noPages;
  noPages.Object(1, "<< /Type /Catalog >>");
  const struct {
    const char* name;
    std::string bytes;
    TksCustomPDFDocument::TksRepairMode mode;
    std::string message;
  } cases[] = {
      {"not asked to", WithStartXRef(Document().Build(kTrailer), "999999"), TksCustomPDFDocument::rmNever,
       "File is corrupted"},
      {"nothing recognisable", "%PDF-1.4\nnothing but words\n", TksCustomPDFDocument::rmFallback,
       ksres::SInvalidPDFFile},
      {"no catalog", noCatalog.Body(), TksCustomPDFDocument::rmFallback, ksres::SInvalidPDFFile},
      {"no catalog, found by the scan alone", noCatalog.Body(), TksCustomPDFDocument::rmAlways,
       ksres::SRepairNoCatalog},
      {"a catalog without pages", noPages.Body(), TksCustomPDFDocument::rmFallback, ksres::SInvalidPDFFile},
      {"junk without a header", "junk\n" + Document().Build(kTrailer).substr(9), TksCustomPDFDocument::rmFallback,
       "Invalid PDF Header (junk)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TksCustomPDFDocument doc;
    doc.RepairMode = c.mode;
    std::vector<std::string> warnings;
    doc.OnWarning = [&warnings](TksCustomPDFDocument*, const std::string& text) { warnings.push_back(text); };
    const std::string path = ksfixture::WriteTempFile("unrepairable.pdf", c.bytes);
    EXPECT_THAT([&] { doc.LoadFromFile(path); }, ThrowsMessage<Exception>(StrEq(c.message)));
    EXPECT_FALSE(doc.Repaired());
    EXPECT_THAT(warnings, testing::Not(testing::Contains(ksres::SRepaired)));
  }
}

// What the scan takes: the last definition of a number; nothing from inside stream data;
// the objects of object streams; the trailer of a cross-reference stream; the catalog
// by its /Type when no trailer names it, in the file or in an object stream.
TEST(Repair, TheScanFindsWhatTheFileDefines) {
  // A quoted catalog inside stream data, after the real one, and a page redefined.
  PdfBuilder quoted;
  quoted.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>")
      .Stream(4, "", "9 0 obj << /Type /Catalog /Pages 8 0 R >> endobj\ntrailer << /Root 9 0 R >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 50] /Contents 4 0 R >>");

  // Pages kept in an object stream, found only through it.
  const ksfixture::ObjStm held = ksfixture::MakeObjStm(
      {{2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"}, {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 50] >>"}});
  PdfBuilder packed("%PDF-1.5");
  packed.Object(1, "<< /Type /Catalog /Pages 2 0 R >>").Stream(6, held.dictEntries, held.data);

  // Everything in an object stream, the catalog too, and no trailer names it.
  const ksfixture::ObjStm all = ksfixture::MakeObjStm({{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                                                       {2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
                                                       {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 50] >>"}});
  PdfBuilder allPacked("%PDF-1.5");
  allPacked.Stream(6, all.dictEntries, all.data);

  PdfBuilder streamed("%PDF-1.5");
  streamed.Object(1, "<< /Type /Pages /Kids [2 0 R] /Count 1 >>")
      .Object(2, "<< /Type /Page /Parent 1 0 R /MediaBox [0 0 100 50] >>")
      .Object(3, "<< /Type /Catalog /Pages 1 0 R >>");

  const struct {
    const char* name;
    std::string bytes;
    int32_t root;
    std::vector<std::string> notes;
  } cases[] = {
      {"quoted objects are stream data", quoted.Body(), 1,
       {ksFormat(ksres::SRepairCause, ksres::SInvalidPDFFile), ksFormat(ksres::SRepairRootFromCatalog, 1),
        ksFormat(ksres::SRepairRebuilt, 4, 0)}},
      {"object streams", packed.Body() + "trailer << /Root 1 0 R >>\n", 1,
       {ksFormat(ksres::SRepairCause, ksres::SInvalidPDFFile), ksFormat(ksres::SRepairRebuilt, 2, 1)}},
      {"a catalog only in an object stream", allPacked.Body(), 1,
       {ksFormat(ksres::SRepairCause, ksres::SInvalidPDFFile), ksFormat(ksres::SRepairRootFromCatalog, 1),
        ksFormat(ksres::SRepairRebuilt, 1, 1)}},
      {"a cross-reference stream's trailer", WithStartXRef(streamed.BuildWithXRefStream(4, "/Root 3 0 R"), "999999"), 3,
       {ksFormat(ksres::SRepairCause, "File is corrupted"), ksFormat(ksres::SRepairRebuilt, 4, 0)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TksCustomPDFDocument doc;
    Load(doc, "scanned.pdf", c.bytes);
    ASSERT_TRUE(doc.IsOpened());
    EXPECT_EQ(doc.Trailer.RootNumber, c.root);
    EXPECT_EQ(doc.RepairNotes, c.notes);
    ASSERT_EQ(doc.PageCount(), 1);
    auto* page = AsDict(doc.Pages[0]->Value.get());
    auto* box = AsArray(page->Lookup("/MediaBox"));
    ASSERT_TRUE(box);
    EXPECT_EQ(IntegerValue(box->GetItem(2)), 100);
  }
}

// A free entry in a table after an object's last definition deletes it; a definition
// after the table brings the number back.
TEST(Repair, LaterFreeEntriesDeleteWhatTheScanFound) {
  for (bool redefined : {false, true}) {
    SCOPED_TRACE(redefined ? "defined again" : "deleted");
    PdfBuilder update = PdfBuilder::Appending(Document().Build(kTrailer));
    update.Free(5);
    std::string file = WithStartXRef(update.Build(kTrailer), "999999");
    if (redefined) file += "5 1 obj << /Title (Again) >> endobj\n";
    TksCustomPDFDocument doc;
    Load(doc, "freed.pdf", file);
    ASSERT_TRUE(doc.IsOpened());
    EXPECT_EQ(doc.Info().Title(), redefined ? u"Again" : u"");
    EXPECT_EQ(doc.RepairNotes.back(), redefined ? ksFormat(ksres::SRepairRebuilt, 5, 0) : ksFormat(ksres::SRepairFreed, 1));
  }
}

// A /Prev that loops back leaves the older section unread: the objects only it lists
// call for the rebuild; where nothing is missing the chain's end is only a warning.
TEST(Repair, APrevLoopThatLosesObjectsIsRebuilt) {
  auto update = [&](bool losesObjects) {
    // An update whose older section holds the pages, or a single section.
    PdfBuilder b = losesObjects ? PdfBuilder::Appending(Document().Build(kTrailer)) : Document();
    b.Object(5, "<< /Title (Updated) >>");
    // /Prev names the last section itself: its offset is patched in, same width.
    std::string file = b.Build(std::string(kTrailer) + " /Prev 0000000000");
    const std::string own = std::to_string(ksfixture::StartXRefOf(file));
    file.replace(file.rfind("/Prev 0000000000") + 6 + 10 - own.size(), own.size(), own);
    return file;
  };
  const std::string loop = ksFormat(ksres::SXRefLoop, static_cast<long long>(ksfixture::StartXRefOf(update(true))));
  for (bool losesObjects : {true, false}) {
    SCOPED_TRACE(losesObjects ? "objects lost" : "nothing lost");
    TksCustomPDFDocument doc;
    Loaded loaded = Load(doc, "loop.pdf", update(losesObjects));
    ASSERT_TRUE(doc.IsOpened());
    ASSERT_EQ(doc.PageCount(), 1);
    EXPECT_EQ(doc.Info().Title(), u"Updated");
    if (losesObjects) {
      EXPECT_EQ(doc.XRefKind, xkRebuilt);
      EXPECT_EQ(loaded.warnings.front(), ksres::SRepaired);
      EXPECT_EQ(doc.RepairNotes.front(), ksFormat(ksres::SRepairCause, ksFormat(ksres::SXRefNoEntry, 1).c_str()));
      // The failed attempt's warning is not reported.
      EXPECT_THAT(loaded.warnings, testing::Not(testing::Contains(loop)));
    } else {
      EXPECT_EQ(doc.XRefKind, xkTable);
      EXPECT_FALSE(doc.Repaired());
      EXPECT_EQ(loaded.warnings.size(), 1u);
    }
  }
}

// An encrypted file whose damage shows only after the password opened it: the rebuild
// uses that password, and the user is asked once.
TEST(Repair, AnEncryptedFileAsksForItsPasswordOnce) {
  const std::string source = ksfixture::WriteTempFile("repair-plain.pdf", Document().Build(kTrailer));
  const std::string encrypted = ksfixture::WriteTempFile("repair-locked.pdf", "");
  {
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    ASSERT_TRUE(doc.LoadFromFile(source));
    doc.Encryption().SetEnabled(true);
    doc.Encryption().SetUserPassword("user");
    doc.Encryption().SetOwnerPassword("owner");
    doc.SaveToFile(encrypted, 2);
  }
  std::string file = ksfixture::ReadFile(encrypted);
  // The page's entry moved off its object: found in the structure walk, after the password.
  const size_t page = file.find("/Type /Page\r");
  const size_t header = file.rfind('\n', file.rfind(" 0 obj", page)) + 1;
  const int number = std::stoi(file.substr(header));
  const std::string damaged = WithEntryOffset(file, number, static_cast<int64_t>(header) + 2);

  TksCustomPDFDocument doc;
  int asked = 0;
  doc.OnPassword = [&asked](TksCustomPDFDocument*, std::u16string& given, bool& cont, int) {
    ++asked;
    given = u"user";
    cont = true;
  };
  Loaded loaded = Load(doc, "repair-damaged.pdf", damaged);
  ASSERT_TRUE(doc.IsOpened());
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(doc.XRefKind, xkRebuilt);
  ASSERT_EQ(doc.PageCount(), 1);
  EXPECT_EQ(ContentOf(doc, 0), kContent);
  EXPECT_EQ(doc.Info().Title(), u"Repaired");
}

// Headers written inside strings and comments are text, not objects: the object whose
// string holds one is read whole, and the quoted header replaces nothing.
TEST(Repair, HeadersQuotedInStringsAreNotObjects) {
  const auto damaged = [](const std::string& extra, const std::string& info = "<< /Title (Repaired) >>") {
    PdfBuilder b;
    b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>")
        .Stream(4, "", kContent)
        .Object(5, info);
    // The table is lost; what quotes headers comes after the trailer, as an update would.
    return b.Body() + "trailer\n<< /Root 1 0 R /Info 5 0 R >>\n" + extra;
  };
  const std::string evil = "BT /F1 12 Tf (EVIL) Tj ET";
  const struct {
    const char* name;
    std::string bytes;
    std::u16string title = u"Repaired";
    std::u16string author = u"";
  } cases[] = {
      {"a stream quoted in an annotation's text",
       damaged("6 0 obj << /Type /Annot /Contents (see: 4 0 obj << /Length " + std::to_string(evil.size()) +
               " >> stream\n" + evil + "\nendstream endobj) >> endobj\n")},
      {"an object quoted with its end", damaged("6 0 obj << /Contents (it reads: 3 0 obj 42 endobj) >> endobj\n")},
      {"the information dictionary quoting its own number", damaged("", "<< /Title (Notes on 5 0 obj syntax) /Author (Ann) >>"),
       u"Notes on 5 0 obj syntax", u"Ann"},
      {"nested and escaped parentheses",
       damaged("6 0 obj << /Contents (a (nested \\) (3 0 obj) << >> endobj) and \\( 3 0 obj << >> endobj) >> endobj\n")},
      {"a table quoted in a string",
       damaged("6 0 obj << /Contents (xref\n0 6\n0000000000 65535 f\n0000000000 65535 f\n0000000000 65535 f\n"
               "0000000000 65535 f\n0000000000 65535 f\n0000000000 65535 f\n) >> endobj\n")},
      {"a trailer quoted in a string", damaged("6 0 obj << /Contents (trailer << /Root 3 0 R /Info 4 0 R >>) >> endobj\n")},
      {"a header in a comment", damaged("% 3 0 obj << >> endobj\n")},
      // A parenthesis that opens no string of any object does not hide what follows it.
      {"a lone parenthesis before objects", "%PDF-1.4\njunk ( never closed\n" + damaged("").substr(9)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TksCustomPDFDocument doc;
    Load(doc, "quoted.pdf", c.bytes);
    EXPECT_TRUE(doc.IsOpened());
    EXPECT_EQ(doc.XRefKind, xkRebuilt);
    EXPECT_EQ(doc.Info().Title(), c.title);
    EXPECT_EQ(doc.Info().Author(), c.author);
    EXPECT_EQ(doc.PageCount(), 1);
    if (doc.PageCount() == 1) {
      EXPECT_EQ(ContentOf(doc, 0), kContent);
    }
  }
}

// A rebuild that finds the catalog but no page has recovered nothing to convert.
TEST(Repair, ARebuildWithoutPagesFails) {
  const PdfBuilder builder = Document();
  const std::string body = builder.Body();
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"cut before the page", body.substr(0, builder.Offsets().at(3))},
      {"an empty page tree", [] {
         PdfBuilder b;
         b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>").Object(2, "<< /Type /Pages /Kids [] /Count 0 >>");
         return b.Body() + "trailer << /Root 1 0 R >>\n";
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TksCustomPDFDocument doc;
    const std::string path = ksfixture::WriteTempFile("no-pages.pdf", c.bytes);
    EXPECT_THAT([&] { doc.LoadFromFile(path); }, ThrowsMessage<EPDFFileCorruptedError>(StrEq(ksres::SRepairNoPages)));
    EXPECT_FALSE(doc.Repaired());
  }
}

// An encrypted file whose trailer is lost: its encryption dictionary, found by the scan,
// still encrypts it, and a key that needs the lost /ID fails instead of reading noise.
TEST(Repair, AnEncryptionDictionaryWithoutItsTrailerIsUsed) {
  const std::string source = ksfixture::WriteTempFile("repair-clear.pdf", Document().Build(kTrailer));
  const auto encrypted = [&](TksPDFEncryptionLevel level) {
    const std::string path = ksfixture::WriteTempFile("repair-aes.pdf", "");
    TksCustomPDFDocument doc;
    doc.ShowSetupDialog = false;
    EXPECT_TRUE(doc.LoadFromFile(source));
    doc.Encryption().SetEnabled(true);
    doc.Encryption().SetLevel(level);
    doc.Encryption().SetUserPassword("user");
    doc.Encryption().SetOwnerPassword("owner");
    doc.SaveToFile(path, 2);
    return ksfixture::ReadFile(path);
  };
  const auto cutAtTable = [](const std::string& file) { return file.substr(0, file.rfind("\nxref") + 1); };
  // The trailer stays, but its /Encrypt entry does not.
  const auto encryptEntryLost = [](std::string file) {
    const size_t at = file.rfind("/Encrypt");
    file[at + 1] = 'X';
    return WithStartXRef(file, "999999");
  };
  const std::string aes256 = encrypted(elAES256), aes128 = encrypted(elAES128), rc4 = encrypted(el128bit);
  const struct {
    const char* name;
    std::string bytes;
    std::string error;  // empty: opens with "user"
  } cases[] = {
      {"AES-256, trailer cut off", cutAtTable(aes256), ""},
      {"AES-128, /Encrypt lost, /ID kept", encryptEntryLost(aes128), ""},
      {"RC4, /Encrypt lost, /ID kept", encryptEntryLost(rc4), ""},
      {"AES-128, trailer and /ID cut off", cutAtTable(aes128), ksres::SRepairNoFileID},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TksCustomPDFDocument doc;
    doc.OnPassword = [](TksCustomPDFDocument*, std::u16string& given, bool& cont, int tries) {
      given = u"user";
      cont = tries == 0;
    };
    const std::string path = ksfixture::WriteTempFile("repair-locked-cut.pdf", c.bytes);
    if (!c.error.empty()) {
      EXPECT_THAT([&] { doc.LoadFromFile(path); }, ThrowsMessage<ESecurityError>(StrEq(c.error)));
      continue;
    }
    doc.LoadFromFile(path);
    EXPECT_TRUE(doc.IsOpened());
    EXPECT_TRUE(doc.IsEncrypted);
    EXPECT_EQ(doc.XRefKind, xkRebuilt);
    EXPECT_THAT(doc.RepairNotes, testing::Contains(testing::StartsWith("No trailer names the encryption dictionary")));
    EXPECT_EQ(doc.PageCount(), 1);
    if (doc.PageCount() == 1) {
      EXPECT_EQ(ContentOf(doc, 0), kContent);
    }
  }
  // Without a password the file stays closed: nothing of it is read as clear text.
  TksCustomPDFDocument doc;
  doc.LoadFromFile(ksfixture::WriteTempFile("repair-locked-cut.pdf", cutAtTable(aes256)));
  EXPECT_TRUE(doc.IsEncrypted);
  EXPECT_FALSE(doc.IsOpened());
}

}  // namespace
