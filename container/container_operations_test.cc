// The three operations against real files in a temporary directory.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "container/container_format.h"
#include "package/package_builder.h"
#include "platform/platform.h"
#include "tests/test_support.h"

namespace uippack {
namespace {

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

std::uint32_t forcedFactor = 1;
std::uint32_t ForcedFactor() { return forcedFactor; }

class ContainerOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    forcedFactor = 1;
    SetBlockFactorSourceForTesting(&ForcedFactor);
  }
  void TearDown() override { SetBlockFactorSourceForTesting(nullptr); }

  // The names in the directory, to show that an operation touched nothing.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Rewrites a container's header; the checksum is left as it is.
  void EditHeader(const fs::path& path, void (*edit)(ContainerHeader*)) {
    std::string bytes = ReadFile(path);
    auto* image = reinterpret_cast<std::uint8_t*>(bytes.data());
    ContainerHeader header = LoadContainerHeader(image);
    edit(&header);
    StoreContainerHeader(header, image);
    WriteFile(path, bytes);
  }

  TempDir dir;
  PackageBuilder builder;
};

TEST_F(ContainerOperations, AbcWrapsToThePublishedFileAndBack) {
  WriteFile(dir / "layout.zip", "abc");
  ASSERT_EQ(builder.WrapZipToContainer(Wide(dir / "layout.zip")), 1);
  const std::string container = ReadFile(dir / "layout.uip");
  ASSERT_EQ(container.size(), 107u);
  EXPECT_EQ(container.substr(0, 4), "\xEF\x2B\xA3\x60");
  EXPECT_EQ(container.substr(40, 4), "\xED\x5E\x7E\x93");  // masked checksum 512CE803
  EXPECT_EQ(container.substr(104), "efg");

  fs::remove(dir / "layout.zip");
  EXPECT_EQ(builder.VerifyContainer(Wide(dir / "layout.uip")), 1);
  ASSERT_EQ(builder.UnwrapContainerToZip(Wide(dir / "layout.uip")), 1);
  EXPECT_EQ(ReadFile(dir / "layout.zip"), "abc");
  EXPECT_TRUE(fs::exists(dir / "layout.uip"));  // the unpack pipeline deletes it later
}

TEST_F(ContainerOperations, EveryFactorRoundTripsThroughFiles) {
  const std::string archive = RandomText(70000, 11);
  for (std::uint32_t f = 1; f <= 15; ++f) {
    forcedFactor = f;
    WriteFile(dir / "a.zip", archive);
    ASSERT_EQ(builder.WrapZipToContainer(Wide(dir / "a.zip")), 1) << f;
    EXPECT_EQ(fs::file_size(dir / "a.uip"), archive.size() + 104) << f;
    fs::remove(dir / "a.zip");
    ASSERT_EQ(builder.UnwrapContainerToZip(Wide(dir / "a.uip")), 1) << f;
    ASSERT_EQ(ReadFile(dir / "a.zip"), archive) << f;
  }
}

TEST_F(ContainerOperations, EmptyArchiveMakesAHeaderOnlyContainer) {
  WriteFile(dir / "e.zip", "");
  ASSERT_EQ(builder.WrapZipToContainer(Wide(dir / "e.zip")), 1);
  EXPECT_EQ(fs::file_size(dir / "e.uip"), 104u);
  fs::remove(dir / "e.zip");
  EXPECT_EQ(builder.VerifyContainer(Wide(dir / "e.uip")), 1);
  ASSERT_EQ(builder.UnwrapContainerToZip(Wide(dir / "e.uip")), 1);
  EXPECT_TRUE(fs::exists(dir / "e.zip"));
  EXPECT_EQ(fs::file_size(dir / "e.zip"), 0u);
}

TEST_F(ContainerOperations, NamesComeFromTheLastCaseSensitiveSuffix) {
  WriteFile(dir / "a.zip.bak", "x");
  ASSERT_EQ(builder.WrapZipToContainer(Wide(dir / "a.zip.bak")), 1);
  EXPECT_TRUE(fs::exists(dir / "a.uip"));
  WriteFile(dir / "b.zip.zip", "y");
  ASSERT_EQ(builder.WrapZipToContainer(Wide(dir / "b.zip.zip")), 1);
  EXPECT_TRUE(fs::exists(dir / "b.zip.uip"));
  fs::rename(dir / "a.uip", dir / "c.uip.old");
  ASSERT_EQ(builder.UnwrapContainerToZip(Wide(dir / "c.uip.old")), 1);
  EXPECT_EQ(ReadFile(dir / "c.zip"), "x");

  // Capitals are not the suffix: nothing is touched.
  WriteFile(dir / "D.ZIP", "z");
  fs::copy_file(dir / "c.uip.old", dir / "E.UIP");
  const auto before = Names();
  EXPECT_EQ(builder.WrapZipToContainer(Wide(dir / "D.ZIP")), 0);
  EXPECT_EQ(builder.UnwrapContainerToZip(Wide(dir / "E.UIP")), 0);
  EXPECT_EQ(Names(), before);
}

