// Stream adapters and the memory stream with big-endian integers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "compat/ksClasses.h"
#include "objects/ksPDFObjects.h"
#include "base/ksPDFResStrs.h"

using testing::StrEq;
using testing::ThrowsMessage;

// ---- TksExtMemStream ----

TEST(ExtMemStream, StartsEmptyAtZero) {
  TksExtMemStream s;
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.PadCount, 0);
  EXPECT_EQ(s.Size(), 0);
}

TEST(ExtMemStream, BigEndianWritesAndReads) {
  TksExtMemStream s;
  s.WriteByte(0x7F);
  s.WriteUInt16BE(0xA1B2);
  s.WriteUInt32BE(0xC3D4E5F6);
  s.WriteBytes({1, 2, 3});
  s.WriteString("xyz");
  EXPECT_EQ(s.ToString(), std::string("\x7F\xA1\xB2\xC3\xD4\xE5\xF6\x01\x02\x03xyz"));
  s.SetPosition(0);
  EXPECT_EQ(s.ReadByte(), 0x7F);
  EXPECT_EQ(s.ReadUInt16BE(), 0xA1B2);
  EXPECT_EQ(s.ReadUInt32BE(), 0xC3D4E5F6u);
  std::string text;
  EXPECT_EQ(s.ReadString(text, 3), 3);
  EXPECT_EQ(text, "\x01\x02\x03");
  EXPECT_EQ(s.ReadString(text, 10), 3);  // fewer remain
  EXPECT_EQ(text, "xyz");
  EXPECT_EQ(s.ReadString(text, std::numeric_limits<int64_t>::max()), 0);
  EXPECT_EQ(text, "");
}

TEST(ExtMemStream, SkipBytesIsClampedToTheData) {
  TksExtMemStream s;
  s.WriteString("0123456789");
  struct Step {
    int64_t from, by, to;
  } steps[] = {{5, 2, 7},
               {5, -2, 3},
               {5, 100, 10},
               {5, -100, 0},
               {5, std::numeric_limits<int64_t>::max(), 10},
               {5, std::numeric_limits<int64_t>::min(), 0}};
  for (const Step& st : steps) {
    s.SetPosition(st.from);
    s.SkipBytes(st.by);
    EXPECT_EQ(s.Position(), st.to) << st.by;
  }
}

TEST(ExtMemStream, PadToLongBoundary) {
  struct Case {
    int size;
    int pad;
  } cases[] = {{13, 3}, {12, 0}, {0, 0}, {1, 3}, {14, 2}, {15, 1}};
  for (const Case& c : cases) {
    TksExtMemStream s;
    s.WriteString(std::string(static_cast<size_t>(c.size), 'a'));
    s.SetPosition(0);
    s.PadToLongBoundary();
    EXPECT_EQ(s.PadCount, c.pad) << c.size;
    EXPECT_EQ(s.Size(), c.size + c.pad);
    EXPECT_EQ(s.Position(), s.Size());
    EXPECT_EQ(s.ToString().substr(static_cast<size_t>(c.size)), std::string(static_cast<size_t>(c.pad), '\0'));
  }
}

// ---- adapters ----

TEST(Adapters, NullStreamsAreRefused) {
  const char* message = "Invalid Stream! Cannot create with null stream";
  EXPECT_THAT([] { TksReadOnlyFilter f(nullptr); }, ThrowsMessage<EInvalidStream>(StrEq(message)));
  EXPECT_THAT([] { TksRandomAccessFilter f(nullptr); }, ThrowsMessage<EInvalidStream>(StrEq(message)));
  EXPECT_THAT([] { TksWriteOnlyFilter f(nullptr); }, ThrowsMessage<EInvalidStream>(StrEq(message)));
}

TEST(Adapters, WrongDirectionRaisesReadError) {
  TksMemoryStream m(std::string("abc"));
  TksWriteOnlyFilter w(&m);
  char b[2];
  EXPECT_THAT([&] { w.Read(b, 1); }, ThrowsMessage<EReadError>(StrEq("A write-only filter cannot read")));
  TksReadOnlyFilter r(&m);
  EXPECT_THAT([&] { r.Write("x", 1); }, ThrowsMessage<EReadError>(StrEq("A read-only filter cannot write")));
  EXPECT_EQ(m.ToString(), "abc");
}

TEST(Adapters, ReadOnlyForwardsAndIgnoresMinusOne) {
  TksMemoryStream m(std::string("hello"));
  TksReadOnlyFilter r(&m);
  EXPECT_EQ(r.SourceSize, 5);
  EXPECT_EQ(r.Source, &m);
  char b[3];
  EXPECT_EQ(r.Read(b, 3), 3);
  EXPECT_EQ(std::string(b, 3), "hel");
  EXPECT_EQ(r.Seek(-1, soCurrent), -1);
  EXPECT_EQ(m.Position(), 3);  // unchanged
  EXPECT_EQ(r.Seek(1, soBeginning), 1);
  EXPECT_EQ(r.Seek(-2, soEnd), 3);
  EXPECT_EQ(r.Size(), 5);
}

