// Object values: operations, ownership and the exact text form.
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "document/ksCstPDFDoc.h"
#include "compat/ksClasses.h"
#include "objects/ksPDFObjects.h"
#include "base/ksPDFResStrs.h"
#include "base/ksConsts.h"

using testing::StrEq;
using testing::ThrowsMessage;

namespace {

std::unique_ptr<TksPDFStringObject> Lit(const std::string& bytes) {
  return std::make_unique<TksPDFStringObject>("(" + bytes + ")");
}

}  // namespace

TEST(TextForm, Reals) {
  struct Case { double value; const char* text; } cases[] = {
      {0.5, "0.5000000000"},     {612, "612.0000000000"},     {-0.25, "-0.2500000000"},
      {1.0 / 3, "0.3333333333"}, {100, "100.0000000000"},     {2.0 / 3, "0.6666666667"},
      {0, "0.0000000000"},       {-1e-12, "0.0000000000"},    {123456.7890123456, "123456.7890000000"},
      {1e-7, "0.0000001000"},    {12345678901.5, "12345678900.0000000000"},
  };
  for (const auto& c : cases) {
    TksPDFRealObject r(c.value);
    EXPECT_EQ(ObjectToText(&r), c.text) << c.value;
  }
}

TEST(TextForm, ScalarsAndContainers) {
  TksPDFArrayObject box;
  for (int v : {0, 0, 612, 792}) box.AddInteger(v);
  TksPDFArrayObject empty;
  TksPDFDictObject emptyDict;
  TksPDFDictObject d;
  d.AddName("/Type", "/Page");
  d.AddObject("/Flag", std::make_unique<TksPDFBooleanObject>(false));
  d.AddInt64("/Big", 3000000000LL);
  d.AddObject("/Ref", std::make_unique<TksPDFIndirectReference>(1, 12, 0));
  d.AddObject("/N", std::make_unique<TksPDFNullObject>());
  TksPDFIntegerObject neg(-42);
  TksPDFStringObject hex("<48656C6C6F>", true);

  EXPECT_EQ(ObjectToText(&box), "[ 0 0 612 792 ]");
  EXPECT_EQ(ObjectToText(&empty), "[ ]");
  EXPECT_EQ(ObjectToText(&emptyDict), "<<\r\n>>");
  EXPECT_EQ(ObjectToText(&d), "<<\r\n/Type /Page\r\n/Flag false\r\n/Big 3000000000\r\n/Ref 12 0 R\r\n/N null\r\n>>");
  EXPECT_EQ(ObjectToText(&neg), "-42");
  EXPECT_EQ(ObjectToText(&hex), "<48656C6C6F>");
  EXPECT_EQ(ObjectToText(nullptr), "");
}

TEST(TextForm, ReferencesTakeTheWritersNumbers) {
  struct Hooks : TksTextFormHooks {
    int32_t SaveNumberOf(const TksPDFIndirectReference& ref) override { return ref.ObjectNumber == 7 ? 42 : 0; }
  } hooks;
  TksPDFArrayObject a;
  a.Add(std::make_unique<TksPDFIndirectReference>(1, 7, 3));
  a.Add(std::make_unique<TksPDFIndirectReference>(1, 8, 0));
  EXPECT_EQ(ObjectToText(&a, &hooks), "[ 42 0 R null ]");
}

TEST(TextForm, LiteralEscapingNeverChangesAByte) {
  struct Case { std::string content; std::string written; } cases[] = {
      {"a(b)\\c", "(a\\(b\\)\\\\c)"},
      {"\r\n", "(\\r\\n)"},
      {std::string("\b\f\t\x01\x80\xff", 6), std::string("(\\b\\f\t\x01\x80\xff)", 10)},
      {"", "()"},
  };
  for (const auto& c : cases) EXPECT_EQ(ObjectToText(Lit(c.content).get()), c.written);
  // Every byte value survives escaping: unescape and compare.
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  std::string text = ObjectToText(Lit(all).get());
  std::string back;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] != '\\') { back.push_back(text[i]); continue; }
    char e = text[++i];
    back.push_back(e == 'b' ? '\b' : e == 'f' ? '\f' : e == 'n' ? '\n' : e == 'r' ? '\r' : e);
  }
  EXPECT_EQ(back, all);
}

