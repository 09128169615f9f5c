// LogWrite against real files, with its folders placed in a scratch directory and its clock
// under the test's control.
#include "log/log_write.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "log/log_environment.h"
#include "log/log_record.h"
#include "platform/platform.h"
#include "tests/test_support.h"

namespace uippack::logging {
namespace {

using platform::CalendarTime;
using testing::fs::path;

std::wstring Wide(const path& p) { return platform::NarrowToWide(p.string()); }

class LogWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::MakeDirs(appData_);
    testing::MakeDirs(temp_);
    SetLogEnvironment(LogEnvironment{[this](std::wstring* folder) {
                                       if (!appDataAvailable_) return false;
                                       *folder = Wide(appData_);
                                       return true;
                                     },
                                     [this](std::wstring* folder) {
                                       *folder = Wide(temp_);
                                       return true;
                                     },
                                     [this] { return localNow_; }, [this] { return utcNow_; }});
  }
  void TearDown() override { SetLogEnvironment(SystemLogEnvironment()); }

  static std::string ProgramName() {
    return testing::fs::read_symlink("/proc/self/exe").stem().string();
  }
  path LogIn(const path& folder) const {
    return folder / "RUNTRAIL" / ("RUNTRAIL_" + ProgramName() + ".log");
  }
  path FirstLog() const { return LogIn(appData_); }
  path FallbackLog() const { return LogIn(temp_); }

  // The prefix this thread's records carry at localNow_.
  static std::string Prefix() {
    return "2024-03-05 07:08:09.012\t[" + ProgramName() + "]\t[" + std::to_string(getpid()) +
           "]\t[" + std::to_string(gettid()) + "]\t[0x00021078]\t[Thu May 20 15:07:02 2010]\t";
  }
  std::string Record(const std::string& message) const { return Prefix() + message + "\r\n"; }
  std::string Header() const { return std::string(kHeaderLine); }

  // The file system's birth time of the first log, or nothing when it keeps none.
  bool BirthOfFirstLog(CalendarTime* created) const {
    platform::SharedAppendFile file;
    return file.Open(Wide(FirstLog())) && file.GetCreationTime(created);
  }

  testing::TempDir dir_;
  path appData_ = dir_ / "appdata";
  path temp_ = dir_ / "temp";
  bool appDataAvailable_ = true;
  CalendarTime localNow_{2024, 3, 5, 7, 8, 9, 12};
  CalendarTime utcNow_ = platform::UtcTimeNow();
};

