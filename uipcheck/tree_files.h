// The file system as uipcheck reads it. Nothing here writes: listings report links as links
// and never follow them, and a file is opened only once it is known to be a regular file, so
// a link, a FIFO or a device in a file's place is reported instead of followed or waited on.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace uipcheck {

namespace fs = std::filesystem;

enum class EntryKind { File, Directory, Link, Other };

// "file", "directory", "symbolic link" or "special file".
std::string_view DescribeKind(EntryKind kind);

// Neither is ever followed or opened.
inline bool IsLinkOrSpecial(EntryKind kind) {
  return kind == EntryKind::Link || kind == EntryKind::Other;
}

struct TreeEntry {
  std::string name;  // UTF-8, as the listing spells it
  fs::path path;
  EntryKind kind = EntryKind::Other;
};

// The entries of a directory, sorted by name so that reports come out in a stable order.
// False with *error set, and *entries left as it was, when the directory cannot be listed
// whole.
bool ListDirectory(const fs::path& directory, std::vector<TreeEntry>* entries, std::string* error);

// The source as packing's copy reads it: a link is read through, and what the copy leaves out
// (a special file, a link that leads nowhere or to one, a link back into a directory being
// copied or its copy, or above the source, a link into the kernel's file systems) is not there
// at all. The walk knows the directories it is inside, by their paths with links resolved.
class SourceWalk {
 public:
  // A walk at root, which lies inside every directory above it.
  static SourceWalk At(const fs::path& root);
  void Enter(const fs::path& directory) { inside_.push_back(directory); }
  void Leave() { inside_.pop_back(); }
  // The entries of directory as the copy takes them, sorted by name; a link is given the kind
  // and the resolved path of what it leads to.
  bool List(const fs::path& directory, std::vector<TreeEntry>* entries, std::string* error) const;

 private:
  bool Resolve(TreeEntry* entry) const;
  std::vector<fs::path> inside_;
};

// A path or name for messages, as UTF-8 (on POSIX the bytes as they are).
std::string DisplayText(const fs::path& path);
// A command-line argument as a path, with either separator accepted as uippack accepts it.
fs::path PathFromArgument(const fs::path& argument);
// The path as the platform layer takes it.
std::wstring WidePath(const fs::path& path);

// A regular file open for reading, never through a link nor waiting on a FIFO.
using InputFile = uippack::platform::ReadOnlyFile;

}  // namespace uipcheck
