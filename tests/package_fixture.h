// Shared pieces of the end-to-end tests that run uippack with the real tools.
#pragma once

#include <string>
#include <vector>

#include "tests/test_support.h"

namespace uippack::testing {

// Runs build/bin/uippack with the arguments in cwd.
ProcessResult Uippack(std::vector<std::string> arguments, const fs::path& cwd = {});

// The lines uippack itself prints, without the tools' own output between them.
std::vector<std::string> OwnLines(const std::string& out);

// A small package: layout/ with scripts in nested directories, res/ with subdirectories,
// nametable.cfg and package.cfg.
void MakePackage(const fs::path& root);

// Waits until every `layout` directory and every subdirectory of a `res` directory below root
// has been removed (the removals run detached).
bool WaitForRemovals(const fs::path& root);

// Waits until the detached deletions of an unpack run have removed every container and archive
// below root.
bool WaitForDeletions(const fs::path& root);

// The entries of a zip as 7-Zip lists them: "path method" for files, "path/" for directories.
std::vector<std::string> ZipEntries(const fs::path& zip);

// lua5.4's output for the script, or "<exit N>" when it fails.
std::string RunLua(const fs::path& script);

// True when the file is Lua 5.4 bytecode.
bool IsLua54Bytecode(const fs::path& file);

}  // namespace uippack::testing
