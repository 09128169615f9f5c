// Log services for POSIX: the Win32 services of the log mapped onto files, flock and signals.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csetjmp>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#if defined(__GLIBC__)
#include <link.h>
#endif
#if defined(__APPLE__)
#include <pthread.h>
#endif

#include "platform/handle.h"
#include "platform/log_services.h"
#include "platform/process.h"
#include "platform/text.h"

namespace uippack::platform {
namespace {

// Every user of the machine shares the lock files, the log directory and the log file, so the
// umask must not narrow the modes of what we create.
constexpr mode_t kSharedFileMode = 0666;
constexpr mode_t kSharedDirectoryMode = 01777;
// A user's own folders and files: nobody else may read, plant or swap anything there.
constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kPrivateDirectoryMode = 0700;

std::string Narrow(const std::wstring& path) { return WideToNarrow(path); }

// Opens a file that other users may have created, in directory (or AT_FDCWD), creating it with
// mode when it is absent. O_CREAT on someone else's file in a sticky world-writable directory is
// refused on hardened systems (protected_regular), so an existing file is opened without it.
// Anyone may have planted something in the file's place: a FIFO would stall the open, a link or
// a second name of another file would steer the writes. So no link is followed, nothing is waited
// on, and only a regular file with a single link is kept.
OwnedHandle OpenShared(int directory, const std::string& name, int accessFlags, mode_t mode) {
  constexpr int kSafely = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  OwnedHandle file;
  for (int attempt = 0; attempt < 3 && !file.IsOpen(); ++attempt) {
    file = OwnedHandle(
        openat(directory, name.c_str(), accessFlags | kSafely | O_CREAT | O_EXCL, mode));
    if (file.IsOpen()) {
      fchmod(file.Get(), mode);
      break;
    }
    if (errno != EEXIST) return file;
    file = OwnedHandle(openat(directory, name.c_str(), accessFlags | kSafely));
    if (!file.IsOpen() && errno != ENOENT) return file;
    // Deleted between the two opens: try again.
  }
  if (!file.IsOpen()) return file;
  const int fd = file.Get();
  struct stat info {};
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return OwnedHandle();
  }
  return file;
}

// flock without LOCK_NB would wait as long as any user cares to hold the lock file, so the lock
// is polled until the deadline; the first pauses are short so an ordinary hand-over stays quick.
bool LockWithin(int fd, std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + limit;
  std::chrono::milliseconds pause(1);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
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

// The path without trailing slashes, which would make the last level's link followed.
std::string DirectoryPath(const std::wstring& path) {
  std::string narrow = Narrow(path);
  while (narrow.size() > 1 && narrow.back() == '/') narrow.pop_back();
  return narrow;
}

// In a directory that every user may write to, only the sticky bit keeps them from deleting or
// renaming each other's files; without it the owner must be trusted: root or this user.
bool OthersMaySwapFilesIn(const struct stat& directory) {
  return (directory.st_mode & S_IWOTH) != 0 && (directory.st_mode & S_ISVTX) == 0 &&
         directory.st_uid != 0 && directory.st_uid != geteuid();
}

// The variable's value when it is an absolute path. A relative one names a different place in
// every folder a run starts from, and "." would put a folder open to all wherever that is.
std::optional<std::string> AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return std::string(value);
}

#if defined(O_PATH)
// Enough to create and open files inside, and needs no read permission on the directory.
constexpr int kDirectoryAccess = O_PATH;
#else
constexpr int kDirectoryAccess = O_RDONLY;
#endif

CalendarTime ToCalendar(const std::tm& fields, long nanoseconds) {
  CalendarTime time;
  time.year = fields.tm_year + 1900;
  time.month = fields.tm_mon + 1;
  time.day = fields.tm_mday;
  time.hour = fields.tm_hour;
  time.minute = fields.tm_min;
  time.second = fields.tm_sec;
  time.milliseconds = static_cast<int>(nanoseconds / 1000000);
  return time;
}

CalendarTime Now(std::tm* (*breakDown)(const std::time_t*, std::tm*)) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm fields{};
  breakDown(&now.tv_sec, &fields);
  return ToCalendar(fields, now.tv_nsec);
}

}  // namespace

CalendarTime LocalTimeNow() { return Now(localtime_r); }
CalendarTime UtcTimeNow() { return Now(gmtime_r); }

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

