// The POSIX stand-ins for Windows services: command lines split by the Windows rules, listings,
// how a run ends, signals a run outlives, background starts that do not pile up and are awaited,
// UTF-8 text that carries any byte, files held as share mode 0 holds them, a guarded step's
// faults, and memory for a file's bytes. That a tool gets its arguments whole without a shell,
// or fails to start when missing, shows end to end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

#include "platform/fault_guard.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/posix/command_line_split.h"
#include "platform/process.h"
#include "tests/test_support.h"

namespace uippack::platform {
namespace {

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {R"("/my tools/7z"  a /o/* -mx=9)", {"/my tools/7z", "a", "/o/*", "-mx=9"}},
      // The program name takes no escapes; a backslash that ends a quoted argument is doubled.
      {R"("C:\dir\" "C:\o\\")", {R"(C:\dir\)", R"(C:\o\)"}},
      {R"(7z x -o"/d/my dir" -y)", {"7z", "x", "-o/d/my dir", "-y"}},
      {"true", {"true"}},  // lines that end in the program, quoted or not
      {"\"my tool", {"my tool"}},
      {"p \"\" \"a\"\"b\"\ta\t\tb c\"\"d ", {"p", "", "a\"b", "a", "b", "cd"}},
      {R"(p a\\b "c\\" d\"e f\\\"g)", {"p", R"(a\\b)", R"(c\)", R"(d"e)", R"(f\"g)"}}};
  for (const auto& [line, arguments] : cases) EXPECT_EQ(SplitCommandLine(line), arguments) << line;
}

TEST(NarrowText, Utf8AndInvalidBytesRoundTrip) {
  const std::string utf8 =
      "\xF0\x9F\x98\x80 \xED\x9F\xBF\xF4\x8F\xBF\xBF\xF0\x90\x80\x80\xC2\x80\xE0\xA0\x80";
  EXPECT_EQ(NarrowToWide(utf8), L"\U0001F600 \uD7FF\U0010FFFF\U00010000\u0080\u0800");
  // Stray continuation, truncated sequence, overlong slash, both ends of the surrogates, Latin-1.
  const std::string raw = "a\x80z\xE4\xB8\xC0\xAF\xED\xBF\xBF\xED\xA0\x80\xE9";
  EXPECT_EQ(NarrowToWide(raw),
            L"a\xDC80z\xDCE4\xDCB8\xDCC0\xDCAF\xDCED\xDCBF\xDCBF\xDCED\xDCA0\xDC80\xDCE9");
  // A lone surrogate, or a value past U+10FFFF, stands for no byte.
  EXPECT_EQ(WideToNarrow(NarrowToWide(utf8 + raw) + L"\xD800\xDFFF" + wchar_t(0x110000)),
            utf8 + raw + "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Paths, CanonicalPathResolvesLinksUpToTheMissingTail) {
  testing::TempDir dir;
  testing::MakeDirs(dir / "real");
  testing::fs::create_directory_symlink(dir / "real", dir / "link");
  EXPECT_EQ(CanonicalPath(testing::Wide(dir / "link/missing/x")),
            testing::Wide(testing::fs::canonical(dir / "real") / "missing/x"));
}

// The exit code is not read; a child killed by a signal has ended too. A run goes on when its
// console's reader is gone or a file meets the size limit: the writes fail instead of the signals
// ending the process.
TEST(Processes, EveryEndIsACompletedRunAndAPreparedProcessOutlivesSigpipeAndSigxfsz) {
  EXPECT_EQ(RunProcessAndWait(L"false"), RunOutcome::Completed);
  EXPECT_EQ(RunProcessAndWait(L"sh -c \"kill -9 $$\""), RunOutcome::Completed);
  EXPECT_EQ(testing::InChild([] { return PrepareProcess(), raise(SIGPIPE) | raise(SIGXFSZ); }), 0);
}

// Whether every child of this process has ended: a zombie has, one just started or still
// running has not.
bool AllChildrenEnded() {
  std::ifstream children("/proc/self/task/" + std::to_string(getpid()) + "/children");
  for (pid_t child = 0; children >> child;) {
    std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
    const std::string fields{std::istreambuf_iterator<char>(stat), {}};
    if (fields.substr(fields.rfind(')') + 1, 3) != " Z ") return false;
  }
  return true;
}

// Each start reaps the background children that have ended, so they do not pile up; the wait
// leaves none, and their work done.
TEST(Processes, BackgroundStartsDoNotPileUpAndAreAllAwaited) {
  testing::TempDir temp;
  for (int i = 0; i < 50; ++i)
    StartBackgroundProcess("mkdir " + (temp / std::to_string(i)).string());
  for (int polls = 0; polls < 1500 && !AllChildrenEnded(); ++polls)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(AllChildrenEnded());
  StartBackgroundProcess("sh -c \"sleep 0.2 && mkdir " + (temp / "late").string() + "\"");
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), 0);  // the 50 are reaped, the last one still runs
  WaitForBackgroundProcesses();
  EXPECT_EQ(std::distance(testing::fs::directory_iterator(temp.path()), {}), 51);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

