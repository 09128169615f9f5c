#include "tests/package_fixture.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

namespace uippack::testing {

ProcessResult Uippack(std::vector<std::string> arguments, const fs::path& cwd) {
  arguments.insert(arguments.begin(), (BinDir() / "uippack").string());
  return RunProcess(arguments, cwd);
}

std::vector<std::string> OwnLines(const std::string& out) {
  static const char* const kPrefixes[] = {"Start ",    "PreCompile ", "Compile ",
                                          "Compress ", "Decompress ", "Pack ",
                                          "Unpack ",   "No valid ",   "Refused: "};
  std::vector<std::string> lines;
  std::istringstream stream(out);
  std::string line;
  while (std::getline(stream, line)) {
    for (const char* prefix : kPrefixes) {
      if (line.rfind(prefix, 0) == 0) {
        lines.push_back(line);
        break;
      }
    }
  }
  return lines;
}

void MakePackage(const fs::path& root) {
  WriteFile(root / "layout/main.lua", "print('main ' .. 6 * 7)\n");
  WriteFile(root / "layout/screens/home.lua",
            "local t = {}\nfor i = 1, 3 do t[i] = i end\nprint(#t)\n");
  WriteFile(root / "layout/screens/readme.txt", std::string(200, 'x'));
  WriteFile(root / "res/images/a.png", std::string("\x89PNG\r\n\x1a\n", 8) + "tiny");
  WriteFile(root / "res/images/icons/b.png", "b");
  WriteFile(root / "res/strings/en.txt", "hello=Hello\n");
  WriteFile(root / "res/loose.txt", "stays as it is\n");
  WriteFile(root / "nametable.cfg", "home=Home\n");
  WriteFile(root / "package.cfg", "name=test\n");
}

namespace {

// Polls the tree below root until no entry is still pending (the walk may skip subtrees by
// disabling recursion), or 30 seconds pass.
template <typename IsPending>
bool WaitUntilNothingPending(const fs::path& root, IsPending isPending) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    bool pending = false;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      pending = isPending(it) || pending;
    }
    if (!pending && !error) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

bool WaitForRemovals(const fs::path& root) {
  return WaitUntilNothingPending(root, [](fs::recursive_directory_iterator& it) {
    std::error_code error;
    if (!it->is_directory(error) || it->is_symlink(error)) return false;
    const auto name = it->path().filename().string();
    if (name[0] == '.') {
      it.disable_recursion_pending();  // never processed, so nothing is removed there
      return false;
    }
    return name == "layout" || it->path().parent_path().filename() == "res";
  });
}

bool WaitForDeletions(const fs::path& root) {
  return WaitUntilNothingPending(root, [](fs::recursive_directory_iterator& it) {
    const auto extension = it->path().extension();
    return extension == ".zip" || extension == ".uip";
  });
}

std::vector<std::string> ZipEntries(const fs::path& zip) {
  const ProcessResult listing =
      RunProcess({(BinDir() / "7z").string(), "l", "-slt", "-ba", zip.string()});
  std::vector<std::string> entries;
  std::istringstream stream(listing.out);
  std::string line, path, method;
  bool folder = false;
  auto flush = [&] {
    if (!path.empty()) entries.push_back(folder ? path + "/" : path + " " + method);
    path.clear();
    method.clear();
    folder = false;
  };
  while (std::getline(stream, line)) {
    if (line.rfind("Path = ", 0) == 0) {
      flush();
      path = line.substr(7);
    } else if (line.rfind("Folder = +", 0) == 0) {
      folder = true;
    } else if (line.rfind("Method = ", 0) == 0) {
      method = line.substr(9);
      method = method.substr(0, method.find(':'));
    }
  }
  flush();
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::string RunLua(const fs::path& script) {
  const ProcessResult result =
      RunProcess({"/usr/bin/lua5.4", script.string()}, script.parent_path());
  return result.exitStatus == 0 ? result.out : "<exit " + std::to_string(result.exitStatus) + ">";
}

bool IsLua54Bytecode(const fs::path& file) {
  const std::string content = ReadFile(file);
  return content.size() > 5 && content.compare(0, 4, "\x1bLua") == 0 && content[4] == '\x54';
}

}  // namespace uippack::testing
