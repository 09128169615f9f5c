// Absolute and canonical paths on Windows: GetFullPathNameW, and GetFinalPathNameByHandleW for
// the part of a path that exists.
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/handle.h"
#include "platform/path.h"

namespace uippack::platform {
namespace {

// GetFullPathNameW into a buffer grown to the size it asks for.
std::wstring FullPathName(const std::wstring& path) {
  if (path.empty()) return path;
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return path;
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);  // the size asked for includes the terminator
  }
  return path;
}

// The final path of an existing file or directory, links resolved; false when it cannot be
// opened or named.
bool FinalPath(const std::wstring& path, std::wstring* finalPath) {
  // No access rights and backup semantics: a directory opens too, and nothing is locked.
  const OwnedHandle file(CreateFileW(path.c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.IsOpen()) return false;
  std::wstring buffer(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file.Get(), buffer.data(),
                                           static_cast<DWORD>(buffer.size()), VOLUME_NAME_DOS);
  if (length >= buffer.size()) {
    buffer.resize(length);
    length = GetFinalPathNameByHandleW(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                       VOLUME_NAME_DOS);
  }
  if (length == 0 || length >= buffer.size()) return false;
  buffer.resize(length);
  // The result comes in the \\?\ form; the rest of the tool compares plain drive paths.
  constexpr std::wstring_view kLocalPrefix = L"\\\\?\\";
  constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
  if (buffer.compare(0, kUncPrefix.size(), kUncPrefix) == 0) {
    buffer.replace(0, kUncPrefix.size(), L"\\\\");
  } else if (buffer.compare(0, kLocalPrefix.size(), kLocalPrefix) == 0) {
    buffer.erase(0, kLocalPrefix.size());
  }
  *finalPath = buffer;
  return true;
}

}  // namespace

std::wstring AbsolutePath(const std::wstring& path) { return FullPathName(path); }

std::wstring CanonicalPath(const std::wstring& path) {
  // Resolve the longest part that exists; the part that does not exist yet is appended.
  std::wstring full = FullPathName(path);
  std::wstring head = full;
  while (head.size() > 3 && head.back() == L'\\') head.pop_back();
  std::wstring tail;
  while (true) {
    std::wstring resolved;
    if (FinalPath(head, &resolved)) {
      if (tail.empty()) return resolved;
      if (resolved.back() != L'\\') resolved.push_back(L'\\');
      return resolved + tail;
    }
    const auto separator = head.find_last_of(L'\\');
    if (separator == std::wstring::npos || separator + 1 >= head.size()) return full;
    std::wstring last = head.substr(separator + 1);
    if (!tail.empty()) {
      last += L'\\';
      last += tail;
    }
    tail = std::move(last);
    // Keep the root's own backslash: "C:" alone would mean the current directory of drive C.
    head.resize(head.find(L'\\') == separator ? separator + 1 : separator);
  }
}

}  // namespace uippack::platform
