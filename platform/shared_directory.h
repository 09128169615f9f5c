// Folders that several processes, or several users, share, and the files inside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/handle.h"

namespace uippack::platform {

// True when path names an existing directory.
bool DirectoryExists(const std::wstring& path);
// Creates the last level of path, open to every user of the machine (mode 01777 on POSIX).
bool CreateSharedDirectory(const std::wstring& path);
// True when this process may create files in the directory path (its effective ids count). Always
// true on Windows, where the attempt itself is the only test.
bool MayCreateFilesIn(const std::wstring& path);

// A directory held open: files are created, opened and deleted inside the very directory that
// was checked, so swapping the directory for a link afterwards redirects nothing.
class HeldDirectory {
 public:
  HeldDirectory() = default;
  ~HeldDirectory() = default;
  HeldDirectory(const HeldDirectory&) = delete;
  HeldDirectory& operator=(const HeldDirectory&) = delete;

  // Opens the existing directory path. On POSIX its last level must be a directory, not a link
  // to one, and a directory that every user may write to must be sticky or belong to root or to
  // this user: anyone else could swap the files in it. False when it is refused or cannot be
  // opened.
  bool Open(const std::wstring& path);
  // Creates whatever levels of path are missing, for this user alone (mode 0700 on POSIX), and
  // opens the last one. On POSIX it must be a directory, not a link to one, that belongs to this
  // user and that neither group nor others may write to; files created in it are this user's
  // alone (mode 0600). On Windows they take the folder's access list. False when it is refused or
  // cannot be had.
  bool OpenPrivate(const std::wstring& path);
  bool IsOpen() const;
  // Deletes the file name inside the directory when it can; whoever needs to know opens it again.
  void RemoveFile(const std::wstring& name) const;

 private:
  friend class SharedAppendFile;
  friend class FileLock;
  OwnedHandle handle_;    // POSIX: the open directory
  std::wstring path_;     // Windows: the directory's path, which ends in a separator
  bool private_ = false;  // POSIX: opened by OpenPrivate
};

// A text file that many processes open at once for appending: others may read and write it
// while it is open. A file it creates is open to every user (mode 0666 on POSIX), or in a
// private directory to this user only.
class SharedAppendFile {
 public:
  SharedAppendFile() = default;
  ~SharedAppendFile() = default;
  SharedAppendFile(const SharedAppendFile&) = delete;
  SharedAppendFile& operator=(const SharedAppendFile&) = delete;

  // Opens the file name in directory for writing, creating it when absent. On POSIX only a
  // regular file with a single link is taken, opened without following links and without
  // waiting: a planted FIFO, link or second name of another file is refused.
  bool Open(const HeldDirectory& directory, const std::wstring& name);
  bool IsOpen() const { return handle_.IsOpen(); }
  // The file's creation (birth) time as UTC fields; false when the file system keeps none.
  bool GetCreationTime(CalendarTime* utc) const;
  // Moves to the end of the file and gives the new position, which is 0 for an empty file.
  bool SeekToEnd(std::uint64_t* position);
  // Writes length bytes at the current position.
  bool Write(const void* data, std::size_t length);
  void Close() { handle_.Close(); }

 private:
  OwnedHandle handle_;
};

}  // namespace uippack::platform
