// The POSIX stand-ins for Windows services: command lines split by the Windows rules and started
// without a shell, detached starts that do not pile up, and UTF-8 text that carries any byte.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/path.h"
#include "platform/posix/command_line_split.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack::platform {
namespace {

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {R"("/my tools/7z"  a /o/* -mx=9)", {"/my tools/7z", "a", "/o/*", "-mx=9"}},
      // The program name takes no escapes; a backslash that ends a quoted argument is doubled.
      {R"("C:\dir\" "C:\o\\")", {R"(C:\dir\)", R"(C:\o\)"}},
      {R"(7z x -o"/d/my dir" -y)", {"7z", "x", "-o/d/my dir", "-y"}},
      {"p \"\" \"a\"\"b\"\ta\t\tb  ", {"p", "", "a\"b", "a", "b"}},
      {R"(p a\\b "c\\" d\"e f\\\"g)", {"p", R"(a\\b)", R"(c\)", R"(d"e)", R"(f\"g)"}},
  };
  for (const auto& [line, arguments] : cases) EXPECT_EQ(SplitCommandLine(line), arguments) << line;
}

TEST(NarrowText, Utf8AndInvalidBytesRoundTrip) {
  const std::string utf8 = "layout/\xE4\xB8\xAD\xE6\x96\x87 caf\xC3\xA9 \xF0\x9F\x98\x80";
  EXPECT_EQ(NarrowToWide(utf8), L"layout/\u4E2D\u6587 caf\u00E9 \U0001F600");
  EXPECT_EQ(WideToNarrow(NarrowToWide(utf8)), utf8);
  // Stray continuation, truncated sequence, overlong slash, encoded surrogate, Latin-1 byte.
  const std::string raw = std::string("a\x80z\xE4\xB8", 5) + "\xC0\xAF" + "\xED\xB2\x80" + "\xE9";
  EXPECT_EQ(NarrowToWide(raw)[1], static_cast<wchar_t>(0xDC80));
  EXPECT_EQ(WideToNarrow(NarrowToWide(raw) + L"\xDFFF"), raw + "\xEF\xBF\xBD");  // a lone surrogate
  EXPECT_EQ(NarrowToWide("\xED\xBF\xBF"), L"\xDCED\xDCBF\xDCBF");  // the last surrogate too
}

TEST(Paths, CanonicalPathResolvesLinksUpToTheMissingTail) {
  testing::TempDir dir;
  testing::MakeDirs(dir / "real");
  testing::fs::create_directory_symlink(dir / "real", dir / "link");
  const std::wstring real = NarrowToWide(testing::fs::canonical(dir / "real").string());
  EXPECT_EQ(CanonicalPath(NarrowToWide((dir / "link/missing/x").string())), real + L"/missing/x");
}

TEST(Processes, RunOutcomesAndArgumentsArriveWholeWithoutAShell) {
  EXPECT_EQ(RunProcessAndWait(L"false"), RunOutcome::Completed);  // the exit code is not read
  EXPECT_EQ(RunProcessAndWait(L"sh -c \"kill -9 $$\""), RunOutcome::Completed);
  EXPECT_EQ(RunProcessAndWait(L"/no/such/tool -x"), RunOutcome::StartFailed);
  EXPECT_EQ(RunProcessAndWait(L""), RunOutcome::StartFailed);
  testing::TempDir temp;
  const auto target = temp / "a b; $(touch c)";
  testing::WriteFile(target, "x");
  EXPECT_EQ(RunProcessAndWait(L"rm \"" + NarrowToWide(target.string()) + L"\""),
            RunOutcome::Completed);
  EXPECT_FALSE(testing::fs::exists(target) || testing::fs::exists(temp / "c"));
}

// Each start reaps the detached children that have ended, so at most the last one is left.
TEST(Processes, DetachedStartsDoNotPileUpAsZombies) {
  testing::TempDir temp;
  for (int i = 0; i < 50; ++i) {
    testing::WriteFile(temp / std::to_string(i), "x");
    StartProcessDetached("rm " + (temp / std::to_string(i)).string());
  }
  for (int i = 0; i < 50; ++i) EXPECT_TRUE(testing::WaitUntilGone(temp / std::to_string(i)));
  StartProcessDetached("true");
  int zombies = 0;
  while (waitpid(-1, nullptr, WNOHANG) > 0) ++zombies;
  EXPECT_LE(zombies, 1);
}

}  // namespace
}  // namespace uippack::platform
