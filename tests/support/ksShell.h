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

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "pw-");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Writes a file of the folder and returns its path.
  std::string File(const std::string& name, const std::string& bytes) const;
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace ksshell
