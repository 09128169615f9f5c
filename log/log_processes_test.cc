// Many processes of one executable logging into one fresh file at the same time, and the lock
// that keeps them apart.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/log_record.h"
#include "platform/log_services.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack::logging {
namespace {

using namespace std::chrono_literals;

// Unique per test run, so a stale lock file from elsewhere cannot interfere.
std::wstring LockName() { return L"#mutexRUNTRAIL_log_lock_test_" + std::to_wstring(getpid()); }

// Records whether and when Acquire returned in another thread.
struct Waiter {
  std::atomic<bool> acquired{false};
  std::thread thread;
  explicit Waiter(const std::wstring& name)
      : thread([this, name] {
          platform::NamedMutexLock lock;
          acquired = lock.Acquire(name);
        }) {}
};

TEST(LogLockTest, HeldByOneThreadAtATime) {
  const std::wstring name = LockName();
  auto holder = std::make_unique<platform::NamedMutexLock>();
  ASSERT_TRUE(holder->Acquire(name));
  Waiter waiter(name);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(waiter.acquired);
  holder.reset();
  waiter.thread.join();
  EXPECT_TRUE(waiter.acquired);
  unlink(("/tmp/" + platform::WideToNarrow(name)).c_str());
}

TEST(LogLockTest, HeldAcrossProcessesAndFreedWhenTheHolderDies) {
  const std::wstring name = LockName();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::NamedMutexLock lock;
    const char held = lock.Acquire(name) ? 'y' : 'n';
    (void)!write(ready[1], &held, 1);
    std::this_thread::sleep_for(300ms);
    _exit(0);  // dies holding the lock: no release but the system's
  }
  close(ready[1]);
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  close(ready[0]);
  ASSERT_EQ(held, 'y');

  Waiter waiter(name);
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(waiter.acquired);
  int status = 0;
  waitpid(child, &status, 0);
  waiter.thread.join();
  EXPECT_TRUE(waiter.acquired);
  unlink(("/tmp/" + platform::WideToNarrow(name)).c_str());
}

TEST(LogProcessesTest, EightWritersShareOneFileWithOneHeaderAndWholeRecords) {
  constexpr int kWriters = 8;
  constexpr int kRecords = 500;
  testing::TempDir dir;
  const auto appData = dir / "appdata";
  testing::MakeDirs(appData);

  std::vector<testing::ProcessResult> results(kWriters);
  std::vector<std::thread> runners;
  runners.reserve(kWriters);
  for (int w = 0; w < kWriters; ++w) {
    runners.emplace_back([&, w] {
      results[w] = testing::RunProcess({UIPPACK_LOG_TEST_WRITER, appData.string(),
                                        (dir / "temp").string(), std::to_string(kRecords)});
    });
  }
  for (auto& runner : runners) runner.join();
  for (const auto& result : results) ASSERT_EQ(result.exitStatus, 0) << result.err;

  const std::string content =
      testing::ReadFile(appData / "RUNTRAIL" / "RUNTRAIL_log_test_writer.log");
  ASSERT_EQ(content.substr(0, kHeaderLine.size()), kHeaderLine);

  const std::regex record(
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\t\[log_test_writer\]\t\[\d+\]\t\[\d+\]\t)"
      R"(\[0x00021078\]\t\[Thu May 20 15:07:02 2010\]\trecord \d+ ={200} end\r)");
  std::istringstream lines(content.substr(kHeaderLine.size()));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ASSERT_TRUE(std::regex_match(line, record)) << "line " << count << ": " << line;
    ++count;
  }
  EXPECT_EQ(count, kWriters * kRecords);
}

}  // namespace
}  // namespace uippack::logging
