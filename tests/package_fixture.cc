#include "tests/package_fixture.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace uippack::testing {

const Target& TheTarget() {
  static const Target target = [] {
    const char* kind = std::getenv("UIPPACK_TARGET");
    if (!kind || std::string(kind) != "wine") return Target{false, BinDir(), "", '/', "\n"};
    // An unpacked Windows bundle, or else the build's bin folder.
    const char* bundle = std::getenv("UIPPACK_WIN64_BIN");
    const char* build = std::getenv("UIPPACK_WIN64_BUILD");
    // One Wine server for every run of this process, instead of one per program start.
    RunProcess({"/usr/bin/wineserver", "-p60"});
    const fs::path bin = bundle ? bundle : fs::path(build ? build : "build/win64") / "bin";
    return Target{true, bin, ".exe", '\\', "\r\n"};
  }();
  return target;
}

std::string TargetPath(const fs::path& path) {
  return TheTarget().wine ? ForTarget("Z:" + path.string()) : path.string();
}

std::string ForTarget(const std::string& text) {
  const std::string separated =
      std::regex_replace(text, std::regex("/"), std::string(1, TheTarget().separator));
  return std::regex_replace(separated, std::regex("\n"), TheTarget().lineEnd);
}

ProcessResult Uippack(Lines arguments, const fs::path& cwd, Lines env, const fs::path& executable) {
  arguments.insert(arguments.begin(), executable.empty()
                                          ? TheTarget().bin / ("uippack" + TheTarget().exe)
                                          : executable);
  if (TheTarget().wine) {
    arguments.insert(arguments.begin(), "/usr/bin/wine");
    // Wine takes the ANSI code page from the locale: 1252 unless the run asks for another.
    env.insert(env.begin(), "LC_ALL=C.UTF-8");
  }
  return RunProcess(arguments, cwd, env);
}

Lines OwnLines(const std::string& out) {
  static const std::regex ours(
      "^(Start|PreCompile|Compile|Compress|Decompress|Pack|Unpack) |^No valid |^Refused: ");
  Lines lines;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) {
    // A line end other than the target's stays visible in the line.
    if (TheTarget().wine) line.ends_with('\r') ? line.erase(line.size() - 1) : line.append("<LF>");
    if (std::regex_search(line, ours)) lines.push_back(line);
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

bool NamedByAProcess(const fs::path& root) {
  const std::string text = TargetPath(root);
  // readdir goes on past a process that ends while it is listed; a command line that cannot be
  // read any more reads as empty. (Read through an iterator, a process that ends during the read
  // throws out of the stream instead: the copy into another stream stops quietly.)
  DIR* proc = opendir("/proc");
  bool named = false;
  for (const dirent* entry; !named && proc != nullptr && (entry = readdir(proc)) != nullptr;) {
    std::ifstream in("/proc/" + std::string(entry->d_name) + "/cmdline", std::ios::binary);
    std::ostringstream line;
    line << in.rdbuf();
    named = line.str().find(text) != std::string::npos;
  }
  if (proc != nullptr) closedir(proc);
  return named;
}

std::string Listing(const fs::path& root, const Lines& excluded) {
  Lines command = {"/bin/sh",   "-c", "find \"$@\" | LC_ALL=C sort", "sh", root.string(),
                   "-mindepth", "1"};
  for (const auto& name : excluded)
    command.insert(command.end(), {"-path", (root / name).string(), "-prune", "-o"});
  command.insert(command.end(), {"-printf", "%y %P %s %m %C@\\n"});
  return RunProcess(command).out;
}

}  // namespace uippack::testing