TEST_F(LogWriteTest, NewFileGetsHeaderThenRecordOpenToEveryUser) {
  LogWrite(L"Pack error,source path = %s, destination path = %s", L"/src/pkg", L"/out");

  EXPECT_EQ(testing::ReadFile(FirstLog()),
            Header() + Record("Pack error,source path = /src/pkg, destination path = /out"));
  EXPECT_FALSE(testing::fs::exists(temp_ / "RUNTRAIL"));
  struct stat info {};
  ASSERT_EQ(stat(FirstLog().parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 01777u);
  ASSERT_EQ(stat(FirstLog().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0666u);
}

TEST_F(LogWriteTest, HeaderGoesOnlyIntoAnEmptyFile) {
  LogWrite(L"one");
  LogWrite(L"two");
  EXPECT_EQ(testing::ReadFile(FirstLog()), Header() + Record("one") + Record("two"));

  testing::WriteFile(FirstLog(), "older text\r\n");
  LogWrite(L"three");
  EXPECT_EQ(testing::ReadFile(FirstLog()), "older text\r\n" + Record("three"));

  testing::WriteFile(FirstLog(), "");
  LogWrite(L"four");
  EXPECT_EQ(testing::ReadFile(FirstLog()), Header() + Record("four"));
}

TEST_F(LogWriteTest, FirstLocationStartsOverInALaterMonth) {
  LogWrite(L"old");
  CalendarTime created;
  if (!BirthOfFirstLog(&created)) GTEST_SKIP() << "this file system keeps no birth time";

  struct Case {
    const char* what;
    int year;
    int month;
    bool replaced;
  };
  const Case cases[] = {
      {"later month, same year", created.year, created.month + 1, true},
      {"later year, first month", created.year + 1, 1, true},
      {"clock set back, later month", created.year - 1, created.month + 1, true},
      {"clock set back, same month", created.year - 1, created.month, false},
      {"same month", created.year, created.month, false},
  };
  for (const Case& c : cases) {
    if (c.month > 12) continue;  // no later month in December
    SCOPED_TRACE(c.what);
    testing::WriteFile(FirstLog(), "");
    LogWrite(L"old");
    ASSERT_TRUE(BirthOfFirstLog(&created));
    utcNow_ = CalendarTime{c.year, c.month, 1, 0, 0, 0, 0};
    LogWrite(L"new");
    utcNow_ = platform::UtcTimeNow();
    EXPECT_EQ(testing::ReadFile(FirstLog()),
              c.replaced ? Header() + Record("new") : Header() + Record("old") + Record("new"));
  }
}

TEST_F(LogWriteTest, FallbackWhenAppDataIsUnavailableAndNeverReplaced) {
  appDataAvailable_ = false;
  LogWrite(L"first");
  utcNow_.year += 1;
  LogWrite(L"a year later");
  EXPECT_EQ(testing::ReadFile(FallbackLog()), Header() + Record("first") + Record("a year later"));
  EXPECT_FALSE(testing::fs::exists(appData_ / "RUNTRAIL"));
}

TEST_F(LogWriteTest, FallbackWhenTheFirstFileCannotBeOpened) {
  testing::MakeDirs(FirstLog());  // a directory where the file should be
  LogWrite(L"moved");
  EXPECT_EQ(testing::ReadFile(FallbackLog()), Header() + Record("moved"));
}

TEST_F(LogWriteTest, NoLogDirectoryMeansNoRecordAnywhere) {
  // Only the last level is created, so a missing parent makes creation fail.
  appData_ = dir_ / "missing" / "appdata";
  LogWrite(L"lost");
  EXPECT_FALSE(testing::fs::exists(dir_ / "missing"));
  EXPECT_FALSE(testing::fs::exists(temp_ / "RUNTRAIL"));

  // A file in the directory's place cannot be turned into one either.
  appData_ = dir_ / "appdata";
  testing::WriteFile(appData_ / "RUNTRAIL", "");
  LogWrite(L"lost");
  EXPECT_FALSE(testing::fs::exists(temp_ / "RUNTRAIL"));
}

TEST_F(LogWriteTest, MessageIsWrittenAsFormattedAndCut) {
  LogWrite(L"No valid uip files found in path = %s.\nA Valid UIP Path:\n\t\t\t\t \t1.layout\n",
           L"/pkg");
  const std::wstring exact(kMaxMessage, L'x');
  LogWrite(L"%s", exact.c_str());
  LogWrite(L"%s", (exact + L"y").c_str());
  LogWrite(L"Gr\u00fc\u00dfe \u20ac \U0001D11E %s", L"\u65e5\u672c");
  const std::string x(kMaxMessage, 'x');
  EXPECT_EQ(testing::ReadFile(FirstLog()),
            Header() +
                Record("No valid uip files found in path = /pkg.\nA Valid UIP Path:\n\t\t\t\t \t"
                       "1.layout\n") +
                Record(x) + Record(x) +
                Record("Gr\xC3\xBC\xC3\x9F"
                       "e \xE2\x82\xAC \xF0\x9D\x84\x9E \xE6\x97\xA5\xE6\x9C\xAC"));
}

TEST_F(LogWriteTest, UnreadableArgumentGivesTheAccessErrorRecord) {
  const long pageSize = sysconf(_SC_PAGESIZE);
  void* page = mmap(nullptr, static_cast<std::size_t>(pageSize), PROT_NONE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  const wchar_t* format = L"path = %s";
  LogWrite(format, static_cast<const wchar_t*>(page));
  LogWrite(L"after");
  munmap(page, static_cast<std::size_t>(pageSize));

  char address[32];
  std::snprintf(address, sizeof address, "%0*llX", static_cast<int>(sizeof(void*) * 2),
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(format)));
  EXPECT_EQ(testing::ReadFile(FirstLog()),
            Header() +
                Record(std::string("(!!!)Access Error, Invalid Memory Address : 0x") + address +
                       ", ExceptionCode : 0xc0000005") +
                Record("after"));
}

}  // namespace
}  // namespace uippack::logging
