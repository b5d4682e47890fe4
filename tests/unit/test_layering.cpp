// The engine's folders form layers: each may include only the folders below it, and no
// file under engine/ may include Qt (the engine must build without a display).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace {

// What each folder may include besides itself; "platform" is the platform layer's header.
const std::map<std::string, std::set<std::string>>& AllowedIncludes() {
  static const std::map<std::string, std::set<std::string>> allowed = {
      {"base", {}},
      {"objects", {"base", "platform"}},
      {"codec", {"base", "objects"}},
      {"crypt", {"base", "objects", "platform"}},
      {"parse", {"base", "objects", "codec", "crypt"}},
      {"document", {"base", "objects", "codec", "crypt", "parse", "platform"}},
      {"write", {"base", "objects", "codec", "crypt", "parse", "document", "platform"}},
      {"content", {"base", "objects", "codec", "crypt", "parse", "document", "write", "platform"}},
      {"compat", {"base", "objects", "codec", "crypt", "parse", "document", "write", "content", "platform"}},
  };
  return allowed;
}

// The quoted or bracketed name of an #include line; none for other lines.
std::optional<std::string> IncludedName(const std::string& line) {
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos || line[i] != '#') return std::nullopt;
  i = line.find_first_not_of(" \t", i + 1);
  if (i == std::string::npos || line.compare(i, 7, "include") != 0) return std::nullopt;
  i = line.find_first_not_of(" \t", i + 7);
  if (i == std::string::npos || (line[i] != '<' && line[i] != '"')) return std::nullopt;
  const size_t end = line.find(line[i] == '<' ? '>' : '"', i + 1);
  if (end == std::string::npos) return std::nullopt;
  return line.substr(i + 1, end - i - 1);
}

// Qt's headers: <QWidget>, "QString", <QtCore/QObject>.
bool IsQtHeader(const std::string& name) {
  return name.size() >= 2 && name[0] == 'Q' && ((name[1] >= 'A' && name[1] <= 'Z') || name[1] == 't');
}

// Why a file of folder may not include name; empty when it may.
std::string Violation(const std::string& folder, const std::string& name) {
  if (IsQtHeader(name)) return "Qt header in the engine";
  std::string target;
  // The platform layer's headers are included by their bare names.
  if (name.find('/') == std::string::npos && std::filesystem::exists(std::filesystem::path(PW_SOURCE_DIR) / "platform" / name)) {
    target = "platform";
  } else if (const size_t slash = name.find('/'); slash != std::string::npos) {
    target = name.substr(0, slash);
    if (!AllowedIncludes().count(target)) return {};  // a system or library header
  } else if (name.rfind("ks", 0) == 0) {
    return "engine header without its folder";
  } else {
    return {};
  }
  if (target == folder) return {};
  const auto it = AllowedIncludes().find(folder);
  if (it == AllowedIncludes().end()) return "file outside the known folders";
  return it->second.count(target) ? std::string() : folder + " may not include " + target;
}

}  // namespace

TEST(EngineLayering, RulesRecogniseEachKindOfInclude) {
  struct Case {
    const char* folder;
    const char* line;
    bool allowed;
  } cases[] = {
      {"codec", "#include \"objects/ksPDFObjects.h\"", true},
      {"codec", "#include \"document/ksCstPDFDoc.h\"", false},  // a codec knows no document
      {"objects", "#include \"parse/ksPDFParsers.h\"", false},
      {"base", "#include \"ksPlatform.h\"", false},
      {"document", "  #  include \"ksPlatform.h\"", true},
      {"write", "#include \"document/ksCstPDFDoc.h\"", true},
      {"document", "#include \"write/ksDocumentWriter.h\"", false},
      {"parse", "#include \"ksPDFObjects.h\"", false},  // engine headers name their folder
      {"compat", "#include <QWidget>", false},
      {"base", "#include \"QString\"", false},
      {"base", "#include <QtCore/QObject>", false},
      {"base", "#include <queue>", true},
      {"crypt", "#include <nettle/md5.h>", true},
      {"base", "// #include \"document/ksCstPDFDoc.h\"", true},
  };
  for (const Case& c : cases) {
    const auto name = IncludedName(c.line);
    const bool allowed = !name || Violation(c.folder, *name).empty();
    EXPECT_EQ(allowed, c.allowed) << c.folder << ": " << c.line;
  }
}

TEST(EngineLayering, EveryEngineIncludeFollowsTheLayers) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(PW_SOURCE_DIR) / "engine";
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const auto ext = entry.path().extension();
    if (ext != ".h" && ext != ".cpp") continue;
    ++files;
    const fs::path rel = fs::relative(entry.path(), root);
    const std::string folder = rel.has_parent_path() ? rel.begin()->string() : std::string();
    std::ifstream in(entry.path());
    std::string line;
    for (int lineNo = 1; std::getline(in, line); ++lineNo) {
      const auto name = IncludedName(line);
      if (!name) continue;
      const std::string why = Violation(folder, *name);
      EXPECT_TRUE(why.empty()) << rel.string() << ":" << lineNo << ": " << line << " (" << why << ")";
    }
  }
  EXPECT_GT(files, 20);
}
