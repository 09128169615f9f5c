// Log services for Win32.
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/handle.h"
#include "platform/log_services.h"

namespace uippack::platform {
namespace {

// The log works with the classic path limit throughout.
constexpr DWORD kPathLimit = MAX_PATH;
// CSIDL_COMMON_APPDATA with CSIDL_FLAG_CREATE: the machine-wide folder, created if missing.
constexpr int kCommonAppDataCreate = 0x8023;
// CSIDL_LOCAL_APPDATA with CSIDL_FLAG_CREATE: the user's own folder, created if missing.
constexpr int kLocalAppDataCreate = 0x801c;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Creates path and whatever of its parents is missing.
bool CreateLevels(std::wstring path) {
  while (path.size() > 1 && IsSeparator(path.back())) path.pop_back();
  if (DirectoryExists(path)) return true;
  const std::size_t parent = path.find_last_of(L"\\/");
  if (parent != std::wstring::npos && parent > 0 && path[parent - 1] != L':' &&
      !CreateLevels(path.substr(0, parent))) {
    return false;
  }
  return CreateDirectoryW(path.c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

CalendarTime ToCalendar(const SYSTEMTIME& fields) {
  CalendarTime time;
  time.year = fields.wYear;
  time.month = fields.wMonth;
  time.day = fields.wDay;
  time.hour = fields.wHour;
  time.minute = fields.wMinute;
  time.second = fields.wSecond;
  time.milliseconds = fields.wMilliseconds;
  return time;
}

}  // namespace

CalendarTime LocalTimeNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return ToCalendar(now);
}

CalendarTime UtcTimeNow() {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  return ToCalendar(now);
}

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }
unsigned long CurrentThreadId() { return GetCurrentThreadId(); }

// ---------------------------------------------------------------------------------------------

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
  // Any user may hold it, so the wait is bounded; a lock not had in time means no record.
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

bool FileLock::Acquire(const LogDirectory& directory, const std::wstring& name,
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

// ---------------------------------------------------------------------------------------------

bool GetCommonAppDataFolder(std::wstring* folder) {
  wchar_t buffer[kPathLimit] = {};
  if (FAILED(SHGetFolderPathW(nullptr, kCommonAppDataCreate, nullptr, 0, buffer))) return false;
  *folder = buffer;
  return true;
}

bool GetTempFolder(std::wstring* folder) {
  wchar_t buffer[kPathLimit] = {};
  const DWORD length = GetTempPathW(kPathLimit, buffer);
  if (length == 0 || length >= kPathLimit) return false;
  folder->assign(buffer, length);
  return true;
}

bool GetUserStateFolder(std::wstring* folder) {
  wchar_t buffer[kPathLimit] = {};
  if (FAILED(SHGetFolderPathW(nullptr, kLocalAppDataCreate, nullptr, 0, buffer))) return false;
  *folder = buffer;
  return true;
}

bool DirectoryExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateSharedDirectory(const std::wstring& path) {
  return CreateDirectoryW(path.c_str(), nullptr) != 0;
}

// ---------------------------------------------------------------------------------------------

// Files are named through the directory's path; the handle is not used here.
bool LogDirectory::Open(const std::wstring& path) {
  path_.clear();
  if (!DirectoryExists(path)) return false;
  path_ = path;
  if (path_.back() != L'\\' && path_.back() != L'/') path_ += L'\\';
  return true;
}

// The user's own folder is theirs by its access list, which what is created in it inherits.
bool LogDirectory::OpenPrivate(const std::wstring& path) {
  path_.clear();
  return CreateLevels(path) && Open(path);
}

bool LogDirectory::IsOpen() const { return !path_.empty(); }

bool LogDirectory::RemoveFile(const std::wstring& name) const {
  return IsOpen() && DeleteFileW((path_ + name).c_str()) != 0;
}

// ---------------------------------------------------------------------------------------------

bool SharedAppendFile::Open(const LogDirectory& directory, const std::wstring& name) {
  Close();
  if (!directory.IsOpen()) return false;
  const std::wstring path = directory.path_ + name;
  handle_ = OwnedHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, 0, nullptr));
  return IsOpen();
}

bool SharedAppendFile::GetCreationTime(CalendarTime* utc) const {
  if (!IsOpen()) return false;
  FILETIME created{};
  if (!GetFileTime(handle_.Get(), &created, nullptr, nullptr)) return false;
  SYSTEMTIME fields{};
  if (!FileTimeToSystemTime(&created, &fields)) return false;
  *utc = ToCalendar(fields);
  return true;
}