unsigned long CurrentThreadId() {
#if defined(__APPLE__)
  std::uint64_t id = 0;
  pthread_threadid_np(nullptr, &id);
  return static_cast<unsigned long>(id);
#else
  return static_cast<unsigned long>(gettid());
#endif
}

// ---------------------------------------------------------------------------------------------

// Closing the descriptor drops the lock.
NamedMutexLock::~NamedMutexLock() = default;

bool NamedMutexLock::Acquire(const std::wstring& name, unsigned waitMilliseconds) {
  if (handle_.IsOpen()) return false;
  handle_ = TakeLockFile(AT_FDCWD, "/tmp/" + Narrow(name), kSharedFileMode, waitMilliseconds);
  return handle_.IsOpen();
}

FileLock::~FileLock() = default;

bool FileLock::Acquire(const LogDirectory& directory, const std::wstring& name,
                       unsigned waitMilliseconds) {
  if (handle_.IsOpen() || !directory.IsOpen()) return false;
  handle_ = TakeLockFile(directory.handle_.Get(), Narrow(name),
                         directory.private_ ? kPrivateFileMode : kSharedFileMode, waitMilliseconds);
  return handle_.IsOpen();
}

// ---------------------------------------------------------------------------------------------

bool GetCommonAppDataFolder(std::wstring* folder) {
  constexpr const char* kMachineLogs = "/var/log";
  if (faccessat(AT_FDCWD, kMachineLogs, W_OK | X_OK, AT_EACCESS) != 0) return false;
  *folder = NarrowToWide(kMachineLogs);
  return true;
}

bool GetTempFolder(std::wstring* folder) {
  *folder = NarrowToWide(AbsoluteFromEnvironment("TMPDIR").value_or("/tmp"));
  return true;
}

bool GetUserStateFolder(std::wstring* folder) {
  std::optional<std::string> state = AbsoluteFromEnvironment("XDG_STATE_HOME");
  if (!state) {
    const std::optional<std::string> home = AbsoluteFromEnvironment("HOME");
    if (!home) return false;
    state = *home + "/.local/state";
  }
  *folder = NarrowToWide(*state);
  return true;
}

