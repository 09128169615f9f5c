// What the end-to-end tests share: the build they run, the package they pack, and the ways they
// judge the outcome from outside (the console and the files themselves).
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

// An absolute path as the target spells it (Wine maps / to drive Z:).
std::string TargetPath(const fs::path& path);
// The text with each "/" as the target's separator and each "\n" as its line end.
std::string ForTarget(const std::string& text);

// Runs the target's uippack, or the copy at `executable`, with the arguments in cwd; env holds
// extra "NAME=VALUE" entries.
ProcessResult Uippack(Lines arguments, const fs::path& cwd = {}, Lines env = {},
                      const fs::path& executable = {});

// The lines uippack itself prints, without their line ends and without the tools' output.
Lines OwnLines(const std::string& out);

// A small package: layout/ with scripts in nested directories, res/ with subdirectories,
// nametable.cfg and package.cfg.
void MakePackage(const fs::path& root);

// Whether a running process names root, as the target spells it, in its command line: what a
// run started and left running would.
bool NamedByAProcess(const fs::path& root);

// Every entry below root but the excluded top-level names, with type, size, mode and time of
// change, sorted: whatever a run wrote there shows. Also lists trees deeper than PATH_MAX.
std::string Listing(const fs::path& root, const Lines& excluded);

}  // namespace uippack::testing
