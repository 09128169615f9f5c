// The log's texts without files: names, limits, the header, the prefix, the replacement rule
// and the format rewriting.
#include "log/log_record.h"
#include "platform/path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace uippack::logging {
namespace {

using platform::CalendarTime;

TEST(LogRecordTest, HeaderColumnsHaveTheirWidths) {
  ASSERT_EQ(kHeaderLine.size(), 112u);
  const std::vector<std::pair<std::string_view, std::size_t>> columns = {
      {"date", 11},     {"time", 13},       {"processname", 15}, {"processid", 11},
      {"threadid", 10}, {"logversion", 14}, {"buildtime", 28},   {"userdata", 8}};
  std::size_t offset = 0;
  for (const auto& [name, width] : columns) {
    EXPECT_EQ(kHeaderLine.substr(offset, name.size()), name);
    EXPECT_EQ(kHeaderLine.find_first_not_of(' ', offset + name.size()), offset + width) << name;
    offset += width;
  }
  EXPECT_EQ(kHeaderLine.substr(offset), "\r\n");
}

TEST(LogRecordTest, ProgramNameIsTheFileNameWithoutItsLastExtension) {
  const std::wstring sep(1, platform::kPathSeparator);
  EXPECT_EQ(ProgramNameOf(sep + L"opt" + sep + L"bin" + sep + L"uippack"), L"uippack");
  EXPECT_EQ(ProgramNameOf(sep + L"tools" + sep + L"my.packer.exe"), L"my.packer");
  EXPECT_EQ(ProgramNameOf(sep + L"a.b" + sep + L"tool"), L"tool");
  EXPECT_EQ(ProgramNameOf(L"a.com"), ProgramNameOf(L"a.exe"));
  EXPECT_EQ(ProgramNameOf(L""), L"");
}

TEST(LogRecordTest, NamesAndPathsAreCutToTheirLimits) {
  EXPECT_EQ(MutexNameFor(L"uippack"), L"#mutexRUNTRAIL_uippack");
  EXPECT_EQ(MutexNameFor(std::wstring(300, L'n')).size(), kMaxMutexName);

  const std::wstring sep(1, platform::kPathSeparator);
  const std::wstring directory = LogDirectoryIn(sep + L"var" + sep + L"log");
  EXPECT_EQ(directory, sep + L"var" + sep + L"log" + sep + L"RUNTRAIL" + sep);
  EXPECT_EQ(LogFilePathIn(directory, L"uippack"), directory + L"RUNTRAIL_uippack.log");
  EXPECT_EQ(LogFilePathIn(directory, std::wstring(300, L'n')).size(), kMaxFilePath);
}

TEST(LogRecordTest, ReplacementTestsYearAndMonthSeparately) {
  const CalendarTime created{2024, 6, 15, 12, 0, 0, 0};
  struct Case {
    int year, month;
    bool replaced;
  };
  const Case cases[] = {
      {2024, 6, false},  // same month
      {2024, 7, true},   // later month of the same year
      {2024, 5, false},  // earlier month
      {2025, 1, true},   // later year, lower month
      {2025, 6, true},   // later year, same month
      {2023, 7, true},   // clock set back: the month test alone
      {2023, 6, false},  // clock set back, same month
      {2023, 1, false},
  };
  for (const Case& c : cases) {
    const CalendarTime now{c.year, c.month, 1, 0, 0, 0, 0};
    EXPECT_EQ(NeedsReplacement(created, now), c.replaced) << c.year << "-" << c.month;
  }
}

TEST(LogRecordTest, LongProgramNameCutsThePrefixAt256) {
  const std::wstring prefix =
      FormatRecordPrefix(CalendarTime{2010, 5, 20, 7, 3, 9, 45}, std::wstring(300, L'n'), 1, 1);
  EXPECT_EQ(prefix.size(), kMaxPrefix);
  EXPECT_EQ(prefix.substr(0, 25), L"2010-05-20 07:03:09.045\t[");
}

TEST(LogRecordTest, OnlyPlainStringConversionsBecomeWide) {
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {L"path = %s.", L"path = %ls."},
      {L"%s, %s", L"%ls, %ls"},
      {L"%-10s|%.3s|%*s", L"%-10ls|%.3ls|%*ls"},
      {L"%1$s", L"%1$ls"},
      {L"%ls %hs %S", L"%ls %hs %S"},
      {L"100%% %%s %d %x %p", L"100%% %%s %d %x %p"},
      {L"%lu [0x%08x] %c", L"%lu [0x%08x] %c"},
      {L"trailing %", L"trailing %"},
      {L"no conversions", L"no conversions"},
  };
  for (const auto& [format, expected] : cases) {
    std::wstring out;
    AppendWithWideStrings(format.c_str(), &out);
    EXPECT_EQ(out, expected);
  }
}

std::wstring Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring message = FormatUserMessage(format, &args);
  va_end(args);
  return message;
}

TEST(LogRecordTest, MessageTakesWideStringsAndIsCutFarPastTheFirstBuffer) {
  EXPECT_EQ(Format(L"%s = %d (%s)%%", L"answer", 42, L"\u00e9t\u00e9"),
            L"answer = 42 (\u00e9t\u00e9)%");
  const std::wstring huge(100000, L'h');
  EXPECT_EQ(Format(L"<%s>", huge.c_str()), L"<" + huge.substr(0, kMaxMessage - 1));
}

}  // namespace
}  // namespace uippack::logging
