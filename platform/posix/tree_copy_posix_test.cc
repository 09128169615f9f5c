// The tree copy against a hostile source and a destination with traps already in it: the copy
// must hold only real directories and regular files, end, and write nothing outside itself.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/directory.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack::platform {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::wstring Wide(const fs::path& path) { return NarrowToWide(path.string()); }

TEST(TreeCopy, FollowsLinksLeavesSpecialFilesOutAndNeverWritesThroughTheDestination) {
  TempDir temp;
  const fs::path source = temp / "src";
  const fs::path destination = temp / "dst";
  const fs::path outside = temp / "outside";
  WriteFile(source / "layout/main.lua", "print(1)\n");
  WriteFile(outside / "shared.lua", "return 7\n");
  WriteFile(outside / "dir/inner.txt", "inner");
  WriteFile(outside / "victim.txt", "victim");
  WriteFile(outside / "hardlinked.txt", "hard");
  fs::create_symlink(outside / "shared.lua", source / "layout/shared.lua");
  fs::create_symlink("../../outside/dir", source / "layout/dir");
  fs::create_symlink("..", source / "layout/loop");                  // a loop
  fs::create_symlink(destination, source / "into-destination");      // into the copy itself
  fs::create_symlink(outside / "missing", source / "dangling.lua");  // leads nowhere
  fs::create_symlink("/dev/zero", source / "zero.lua");
  ASSERT_EQ(mkfifo((source / "layout/fifo.lua").c_str(), 0644), 0);
  // The destination already holds a link and a hard link where the copy will write.
  fs::create_directories(destination / "layout");
  fs::create_symlink(outside / "victim.txt", destination / "layout/main.lua");
  fs::create_hard_link(outside / "hardlinked.txt", destination / "layout/shared.lua");
  fs::create_symlink(outside, destination / "res");
  WriteFile(source / "res/icons/a.png", "png");
  WriteFile(source / "res/sparse.bin", "head");
  fs::resize_file(source / "res/sparse.bin", 64 << 20);

  ASSERT_TRUE(CopyTreeFollowingLinks(Wide(source), Wide(destination)));

  EXPECT_EQ(ReadFile(destination / "layout/main.lua"), "print(1)\n");
  EXPECT_EQ(ReadFile(destination / "layout/shared.lua"), "return 7\n");
  EXPECT_EQ(ReadFile(destination / "layout/dir/inner.txt"), "inner");
  EXPECT_EQ(ReadFile(destination / "res/icons/a.png"), "png");
  // A hole stays a hole: a sparse file cannot fill the disk.
  struct stat sparse {};
  ASSERT_EQ(stat((destination / "res/sparse.bin").c_str(), &sparse), 0);
  EXPECT_EQ(sparse.st_size, 64 << 20);
  EXPECT_LT(sparse.st_blocks * 512, 1 << 20);
  EXPECT_EQ(ReadFile(destination / "res/sparse.bin").substr(0, 5), std::string("head\0", 5));
  for (const auto& entry : fs::recursive_directory_iterator(destination)) {
    EXPECT_TRUE(entry.is_directory() || entry.is_regular_file()) << entry.path();
    EXPECT_FALSE(entry.is_symlink()) << entry.path();
  }
  for (const char* left : {"dangling.lua", "zero.lua", "layout/fifo.lua"}) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(destination / left))) << left;
  }
  // A loop and a link into the copy are not entered at all.
  EXPECT_FALSE(fs::exists(destination / "layout/loop"));
  EXPECT_FALSE(fs::exists(destination / "into-destination"));
  // Nothing outside the copy changed, the source included.
  EXPECT_EQ(ReadFile(outside / "victim.txt"), "victim");
  EXPECT_EQ(ReadFile(outside / "hardlinked.txt"), "hard");
  EXPECT_EQ(ReadFile(outside / "shared.lua"), "return 7\n");
  EXPECT_FALSE(fs::exists(outside / "icons"));
  EXPECT_TRUE(fs::is_symlink(source / "layout/shared.lua"));
}

TEST(TreeCopy, RootsThatCannotBeOpenedFail) {
  TempDir temp;
  WriteFile(temp / "src/a.txt", "a");
  WriteFile(temp / "file", "x");
  EXPECT_FALSE(CopyTreeFollowingLinks(Wide(temp / "missing"), Wide(temp / "dst")));
  EXPECT_FALSE(CopyTreeFollowingLinks(Wide(temp / "src"), Wide(temp / "no/parent")));
  EXPECT_FALSE(CopyTreeFollowingLinks(Wide(temp / "src"), Wide(temp / "file")));
  EXPECT_FALSE(fs::exists(temp / "dst"));
  EXPECT_FALSE(fs::exists(temp / "no"));
}

}  // namespace
}  // namespace uippack::platform
