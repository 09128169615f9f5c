// Directories: listing one, and telling what stands at a path.
#pragma once

#include <memory>
#include <string>

namespace uippack::platform {

struct DirectoryEntry {
  std::wstring name;
  bool isDirectory = false;    // a link to a directory is not a directory here
  bool isRegularFile = false;  // nor is a link, a FIFO or a device a regular file
};

// One open listing of one directory, closed on destruction. The listing reports "." and ".."
// like the Win32 listing does, in the order the file system returns entries.
class DirectoryListing {
 public:
  DirectoryListing();
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // Opens the listing of directoryPath. False when the path does not exist, is not a
  // directory or cannot be read.
  bool Open(const std::wstring& directoryPath);
  // Fills entry with the next entry; false when there are no more.
  bool Next(DirectoryEntry* entry);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// What stands at path, the last step not followed when it is a link.
enum class PathKind { Missing, Directory, RegularFile, Other };
PathKind GetPathKind(const std::wstring& path);

}  // namespace uippack::platform
