// LogWrite against real files, with its folders placed in a scratch directory and its clock
// under the test's control, and many processes of one executable logging into one file under the
// lock that keeps them apart. The header's text and the record prefix of a real run are checked
// end to end.
#include "log/log_write.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <regex>

#include "log/log_environment.h"
#include "log/log_record.h"
#include "platform/named_lock.h"
#include "platform/path.h"
#include "tests/test_support.h"

namespace uippack::logging {
namespace {

namespace fs = testing::fs;
using fs::path;

const std::string kHeader(kHeaderLine);
const path kLog = "RUNTRAIL/RUNTRAIL_log_test.log";  // named after this executable

// The log's texts without files: names and texts with their limits, the access-error text, the
// replacement rule, the format rewriting.
TEST(LogRecordTest, NamesTextsReplacementAndFormat) {
  const std::wstring sep(1, platform::kPathSeparator), n300(300, L'n');
  EXPECT_EQ(ProgramNameOf(sep + L"a.b" + sep + L"my.packer.exe"), L"my.packer");
  EXPECT_EQ(ProgramNameOf(sep + L"a.b" + sep + L"tool"), L"tool");
  EXPECT_EQ(MutexNameFor(n300), (L"#mutexRUNTRAIL_" + n300).substr(0, 255));
  EXPECT_EQ(LogFilePathIn(L"d" + sep, n300), (L"d" + sep + L"RUNTRAIL_" + n300).substr(0, 259));
  EXPECT_EQ(FormatRecordPrefix({2010, 5, 20, 7, 3, 9, 45}, n300, 1, 1),
            (L"2010-05-20 07:03:09.045\t[" + n300).substr(0, 256));
  // The format's address in upper-case hexadecimal, zero-filled to the width of a pointer.
  const auto* address = reinterpret_cast<const void*>(std::uintptr_t{0xAB});  // NOLINT
  EXPECT_EQ(AccessErrorText(address, 0xC0000005),
            L"(!!!)Access Error, Invalid Memory Address : 0x" +
                std::wstring(sizeof(void*) * 2 - 2, L'0') + L"AB, ExceptionCode : 0xc0000005");
  // Faults are named by their Windows codes on every system; one it has no name for by its own.
  using platform::FaultKind;
  EXPECT_EQ(ExceptionCodeOf({FaultKind::AccessViolation, 11}), 0xC0000005u);
  EXPECT_EQ(ExceptionCodeOf({FaultKind::PageError, 7}), 0xC0000006u);
  EXPECT_EQ(ExceptionCodeOf({FaultKind::Other, 0xC0000094}), 0xC0000094u);

  // A clock set back a year still replaces a file from a lower month number.
  const int cases[][3] = {{2024, 6, 0}, {2024, 7, 1}, {2024, 5, 0}, {2025, 1, 1},
                          {2025, 6, 1}, {2023, 7, 1}, {2023, 6, 0}, {2023, 1, 0}};
  for (const auto& [year, month, replaced] : cases)
    EXPECT_EQ(NeedsReplacement({2024, 6}, {year, month}), replaced == 1) << year << "-" << month;

  // A length modifier holds for its own conversion only.
  std::wstring out;
  AppendWithWideStrings(L"%ls %hs %S %%s %d %lu %#08x %c %s, %-10s|%.3s|%*s|%1$s. %", &out);
  EXPECT_EQ(out, L"%ls %hs %S %%s %d %lu %#08x %c %ls, %-10ls|%.3ls|%*ls|%1$ls. %");
}

// A record of this thread at the local time the fixture gives.
std::string Record(const std::string& text) {
  return "2024-03-05 07:08:09.012\t[log_test]\t[" + std::to_string(getpid()) + "]\t[" +
         std::to_string(gettid()) + "]\t[0x00021078]\t[Thu May 20 15:07:02 2010]\t" + text + "\r\n";
}

// Gives the log a folder as the system would, and whether it may be had.
bool Folder(const path& folder, bool available, std::wstring* out) {
  *out = testing::Wide(folder);
  return available;
}

// The log file inside RUNTRAIL folder, which is made first.
path LogIn(const path& runtrail) {
  testing::MakeDirs(runtrail);
  return runtrail / kLog.filename();
}

struct LogWriteTest : ::testing::Test {
  void SetUp() override {
    UseFolders(dir_.path());
    SetLogEnvironment({[this](std::wstring* f) { return Folder(appData_, firstAvailable_, f); },
                       [this](std::wstring* f) { return Folder(temp_, true, f); },
                       [this](std::wstring* f) { return Folder(own_, true, f); },
                       [] { return platform::CalendarTime{2024, 3, 5, 7, 8, 9, 12}; },
                       [this] { return utcNow_; }});
  }
  void TearDown() override { SetLogEnvironment(SystemLogEnvironment()); }
  void UseFolders(const path& base) {
    testing::MakeDirs(appData_ = base / "appdata");
    testing::MakeDirs(temp_ = base / "temp");
    own_ = base / "own/state";  // two levels the log makes
    testing::WriteFile(victim_ = (elsewhere_ = base / "elsewhere") / "victim", "victim");
  }

