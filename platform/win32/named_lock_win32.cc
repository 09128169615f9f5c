// Named locks on Windows: a named mutex, and LockFileEx polled so that the wait stays bounded.
#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/named_lock.h"

namespace uippack::platform {

// Released here, before the handle member closes it: a mutex closed while held is abandoned.
NamedMutexLock::~NamedMutexLock() {
  if (handle_.IsOpen()) ReleaseMutex(handle_.Get());
}

bool NamedMutexLock::Acquire(const std::wstring& name, unsigned waitMilliseconds) {
  if (handle_.IsOpen()) return false;
  OwnedHandle mutex(CreateMutexW(nullptr, TRUE, name.c_str()));
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (!mutex.IsOpen()) return false;
  // An existing mutex is opened without granting ownership; an abandoned one counts as ours.
  // Any user may hold it, so the wait is bounded.
  if (existed) {
    const DWORD waited = WaitForSingleObject(mutex.Get(), waitMilliseconds);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
  }
  handle_ = std::move(mutex);
  return true;
}

// Released here, before the handle member closes it: a closed handle's locks go only when the
// system gets round to it.
FileLock::~FileLock() {
  OVERLAPPED firstByte{};
  if (handle_.IsOpen()) UnlockFileEx(handle_.Get(), 0, 1, 0, &firstByte);
}

bool FileLock::Acquire(const HeldDirectory& directory, const std::wstring& name,
                       unsigned waitMilliseconds) {
  if (handle_.IsOpen() || !directory.IsOpen()) return false;
  OwnedHandle file(CreateFileW((directory.path_ + name).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, 0, nullptr));
  if (!file.IsOpen()) return false;
  // LockFileEx would wait as long as the holder cares to, so the lock is polled until the
  // deadline; the first pauses are short so an ordinary hand-over stays quick.
  const ULONGLONG deadline = GetTickCount64() + waitMilliseconds;
  DWORD pause = 1;
  for (;;) {
    OVERLAPPED firstByte{};
    if (LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &firstByte)) {
      break;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION) return false;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, deadline - now)));
    pause = std::min<DWORD>(pause * 2, 50);
  }
  handle_ = std::move(file);
  return true;
}

}  // namespace uippack::platform