bool DirectoryExists(const std::wstring& path) {
  struct stat info {};
  return stat(Narrow(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateSharedDirectory(const std::wstring& path) {
  const std::string narrow = DirectoryPath(path);
  if (mkdir(narrow.c_str(), kSharedDirectoryMode) != 0) return false;
  // Widened through the new directory itself, never through a link put in its place.
  const OwnedHandle created(open(narrow.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (created.IsOpen()) fchmod(created.Get(), kSharedDirectoryMode);
  return true;
}

// ---------------------------------------------------------------------------------------------

bool LogDirectory::Open(const std::wstring& path) {
  handle_.Close();
  private_ = false;
  OwnedHandle directory(
      open(DirectoryPath(path).c_str(), kDirectoryAccess | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!directory.IsOpen()) return false;
  struct stat info {};
  if (fstat(directory.Get(), &info) != 0 || !S_ISDIR(info.st_mode) || OthersMaySwapFilesIn(info)) {
    return false;
  }
  handle_ = std::move(directory);
  return true;
}

bool LogDirectory::OpenPrivate(const std::wstring& path) {
  handle_.Close();
  private_ = false;
  const std::string narrow = DirectoryPath(path);
  // Levels that exist are left as they are; links may lead to them, as a home folder's often does.
  for (std::size_t slash = narrow.find('/', 1);; slash = narrow.find('/', slash + 1)) {
    const std::string level = narrow.substr(0, slash);
    if (mkdir(level.c_str(), kPrivateDirectoryMode) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  OwnedHandle directory(
      open(narrow.c_str(), kDirectoryAccess | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!directory.IsOpen()) return false;
  // Only a folder nobody else can change keeps them from planting or swapping files in it.
  struct stat info {};
  if (fstat(directory.Get(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return false;
  }
  handle_ = std::move(directory);
  private_ = true;
  return true;
}

bool LogDirectory::IsOpen() const { return handle_.IsOpen(); }

bool LogDirectory::RemoveFile(const std::wstring& name) const {
  return IsOpen() && unlinkat(handle_.Get(), Narrow(name).c_str(), 0) == 0;
}

// ---------------------------------------------------------------------------------------------

bool SharedAppendFile::Open(const LogDirectory& directory, const std::wstring& name) {
  Close();
  if (!directory.IsOpen()) return false;
  // O_APPEND keeps every write at the end even if a writer outside our lock has grown the file.
  handle_ = OpenShared(directory.handle_.Get(), Narrow(name), O_WRONLY | O_APPEND,
                       directory.private_ ? kPrivateFileMode : kSharedFileMode);
  return IsOpen();
}

bool SharedAppendFile::GetCreationTime(CalendarTime* utc) const {
  if (!IsOpen()) return false;
  const int fd = handle_.Get();
  timespec birth{};
#if defined(__APPLE__)
  struct stat info {};
  if (fstat(fd, &info) != 0) return false;
  birth = info.st_birthtimespec;
#elif defined(STATX_BTIME)
  struct statx info {};
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &info) != 0) return false;
  if ((info.stx_mask & STATX_BTIME) == 0) return false;  // the file system keeps no birth time
  birth.tv_sec = static_cast<std::time_t>(info.stx_btime.tv_sec);
  birth.tv_nsec = static_cast<long>(info.stx_btime.tv_nsec);
#else
  return false;
#endif
  std::tm fields{};
  if (gmtime_r(&birth.tv_sec, &fields) == nullptr) return false;
  *utc = ToCalendar(fields, birth.tv_nsec);
  return true;
}

bool SharedAppendFile::SeekToEnd(std::uint64_t* position) {
  if (!IsOpen()) return false;
  const off_t end = lseek(handle_.Get(), 0, SEEK_END);
  if (end < 0) return false;
  *position = static_cast<std::uint64_t>(end);
  return true;
}

bool SharedAppendFile::Write(const void* data, std::size_t length) {
  return IsOpen() && WriteAll(handle_.Get(), data, length);
}

// ---------------------------------------------------------------------------------------------

bool GetModulePathOf(const void* address, std::wstring* path) {
  Dl_info info{};
#if defined(__GLIBC__)
  link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 &&
      map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
    *path = NarrowToWide(map->l_name);
    return true;
  }
#else
  if (dladdr(address, &info) != 0 && info.dli_fname != nullptr && info.dli_fname[0] == '/') {
    *path = NarrowToWide(info.dli_fname);
    return true;
  }
#endif
  // The main program has no name of its own in the loader's list, and in a static link the
  // executable is the only module there is.
  return GetExecutablePath(path);
}

std::string NarrowLogLine(const std::wstring& line) { return WideToNarrow(line); }

void SendToDebugger(const std::string&) {}

// ---------------------------------------------------------------------------------------------

namespace {

struct FaultGuard {
  sigjmp_buf resume;
  std::uint32_t code = 0;
};

thread_local FaultGuard* tActiveGuard = nullptr;

// One guarded step at a time per process: the handlers are process-wide.
std::mutex gGuardMutex;
struct sigaction gPreviousSegv {};
struct sigaction gPreviousBus {};

void OnFault(int signalNumber, siginfo_t*, void*) {
  FaultGuard* guard = tActiveGuard;
  if (guard == nullptr) {
    // Another thread's fault: hand it back to whoever handled it before; the faulting
    // instruction runs again and faults into that handler.
    sigaction(signalNumber, signalNumber == SIGBUS ? &gPreviousBus : &gPreviousSegv, nullptr);
    return;
  }
  tActiveGuard = nullptr;
  guard->code = signalNumber == SIGBUS ? 0xC0000006u : 0xC0000005u;
  siglongjmp(guard->resume, 1);
}

}  // namespace

bool RunFaultGuarded(void (*step)(void* context), void* context, std::uint32_t* faultCode) {
  std::lock_guard<std::mutex> serialised(gGuardMutex);
  FaultGuard guard;

  struct sigaction onFault {};
  onFault.sa_sigaction = OnFault;
  onFault.sa_flags = SA_SIGINFO;
  sigemptyset(&onFault.sa_mask);
  sigaction(SIGSEGV, &onFault, &gPreviousSegv);
  sigaction(SIGBUS, &onFault, &gPreviousBus);
  struct Restore {
    ~Restore() {
      tActiveGuard = nullptr;
      sigaction(SIGSEGV, &gPreviousSegv, nullptr);
      sigaction(SIGBUS, &gPreviousBus, nullptr);
    }
  } restore;

  if (sigsetjmp(guard.resume, 1) != 0) {
    *faultCode = guard.code;
    return false;
  }
  tActiveGuard = &guard;
  step(context);
  return true;
}

}  // namespace uippack::platform
