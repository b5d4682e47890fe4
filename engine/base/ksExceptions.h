// The engine's exception family. Classes and their message texts are part of the
// component's contract; the texts live in ksPDFResStrs.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <stdexcept>
#include <string>

// printf-style formatting of the message table's "%s"/"%d" texts. Locale-free for
// the conversions used here.
std::string ksVFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

namespace ksformat {
// Called only when a check below fails: not being constexpr, it stops the compilation
// at the ksFormat call whose text and arguments disagree.
void FormatTextDoesNotMatchArguments();

template <class T>
constexpr bool Fits(char length, char conversion) {
  using U = std::remove_cv_t<T>;
  switch (conversion) {
    case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c':
      if constexpr (std::is_integral_v<U> && !std::is_same_v<U, bool>) {
        if (length == 'L') return sizeof(U) == sizeof(long long);
        if (length == 'l') return sizeof(U) == sizeof(long);
        if (length == 'z') return sizeof(U) == sizeof(size_t);
        return length == 0 && sizeof(U) <= sizeof(int);
      } else {
        return false;
      }
    case 's':
      return length == 0 && (std::is_same_v<U, const char*> || std::is_same_v<U, char*>);
    case 'f': case 'g': case 'e': case 'G': case 'E':
      return length == 0 && std::is_floating_point_v<U> && !std::is_same_v<U, long double>;
    case 'p':
      return length == 0 && std::is_pointer_v<U>;
    default:
      return false;
  }
}

// Each conversion of the text in turn against the next argument's type; the count must agree.
template <class... Args>
consteval bool Matches(const char* text) {
  bool (*const fits[])(char, char) = {&Fits<Args>..., nullptr};
  size_t next = 0;
  for (const char* p = text; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0') ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '.') {
      ++p;
      while (*p >= '0' && *p <= '9') ++p;
    }
    char length = 0;
    if (*p == 'l' && p[1] == 'l') {
      length = 'L';
      p += 2;
    } else if (*p == 'l' || *p == 'z') {
      length = *p++;
    }
    if (*p == 0 || next >= sizeof...(Args) || !fits[next](length, *p)) return false;
    ++next;
  }
  return next == sizeof...(Args);
}

template <class... Args>
struct FormatText {
  const char* text;
  consteval FormatText(const char* t) : text(t) {  // NOLINT: converts from a message-table text
    if (!Matches<Args...>(t)) FormatTextDoesNotMatchArguments();
  }
};
}  // namespace ksformat

// The text is checked against the arguments when the program is compiled: each
// conversion must take the type of its argument, and their counts must agree.
template <class... Args>
std::string ksFormat(ksformat::FormatText<std::type_identity_t<Args>...> fmt, Args... args) {
  return ksVFormat(fmt.text, args...);
}

// The framework's base exception class: everything the engine raises derives from it.
// what() is the message alone, exactly as the message table gives it; where it arose is
// kept beside it, filled in as the error passes the places that know.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& msg) : std::runtime_error(msg) {}
  std::string Message() const { return what(); }

  std::string File;          // the file being read or written; empty when not known
  int32_t ObjectNumber = -1;  // the object being read
  int64_t Offset = -1;       // the byte offset of that object in the file
  // Each keeps what an inner site already gave: it knows more precisely.
  void NoteFile(const std::string& file) {
    if (File.empty()) File = file;
  }
  void NoteObject(int32_t number, int64_t offset) {
    if (ObjectNumber < 0) {
      ObjectNumber = number;
      Offset = offset;
    }
  }
  // "file "a.pdf", object 12 at byte 3456"; empty when nothing is known.
  std::string Context() const;
};

// The text to show a user for any error: the message, and where when it is known.
// withFile adds the file, for runs over several files (one file's run names it already).
std::string ksErrorText(const std::exception& error, bool withFile = false);

class TksException : public Exception { public: using Exception::Exception; };
class EPDFException : public Exception { public: using Exception::Exception; };

#define KS_DECLARE_EXCEPTION(Name, Base) \
  class Name : public Base { public: using Base::Base; }

