#include "tests/package_fixture.h"

#include <cstdlib>

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

}  // namespace uippack::testing
