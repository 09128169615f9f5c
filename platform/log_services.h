// The services the diagnostics log needs: clocks, ids, a machine-wide lock, shared folders and
// files, a user's own folder with a lock of its own, the module path, the debugger channel and a
// guard against memory faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/handle.h"

namespace uippack::platform {

// A calendar time broken into fields: month 1..12, day 1..31, hour 0..23, milliseconds 0..999.
struct CalendarTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// Now, as local time (GetLocalTime; localtime_r) and as UTC (GetSystemTime; gmtime_r).
CalendarTime LocalTimeNow();
CalendarTime UtcTimeNow();

// GetCurrentProcessId; getpid.
unsigned long CurrentProcessId();
// GetCurrentThreadId; the kernel's thread id on POSIX (gettid, pthread_threadid_np).
unsigned long CurrentThreadId();

// A lock shared by name across every process of the machine, held by one thread at a time and
// released by the system when its holder dies. Any user may take it, so the wait for it is
// bounded by the caller. Windows: a named mutex, created initially owned and waited for when it
// already existed. POSIX: an exclusive flock on the file /tmp/<name>, created with mode 0666 so
// every user can take it, polled while held.
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

// The machine-wide application-data folder: CSIDL_COMMON_APPDATA, created if missing; on POSIX
// /var/log when this process may write there. False when it cannot be had.
bool GetCommonAppDataFolder(std::wstring* folder);
// The temporary-files folder: GetTempPathW (ending in a backslash); $TMPDIR when it is an
// absolute path, else /tmp.
bool GetTempFolder(std::wstring* folder);
// The folder for this user's own state, which nobody else can write to: CSIDL_LOCAL_APPDATA,
// created if missing; $XDG_STATE_HOME when it is an absolute path, else $HOME/.local/state (HOME
// must be absolute). False when it cannot be had.
bool GetUserStateFolder(std::wstring* folder);
// True when path names an existing directory.
bool DirectoryExists(const std::wstring& path);
// Creates the last level of path, open to every user of the machine (mode 01777 on POSIX).
bool CreateSharedDirectory(const std::wstring& path);

// A log folder held open: the log file is created, opened and deleted inside the very directory
// that was checked, so swapping the folder for a link afterwards redirects nothing.
class LogDirectory {
 public:
  LogDirectory() = default;
  ~LogDirectory() = default;
  LogDirectory(const LogDirectory&) = delete;
  LogDirectory& operator=(const LogDirectory&) = delete;

  // Opens the existing directory path. On POSIX its last level must be a directory, not a link
  // to one, and a directory that every user may write to must be sticky or belong to root or to
  // this user: anyone else could swap the files in it. False when it is refused or cannot be
  // opened.
  bool Open(const std::wstring& path);
  // Creates whatever levels of path are missing, for this user alone (mode 0700 on POSIX), and
  // opens the last one. On POSIX it must be a directory, not a link to one, that belongs to this
  // user and that neither group nor others may write to; files created in it are this user's
  // alone (mode 0600). On Windows they take the folder's access list. False when it is refused or
  // cannot be had.
  bool OpenPrivate(const std::wstring& path);
  bool IsOpen() const;
  // Deletes the file name inside the directory.
  bool RemoveFile(const std::wstring& name) const;

 private:
  friend class SharedAppendFile;
  friend class FileLock;
  OwnedHandle handle_;    // POSIX: the open directory
  std::wstring path_;     // Windows: the directory's path, which ends in a separator
  bool private_ = false;  // POSIX: opened by OpenPrivate
};

// An exclusive lock on a file in a log directory, for processes that may all open that file:
// held by one thread at a time and released by the system when its holder dies. POSIX: flock;
// Windows: LockFileEx on its first byte.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();  // releases and closes
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Creates or opens the file name in directory, as SharedAppendFile::Open does, and waits until
  // the calling thread holds the lock. False when the file cannot be had or the lock is not had
  // within waitMilliseconds; nothing is held then.
  bool Acquire(const LogDirectory& directory, const std::wstring& name, unsigned waitMilliseconds);

 private:
  OwnedHandle handle_;
};

// A text file that many processes open at once for appending: others may read and write it
// while it is open. A file it creates is open to every user (mode 0666 on POSIX), or in a
// private directory to this user only.
class SharedAppendFile {
 public:
  SharedAppendFile() = default;
  ~SharedAppendFile() = default;
  SharedAppendFile(const SharedAppendFile&) = delete;
  SharedAppendFile& operator=(const SharedAppendFile&) = delete;

  // Opens the file name in directory for writing, creating it when absent. On POSIX only a
  // regular file with a single link is taken, opened without following links and without
  // waiting: a planted FIFO, link or second name of another file is refused.
  bool Open(const LogDirectory& directory, const std::wstring& name);
  bool IsOpen() const { return handle_.IsOpen(); }
  // The file's creation (birth) time as UTC fields; false when the file system keeps none.
  bool GetCreationTime(CalendarTime* utc) const;
  // Moves to the end of the file and gives the new position, which is 0 for an empty file.
  bool SeekToEnd(std::uint64_t* position);
  // Writes length bytes at the current position.
  bool Write(const void* data, std::size_t length);
  void Close() { handle_.Close(); }

 private:
  OwnedHandle handle_;
};

// The full path of the module (executable or shared library) that holds address; false when
// it cannot be had or is longer than the platform allows.
bool GetModulePathOf(const void* address, std::wstring* path);

// A log line in the system's narrow encoding: the ANSI code page, where characters it lacks
// become its default character; UTF-8 on POSIX.
std::string NarrowLogLine(const std::wstring& line);
// Hands narrow text to an attached debugger (OutputDebugStringA). POSIX has no such channel.
void SendToDebugger(const std::string& text);

// Runs step(context) and reports whether it completed. A memory fault inside it (a structured
// exception on Windows, SIGSEGV or SIGBUS on POSIX) abandons the step at once and gives false
// with faultCode set: the exception code, or 0xC0000005 for SIGSEGV and 0xC0000006 for SIGBUS.
// The step is cut short without unwinding, so it must not own anything that needs cleanup,
// and it must not run another guarded step.
bool RunFaultGuarded(void (*step)(void* context), void* context, std::uint32_t* faultCode);

}  // namespace uippack::platform
