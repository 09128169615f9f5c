// ExclusiveFile on POSIX: the lock behaves like share mode 0, and one call moves every byte.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/test_support.h"

namespace uippack::platform {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::wstring Wide(const fs::path& path) { return NarrowToWide(path.string()); }

TEST(ExclusiveFile, ASecondOpenerInThisProcessIsRefused) {
  TempDir dir;
  WriteFile(dir / "f", "content");
  const std::wstring path = Wide(dir / "f");
  {
    ExclusiveFile reader = ExclusiveFile::OpenForReading(path);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_FALSE(ExclusiveFile::OpenForReading(path).IsOpen());
    // The writer must not empty a file it could not lock.
    EXPECT_FALSE(ExclusiveFile::CreateForWriting(path).IsOpen());
    EXPECT_FALSE(DeleteFileAt(path));
  }
  EXPECT_EQ(ReadFile(dir / "f"), "content");
  {
    ExclusiveFile writer = ExclusiveFile::CreateForWriting(path);
    ASSERT_TRUE(writer.IsOpen());
    EXPECT_FALSE(ExclusiveFile::OpenForReading(path).IsOpen());
  }
  EXPECT_TRUE(ExclusiveFile::OpenForReading(path).IsOpen());  // released on close
}

TEST(ExclusiveFile, ALockHeldHereKeepsOtherProcessesOut) {
  TempDir dir;
  WriteFile(dir / "f", "content");
  const std::wstring path = Wide(dir / "f");
  auto openInChild = [&] {
    const pid_t child = fork();
    if (child == 0) _exit(ExclusiveFile::OpenForReading(path).IsOpen() ? 1 : 0);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
  };
  ExclusiveFile held = ExclusiveFile::OpenForReading(path);
  ASSERT_TRUE(held.IsOpen());
  ExclusiveFile moved = std::move(held);  // the lock travels with the handle
  EXPECT_FALSE(held.IsOpen());
  EXPECT_FALSE(openInChild());
  moved.Close();
  EXPECT_TRUE(openInChild());
}

TEST(ExclusiveFile, CreateReplacesAndWholeLengthsMove) {
  TempDir dir;
  WriteFile(dir / "f", std::string(5000, 'x'));
  const std::wstring path = Wide(dir / "f");
  std::vector<char> data(3 << 20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
  {
    ExclusiveFile writer = ExclusiveFile::CreateForWriting(path);
    ASSERT_TRUE(writer.IsOpen());
    std::uint64_t size = 1;
    ASSERT_TRUE(writer.GetSize(&size));
    EXPECT_EQ(size, 0u);
    ASSERT_TRUE(writer.Write(data.data(), data.size()));
    EXPECT_TRUE(writer.Flush());
  }
  ExclusiveFile reader = ExclusiveFile::OpenForReading(path);
  std::uint64_t size = 0;
  ASSERT_TRUE(reader.GetSize(&size));
  ASSERT_EQ(size, data.size());
  std::vector<char> back(data.size());
  ASSERT_TRUE(reader.Read(back.data(), back.size()));
  EXPECT_EQ(back, data);
  char more;
  EXPECT_FALSE(reader.Read(&more, 1));  // past the end is a failure, not a short read
  EXPECT_TRUE(reader.Read(&more, 0));
}

TEST(ExclusiveFile, OnlyRegularFilesOpen) {
  TempDir dir;
  EXPECT_FALSE(ExclusiveFile::OpenForReading(Wide(dir / "missing")).IsOpen());
  EXPECT_FALSE(ExclusiveFile::OpenForReading(Wide(dir.path())).IsOpen());
  EXPECT_FALSE(ExclusiveFile::CreateForWriting(Wide(dir.path())).IsOpen());
  EXPECT_FALSE(ExclusiveFile::CreateForWriting(Wide(dir / "no" / "such")).IsOpen());
  // A FIFO with no writer would block a plain open forever.
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(ExclusiveFile::OpenForReading(Wide(dir / "fifo")).IsOpen());
  EXPECT_FALSE(ExclusiveFile::CreateForWriting(Wide(dir / "fifo")).IsOpen());

  ExclusiveFile closed;
  char byte = 0;
  std::uint64_t size = 0;
  EXPECT_FALSE(closed.IsOpen());
  EXPECT_FALSE(closed.Read(&byte, 1));
  EXPECT_FALSE(closed.Write(&byte, 1));
  EXPECT_FALSE(closed.GetSize(&size));
  EXPECT_FALSE(closed.Flush());
}

TEST(DeleteFileAt, RemovesFilesOnly) {
  TempDir dir;
  WriteFile(dir / "f", "x");
  EXPECT_TRUE(DeleteFileAt(Wide(dir / "f")));
  EXPECT_FALSE(fs::exists(dir / "f"));
  EXPECT_FALSE(DeleteFileAt(Wide(dir / "f")));
  fs::create_directory(dir / "d");
  EXPECT_FALSE(DeleteFileAt(Wide(dir / "d")));
  EXPECT_TRUE(fs::exists(dir / "d"));
  // A link is removed, not what it points to.
  WriteFile(dir / "target", "t");
  fs::create_symlink(dir / "target", dir / "link");
  EXPECT_TRUE(DeleteFileAt(Wide(dir / "link")));
  EXPECT_TRUE(fs::exists(dir / "target"));
}

}  // namespace
}  // namespace uippack::platform
