// OwnedHandle and the whole-buffer loops on POSIX descriptors.
//
// No call in the POSIX layer is retried on EINTR: nothing in these programs installs a signal
// handler that returns without SA_RESTART, so no call is interrupted.
#include <unistd.h>

#include "platform/handle.h"

namespace uippack::platform {

OwnedHandle::OwnedHandle(Native handle) : handle_(handle < 0 ? kNone : handle) {}

void OwnedHandle::Close() {
  if (IsOpen()) ::close(Release());
}

bool WriteAll(OwnedHandle::Native handle, const void* data, std::size_t length) {
  const auto* at = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t put = ::write(handle, at, length);
    if (put <= 0) return false;
    at += put;
    length -= static_cast<std::size_t>(put);
  }
  return true;
}

bool ReadAll(OwnedHandle::Native handle, void* buffer, std::size_t length) {
  auto* at = static_cast<char*>(buffer);
  while (length > 0) {
    const ssize_t got = ::read(handle, at, length);
    if (got <= 0) return false;  // an error, or the data ended early
    at += got;
    length -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace uippack::platform