TEST(StringObject, ContentAndTextValue) {
  struct Case { std::string text; bool hex; std::u16string value; } cases[] = {
      {"(Hello)", false, u"Hello"},
      {"<48656C6C6F>", true, u"Hello"},
      {"<FEFF00410042>", true, u"AB"},
      {"<feff0041FEFF0042>", true, u"AB"},
      {"<FEFF0041.0042>", true, u"A.B"},
      {"<48 65 6c>", true, u"Hel"},
      {"<486>", true, u"H`"},
      {"(\x80\xe9)", false, u"\u20ac\u00e9"},  // Windows-1252
      {"", false, u""},
  };
  for (const auto& c : cases) {
    TksPDFStringObject s(c.text, c.hex);
    EXPECT_TRUE(s.TextValue() == c.value) << c.text;
  }
  EXPECT_EQ(TksPDFStringObject("(abc)").Content(), "abc");
  EXPECT_EQ(TksPDFStringObject("").Content(), "");
  EXPECT_EQ(TksPDFNameObject("/Type").NameValue(), "Type");
}

TEST(Dictionary, DuplicateKeysAndCaseSensitiveLookup) {
  TksPDFDictObject d;
  d.AddName("/Type", "/First");
  d.AddName("/Type", "/Second");
  d.AddName("/Empty", "");  // an empty name adds nothing
  EXPECT_EQ(d.Count(), 2);
  EXPECT_TRUE(IsName(d.Lookup("/Type"), "/First"));
  EXPECT_EQ(d.Lookup("Type"), nullptr);
  EXPECT_EQ(d.Lookup("/type"), nullptr);
  d.SetName("/Type", "/Third");
  EXPECT_TRUE(IsName(d.ValueAt(0), "/Third"));
  EXPECT_TRUE(IsName(d.ValueAt(1), "/Second"));
  d.SetInteger("/New", 5);
  EXPECT_EQ(d.IndexOfKey("/New"), 2);
  d.Remove("/Type");
  EXPECT_EQ(d.Count(), 2);
  EXPECT_TRUE(IsName(d.Lookup("/Type"), "/Second"));
  d.Remove("/Missing");
  EXPECT_EQ(d.Count(), 2);
}

TEST(Dictionary, PutValueAtAndMerge) {
  TksPDFDictObject d;
  d.AddInteger("/A", 1);
  auto old = d.PutValueAt(0, std::make_unique<TksPDFIntegerObject>(2));
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(static_cast<TksPDFIntegerObject*>(old.get())->Value, 1);
  EXPECT_THAT([&] { d.PutValueAt(1, nullptr); }, ThrowsMessage<EInvalidIndex>(StrEq("Index Out Of Bounds!")));

  TksPDFDictObject other;
  other.AddInteger("/A", 9);
  other.AddName("/B", "/X");
  d.Merge(&other);
  d.Merge(nullptr);
  EXPECT_EQ(ObjectToText(&d), "<<\r\n/A 9\r\n/B /X\r\n>>");
  // The merged values are copies.
  other.SetInteger("/A", 10);
  EXPECT_EQ(static_cast<TksPDFIntegerObject*>(d.Lookup("/A"))->Value, 9);
}

