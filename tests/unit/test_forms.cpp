// The interactive form: field records, kinds, states, values and the default appearance.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/ksCstPDFDoc.h"
#include "ksFixture.h"
#include "ksObjText.h"
#include "base/ksPDFResStrs.h"

using ksfixture::SetRoot;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

std::string Text(const TksPDFObject* v) { return ksfixture::OneLineText(v); }

struct FormDoc : ksfixture::MemoryDoc {
  // Catalog 1 with the given /AcroForm, one page 3 under 2 with the given annotations.
  void Read(const std::string& acroForm = "5 0 R", const std::string& annots = "[]") {
    Put(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm " + acroForm + " >>");
    Put(2, "<< /Type /Pages /Kids [3 0 R] >>");
    Put(3, "<< /Type /Page /Annots " + annots + " >>");
    SetRoot(doc, 1);
    doc.ReadStructure();
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& f : doc.AcroFormFields) names.push_back(f->FullName);
    return names;
  }
  const TksAcroFormField& Field(size_t i) { return *doc.AcroFormFields.at(i); }
};

}  // namespace

TEST(Forms, FullNamesJoinThePartialNames) {
  FormDoc f;
  f.Put(5, "<< /Fields [10 0 R 13 0 R] >>");
  f.Put(10, "<< /T (name) /FT /Tx /Kids [11 0 R 12 0 R] >>");
  f.Put(11, "<< /T (first) /FT /Tx /Parent 10 0 R >>");
  f.Put(12, "<< /T (last) /FT /Tx /Parent 10 0 R >>");
  // A level without a type makes no record but names its kids; one without a name
  // adds no level.
  f.Put(13, "<< /T (group) /Kids [14 0 R] >>");
  f.Put(14, "<< /Kids [15 0 R] /Parent 13 0 R >>");
  f.Put(15, "<< /T <FEFF0041004E20AC> /FT /Tx /Parent 14 0 R >>");
  f.Read();
  EXPECT_THAT(f.Names(), ElementsAre("name", "name.first", "name.last", "group.AN\x80"));
  EXPECT_EQ(f.Field(3).FullNameWide, u"group.AN\u20AC");
  EXPECT_EQ(f.Field(1).FieldObject, f.Get(11));
  EXPECT_EQ(f.Field(0).Store, f.doc.Store.get());
  for (int n : {5, 10, 11, 12, 13, 14, 15}) EXPECT_GT(f.Get(n)->UseCount, 0) << n;
  EXPECT_THAT(f.warnings, IsEmpty());
}

TEST(Forms, KindsFollowTypeAndFlags) {
  struct Case {
    const char* type;
    int32_t flags;
    uint8_t kind;
  } cases[] = {
      {"/Btn", 65536, fkPushButton}, {"/Btn", 65536 | 32768, fkPushButton}, {"/Btn", 32768, fkRadioButton},
      {"/Btn", 0, fkCheckBox},       {"/Btn", -1, fkCheckBox},              {"/Tx", 4096, fkText},
      {"/Sig", 0, fkSignature},      {"/Ch", 131072, fkOther},              {"/Xyz", 0, fkOther},
  };
  for (const auto& c : cases) EXPECT_EQ(FieldKindOf(c.type, c.flags), c.kind) << c.type << " " << c.flags;
}

