// Absolute and canonical paths on POSIX: the current directory and realpath, through the text
// layer's UTF-8.
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/path.h"
#include "platform/text.h"

namespace uippack::platform {

std::wstring AbsolutePath(const std::wstring& path) {
  if (!path.empty() && path[0] == L'/') return path;
  std::string cwd(PATH_MAX, '\0');
  if (getcwd(cwd.data(), cwd.size()) == nullptr) return path;
  cwd.resize(cwd.find('\0'));
  std::wstring absolute = NarrowToWide(cwd);
  if (absolute.empty() || absolute.back() != L'/') absolute.push_back(L'/');
  return absolute + path;
}

std::wstring CanonicalPath(const std::wstring& path) {
  // Resolve the longest prefix that exists; the rest does not exist yet and is appended.
  std::wstring head = AbsolutePath(path);
  std::wstring tail;
  while (true) {
    std::string narrow = WideToNarrow(head.empty() ? L"/" : head);
    if (char* resolved = realpath(narrow.c_str(), nullptr)) {
      std::wstring result = NarrowToWide(resolved);
      std::free(resolved);
      if (!tail.empty()) {
        if (result.back() != L'/') result.push_back(L'/');
        result += tail;
      }
      return result;
    }
    const auto slash = head.find_last_of(L'/');
    if (slash == std::wstring::npos) return AbsolutePath(path);  // not even "/" resolves
    const std::wstring last = head.substr(slash + 1);
    if (!last.empty() && last != L".") {
      tail.insert(0, tail.empty() ? last : last + L"/");
    }
    head.resize(slash);
  }
}

}  // namespace uippack::platform