TEST(Dictionary, KeysShareShortTextsAndOwnLongOnes) {
  const std::string longKey = "/" + std::string(200, 'k');
  TksPDFDictObject d;
  d.AddInteger("/Type", 1);
  d.AddInteger(longKey, 2);
  TksPDFDictObject e;
  e.AddInteger("/Type", 3);
  // One copy of a short text serves every key; a long one is each key's own.
  EXPECT_EQ(&d.KeyAt(0)->Text(), &e.KeyAt(0)->Text());
  EXPECT_EQ(d.KeyAt(1)->Text(), longKey);
  EXPECT_EQ(d.KeyAt(1)->NameValue(), longKey.substr(1));

  auto clone = d.CloneDict();
  EXPECT_NE(&clone->KeyAt(1)->Text(), &d.KeyAt(1)->Text());
  d.DeleteAt(0);  // entries move down; the clone keeps its own
  EXPECT_EQ(d.KeyAt(0)->Text(), longKey);
  EXPECT_EQ(ObjectToText(clone.get()), "<<\r\n/Type 1\r\n" + longKey + " 2\r\n>>");

  TksPDFDictKey moved(longKey);
  TksPDFDictKey to(std::move(moved));
  EXPECT_EQ(moved.Text(), "");
  EXPECT_EQ(to.Text(), longKey);
  to = TksPDFDictKey("/Short");
  EXPECT_EQ(to.Text(), "/Short");
  TksPDFNameObject name("/Type");
  EXPECT_EQ(&name.Text, &e.KeyAt(0)->Text());  // names share texts with keys

  // Threads parsing at once find and add texts safely, and agree on them.
  std::vector<std::thread> threads;
  std::vector<const std::string*> seen(4);
  for (size_t t = 0; t < seen.size(); ++t)
    threads.emplace_back([&seen, t] {
      for (int i = 0; i < 2000; ++i) TksPDFDictKey("/K" + std::to_string(i % 300) + "x" + std::to_string(t));
      TksPDFDictKey shared("/SharedByThreads");
      seen[t] = &shared.Text();
    });
  for (auto& t : threads) t.join();
  for (const std::string* s : seen) EXPECT_EQ(s, seen[0]);
}

TEST(Array, Operations) {
  TksPDFArrayObject a;
  EXPECT_EQ(a.AddInteger(1), 0);
  EXPECT_EQ(a.Add(std::make_unique<TksPDFNameObject>("/N")), 1);
  a.Insert(0, std::make_unique<TksPDFNullObject>());
  EXPECT_EQ(ObjectToText(&a), "[ null 1 /N ]");
  EXPECT_EQ(a.GetItem(3), nullptr);
  EXPECT_EQ(a.GetItem(-1), nullptr);
  auto prev = a.PutItem(1, std::make_unique<TksPDFIntegerObject>(7));
  EXPECT_EQ(ObjectToText(prev.get()), "1");
  a.DeleteAt(0);
  EXPECT_EQ(ObjectToText(&a), "[ 7 /N ]");
}

TEST(Clone, DeepAndIndependent) {
  auto dict = std::make_unique<TksPDFDictObject>();
  dict->AddName("/Filter", "/FlateDecode");
  TksPDFStreamObject s(std::move(dict), std::make_unique<TksMemoryStream>("payload"));
  s.Data->Seek(0, soEnd);  // a stream read to its end still clones whole
  auto c = s.Clone();
  auto* cs = AsStream(c.get());
  ASSERT_NE(cs, nullptr);
  EXPECT_EQ(cs->Data->ToString(), "payload");
  s.Dict->SetName("/Filter", "/LZWDecode");
  EXPECT_TRUE(IsName(cs->Dict->Lookup("/Filter"), "/FlateDecode"));

  TksPDFIndirectObject io(3, 12, 1, std::make_unique<TksPDFIntegerObject>(5));
  io.SaveNumber = 9;
  io.MarkUsed();
  auto ic = io.Clone();
  auto* ico = AsIndirect(ic.get());
  EXPECT_EQ(ico->DocumentID, 3);
  EXPECT_EQ(ico->ObjectNumber, 12);
  EXPECT_EQ(ico->Generation, 1);
  EXPECT_EQ(ico->SaveNumber, 9);
  EXPECT_EQ(ico->UseCount, 1);
  EXPECT_NE(ico->Value.get(), io.Value.get());

  TksPDFIndirectObject marked(1, 1, 0, nullptr, 1);
  EXPECT_EQ(marked.UseCount, 1);
  auto ref = marked.ReferenceTo();
  EXPECT_EQ(ref->ObjectNumber, 1);
}

