#include "log/log_record.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "platform/path.h"

namespace uippack::logging {
namespace {

constexpr std::wstring_view kLogName = L"RUNTRAIL";

std::wstring Cut(std::wstring text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

// Formatting may fault on the caller's arguments; everything it fills lives outside the guarded
// frames, so abandoning them leaves nothing half-owned.
struct MessageJob {
  const wchar_t* format;
  va_list* args;
  std::wstring wideFormat;
  std::vector<wchar_t> buffer;
  std::size_t length = 0;
};

// Big enough for any sane message; past it, a formatter that keeps failing is taken at its
// word for as much as it wrote.
constexpr std::size_t kLargestAttempt = std::size_t{1} << 20;

void FormatStep(void* context) {
  auto* job = static_cast<MessageJob*>(context);
  AppendWithWideStrings(job->format, &job->wideFormat);
  // vswprintf gives -1, not a length, when the text does not fit, and what it leaves in the
  // buffer is not defined; grow until the whole text fits, then keep its beginning.
  for (std::size_t capacity = kMaxMessage + 1;; capacity *= 2) {
    job->buffer.assign(capacity, L'\0');
    va_list attempt;
    va_copy(attempt, *job->args);  // NOLINT(clang-analyzer-valist.Uninitialized): set by the caller
    const int written =
        std::vswprintf(job->buffer.data(), capacity, job->wideFormat.c_str(), attempt);
    va_end(attempt);
    if (written >= 0) {
      job->length = std::min(static_cast<std::size_t>(written), kMaxMessage);
      return;
    }
    if (capacity >= kLargestAttempt) {
      const auto kept = job->buffer.begin() + kMaxMessage;
      job->length = static_cast<std::size_t>(std::find(job->buffer.begin(), kept, L'\0') -
                                             job->buffer.begin());
      return;
    }
  }
}

}  // namespace

std::wstring ProgramNameOf(const std::wstring& path) {
  std::wstring name(platform::FileNameOf(path));
  const std::size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  return name;
}

std::wstring MutexNameFor(const std::wstring& programName) {
  return Cut(L"#mutex" + std::wstring(kLogName) + L"_" + programName, kMaxMutexName);
}

std::wstring LogDirectoryIn(const std::wstring& folder) {
  return folder + platform::kPathSeparator + std::wstring(kLogName) + platform::kPathSeparator;
}

std::wstring LogFilePathIn(const std::wstring& directory, const std::wstring& programName) {
  return Cut(directory + std::wstring(kLogName) + L"_" + programName + L".log", kMaxFilePath);
}

bool NeedsReplacement(const platform::CalendarTime& created, const platform::CalendarTime& now) {
  return now.year > created.year || now.month > created.month;
}

std::wstring FormatRecordPrefix(const platform::CalendarTime& localTime,
                                const std::wstring& recordName, unsigned long processId,
                                unsigned long threadId) {
  // Room for every field at full width; the cut to the limit comes after.
  std::vector<wchar_t> buffer(recordName.size() + kBuildTime.size() + 160);
  const int written =
      std::swprintf(buffer.data(), buffer.size(),
                    L"%04d-%02d-%02d %02d:%02d:%02d.%03d\t[%ls]\t[%lu]\t[%lu]\t[0x%08x]\t[%ls]\t",
                    localTime.year, localTime.month, localTime.day, localTime.hour,
                    localTime.minute, localTime.second, localTime.milliseconds, recordName.c_str(),
                    processId, threadId, kLogVersion, std::wstring(kBuildTime).c_str());
  if (written < 0) return {};
  return Cut(std::wstring(buffer.data(), static_cast<std::size_t>(written)), kMaxPrefix);
}

void AppendWithWideStrings(const wchar_t* format, std::wstring* out) {
  constexpr std::wstring_view kConversionParts = L"0123456789$-+ #'.*";
  constexpr std::wstring_view kLengthModifiers = L"hlLqjztIw";
  for (const wchar_t* p = format; *p != L'\0'; ++p) {
    out->push_back(*p);
    if (*p != L'%') continue;
    bool hasLength = false;
    for (++p; *p != L'\0'; ++p) {
      const bool isLength = kLengthModifiers.find(*p) != std::wstring_view::npos;
      if (!isLength && kConversionParts.find(*p) == std::wstring_view::npos) break;
      hasLength = hasLength || isLength;
      out->push_back(*p);
    }
    if (*p == L'\0') break;
    if (*p == L's' && !hasLength) out->push_back(L'l');
    out->push_back(*p);
  }
}

std::wstring FormatUserMessage(const wchar_t* format, va_list* args) {
  MessageJob job{format, args, {}, {}, 0};
  job.wideFormat.reserve(256);
  platform::MemoryFault fault;
  if (!platform::RunFaultGuarded(FormatStep, &job, &fault)) {
    return AccessErrorText(format, ExceptionCodeOf(fault));
  }
  return std::wstring(job.buffer.data(), job.length);
}

std::wstring AccessErrorText(const void* address, std::uint32_t code) {
  constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  auto value = reinterpret_cast<std::uintptr_t>(address);
  std::wstring hexAddress(sizeof(value) * 2, L'0');
  for (auto it = hexAddress.rbegin(); it != hexAddress.rend(); ++it, value >>= 4) {
    *it = kDigits[value & 0xF];
  }
  wchar_t hexCode[16] = {};
  std::swprintf(hexCode, std::size(hexCode), L"%08x", static_cast<unsigned>(code));
  return L"(!!!)Access Error, Invalid Memory Address : 0x" + hexAddress + L", ExceptionCode : 0x" +
         hexCode;
}

std::uint32_t ExceptionCodeOf(const platform::MemoryFault& fault) {
  switch (fault.kind) {
    case platform::FaultKind::AccessViolation:
      return 0xC0000005;
    case platform::FaultKind::PageError:
      return 0xC0000006;
    case platform::FaultKind::Other:
      break;
  }
  return fault.systemCode;
}

}  // namespace uippack::logging
