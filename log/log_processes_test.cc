// Many processes of one executable logging into one fresh file at the same time, and the lock
// that keeps them apart.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "log/log_record.h"
#include "platform/log_services.h"
#include "tests/test_support.h"

namespace uippack::logging {
namespace {

// Two threads of one process exclude each other too, and a holder that dies frees the lock.
TEST(LogLockTest, HeldByOneThreadAtATimeAndFreedWhenItsHolderDies) {
  const std::wstring name = L"#mutexRUNTRAIL_log_lock_test_" + std::to_wstring(getpid());
  auto holder = std::make_unique<platform::NamedMutexLock>();
  ASSERT_TRUE(holder->Acquire(name));
  std::atomic<bool> released{false};
  bool late = false;  // the waiter had the lock only once it was released
  std::thread waiter([&] { late = platform::NamedMutexLock().Acquire(name) && released; });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  released = true;
  holder.reset();
  waiter.join();
  EXPECT_TRUE(late);

  if (fork() == 0) _exit(platform::NamedMutexLock().Acquire(name) ? 0 : 1);  // dies holding it
  int status = 1;
  wait(&status);
  EXPECT_TRUE(status == 0 && platform::NamedMutexLock().Acquire(name));
  unlink(("/tmp/#mutexRUNTRAIL_log_lock_test_" + std::to_string(getpid())).c_str());
}

TEST(LogProcessesTest, EightWritersShareOneFileWithOneHeaderAndWholeRecords) {
  testing::TempDir dir;
  // Eight writers of 500 records each at once, into the fallback under $TMPDIR; each that fails
  // prints its number.
  const auto run = testing::RunProcess(
      {"/bin/sh", "-c",
       R"(for i in 1 2 3 4 5 6 7 8; do TMPDIR="$1" "$0" - - 500 || echo "$i" & done; wait)",
       UIPPACK_LOG_TEST_WRITER, dir.path().string()});
  ASSERT_EQ(run.out, "") << run.err;
  // Every record whole, and the header once.
  const std::regex record(
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\t\[log_test_writer\]\t\[\d+\]\t\[\d+\]\t)"
      R"(\[0x00021078\]\t\[Thu May 20 15:07:02 2010\]\trecord \d+ ={200} end\r\n)");
  EXPECT_EQ(std::regex_replace(testing::ReadFile(dir / "RUNTRAIL" / "RUNTRAIL_log_test_writer.log"),
                               record, "R"),
            std::string(kHeaderLine) + std::string(8 * 500, 'R'));
}

}  // namespace
}  // namespace uippack::logging
