// The tree copy against a hostile source and a destination with traps already in it: the copy
// must hold only real directories and regular files, end, and write nothing outside itself.
// A link to a device or a FIFO in the source is left out too, as the end-to-end tests show.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/directory.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack::platform {
namespace {

namespace fs = testing::fs;

bool Copy(const fs::path& from, const fs::path& to) {
  return CopyTreeFollowingLinks(NarrowToWide(from.string()), NarrowToWide(to.string()));
}

TEST(TreeCopy, FollowsLinksLeavesSpecialFilesOutAndNeverWritesThroughTheDestination) {
  testing::TempDir temp;
  // want: what the copy must hold, and nothing else.
  const fs::path src = temp / "src", dst = temp / "dst", out = temp / "out", want = temp / "want";
  testing::WriteFile(out / "shared.lua", "return 7\n");
  testing::WriteFile(out / "dir/inner.txt", "inner");
  // A sparse file: a hole stays a hole, so it cannot fill the disk.
  for (const fs::path& root : {src, want}) {
    testing::WriteFile(root / "layout/main.lua", "print(1)\n");
    testing::WriteFile(root / "res/sparse.bin", "head");
    fs::resize_file(root / "res/sparse.bin", 64 << 20);
  }
  fs::copy(out, want / "layout", fs::copy_options::recursive);
  fs::create_symlink(out / "shared.lua", src / "layout/shared.lua");
  fs::create_symlink("../../out/dir", src / "layout/dir");
  fs::create_symlink("..", src / "layout/loop");              // a loop
  fs::create_symlink(dst, src / "into-destination");          // into the copy itself
  fs::create_symlink(out / "missing", src / "dangling.lua");  // leads nowhere
  // The destination already holds a link and a hard link where the copy will write.
  fs::create_directories(dst / "layout");
  fs::create_symlink(out / "shared.lua", dst / "layout/main.lua");
  fs::create_hard_link(out / "dir/inner.txt", dst / "layout/shared.lua");
  fs::create_symlink(out, dst / "res");
  const auto outBefore = testing::TreeListing(out);

  ASSERT_TRUE(Copy(src, dst));

  EXPECT_EQ(testing::TreeListing(dst), testing::TreeListing(want));
  EXPECT_EQ(testing::TreeListing(out), outBefore);
  for (const auto& entry : fs::recursive_directory_iterator(dst))
    EXPECT_FALSE(entry.is_symlink() || entry.is_other()) << entry.path();
  struct stat sparse {};
  EXPECT_TRUE(stat((dst / "res/sparse.bin").c_str(), &sparse) == 0 && sparse.st_blocks < 2048);
  EXPECT_EQ(fs::last_write_time(dst / "layout/main.lua"),
            fs::last_write_time(src / "layout/main.lua"));  // times are kept
  // Roots that cannot be opened fail before anything is made.
  EXPECT_FALSE(Copy(temp / "missing", temp / "new") || Copy(src, temp / "no/parent") ||
               Copy(src, out / "shared.lua"));
  EXPECT_FALSE(fs::exists(temp / "new") || fs::exists(temp / "no"));
}

}  // namespace
}  // namespace uippack::platform
