#include "package/tree_overlap.h"

#include <algorithm>
#include <cwctype>

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

// True when inner is outer or lies below it.
bool Contains(const std::wstring& outer, const std::wstring& inner) {
  if (inner.size() < outer.size() || inner.compare(0, outer.size(), outer) != 0) return false;
  return inner.size() == outer.size() || outer.back() == platform::kPathSeparator ||
         inner[outer.size()] == platform::kPathSeparator;
}

}  // namespace

bool TreesOverlap(const std::wstring& source, const std::wstring& destination) {
  const std::wstring a = ComparableForm(source);
  const std::wstring b = ComparableForm(destination);
  return Contains(a, b) || Contains(b, a);
}

int CheckSeparateTrees(const std::wstring& source, const std::wstring& destination) {
  if (!TreesOverlap(source, destination)) return 1;
  platform::WriteConsoleLine(L"Refused: destination path = " + destination +
                             L" is the source path = " + source +
                             L" or lies inside it or contains it, nothing copied!");
  return 0;
}

}  // namespace uippack
