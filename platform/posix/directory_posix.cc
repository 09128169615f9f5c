#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "platform/directory.h"
#include "platform/handle.h"
#include "platform/text.h"

namespace uippack::platform {

struct DirectoryListing::State {
  DIR* directory = nullptr;
  ~State() {
    if (directory != nullptr) closedir(directory);
  }
};

DirectoryListing::DirectoryListing() = default;
DirectoryListing::~DirectoryListing() = default;

bool DirectoryListing::Open(const std::wstring& directoryPath) {
  state_.reset();
  const std::string narrow = WideToNarrow(directoryPath);
  // O_DIRECTORY without O_NOFOLLOW: a root given as a link to a directory is listed, but the
  // walk itself never treats a link as a directory (see Next).
  OwnedHandle opened(open(narrow.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.IsOpen()) return false;
  auto state = std::make_unique<State>();
  state->directory = fdopendir(opened.Get());
  if (state->directory == nullptr) return false;
  opened.Release();  // closedir closes it now
  state_ = std::move(state);
  return true;
}

bool DirectoryListing::Next(DirectoryEntry* entry) {
  if (!state_) return false;
  const dirent* found = readdir(state_->directory);
  if (found == nullptr) return false;
  entry->name = NarrowToWide(found->d_name);
  bool isDirectory = found->d_type == DT_DIR;
  bool isRegularFile = found->d_type == DT_REG;
  if (found->d_type == DT_UNKNOWN) {
    struct stat info {};
    const bool known =
        fstatat(dirfd(state_->directory), found->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0;
    isDirectory = known && S_ISDIR(info.st_mode);
    isRegularFile = known && S_ISREG(info.st_mode);
  }
  entry->isDirectory = isDirectory;
  entry->isRegularFile = isRegularFile;
  return true;
}

}  // namespace uippack::platform

namespace uippack::platform {

PathKind GetPathKind(const std::wstring& path) {
  struct stat info {};
  if (lstat(WideToNarrow(path).c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Other;
  }
  if (S_ISDIR(info.st_mode)) return PathKind::Directory;
  return S_ISREG(info.st_mode) ? PathKind::RegularFile : PathKind::Other;
}

}  // namespace uippack::platform
