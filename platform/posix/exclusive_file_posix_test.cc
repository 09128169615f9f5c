// ExclusiveFile on POSIX: the lock behaves like share mode 0, and one call moves every byte.
// FileBuffer: whole, writable memory of any size, or none.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack::platform {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::wstring Wide(const fs::path& path) { return NarrowToWide(path.string()); }

TEST(ExclusiveFile, AHolderKeepsEveryOtherOpenerOut) {
  TempDir dir;
  WriteFile(dir / "f", "content");
  const std::wstring path = Wide(dir / "f");
  const auto opensInChild = [&] {
    const pid_t child = fork();
    if (child == 0) _exit(ExclusiveFile::OpenForReading(path).IsOpen() ? 1 : 0);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
  };
  {
    ExclusiveFile reader = ExclusiveFile::OpenForReading(path);
    ASSERT_TRUE(reader.IsOpen());
    ExclusiveFile moved = std::move(reader);  // the lock travels with the handle
    EXPECT_FALSE(ExclusiveFile::OpenForReading(path).IsOpen());
    EXPECT_FALSE(ExclusiveFile::CreateForWriting(path).IsOpen());  // and does not empty it
    EXPECT_FALSE(DeleteFileAt(path));
    EXPECT_FALSE(opensInChild());
  }
  EXPECT_EQ(ReadFile(dir / "f"), "content");
  EXPECT_TRUE(opensInChild());
  ExclusiveFile writer = ExclusiveFile::CreateForWriting(path);
  ASSERT_TRUE(writer.IsOpen());
  EXPECT_FALSE(ExclusiveFile::OpenForReading(path).IsOpen());
}

TEST(ExclusiveFile, CreateEmptiesAndWholeLengthsMove) {
  TempDir dir;
  WriteFile(dir / "f", std::string(5000, 'x'));
  const std::wstring path = Wide(dir / "f");
  std::vector<char> data(3 << 20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
  std::uint64_t size = 1;
  {
    ExclusiveFile writer = ExclusiveFile::CreateForWriting(path);
    ASSERT_TRUE(writer.GetSize(&size));
    EXPECT_EQ(size, 0u);
    ASSERT_TRUE(writer.Write(data.data(), data.size()));
    EXPECT_TRUE(writer.Flush());
  }
  ExclusiveFile reader = ExclusiveFile::OpenForReading(path);
  ASSERT_TRUE(reader.GetSize(&size));
  ASSERT_EQ(size, data.size());
  std::vector<char> back(data.size());
  ASSERT_TRUE(reader.Read(back.data(), back.size()));
  EXPECT_EQ(back, data);
  char more;
  EXPECT_FALSE(reader.Read(&more, 1));  // past the end is a failure, not a short read
}

TEST(ExclusiveFile, OnlyRegularFilesOpen) {
  TempDir dir;
  EXPECT_FALSE(ExclusiveFile::OpenForReading(Wide(dir / "missing")).IsOpen());
  EXPECT_FALSE(ExclusiveFile::OpenForReading(Wide(dir.path())).IsOpen());
  EXPECT_FALSE(ExclusiveFile::CreateForWriting(Wide(dir.path())).IsOpen());
  // A FIFO without a peer would block a plain open for ever.
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(ExclusiveFile::OpenForReading(Wide(dir / "fifo")).IsOpen());
  EXPECT_FALSE(ExclusiveFile::CreateForWriting(Wide(dir / "fifo")).IsOpen());
}

TEST(DeleteFileAt, RemovesFilesAndLinksOnly) {
  TempDir dir;
  WriteFile(dir / "f", "x");
  EXPECT_TRUE(DeleteFileAt(Wide(dir / "f")));
  EXPECT_FALSE(DeleteFileAt(Wide(dir / "f")));
  fs::create_directory(dir / "d");
  EXPECT_FALSE(DeleteFileAt(Wide(dir / "d")));
  WriteFile(dir / "target", "t");
  fs::create_symlink(dir / "target", dir / "link");
  EXPECT_TRUE(DeleteFileAt(Wide(dir / "link")));
  EXPECT_TRUE(fs::exists(dir / "target"));
}

TEST(FileBuffer, EverySizeIsWholeOrNothing) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, (std::size_t{2} << 20) + 104}) {
    FileBuffer buffer(size);
    ASSERT_NE(buffer.Data(), nullptr) << size;
    EXPECT_EQ(buffer.Size(), size);
    if (size > 0) std::memset(buffer.Data(), 0xA5, size);
  }
  EXPECT_EQ(FileBuffer(std::numeric_limits<std::size_t>::max() - 4096).Data(), nullptr);
  EXPECT_EQ(FileBuffer(std::size_t{1} << 62).Data(), nullptr);
}

}  // namespace
}  // namespace uippack::platform
