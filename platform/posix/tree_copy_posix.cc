// The tree copy for POSIX. It does what xcopy does on Windows, where the copier reads through
// links: the copy holds only real directories and regular files, so every later write of the
// run lands inside the destination. Two more things hold here:
// - The destination belongs to the run. Every directory on its path is one that only root or
//   this user can change, an existing destination holds only directories of this user that
//   nobody else may write to, and what the copy makes is never writable by anybody else. So no
//   path that a later step uses can be swapped for a link by another user while the run works.
// - The copy is bounded whatever the tree: it walks with a stack of its own, holds a fixed number
//   of descriptors (a level is reopened through "..", checked by its identity), keeps only the
//   names still to copy, and refuses paths longer than the system takes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/sendfile.h>
#include <sys/vfs.h>
#endif

#include "platform/handle.h"
#include "platform/text.h"
#include "platform/tree_copy.h"

namespace uippack::platform {
namespace {

using FileId = std::pair<dev_t, ino_t>;

FileId IdOf(const struct stat& info) { return {info.st_dev, info.st_ino}; }

constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

void Note(const NoteSink& note, const std::string& path, const std::string& what) {
  note(NarrowToWide(path + ": " + what));
}

void NoteError(const NoteSink& note, const std::string& path, const std::string& what) {
  Note(note, path, what + ": " + std::strerror(errno));
}

// What the copy gives a copied entry: the original's permission bits less the user's umask, less
// set-id bits (they would hand out the owner's rights) and less any write right of others, so
// nobody else can change what the run works on. The owner may always write, since the run
// rewrites its copy in place.
class CopiedModes {
 public:
  CopiedModes() : umask_(::umask(0)) { ::umask(umask_); }
  mode_t Of(const struct stat& original, mode_t ownerBits) const {
    return (original.st_mode & 0777 & ~umask_ & ~kWritableByOthers) | ownerBits;
  }
  mode_t ForNewParent() const { return 0777 & ~umask_ & ~kWritableByOthers; }

 private:
  mode_t umask_;
};

// Keeps the access and modification times of the original, as cp -p and xcopy do.
void CopyTimes(int fd, const struct stat& info) {
#if defined(__APPLE__)
  const timespec times[] = {info.st_atimespec, info.st_mtimespec};
#else
  const timespec times[] = {info.st_atim, info.st_mtim};
#endif
  ::futimens(fd, times);
}

OwnedHandle OpenDirectoryAt(int parent, const char* name, int extraFlags) {
  return OwnedHandle(
      ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK | extraFlags));
}

bool SameAs(int fd, const FileId& expected) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && IdOf(info) == expected;
}

// The names in an open directory, read whole so that its listing is closed before the walk goes
// deeper; last name first, so the walk takes them from the back in listing order.
bool ReadNames(int directory, std::vector<std::string>* names) {
  OwnedHandle listingFd(::dup(directory));
  if (!listingFd.IsOpen()) return false;
  DIR* listing = ::fdopendir(listingFd.Get());
  if (listing == nullptr) return false;
  listingFd.Release();  // closedir closes it now
  ::rewinddir(listing);
  names->clear();
  bool complete = true;
  while (true) {
    errno = 0;
    const dirent* found = ::readdir(listing);
    if (found == nullptr) {
      complete = errno == 0;
      break;
    }
    if (std::strcmp(found->d_name, ".") != 0 && std::strcmp(found->d_name, "..") != 0) {
      names->emplace_back(found->d_name);
    }
  }
  ::closedir(listing);
  std::reverse(names->begin(), names->end());
  return complete;
}

// File systems made up by the kernel (/proc, /sys, /dev and the like): never entered, since
// they are endless, change while they are read, or act when they are read.
class PseudoFileSystems {
 public:
  PseudoFileSystems() {
    struct stat root {};
    if (::stat("/", &root) != 0) return;
    for (const char* mountPoint : {"/proc", "/sys", "/dev", "/dev/pts", "/dev/shm"}) {
      struct stat info {};
      if (::stat(mountPoint, &info) == 0 && info.st_dev != root.st_dev) {
        pseudo_.insert(info.st_dev);
      }
    }
    real_.insert(root.st_dev);
  }

  bool Contains(int directory, const struct stat& info) {
    if (pseudo_.count(info.st_dev) != 0) return true;
    if (real_.count(info.st_dev) != 0) return false;
    const bool pseudo = IsPseudo(directory);
    (pseudo ? pseudo_ : real_).insert(info.st_dev);
    return pseudo;
  }