TEST(ObjectPool, AFreedCellServesTheNextValueOfItsSize) {
  auto* first = new TksPDFRealObject(1.5);
  const auto where = reinterpret_cast<std::uintptr_t>(first);
  delete first;
  auto second = std::make_unique<TksPDFRealObject>(2.5);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(second.get()), where);
  EXPECT_EQ(second->Value, 2.5);
  EXPECT_EQ(ObjectToText(second.get()), "2.5000000000");
}

// Freed values stay in the pool, so only its poisoning lets AddressSanitizer see them
// used; were the pool off, the report would read heap-use-after-free instead.
TEST(ObjectPoolDeathTest, MisuseOfAFreedValueIsReported) {
  if (!KS_ADDRESS_SANITIZED) GTEST_SKIP() << "reported only in a build with AddressSanitizer";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Volatile pointers, so the compiler cannot drop or see through the misuse.
  struct Case {
    const char* what;
    void (*misuse)();
  } cases[] = {
      {"read after delete",
       [] {
         TksPDFRealObject* volatile o = new TksPDFRealObject(1.5);
         delete o;
         volatile double v = o->Value;
         (void)v;
       }},
      {"write after delete",
       [] {
         TksPDFIntegerObject* volatile o = new TksPDFIntegerObject(1);
         delete o;
         o->Value = 2;
       }},
      // The first word holds the free-list link while the cell is free.
      {"virtual call after delete",
       [] {
         TksPDFObject* volatile o = new TksPDFNameObject("/A");
         delete o;
         (void)o->Clone();
       }},
      {"delete twice",
       [] {
         TksPDFObject* volatile o = new TksPDFStringObject("(x)");
         delete o;
         delete o;
       }},
  };
  for (const auto& c : cases) EXPECT_DEATH(c.misuse(), "AddressSanitizer: use-after-poison") << c.what;
}

TEST(ObjectTypeName, Texts) {
  EXPECT_EQ(ObjectTypeName(otBoolean), "Boolean Object");
  EXPECT_EQ(ObjectTypeName(otDictionary), "Dictionary Object");
  EXPECT_EQ(ObjectTypeName(otIndirectReference), "IndirectReference Object");
  EXPECT_EQ(ObjectTypeName(otIndirectObject), "Indirect Object");
}

TEST(ResourceNames, PrefixAndRange) {
  for (const auto& [name, prefix] : {std::pair{NewFontResourceName(), std::string("/VelFnt")},
                                     std::pair{NewImageResourceName(), std::string("/VelImg")},
                                     std::pair{NewExtGStateResourceName(), std::string("/GS")}}) {
    ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;
    std::string digits = name.substr(prefix.size());
    ASSERT_FALSE(digits.empty());
    EXPECT_LE(std::stoll(digits), 2147483646LL);
  }
}

TEST(ObjectList, GrowthStepsAndErrors) {
  TksObjectList list;
  std::vector<int32_t> capacities;
  for (int i = 0; i < 77; ++i) {
    list.Add(i, nullptr);
    if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{4, 8, 12, 28, 44, 60, 76, 95}));
  EXPECT_EQ(list.IndexOfID(10), 10);
  EXPECT_EQ(list.IndexOfID(1000), -1);
  EXPECT_THAT([&] { list.Insert(0, -1, nullptr); }, ThrowsMessage<EInvalidID>(StrEq("Invalid unique ID (-1)")));
  EXPECT_EQ(list.Count(), 77);
  EXPECT_THAT([&] { list.Items(77); }, ThrowsMessage<Exception>(StrEq("List index out of bounds (77)")));
  list.Insert(0, 500, nullptr);
  EXPECT_EQ(list.IDs(0), 500);
  EXPECT_EQ(list.IDs(1), 0);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
}

