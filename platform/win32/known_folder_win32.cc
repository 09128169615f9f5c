#include <shlobj.h>
#include <windows.h>

#include "platform/known_folder.h"

namespace uippack::platform {
namespace {

// A shell folder, created if missing (CSIDL_FLAG_CREATE).
bool ShellFolder(int csidl, std::wstring* folder) {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, buffer))) {
    return false;
  }
  *folder = buffer;
  return true;
}

bool TemporaryFolder(std::wstring* folder) {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetTempPathW(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH) return false;
  folder->assign(buffer, length);
  return true;
}

}  // namespace

bool GetKnownFolder(KnownFolder which, std::wstring* folder) {
  switch (which) {
    case KnownFolder::SharedRecords:
      return ShellFolder(CSIDL_COMMON_APPDATA, folder);
    case KnownFolder::UserState:
      return ShellFolder(CSIDL_LOCAL_APPDATA, folder);
    case KnownFolder::Temporary:
      return TemporaryFolder(folder);
  }
  return false;
}

}  // namespace uippack::platform
