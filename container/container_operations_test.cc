// The three operations against real files in a temporary directory.
#include "container/container_operations.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "container/container_format.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack::container {
namespace {

using uippack::kMaxArchiveSize;

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::wstring Wide(const fs::path& path) { return platform::NarrowToWide(path.string()); }

std::string RandomText(std::size_t size, unsigned seed) {
  std::mt19937 engine(seed);
  std::string text(size, '\0');
  for (auto& c : text) c = static_cast<char>(engine());
  return text;
}

int Wrap(const fs::path& zip, std::uint32_t factor = 1,
         ArchiveAfterWrap after = ArchiveAfterWrap::Keep) {
  return WrapZipToContainer(Wide(zip), factor, after);
}
int WrapDeleting(const fs::path& zip) { return Wrap(zip, 1, ArchiveAfterWrap::Delete); }
int Unwrap(const fs::path& uip) { return UnwrapContainerToZip(Wide(uip)); }
int Verify(const fs::path& uip) { return VerifyContainer(Wide(uip)); }

// Runs operation(path) in a child process after prepare() and gives its result, or -1 when
// the child did not exit normally. For limits that must not touch the test process.
int InChild(void (*prepare)(), int (*operation)(const fs::path&), const fs::path& path) {
  const pid_t child = fork();
  if (child == 0) {
    prepare();
    _exit(operation(path));
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ContainerOperations : public ::testing::Test {
 protected:
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  TempDir dir;
};

TEST_F(ContainerOperations, AbcIsThePublishedFileAndUnwrapsBack) {
  const unsigned char expected[107] = {
      0xEF, 0x2B, 0xA3, 0x60, 0x15, 0x06, 0x53, 0xEC, 0x6B, 0x76, 0x93, 0x82, 0x24, 0xAC,
      0x23, 0xFC, 0xFB, 0xF2, 0x42, 0xF2, 0x16, 0x4E, 0x5A, 0x7A, 0x2E, 0xB6, 0xD2, 0x02,
      0x06, 0xDE, 0x8A, 0x0A, 0x16, 0xA6, 0xA2, 0x72, 0x15, 0x8E, 0xDA, 0xFA, 0xED, 0x5E,
      0x7E, 0x93, 0x07, 0x1E, 0x0A, 0xCA, 0x5E, 0xC7, 0x02, 0x12, 0xD6, 0x8E, 0x1A, 0xBA,
      0xEE, 0xF6, 0x92, 0x42, 0xC6, 0x1E, 0x4A, 0x4A, 0x1E, 0xC6, 0x42, 0x92, 0xF6, 0xEE,
      0xBA, 0x1A, 0x8E, 0xD6, 0x32, 0x22, 0xE6, 0x7E, 0xEA, 0x2A, 0x3E, 0x26, 0xE2, 0x72,
      0x96, 0xCE, 0xDA, 0xFA, 0xAE, 0x36, 0x52, 0x82, 0x86, 0x5E, 0x0A, 0x8A, 0xDE, 0x06,
      0x02, 0xD2, 0xB6, 0x2E, 0x7A, 0x5A, 0x65, 0x66, 0x67};
  WriteFile(dir / "layout.zip", "abc");
  ASSERT_EQ(WrapDeleting(dir / "layout.zip"), 1);
  EXPECT_EQ(Names(), std::vector<std::string>{"layout.uip"});
  EXPECT_EQ(ReadFile(dir / "layout.uip"), std::string(std::begin(expected), std::end(expected)));
  EXPECT_EQ(Verify(dir / "layout.uip"), 1);
  ASSERT_EQ(Unwrap(dir / "layout.uip"), 1);
  EXPECT_EQ(ReadFile(dir / "layout.zip"), "abc");
  EXPECT_TRUE(fs::exists(dir / "layout.uip"));  // deleted later by the unpack pipeline
}

TEST_F(ContainerOperations, NamesComeFromTheLastCaseSensitiveSuffix) {
  WriteFile(dir / "a.zip.bak", "x");
  ASSERT_EQ(Wrap(dir / "a.zip.bak"), 1);
  fs::rename(dir / "a.uip", dir / "c.uip.old");
  ASSERT_EQ(Unwrap(dir / "c.uip.old"), 1);
  EXPECT_EQ(ReadFile(dir / "c.zip"), "x");

  WriteFile(dir / "D.ZIP", "z");
  fs::copy_file(dir / "c.uip.old", dir / "E.UIP");
  const auto before = Names();
  EXPECT_EQ(Wrap(dir / "D.ZIP"), 0);
  EXPECT_EQ(Unwrap(dir / "E.UIP"), 0);
  EXPECT_EQ(Names(), before);
}

TEST_F(ContainerOperations, InvalidContainersCreateNoArchive) {
  WriteFile(dir / "a.zip", RandomText(4000, 12));
  ASSERT_EQ(Wrap(dir / "a.zip"), 1);
  fs::remove(dir / "a.zip");
  const std::string good = ReadFile(dir / "a.uip");
  std::string flipped = good;
  flipped[2000] ^= 1;
  for (const std::string& bad : {flipped, good.substr(0, 103), std::string()}) {
    WriteFile(dir / "a.uip", bad);
    EXPECT_EQ(Verify(dir / "a.uip"), 0);
    EXPECT_EQ(Unwrap(dir / "a.uip"), 0);
    EXPECT_FALSE(fs::exists(dir / "a.zip"));
  }
  EXPECT_EQ(Unwrap(dir / "missing.uip"), 0);
  EXPECT_FALSE(fs::exists(dir / "missing.zip"));
  EXPECT_EQ(Verify(dir.path()), 0);

  // A whole header with its magic, then 256 MiB that the file system does not hold (sparse):
  // refused without being held whole.
  const auto peakGrowthIsSmall = [](const fs::path& uip) {
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const int results = Verify(uip) + Unwrap(uip);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    return results == 0 && after.ru_maxrss - before.ru_maxrss < 32 * 1024 ? 1 : 0;
  };
  WriteFile(dir / "a.uip", good);
  fs::resize_file(dir / "a.uip", 256 << 20);
  EXPECT_EQ(InChild([] {}, peakGrowthIsSmall, dir / "a.uip"), 1);
}

TEST_F(ContainerOperations, UnusableArchivesLeaveAnEmptyContainer) {
  WriteFile(dir / "a.uip", "old");
  EXPECT_EQ(Wrap(dir / "a.zip"), 0);  // missing
  EXPECT_EQ(fs::file_size(dir / "a.uip"), 0u);

  // 4 GiB or more is refused before a byte is written or read (sparse files).
  for (std::uint64_t size : {kMaxArchiveSize + 1, std::uint64_t{1} << 32}) {
    WriteFile(dir / "big.zip", "");
    fs::resize_file(dir / "big.zip", size);
    EXPECT_EQ(Wrap(dir / "big.zip"), 0);
    EXPECT_EQ(fs::file_size(dir / "big.uip"), 0u);
  }
  fs::resize_file(dir / "big.uip", std::uint64_t{1} << 32);
  EXPECT_EQ(Unwrap(dir / "big.uip"), 0);
}

TEST_F(ContainerOperations, FilesHeldByAnotherOpenerOrInPlaceOfALinkAreLeftAlone) {
  WriteFile(dir / "a.zip", "archive");
  ASSERT_EQ(Wrap(dir / "a.zip"), 1);
  const std::string container = ReadFile(dir / "a.uip");
  {
    auto held = platform::ExclusiveFile::OpenForReading(Wide(dir / "a.uip"));
    EXPECT_EQ(Wrap(dir / "a.zip"), 0);
    EXPECT_EQ(Verify(dir / "a.uip"), 0);
    EXPECT_EQ(ReadFile(dir / "a.uip"), container);  // not emptied by the refused wrap
  }
  {
    auto held = platform::ExclusiveFile::OpenForReading(Wide(dir / "a.zip"));
    EXPECT_EQ(Unwrap(dir / "a.uip"), 0);
    EXPECT_EQ(Wrap(dir / "a.zip"), 0);
    EXPECT_EQ(ReadFile(dir / "a.zip"), "archive");
  }
  // Links stand where the files go: nothing is read or written through them.
  WriteFile(dir / "outside/victim", "victim");
  WriteFile(dir / "outside/good.zip", "archive");
  WriteFile(dir / "outside/good.uip", container);
  fs::create_symlink(dir / "outside/victim", dir / "b.uip");
  fs::create_symlink(dir / "outside/victim", dir / "c.zip");
  fs::create_symlink(dir / "outside/good.zip", dir / "d.zip");
  fs::create_symlink(dir / "outside/good.uip", dir / "e.uip");
  WriteFile(dir / "b.zip", "archive");
  WriteFile(dir / "c.uip", container);
  EXPECT_EQ(Wrap(dir / "b.zip"), 0);
  EXPECT_EQ(Unwrap(dir / "c.uip"), 0);
  EXPECT_EQ(Wrap(dir / "d.zip"), 0);
  EXPECT_EQ(Verify(dir / "e.uip"), 0);
  EXPECT_EQ(ReadFile(dir / "outside/victim"), "victim");
}

// Root ignores permission bits; the immutable flag stops even root from unlinking.
bool SetImmutable(int fd, bool on) {
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return false;
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  return ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
}

TEST_F(ContainerOperations, AnArchiveThatCannotBeDeletedOrAContainerNotWrittenKeepsTheArchive) {
  WriteFile(dir / "a.zip", "archive");
  const int fd = open((dir / "a.zip").c_str(), O_RDONLY | O_CLOEXEC);
  if (SetImmutable(fd, true)) {
    const int result = WrapDeleting(dir / "a.zip");
    SetImmutable(fd, false);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(fs::file_size(dir / "a.uip"), 0u);
    EXPECT_EQ(ReadFile(dir / "a.zip"), "archive");
  }
  close(fd);

  // The file size limit lets the archive be rewritten but not the 104 bytes longer container.
  const std::string archive = RandomText(10000, 15);
  WriteFile(dir / "a.zip", archive);
  const auto limitFileSize = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{10050, 10050};
    setrlimit(RLIMIT_FSIZE, &limit);
  };
  EXPECT_EQ(InChild(limitFileSize, &WrapDeleting, dir / "a.zip"), 0);
  EXPECT_EQ(ReadFile(dir / "a.zip"), archive);
  EXPECT_EQ(Names(), std::vector<std::string>{"a.zip"});  // no partial container, nothing aside
}

TEST_F(ContainerOperations, MemoryThatCannotBeHadIsAFailure) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  const auto limitAddressSpace = [] {
    std::ifstream status("/proc/self/status");
    long vmSizeKiB = 0;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("VmSize:", 0) == 0) vmSizeKiB = std::stol(line.substr(7));
    }
    const auto bytes = static_cast<rlim_t>(vmSizeKiB + 16 * 1024) * 1024;
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_AS, &limit);
  };
  WriteFile(dir / "big.zip", "");
  fs::resize_file(dir / "big.zip", 256 << 20);
  EXPECT_EQ(InChild(
                limitAddressSpace, [](const fs::path& zip) { return Wrap(zip); }, dir / "big.zip"),
            0);
  EXPECT_EQ(fs::file_size(dir / "big.uip"), 0u);
}

}  // namespace
}  // namespace uippack::container
