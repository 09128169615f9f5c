// Helpers shared by the unit and end-to-end tests (POSIX hosts).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/text.h"

namespace uippack::testing {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// A fresh directory under the system's temporary folder, removed with everything in it on
// destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const fs::path& child) const { return path_ / child; }

 private:
  fs::path path_;
};

// Creates parent directories as needed.
void WriteFile(const fs::path& path, const std::string& content);
// Makes each entry below root: a directory when its name ends in "/", else a file of content, or
// of its own name when content is empty.
void MakeTree(const fs::path& root, const Lines& entries, const std::string& content = "");
std::string ReadFile(const fs::path& path);
inline void MakeDirs(const fs::path& path) { fs::create_directories(path); }

struct ProcessResult {
  int exitStatus = -1;  // the exit code as a shell sees it, or 128 + signal
  std::string out;      // everything the child wrote to standard output
  std::string err;      // everything the child wrote to standard error
};

// Runs argv[0] with the arguments (no shell), in cwd when it is not empty, with
// extraEnv ("NAME=VALUE") added to the environment, and collects its output.
ProcessResult RunProcess(const Lines& argv, const fs::path& cwd = {}, const Lines& extraEnv = {});

// Where the build put uippack and its companion tools (UIPPACK_BIN_DIR overrides it).
fs::path BinDir();

// Every regular file and directory below root, as "d relative/path" and
// "f relative/path <size> <hash>" lines, sorted: a cheap fingerprint of a whole tree.
Lines TreeListing(const fs::path& root);

// Runs body in a child process, so that what it changes (limits, identity, signals) stays there:
// its result as the exit status, or -1 when the child did not end by itself.
int InChild(const std::function<int()>& body);
// Sets both the soft and the hard limit of the resource.
void Limit(int resource, unsigned long value);

// The path as the product's wide strings carry it.
inline std::wstring Wide(const fs::path& path) { return platform::NarrowToWide(path.string()); }

}  // namespace uippack::testing