TEST_F(ContainerOperations, ModeUipInAnyCaseDeletesTheArchive) {
  for (const wchar_t* mode : {L"-uip", L"-UIP", L"-Uip"}) {
    builder.modeOption = mode;
    WriteFile(dir / "m.zip", "data");
    ASSERT_EQ(builder.WrapZipToContainer(Wide(dir / "m.zip")), 1);
    EXPECT_FALSE(fs::exists(dir / "m.zip")) << platform::WideToNarrow(mode);
    EXPECT_EQ(fs::file_size(dir / "m.uip"), 108u);
  }
  for (const wchar_t* mode : {L"", L"-p", L"uip", L"-uipx", L"-u\u0130p"}) {
    builder.modeOption = mode;
    WriteFile(dir / "k.zip", "data");
    ASSERT_EQ(builder.WrapZipToContainer(Wide(dir / "k.zip")), 1);
    EXPECT_EQ(ReadFile(dir / "k.zip"), "data") << platform::WideToNarrow(mode);
  }
}

TEST_F(ContainerOperations, DamagedContainersFailAndCreateNoArchive) {
  const std::string archive = RandomText(4000, 12);
  WriteFile(dir / "a.zip", archive);
  ASSERT_EQ(builder.WrapZipToContainer(Wide(dir / "a.zip")), 1);
  fs::remove(dir / "a.zip");
  const std::string good = ReadFile(dir / "a.uip");

  std::string flipped = good;
  flipped[2000] ^= 1;
  std::string appended = good + '\0';
  std::string badMagic = good;
  badMagic[9] ^= 1;  // the magic's zero byte
  for (const std::string& bad : {flipped, appended, badMagic, good.substr(0, 103), std::string()}) {
    WriteFile(dir / "a.uip", bad);
    EXPECT_EQ(builder.VerifyContainer(Wide(dir / "a.uip")), 0);
    EXPECT_EQ(builder.UnwrapContainerToZip(Wide(dir / "a.uip")), 0);
    EXPECT_FALSE(fs::exists(dir / "a.zip"));
  }
  EXPECT_EQ(builder.VerifyContainer(Wide(dir / "missing.uip")), 0);
  EXPECT_EQ(builder.UnwrapContainerToZip(Wide(dir / "missing.uip")), 0);
  EXPECT_FALSE(fs::exists(dir / "missing.zip"));
  EXPECT_EQ(builder.VerifyContainer(Wide(dir.path())), 0);  // a directory is no container
}

TEST_F(ContainerOperations, UnreadHeaderBytesChangeNothing) {
  const std::string archive = RandomText(3000, 13);
  WriteFile(dir / "a.zip", archive);
  ASSERT_EQ(builder.WrapZipToContainer(Wide(dir / "a.zip")), 1);
  EditHeader(dir / "a.uip", [](ContainerHeader* h) {
    h->version = 7;
    h->tag[0] = 'X';
    h->tag[6] = 'Y';
  });
  std::string bytes = ReadFile(dir / "a.uip");
  bytes[25] ^= 0x33;  // filler
  bytes[90] ^= 0x44;
  WriteFile(dir / "a.uip", bytes);
  fs::remove(dir / "a.zip");
  EXPECT_EQ(builder.VerifyContainer(Wide(dir / "a.uip")), 1);
  ASSERT_EQ(builder.UnwrapContainerToZip(Wide(dir / "a.uip")), 1);
  EXPECT_EQ(ReadFile(dir / "a.zip"), archive);
}

TEST_F(ContainerOperations, ForgedHeadersUnwrapWhatTheFileHolds) {
  const std::string archive = RandomText(2000, 14);
  WriteFile(dir / "a.zip", archive);
  ASSERT_EQ(builder.WrapZipToContainer(Wide(dir / "a.zip")), 1);
  const std::string good = ReadFile(dir / "a.uip");

  // The header lies about block counts and sizes; the checksum still matches.
  EditHeader(dir / "a.uip", [](ContainerHeader* h) {
    h->blockCount = 1;
    h->payloadSize = 0xFFFFFFFFu;
  });
  ASSERT_EQ(builder.UnwrapContainerToZip(Wide(dir / "a.uip")), 1);
  EXPECT_EQ(ReadFile(dir / "a.zip"), archive);

  WriteFile(dir / "a.uip", good);
  EditHeader(dir / "a.uip", [](ContainerHeader* h) { h->blockSize = 0; });
  ASSERT_EQ(builder.UnwrapContainerToZip(Wide(dir / "a.uip")), 1);
  EXPECT_EQ(ReadFile(dir / "a.zip"), good.substr(104));  // factor 0: stored bytes as they are

  WriteFile(dir / "a.uip", good);
  EditHeader(dir / "a.uip", [](ContainerHeader* h) {
    h->dataOffset = 0xFFFFFFF0u;
    h->checksum = 0;  // no bytes past that offset
  });
  ASSERT_EQ(builder.UnwrapContainerToZip(Wide(dir / "a.uip")), 1);
  EXPECT_EQ(fs::file_size(dir / "a.zip"), 0u);
}

