// What the end-to-end scenarios and uipcheck's table share: the build they run and the package
// they pack.
#pragma once

#include "tests/test_support.h"

namespace uippack::testing {

// The build under test: the native one, or the Windows one under Wine when UIPPACK_TARGET is
// "wine" (UIPPACK_WIN64_BUILD names its build directory, UIPPACK_WIN64_BIN instead the folder
// of an unpacked Windows bundle; Wine's own variables come from the environment).
struct Target {
  bool wine = false;
  fs::path bin;                // uippack and the tools beside it
  std::string exe;             // the executables' suffix
  char separator = '/';        // in the paths uippack prints
  std::string lineEnd = "\n";  // of its console lines
};
const Target& TheTarget();

// A small package: layout/ with scripts in nested directories, res/ with subdirectories,
// nametable.cfg and package.cfg.
void MakePackage(const fs::path& root);

}  // namespace uippack::testing
