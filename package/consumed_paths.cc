#include "package/consumed_paths.h"

#include <algorithm>

#include "platform/path.h"

namespace uippack {

bool LiesWithin(std::wstring_view path, std::wstring_view directory) {
  if (directory.empty() || !path.starts_with(directory)) return false;
  return path.size() == directory.size() || directory.back() == platform::kPathSeparator ||
         path[directory.size()] == platform::kPathSeparator;
}

bool IsConsumed(std::wstring_view path, const std::vector<std::wstring>& consumed) {
  return std::any_of(consumed.begin(), consumed.end(),
                     [path](const std::wstring& directory) { return LiesWithin(path, directory); });
}

bool HoldsConsumed(std::wstring_view directory, const std::vector<std::wstring>& consumed) {
  return std::any_of(consumed.begin(), consumed.end(),
                     [directory](const std::wstring& path) { return LiesWithin(path, directory); });
}

}  // namespace uippack
