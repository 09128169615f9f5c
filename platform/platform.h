// The one seam between uippack's core and the operating system.
//
// The core (app/, package/, container/, log/) reaches the OS only through this header. Each
// service has two implementations: platform/win32/ uses the Win32 API the tool was designed
// on, platform/posix/ maps the same service onto POSIX. Platform code holds no pipeline logic.
//
// Text is wide inside (std::wstring). On Windows that is UTF-16 and goes to the wide API
// unchanged. On POSIX it is converted to UTF-8 at the boundary; a byte that is not valid
// UTF-8 is carried as U+DC80..U+DCFF and turned back into the same byte, so any file name a
// listing returns can be opened again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace uippack::platform {

// ---------------------------------------------------------------------------------------------
// Paths and text

#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
inline constexpr wchar_t kForeignSeparator = L'/';
inline constexpr bool kCaseInsensitivePaths = true;
// Appended to the names of the companion tools.
inline constexpr std::wstring_view kExecutableSuffix = L".exe";
#else
inline constexpr wchar_t kPathSeparator = L'/';
inline constexpr wchar_t kForeignSeparator = L'\\';
inline constexpr bool kCaseInsensitivePaths = false;
inline constexpr std::wstring_view kExecutableSuffix = L"";
#endif

// The system's narrow encoding: the ANSI code page on Windows (unrepresentable characters
// become its default character), UTF-8 on POSIX (U+DC80..U+DCFF become the raw byte again).
std::string WideToNarrow(std::wstring_view text);
// The reverse of WideToNarrow; on POSIX invalid UTF-8 bytes become U+DC80..U+DCFF.
std::wstring NarrowToWide(std::string_view text);

// The path resolved against the current directory, without resolving links.
std::wstring AbsolutePath(const std::wstring& path);
// The absolute path with links resolved as far as the path exists; the missing tail is
// appended as given. Used to tell whether two trees overlap.
std::wstring CanonicalPath(const std::wstring& path);

// ---------------------------------------------------------------------------------------------
// Console

// Writes text and one line end to standard output in a single write, then flushes. Never
// fails in a way that stops later lines (a broken pipe is ignored).
void WriteConsoleLine(std::wstring_view text);
// The same on standard error, for what the fixed console lines have no words for.
void WriteErrorLine(std::wstring_view text);

// ---------------------------------------------------------------------------------------------
// Directory listing

struct DirectoryEntry {
  std::wstring name;
  bool isDirectory = false;    // a link to a directory is not a directory here
  bool isRegularFile = false;  // nor is a link, a FIFO or a device a regular file
};

// One open listing of one directory, closed on destruction. The listing reports "." and ".."
// like the Win32 listing does, in the order the file system returns entries.
class DirectoryListing {
 public:
  DirectoryListing();
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // Opens the listing of directoryPath. False when the path does not exist, is not a
  // directory or cannot be read.
  bool Open(const std::wstring& directoryPath);
  // Fills entry with the next entry; false when there are no more.
  bool Next(DirectoryEntry* entry);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// What stands at path, the last step not followed when it is a link.
enum class PathKind { Missing, Directory, RegularFile, Other };
PathKind GetPathKind(const std::wstring& path);

#ifndef _WIN32
// ---------------------------------------------------------------------------------------------
// Tree copy (POSIX; on Windows the run starts xcopy)

// Copies the content of the directory source into destination, creating destination's last
// level when missing and merging into what is there. Links in the source are followed, so the
// copy holds only real directories and regular files: FIFOs, sockets, devices and links that
// lead nowhere are left out, and a directory met again below itself or inside the copy is not
// entered twice. What stands in the copy's way (an old file, a link) is replaced, never written
// through. What is left out gets a note on standard error. False only when either root cannot
// be opened.
bool CopyTreeFollowingLinks(const std::wstring& source, const std::wstring& destination);
#endif

// ---------------------------------------------------------------------------------------------
// Whole-file I/O for archives and containers

// A file held exclusively: while it is open no other opener, in this process or another, may
// open it (Win32 share mode 0; on POSIX an exclusive advisory lock taken without waiting).
// Only a regular file is opened, never through a link, and never waiting on a FIFO.
class ExclusiveFile {
 public:
  ExclusiveFile();
  ~ExclusiveFile();
  ExclusiveFile(ExclusiveFile&& other) noexcept;
  ExclusiveFile& operator=(ExclusiveFile&& other) noexcept;
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;

  // An existing file, for reading.
  static ExclusiveFile OpenForReading(const std::wstring& path);
  // A new or emptied file, for writing (an existing file is replaced).
  static ExclusiveFile CreateForWriting(const std::wstring& path);

  bool IsOpen() const;
  // The file's full length in bytes.
  bool GetSize(std::uint64_t* size) const;
  // Reads length bytes from the current position into buffer.
  bool Read(void* buffer, std::size_t length);
  // Writes length bytes at the current position.
  bool Write(const void* data, std::size_t length);
  // Forces written data to the device (FlushFileBuffers, fsync).
  bool Flush();
  // Moves back to the file's first byte.
  bool Rewind();
  void Close();

  // The closed state: -1 is both the invalid POSIX descriptor and INVALID_HANDLE_VALUE.
  static constexpr std::intptr_t kClosedHandle = -1;

