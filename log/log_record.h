// The texts of the log: names and paths, the header line, the record prefix and the message.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/fault_guard.h"

namespace uippack::logging {

// Written once at the top of every log file, before its first record.
inline constexpr std::string_view kHeaderLine =
    "date       time         processname    processid  threadid  logversion    "
    "buildtime                   userdata\r\n";

inline constexpr unsigned kLogVersion = 0x21078;
inline constexpr std::wstring_view kBuildTime = L"Thu May 20 15:07:02 2010";

inline constexpr std::size_t kMaxMutexName = 255;
inline constexpr std::size_t kMaxFilePath = 259;
inline constexpr std::size_t kMaxPrefix = 256;
inline constexpr std::size_t kMaxMessage = 4095;

// The file-name part of a path without its last extension (as _wsplitpath splits it), so
// C:\tools\my.packer.exe gives my.packer.
std::wstring ProgramNameOf(const std::wstring& path);

// "#mutexRUNTRAIL_<program>", cut to 255 characters.
std::wstring MutexNameFor(const std::wstring& programName);
// <folder><sep>RUNTRAIL<sep>. A folder that already ends in a separator gets a second one,
// which the file system reads as one.
std::wstring LogDirectoryIn(const std::wstring& folder);
// <directory>RUNTRAIL_<program>.log, cut to 259 characters.
std::wstring LogFilePathIn(const std::wstring& directory, const std::wstring& programName);

// A log file created at `created` (UTC) starts over at `now` (UTC). Year and month are tested
// separately, so a clock set back to an earlier year still replaces a file whose creation
// month number is lower.
bool NeedsReplacement(const platform::CalendarTime& created, const platform::CalendarTime& now);

// "<date> <time>\t[<name>]\t[<pid>]\t[<tid>]\t[0x00021078]\t[<build time>]\t", cut to 256
// characters.
std::wstring FormatRecordPrefix(const platform::CalendarTime& localTime,
                                const std::wstring& recordName, unsigned long processId,
                                unsigned long threadId);

// Copies format with every "%s" made "%ls": this system's "%s" takes a wide string, which the
// C wide formatters spell "%ls". Other conversions, "%%" and explicit length modifiers stay.
void AppendWithWideStrings(const wchar_t* format, std::wstring* out);

// The caller's message, cut to 4,095 characters. When formatting faults (an argument that
// points to unreadable memory), the access-error text instead.
std::wstring FormatUserMessage(const wchar_t* format, va_list* args);

// "(!!!)Access Error, Invalid Memory Address : 0x<address>, ExceptionCode : 0x<code>", the
// address in upper-case hexadecimal zero-filled to the width of a pointer.
std::wstring AccessErrorText(const void* address, std::uint32_t code);
// The exception code that names a fault in that text, the Windows one wherever the fault came
// from: 0xC0000005 for an access violation, 0xC0000006 for a page that cannot be read in.
std::uint32_t ExceptionCodeOf(const platform::MemoryFault& fault);

}  // namespace uippack::logging
