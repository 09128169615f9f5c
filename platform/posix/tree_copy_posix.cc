// The tree copy for POSIX. It does what xcopy does on Windows, where the copier reads through
// links: the copy holds only real directories and regular files, so every later write of the
// run lands inside the destination. Every step works relative to open directory descriptors,
// so neither a name in the source nor one already in the destination can redirect it, and the
// depth of a tree is not bounded by the length of its paths.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>

#if defined(__linux__)
#include <sys/sendfile.h>
#endif

#include "platform/directory.h"
#include "platform/handle.h"
#include "platform/text.h"

namespace uippack::platform {
namespace {

struct DirCloser {
  void operator()(DIR* directory) const { ::closedir(directory); }
};

using FileId = std::pair<dev_t, ino_t>;

FileId IdOf(const struct stat& info) { return {info.st_dev, info.st_ino}; }

// Permission bits only: set-id bits of a copied file would hand out its owner's rights. The
// owner may always write, since the run rewrites its copy in place.
mode_t CopiedMode(const struct stat& info) { return (info.st_mode & 01777) | S_IRUSR | S_IWUSR; }

// Keeps the access and modification times of the original, as cp -p and xcopy do.
void CopyTimes(int fd, const struct stat& info) {
#if defined(__APPLE__)
  const timespec times[2] = {info.st_atimespec, info.st_mtimespec};
#else
  const timespec times[2] = {info.st_atim, info.st_mtim};
#endif
  ::futimens(fd, times);
}

class TreeCopier {
 public:
  // A note on standard error for what is left out; the console lines stay those of the run.
  void Note(const std::string& path, const char* what) {
    const std::string line = "uippack: " + path + ": " + what + "\n";
    WriteAll(STDERR_FILENO, line.data(), line.size());
  }

  void NoteError(const std::string& path, const char* what) {
    Note(path, (std::string(what) + ": " + std::strerror(errno)).c_str());
  }

  // Copies the content of the directory `source` (open) into `destination` (open).
  // `sourcePath` is only for notes.
  void CopyDirectory(int source, int destination, const std::string& sourcePath) {
    OwnedHandle listingFd(::dup(source));
    if (!listingFd.IsOpen()) return NoteError(sourcePath, "cannot be listed");
    std::unique_ptr<DIR, DirCloser> listing(::fdopendir(listingFd.Get()));
    if (!listing) return NoteError(sourcePath, "cannot be listed");
    listingFd.Release();  // closedir closes it now
    while (true) {
      errno = 0;
      const dirent* found = ::readdir(listing.get());
      if (found == nullptr) {
        if (errno != 0) NoteError(sourcePath, "cannot be listed");
        return;
      }
      const char* name = found->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      CopyEntry(source, destination, name, sourcePath + "/" + name);
    }
  }

  void CopyEntry(int sourceDir, int destinationDir, const char* name, const std::string& path) {
    // stat, not open, decides what the entry is: opening a device or a FIFO can block or act.
    struct stat info {};
    if (::fstatat(sourceDir, name, &info, 0) != 0) {
      return NoteError(path, "skipped, cannot be read (a link that leads nowhere?)");
    }
    if (S_ISDIR(info.st_mode)) return CopySubdirectory(sourceDir, destinationDir, name, path, info);
    if (S_ISREG(info.st_mode)) return CopyFile(sourceDir, destinationDir, name, path, info);
    Note(path, "skipped, neither a regular file nor a directory");
  }

