// LogWrite against real files, with its folders placed in a scratch directory and its clock
// under the test's control.
#include "log/log_write.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "log/log_environment.h"
#include "log/log_record.h"
#include "platform/log_services.h"
#include "platform/text.h"
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
    platform::LogDirectory directory;
    platform::SharedAppendFile file;
    return directory.Open(Wide(FirstLog().parent_path())) &&
           file.Open(directory, Wide(FirstLog().filename())) && file.GetCreationTime(created);
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

// What another user may put in the log's way: nothing of it is waited on, followed or written
// through. A refused first location hands the record to the fallback; a refused fallback drops it.
TEST_F(LogWriteTest, PlantedFifosLinksAndForeignFoldersAreNotUsed) {
  enum Where { kFirst, kFallback, kNowhere };
  using Plant = std::function<void(const path& runtrail, const path& log, const path& elsewhere)>;
  struct Case {
    const char* what;
    Plant plant;  // into the RUNTRAIL folder of the first location, or of the fallback
    Where where;
    bool inFallback;
    bool needsRoot;  // to hand the folder to another user
  };
  const auto fifo = [](const path& at) { ASSERT_EQ(mkfifo(at.c_str(), 0666), 0); };
  const auto foreignFolder = [](mode_t mode) {
    return [mode](const path& runtrail, const path&, const path&) {
      testing::MakeDirs(runtrail);
      ASSERT_EQ(chmod(runtrail.c_str(), mode), 0);
      ASSERT_EQ(chown(runtrail.c_str(), 4242, 4242), 0);
    };
  };
  const Case cases[] = {
      {"a FIFO as the log",
       [&](const path& runtrail, const path& log, const path&) {
         testing::MakeDirs(runtrail);
         fifo(log);
       },
       kFallback, false, false},
      {"a link to a FIFO as the log",
       [&](const path& runtrail, const path& log, const path& elsewhere) {
         testing::MakeDirs(runtrail);
         fifo(elsewhere / "fifo");
         testing::fs::create_symlink(elsewhere / "fifo", log);
       },
       kFallback, false, false},
      {"a second name of another file as the log",
       [](const path& runtrail, const path& log, const path& elsewhere) {
         testing::MakeDirs(runtrail);
         testing::WriteFile(elsewhere / "victim", "victim");
         testing::fs::create_hard_link(elsewhere / "victim", log);
       },
       kFallback, false, false},
      {"RUNTRAIL a link to another folder",
       [](const path& runtrail, const path&, const path& elsewhere) {
         testing::fs::create_directory_symlink(elsewhere, runtrail);
       },
       kFallback, false, false},
      {"the fallback's RUNTRAIL a link to another folder",
       [](const path& runtrail, const path&, const path& elsewhere) {
         testing::fs::create_directory_symlink(elsewhere, runtrail);
       },
       kNowhere, true, false},
      {"RUNTRAIL another user's, open to all, not sticky", foreignFolder(0777), kFallback, false,
       true},
      {"RUNTRAIL another user's, open to all, sticky", foreignFolder(01777), kFirst, false, true},
  };
  // Opening a planted FIFO once waited forever: should it again, this ends the test instead.
  alarm(30);
  int number = 0;
  for (const Case& c : cases) {
    if (c.needsRoot && geteuid() != 0) continue;
    SCOPED_TRACE(c.what);
    const path base = dir_ / std::to_string(++number);
    appData_ = base / "appdata";
    temp_ = base / "temp";
    const path elsewhere = base / "elsewhere";
    for (const path& folder : {appData_, temp_, elsewhere}) testing::MakeDirs(folder);
    appDataAvailable_ = !c.inFallback;
    const path log = c.inFallback ? FallbackLog() : FirstLog();
    c.plant(log.parent_path(), log, elsewhere);
    const auto untouched = testing::TreeListing(elsewhere);

    LogWrite(L"x");

    EXPECT_EQ(testing::TreeListing(elsewhere), untouched);
    const path kept = c.where == kFirst ? FirstLog() : FallbackLog();
    if (c.where == kNowhere) {
      EXPECT_FALSE(testing::fs::exists(elsewhere / FirstLog().filename()));
    } else {
      EXPECT_EQ(testing::ReadFile(kept), Header() + Record("x"));
    }
  }
  alarm(0);
}

// The lock is a file in /tmp named after the program, so this runs a copy of the test writer
// under a name of its own, out of the way of every other run.
TEST_F(LogWriteTest, ALockHeldOrPlantedByAnotherUserDropsTheRecordInsteadOfHanging) {
  const std::string program = "log_lock_probe_" + std::to_string(getpid());
  const path writer = dir_ / program;
  testing::fs::copy_file(UIPPACK_LOG_TEST_WRITER, writer);
  const path lock = path("/tmp") / ("#mutexRUNTRAIL_" + program);
  const path log = appData_ / "RUNTRAIL" / ("RUNTRAIL_" + program + ".log");
  const path fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);

  int holder = -1;
  struct Case {
    const char* what;
    std::function<void()> plant;
    bool recorded;
  };
  const Case cases[] = {
      {"nothing in the way", [] {}, true},
      {"a FIFO", [&] { ASSERT_EQ(mkfifo(lock.c_str(), 0666), 0); }, false},
      {"a link to a FIFO", [&] { testing::fs::create_symlink(fifo, lock); }, false},
      {"a lock file held by another process",
       [&] {
         holder = open(lock.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
         ASSERT_EQ(flock(holder, LOCK_EX), 0);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::fs::remove(lock);
    testing::fs::remove_all(appData_ / "RUNTRAIL");
    c.plant();
    // The wait for a held lock ends after about 5 s; 124 means still waiting at 30 s.
    const auto run = testing::RunProcess(
        {"/usr/bin/timeout", "30", writer.string(), appData_.string(), temp_.string(), "1"});
    if (holder >= 0) close(holder);
    holder = -1;
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(testing::fs::exists(log), c.recorded);
    EXPECT_FALSE(testing::fs::exists(temp_ / "RUNTRAIL"));
  }
  testing::fs::remove(lock);
}

TEST_F(LogWriteTest, MessageIsWrittenAsFormattedAndCut) {
  LogWrite(L"No valid uip files found in path = %s.\nA Valid UIP Path:\n\t\t\t\t \t1.layout\n",
           L"/pkg");
  const std::wstring exact(kMaxMessage, L'x');
  LogWrite(L"%s", exact.c_str());
  LogWrite(L"%s", (exact + L"y").c_str());
  LogWrite(L"Gr\u00fc\u00dfe \u20ac \U0001D11E %s", L"\u65e5\u672c");
  LogWrite(L"cr\r%s\r\nlf", L"/p\r\n2024-01-01 00:00:00.000\t[forged]");
  const std::string x(kMaxMessage, 'x');
  const std::string cr = "\xE2\x90\x8D";  // U+240D
  EXPECT_EQ(
      testing::ReadFile(FirstLog()),
      Header() +
          Record("No valid uip files found in path = /pkg.\nA Valid UIP Path:\n\t\t\t\t \t"
                 "1.layout\n") +
          Record(x) + Record(x) +
          Record("Gr\xC3\xBC\xC3\x9F"
                 "e \xE2\x82\xAC \xF0\x9D\x84\x9E \xE6\x97\xA5\xE6\x9C\xAC") +
          Record("cr" + cr + "/p" + cr + "\n2024-01-01 00:00:00.000\t[forged]" + cr + "\nlf"));
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
