// The name rules: pure text, the same on every platform but for the separator.
#include "platform/path.h"

namespace uippack::platform {

std::wstring ChildPath(std::wstring_view directory, std::wstring_view name) {
  std::wstring path(directory);
  path += kPathSeparator;
  path += name;
  return path;
}

std::wstring_view FileNameOf(std::wstring_view path) {
  // Windows also ends a folder part at "/" and at a drive letter's colon.
  constexpr std::wstring_view kSeparators = kPathSeparator == L'\\' ? L"\\/:" : L"/";
  const auto separator = path.find_last_of(kSeparators);
  return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

std::wstring_view ExtensionOf(std::wstring_view name) {
  const auto dot = name.find_last_of(L'.');
  return dot == std::wstring_view::npos ? std::wstring_view{} : name.substr(dot);
}

bool IsHiddenName(std::wstring_view name) { return !name.empty() && name.front() == L'.'; }

std::wstring_view StemBefore(std::wstring_view path, std::wstring_view suffix) {
  const auto at = path.rfind(suffix);
  return at == std::wstring_view::npos ? path : path.substr(0, at);
}

}  // namespace uippack::platform
