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

// The name rules, one home for the walks, the pipelines, the container code and uipcheck.

// directory, the separator, name: plain concatenation, never normalised.
std::wstring ChildPath(std::wstring_view directory, std::wstring_view name);
// The last name of a path: what follows its last separator (on Windows also "/" or a drive's
// colon).
std::wstring_view FileNameOf(std::wstring_view path);
// A name's extension runs from its last "." on; a name without "." has none.
std::wstring_view ExtensionOf(std::wstring_view name);
// A name that begins with "."; the walks never enter such a directory.
bool IsHiddenName(std::wstring_view name);
// The path up to the last occurrence of suffix (letter case counts), or the whole path when it
// has none.
std::wstring_view StemBefore(std::wstring_view path, std::wstring_view suffix);

}  // namespace uippack::platform
