// The handle lifecycle of ExclusiveFile, the same on every platform; opening, I/O and closing
// live in posix/ and win32/.
#include <utility>

#include "platform/file.h"

namespace uippack::platform {

ExclusiveFile::ExclusiveFile() : handle_(kClosedHandle) {}

ExclusiveFile::~ExclusiveFile() { Close(); }

ExclusiveFile::ExclusiveFile(ExclusiveFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosedHandle)) {}

ExclusiveFile& ExclusiveFile::operator=(ExclusiveFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kClosedHandle);
  }
  return *this;
}

bool ExclusiveFile::IsOpen() const { return handle_ != kClosedHandle; }

}  // namespace uippack::platform
