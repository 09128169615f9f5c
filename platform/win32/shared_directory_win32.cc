// Shared directories on Windows: files are named through the directory's path, and the access
// lists, not modes, keep other users out.
#include <windows.h>

#include <string>

#include "platform/shared_directory.h"
#include "platform/win32/clock_win32.h"

namespace uippack::platform {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Creates path and whatever of its parents is missing.
bool CreateLevels(std::wstring path) {
  while (path.size() > 1 && IsSeparator(path.back())) path.pop_back();
  if (DirectoryExists(path)) return true;
  const std::size_t parent = path.find_last_of(L"\\/");
  if (parent != std::wstring::npos && parent > 0 && path[parent - 1] != L':' &&
      !CreateLevels(path.substr(0, parent))) {
    return false;
  }
  return CreateDirectoryW(path.c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

bool DirectoryExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateSharedDirectory(const std::wstring& path) {
  return CreateDirectoryW(path.c_str(), nullptr) != 0;
}

bool MayCreateFilesIn(const std::wstring&) { return true; }

// ---------------------------------------------------------------------------------------------

// Files are named through the directory's path; the handle is not used here.
bool HeldDirectory::Open(const std::wstring& path) {
  path_.clear();
  if (!DirectoryExists(path)) return false;
  path_ = path;
  if (path_.back() != L'\\' && path_.back() != L'/') path_ += L'\\';
  return true;
}

// The user's own folder is theirs by its access list, which what is created in it inherits.
bool HeldDirectory::OpenPrivate(const std::wstring& path) {
  path_.clear();
  return CreateLevels(path) && Open(path);
}

bool HeldDirectory::IsOpen() const { return !path_.empty(); }

void HeldDirectory::RemoveFile(const std::wstring& name) const {
  if (IsOpen()) DeleteFileW((path_ + name).c_str());
}

// ---------------------------------------------------------------------------------------------

bool SharedAppendFile::Open(const HeldDirectory& directory, const std::wstring& name) {
  Close();
  if (!directory.IsOpen()) return false;
  const std::wstring path = directory.path_ + name;
  handle_ = OwnedHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, 0, nullptr));
  return IsOpen();
}

bool SharedAppendFile::GetCreationTime(CalendarTime* utc) const {
  if (!IsOpen()) return false;
  FILETIME created{};
  if (!GetFileTime(handle_.Get(), &created, nullptr, nullptr)) return false;
  SYSTEMTIME fields{};
  if (!FileTimeToSystemTime(&created, &fields)) return false;
  *utc = ToCalendar(fields);
  return true;
}

bool SharedAppendFile::SeekToEnd(std::uint64_t* position) {
  if (!IsOpen()) return false;
  const DWORD end = SetFilePointer(handle_.Get(), 0, nullptr, FILE_END);
  if (end == INVALID_SET_FILE_POINTER) return false;
  *position = end;
  return true;
}

bool SharedAppendFile::Write(const void* data, std::size_t length) {
  return IsOpen() && WriteAll(handle_.Get(), data, length);
}

}  // namespace uippack::platform