TEST(Forms, RecordsCarryFlagsValuesAndStates) {
  FormDoc f;
  f.Put(5, "<< /Fields [10 0 R 11 0 R 12 0 R 13 0 R 16 0 R] /DA (/Helv 0 Tf 0 g) >>");
  f.Put(10, "<< /T (text) /FT /Tx /Ff 4097 /MaxLen 20 /Q 2 /F 4 /V (typed) /DV <414243> >>");
  f.Put(11, "<< /T (check) /FT /Btn /V /Yes /AP << /N << /Yes 30 0 R /Off 31 0 R >> /D 32 0 R >> >>");
  f.Put(12, "<< /T (radio) /FT /Btn /Ff 49152 /V /b /Kids [14 0 R 15 0 R] >>");
  f.Put(13, "<< /T (choice) /FT /Ch /Opt [(a) [(x) (y)] 33 0 R] /V 34 0 R /DV /a /MaxLen 20 0 R >>");
  f.Put(14, "<< /Parent 12 0 R /AP << /N << /a 30 0 R /Off 31 0 R >> >> /F 6 >>");
  f.Put(15, "<< /Parent 12 0 R /AP << /N << /b 30 0 R /Off 31 0 R >> >> >>");
  f.Put(16, "<< /T (sig) /FT /Sig >>");
  for (int n : {30, 31}) ksfixture::PutStream(f.doc, n, "<< /Subtype /Form /BBox [0 0 10 10] >>", "");
  f.Put(32, "<< /Yes 30 0 R >>");
  f.Put(33, "(z)");
  f.Put(34, "(x)");
  f.Read();
  ASSERT_THAT(f.Names(), ElementsAre("text", "check", "radio", "choice", "sig"));

  const TksAcroFormField& text = f.Field(0);
  EXPECT_EQ(text.FieldKind, fkText);
  EXPECT_EQ(text.Flags, 4097);
  EXPECT_TRUE(text.ReadOnly);
  EXPECT_TRUE(text.Multiline);
  EXPECT_EQ(text.MaxLen, 20);
  EXPECT_EQ(text.Quadding, 2);
  EXPECT_EQ(text.AnnotationFlags, 4);
  EXPECT_EQ(text.FieldValue, "typed");
  EXPECT_EQ(text.DefaultValue, "ABC");
  EXPECT_THAT(text.States, IsEmpty());

  const TksAcroFormField& check = f.Field(1);
  EXPECT_EQ(check.FieldKind, fkCheckBox);
  EXPECT_FALSE(check.ReadOnly);
  EXPECT_EQ(check.FieldValue, "Yes");
  EXPECT_THAT(check.States, ElementsAre("Off", "Yes"));

  const TksAcroFormField& radio = f.Field(2);
  EXPECT_EQ(radio.FieldKind, fkRadioButton);
  EXPECT_THAT(radio.States, ElementsAre("a", "b"));
  EXPECT_EQ(radio.FieldValue, "b");
  EXPECT_EQ(radio.AnnotationFlags, 6);  // from its widget

  const TksAcroFormField& choice = f.Field(3);
  EXPECT_EQ(choice.FieldKind, fkOther);
  EXPECT_THAT(choice.States, ElementsAre("a", "x", "z"));
  EXPECT_EQ(choice.FieldValue, "x");
  EXPECT_EQ(choice.DefaultValue, "a");
  EXPECT_EQ(choice.MaxLen, 0);  // only a direct integer counts

  EXPECT_EQ(f.Field(4).FieldKind, fkSignature);
  // Appearance streams and their dictionaries are written.
  for (int n : {30, 31, 32, 33, 34}) EXPECT_GT(f.Get(n)->UseCount, 0) << n;
}

TEST(Forms, RadioWithoutToggleToOffListsNoOff) {
  struct Case {
    int32_t flags;
    std::vector<std::string> states;
  } cases[] = {{49152, {"on"}}, {32768, {"on", "Off"}}};
  for (const auto& c : cases) {
    FormDoc f;
    f.Put(5, "<< /Fields [10 0 R] >>");
    f.Put(10, "<< /T (r) /FT /Btn /Ff " + std::to_string(c.flags) + " /AP << /N << /on 30 0 R /Off 30 0 R >> >> >>");
    f.Put(30, "<< >>");
    f.Read();
    ASSERT_EQ(f.doc.AcroFormFields.size(), 1u);
    EXPECT_EQ(f.Field(0).States, c.states) << c.flags;
  }
}

