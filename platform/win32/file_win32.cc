// Files on Windows: ExclusiveFile, the moves and the deletion, FileBuffer, and ReadOnlyFile.
// Share mode 0 keeps every other opener out, in this process or another, until the handle is
// closed.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

#include "platform/file.h"
#include "platform/handle.h"

namespace uippack::platform {
namespace {

OwnedHandle OpenExclusive(const std::wstring& path, DWORD access, DWORD disposition) {
  // FILE_FLAG_OPEN_REPARSE_POINT: a symbolic link or junction in the file's place is opened
  // itself, not followed, and then refused below as not being a plain file.
  OwnedHandle file(CreateFileW(path.c_str(), access, 0, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsOpen()) return file;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return OwnedHandle();
  }
  // A directory or a device is not an archive; CreateFileW opens neither without extra flags,
  // but a named pipe or a console would open.
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) return OwnedHandle();
  return file;
}

}  // namespace

ExclusiveFile ExclusiveFile::OpenForReading(const std::wstring& path) {
  ExclusiveFile file;
  file.handle_ = OpenExclusive(path, GENERIC_READ, OPEN_EXISTING);
  return file;
}

ExclusiveFile ExclusiveFile::CreateForWriting(const std::wstring& path) {
  ExclusiveFile file;
  file.handle_ = OpenExclusive(path, GENERIC_WRITE, CREATE_ALWAYS);
  return file;
}

bool ExclusiveFile::GetSize(std::uint64_t* size) const {
  if (!IsOpen()) return false;
  DWORD high = 0;
  const DWORD low = GetFileSize(handle_.Get(), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *size = (static_cast<std::uint64_t>(high) << 32) | low;
  return true;
}

bool ExclusiveFile::Read(void* buffer, std::size_t length) {
  return IsOpen() && ReadAll(handle_.Get(), buffer, length);
}

bool ExclusiveFile::Write(const void* data, std::size_t length) {
  return IsOpen() && WriteAll(handle_.Get(), data, length);
}

bool ExclusiveFile::Flush() { return IsOpen() && FlushFileBuffers(handle_.Get()) != 0; }

bool ExclusiveFile::Rewind() {
  return IsOpen() && SetFilePointer(handle_.Get(), 0, nullptr, FILE_BEGIN) == 0;
}

bool DeleteFileAt(const std::wstring& path) { return DeleteFileW(path.c_str()) != 0; }

bool MoveFileExclusive(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), 0) != 0;  // never replaces
}

// Small buffers come from the heap. Large ones are committed pages straight from VirtualAlloc,
// on large pages when the account holds the right to lock memory (the call fails otherwise and
// ordinary pages are taken); VirtualFree hands every page back at once.
FileBuffer::FileBuffer(std::size_t size) {
  constexpr std::size_t kLargeBuffer = std::size_t{2} << 20;
  if (size < kLargeBuffer) {
    data_ = new (std::nothrow) std::uint8_t[std::max<std::size_t>(size, 1)];
    if (data_ != nullptr) size_ = size;
    return;  // reserved_ stays 0: heap memory
  }
  const std::size_t largePage = GetLargePageMinimum();
  void* base = nullptr;
  std::size_t reserved = 0;
  if (largePage > 0 && size <= SIZE_MAX - largePage) {
    reserved = (size + largePage - 1) / largePage * largePage;
    base =
        VirtualAlloc(nullptr, reserved, MEM_RESERVE | MEM_COMMIT | MEM_LARGE_PAGES, PAGE_READWRITE);
  }
  if (base == nullptr) {
    reserved = size;
    base = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  }
  if (base == nullptr) return;
  data_ = static_cast<std::uint8_t*>(base);
  size_ = size;
  reserved_ = reserved;
}

FileBuffer::~FileBuffer() {
  if (reserved_ > 0) {
    VirtualFree(data_, 0, MEM_RELEASE);
  } else {
    delete[] data_;
  }
}

// ---------------------------------------------------------------------------------------------

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
  length =
      static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - std::min(offset, size_)));
  while (*got < length) {
    const std::uint64_t at = offset + *got;
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD read = 0;
    const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(length - *got, 1u << 30));
    const bool done =
        ReadFile(handle_.Get(), static_cast<char*>(buffer) + *got, asked, &read, &position) != 0;
    if (!done || read == 0) {
      *error = !done && GetLastError() != ERROR_HANDLE_EOF ? LastErrorText()
                                                           : "the file shrank while it was read";
      return false;
    }
    *got += read;
  }
  return true;
}

}  // namespace uippack::platform
