// Locks that processes take by name, released by the system when their holder dies.
#pragma once

#include <string>

#include "platform/handle.h"
#include "platform/shared_directory.h"

namespace uippack::platform {

// A lock shared by name across every process of the machine, held by one thread at a time. Any
// user may take it, so the wait for it is bounded by the caller. Windows: a named mutex, created
// initially owned and waited for when it already existed. POSIX: an exclusive flock on the file
// /tmp/<name>, created with mode 0666 so every user can take it, polled while held.
class NamedMutexLock {
 public:
  NamedMutexLock() = default;
  ~NamedMutexLock();  // releases and closes
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

  // Creates or opens the lock and waits until the calling thread holds it. False when the lock
  // cannot be created or opened (on POSIX: anything but a regular file with one link, which is
  // opened without following links and without waiting), or when it is not had within
  // waitMilliseconds; nothing is held then.
  bool Acquire(const std::wstring& name, unsigned waitMilliseconds);

 private:
  OwnedHandle handle_;
};

// An exclusive lock on a file in a held directory, for processes that may all open that file:
// held by one thread at a time. POSIX: flock; Windows: LockFileEx on its first byte.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();  // releases and closes
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Creates or opens the file name in directory, as SharedAppendFile::Open does, and waits until
  // the calling thread holds the lock. False when the file cannot be had or the lock is not had
  // within waitMilliseconds; nothing is held then.
  bool Acquire(const HeldDirectory& directory, const std::wstring& name, unsigned waitMilliseconds);

 private:
  OwnedHandle handle_;
};

}  // namespace uippack::platform
