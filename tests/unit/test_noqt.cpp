// The engine must build without a display: no file under engine/ may include Qt.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Whether a line includes a Qt header: <QWidget>, "QString", <QtCore/QObject>.
bool IncludesQt(const std::string& line) {
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos || line[i] != '#') return false;
  i = line.find_first_not_of(" \t", i + 1);
  if (i == std::string::npos || line.compare(i, 7, "include") != 0) return false;
  i = line.find_first_not_of(" \t", i + 7);
  if (i == std::string::npos || (line[i] != '<' && line[i] != '"') || i + 2 >= line.size()) return false;
  const char first = line[i + 1], second = line[i + 2];
  return first == 'Q' && ((second >= 'A' && second <= 'Z') || second == 't');
}

}  // namespace

TEST(EngineLayering, IncludeRecognition) {
  for (const char* qt : {"#include <QWidget>", "  #  include \"QString\"", "#include <QtCore/QObject>"})
    EXPECT_TRUE(IncludesQt(qt)) << qt;
  for (const char* other : {"#include <queue>", "#include \"ksPDFObjects.h\"", "// #include <QWidget>", "int Q;"})
    EXPECT_FALSE(IncludesQt(other)) << other;
}

TEST(EngineLayering, NoQtHeaderUnderEngine) {
  namespace fs = std::filesystem;
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(PW_SOURCE_DIR) / "engine")) {
    if (!entry.is_regular_file()) continue;
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
      ++lineNo;
      EXPECT_FALSE(IncludesQt(line)) << entry.path() << ":" << lineNo << ": " << line;
    }
  }
  EXPECT_GT(files, 0);
}
