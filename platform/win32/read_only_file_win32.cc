#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/file.h"

namespace uippack::platform {
namespace {

std::string LastErrorText() { return "Windows error " + std::to_string(GetLastError()); }

}  // namespace

bool ReadOnlyFile::Open(const std::wstring& path, std::string* error) {
  handle_.Close();
  // The reparse point itself, not its target: a link in a file's place is refused below.
  HANDLE handle = CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = LastErrorText();
    return false;
  }
  OwnedHandle file(handle);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) {
    *error = LastErrorText();
    return false;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    *error = "not a regular file";
    return false;
  }
  handle_ = std::move(file);
  size_ = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  return true;
}

bool ReadOnlyFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t length, std::size_t* got,
                          std::string* error) const {
  *got = 0;
  while (*got < length) {
    const std::uint64_t at = offset + *got;
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD read = 0;
    const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(length - *got, 1u << 30));
    if (!ReadFile(handle_.Get(), static_cast<char*>(buffer) + *got, asked, &read, &position)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      *error = LastErrorText();
      return false;
    }
    if (read == 0) break;
    *got += read;
  }
  return true;
}

}  // namespace uippack::platform
