// Tokenizer and object parser over a contiguous view of PDF bytes.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/ksByteStreams.h"
#include "base/ksConsts.h"
#include "objects/ksPDFObjects.h"

// What the reader asks of a security handler: strings and stream data are decrypted in
// place under the number and generation of the object they belong to.
class TksPDFDecryptor {
 public:
  virtual ~TksPDFDecryptor() = default;
  virtual void DecryptString(int32_t objectNumber, int32_t generation, std::string& bytes) = 0;
  virtual void DecryptStream(int32_t objectNumber, int32_t generation, std::vector<uint8_t>& bytes) = 0;
};

// Reads PDF values one at a time from bytes it does not own (a mapped file, or the
// decoded data of an object stream). Every byte access is a bounds-checked index; at
// the end of the data each reading operation fails with the error of what it reads.
class TksPDFStreamReader {
 public:
  // Arrays, dictionaries and object headers nested deeper than this are refused, so
  // a hostile file cannot exhaust the call stack.
  static constexpr int kMaxNesting = 512;

  TksPDFStreamReader(const uint8_t* data, uint64_t size, int32_t documentID,
                     TksPDFDecryptor* decryptor = nullptr);

  int32_t DocumentID;
  TksPDFDecryptor* Decryptor;
  int32_t CurrentObjectNumber = -1;
  int32_t CurrentGeneration = -1;
  // Stream data that need no decryption are handed out as views into the source; turn
  // this off when the source does not outlive the objects read from it.
  bool BorrowStreamData = true;

  uint64_t Position() const { return pos_; }
  // Any position is allowed; beyond the end every read sees the end of the data.
  void Seek(uint64_t position) { pos_ = position; }
  uint64_t Size() const { return size_; }
  bool AtEnd() const { return pos_ >= size_; }
  const uint8_t* Data() const { return data_; }

  // -1 at the end of the data.
  int PeekByte() const { return pos_ < size_ ? data_[pos_] : -1; }
  int ReadByte() { return pos_ < size_ ? data_[pos_++] : -1; }
  // Up to count bytes (fewer near the end).
  std::string_view PeekString(uint64_t count) const;
  std::string_view ReadString(uint64_t count);

  // The next value of any kind, or none at a closing delimiter or the end of the data.
  TksPDFObjectPtr ParseObject();
  std::unique_ptr<TksPDFStringObject> ReadStringObject();
  std::unique_ptr<TksPDFArrayObject> ReadArrayObject();
  std::unique_ptr<TksPDFNameObject> ReadNameObject();
  std::unique_ptr<TksPDFDictObject> ReadDictObject();
  // Positioned before "stream": the raw data. A length below 0 means unknown: the data
  // then run up to the first "endstream". limit is where another object is known to
  // begin: data the length would take past it end at their own "endstream" instead.
  std::unique_ptr<TksMemoryStream> ReadStreamData(int64_t length, int32_t objectNumber, int32_t generation,
                                                  uint64_t limit = UINT64_MAX);
  // How the last ReadStreamData found the end of the data: where the length says; through
  // the "endstream" search, the length off only by the end-of-line before it (no damage);
  // or through the search, the data differing from what the length says (or no length).
  enum TksLengthFit : uint8_t { lfExact = 0, lfLineEnd, lfRecovered };
  TksLengthFit LastLengthFit = lfExact;
  // Where the data of a stream that begin at start end: at start + length when "endstream"
  // follows there after white space and that end is not past limit, or when nothing but
  // white space stands between that end and the first "endstream" after start; otherwise
  // at that first "endstream", whatever the length claims (never at a later stream's).
  // keyword is where the "endstream" stands. False when none follows start.
  struct TksStreamExtent {
    uint64_t count = 0;
    uint64_t keyword = 0;
    TksLengthFit fit = lfExact;
  };
  bool LocateStreamData(uint64_t start, int64_t length, TksStreamExtent& extent, uint64_t limit = UINT64_MAX);
  // The first "endstream" at or after start that "endobj" follows: the latest end of the
  // data of a stream object whose data begin at start. False when there is none.
  bool FindClosingEndstream(uint64_t start, uint64_t& found);
  // How much white space may stand between the end the length gives and "endstream"
  // before that end is checked against the first "endstream" instead: lengths that all
  // point into one long run of white space then cost no more than this each.
  static constexpr uint64_t kMaxGapBeforeEndstream = 256;
  TksPDFVersion ReadHeader();
  int64_t FindStartXRef() const;
  std::unique_ptr<TksPDFDictObject> ReadTrailer();
  void SkipWhiteSpace();
  std::string ReadToken();
  std::string PeekWord();
  // Whether an object header "N G obj" starts at the position (after white space);
  // the position is left unchanged.
  bool PeekObjectHeader(int32_t& objectNumber, int32_t& generation);

 private:
  std::string_view ReadTokenView();
  // A name's text with its "/" (what a dictionary keeps of a key).
  std::string ReadNameText();
  TksPDFObjectPtr ParseNumberOrReference();
  // Position of the first "endstream" at or after start; false when there is none.
  bool FindEndstream(uint64_t start, uint64_t& found);
  bool EndstreamAt(uint64_t position) const;
  // Past the white space and comments from position, stopping at limit.
  uint64_t SkipWhiteSpaceFrom(uint64_t position, uint64_t limit) const;
  // Where the run of white space that ends at an "endstream" keyword begins.
  uint64_t WhiteRunBefore(uint64_t keyword);

  struct NestingGuard {
    explicit NestingGuard(TksPDFStreamReader& r);
    ~NestingGuard() { --reader.depth_; }
    TksPDFStreamReader& reader;
  };

  // Entries of the arrays and dictionaries being read, inner ones above outer ones: a
  // container takes its entries in one allocation of the exact size when it closes,
  // instead of growing its vectors entry by entry.
  struct ScratchGuard {
    explicit ScratchGuard(TksPDFStreamReader& r)
        : reader(r), keyBase(r.keyScratch_.size()), valueBase(r.valueScratch_.size()) {}
    ~ScratchGuard();
    // The values read since the guard was made become an array's items, or (with the
    // keys) dict's entries.
    void MoveValues(std::vector<TksPDFObjectPtr>& to);
    void MoveInto(TksPDFDictObject& dict);
    TksPDFStreamReader& reader;
    size_t keyBase, valueBase;
  };
  std::vector<TksPDFDictKey> keyScratch_;
  std::vector<TksPDFObjectPtr> valueScratch_;

  const uint8_t* data_;
  uint64_t size_;
  uint64_t pos_ = 0;
  int depth_ = 0;
  // Every "endstream" of the source, found in one pass the first time a stream length
  // needs recovering, so no recovery rescans the data.
  void IndexEndstreams();
  std::vector<uint64_t> endstreams_;
  bool endstreamsIndexed_ = false;
  // For each entry of endstreams_, the index of the first entry at or after it that
  // "endobj" follows (endstreams_.size() when none); made when first asked for.
  std::vector<uint32_t> nextClosing_;
  bool closingIndexed_ = false;
  std::unordered_map<uint64_t, uint64_t> whiteBefore_;
};

// Conversions of the tokenizer, also used by the cross-reference readers: the whole
// text must be a decimal integer (an optional sign, digits), else false.
bool ksTryStrToInt32(std::string_view text, int32_t& value);
bool ksTryStrToInt64(std::string_view text, int64_t& value);
