// LogWrite against real files, with its folders placed in a scratch directory and its clock
// under the test's control.
#include "log/log_write.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "log/log_environment.h"
#include "log/log_record.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack::logging {
namespace {

namespace fs = testing::fs;
using fs::path;
using platform::CalendarTime;

// 112 bytes: the column names padded to their widths.
constexpr char kHeader[] =
    "date       time         processname    processid  threadid  logversion    "
    "buildtime                   userdata\r\n";
const path kLog = "RUNTRAIL/RUNTRAIL_log_test.log";  // named after this executable

// A record of this thread at the local time the fixture gives.
std::string Record(const std::string& message) {
  return "2024-03-05 07:08:09.012\t[log_test]\t[" + std::to_string(getpid()) + "]\t[" +
         std::to_string(gettid()) + "]\t[0x00021078]\t[Thu May 20 15:07:02 2010]\t" + message +
         "\r\n";
}

// Gives the log a folder as the system would, and whether it may be had.
bool Folder(const path& folder, bool available, std::wstring* out) {
  *out = platform::NarrowToWide(folder.string());
  return available;
}

// The log file inside RUNTRAIL folder, which is made first.
path LogIn(const path& runtrail) {
  testing::MakeDirs(runtrail);
  return runtrail / kLog.filename();
}

class LogWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseFolders(dir_.path());
    SetLogEnvironment({[this](std::wstring* f) { return Folder(appData_, firstAvailable_, f); },
                       [this](std::wstring* f) { return Folder(temp_, true, f); },
                       [] { return CalendarTime{2024, 3, 5, 7, 8, 9, 12}; },
                       [this] { return utcNow_; }});
  }
  void TearDown() override { SetLogEnvironment(SystemLogEnvironment()); }
  void UseFolders(const path& base) {
    testing::MakeDirs(appData_ = base / "appdata");
    testing::MakeDirs(temp_ = base / "temp");
    testing::WriteFile((elsewhere_ = base / "elsewhere") / "victim", "victim");
  }

  testing::TempDir dir_;
  path appData_, temp_, elsewhere_;  // elsewhere_: a folder outside the log's, with a file
  bool firstAvailable_ = true;
  CalendarTime utcNow_ = platform::UtcTimeNow();
};

// One header, then each message as formatted: several lines, cut at 4,095 characters, UTF-8, a
// CR written as U+240D (only a record's end is CR LF), an unreadable argument as access error.
TEST_F(LogWriteTest, ANewLogGetsTheHeaderOnceThenEachMessage) {
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  const wchar_t* unreadable = L"path = %s";
  LogWrite(L"No valid uip files in path = %s.\nA Valid UIP Path:\n\t\t \t1.layout\n", L"/pkg");
  LogWrite(L"<%s>", std::wstring(100000, L'h').c_str());  // far past the first buffer
  LogWrite(L"cr\r%s\r\nlf", L"/\u00e9\U0001D11E\r\n2024-01-01 00:00:00.000\t[forged]");
  LogWrite(unreadable, static_cast<const wchar_t*>(page));
  munmap(page, 4096);
  const std::string cr = "\xE2\x90\x8D";
  EXPECT_EQ(testing::ReadFile(appData_ / kLog),
            kHeader +
                Record("No valid uip files in path = /pkg.\nA Valid UIP Path:\n\t\t \t1.layout\n") +
                Record("<" + std::string(4094, 'h')) +
                Record("cr" + cr + "/\xC3\xA9\xF0\x9D\x84\x9E" + cr +
                       "\n2024-01-01 00:00:00.000\t[forged]" + cr + "\nlf") +
                Record(platform::WideToNarrow(AccessErrorText(unreadable, 0xC0000005))));
  EXPECT_FALSE(fs::exists(temp_ / "RUNTRAIL"));
  EXPECT_EQ(fs::status(appData_ / "RUNTRAIL").permissions(), fs::perms(01777));
  EXPECT_EQ(fs::status(appData_ / kLog).permissions(), fs::perms(0666));
}

// By the file's birth time; the year and the month are compared one by one.
TEST_F(LogWriteTest, OnlyTheFirstLocationStartsOverInALaterMonth) {
  LogWrite(L"old");
  struct statx born {};
  statx(AT_FDCWD, (appData_ / kLog).c_str(), 0, STATX_BTIME, &born);
  if ((born.stx_mask & STATX_BTIME) == 0) GTEST_SKIP() << "this file system keeps no birth time";
  LogWrite(L"same month");
  EXPECT_EQ(testing::ReadFile(appData_ / kLog), kHeader + Record("old") + Record("same month"));
  utcNow_.year += 1;
  firstAvailable_ = false;
  LogWrite(L"one");
  LogWrite(L"two");
  EXPECT_EQ(testing::ReadFile(temp_ / kLog), kHeader + Record("one") + Record("two"));
  firstAvailable_ = true;
  LogWrite(L"new");
  EXPECT_EQ(testing::ReadFile(appData_ / kLog), kHeader + Record("new"));
}

