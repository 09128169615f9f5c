// Directory listing with FindFirstFileW / FindNextFileW. The search pattern is the path
// followed by "/*"; the wide API accepts the forward slash as a separator.
#include <windows.h>

#include "platform/directory.h"

namespace uippack::platform {
namespace {

// A junction or a symbolic link to a directory carries the directory attribute too; the walks
// must not follow it out of the tree, so it does not count as a directory here. Other reparse
// points (cloud-file placeholders, deduplicated files) are ordinary directories to the user.
// Their tag comes in dwReserved0; Wine reports none (0) for its links, so no tag means a link.
bool IsLink(const WIN32_FIND_DATAW& found) {
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  return found.dwReserved0 == 0 || IsReparseTagNameSurrogate(found.dwReserved0) != 0;
}

DirectoryEntry ToEntry(const WIN32_FIND_DATAW& found) {
  DirectoryEntry entry;
  entry.name = found.cFileName;
  entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !IsLink(found);
  entry.isRegularFile =
      (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 &&
      !IsLink(found);
  return entry;
}

}  // namespace

struct DirectoryListing::State {
  HANDLE search = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW first{};
  bool firstPending = false;  // FindFirstFileW itself returns the first entry
  ~State() {
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
  }
};

DirectoryListing::DirectoryListing() = default;
DirectoryListing::~DirectoryListing() = default;

bool DirectoryListing::Open(const std::wstring& directoryPath) {
  state_.reset();
  auto state = std::make_unique<State>();
  const std::wstring pattern = directoryPath + L"/*";
  state->search = FindFirstFileW(pattern.c_str(), &state->first);
  if (state->search == INVALID_HANDLE_VALUE) return false;
  state->firstPending = true;
  state_ = std::move(state);
  return true;
}

bool DirectoryListing::Next(DirectoryEntry* entry) {
  if (!state_) return false;
  if (state_->firstPending) {
    state_->firstPending = false;
    *entry = ToEntry(state_->first);
    return true;
  }
  WIN32_FIND_DATAW found{};
  if (!FindNextFileW(state_->search, &found)) return false;
  *entry = ToEntry(found);
  return true;
}

}  // namespace uippack::platform

namespace uippack::platform {

PathKind GetPathKind(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Missing
                                                                          : PathKind::Other;
  }
  if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return PathKind::Other;  // a junction or link is not followed out of the tree
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Directory : PathKind::RegularFile;
}

}  // namespace uippack::platform