// Parser family and other classes derived directly from the base class.
KS_DECLARE_EXCEPTION(EStringReadError, Exception);
KS_DECLARE_EXCEPTION(EArrayReadError, Exception);
KS_DECLARE_EXCEPTION(ENameReadError, Exception);
KS_DECLARE_EXCEPTION(EDictionaryReadError, Exception);
KS_DECLARE_EXCEPTION(EBooleanError, Exception);
KS_DECLARE_EXCEPTION(ENullObjectError, Exception);
KS_DECLARE_EXCEPTION(EStreamReadError, Exception);
KS_DECLARE_EXCEPTION(EEndStreamError, Exception);
KS_DECLARE_EXCEPTION(EInvalidObjectNo, Exception);
KS_DECLARE_EXCEPTION(ETrailerError, Exception);
KS_DECLARE_EXCEPTION(EOffsetError, Exception);
KS_DECLARE_EXCEPTION(EInvalidHeader, Exception);
KS_DECLARE_EXCEPTION(EUnsupportedVersion, Exception);
KS_DECLARE_EXCEPTION(EInvalidPermission, Exception);
KS_DECLARE_EXCEPTION(EUnexpectedObjectError, Exception);
KS_DECLARE_EXCEPTION(EUnsupportedFilterError, Exception);
KS_DECLARE_EXCEPTION(EUnexpectedFilterObject, Exception);
KS_DECLARE_EXCEPTION(EInvalidIndex, Exception);
KS_DECLARE_EXCEPTION(EUnexpectedError, Exception);
KS_DECLARE_EXCEPTION(EImproperPNGAlgorithm, Exception);
KS_DECLARE_EXCEPTION(EFileNotFound, Exception);

// Derived from EPDFException.
KS_DECLARE_EXCEPTION(ECrossReferenceError, EPDFException);
KS_DECLARE_EXCEPTION(EPDFFileCorruptedError, EPDFException);
KS_DECLARE_EXCEPTION(EInvalidPageError, EPDFException);
KS_DECLARE_EXCEPTION(EUnsupportedImageError, EPDFException);
KS_DECLARE_EXCEPTION(EUnsupportedFontError, EPDFException);
// A value given to an operation that it cannot take: a negative or endless duration, a
// number that is not finite where text of the format must hold it, a text that is no number.
KS_DECLARE_EXCEPTION(EInvalidValueError, EPDFException);

// The document unit has its own class of this name, raised by the save-time
// re-filtering; it lives beside the parser family's class under the unit's name.
namespace ksCstPDFDoc {
KS_DECLARE_EXCEPTION(EUnexpectedObjectError, EPDFException);
}

// Derived from TksException.
KS_DECLARE_EXCEPTION(EInvalidID, TksException);
KS_DECLARE_EXCEPTION(EInvalidStream, TksException);
KS_DECLARE_EXCEPTION(EReadError, TksException);

// zlib layer.
KS_DECLARE_EXCEPTION(EZLibError, Exception);
KS_DECLARE_EXCEPTION(EZCompressionError, EZLibError);
KS_DECLARE_EXCEPTION(EZDecompressionError, EZLibError);

// A decoder's output would pass its cap (decompression bombs).
KS_DECLARE_EXCEPTION(EDecodedSizeError, Exception);

// Classes of our own for failures whose texts are raised with the base class elsewhere:
// each derives from it directly, so a handler of the base class still sees them.
KS_DECLARE_EXCEPTION(EListIndexError, Exception);   // an index outside a list
KS_DECLARE_EXCEPTION(EFilterDataError, Exception);  // encoded stream data that break their filter's rules
KS_DECLARE_EXCEPTION(ESyntaxError, Exception);      // a token or file that is not PDF syntax
KS_DECLARE_EXCEPTION(ESecurityError, Exception);    // an encryption dictionary that cannot be used
KS_DECLARE_EXCEPTION(EFieldValueError, Exception);  // a form field's value that cannot be decoded
KS_DECLARE_EXCEPTION(EOpenError, Exception);        // the source file cannot be opened
KS_DECLARE_EXCEPTION(EFontProgramError, Exception); // a font program that breaks its format's rules

// Saving: the output file cannot be created or written.
KS_DECLARE_EXCEPTION(EFCreateError, Exception);
KS_DECLARE_EXCEPTION(EFWriteError, Exception);
// Saving: the document cannot be written as a sound file (read part-way, too large).
KS_DECLARE_EXCEPTION(ESaveError, EPDFException);