 private:
  std::intptr_t handle_;
};

bool DeleteFileAt(const std::wstring& path);
// Gives the file at `from` the name `to` in the same file system, replacing a file there.
bool MoveFileReplacing(const std::wstring& from, const std::wstring& to);

// ---------------------------------------------------------------------------------------------
// Whole-file buffers (used by container/ only)

// Memory for a whole archive or container image, released on destruction. Large buffers get
// the system's large pages where it offers them: an image is touched once from end to end,
// and page faults, not copying, would otherwise dominate. Data() is null when the memory
// cannot be had; a size of 0 still gives a usable pointer.
class FileBuffer {
 public:
  explicit FileBuffer(std::size_t size);
  ~FileBuffer();
  FileBuffer(const FileBuffer&) = delete;
  FileBuffer& operator=(const FileBuffer&) = delete;

  std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t reserved_ = 0;  // what the system handed out, for the release
};

// ---------------------------------------------------------------------------------------------
// Processes

enum class RunOutcome {
  Completed,    // the child was started and the wait saw it end
  StartFailed,  // the child was not started
  WaitFailed,   // the child was started but the wait did not report its end
};

// Starts commandLine as a child process sharing this console and waits for it without a time
// limit. The command line is one string split into program and arguments by the Windows rules;
// no shell reads it. The child's exit code is not read.
RunOutcome RunProcessAndWait(const std::wstring& commandLine);

// Starts narrowCommandLine (in the system's narrow encoding) and returns at once; the child is
// never awaited and may outlive this process. Ended children do not pile up: a later start
// reaps them, and the system does once this process has ended.
void StartProcessDetached(const std::string& narrowCommandLine);

// Set-up before the run. On POSIX a console pipe closed by its reader, or a file size limit
// reached by a container write, then makes the write fail with an error instead of ending the
// process midway; the tools inherit this (7-Zip then finishes its archive). Nothing on Windows.
void PrepareProcess();

// The full path of the running executable; false when it cannot be had or is longer than the
// platform allows.
bool GetExecutablePath(std::wstring* path);

// ---------------------------------------------------------------------------------------------
// Log services (used by log/ only)

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

// How long NamedMutexLock::Acquire waits for a lock that someone else holds.
inline constexpr unsigned kLockWaitMilliseconds = 5000;

// A lock shared by name across every process of the machine, held by one thread at a time and
// released by the system when its holder dies. Any user may take it, so nobody may keep it from
// the others for longer than kLockWaitMilliseconds: past that, Acquire gives up. Windows: a named
// mutex, created initially owned and waited for when it already existed. POSIX: an exclusive flock
// on the file /tmp/<name>, created with mode 0666 so every user can take it, polled while held.
class NamedMutexLock {
 public:
  NamedMutexLock();
  ~NamedMutexLock();  // releases and closes
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

  // Creates or opens the lock and waits until the calling thread holds it. False when the lock
  // cannot be created or opened (on POSIX: anything but a regular file with one link, which is
  // opened without following links and without waiting), or when it is not had in time; nothing
  // is held then.
  bool Acquire(const std::wstring& name);

 private:
  std::intptr_t handle_;
};

// The machine-wide application-data folder: CSIDL_COMMON_APPDATA, created if missing; on POSIX
// /var/log when this process may write there. False when it cannot be had.
bool GetCommonAppDataFolder(std::wstring* folder);
// The temporary-files folder: GetTempPathW (ending in a backslash); $TMPDIR, else /tmp.
bool GetTempFolder(std::wstring* folder);
// True when path names an existing directory.
bool DirectoryExists(const std::wstring& path);
// Creates the last level of path, open to every user of the machine (mode 01777 on POSIX).
bool CreateSharedDirectory(const std::wstring& path);

// A log folder held open: the log file is created, opened and deleted inside the very directory
// that was checked, so swapping the folder for a link afterwards redirects nothing.
class LogDirectory {
 public:
  LogDirectory();
  ~LogDirectory();
  LogDirectory(const LogDirectory&) = delete;
  LogDirectory& operator=(const LogDirectory&) = delete;

  // Opens the existing directory path. On POSIX its last level must be a directory, not a link
  // to one, and a directory that every user may write to must be sticky or belong to root or to
  // this user: anyone else could swap the files in it. False when it is refused or cannot be
  // opened.
  bool Open(const std::wstring& path);
  bool IsOpen() const;
  // Deletes the file name inside the directory.
  bool RemoveFile(const std::wstring& name) const;

 private:
  friend class SharedAppendFile;
  std::intptr_t handle_;  // POSIX: the open directory
  std::wstring path_;     // Windows: the directory's path, which ends in a separator
};

// A text file that many processes open at once for appending: others may read and write it
// while it is open. A file it creates is open to every user (mode 0666 on POSIX).
class SharedAppendFile {
 public:
  SharedAppendFile();
  ~SharedAppendFile();
  SharedAppendFile(const SharedAppendFile&) = delete;
  SharedAppendFile& operator=(const SharedAppendFile&) = delete;

  // Opens the file name in directory for writing, creating it when absent. On POSIX only a
  // regular file with a single link is taken, opened without following links and without
  // waiting: a planted FIFO, link or second name of another file is refused.
  bool Open(const LogDirectory& directory, const std::wstring& name);
  bool IsOpen() const;
  // The file's creation (birth) time as UTC fields; false when the file system keeps none.
  bool GetCreationTime(CalendarTime* utc) const;
  // Moves to the end of the file and gives the new position, which is 0 for an empty file.
  bool SeekToEnd(std::uint64_t* position);
  // Writes length bytes at the current position.
  bool Write(const void* data, std::size_t length);
  void Close();

  // The closed state: -1 is both the invalid POSIX descriptor and INVALID_HANDLE_VALUE.
  static constexpr std::intptr_t kClosedHandle = -1;

 private:
  std::intptr_t handle_;
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
