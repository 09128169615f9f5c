#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file.h"
#include "platform/text.h"

namespace uippack::platform {

bool ReadOnlyFile::Open(const std::wstring& path, std::string* error) {
  handle_.Close();
  // O_NONBLOCK: opening a FIFO must not wait for a writer. O_NOFOLLOW: a link is refused.
  int fd;
  do {
    fd = ::open(WideToNarrow(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
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
  while (*got < length) {
    const ssize_t n = ::pread(handle_.Get(), static_cast<char*>(buffer) + *got, length - *got,
                              static_cast<off_t>(offset + *got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::strerror(errno);
      return false;
    }
    if (n == 0) break;
    *got += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace uippack::platform
