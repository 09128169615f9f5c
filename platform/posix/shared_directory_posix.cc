// Shared directories on POSIX: what other users may have planted is checked through the open
// directory and never followed.
#include "platform/shared_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <utility>

#include "platform/posix/clock_posix.h"
#include "platform/posix/shared_directory_posix.h"
#include "platform/text.h"

namespace uippack::platform {
namespace {

constexpr mode_t kSharedDirectoryMode = 01777;
constexpr mode_t kPrivateDirectoryMode = 0700;

// The path without trailing slashes, which would make the last level's link followed.
std::string DirectoryPath(const std::wstring& path) {
  std::string narrow = WideToNarrow(path);
  while (narrow.size() > 1 && narrow.back() == '/') narrow.pop_back();
  return narrow;
}

// In a directory that every user may write to, only the sticky bit keeps them from deleting or
// renaming each other's files; without it the owner must be trusted: root or this user.
bool OthersMaySwapFilesIn(const struct stat& directory) {
  return (directory.st_mode & S_IWOTH) != 0 && (directory.st_mode & S_ISVTX) == 0 &&
         directory.st_uid != 0 && directory.st_uid != geteuid();
}

#if defined(O_PATH)
// Enough to create and open files inside, and needs no read permission on the directory.
constexpr int kDirectoryAccess = O_PATH;
#else
constexpr int kDirectoryAccess = O_RDONLY;
#endif

}  // namespace

// O_CREAT on someone else's file in a sticky world-writable directory is refused on hardened
// systems (protected_regular), so an existing file is opened without it. Anyone may have planted
// something in the file's place: a FIFO would stall the open, a link or a second name of another
// file would steer the writes.
OwnedHandle OpenShared(int directory, const std::string& name, int accessFlags, mode_t mode) {
  constexpr int kSafely = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  OwnedHandle file;
  for (int attempt = 0; attempt < 3 && !file.IsOpen(); ++attempt) {
    file = OwnedHandle(
        openat(directory, name.c_str(), accessFlags | kSafely | O_CREAT | O_EXCL, mode));
    if (file.IsOpen()) {
      fchmod(file.Get(), mode);
      break;
    }
    if (errno != EEXIST) return file;
    file = OwnedHandle(openat(directory, name.c_str(), accessFlags | kSafely));
    if (!file.IsOpen() && errno != ENOENT) return file;
    // Deleted between the two opens: try again.
  }
  if (!file.IsOpen()) return file;
  const int fd = file.Get();
  struct stat info {};
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return OwnedHandle();
  }
  return file;
}

bool DirectoryExists(const std::wstring& path) {
  struct stat info {};
  return stat(WideToNarrow(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateSharedDirectory(const std::wstring& path) {
  const std::string narrow = DirectoryPath(path);
  if (mkdir(narrow.c_str(), kSharedDirectoryMode) != 0) return false;
  // Widened through the new directory itself, never through a link put in its place.
  const OwnedHandle created(open(narrow.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (created.IsOpen()) fchmod(created.Get(), kSharedDirectoryMode);
  return true;
}

bool MayCreateFilesIn(const std::wstring& path) {
  return faccessat(AT_FDCWD, WideToNarrow(path).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// ---------------------------------------------------------------------------------------------

bool HeldDirectory::Open(const std::wstring& path) {
  handle_.Close();
  private_ = false;
  OwnedHandle directory(
      open(DirectoryPath(path).c_str(), kDirectoryAccess | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!directory.IsOpen()) return false;
  struct stat info {};  // a directory: O_DIRECTORY has seen to that
  if (fstat(directory.Get(), &info) != 0 || OthersMaySwapFilesIn(info)) return false;
  handle_ = std::move(directory);
  return true;
}

bool HeldDirectory::OpenPrivate(const std::wstring& path) {
  handle_.Close();
  private_ = false;
  const std::string narrow = DirectoryPath(path);
  // Levels that exist are left as they are; links may lead to them, as a home folder's often does.
  for (std::size_t slash = narrow.find('/', 1);; slash = narrow.find('/', slash + 1)) {
    const std::string level = narrow.substr(0, slash);
    if (mkdir(level.c_str(), kPrivateDirectoryMode) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  OwnedHandle directory(
      open(narrow.c_str(), kDirectoryAccess | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!directory.IsOpen()) return false;
  // Only a folder nobody else can change keeps them from planting or swapping files in it.
  struct stat info {};
  if (fstat(directory.Get(), &info) != 0 || info.st_uid != geteuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return false;
  }
  handle_ = std::move(directory);
  private_ = true;
  return true;
}

bool HeldDirectory::IsOpen() const { return handle_.IsOpen(); }

void HeldDirectory::RemoveFile(const std::wstring& name) const {
  if (IsOpen()) unlinkat(handle_.Get(), WideToNarrow(name).c_str(), 0);
}

// ---------------------------------------------------------------------------------------------

bool SharedAppendFile::Open(const HeldDirectory& directory, const std::wstring& name) {
  if (!directory.IsOpen()) return false;
  // O_APPEND keeps every write at the end even if a writer outside our lock has grown the file.
  handle_ = OpenShared(directory.handle_.Get(), WideToNarrow(name), O_WRONLY | O_APPEND,
                       directory.private_ ? kPrivateFileMode : kSharedFileMode);
  return IsOpen();
}

// On a file that is not open, the calls themselves fail (EBADF), here and in SeekToEnd.
bool SharedAppendFile::GetCreationTime(CalendarTime* utc) const {
  const int fd = handle_.Get();
  timespec birth{};
#if defined(__APPLE__)
  struct stat info {};
  if (fstat(fd, &info) != 0) return false;
  birth = info.st_birthtimespec;
#elif defined(STATX_BTIME)
  struct statx info {};
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &info) != 0) return false;
  if ((info.stx_mask & STATX_BTIME) == 0) return false;  // the file system keeps no birth time
  birth.tv_sec = static_cast<std::time_t>(info.stx_btime.tv_sec);
  birth.tv_nsec = static_cast<long>(info.stx_btime.tv_nsec);
#else
  return false;
#endif
  std::tm fields{};
  if (gmtime_r(&birth.tv_sec, &fields) == nullptr) return false;
  *utc = ToCalendar(fields, birth.tv_nsec);
  return true;
}

bool SharedAppendFile::SeekToEnd(std::uint64_t* position) {
  const off_t end = lseek(handle_.Get(), 0, SEEK_END);
  if (end < 0) return false;
  *position = static_cast<std::uint64_t>(end);
  return true;
}

bool SharedAppendFile::Write(const void* data, std::size_t length) {
  return IsOpen() && WriteAll(handle_.Get(), data, length);
}

}  // namespace uippack::platform
