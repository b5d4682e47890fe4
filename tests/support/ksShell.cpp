#include "ksShell.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace ksshell {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

RunResult Shell(const std::string& command) {
  RunResult r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  std::array<char, 65536> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

}  // namespace ksshell