// No other opener gets a held file, and it cannot be deleted; a refused create empties nothing.
// The lock is flock's, which keeps a second opener in this process out just as one in another
// process. It travels with the handle when it is moved, and one call moves every byte.
TEST(ExclusiveFile, AHolderKeepsEveryOtherOpenerOutAndWholeLengthsMove) {
  testing::TempDir dir;
  const std::wstring path = testing::Wide(dir / "f");
  std::string data(3 << 20, '\0'), back(data.size(), '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
  ExclusiveFile holder = ExclusiveFile::CreateForWriting(path);
  ASSERT_TRUE(holder.Write(data.data(), data.size()));
  EXPECT_FALSE(ExclusiveFile::OpenForReading(path).IsOpen() ||
               ExclusiveFile::CreateForWriting(path).IsOpen() || DeleteFileAt(path));
  holder.Close();
  holder = ExclusiveFile::OpenForReading(path);
  EXPECT_FALSE(ExclusiveFile::OpenForReading(path).IsOpen());
  EXPECT_TRUE(holder.Read(back.data(), back.size()) && back == data);
  EXPECT_FALSE(holder.Read(back.data(), 1));  // past the end is a failure, not a short read
  ASSERT_EQ(mkfifo((dir / "f.fifo").c_str(), 0600), 0);  // a plain open would wait for a writer
  EXPECT_FALSE(ExclusiveFile::OpenForReading(path + L".fifo").IsOpen() || ExclusiveFile().Flush());
}

// A fault ends the guarded step alone and is named by its kind; the handlers from before the step
// are back after it.
TEST(FaultGuard, AFaultEndsTheStepAloneAndTheHandlersFromBeforeComeBack) {
  const auto before = +[](int) {};
  const auto segv = signal(SIGSEGV, before), bus = signal(SIGBUS, before);  // put back after
  MemoryFault fault;
  EXPECT_FALSE(RunFaultGuarded([](void*) { raise(SIGBUS); }, nullptr, &fault));
  EXPECT_TRUE(fault.kind == FaultKind::PageError && fault.systemCode == SIGBUS);
  EXPECT_TRUE(signal(SIGSEGV, segv) == before && signal(SIGBUS, bus) == before);
}

TEST(FileBuffer, EverySizeIsWholeOrNothing) {
  for (const std::size_t size : {std::size_t{0}, (std::size_t{2} << 20) + 104}) {
    FileBuffer buffer(size);
    ASSERT_TRUE(buffer.Data() != nullptr && buffer.Size() == size);
    for (std::size_t i = 0; i < size; ++i) buffer.Data()[i] = 0xA5;  // every byte is there
  }
  EXPECT_EQ(FileBuffer(std::size_t{1} << 62).Data(), nullptr);
  EXPECT_EQ(FileBuffer(~std::size_t{4095}).Data(), nullptr);  // would overflow when rounded up
}

}  // namespace
}  // namespace uippack::platform
