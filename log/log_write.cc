#include "log/log_write.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "log/log_environment.h"
#include "log/log_record.h"
#include "platform/clock.h"
#include "platform/debugger.h"
#include "platform/known_folder.h"
#include "platform/named_lock.h"
#include "platform/process.h"
#include "platform/process_identity.h"
#include "platform/shared_directory.h"
#include "platform/text.h"

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

// The shared log's first folder, and only when this run may create files there: a folder it may
// not write to would end the record without trying the temporary folder.
bool MachineLogFolder(std::wstring* folder) {
  return platform::GetKnownFolder(platform::KnownFolder::SharedRecords, folder) &&
         platform::MayCreateFilesIn(*folder);
}

// Makes sure the log directory is there; only its last level is created.
bool EnsureDirectory(const std::wstring& directory) {
  return platform::DirectoryExists(directory) || platform::CreateSharedDirectory(directory);
}

// The log file's name inside directoryPath. A path cut short inside its directory part leaves no
// file name to open.
bool LogFileNameIn(const std::wstring& directoryPath, const std::wstring& programName,
                   std::wstring* name) {
  const std::wstring path = LogFilePathIn(directoryPath, programName);
  if (path.size() <= directoryPath.size()) return false;
  *name = path.substr(directoryPath.size());
  return true;
}

enum class Opening { Opened, NotOpened, NoDirectory };

// A directory that is there but refused (a link, or one where others may swap the files) counts
// as a file that cannot be opened, so the record moves on to the fallback.
Opening OpenIn(const std::wstring& folder, const std::wstring& programName,
               platform::HeldDirectory* directory, platform::SharedAppendFile* file,
               std::wstring* name) {
  const std::wstring directoryPath = LogDirectoryIn(folder);
  if (!EnsureDirectory(directoryPath)) return Opening::NoDirectory;
  if (!LogFileNameIn(directoryPath, programName, name) || !directory->Open(directoryPath)) {
    return Opening::NotOpened;
  }
  return file->Open(*directory, *name) ? Opening::Opened : Opening::NotOpened;
}

// The first location holds one UTC calendar month at a time.
void ReplaceIfFromEarlierMonth(const platform::HeldDirectory& directory, const std::wstring& name,
                               platform::SharedAppendFile* file) {
  platform::CalendarTime created;
  if (!file->GetCreationTime(&created)) return;
  if (!NeedsReplacement(created, Environment().utcTime())) return;
  file->Close();
  // If the old file cannot be deleted, this opens it again and the record is appended to it.
  directory.RemoveFile(name);
  file->Open(directory, name);
}

// The shared log's first location when it has one, else its fallback. False when neither can be
// had; a first log directory that cannot be created rules out the fallback too.
bool OpenSharedLogFile(const std::wstring& programName, platform::SharedAppendFile* file) {
  const LogEnvironment& environment = Environment();
  std::wstring folder;
  std::wstring name;
  if (environment.commonAppDataFolder(&folder)) {
    platform::HeldDirectory directory;
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
  platform::HeldDirectory directory;
  return OpenIn(folder, programName, &directory, file, &name) == Opening::Opened;
}

// A record's text, formed once a log is open to take it, so that its time is that of the
// write, and formed only once however many logs are tried.
class Record {
 public:
  Record(const wchar_t* format, va_list* args) : format_(format), args_(args) {}

  const std::string& Text() {
    if (text_) return *text_;
    std::wstring modulePath;
    platform::GetModulePathOf(&kModuleMarker, &modulePath);
    std::wstring line = FormatRecordPrefix(Environment().localTime(), ProgramNameOf(modulePath),
                                           gProcessId.load(), platform::CurrentThreadId());
    line += FormatUserMessage(format_, args_);
    // CR LF ends a record and nothing else: a CR from a path or a message could otherwise make
    // what follows it pass for a record of its own.
    std::replace(line.begin(), line.end(), L'\r', kCarriageReturnSymbol);
    line += L"\r\n";
    text_ = platform::WideToNarrowBestFit(line);
    platform::SendToDebugger(*text_);
    return *text_;
  }

 private:
  const wchar_t* format_;
  va_list* args_;
  std::optional<std::string> text_;
};

// Appends the record, after the header when the file is empty. A file whose end cannot be found
// is left alone rather than written over from its start. False when the record did not get in.
bool Append(platform::SharedAppendFile* file, Record* record) {
  std::uint64_t end = 0;
  if (!file->SeekToEnd(&end)) return false;
  if (end == 0) file->Write(kHeaderLine.data(), kHeaderLine.size());
  const std::string& text = record->Text();
  return file->Write(text.data(), text.size());
}

// The log every user of the machine shares, under the machine-wide lock. Any of them may hold
// that lock or plant something in the way of the files, so this may fail at their will.
bool WriteToSharedLog(const std::wstring& programName, Record* record) {
  platform::NamedMutexLock lock;
  platform::SharedAppendFile file;
  return lock.Acquire(gMutexName, kLockWaitMilliseconds) && OpenSharedLogFile(programName, &file) &&
         Append(&file, record);
}

// The user's own log, in a folder nobody else may write to and under a lock in that folder, so
// no other user can keep a record out of it. It is never restarted.
bool WriteToOwnLog(const std::wstring& programName, Record* record) {
  std::wstring folder;
  std::wstring name;
  if (!Environment().userStateFolder(&folder)) return false;
  const std::wstring directoryPath = LogDirectoryIn(folder);
  platform::HeldDirectory directory;
  platform::FileLock lock;
  platform::SharedAppendFile file;
  return LogFileNameIn(directoryPath, programName, &name) && directory.OpenPrivate(directoryPath) &&
         lock.Acquire(directory, gMutexName, kLockWaitMilliseconds) && file.Open(directory, name) &&
         Append(&file, record);
}

void Write(const wchar_t* format, va_list* args) {
  std::wstring executablePath;
  platform::GetExecutablePath(&executablePath);
  const std::wstring programName = ProgramNameOf(executablePath);

  if (gProcessId.load() == 0) gProcessId.store(platform::CurrentProcessId());
  std::call_once(gMutexNameFormed, [&] { gMutexName = MutexNameFor(programName); });

  // The shared log first; whatever keeps a record out of it sends the record to the user's own.
  Record record(format, args);
  if (!WriteToSharedLog(programName, &record)) WriteToOwnLog(programName, &record);
}

}  // namespace

LogEnvironment SystemLogEnvironment() {
  return LogEnvironment{MachineLogFolder,
                        [](std::wstring* folder) {
                          return platform::GetKnownFolder(platform::KnownFolder::Temporary, folder);
                        },
                        [](std::wstring* folder) {
                          return platform::GetKnownFolder(platform::KnownFolder::UserState, folder);
                        },
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
