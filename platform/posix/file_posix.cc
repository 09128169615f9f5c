// Files for POSIX: ExclusiveFile, the moves and the deletion, FileBuffer, and ReadOnlyFile.
//
// Exclusivity: every opener takes flock(LOCK_EX | LOCK_NB) right after open(2) and gives up
// when another holder has it, which is the nearest POSIX match for Win32 share mode 0:
// - flock locks belong to the open file description, so a second open of the same file in
//   this process conflicts just as one from another process does. POSIX record locks
//   (fcntl F_SETLK) are per process and would let this process open the file twice, and
//   closing any descriptor of the file would drop them.
// - flock needs no write access, so a file opened only for reading is locked exclusively too.
// - The lock is advisory: programs that never ask for it (cp, the archiver) are not kept out.
//   Only openers that go through this class exclude one another.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "platform/file.h"
#include "platform/handle.h"
#include "platform/text.h"

namespace uippack::platform {
namespace {

// Opens path and takes the exclusive lock, or holds nothing. O_NONBLOCK keeps open(2) from
// hanging on a FIFO; it is cleared again once the file is known to be a regular file, the
// only kind the Win32 calls this stands for open here. O_NOFOLLOW: a link in the file's place
// is never read or written through.
OwnedHandle OpenLocked(const std::wstring& path, int flags) {
  const std::string narrow = WideToNarrow(path);
  OwnedHandle file(::open(narrow.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0666));
  if (!file.IsOpen()) return file;
  const int fd = file.Get();
  struct stat info;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    return OwnedHandle();
  }
  return file;
}

}  // namespace

ExclusiveFile ExclusiveFile::OpenForReading(const std::wstring& path) {
  ExclusiveFile file;
  file.handle_ = OpenLocked(path, O_RDONLY);
  return file;
}

ExclusiveFile ExclusiveFile::CreateForWriting(const std::wstring& path) {
  ExclusiveFile file;
  // No O_TRUNC: the file is emptied only once the lock is held, so a file someone else holds
  // is left as it is.
  OwnedHandle opened = OpenLocked(path, O_WRONLY | O_CREAT);
  if (!opened.IsOpen() || ::ftruncate(opened.Get(), 0) != 0) return file;
  file.handle_ = std::move(opened);
  return file;
}

// On a file that is not open, fstat, fsync and lseek fail by themselves (EBADF). Reads and writes
// keep their check: one of no bytes makes no call.
bool ExclusiveFile::GetSize(std::uint64_t* size) const {
  struct stat info;
  if (::fstat(handle_.Get(), &info) != 0) return false;
  *size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool ExclusiveFile::Read(void* buffer, std::size_t length) {
  return IsOpen() && ReadAll(handle_.Get(), buffer, length);
}

bool ExclusiveFile::Write(const void* data, std::size_t length) {
  return IsOpen() && WriteAll(handle_.Get(), data, length);
}

bool ExclusiveFile::Flush() { return ::fsync(handle_.Get()) == 0; }

bool ExclusiveFile::Rewind() { return ::lseek(handle_.Get(), 0, SEEK_SET) == 0; }

bool MoveFileExclusive(const std::wstring& from, const std::wstring& to) {
  const std::string source = WideToNarrow(from);
  const std::string target = WideToNarrow(to);
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  // Where it fails, the way below meets any real error again (a name already there, a source
  // gone) and answers the same.
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
#elif defined(__APPLE__)
  return ::renamex_np(source.c_str(), target.c_str(), RENAME_EXCL) == 0;
#endif
  // Where the file system cannot rename without replacing: a second name, made only where
  // nothing stands, then the first one goes.
  if (::link(source.c_str(), target.c_str()) != 0) return false;
  return ::unlink(source.c_str()) == 0;
}

bool DeleteFileAt(const std::wstring& path) {
  const std::string narrow = WideToNarrow(path);
  // Like DeleteFileW under share mode 0, a file that an exclusive holder has open is not
  // deleted. A file that cannot be opened to ask (no read permission) may still be unlinked.
  // The probe stays open, and any lock it took held, until the unlink is done.
  const OwnedHandle probe(::open(narrow.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (probe.IsOpen() && ::flock(probe.Get(), LOCK_EX | LOCK_NB) != 0) return false;
  return ::unlink(narrow.c_str()) == 0;
}

// Buffers below the large-page size come from the heap. Larger ones are anonymous mappings
// aligned to the large-page size and marked for large pages: filling 512 MiB then costs 256
// page faults instead of 131072 (each one expensive on a virtual machine), and munmap hands
// every page back at once.
FileBuffer::FileBuffer(std::size_t size) {
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  if (size < kLargePage) {
    data_ = new (std::nothrow) std::uint8_t[std::max<std::size_t>(size, 1)];
    if (data_ != nullptr) size_ = size;
    return;  // reserved_ stays 0: heap memory
  }
  if (size > std::numeric_limits<std::size_t>::max() - 2 * kLargePage) return;
  const auto pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t needed = (size + pageSize - 1) / pageSize * pageSize;
  const std::size_t mapped = needed + kLargePage;
  void* base = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return;
  // Trim the mapping to an aligned run of exactly the pages needed.
  auto* start = static_cast<std::uint8_t*>(base);
  const std::size_t head =
      (kLargePage - reinterpret_cast<std::uintptr_t>(base) % kLargePage) % kLargePage;
  if (head > 0) ::munmap(start, head);
  if (mapped - head > needed) ::munmap(start + head + needed, mapped - head - needed);
  start += head;
#ifdef MADV_HUGEPAGE
  ::madvise(start, needed, MADV_HUGEPAGE);  // a hint: without it the buffer still works
#endif
  data_ = start;
  size_ = size;
  reserved_ = needed;
}

FileBuffer::~FileBuffer() {
  if (reserved_ > 0) {
    ::munmap(data_, reserved_);
  } else {
    delete[] data_;
  }
}

// ---------------------------------------------------------------------------------------------

bool ReadOnlyFile::Open(const std::wstring& path, std::string* error) {
  handle_.Close();
  // O_NONBLOCK: opening a FIFO must not wait for a writer. O_NOFOLLOW: a link is refused.
  const int fd = ::open(WideToNarrow(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    *error = errno == ELOOP ? "a symbolic link" : std::strerror(errno);
    return false;
  }
  OwnedHandle file(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = "not a regular file";
    return false;
  }
  handle_ = std::move(file);
  size_ = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool ReadOnlyFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t length, std::size_t* got,
                          std::string* error) const {
  *got = 0;
  length =
      static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - std::min(offset, size_)));
  while (*got < length) {
    const ssize_t n = ::pread(handle_.Get(), static_cast<char*>(buffer) + *got, length - *got,
                              static_cast<off_t>(offset + *got));
    if (n <= 0) {
      *error = n < 0 ? std::strerror(errno) : "the file shrank while it was read";
      return false;
    }
    *got += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace uippack::platform