  void CopySubdirectory(int sourceDir, int destinationDir, const char* name,
                        const std::string& path, const struct stat& expected) {
    // A directory met again below itself (a loop) or one of the copy's own directories (a link
    // into the destination) would make the copy endless.
    if (activeSources_.count(IdOf(expected)) != 0 || destinations_.count(IdOf(expected)) != 0) {
      return Note(path, "skipped, a link back into a directory being copied");
    }
    const OwnedHandle source(
        ::openat(sourceDir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!source.IsOpen() || ::fstat(source.Get(), &info) != 0 || IdOf(info) != IdOf(expected)) {
      return NoteError(path, "skipped, cannot be opened");
    }
    const OwnedHandle destination = OpenDestinationDirectory(destinationDir, name);
    if (!destination.IsOpen()) return NoteError(path, "skipped, cannot be created in the copy");
    activeSources_.insert(IdOf(info));
    CopyDirectory(source.Get(), destination.Get(), path);
    activeSources_.erase(IdOf(info));
    ::fchmod(destination.Get(), CopiedMode(info) | S_IXUSR);
    CopyTimes(destination.Get(), info);
  }

  // The directory `name` in the copy, made when missing. Whatever else stands there (a file, a
  // link) is replaced, never followed.
  OwnedHandle OpenDestinationDirectory(int parent, const char* name) {
    if (::mkdirat(parent, name, S_IRWXU) != 0 && errno == EEXIST) {
      struct stat existing {};
      if (::fstatat(parent, name, &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
          !S_ISDIR(existing.st_mode) && ::unlinkat(parent, name, 0) == 0) {
        ::mkdirat(parent, name, S_IRWXU);
      }
    }
    return OpenDestinationDirectoryAt(parent, name);
  }

  OwnedHandle OpenDestinationDirectoryAt(int parent, const char* name) {
    OwnedHandle directory(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (directory.IsOpen() && ::fstat(directory.Get(), &info) == 0) {
      destinations_.insert(IdOf(info));
    }
    return directory;
  }

  void CopyFile(int sourceDir, int destinationDir, const char* name, const std::string& path,
                const struct stat& expected) {
    // O_NONBLOCK: if the entry was swapped for a FIFO since the stat, the open must not wait.
    const OwnedHandle source(
        ::openat(sourceDir, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (!source.IsOpen() || ::fstat(source.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        IdOf(info) != IdOf(expected)) {
      return NoteError(path, "skipped, cannot be opened");
    }
    // A new file every time: an old one, or a link in its place, may lead out of the copy
    // (a hard link shares its content with a file elsewhere).
    struct stat existing {};
    if (::fstatat(destinationDir, name, &existing, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISDIR(existing.st_mode))
        return Note(path, "skipped, a directory of that name is in the copy");
      ::unlinkat(destinationDir, name, 0);
    }
    const OwnedHandle destination(::openat(destinationDir, name,
                                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                           S_IRUSR | S_IWUSR));
    if (!destination.IsOpen()) return NoteError(path, "skipped, cannot be created in the copy");
    if (!CopyContent(source.Get(), destination.Get(), info.st_size)) {
      NoteError(path, "copied only in part");
    }
    ::fchmod(destination.Get(), CopiedMode(info));
    CopyTimes(destination.Get(), info);
  }

  // Copies the size bytes the file held when it was opened. Holes stay holes, so a sparse file
  // cannot fill the disk, and the data between them moves in the kernel where it can.
  static bool CopyContent(int source, int destination, off_t size) {
    off_t position = 0;
    while (position < size) {
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
      off_t dataStart = ::lseek(source, position, SEEK_DATA);
      if (dataStart < 0 && errno == ENXIO) break;  // only a hole is left
      if (dataStart < 0) dataStart = position;     // the file system knows no holes
      if (dataStart >= size) break;
      off_t dataEnd = std::min(size, std::max(dataStart, ::lseek(source, dataStart, SEEK_HOLE)));
      if (dataEnd == dataStart) dataEnd = size;
#else
      const off_t dataStart = position;
      const off_t dataEnd = size;
#endif
      if (::lseek(source, dataStart, SEEK_SET) < 0 ||
          ::lseek(destination, dataStart, SEEK_SET) < 0 ||
          !CopyRange(source, destination, dataEnd - dataStart)) {
        return false;
      }
      position = dataEnd;
    }
    return ::ftruncate(destination, size) == 0;
  }

  // Moves length bytes from the source's position to the destination's. False when the source
  // ends first (it shrank while it was copied) or a write fails.
  static bool CopyRange(int source, int destination, off_t length) {
#if defined(__linux__)
    while (length > 0) {
      const ssize_t sent =
          ::sendfile(destination, source, nullptr, static_cast<std::size_t>(length));
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && (errno == EINVAL || errno == ENOSYS)) break;  // take the plain way
      if (sent <= 0) return false;
      length -= sent;
    }
#endif
    char buffer[64 * 1024];
    while (length > 0) {
      // Whatever one read gives goes out before the next, so a source that shrank mid-copy still
      // leaves every byte it had in the copy.
      const ssize_t got =
          ::read(source, buffer, static_cast<std::size_t>(std::min<off_t>(length, sizeof buffer)));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      if (!WriteAll(destination, buffer, static_cast<std::size_t>(got))) return false;
      length -= got;
    }
    return true;
  }

  std::set<FileId> activeSources_;
  std::set<FileId> destinations_;
};

}  // namespace

bool CopyTreeFollowingLinks(const std::wstring& source, const std::wstring& destination) {
  const std::string sourcePath = WideToNarrow(source);
  const std::string destinationPath = WideToNarrow(destination);
  // The two roots are taken as given, links included: they are the user's own choice.
  const OwnedHandle sourceRoot(
      ::open(sourcePath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
  if (!sourceRoot.IsOpen()) return false;
  // Only the last level is made, as cp does: a destination whose parent is missing is an error.
  const bool created = ::mkdir(destinationPath.c_str(), S_IRWXU) == 0;
  if (!created && errno != EEXIST) return false;
  const OwnedHandle destinationRoot(
      ::open(destinationPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat sourceInfo {};
  struct stat destinationInfo {};
  if (!destinationRoot.IsOpen() || ::fstat(sourceRoot.Get(), &sourceInfo) != 0 ||
      ::fstat(destinationRoot.Get(), &destinationInfo) != 0) {
    return false;
  }
  TreeCopier copier;
  copier.destinations_.insert(IdOf(destinationInfo));
  copier.activeSources_.insert(IdOf(sourceInfo));
  copier.CopyDirectory(sourceRoot.Get(), destinationRoot.Get(), sourcePath);
  if (created) {
    ::fchmod(destinationRoot.Get(), CopiedMode(sourceInfo) | S_IXUSR);
    CopyTimes(destinationRoot.Get(), sourceInfo);
  }
  return true;
}

}  // namespace uippack::platform
