// LogWrite against real files, with its folders placed in a scratch directory and its clock
// under the test's control. The header's text and the record prefix of a real run are checked
// end to end.
#include "log/log_write.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "log/log_environment.h"
#include "log/log_record.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack::logging {
namespace {

namespace fs = testing::fs;
using fs::path;

const std::string kHeader(kHeaderLine);
const path kLog = "RUNTRAIL/RUNTRAIL_log_test.log";  // named after this executable

// A record of this thread at the local time the fixture gives.
std::string Record(const std::string& text) {
  return "2024-03-05 07:08:09.012\t[log_test]\t[" + std::to_string(getpid()) + "]\t[" +
         std::to_string(gettid()) + "]\t[0x00021078]\t[Thu May 20 15:07:02 2010]\t" + text + "\r\n";
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
                       [] { return platform::CalendarTime{2024, 3, 5, 7, 8, 9, 12}; },
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
  platform::CalendarTime utcNow_ = platform::UtcTimeNow();
};

// One header, then each message as formatted: cut at 4,095 characters, UTF-8, a CR written as
// U+240D (only a record's end is CR LF), an unreadable argument as access error. Only the first
// location starts over in a later month (by the file's birth time): the fallback keeps growing.
TEST_F(LogWriteTest, HeaderOnceThenEachMessageUntilALaterMonth) {
  const wchar_t* unreadable = L"path = %s";
  LogWrite(L"<%s>", std::wstring(100000, L'h').c_str());  // far past the first buffer
  LogWrite(L"cr\r%s\r\nlf", L"/\u00e9\U0001D11E\r\n2024-01-01 00:00:00.000\t[forged]");
  LogWrite(unreadable, reinterpret_cast<const wchar_t*>(8));  // NOLINT: in the unmapped first page
  const std::string cr = "\xE2\x90\x8D";
  EXPECT_EQ(testing::ReadFile(appData_ / kLog),
            kHeader + Record("<" + std::string(4094, 'h')) +
                Record("cr" + cr + "/\xC3\xA9\xF0\x9D\x84\x9E" + cr +
                       "\n2024-01-01 00:00:00.000\t[forged]" + cr + "\nlf") +
                Record(platform::WideToNarrow(AccessErrorText(unreadable, 0xC0000005))));
  EXPECT_EQ(fs::status(appData_ / "RUNTRAIL").permissions(), fs::perms(01777));
  EXPECT_EQ(fs::status(appData_ / kLog).permissions(), fs::perms(0666));

  utcNow_.year += 1;
  firstAvailable_ = false;
  LogWrite(L"one");
  LogWrite(L"two");
  EXPECT_EQ(testing::ReadFile(temp_ / kLog), kHeader + Record("one") + Record("two"));
  struct statx born {};
  statx(AT_FDCWD, (appData_ / kLog).c_str(), 0, STATX_BTIME, &born);
  if ((born.stx_mask & STATX_BTIME) == 0) GTEST_SKIP() << "this file system keeps no birth time";
  firstAvailable_ = true;
  LogWrite(L"new");
  EXPECT_EQ(testing::ReadFile(appData_ / kLog), kHeader + Record("new"));
}

// What another user may put in the log's way is not waited on, followed or written through: the
// record goes to the fallback instead. A first folder that cannot be made drops it. Both
// locations are opened alike, so the first one's traps stand for the fallback's too.
TEST_F(LogWriteTest, RecordGoesToTheFirstUsableLocationOrNowhere) {
  enum Where { kFirst, kFallback, kNowhere };
  const auto check = [&](const char* what, Where where, auto plant) {
    SCOPED_TRACE(what);
    UseFolders(dir_ / what);
    plant(appData_ / "RUNTRAIL");
    const auto untouched = testing::TreeListing(elsewhere_);
    LogWrite(L"x");
    EXPECT_EQ(testing::TreeListing(elsewhere_), untouched);
    EXPECT_EQ(fs::exists(temp_ / kLog), where == kFallback);
    if (where != kFirst) return;
    EXPECT_EQ(testing::ReadFile(appData_ / kLog), kHeader + Record("x"));
  };
  // Opening a planted FIFO once waited forever: should it again, this ends the test instead.
  alarm(30);
  check("FIFO log", kFallback, [](const path& r) { ASSERT_EQ(mkfifo(LogIn(r).c_str(), 0666), 0); });
  check("linked log", kFallback,
        [&](const path& r) { fs::create_symlink(elsewhere_ / "victim", LogIn(r)); });
  check("hard-linked log", kFallback,
        [&](const path& r) { fs::create_hard_link(elsewhere_ / "victim", LogIn(r)); });
  check("linked RUNTRAIL", kFallback,
        [&](const path& r) { fs::create_directory_symlink(elsewhere_, r); });
  check("file as RUNTRAIL", kNowhere, [](const path& r) { testing::WriteFile(r, ""); });
  // Another user's RUNTRAIL open to all is refused unless sticky (needs root).
  for (const mode_t mode : {0777, 01777}) {
    if (geteuid() != 0) break;
    check(mode == 0777 ? "foreign RUNTRAIL" : "foreign sticky RUNTRAIL",
          mode == 0777 ? kFallback : kFirst, [mode](const path& r) {
            testing::MakeDirs(r);
            ASSERT_EQ(chmod(r.c_str(), mode) | chown(r.c_str(), 4242, 4242), 0);
          });
  }
  alarm(0);
}

// The lock is /tmp/#mutexRUNTRAIL_<program>, so a copy of the test writer runs under a name of
// its own. A lock held elsewhere past the 5 s wait, or a FIFO planted in its place, costs the
// record and nothing else. The lock file is opened for reading, which a FIFO allows at once, so
// only here does its type matter; a link in its place is refused as one in the log's place is.
TEST_F(LogWriteTest, ALockHeldOrPlantedDropsTheRecordInsteadOfHanging) {
  const std::string program = "log_lock_probe_" + std::to_string(getpid());
  fs::copy_file(UIPPACK_LOG_TEST_WRITER, dir_ / program);
  const path lock = "/tmp/#mutexRUNTRAIL_" + program;
  // 0: a FIFO, 1: the lock held by this process, 2: nothing in the way.
  for (int i = 0; i < 3; ++i) {
    fs::remove(lock);
    if (i == 0) mkfifo(lock.c_str(), 0666);
    platform::NamedMutexLock holder;
    if (i == 1) holder.Acquire(platform::NarrowToWide(lock.filename().string()), 0);
    // 124 would mean still waiting after 30 s.
    const auto run = testing::RunProcess({"/usr/bin/timeout", "30", (dir_ / program).string(),
                                          appData_.string(), temp_.string(), "1"});
    EXPECT_EQ(run.exitStatus, 0) << i << run.err;
    EXPECT_EQ(fs::exists(appData_ / "RUNTRAIL" / ("RUNTRAIL_" + program + ".log")), i == 2) << i;
  }
  fs::remove(lock);
}

// Sets the variable, or removes it for nullptr.
void SetVariable(const char* name, const char* value) {
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
}

// Only an absolute TMPDIR places the log: a relative one ("." once made a folder open to all
// wherever a run started) or an empty one stands for none.
TEST(LogFolders, OnlyAnAbsoluteTmpdirCounts) {
  const char* const kept = std::getenv("TMPDIR");
  const std::string keptValue = kept != nullptr ? kept : "";
  const std::pair<const char*, const char*> cases[] = {{nullptr, "/tmp"},
                                                       {"", "/tmp"},
                                                       {".", "/tmp"},
                                                       {"sub/tmp", "/tmp"},
                                                       {"/var/tmp", "/var/tmp"}};
  for (const auto& [tmpdir, expected] : cases) {
    SetVariable("TMPDIR", tmpdir);
    std::wstring folder;
    EXPECT_TRUE(SystemLogEnvironment().tempFolder(&folder) &&
                folder == platform::NarrowToWide(expected))
        << (tmpdir != nullptr ? tmpdir : "unset");
  }
  SetVariable("TMPDIR", kept != nullptr ? keptValue.c_str() : nullptr);
}

}  // namespace
}  // namespace uippack::logging
