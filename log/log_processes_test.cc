// Many processes of one executable logging into one fresh file at the same time, and the lock
// that keeps them apart.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "log/log_record.h"
#include "platform/log_services.h"
#include "tests/test_support.h"

namespace uippack::logging {
namespace {

// A holder that dies frees the lock: a run that crashed holding it costs the next ones nothing.
TEST(LogLockTest, FreedWhenItsHolderDies) {
  const std::wstring name = L"#mutexRUNTRAIL_log_lock_test_" + std::to_wstring(getpid());
  if (fork() == 0) _exit(platform::NamedMutexLock().Acquire(name, 0) ? 0 : 1);  // dies holding it
  int status = 1;
  EXPECT_TRUE(wait(&status) > 0 && status == 0 && platform::NamedMutexLock().Acquire(name, 0));
  unlink(("/tmp/#mutexRUNTRAIL_log_lock_test_" + std::to_string(getpid())).c_str());
}

// Eight writers of 500 records each at once, into the fallback folder: every record
// whole, and the header once.
TEST(LogProcessesTest, EightWritersShareOneFileWithOneHeaderAndWholeRecords) {
  testing::TempDir dir;
  testing::RunProcess({"/bin/sh", "-c",
                       R"(for i in 1 2 3 4 5 6 7 8; do "$0" - "$1" 500 & done; wait)",
                       UIPPACK_LOG_TEST_WRITER, dir.path().string()});
  const std::regex record(R"(\d{4}-\d\d-\d\d [\d:.]{12}\t[^\r\n]*\trecord \d+ ={200} end\r\n)");
  EXPECT_EQ(std::regex_replace(testing::ReadFile(dir / "RUNTRAIL" / "RUNTRAIL_log_test_writer.log"),
                               record, "R"),
            std::string(kHeaderLine) + std::string(8 * 500, 'R'));
}

}  // namespace
}  // namespace uippack::logging