TEST(Adapters, WriteOnlyForwards) {
  TksMemoryStream m;
  TksWriteOnlyFilter w(&m);
  EXPECT_EQ(w.Target, &m);
  w.WriteText("abcdef");
  EXPECT_EQ(w.Seek(2, soBeginning), 2);
  w.WriteText("XY");
  EXPECT_EQ(m.ToString(), "abXYef");
}

TEST(RandomAccess, PeekByteOnTheLastByteSetsAtEnd) {
  TksMemoryStream m(std::string("ab"));
  TksRandomAccessFilter r(&m);
  EXPECT_EQ(r.PeekByte(), 'a');
  EXPECT_FALSE(r.AtEnd);
  EXPECT_EQ(m.Position(), 0);
  r.Skip(1);
  EXPECT_EQ(r.PeekByte(), 'b');
  EXPECT_TRUE(r.AtEnd);
  EXPECT_EQ(m.Position(), 1);  // still on that byte
  EXPECT_EQ(r.ReadByte(), 'b');
}

TEST(RandomAccess, StringsStepsAndSkips) {
  TksMemoryStream m(std::string("0123456789"));
  TksRandomAccessFilter r(&m);
  EXPECT_EQ(r.ReadString(3), "012");
  EXPECT_EQ(r.PeekString(4), "3456");
  EXPECT_EQ(m.Position(), 3);
  r.StepBack();
  EXPECT_EQ(r.ReadByte(), '2');
  r.Skip(5);
  EXPECT_EQ(r.PeekString(10), "89");  // moves back by what was read
  EXPECT_EQ(m.Position(), 8);
  EXPECT_EQ(r.ReadString(10), "89");
  EXPECT_EQ(r.ReadString(std::numeric_limits<int64_t>::max()), "");
  EXPECT_EQ(r.PeekString(3), "");
  EXPECT_EQ(m.Position(), 10);
}

// ---- memory stream odds and ends the codecs rely on ----

TEST(MemoryStream, SizeChangesKeepThePositionInRange) {
  TksMemoryStream m(std::string("abcdef"));
  m.Seek(0, soEnd);
  m.SetSize(4);
  EXPECT_EQ(m.Position(), 4);
  m.SetSize(-3);
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.Position(), 0);
  m.WriteText("z");
  EXPECT_EQ(m.ToString(), "z");
}

TEST(MemoryStream, BorrowedBytesAreCopiedOnChange) {
  const std::string backing = "borrowed";
  auto m = TksMemoryStream::Borrow(reinterpret_cast<const uint8_t*>(backing.data()), backing.size());
  EXPECT_TRUE(m->IsBorrowed());
  m->SetSize(3);
  EXPECT_FALSE(m->IsBorrowed());
  EXPECT_EQ(m->ToString(), "bor");
  EXPECT_EQ(backing, "borrowed");
}

TEST(MemoryStream, AdoptedBlocksAreOwnedWithoutACopy) {
  auto* block = static_cast<uint8_t*>(std::malloc(16));
  std::memcpy(block, "decoded bytes", 13);
  auto m = TksMemoryStream::Adopt(TksMallocBlock(block), 13);
  EXPECT_EQ(m->data(), block);
  EXPECT_FALSE(m->IsBorrowed());  // a clone copies what the stream owns instead of pointing into it
  auto clone = TksPDFStreamObject(nullptr, std::move(m)).Clone();
  const TksMemoryStream& copy = *static_cast<TksPDFStreamObject*>(clone.get())->Data;
  EXPECT_NE(copy.data(), block);
  EXPECT_EQ(copy.ToString(), "decoded bytes");

  // Changing adopted bytes moves them into the stream's own storage first; loading the
  // stream from its own adopted bytes reads them before the block goes.
  auto adopt = [](const char* text) {
    auto* b = static_cast<uint8_t*>(std::malloc(4));
    std::memcpy(b, text, 4);
    return TksMemoryStream::Adopt(TksMallocBlock(b), 4);
  };
  auto w = adopt("abcd");
  w->Seek(0, soEnd);
  w->WriteText("ef");
  EXPECT_EQ(w->ToString(), "abcdef");
  auto l = adopt("wxyz");
  l->LoadFromBytes(l->View().substr(2));
  EXPECT_EQ(l->ToString(), "yz");
  EXPECT_EQ(TksMemoryStream::Adopt(nullptr, 0)->size(), 0u);
}

TEST(MemoryStream, SeekFarDoesNotOverflow) {
  TksMemoryStream m(std::string("abc"));
  m.Seek(2, soBeginning);
  EXPECT_EQ(m.Seek(std::numeric_limits<int64_t>::max(), soCurrent), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(m.Seek(std::numeric_limits<int64_t>::max(), soEnd), std::numeric_limits<int64_t>::max());
  char b;
  EXPECT_EQ(m.Read(&b, 1), 0);
}
