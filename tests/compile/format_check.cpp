// Compiled by the test suite, not linked: with FORMAT_MISMATCH defined the call below
// must stop the compilation, without it the same call with the right types must pass.
#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"

std::string Message(int number, long long offset) {
#ifdef FORMAT_MISMATCH
  return ksFormat(ksres::SObjectNotAtOffset, offset, number);  // arguments swapped
#else
  return ksFormat(ksres::SObjectNotAtOffset, number, offset);
#endif
}