TEST(Forms, DefaultAppearanceGivesFontAndColour) {
  struct Case {
    const char* da;
    const char* colour;
    const char* fontName;
    double size;
    const char* name;
    bool bold, italic, hasReference;
  } cases[] = {
      {"/Helv 12 Tf 0 g", "0 g", "/Helv", 12, "Helvetica", true, false, true},
      {"0 0.5 1 rg\r\n/TiIt 9.6 Tf", "0 0.5 1 rg", "/TiIt", 9.6, "Times", false, true, true},
      {"/Fargo 10 Tf", "", "/Fargo", 10, "Arial", false, false, false},
      {"/Nope 10 Tf 1 g", "1 g", "", 0, "", false, false, false},
      {"0 g", "0 g", "", 0, "", false, false, false},
  };
  for (const auto& c : cases) {
    FormDoc f;
    f.Put(20, "<< /Type /Font /BaseFont /Helvetica-BoldOblique >>");
    f.Put(21, "<< /Type /Font /BaseFont /Times,Italic >>");
    TksPDFObjectPtr fonts =
        ksfixture::ParseValue("<< /Helv 20 0 R /TiIt 21 0 R /Fargo << /BaseFont /Arial >> >>", f.doc.DocumentID);
    std::string da = c.da;
    std::unique_ptr<TksFontInfo> info = f.doc.ParseDefaultAppearance(&da, AsDict(fonts.get()));
    ASSERT_NE(info, nullptr) << c.da;
    EXPECT_EQ(info->ColorText, c.colour) << c.da;
    EXPECT_EQ(info->FontName, c.fontName) << c.da;
    EXPECT_DOUBLE_EQ(info->FontSize, c.size) << c.da;
    EXPECT_EQ(info->Font.Size, static_cast<int32_t>(c.size + 0.5)) << c.da;
    EXPECT_EQ(info->Font.Name, c.name) << c.da;
    EXPECT_EQ(info->Font.Bold, c.bold) << c.da;
    EXPECT_EQ(info->Font.Italic, c.italic) << c.da;
    EXPECT_EQ(info->FontReference != nullptr, c.hasReference) << c.da;
  }
  FormDoc f;
  std::string da = "/Helv 12 Tf";
  TksPDFDictObject fonts;
  EXPECT_EQ(f.doc.ParseDefaultAppearance(nullptr, &fonts), nullptr);
  EXPECT_EQ(f.doc.ParseDefaultAppearance(&da, nullptr), nullptr);
}

TEST(Forms, FieldsInheritTheFormsAppearanceAndFonts) {
  FormDoc f;
  f.Put(5, "<< /Fields [10 0 R] /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv 20 0 R >> >> /NeedAppearances true >>");
  f.Put(10, "<< /T (p) /FT /Tx /Kids [12 0 R 11 0 R] >>");
  // A named kid inherits the form's appearance; a widget hands its own to its field.
  f.Put(12, "<< /T (b) /FT /Tx /Parent 10 0 R >>");
  f.Put(11, "<< /Parent 10 0 R /DA (/Cour 8 Tf) /DR << /Font << /Cour 21 0 R >> >> >>");
  f.Put(20, "<< /Type /Font /BaseFont /Helvetica >>");
  f.Put(21, "<< /Type /Font /BaseFont /Courier-Bold >>");
  f.Read();
  ASSERT_THAT(f.Names(), ElementsAre("p", "p.b"));
  ASSERT_NE(f.Field(1).FontInfo, nullptr);
  EXPECT_EQ(f.Field(1).FontInfo->Font.Name, "Helvetica");
  EXPECT_EQ(f.Field(1).FontInfo->ColorText, "0 g");
  ASSERT_NE(f.Field(0).FontInfo, nullptr);
  EXPECT_EQ(f.Field(0).FontInfo->FontName, "/Cour");
  EXPECT_EQ(f.Field(0).FontInfo->Font.Name, "Courier");
  EXPECT_TRUE(f.Field(0).FontInfo->Font.Bold);
  EXPECT_EQ(f.Field(0).FontInfo->FontSize, 8);
  EXPECT_EQ(f.Field(0).FontInfo->ColorText, "");
  for (int n : {20, 21}) EXPECT_GT(f.Get(n)->UseCount, 0) << n;
}

