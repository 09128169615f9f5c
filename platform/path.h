// Paths: the separators, and making a path absolute or canonical.
#pragma once

#include <string>
#include <string_view>

namespace uippack::platform {

#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
inline constexpr wchar_t kForeignSeparator = L'/';
inline constexpr bool kCaseInsensitivePaths = true;
#else
inline constexpr wchar_t kPathSeparator = L'/';
inline constexpr wchar_t kForeignSeparator = L'\\';
inline constexpr bool kCaseInsensitivePaths = false;
#endif

// The path resolved against the current directory, without resolving links.
std::wstring AbsolutePath(const std::wstring& path);
// The absolute path with links resolved as far as the path exists; the missing tail is
// appended as given. Used to tell whether two trees overlap.
std::wstring CanonicalPath(const std::wstring& path);

}  // namespace uippack::platform