  testing::TempDir dir_;
  path appData_, temp_, own_, elsewhere_, victim_;  // elsewhere_: outside the log's, with victim_
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
// record goes to the fallback, and past that to the user's own log, whose missing folders are
// made for them alone. A first folder that cannot be made skips the fallback. The record is
// dropped only when the user's own folder is refused too. Both shared locations are opened
// alike, so the first one's traps stand for the fallback's too.
TEST_F(LogWriteTest, RecordGoesToTheFirstUsableLocationOrNowhere) {
  enum Where { kFirst, kFallback, kOwn, kNowhere };
  const auto check = [&](const char* what, Where where, auto plant) {
    SCOPED_TRACE(what);
    UseFolders(dir_ / what);
    const path runtrail = appData_ / "RUNTRAIL";
    plant(runtrail);
    const auto untouched = testing::TreeListing(elsewhere_);
    LogWrite(L"x");
    EXPECT_EQ(testing::TreeListing(elsewhere_), untouched);
    const path logs[] = {appData_ / kLog, temp_ / kLog, own_ / kLog};
    for (int i = kFirst; i <= kOwn; ++i)
      EXPECT_EQ(fs::is_regular_file(logs[i]) && testing::ReadFile(logs[i]) == kHeader + Record("x"),
                i == where)
          << logs[i];
    if (where != kOwn) return;
    for (const path& level : {own_.parent_path(), own_, own_ / "RUNTRAIL"})
      EXPECT_EQ(fs::status(level).permissions(), fs::perms(0700)) << level;
    EXPECT_EQ(fs::status(own_ / kLog).permissions(), fs::perms(0600));
  };
  const auto fifo = [](const path& r) { ASSERT_EQ(mkfifo(LogIn(r).c_str(), 0666), 0); };
  // A file in the first RUNTRAIL's place keeps the record from both shared locations.
  const auto noShared = [](const path& r) { testing::WriteFile(r, ""); };
  // Opening a planted FIFO once waited forever: should it again, this ends the test instead.
  alarm(30);
  check("FIFO log", kFallback, fifo);
  check("linked log", kFallback, [&](auto& r) { fs::create_symlink(victim_, LogIn(r)); });
  check("hard-linked log", kFallback, [&](auto& r) { fs::create_hard_link(victim_, LogIn(r)); });
  check("linked RUNTRAIL", kFallback, [&](auto r) { fs::create_directory_symlink(elsewhere_, r); });
  check("FIFO logs in both", kOwn, [&](const path& r) {
    fifo(r);
    fifo(temp_ / "RUNTRAIL");
  });
  check("file as RUNTRAIL", kOwn, noShared);
  check("own RUNTRAIL linked", kNowhere, [&](const path& r) {
    noShared(r);
    testing::MakeDirs(own_);
    fs::create_directory_symlink(elsewhere_, own_ / "RUNTRAIL");
  });
  check("own RUNTRAIL open to its group", kNowhere, [&](const path& r) {
    noShared(r);
    testing::MakeDirs(own_ / "RUNTRAIL");
    fs::permissions(own_ / "RUNTRAIL", fs::perms(0770));
  });
  // Only root can give a folder to another user. One open to all is refused unless sticky; the
  // user's own must be theirs.
  if (geteuid() == 0) {
    const auto foreign = [](const path& r, mode_t mode) {
      testing::MakeDirs(r);
      ASSERT_EQ(chmod(r.c_str(), mode) | chown(r.c_str(), 4242, 4242), 0);
    };
    check("foreign RUNTRAIL", kFallback, [&](const path& r) { foreign(r, 0777); });
    check("foreign sticky RUNTRAIL", kFirst, [&](const path& r) { foreign(r, 01777); });
    check("foreign own RUNTRAIL", kNowhere, [&](const path& r) {
      noShared(r);
      foreign(own_ / "RUNTRAIL", 0700);
    });
  }
  alarm(0);
}

// Another user can grow a shared log they created to the file system's largest size at no cost
// (a sparse file); a log that takes no more sends the record to the user's own log. The
// file-size limit stands in for that size here.
TEST_F(LogWriteTest, ASharedLogThatTakesNoMoreSendsTheRecordToTheUsersOwnLog) {
  const std::string full(4096, 'f');
  for (const path& folder : {appData_, temp_}) testing::WriteFile(LogIn(folder / "RUNTRAIL"), full);
  // In a child, whose own process and thread the record names.
  EXPECT_EQ(testing::InChild([&] {
              signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
              testing::Limit(RLIMIT_FSIZE, full.size());
              LogWrite(L"x");
              return testing::ReadFile(own_ / kLog) == kHeader + Record("x") ? 0 : 1;
            }),
            0);
  EXPECT_EQ(testing::ReadFile(appData_ / kLog), full);
}

// The lock is /tmp/#mutexRUNTRAIL_<program>, so a copy of the test writer runs under a name of
// its own. A lock held elsewhere past the 5 s wait, a FIFO in its place, or another user's lock
// file the run may not open sends the record to the user's own log, under a lock of its own
// there; no run hangs on it. The lock file is opened for reading, which a FIFO allows at once,
// so only here does its type matter; a link in its place is refused as one in the log's is.
TEST_F(LogWriteTest, ALockHeldOrPlantedSendsTheRecordToTheUsersOwnLog) {
  const std::string program = "log_lock_probe_" + std::to_string(getpid());
  fs::copy_file(UIPPACK_LOG_TEST_WRITER, dir_ / program);
  fs::permissions(dir_.path(), fs::perms(0755));  // lets another user run the copy
  const path lock = "/tmp/#mutexRUNTRAIL_" + program, log = "RUNTRAIL/RUNTRAIL_" + program + ".log";
  enum Lock { kFree, kHeld, kFifo, kAnotherUsers };
  for (const Lock plant : {kFree, kHeld, kFifo, kAnotherUsers}) {
    // Root stands for the other user, nobody (65534) for the one shut out: mode bits do not
    // stop root.
    if (plant == kAnotherUsers && geteuid() != 0) continue;
    const uid_t uid = plant == kAnotherUsers ? 65534 : geteuid();
    SCOPED_TRACE(plant);
    fs::remove(lock);
    const path own = dir_ / ("user" + std::to_string(plant));
    testing::MakeDirs(own);
    ASSERT_EQ(chown(own.c_str(), uid, uid), 0);
    ASSERT_TRUE(plant != kFifo || mkfifo(lock.c_str(), 0666) == 0);
    ASSERT_TRUE(plant != kAnotherUsers || close(open(lock.c_str(), O_CREAT | O_WRONLY, 0600)) == 0);
    platform::NamedMutexLock holder;
    if (plant == kHeld) holder.Acquire(testing::Wide(lock.filename()), 0);
    // One record as that user, with no fallback folder; timeout's 124 would say it still ran
    // after 30 s.
    const std::string id = std::to_string(uid), state = (own / "state").string();
    testing::Lines writer = {"timeout", "30", dir_ / program, appData_, "/nonexistent", "1"};
    if (uid != geteuid())
      writer.insert(writer.begin(),
                    {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"});
    EXPECT_EQ(testing::RunProcess(writer, {}, {"XDG_STATE_HOME=" + state}).exitStatus, 0);
    EXPECT_EQ(fs::exists(appData_ / log), plant == kFree);
    const path ownLog = own / "state" / log;
    EXPECT_EQ(fs::exists(ownLog) && testing::ReadFile(ownLog).starts_with(kHeader), plant != kFree);
    fs::remove(appData_ / log);
  }
  fs::remove(lock);
}

// A holder that dies frees the lock: a run that crashed holding it costs the next ones nothing.
TEST(LogLockTest, FreedWhenItsHolderDies) {
  const std::string name = "#mutexRUNTRAIL_log_lock_test_" + std::to_string(getpid());
  const auto child = [&]() -> int {  // ends while its lock object still holds the lock
    _exit(platform::NamedMutexLock().Acquire(testing::Wide(name), 0) ? 0 : 1);
  };
  EXPECT_EQ(testing::InChild(child), 0);
  EXPECT_TRUE(platform::NamedMutexLock().Acquire(testing::Wide(name), 0));
  unlink(("/tmp/" + name).c_str());
}

// Eight writers of 500 records each at once, into the fallback folder: every record whole, and
// the header once.
TEST(LogProcessesTest, EightWritersShareOneFileWithOneHeaderAndWholeRecords) {
  testing::TempDir dir;
  testing::RunProcess({"/bin/sh", "-c", R"(for i in $(seq 8); do "$0" - "$1" 500 & done; wait)",
                       UIPPACK_LOG_TEST_WRITER, dir.path().string()});
  const std::regex record(R"(\d{4}-\d\d-\d\d [\d:.]{12}\t[^\r\n]*\trecord \d+ ={200} end\r\n)");
  EXPECT_EQ(std::regex_replace(testing::ReadFile(dir / "RUNTRAIL/RUNTRAIL_log_test_writer.log"),
                               record, "R"),
            kHeader + std::string(8 * 500, 'R'));
}

// Only absolute paths from the environment place a log. A relative or empty TMPDIR ("." once
// made a folder open to all wherever a run started) stands for /tmp, and such an XDG_STATE_HOME
// for $HOME/.local/state; without an absolute HOME the user has no folder of their own.
TEST(LogFolders, OnlyAbsolutePathsFromTheEnvironmentCount) {
  const char* names[] = {"TMPDIR", "XDG_STATE_HOME", "HOME"};  // unset for nullptr
  // The variables' values, then the temporary folder and the user's own they give (nullptr: none).
  const std::tuple<std::array<const char*, 3>, const char*, const char*> cases[] = {
      {{nullptr, nullptr, "/home/u"}, "/tmp", "/home/u/.local/state"},
      {{".", "state", "/home/u"}, "/tmp", "/home/u/.local/state"},
      {{"sub/tmp", "/s", "home"}, "/tmp", "/s"},
      {{"/var/tmp", nullptr, "home"}, "/var/tmp", nullptr}};
  for (const auto& row : cases) {
    const auto inChild = [&] {  // whose environment the test may change
      const auto& [values, temp, state] = row;
      for (int i = 0; i < 3; ++i) values[i] ? setenv(names[i], values[i], 1) : unsetenv(names[i]);
      const LogEnvironment system = SystemLogEnvironment();
      std::wstring folder;
      // As nobody, who may not create files in /var/log, the run has no machine-wide folder.
      EXPECT_FALSE((geteuid() == 0 && setuid(65534) != 0) || system.commonAppDataFolder(&folder));
      EXPECT_TRUE(system.tempFolder(&folder) && folder == platform::NarrowToWide(temp)) << temp;
      EXPECT_EQ(system.userStateFolder(&folder) ? platform::WideToNarrow(folder) : "-",
                state != nullptr ? state : "-");
      return HasFailure() ? 1 : 0;
    };
    EXPECT_EQ(testing::InChild(inChild), 0);
  }
}

}  // namespace
}  // namespace uippack::logging
