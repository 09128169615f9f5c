// Text and paths on Windows: the wide API takes UTF-16 as it is; narrow text is the ANSI code
// page, as the narrow API (WinExec) reads it.
#include <windows.h>

#include <climits>
#include <string>
#include <utility>

#include "platform/handle.h"
#include "platform/path.h"
#include "platform/text.h"
#include "platform/win32/text_win32.h"

namespace uippack::platform {
namespace {

// The lengths of Win32 text calls are ints; longer text is not something a path or a command
// line ever is.
bool FitsInt(std::size_t length) { return length <= static_cast<std::size_t>(INT_MAX / 4); }

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

std::string WideToCodePage(UINT codePage, DWORD flags, std::wstring_view text) {
  if (text.empty() || !FitsInt(text.size())) return {};
  const int wideLength = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(codePage, flags, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  const int converted = WideCharToMultiByte(codePage, flags, text.data(), wideLength, narrow.data(),
                                            size, nullptr, nullptr);
  narrow.resize(converted > 0 ? static_cast<std::size_t>(converted) : 0);
  return narrow;
}

std::wstring CodePageToWide(UINT codePage, std::string_view text) {
  if (text.empty() || !FitsInt(text.size())) return {};
  const int narrowLength = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(codePage, 0, text.data(), narrowLength, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  const int converted =
      MultiByteToWideChar(codePage, 0, text.data(), narrowLength, wide.data(), size);
  wide.resize(converted > 0 ? static_cast<std::size_t>(converted) : 0);
  return wide;
}

std::string WideToNarrow(std::wstring_view text) {
  // No best-fit mapping: it would turn characters the code page lacks into look-alikes such as
  // "\" or ".", and a path converted that way could name another file. The default character
  // ("?") cannot appear in a Windows file name, so a lossy conversion never names a real one.
  return WideToCodePage(CP_ACP, WC_NO_BEST_FIT_CHARS, text);
}

std::string WideToNarrowBestFit(const std::wstring& text) {
  return WideToCodePage(CP_ACP, 0, text.c_str());
}

std::wstring NarrowToWide(std::string_view text) { return CodePageToWide(CP_ACP, text); }

std::wstring Utf8ToWide(std::string_view text) { return CodePageToWide(CP_UTF8, text); }

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