// What another user may put in the log's way is not waited on, followed or written through. A
// refused first location hands the record to the fallback; a first folder that cannot be made,
// or a refused fallback, drops it.
TEST_F(LogWriteTest, RecordGoesToTheFirstUsableLocationOrNowhere) {
  enum Where { kFirst, kFallback, kNowhere };
  const auto check = [&](const char* what, bool firstAvailable, Where where, auto plant) {
    SCOPED_TRACE(what);
    UseFolders(dir_ / what);
    firstAvailable_ = firstAvailable;
    plant((firstAvailable ? appData_ : temp_) / "RUNTRAIL");
    const auto untouched = testing::TreeListing(elsewhere_);
    LogWrite(L"x");
    EXPECT_EQ(testing::TreeListing(elsewhere_), untouched);
    EXPECT_EQ(fs::exists(temp_ / kLog), where == kFallback);
    if (where == kNowhere) return;
    EXPECT_EQ(testing::ReadFile((where == kFirst ? appData_ : temp_) / kLog),
              kHeader + Record("x"));
  };
  // Hands RUNTRAIL to another user (needs root).
  const auto foreign = [](mode_t mode) {
    return [mode](const path& runtrail) {
      testing::MakeDirs(runtrail);
      ASSERT_EQ(chmod(runtrail.c_str(), mode) | chown(runtrail.c_str(), 4242, 4242), 0);
    };
  };
  const auto folderLink = [&](const path& r) { fs::create_directory_symlink(elsewhere_, r); };
  // Opening a planted FIFO once waited forever: should it again, this ends the test instead.
  alarm(30);
  check("first location unavailable", false, kFallback, [](const path&) {});
  check("a FIFO as the log", true, kFallback,
        [](const path& r) { ASSERT_EQ(mkfifo(LogIn(r).c_str(), 0666), 0); });
  check("a link to another file as the log", true, kFallback,
        [&](const path& r) { fs::create_symlink(elsewhere_ / "victim", LogIn(r)); });
  check("a second name of another file as the log", true, kFallback,
        [&](const path& r) { fs::create_hard_link(elsewhere_ / "victim", LogIn(r)); });
  check("RUNTRAIL a link to another folder", true, kFallback, folderLink);
  check("the fallback's RUNTRAIL a link to another folder", false, kNowhere, folderLink);
  check("a file in RUNTRAIL's place", true, kNowhere,
        [](const path& r) { testing::WriteFile(r, ""); });
  if (geteuid() == 0) {
    check("RUNTRAIL another user's, open to all", true, kFallback, foreign(0777));
    check("RUNTRAIL another user's, open to all, sticky", true, kFirst, foreign(01777));
  }
  alarm(0);
}

// The lock is /tmp/#mutexRUNTRAIL_<program>, so a copy of the test writer runs under a name of
// its own. A lock held elsewhere past the 5 s wait, or a planted FIFO or link in its place,
// costs the record and nothing else.
TEST_F(LogWriteTest, ALockHeldOrPlantedDropsTheRecordInsteadOfHanging) {
  const std::string program = "log_lock_probe_" + std::to_string(getpid());
  fs::copy_file(UIPPACK_LOG_TEST_WRITER, dir_ / program);
  const path lock = "/tmp/#mutexRUNTRAIL_" + program;
  // 0: nothing in the way, 1: a FIFO, 2: a link to a file, 3: the lock held by this process.
  for (int i = 0; i < 4; ++i) {
    fs::remove(lock);
    UseFolders(dir_ / std::to_string(i));
    if (i == 1) mkfifo(lock.c_str(), 0666);
    if (i == 2) fs::create_symlink(elsewhere_ / "victim", lock);
    platform::NamedMutexLock holder;
    if (i == 3) holder.Acquire(platform::NarrowToWide(lock.filename().string()));
    // 124 would mean still waiting after 30 s.
    const auto run = testing::RunProcess({"/usr/bin/timeout", "30", (dir_ / program).string(),
                                          appData_.string(), temp_.string(), "1"});
    EXPECT_EQ(run.exitStatus, 0) << i << run.err;
    EXPECT_EQ(fs::exists(appData_ / "RUNTRAIL" / ("RUNTRAIL_" + program + ".log")), i == 0) << i;
  }
  fs::remove(lock);
}

}  // namespace
}  // namespace uippack::logging