TEST(DocumentInfo, TextStringsAndCache) {
  TksCustomPDFDocument doc;
  TksPDFInfo& info = doc.Info();
  info.SetTitle(u"A");
  auto* title = AsString(info.Dictionary().Lookup("/Title"));
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->Text, std::string("(\xFE\xFF\x00" "A)", 6));
  EXPECT_TRUE(info.Title() == u"A");

  auto dict = std::make_unique<TksPDFDictObject>();
  dict->AddObject("/Title", std::make_unique<TksPDFStringObject>("<FEFF00C4>", true));
  dict->AddObject("/Author", std::make_unique<TksPDFStringObject>(std::string("(\xFE\xFF\x00" "B)", 6)));
  dict->AddObject("/Subject", std::make_unique<TksPDFStringObject>("(caf\xe9)"));
  dict->AddObject("/Keywords", std::make_unique<TksPDFStringObject>("<>", true));
  dict->AddObject("/Creator", std::make_unique<TksPDFIntegerObject>(1));
  dict->AddObject("/CreationDate", std::make_unique<TksPDFStringObject>("<443A32303230>", true));
  dict->AddObject("/ModDate", std::make_unique<TksPDFStringObject>("(D:2021)"));
  info.SetDictionary(std::move(dict));
  EXPECT_TRUE(info.Title() == u"\u00c4");
  EXPECT_TRUE(info.Author() == u"B");
  EXPECT_TRUE(info.Subject() == u"caf\u00e9");
  EXPECT_TRUE(info.Keywords().empty());
  EXPECT_TRUE(info.Creator().empty());
  EXPECT_EQ(info.CreationDate(), "D:2020");
  EXPECT_EQ(info.ModDate(), "D:2021");
  // A setter replacing an entry keeps its place.
  info.SetAuthor(u"Z");
  EXPECT_EQ(info.Dictionary().IndexOfKey("/Author"), 1);
}

// Without a byte-order mark a text string is PDFDocEncoding, not a code page: it differs
// from Latin-1 in 0x18 to 0x1F and 0x80 to 0xA0; bytes it leaves undefined keep their value.
TEST(DocumentInfo, TextStringEncodings) {
  const std::pair<std::string, std::u16string> cases[] = {
      {std::string("(\x80\x8D\x18\xA0\xE9)"), u"\u2022\u201C\u02D8\u20AC\u00E9"},
      {"<1B929395>", u"\u02D9\u2122\uFB01\u0141"},
      {std::string("(\x7F\x9F\xAD\x00)", 6), std::u16string(u"\u007F\u009F\u00AD\0", 4)},
      {std::string("(\xFE\xFF\x04\x16\x00)", 7), u"\u0416"},  // UTF-16BE; the odd byte is no unit
      {"<FEFFD83DDE00>", u"\U0001F600"},
      {std::string("(\xEF\xBB\xBF\xD0\x96)"), u"\u0416"},  // UTF-8 behind its mark (PDF 2.0)
  };
  for (const auto& [text, expected] : cases) {
    TksPDFStringObject s(text, text.front() == '<');
    EXPECT_TRUE(TksPDFInfo::DecodeTextString(&s) == expected) << text;
  }
}

TEST(ViewerPreferences, FlagsAndCatalogText) {
  TksPDFViewerPreferences vp;
  EXPECT_EQ(vp.CatalogText(), "");
  vp.SetHideToolbar(false);
  vp.SetFitWindow(true);
  EXPECT_TRUE(vp.FitWindow());
  EXPECT_FALSE(vp.HideToolbar());
  EXPECT_EQ(vp.CatalogText(), "<<\r\n/FitWindow true\r\n>>");
  vp.Dictionary().AddName("/Direction", "/R2L");
  vp.Dictionary().AddName("/Unknown", "/X");
  vp.Dictionary().AddObject("/CenterWindow", std::make_unique<TksPDFBooleanObject>(false));
  // A key the engine does not model is carried through, after the twelve it knows.
  EXPECT_EQ(vp.CatalogText(), "<<\r\n/FitWindow true\r\n/Direction /R2L\r\n/Unknown /X\r\n>>");
  vp.SetFitWindow(false);
  vp.Dictionary().Remove("/Direction");
  EXPECT_EQ(vp.CatalogText(), "<<\r\n/Unknown /X\r\n>>");
  vp.Dictionary().Remove("/Unknown");
  EXPECT_EQ(vp.CatalogText(), "");
}
