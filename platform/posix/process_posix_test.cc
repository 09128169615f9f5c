// Detached starts do not pile up as zombies; awaited runs report how the child was started and
// ended.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack::platform {
namespace {

// Children of this process that have ended but were not reaped.
int CountZombieChildren() {
  int zombies = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return -1;
  const std::string self = std::to_string(getpid());
  while (const dirent* entry = readdir(proc)) {
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid ...: comm may hold blanks, so read from the last ')'.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string state, parent;
    fields >> state >> parent;
    if (state == "Z" && parent == self) ++zombies;
  }
  closedir(proc);
  return zombies;
}

TEST(Processes, DetachedStartsDoNotPileUpAsZombies) {
  testing::TempDir temp;
  for (int i = 0; i < 50; ++i) {
    const auto file = temp / ("f" + std::to_string(i));
    testing::WriteFile(file, "x");
    StartProcessDetached("rm -f \"" + file.string() + "\"");
  }
  for (int i = 0; i < 50; ++i)
    EXPECT_TRUE(testing::WaitUntilGone(temp / ("f" + std::to_string(i))));
  // Ended removals are reaped by the next start, so at most that start's own child remains.
  StartProcessDetached("true");
  EXPECT_LE(CountZombieChildren(), 1);
}

TEST(Processes, RunOutcomes) {
  EXPECT_EQ(RunProcessAndWait(L"true"), RunOutcome::Completed);
  EXPECT_EQ(RunProcessAndWait(L"false"), RunOutcome::Completed);  // the exit code is not read
  EXPECT_EQ(RunProcessAndWait(L"sh -c \"kill -9 $$\""), RunOutcome::Completed);
  EXPECT_EQ(RunProcessAndWait(L"/no/such/tool -x"), RunOutcome::StartFailed);
  EXPECT_EQ(RunProcessAndWait(L""), RunOutcome::StartFailed);
}

TEST(Processes, QuotedArgumentsArriveWhole) {
  testing::TempDir temp;
  const auto target = temp / "a b; $(touch c)";
  testing::WriteFile(target, "x");
  EXPECT_EQ(RunProcessAndWait(L"rm -f \"" + NarrowToWide(target.string()) + L"\""),
            RunOutcome::Completed);
  EXPECT_FALSE(testing::fs::exists(target));
  EXPECT_FALSE(testing::fs::exists(temp / "c"));
}

}  // namespace
}  // namespace uippack::platform
