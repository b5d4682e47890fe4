#include "ksObjText.h"

#include <cctype>
#include <charconv>
#include <stdexcept>

namespace ksfixture {

namespace {

class TextParser {
 public:
  TextParser(const std::string& text, int32_t documentID) : s_(text), doc_(documentID) {}

  TksPDFObjectPtr Value() {
    Skip();
    if (pos_ >= s_.size()) Fail("value expected");
    char c = s_[pos_];
    if (c == '/') return std::make_unique<TksPDFNameObject>(Regular());
    if (c == '(') return Literal();
    if (c == '<' && Peek(1) == '<') return Dict();
    if (c == '<') return Hex();
    if (c == '[') return Array();
    std::string word = Regular();
    if (word == "true") return std::make_unique<TksPDFBooleanObject>(true);
    if (word == "false") return std::make_unique<TksPDFBooleanObject>(false);
    if (word == "null") return std::make_unique<TksPDFNullObject>();
    if (word.find('.') != std::string::npos) return std::make_unique<TksPDFRealObject>(std::stod(word));
    int64_t n = std::stoll(word);
    // "n g R"
    size_t save = pos_;
    Skip();
    if (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
      std::string gen = Regular();
      Skip();
      if (pos_ < s_.size() && s_[pos_] == 'R' && (pos_ + 1 == s_.size() || IsDelimOrSpace(s_[pos_ + 1]))) {
        ++pos_;
        return std::make_unique<TksPDFIndirectReference>(doc_, static_cast<int32_t>(n),
                                                         static_cast<uint16_t>(std::stoi(gen)));
      }
    }
    pos_ = save;
    if (n >= INT32_MIN && n <= INT32_MAX) return std::make_unique<TksPDFIntegerObject>(static_cast<int32_t>(n));
    return std::make_unique<TksPDFInt64Object>(n);
  }

  void End() {
    Skip();
    if (pos_ != s_.size()) Fail("trailing text");
  }

 private:
  static bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
  static bool IsDelimOrSpace(char c) {
    return IsSpace(c) || c == '/' || c == '[' || c == ']' || c == '<' || c == '>' || c == '(' || c == ')';
  }
  char Peek(size_t ahead) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }
  void Skip() {
    while (pos_ < s_.size() && IsSpace(s_[pos_])) ++pos_;
  }
  [[noreturn]] void Fail(const char* what) const {
    throw std::runtime_error(std::string("fixture text: ") + what + " at " + std::to_string(pos_) + " in " + s_);
  }
  std::string Regular() {
    size_t start = pos_++;
    while (pos_ < s_.size() && !IsDelimOrSpace(s_[pos_])) ++pos_;
    return s_.substr(start, pos_ - start);
  }
  TksPDFObjectPtr Literal() {
    std::string text = "(";
    ++pos_;
    int depth = 0;
    while (true) {
      if (pos_ >= s_.size()) Fail("unterminated string");
      char c = s_[pos_++];
      if (c == '\\') {
        char e = s_[pos_++];
        switch (e) {
          case 'n': text += '\n'; break;
          case 'r': text += '\r'; break;
          case 't': text += '\t'; break;
          default:
            if (e >= '0' && e <= '7') {
              int v = e - '0';
              for (int k = 0; k < 2 && pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '7'; ++k)
                v = v * 8 + (s_[pos_++] - '0');
              text += static_cast<char>(v);
            } else {
              text += e;
            }
        }
        continue;
      }
      if (c == '(') ++depth;
      if (c == ')' && depth-- == 0) break;
      text += c;
    }
    text += ')';
    return std::make_unique<TksPDFStringObject>(text);
  }
  TksPDFObjectPtr Hex() {
    size_t end = s_.find('>', pos_);
    if (end == std::string::npos) Fail("unterminated hex string");
    std::string text = s_.substr(pos_, end + 1 - pos_);
    pos_ = end + 1;
    return std::make_unique<TksPDFStringObject>(text, true);
  }
  TksPDFObjectPtr Array() {
    ++pos_;
    auto a = std::make_unique<TksPDFArrayObject>();
    while (true) {
      Skip();
      if (pos_ >= s_.size()) Fail("unterminated array");
      if (s_[pos_] == ']') {
        ++pos_;
        return a;
      }
      a->Add(Value());
    }
  }
  TksPDFObjectPtr Dict() {
    pos_ += 2;
    auto d = std::make_unique<TksPDFDictObject>();
    while (true) {
      Skip();
      if (pos_ + 1 < s_.size() && s_[pos_] == '>' && s_[pos_ + 1] == '>') {
        pos_ += 2;
        return d;
      }
      if (pos_ >= s_.size() || s_[pos_] != '/') Fail("key expected");
      std::string key = Regular();
      d->AddObject(key, Value());
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
  int32_t doc_;
};

}  // namespace

TksPDFObjectPtr ParseValue(const std::string& text, int32_t documentID) {
  TextParser p(text, documentID);
  TksPDFObjectPtr v = p.Value();
  p.End();
  return v;
}

TksPDFIndirectObject* Put(TksCustomPDFDocument& doc, int32_t n, const std::string& text) {
  return doc.Store->Add(std::make_unique<TksPDFIndirectObject>(doc.DocumentID, n, 0, ParseValue(text, doc.DocumentID)));
}

TksPDFIndirectObject* PutStream(TksCustomPDFDocument& doc, int32_t n, const std::string& dictText,
                                const std::string& data) {
  TksPDFObjectPtr dict = ParseValue(dictText, doc.DocumentID);
  std::unique_ptr<TksPDFDictObject> d(static_cast<TksPDFDictObject*>(dict.release()));
  auto stream = std::make_unique<TksPDFStreamObject>(std::move(d), std::make_unique<TksMemoryStream>(data));
  return doc.Store->Add(std::make_unique<TksPDFIndirectObject>(doc.DocumentID, n, 0, std::move(stream)));
}

void SetRoot(TksCustomPDFDocument& doc, int32_t rootNumber) {
  doc.Trailer.RootNumber = rootNumber;
  for (int32_t i = 0; i < doc.Store->Count(); ++i)
    if (doc.Store->Items(i)->ObjectNumber > doc.Store->LastObjectNumber)
      doc.Store->LastObjectNumber = doc.Store->Items(i)->ObjectNumber;
}

std::string Text(const TksPDFObject* value) { return ObjectToText(value); }

std::string OneLineText(const TksPDFObject* value) {
  std::string t = ObjectToText(value);
  for (size_t p; (p = t.find("\r\n")) != std::string::npos;) t.replace(p, 2, " ");
  return t;
}

}  // namespace ksfixture