TEST(Forms, FormWrittenInTheCatalogBecomesAnObject) {
  FormDoc f;
  f.Put(10, "<< /T (t) /FT /Tx /P 3 0 R >>");
  f.Read("<< /Fields [10 0 R] /DA (/Helv 0 Tf 0 g) >>", "[10 0 R]");
  auto* ref = AsRef(f.doc.Catalog->AcroForm.get());
  ASSERT_NE(ref, nullptr);
  EXPECT_GT(ref->ObjectNumber, 10);
  TksPDFIndirectObject* form = f.doc.Store->Find(*ref);
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->UseCount, 1);
  EXPECT_EQ(Text(form->Value.get()), "<< /Fields [ 10 0 R ] /DA (/Helv 0 Tf 0 g) >>");
  EXPECT_THAT(f.Names(), ElementsAre("t"));
}

TEST(Forms, FieldListsGivenByReferenceAreWritten) {
  // Objects already in the store (as those of an object stream are) are written only when
  // the walk marks them: a list by reference left unmarked comes out as null.
  struct Case {
    const char* form;
    std::vector<std::string> names;
  } cases[] = {
      {"<< /Fields 6 0 R >>", {}},                          // an empty list
      {"<< /Fields 7 0 R /DA (/Helv 0 Tf 0 g) >>", {"a", "a.b"}},  // kids by reference too
  };
  for (const auto& c : cases) {
    FormDoc f;
    f.Put(5, c.form);
    f.Put(6, "[]");
    f.Put(7, "[10 0 R]");
    f.Put(8, "[11 0 R]");
    f.Put(10, "<< /T (a) /FT /Tx /Kids 8 0 R >>");
    f.Put(11, "<< /T (b) /FT /Tx /Parent 10 0 R >>");
    f.Read();
    EXPECT_EQ(f.Names(), c.names) << c.form;
    const bool empty = c.names.empty();
    for (int n : empty ? std::vector<int>{5, 6} : std::vector<int>{5, 7, 8, 10, 11})
      EXPECT_GT(f.Get(n)->UseCount, 0) << c.form << " object " << n;
    if (empty) {
      for (int n : {7, 8, 10, 11}) EXPECT_EQ(f.Get(n)->UseCount, 0) << c.form << " object " << n;
    }
    EXPECT_THAT(f.warnings, IsEmpty()) << c.form;
  }
}

TEST(Forms, FieldTreeLoopsAndRepeats) {
  {
    FormDoc f;
    f.Put(5, "<< /Fields [10 0 R] >>");
    f.Put(10, "<< /T (a) /Kids [11 0 R] >>");
    f.Put(11, "<< /T (b) /Kids [10 0 R] >>");
    EXPECT_THAT([&] { f.Read(); },
                ThrowsMessage<EPDFFileCorruptedError>(StrEq("Form field tree refers back to object 10")));
  }
  {
    // A kid listed again at the top is read once, under its full name.
    FormDoc f;
    f.Put(5, "<< /Fields [10 0 R 11 0 R] >>");
    f.Put(10, "<< /T (a) /Kids [11 0 R] >>");
    f.Put(11, "<< /T (b) /FT /Tx /Parent 10 0 R >>");
    f.Read();
    EXPECT_THAT(f.Names(), ElementsAre("a.b"));
    EXPECT_THAT(f.warnings, ElementsAre("Form field (object 11) is listed more than once; it is read once"));
  }
  {
    FormDoc f;
    f.Put(5, "<< /Fields [100 0 R] >>");
    for (int i = 0; i < 200; ++i)
      f.Put(100 + i, "<< /T (x) /Kids [" + std::to_string(101 + i) + " 0 R] >>");
    EXPECT_THAT([&] { f.Read(); },
                ThrowsMessage<EPDFFileCorruptedError>(StrEq("Form fields nested deeper than 128 levels")));
  }
  {
    // Entries that are no references, or lead nowhere, are passed over.
    FormDoc f;
    f.Put(5, "<< /Fields [null 99 0 R << /T (direct) /FT /Tx >> 10 0 R] >>");
    f.Put(10, "<< /T (a) /FT /Tx /Kids [7 (x) 98 0 R] >>");
    f.Read();
    EXPECT_THAT(f.Names(), ElementsAre("a"));
  }
}