bool SharedAppendFile::SeekToEnd(std::uint64_t* position) {
  if (!IsOpen()) return false;
  const DWORD end = SetFilePointer(handle_.Get(), 0, nullptr, FILE_END);
  if (end == INVALID_SET_FILE_POINTER) return false;
  *position = end;
  return true;
}

bool SharedAppendFile::Write(const void* data, std::size_t length) {
  return IsOpen() && WriteAll(handle_.Get(), data, length);
}

// ---------------------------------------------------------------------------------------------

bool GetModulePathOf(const void* address, std::wstring* path) {
  MEMORY_BASIC_INFORMATION region{};
  if (VirtualQuery(address, &region, sizeof region) == 0) return false;
  // A module's regions all share the allocation base, which is the module's handle.
  const auto module = static_cast<HMODULE>(region.AllocationBase);
  wchar_t buffer[kPathLimit] = {};
  const DWORD length = GetModuleFileNameW(module, buffer, kPathLimit);
  if (length == 0 || length >= kPathLimit) return false;
  path->assign(buffer, length);
  return true;
}

std::string NarrowLogLine(const std::wstring& line) {
  // Asked with the terminator, so both sizes count it.
  const int size = WideCharToMultiByte(CP_ACP, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  const int converted =
      WideCharToMultiByte(CP_ACP, 0, line.c_str(), -1, narrow.data(), size, nullptr, nullptr);
  narrow.resize(converted > 0 ? static_cast<std::size_t>(converted) - 1 : 0);
  return narrow;
}

void SendToDebugger(const std::string& text) { OutputDebugStringA(text.c_str()); }

// ---------------------------------------------------------------------------------------------

#if defined(_MSC_VER)

namespace {

int TakeCode(DWORD code, std::uint32_t* faultCode) {
  *faultCode = code;
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

bool RunFaultGuarded(void (*step)(void* context), void* context, std::uint32_t* faultCode) {
  __try {
    step(context);
  } __except (TakeCode(GetExceptionCode(), faultCode)) {
    return false;
  }
  return true;
}

#else  // No __try here: a vectored handler redirects the faulting thread back to the guard.

namespace {

// Kept outside any frame: values in the guarded frame may be stale in registers or copies when
// the jump lands, while this is read afresh.
struct FaultGuard {
  void* resume[5] = {};  // the frame __builtin_setjmp records
  std::uint32_t code = 0;
  bool active = false;
};

thread_local FaultGuard tGuard;

[[noreturn]] void ResumeAfterFault() {
  tGuard.active = false;
  __builtin_longjmp(tGuard.resume, 1);
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  // Only errors of the guarded thread; warnings, notices and C++ throws pass through.
  constexpr DWORD kSeverityMask = 0xC0000000;
  if (!tGuard.active || (code & kSeverityMask) != kSeverityMask ||
      code == EXCEPTION_STACK_OVERFLOW) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  tGuard.code = code;
  // Continue in ResumeAfterFault as if it had been called a little below the faulting frame;
  // it leaves the exception dispatch behind before jumping back to the guard.
  CONTEXT* registers = exception->ContextRecord;
#if defined(__x86_64__)
  registers->Rsp = ((registers->Rsp - 512) & ~DWORD64{15}) - 8;
  registers->Rip = reinterpret_cast<DWORD64>(&ResumeAfterFault);
#elif defined(__i386__)
  registers->Esp = ((registers->Esp - 512) & ~DWORD{15}) - 4;
  registers->Eip = reinterpret_cast<DWORD>(&ResumeAfterFault);
#elif defined(__aarch64__)
  registers->Sp = (registers->Sp - 512) & ~DWORD64{15};
  registers->Pc = reinterpret_cast<DWORD64>(&ResumeAfterFault);
#else
#error "no fault guard for this processor"
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

bool RunFaultGuarded(void (*step)(void* context), void* context, std::uint32_t* faultCode) {
  struct Registration {
    PVOID handler = AddVectoredExceptionHandler(1, OnException);
    ~Registration() {
      tGuard.active = false;
      if (handler != nullptr) RemoveVectoredExceptionHandler(handler);
    }
  } registration;
  if (__builtin_setjmp(tGuard.resume) != 0) {
    *faultCode = tGuard.code;
    return false;
  }
  tGuard.active = true;
  step(context);
  return true;
}

#endif

}  // namespace uippack::platform
