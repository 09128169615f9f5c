// The tree copy against a hostile source, a destination with traps already in it, neighbours
// who could change the destination, and limits a tree can reach: the copy must hold only real
// directories and regular files that nobody else may write, end, say when it is incomplete, and
// write nothing outside itself. A link to a device or a FIFO in the source is left out too, as
// the end-to-end tests show.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/console.h"
#include "platform/handle.h"
#include "platform/tree_copy.h"
#include "tests/test_support.h"

namespace uippack::platform {
namespace {

namespace fs = testing::fs;

constexpr uid_t kOtherUser = 65534;  // nobody

bool Copy(const fs::path& from, const fs::path& to) {
  // Each note on a line of standard error, where a child's notes are read from.
  return CopyTreeFollowingLinks(testing::Wide(from), testing::Wide(to), WriteErrorLine);
}

// The copy in a child process, under limits the test must not take on itself (when given); its
// notes go to *notes when given.
bool CopyInChild(const fs::path& from, const fs::path& to, const std::function<void()>& limit,
                 std::string* notes = nullptr) {
  const fs::path noteFile = from.string() + ".notes";  // beside the source
  const int status = testing::InChild([&] {
    dup2(open(noteFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    if (limit) limit();
    return Copy(from, to) ? 0 : 1;
  });
  EXPECT_NE(status, -1) << "the copy did not end by itself";
  if (notes != nullptr) *notes = testing::ReadFile(noteFile);
  fs::remove(noteFile);
  return status == 0;
}

TEST(TreeCopy, FollowsLinksLeavesSpecialFilesOutAndNeverWritesThroughTheDestination) {
  testing::TempDir temp;
  // want: what the copy must hold, and nothing else.
  const fs::path src = temp / "src", dst = temp / "dst", out = temp / "out", want = temp / "want";
  testing::MakeTree(out, {"shared.lua", "dir/inner.txt"});
  // A sparse file: a hole stays a hole, so it cannot fill the disk.
  for (const fs::path& root : {src, want}) {
    testing::WriteFile(root / "layout/main.lua", "print(1)\n");
    testing::WriteFile(root / "res/sparse.bin", "head");
    fs::resize_file(root / "res/sparse.bin", 64 << 20);
  }
  fs::copy(out, want / "layout", fs::copy_options::recursive);
  fs::create_symlink(out / "shared.lua", src / "layout/shared.lua");
  fs::create_symlink("../../out/dir", src / "layout/dir");
  // Loops and what is never entered: a link above the source, the root and the kernel's file
  // systems. (A link back up, to /proc, to the copy itself or nowhere, uipcheck's rows have.)
  fs::create_symlink(temp.path(), src / "above");
  fs::create_symlink("/", src / "root");
  fs::create_symlink("/sys/kernel", src / "sys");
  // The destination already holds a link and a hard link where the copy will write.
  fs::create_directories(dst / "layout");
  fs::create_symlink(out / "shared.lua", dst / "layout/main.lua");
  fs::create_hard_link(out / "dir/inner.txt", dst / "layout/shared.lua");
  fs::create_symlink(out, dst / "res");
  const auto outBefore = testing::TreeListing(out);

  ASSERT_TRUE(Copy(src, dst));  // what is left out on purpose does not fail the copy

  EXPECT_EQ(testing::TreeListing(dst), testing::TreeListing(want));
  EXPECT_EQ(testing::TreeListing(out), outBefore);
  for (const auto& entry : fs::recursive_directory_iterator(dst))
    EXPECT_FALSE(entry.is_symlink() || entry.is_other()) << entry.path();
  struct stat sparse {};
  EXPECT_TRUE(stat((dst / "res/sparse.bin").c_str(), &sparse) == 0 && sparse.st_blocks < 2048);
  for (const char* kept : {"layout/main.lua", "layout"})  // times are kept, a directory's too
    EXPECT_EQ(fs::last_write_time(dst / kept), fs::last_write_time(src / kept)) << kept;
  // Missing parents are made; roots that cannot be opened fail before anything is made.
  EXPECT_TRUE(Copy(src / "layout", temp / "no/parent") && fs::exists(temp / "no/parent/main.lua"));
  EXPECT_FALSE(Copy(temp / "missing", temp / "new") || Copy(src, out / "shared.lua/x"));
  EXPECT_FALSE(fs::exists(temp / "new"));
}

// Permission bits come over less the umask and less every write right of others, on directories
// and files alike, and on the destination and the parents the copy makes.
TEST(TreeCopy, WhatTheCopyMakesOnlyItsOwnerMayWrite) {
  testing::TempDir temp;
  const fs::path src = temp / "src";
  testing::MakeTree(src, {"open/file.lua", "open/script.sh"});
  for (const auto& [path, mode] :
       {std::pair{"open/file.lua", 0666}, {"open/script.sh", 04777}, {"open", 0777}, {"", 0775}})
    chmod((src / path).c_str(), mode);
  const mode_t previous = umask(007);  // group write is the copy's to take away
  const bool copied = Copy(src, temp / "made/dst");
  umask(previous);
  ASSERT_TRUE(copied);
  for (const char* made : {"made", "made/dst", "made/dst/open", "made/dst/open/script.sh"})
    EXPECT_EQ(fs::status(temp / made).permissions(), fs::perms(0750)) << made;
  EXPECT_EQ(fs::status(temp / "made/dst/open/file.lua").permissions(), fs::perms(0640));
}

// A destination that another user could change is refused before anything is made in it: a
// directory on its path that others may write to without the sticky bit or that belongs to
// another user, or, in an existing destination, any directory that is not this user's alone.
TEST(TreeCopy, RefusesADestinationOthersCouldChange) {
  // The destination below base, the directory made there first with its mode, whether it then
  // goes to another user, and the end of the path the refusal note names (nullptr: not refused).
  const std::tuple<const char*, const char*, mode_t, bool, const char*> rows[] = {
      {"dst", "dst", 0775, false, "base/dst"},                   // existing, open to the group
      {"dst", "dst/sub/deeper", 0757, false, "dst/sub/deeper"},  // a directory in it open to all
      {"shared/dst", "shared", 0777, false, "base/shared"},      // a parent open to all
      {"shared/a/b/dst", "shared", 0777, false, "base/shared"},  // a grandparent, parents missing
      {"dst", "dst", 0755, true, "base/dst"},                    // existing, another user's
      {"dst", "dst/sub", 0755, true, "dst/sub"},                 // a directory in it, theirs
      {"theirs/dst", "theirs", 0755, true, "base/theirs"},       // a parent of another user
      {"tmp/dst", "tmp", 01777, false, nullptr}};  // a sticky parent open to all, as /tmp is
  for (const auto& [destination, made, mode, theirs, refused] : rows) {
    SCOPED_TRACE(made);
    if (theirs && geteuid() != 0) continue;  // only root can hand a directory to another user
    testing::TempDir temp;
    testing::WriteFile(temp / "src/a.lua", "print(1)\n");
    const fs::path base = temp / "base";
    testing::MakeDirs(base / made);
    chmod((base / made).c_str(), mode);
    ASSERT_TRUE(!theirs || chown((base / made).c_str(), kOtherUser, kOtherUser) == 0);
    const auto before = testing::TreeListing(base);
    std::string notes;
    EXPECT_EQ(CopyInChild(temp / "src", base / destination, {}, &notes), refused == nullptr);
    if (refused == nullptr) continue;
    EXPECT_EQ(testing::TreeListing(base), before);
    EXPECT_NE(notes.find(std::string(refused) + ": refused: "), std::string::npos) << notes;
  }
}

// Whatever the copy could not copy fails it (with its note), and no tree makes it crash, run
// out of descriptors or grow with the length of its paths: a file it cannot write whole, a
// descriptor table too small for it, and a tree far deeper than the system's path limit.
TEST(TreeCopy, FailsWhenIncompleteAndStaysBoundedWhateverTheTree) {
  testing::TempDir temp;
  const fs::path src = temp / "src";
  testing::WriteFile(src / "a/b/c/big.bin", std::string(1 << 20, 'x'));
  EXPECT_FALSE(CopyInChild(src, temp / "full", [] {
    signal(SIGXFSZ, SIG_IGN);  // as uippack runs: the write fails instead
    testing::Limit(RLIMIT_FSIZE, 4096);
  }));
  EXPECT_FALSE(CopyInChild(src, temp / "few", [] {
    for (int fd = 3; fd < 64; ++fd) close(fd);
    testing::Limit(RLIMIT_NOFILE, 6);
  }));
  // What another user cannot read: a file, and where a link leads. (Root reads everything.)
  if (geteuid() == 0) {
    fs::permissions(temp.path(), fs::perms(0755));
    testing::MakeTree(temp.path(), {"locked/inside.txt", "open/secret.txt", "theirs/"});
    chmod((temp / "locked").c_str(), 0700);
    chmod((temp / "open/secret.txt").c_str(), 0600);
    fs::create_symlink(temp / "locked/inside.txt", temp / "open/behind.txt");
    chown((temp / "theirs").c_str(), kOtherUser, kOtherUser);
    std::string notes;
    const auto asOther = [] { (void)!(setgid(kOtherUser) == 0 && setuid(kOtherUser) == 0); };
    EXPECT_FALSE(CopyInChild(temp / "open", temp / "theirs/copy", asOther, &notes));
    EXPECT_NE(notes.find("secret.txt: not copied"), std::string::npos) << notes;
    EXPECT_NE(notes.find("behind.txt: not copied"), std::string::npos) << notes;
  }
  // 5,000 levels, far past the path limit, made and removed relative to open directories.
  const fs::path deep = temp / "deep";
  testing::MakeDirs(deep);
  OwnedHandle level(open(deep.c_str(), O_RDONLY | O_DIRECTORY));
  for (int i = 0; i < 5000 && level.IsOpen(); ++i) {
    mkdirat(level.Get(), "d", 0755);
    level = OwnedHandle(openat(level.Get(), "d", O_RDONLY | O_DIRECTORY));
  }
  ASSERT_TRUE(level.IsOpen());
  const auto bounded = [] {
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    testing::Limit(RLIMIT_NOFILE, 16);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer reserves far more
    testing::Limit(RLIMIT_AS, rlim_t{256} << 20);
#endif
  };
  std::string notes;
  EXPECT_FALSE(CopyInChild(deep, temp / "deep-copy", bounded, &notes));
  // Copied as far as paths may go: its deepest level has the longest path the system takes.
  std::string deepest = (temp / "deep-copy").string();
  while (deepest.size() + 2 < PATH_MAX) deepest += "/d";
  EXPECT_TRUE(fs::is_directory(deepest) && fs::is_empty(deepest)) << deepest.size();
  // It stopped at the path limit, not at the descriptor or memory limit on its way there.
  EXPECT_NE(notes.find("longer than the system takes"), std::string::npos) << notes;
  EXPECT_EQ(std::count(notes.begin(), notes.end(), '\n'), 1) << notes;  // that one note alone
}

}  // namespace
}  // namespace uippack::platform
