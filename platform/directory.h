// Directories: listing one, telling what stands at a path, and (on POSIX) copying a tree.
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

#ifndef _WIN32
// Copies the content of the directory source into destination, making destination and its
// missing parents, or merging into it. Links in the source are followed, so the copy holds only
// real directories and regular files: FIFOs, sockets, devices, links that lead nowhere, loops (a
// link to a directory being copied, to one above the source or into the copy) and the kernel's
// own file systems (/proc, /sys, /dev) are left out with a note on standard error. What stands
// in the copy's way (an old file, a link) is replaced, never written through. Refused, before
// anything is made, is a destination that another user could change: one with a directory on
// its path that neither root nor this user owns, or that others may write to and is not sticky,
// or an existing destination holding a directory that is not this user's or that others may
// write to. Nothing the copy makes is writable by others. False, after a note saying why, when
// the copy is refused or could not copy everything it should have.
bool CopyTreeFollowingLinks(const std::wstring& source, const std::wstring& destination);
#endif

}  // namespace uippack::platform
