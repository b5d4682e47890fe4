// The engine must build without a display: no file under engine/ may include Qt.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

TEST(EngineLayering, NoQtHeaderUnderEngine) {
  namespace fs = std::filesystem;
  const std::regex qtInclude(R"(^\s*#\s*include\s*[<"](Q[A-Za-z]+|Qt[A-Za-z]+/)[^>"]*[>"])");
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(PW_SOURCE_DIR) / "engine")) {
    if (!entry.is_regular_file()) continue;
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
      ++lineNo;
      EXPECT_FALSE(std::regex_search(line, qtInclude)) << entry.path() << ":" << lineNo << ": " << line;
    }
  }
  EXPECT_GT(files, 0);
}
