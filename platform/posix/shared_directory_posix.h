// What the shared directories, their files and the lock files have in common on POSIX.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/handle.h"

namespace uippack::platform {

// Every user of the machine shares the lock files and the files of a shared directory, so the
// umask must not narrow the modes of what we create.
inline constexpr mode_t kSharedFileMode = 0666;
// A user's own files: nobody else may read, plant or swap anything there.
inline constexpr mode_t kPrivateFileMode = 0600;

// Opens a file that other users may have created, in directory (or AT_FDCWD), creating it with
// mode when it is absent. Only a regular file with a single link is kept, opened without
// following a link and without waiting.
OwnedHandle OpenShared(int directory, const std::string& name, int accessFlags, mode_t mode);

}  // namespace uippack::platform
