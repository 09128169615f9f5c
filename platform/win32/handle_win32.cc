// OwnedHandle and the whole-buffer loops on Win32 handles.
#include <windows.h>

#include <algorithm>
#include <type_traits>

#include "platform/handle.h"

namespace uippack::platform {
namespace {

static_assert(std::is_same_v<OwnedHandle::Native, HANDLE>);

// ReadFile and WriteFile move at most a DWORD per call.
constexpr std::size_t kLargestTransfer = 0x40000000;

DWORD ChunkOf(std::size_t length) { return static_cast<DWORD>(std::min(length, kLargestTransfer)); }

}  // namespace

OwnedHandle::OwnedHandle(Native handle)
    : handle_(handle == INVALID_HANDLE_VALUE ? kNone : handle) {}

void OwnedHandle::Close() {
  if (IsOpen()) CloseHandle(Release());
}

bool WriteAll(OwnedHandle::Native handle, const void* data, std::size_t length) {
  const auto* at = static_cast<const char*>(data);
  while (length > 0) {
    DWORD put = 0;
    if (!WriteFile(handle, at, ChunkOf(length), &put, nullptr) || put == 0) return false;
    at += put;
    length -= put;
  }
  return true;
}

bool ReadAll(OwnedHandle::Native handle, void* buffer, std::size_t length) {
  auto* at = static_cast<char*>(buffer);
  while (length > 0) {
    DWORD got = 0;
    // No byte read without an error is the end of the file.
    if (!ReadFile(handle, at, ChunkOf(length), &got, nullptr) || got == 0) return false;
    at += got;
    length -= got;
  }
  return true;
}

}  // namespace uippack::platform
