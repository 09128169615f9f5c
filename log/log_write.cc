#include "log/log_write.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>
#include <utility>

#include "log/log_environment.h"
#include "log/log_record.h"
#include "platform/log_services.h"
#include "platform/process.h"

namespace uippack {
namespace logging {
namespace {

LogEnvironment& Environment() {
  static LogEnvironment environment = SystemLogEnvironment();
  return environment;
}

// Kept for the life of the process and the same for every thread.
std::atomic<unsigned long> gProcessId{0};
std::once_flag gMutexNameFormed;
std::wstring gMutexName;

// Any user may hold the shared lock, so nobody may keep it from the others for longer than this.
constexpr unsigned kLockWaitMilliseconds = 5000;

// U+240D SYMBOL FOR CARRIAGE RETURN stands in for a CR inside a record.
constexpr wchar_t kCarriageReturnSymbol = L'\u240D';

// Any static of the facility will do: its address tells which module holds the facility.
const char kModuleMarker = 0;

// Makes sure the log directory is there; only its last level is created.
bool EnsureDirectory(const std::wstring& directory) {
  return platform::DirectoryExists(directory) || platform::CreateSharedDirectory(directory);
}

enum class Opening { Opened, NotOpened, NoDirectory };

// A directory that is there but refused (a link, or one where others may swap the files) counts
// as a file that cannot be opened, so the record moves on to the fallback.
Opening OpenIn(const std::wstring& folder, const std::wstring& programName,
               platform::LogDirectory* directory, platform::SharedAppendFile* file,
               std::wstring* name) {
  const std::wstring directoryPath = LogDirectoryIn(folder);
  if (!EnsureDirectory(directoryPath)) return Opening::NoDirectory;
  const std::wstring path = LogFilePathIn(directoryPath, programName);
  // A path cut short inside its directory part leaves no file name to open.
  if (path.size() <= directoryPath.size()) return Opening::NotOpened;
  *name = path.substr(directoryPath.size());
  if (!directory->Open(directoryPath)) return Opening::NotOpened;
  return file->Open(*directory, *name) ? Opening::Opened : Opening::NotOpened;
}

// The first location holds one UTC calendar month at a time.
void ReplaceIfFromEarlierMonth(const platform::LogDirectory& directory, const std::wstring& name,
                               platform::SharedAppendFile* file) {
  platform::CalendarTime created;
  if (!file->GetCreationTime(&created)) return;
  if (!NeedsReplacement(created, Environment().utcTime())) return;
  file->Close();
  // If the old file cannot be deleted, this opens it again and the record is appended to it.
  directory.RemoveFile(name);
  file->Open(directory, name);
}

// The first location when it has one, else the fallback. False when the call must end without
// writing: a log directory that cannot be created ends it wherever that happens.
bool OpenLogFile(const std::wstring& programName, platform::SharedAppendFile* file) {
  const LogEnvironment& environment = Environment();
  std::wstring folder;
  std::wstring name;
  if (environment.commonAppDataFolder(&folder)) {
    platform::LogDirectory directory;
    switch (OpenIn(folder, programName, &directory, file, &name)) {
      case Opening::NoDirectory:
        return false;
      case Opening::Opened:
        ReplaceIfFromEarlierMonth(directory, name, file);
        break;
      case Opening::NotOpened:
        break;
    }
    if (file->IsOpen()) return true;
  }
  if (!environment.tempFolder(&folder)) return false;
  platform::LogDirectory directory;
  return OpenIn(folder, programName, &directory, file, &name) == Opening::Opened;
}

void Write(const wchar_t* format, va_list* args) {
  std::wstring executablePath;
  platform::GetExecutablePath(&executablePath);
  const std::wstring programName = ProgramNameOf(executablePath);

  if (gProcessId.load() == 0) gProcessId.store(platform::CurrentProcessId());
  std::call_once(gMutexNameFormed, [&] { gMutexName = MutexNameFor(programName); });

  platform::NamedMutexLock lock;
  if (!lock.Acquire(gMutexName, kLockWaitMilliseconds)) return;

  platform::SharedAppendFile file;
  if (!OpenLogFile(programName, &file)) return;

  // A file whose end cannot be found is left alone rather than written over from its start.
  std::uint64_t end = 0;
  if (!file.SeekToEnd(&end)) return;
  if (end == 0) file.Write(kHeaderLine.data(), kHeaderLine.size());

  std::wstring modulePath;
  platform::GetModulePathOf(&kModuleMarker, &modulePath);
  std::wstring line = FormatRecordPrefix(Environment().localTime(), ProgramNameOf(modulePath),
                                         gProcessId.load(), platform::CurrentThreadId());
  line += FormatUserMessage(format, args);
  // CR LF ends a record and nothing else: a CR from a path or a message could otherwise make
  // what follows it pass for a record of its own.
  std::replace(line.begin(), line.end(), L'\r', kCarriageReturnSymbol);
  line += L"\r\n";

  const std::string narrow = platform::NarrowLogLine(line);
  platform::SendToDebugger(narrow);
  file.Write(narrow.data(), narrow.size());
}

}  // namespace

LogEnvironment SystemLogEnvironment() {
  return LogEnvironment{platform::GetCommonAppDataFolder, platform::GetTempFolder,
                        platform::LocalTimeNow, platform::UtcTimeNow};
}

void SetLogEnvironment(LogEnvironment environment) { Environment() = std::move(environment); }

}  // namespace logging

void LogWrite(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  try {
    logging::Write(format, &args);
  } catch (...) {
    // The log never troubles its caller, not even when memory runs out.
  }
  va_end(args);
}

}  // namespace uippack