TEST_F(ContainerOperations, MissingArchiveLeavesAnEmptyContainer) {
  WriteFile(dir / "a.uip", "old content");
  EXPECT_EQ(builder.WrapZipToContainer(Wide(dir / "a.zip")), 0);
  EXPECT_EQ(fs::file_size(dir / "a.uip"), 0u);
}

TEST_F(ContainerOperations, ArchivesOf4GiBOrMoreAreRefusedBeforeAnyWrite) {
  // Sparse files: the length is what counts, and nothing is read.
  for (std::uint64_t size : {kMaxArchiveSize + 1, std::uint64_t{1} << 32}) {
    WriteFile(dir / "big.zip", "");
    fs::resize_file(dir / "big.zip", size);
    EXPECT_EQ(builder.WrapZipToContainer(Wide(dir / "big.zip")), 0);
    EXPECT_EQ(fs::file_size(dir / "big.uip"), 0u);
  }
  fs::resize_file(dir / "big.uip", std::uint64_t{1} << 32);
  EXPECT_EQ(builder.VerifyContainer(Wide(dir / "big.uip")), 0);
  EXPECT_EQ(builder.UnwrapContainerToZip(Wide(dir / "big.uip")), 0);
}

TEST_F(ContainerOperations, FilesHeldByAnotherOpenerAreNotTouched) {
  WriteFile(dir / "a.zip", "archive");
  {
    platform::ExclusiveFile held = platform::ExclusiveFile::OpenForReading(Wide(dir / "a.zip"));
    ASSERT_TRUE(held.IsOpen());
    EXPECT_EQ(builder.WrapZipToContainer(Wide(dir / "a.zip")), 0);
    EXPECT_EQ(fs::file_size(dir / "a.uip"), 0u);
  }
  ASSERT_EQ(builder.WrapZipToContainer(Wide(dir / "a.zip")), 1);
  const std::string container = ReadFile(dir / "a.uip");
  {
    // A held container is neither replaced by a wrap nor read by a verify.
    platform::ExclusiveFile held = platform::ExclusiveFile::OpenForReading(Wide(dir / "a.uip"));
    ASSERT_TRUE(held.IsOpen());
    EXPECT_EQ(builder.WrapZipToContainer(Wide(dir / "a.zip")), 0);
    EXPECT_EQ(builder.VerifyContainer(Wide(dir / "a.uip")), 0);
    EXPECT_EQ(ReadFile(dir / "a.uip"), container);
  }
  {
    // Unwrapping onto a held archive fails and leaves it as it was.
    platform::ExclusiveFile held = platform::ExclusiveFile::OpenForReading(Wide(dir / "a.zip"));
    EXPECT_EQ(builder.UnwrapContainerToZip(Wide(dir / "a.uip")), 0);
    EXPECT_EQ(ReadFile(dir / "a.zip"), "archive");
  }
}

// Marks a file immutable for the life of the guard (root ignores permission bits).
class ImmutableFile {
 public:
  explicit ImmutableFile(const fs::path& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    int flags = 0;
    if (fd_ >= 0 && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      set_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
  }
  ~ImmutableFile() {
    int flags = 0;
    if (set_ && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ioctl(fd_, FS_IOC_SETFLAGS, &flags);
    }
    if (fd_ >= 0) close(fd_);
  }
  bool set() const { return set_; }

 private:
  int fd_;
  bool set_ = false;
};

TEST_F(ContainerOperations, ArchiveThatCannotBeDeletedLeavesAnEmptyContainer) {
  WriteFile(dir / "a.zip", "archive");
  ImmutableFile immutable(dir / "a.zip");
  if (!immutable.set()) GTEST_SKIP() << "cannot make a file undeletable here";
  builder.modeOption = L"-uip";
  EXPECT_EQ(builder.WrapZipToContainer(Wide(dir / "a.zip")), 0);
  EXPECT_EQ(fs::file_size(dir / "a.uip"), 0u);
  EXPECT_EQ(ReadFile(dir / "a.zip"), "archive");
}

TEST_F(ContainerOperations, FailedContainerWriteInUipModePutsTheArchiveBack) {
  const std::string archive = RandomText(10000, 15);
  WriteFile(dir / "a.zip", archive);
  // In a child, a file size limit lets the archive be rewritten but not the longer container.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{10050, 10050};
    setrlimit(RLIMIT_FSIZE, &limit);
    PackageBuilder inChild;
    inChild.modeOption = L"-uip";
    _exit(inChild.WrapZipToContainer(Wide(dir / "a.zip")) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(dir / "a.zip"), archive);
  EXPECT_LT(fs::file_size(dir / "a.uip"), archive.size() + 104);
}

}  // namespace
}  // namespace uippack
