// Named locks on POSIX: flock on a lock file, polled so that the wait stays bounded.
#include "platform/named_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "platform/posix/shared_directory_posix.h"
#include "platform/text.h"

namespace uippack::platform {
namespace {

// flock without LOCK_NB would wait as long as any user cares to hold the lock file, so the lock
// is polled until the deadline; the first pauses are short so an ordinary hand-over stays quick.
// On a descriptor of ours, flock fails only while another holds the lock.
bool LockWithin(int fd, std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + limit;
  std::chrono::milliseconds pause(1);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

// Opens the lock file name in directory (or AT_FDCWD) and waits for the lock until the limit. A
// read-only descriptor is enough for flock, and works on another user's lock file.
OwnedHandle TakeLockFile(int directory, const std::string& name, mode_t mode,
                         unsigned waitMilliseconds) {
  OwnedHandle lockFile = OpenShared(directory, name, O_RDONLY, mode);
  if (!lockFile.IsOpen() ||
      !LockWithin(lockFile.Get(), std::chrono::milliseconds(waitMilliseconds))) {
    return OwnedHandle();
  }
  return lockFile;
}

}  // namespace

// Closing the descriptor drops the lock.
NamedMutexLock::~NamedMutexLock() = default;

bool NamedMutexLock::Acquire(const std::wstring& name, unsigned waitMilliseconds) {
  if (handle_.IsOpen()) return false;
  handle_ = TakeLockFile(AT_FDCWD, "/tmp/" + WideToNarrow(name), kSharedFileMode, waitMilliseconds);
  return handle_.IsOpen();
}

FileLock::~FileLock() = default;

bool FileLock::Acquire(const HeldDirectory& directory, const std::wstring& name,
                       unsigned waitMilliseconds) {
  if (handle_.IsOpen() || !directory.IsOpen()) return false;
  handle_ = TakeLockFile(directory.handle_.Get(), WideToNarrow(name),
                         directory.private_ ? kPrivateFileMode : kSharedFileMode, waitMilliseconds);
  return handle_.IsOpen();
}

}  // namespace uippack::platform
