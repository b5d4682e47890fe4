// pagewright-convert --info
#include <cstdio>

#include "commands.h"

int RunInfo(const TksCliOptions&) {
  std::fputs("pagewright-convert: --info is not ready yet\n", stderr);
  return 2;
}
