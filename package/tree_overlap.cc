#include "package/tree_overlap.h"

#include <algorithm>
#include <cwctype>

#include "package/consumed_paths.h"
#include "platform/console.h"
#include "platform/path.h"

namespace uippack {
namespace {

std::wstring ComparableForm(const std::wstring& path) {
  std::wstring canonical = platform::CanonicalPath(path);
  while (canonical.size() > 1 && canonical.back() == platform::kPathSeparator) canonical.pop_back();
  if (platform::kCaseInsensitivePaths) {
    std::transform(canonical.begin(), canonical.end(), canonical.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  }
  return canonical;
}

}  // namespace

bool TreesOverlap(const std::wstring& source, const std::wstring& destination) {
  const std::wstring a = ComparableForm(source);
  const std::wstring b = ComparableForm(destination);
  return LiesWithin(b, a) || LiesWithin(a, b);
}

int CheckSeparateTrees(const std::wstring& source, const std::wstring& destination) {
  if (!TreesOverlap(source, destination)) return 1;
  platform::WriteConsoleLine(L"Refused: destination path = " + destination +
                             L" is the source path = " + source +
                             L" or lies inside it or contains it, nothing copied!");
  return 0;
}

}  // namespace uippack