 private:
  static bool IsPseudo([[maybe_unused]] int directory) {
#if defined(__linux__)
    struct statfs info {};
    if (::fstatfs(directory, &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
      case 0x9fa0:      // proc
      case 0x62656572:  // sysfs
      case 0x1cd1:      // devpts
      case 0x27e0eb:    // cgroup
      case 0x63677270:  // cgroup2
      case 0x64626720:  // debugfs
      case 0x74726163:  // tracefs
      case 0x73636673:  // securityfs
      case 0xcafe4a11:  // bpf
      case 0x6165676c:  // pstore
      case 0x62656570:  // configfs
      case 0xde5e81e4:  // efivarfs
      case 0xf97cff8c:  // selinuxfs
      case 0x42494e4d:  // binfmt_misc
      case 0x65735543:  // fusectl
      case 0x19800202:  // mqueue
      case 0x6e736673:  // nsfs
        return true;
      default:
        return false;
    }
#else
    return false;
#endif
  }

  std::set<dev_t> pseudo_;
  std::set<dev_t> real_;
};

// ---------------------------------------------------------------------------------------------
// The destination's surroundings.

// A directory that only root or this user can change: anyone else who can rename entries in a
// directory on the destination's path could swap the destination for a link while the run works.
// The sticky bit keeps others from renaming this user's entries.
bool CheckPathDirectory(const NoteSink& note, const std::string& path, const struct stat& info) {
  if (info.st_uid != 0 && info.st_uid != ::geteuid()) {
    Note(note, path, "refused: another user owns this directory on the destination's path");
    return false;
  }
  if ((info.st_mode & kWritableByOthers) != 0 && (info.st_mode & S_ISVTX) == 0) {
    Note(note, path, "refused: other users may write to this directory on the destination's path");
    return false;
  }
  return true;
}

// Every directory from the resolved directory up to the root.
bool CheckDirectoriesUpFrom(const NoteSink& note, const std::string& resolved) {
  std::string path = resolved;
  while (true) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      NoteError(note, path, "cannot be examined");
      return false;
    }
    if (!CheckPathDirectory(note, path, info)) return false;
    const std::size_t slash = path.find_last_of('/');
    if (path == "/" || slash == std::string::npos) return true;
    path = slash == 0 ? std::string("/") : path.substr(0, slash);
  }
}

// In an existing destination, every directory must be this user's and writable by nobody else:
// the run works on all of it.
bool IsPrivateDirectory(const NoteSink& note, const std::string& path, const struct stat& info) {
  if (info.st_uid != ::geteuid()) {
    Note(note, path, "refused: the destination holds a directory of another user");
    return false;
  }
  if ((info.st_mode & kWritableByOthers) != 0) {
    Note(note, path, "refused: other users may write to this directory of the destination");
    return false;
  }
  return true;
}

// One level of a walk: the directory's name in its parent, its identity and the names still to
// visit in it.
struct WalkLevel {
  std::string name;
  FileId id;
  std::vector<std::string> pending;
};

// The path of name in the deepest of levels, for notes: the walks keep names, not paths, so that
// their memory does not grow with depth times path length.
template <typename Level>
std::string WalkPathOf(const std::string& root, const std::vector<Level>& levels,
                       const std::string& name) {
  std::string path = root;
  for (std::size_t i = 1; i < levels.size(); ++i) path += "/" + levels[i].name;
  return name.empty() ? path : path + "/" + name;
}

