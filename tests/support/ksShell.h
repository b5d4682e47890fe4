// Running the converter and the peer tools from end-to-end tests.
#pragma once
#include <string>

namespace ksshell {

// s as one single-quoted shell word.
std::string Quote(const std::string& s);

struct RunResult {
  int status = -1;
  std::string out;
};

// Runs a shell command; stdout is captured, stderr goes where the command sends it.
RunResult Shell(const std::string& command);

}  // namespace ksshell
