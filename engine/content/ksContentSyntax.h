// Content operators taken apart as readers take them, without drawing anything: whether
// their strings, arrays, dictionaries and inline images close, and how their q and Q
// (save and restore of the graphics state) pair up.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// Where the operators first break the format's rules, and how.
struct TksContentFault {
  int64_t Offset = -1;  // -1: nothing is wrong
  int64_t Line = 0, Column = 0;  // from 1, counted in bytes; CR LF is one line end
  std::string What;
};

// Scans the streams of one page's content (or one file of operators) in order: a page's
// streams are one sequence of operators, so the q/Q count carries from one to the next.
class TksContentScanner {
 public:
  // Scans one stream; false at its first fault (Fault() says where), after which the rest
  // of that stream is not counted. Linear in the bytes.
  bool Scan(std::string_view bytes);
  const TksContentFault& Fault() const { return fault_; }
  // Q operators with no q open before them.
  int64_t UnmatchedRestores() const { return unmatched_; }
  // q operators still open after everything scanned.
  int64_t OpenSaves() const { return depth_; }

 private:
  TksContentFault fault_;
  int64_t unmatched_ = 0;
  int64_t depth_ = 0;
};