// Walks the real directories of an existing destination (links are not followed) with a stack
// of its own, two descriptors at a time.
bool CheckExistingDestination(const NoteSink& note, int root, const std::string& rootPath) {
  OwnedHandle current(::dup(root));
  struct stat info {};
  if (!current.IsOpen() || ::fstat(current.Get(), &info) != 0) {
    NoteError(note, rootPath, "cannot be examined");
    return false;
  }
  if (!IsPrivateDirectory(note, rootPath, info)) return false;
  std::vector<WalkLevel> levels(1);
  levels[0].id = IdOf(info);
  if (!ReadNames(current.Get(), &levels[0].pending)) {
    NoteError(note, rootPath, "cannot be listed");
    return false;
  }
  while (!levels.empty()) {
    WalkLevel& level = levels.back();
    if (level.pending.empty()) {
      levels.pop_back();
      if (levels.empty()) break;
      current = OpenDirectoryAt(current.Get(), "..", 0);
      if (!current.IsOpen() || !SameAs(current.Get(), levels.back().id)) {
        Note(note, WalkPathOf(rootPath, levels, ""),
             "refused: the destination changed while it was examined");
        return false;
      }
      continue;
    }
    const std::string name = std::move(level.pending.back());
    level.pending.pop_back();
    struct stat entry {};
    if (::fstatat(current.Get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      NoteError(note, WalkPathOf(rootPath, levels, name), "cannot be examined");
      return false;
    }
    if (!S_ISDIR(entry.st_mode)) continue;
    const std::string path = WalkPathOf(rootPath, levels, name);
    if (!IsPrivateDirectory(note, path, entry)) return false;
    OwnedHandle child = OpenDirectoryAt(current.Get(), name.c_str(), O_NOFOLLOW);
    WalkLevel next{name, IdOf(entry), {}};
    if (!child.IsOpen() || !SameAs(child.Get(), next.id) ||
        !ReadNames(child.Get(), &next.pending)) {
      NoteError(note, path, "cannot be examined");
      return false;
    }
    current = std::move(child);
    levels.push_back(std::move(next));
  }
  return true;
}

// The destination's root, open: missing levels are made as mkdir -p makes them (but writable by
// nobody else), after every existing directory on its path has been checked, and an existing
// destination must be private from top to bottom. *created tells whether the last level was made.
OwnedHandle OpenDestination(const NoteSink& note, const std::string& path, const CopiedModes& modes,
                            bool* created) {
  *created = false;
  // The longest part of the path that exists.
  std::string existing = path;
  std::vector<std::string> missing;
  struct stat info {};
  while (::stat(existing.c_str(), &info) != 0) {
    if (errno != ENOENT) {
      NoteError(note, existing, "cannot be examined");
      return OwnedHandle();
    }
    while (existing.size() > 1 && existing.back() == '/') existing.pop_back();
    const std::size_t slash = existing.find_last_of('/');
    missing.push_back(slash == std::string::npos ? existing : existing.substr(slash + 1));
    existing = slash == std::string::npos ? "." : slash == 0 ? "/" : existing.substr(0, slash);
  }
  // Links on the way are the user's own choice: the directories they lead to are checked.
  char resolvedBuffer[PATH_MAX];
  if (::realpath(existing.c_str(), resolvedBuffer) == nullptr) {
    NoteError(note, existing, "cannot be examined");
    return OwnedHandle();
  }
  std::string resolved = resolvedBuffer;
  const bool destinationExists = missing.empty();
  if (destinationExists) {
    const std::size_t slash = resolved.find_last_of('/');
    const std::string parent = slash == 0 ? "/" : resolved.substr(0, slash);
    if (resolved != "/" && !CheckDirectoriesUpFrom(note, parent)) return OwnedHandle();
  } else if (!CheckDirectoriesUpFrom(note, resolved)) {
    return OwnedHandle();
  }
  // Every directory from here on is one only root or this user can change: its path can be
  // taken as it is, and no link is followed inside it.
  OwnedHandle directory(
      ::open(resolved.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!directory.IsOpen()) {
    NoteError(note, path, "cannot be opened as the destination");
    return OwnedHandle();
  }
  if (destinationExists) {
    return CheckExistingDestination(note, directory.Get(), path) ? std::move(directory)
                                                                 : OwnedHandle();
  }
  for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
    const bool last = level + 1 == missing.rend();
    if (*level == "." || *level == "..") {
      Note(note, path, "cannot be made: its missing part names \".\" or \"..\"");
      return OwnedHandle();
    }
    if (::mkdirat(directory.Get(), level->c_str(), last ? S_IRWXU : modes.ForNewParent()) != 0) {
      NoteError(note, path, "cannot be made");
      return OwnedHandle();
    }
    directory = OpenDirectoryAt(directory.Get(), level->c_str(), O_NOFOLLOW);
    if (!directory.IsOpen()) {
      NoteError(note, path, "cannot be made");
      return OwnedHandle();
    }
  }
  *created = true;
  return directory;
}

// ---------------------------------------------------------------------------------------------
// The copy.

class TreeCopier {
 public:
  TreeCopier(std::string sourcePath, std::size_t destinationPathLength, const NoteSink& note)
      : sourcePath_(std::move(sourcePath)),
        destinationPathLength_(destinationPathLength),
        note_(note) {}

  // Copies the content of the open directory sourceRoot into destinationRoot. False when
  // anything that should have been copied was not.
  bool Run(int sourceRoot, int destinationRoot) {
    struct stat sourceInfo {};
    struct stat destinationInfo {};
    sourceRoot_ = OwnedHandle(::dup(sourceRoot));
    source_ = OwnedHandle(::dup(sourceRoot));
    destination_ = OwnedHandle(::dup(destinationRoot));
    if (!sourceRoot_.IsOpen() || !source_.IsOpen() || !destination_.IsOpen() ||
        ::fstat(sourceRoot, &sourceInfo) != 0 || ::fstat(destinationRoot, &destinationInfo) != 0) {
      NoteError(note_, sourcePath_, "cannot be copied");
      return false;
    }
    NoteAncestorsOfSource();
    CopyLevel root;
    root.source = IdOf(sourceInfo);
    root.destination = IdOf(destinationInfo);
    if (!ReadNames(source_.Get(), &root.pending)) FailError(sourcePath_, "cannot be listed");
    levels_.push_back(std::move(root));
    while (!levels_.empty()) {
      CopyLevel& level = levels_.back();
      if (level.pending.empty()) {
        if (!Leave()) break;
        continue;
      }
      const std::string name = std::move(level.pending.back());
      level.pending.pop_back();
      CopyEntry(name);
    }
    return !failed_;
  }

 private:
  struct CopyLevel {
    std::string name;           // in its parent; empty for the root
    FileId source;              // the directory copied
    FileId destination;         // its copy
    struct stat sourceInfo {};  // its mode and times, given to the copy once it is complete
    std::vector<std::string> pending;
  };

  // What is left out on purpose (a FIFO, a dangling link, a loop) gets a note; what could not be
  // copied also fails the copy.
  void Fail(const std::string& path, const std::string& what) {
    Note(note_, path, what);
    failed_ = true;
  }
  void FailError(const std::string& path, const std::string& what) {
    NoteError(note_, path, what);
    failed_ = true;
  }

  std::string PathOf(const std::string& name) const {
    return WalkPathOf(sourcePath_, levels_, name);
  }

  // The source's own ancestors up to the file system's root: a link to one of them would copy
  // the source into itself, or the whole system into the package. The walk up ends at the root,
  // whose ".." is itself, or where a level cannot be opened (fstat then fails).
  void NoteAncestorsOfSource() {
    OwnedHandle directory(::dup(sourceRoot_.Get()));
    for (;;) {
      struct stat info {};
      if (::fstat(directory.Get(), &info) != 0 || !ancestors_.insert(IdOf(info)).second) return;
      directory = OpenDirectoryAt(directory.Get(), "..", 0);
    }
  }

  bool IsLoop(const FileId& id) const {
    if (ancestors_.count(id) != 0) return true;
    return std::any_of(levels_.begin(), levels_.end(), [&](const CopyLevel& level) {
      return level.source == id || level.destination == id;
    });
  }

  void CopyEntry(const std::string& name) {
    const std::string path = PathOf(name);
    if (destinationPathLength_ + pathLength_ + 1 + name.size() >= PATH_MAX) {
      return Fail(path, "not copied, its path in the copy would be longer than the system takes");
    }
    struct stat info {};
    if (::fstatat(source_.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return FailError(path, "not copied, it cannot be read");
    }
    // stat, not open, decides what the entry is: opening a device or a FIFO can block or act.
    if (S_ISLNK(info.st_mode) && ::fstatat(source_.Get(), name.c_str(), &info, 0) != 0) {
      if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR) {
        return Note(note_, path, "skipped, a link that leads nowhere");
      }
      return FailError(path, "not copied, where its link leads cannot be read");
    }
    if (S_ISDIR(info.st_mode)) return Enter(name, path, info);
    if (S_ISREG(info.st_mode)) return CopyFile(name, path, info);
    Note(note_, path, "skipped, neither a regular file nor a directory");
  }

  // Goes down into the subdirectory name: it becomes the level the walk works on.
  void Enter(const std::string& name, const std::string& path, const struct stat& expected) {
    if (IsLoop(IdOf(expected))) {
      return Note(note_, path, "skipped, a link back into a directory being copied or above it");
    }
    OwnedHandle source = OpenDirectoryAt(source_.Get(), name.c_str(), 0);
    if (!source.IsOpen()) return FailError(path, "not copied, it cannot be opened");
    if (!SameAs(source.Get(), IdOf(expected))) {
      return Fail(path, "not copied, it changed while it was copied");
    }
    if (pseudo_.Contains(source.Get(), expected)) {
      return Note(note_, path,
                  "skipped, a file system of the kernel's (such as /proc, /sys or /dev)");
    }
    OwnedHandle destination = OpenDestinationDirectory(name);
    struct stat destinationInfo {};
    if (!destination.IsOpen() || ::fstat(destination.Get(), &destinationInfo) != 0) {
      return FailError(path, "not copied, it cannot be made in the copy");
    }
    CopyLevel level;
    level.name = name;
    level.source = IdOf(expected);
    level.destination = IdOf(destinationInfo);
    level.sourceInfo = expected;
    if (!ReadNames(source.Get(), &level.pending)) {
      FailError(path, "not copied whole, it cannot be listed");
    }
    source_ = std::move(source);
    destination_ = std::move(destination);
    pathLength_ += name.size() + 1;
    levels_.push_back(std::move(level));
  }

  // The level is complete: its copy gets the original's mode and times, and the walk goes back
  // up. The parents are reopened through "..": the copy's own directories are real and nobody
  // else can change them, and a source directory reached through a link, whose ".." is another
  // directory, is found again from the source's root by its names.
  bool Leave() {
    CopyLevel done = std::move(levels_.back());
    levels_.pop_back();
    if (levels_.empty()) return false;
    ::fchmod(destination_.Get(), modes_.Of(done.sourceInfo, S_IRWXU));
    CopyTimes(destination_.Get(), done.sourceInfo);
    pathLength_ -= done.name.size() + 1;
    destination_ = OpenDirectoryAt(destination_.Get(), "..", 0);
    if (!destination_.IsOpen() || !SameAs(destination_.Get(), levels_.back().destination)) {
      Fail(PathOf(""), "the copy stopped: its destination changed while it was made");
      return false;
    }
    source_ = OpenDirectoryAt(source_.Get(), "..", 0);
    if (source_.IsOpen() && SameAs(source_.Get(), levels_.back().source)) return true;
    source_ = OwnedHandle(::dup(sourceRoot_.Get()));
    for (std::size_t i = 1; i < levels_.size() && source_.IsOpen(); ++i) {
      source_ = OpenDirectoryAt(source_.Get(), levels_[i].name.c_str(), 0);
    }
    if (!source_.IsOpen() || !SameAs(source_.Get(), levels_.back().source)) {
      Fail(PathOf(""), "the copy stopped: the source changed while it was copied");
      return false;
    }
    return true;
  }

  // The directory name in the copy, made when missing. Whatever else stands there (a file, a
  // link) is replaced, never followed. A failed make is given up at once, so that errno still
  // says why.
  OwnedHandle OpenDestinationDirectory(const std::string& name) {
    const int parent = destination_.Get();
    if (::mkdirat(parent, name.c_str(), S_IRWXU) != 0) {
      if (errno != EEXIST) return OwnedHandle();
      struct stat existing {};
      if (::fstatat(parent, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
          !S_ISDIR(existing.st_mode) && ::unlinkat(parent, name.c_str(), 0) == 0) {
        ::mkdirat(parent, name.c_str(), S_IRWXU);
      }
    }
    return OpenDirectoryAt(parent, name.c_str(), O_NOFOLLOW);
  }

  void CopyFile(const std::string& name, const std::string& path, const struct stat& expected) {
    // O_NONBLOCK: if the entry was swapped for a FIFO since the stat, the open must not wait.
    const OwnedHandle source(
        ::openat(source_.Get(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (!source.IsOpen() || ::fstat(source.Get(), &info) != 0) {
      return FailError(path, "not copied, it cannot be opened");
    }
    if (!S_ISREG(info.st_mode) || IdOf(info) != IdOf(expected)) {
      return Fail(path, "not copied, it changed while it was copied");
    }
    // A new file every time: an old one, or a link in its place, may lead out of the copy
    // (a hard link shares its content with a file elsewhere). A fresh copy has none, so what
    // stands there is only looked at when the exclusive create meets it.
    const int parent = destination_.Get();
    constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    OwnedHandle destination(::openat(parent, name.c_str(), kCreate, S_IRUSR | S_IWUSR));
    struct stat existing {};
    if (!destination.IsOpen() && errno == EEXIST &&
        ::fstatat(parent, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISDIR(existing.st_mode)) {
        return Fail(path, "not copied, a directory of that name is in the copy");
      }
      ::unlinkat(parent, name.c_str(), 0);
      destination = OwnedHandle(::openat(parent, name.c_str(), kCreate, S_IRUSR | S_IWUSR));
    }
    if (!destination.IsOpen()) return FailError(path, "not copied, it cannot be made in the copy");
    if (!CopyContent(source.Get(), destination.Get(), info.st_size)) {
      return FailError(path, "copied only in part");
    }
    ::fchmod(destination.Get(), modes_.Of(info, S_IRUSR | S_IWUSR));
    CopyTimes(destination.Get(), info);
  }

  // Copies the size bytes the file held when it was opened. Holes stay holes, so a sparse file
  // cannot fill the disk, and the data between them moves in the kernel where it can.
  static bool CopyContent(int source, int destination, off_t size) {
    off_t position = 0;
    off_t written = 0;  // where the destination stands
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
          (dataStart != written && ::lseek(destination, dataStart, SEEK_SET) < 0) ||
          !CopyRange(source, destination, dataEnd - dataStart)) {
        return false;
      }
      position = written = dataEnd;
    }
    // A hole at the end is made by the length alone.
    return written == size || ::ftruncate(destination, size) == 0;
  }

  // Moves length bytes from the source's position to the destination's. False when the source
  // ends first (it shrank while it was copied) or a write fails.
  static bool CopyRange(int source, int destination, off_t length) {
#if defined(__linux__)
    while (length > 0) {
      const ssize_t sent =
          ::sendfile(destination, source, nullptr, static_cast<std::size_t>(length));
      // The plain way also takes what sendfile cannot, and meets any real error again.
      if (sent < 0) break;
      if (sent == 0) {
        errno = ENODATA;  // the file shrank
        return false;
      }
      length -= sent;
    }
#endif
    char buffer[64 * 1024];
    while (length > 0) {
      // Whatever one read gives goes out before the next, so a source that shrank mid-copy still
      // leaves every byte it had in the copy.
      const ssize_t got =
          ::read(source, buffer, static_cast<std::size_t>(std::min<off_t>(length, sizeof buffer)));
      if (got == 0) errno = ENODATA;
      if (got <= 0) return false;
      if (!WriteAll(destination, buffer, static_cast<std::size_t>(got))) return false;
      length -= got;
    }
    return true;
  }

  const std::string sourcePath_;
  const std::size_t destinationPathLength_;
  const NoteSink& note_;
  std::size_t pathLength_ = 0;  // of the current level below the roots, separators included
  OwnedHandle sourceRoot_;
  OwnedHandle source_;       // the level being copied
  OwnedHandle destination_;  // its copy
  std::vector<CopyLevel> levels_;
  std::set<FileId> ancestors_;
  PseudoFileSystems pseudo_;
  CopiedModes modes_;
  bool failed_ = false;
};

}  // namespace

bool CopyTreeFollowingLinks(const std::wstring& source, const std::wstring& destination,
                            const NoteSink& note) {
  const std::string sourcePath = WideToNarrow(source);
  const std::string destinationPath = WideToNarrow(destination);
  // The source root is taken as given, links included: it is the user's own choice.
  const OwnedHandle sourceRoot(
      ::open(sourcePath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
  if (!sourceRoot.IsOpen()) {
    NoteError(note, sourcePath, "cannot be opened as the source");
    return false;
  }
  const CopiedModes modes;
  bool created = false;
  const OwnedHandle destinationRoot = OpenDestination(note, destinationPath, modes, &created);
  if (!destinationRoot.IsOpen()) return false;
  TreeCopier copier(sourcePath, destinationPath.size(), note);
  const bool complete = copier.Run(sourceRoot.Get(), destinationRoot.Get());
  struct stat sourceInfo {};
  if (created && ::fstat(sourceRoot.Get(), &sourceInfo) == 0) {
    ::fchmod(destinationRoot.Get(), modes.Of(sourceInfo, S_IRWXU));
    CopyTimes(destinationRoot.Get(), sourceInfo);
  }
  return complete;
}

}  // namespace uippack::platform