TEST(Forms, WrongKindsEndTheLoad) {
  struct Case {
    const char* field;
    const char* message;
  } cases[] = {
      {"<< /T /name /FT /Tx >>", "Unexpected PDF object encountered"},
      {"<< /T (a) /FT (Tx) >>", "Unexpected PDF object encountered"},
      {"<< /T (a) /FT /Tx /Kids << >> >>", "Unexpected PDF object encountered"},
      {"<< /T (a) /FT /Tx /DA /Helv >>", "Unexpected PDF object encountered"},
  };
  for (const auto& c : cases) {
    FormDoc f;
    f.Put(5, "<< /Fields [10 0 R] >>");
    f.Put(10, c.field);
    EXPECT_THAT([&] { f.Read(); }, ThrowsMessage<EUnexpectedObjectError>(StrEq(c.message))) << c.field;
  }
}

TEST(Forms, StreamValuesAreDecodedWhenAsked) {
  struct Case {
    const char* dict;
    std::string data;
    const char* value;
    const char* refusal;
  } cases[] = {
      {"<< >>", "plain text", "plain text", nullptr},
      {"<< /Filter /ASCIIHexDecode >>", "48656C6C6F", "Hello", nullptr},
      {"<< /Filter [/FlateDecode] >>", ksfixture::Deflate("rich <b>text</b>"), "rich <b>text</b>", nullptr},
      {"<< /Filter 12 0 R >>", ksfixture::Deflate("filter by reference"), "filter by reference", nullptr},
      {"<< /Filter /Unknown >>", "x", nullptr, "Value of form field t not decoded: Unsupported filter (/Unknown)"},
      {"<< /Filter /FlateDecode >>", "not zlib", nullptr, "Value of form field t not decoded: data error"},
  };
  for (const auto& c : cases) {
    FormDoc f;
    f.Put(5, "<< /Fields [10 0 R] >>");
    f.Put(10, "<< /T (t) /FT /Tx /V 11 0 R >>");
    ksfixture::PutStream(f.doc, 11, c.dict, c.data);
    f.Put(12, "/FlateDecode");
    f.Read();
    ASSERT_EQ(f.doc.AcroFormFields.size(), 1u) << c.dict;
    // Reading the form decodes nothing, so nothing can fail yet.
    EXPECT_EQ(f.Field(0).FieldValue, "") << c.dict;
    EXPECT_EQ(f.Field(0).ValueStream, AsStream(f.Get(11)->Value.get())) << c.dict;
    EXPECT_EQ(f.doc.DecodedBytes(), 0u);
    EXPECT_THAT(f.warnings, IsEmpty()) << c.dict;
    EXPECT_GT(f.Get(11)->UseCount, 0) << c.dict;
    if (c.value)
      EXPECT_EQ(f.doc.FieldValueBytes(f.Field(0)), c.value) << c.dict;
    else
      EXPECT_THAT([&] { f.doc.FieldValueBytes(f.Field(0)); }, ThrowsMessage<Exception>(StrEq(c.refusal))) << c.dict;
  }
  // Names and strings are the value as read.
  FormDoc g;
  g.Put(5, "<< /Fields [10 0 R] >>");
  g.Put(10, "<< /T (t) /FT /Tx /V (typed) >>");
  g.Read();
  EXPECT_EQ(g.doc.FieldValueBytes(g.Field(0)), "typed");
}
