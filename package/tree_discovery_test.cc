// The source tests and the collection walks on real temporary trees.
#include <gtest/gtest.h>

#include <algorithm>

#include "package/package_builder.h"
#include "platform/path.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack {
namespace {

using testing::MakeDirs;
using testing::TempDir;
using testing::WriteFile;

std::wstring Wide(const testing::fs::path& path) { return platform::NarrowToWide(path.string()); }

// The walks report through markers that live for the process; ctest runs each test in a
// process of its own.
class TreeDiscoveryTest : public ::testing::Test {
 protected:
  // A complete package at dir: layout/, res/, nametable.cfg, package.cfg.
  static void MakePackage(const testing::fs::path& dir) {
    MakeDirs(dir / "layout");
    MakeDirs(dir / "res");
    WriteFile(dir / "nametable.cfg", "n");
    WriteFile(dir / "package.cfg", "p");
  }

  TempDir temp_;
  PackageBuilder builder_;
};

TEST_F(TreeDiscoveryTest, PackSourceNeedsAllFourEntriesOfTheRightKind) {
  MakePackage(temp_.path());
  EXPECT_EQ(builder_.CheckPackSource(Wide(temp_.path())), 1);

  for (const char* missing : {"layout", "res", "nametable.cfg", "package.cfg"}) {
    TempDir dir;
    MakePackage(dir.path());
    testing::fs::remove_all(dir / missing);
    EXPECT_EQ(builder_.CheckPackSource(Wide(dir.path())), 0) << "without " << missing;
  }

  // Right names, wrong kinds or wrong case.
  TempDir wrongKind;
  WriteFile(wrongKind / "layout", "a file, not a directory");
  MakeDirs(wrongKind / "res");
  MakeDirs(wrongKind / "nametable.cfg");
  WriteFile(wrongKind / "package.cfg", "p");
  EXPECT_EQ(builder_.CheckPackSource(Wide(wrongKind.path())), 0);

  TempDir wrongCase;
  MakePackage(wrongCase.path());
  testing::fs::rename(wrongCase / "layout", wrongCase / "Layout");
  EXPECT_EQ(builder_.CheckPackSource(Wide(wrongCase.path())), 0);

  // All four one level down do not count.
  TempDir nested;
  MakePackage(nested / "inner");
  EXPECT_EQ(builder_.CheckPackSource(Wide(nested.path())), 0);
}

TEST_F(TreeDiscoveryTest, MissingSourceOrFileFailsBothTests) {
  WriteFile(temp_ / "file", "x");
  for (const auto& path : {temp_ / "missing", temp_ / "file"}) {
    EXPECT_EQ(builder_.CheckPackSource(Wide(path)), 0);
    EXPECT_EQ(builder_.CheckUnpackSource(Wide(path)), 0);
  }
}

TEST_F(TreeDiscoveryTest, UnpackSourceSearchesDeepButNotHiddenDirectories) {
  TempDir hidden;
  WriteFile(hidden / "a/.backup/layout.uip", "x");
  MakeDirs(hidden / "b/layout.uip");  // a directory of that name is searched, not found
  EXPECT_EQ(builder_.CheckUnpackSource(Wide(hidden.path())), 0);

  WriteFile(temp_ / "1/2/3/4/5/layout.uip", "x");
  EXPECT_EQ(builder_.CheckUnpackSource(Wide(temp_.path())), 1);
}

TEST_F(TreeDiscoveryTest, CollectPackItemsOrderAndNames) {
  const auto root = temp_ / "out";
  MakeDirs(root / "a/layout/x/layout");
  MakeDirs(root / "a/res/images");
  MakeDirs(root / "a/layout/res");
  MakeDirs(root / "scripts.lua");
  MakeDirs(root / ".svn/layout");
  WriteFile(root / ".svn/hidden.lua", "");
  WriteFile(root / "a/layout/main.lua", "print(1)");
  WriteFile(root / "a/MAIN.LUA", "");
  WriteFile(root / "a/x.lua.bak", "");
  WriteFile(root / "a/res/images/y.lua", "");

  const std::wstring rootPath = Wide(root);
  ASSERT_EQ(builder_.CollectPackItems(rootPath), 1);

  const std::wstring sep(1, platform::kPathSeparator);
  const std::wstring a = rootPath + sep + L"a";
  auto position = [](const PathList& list, const std::wstring& path) {
    return std::find(list.begin(), list.end(), path) - list.begin();
  };
  ASSERT_EQ(builder_.layoutDirs.size(), 2u);
  EXPECT_LT(position(builder_.layoutDirs, a + sep + L"layout"),
            position(builder_.layoutDirs, a + sep + L"layout" + sep + L"x" + sep + L"layout"));
  EXPECT_EQ(builder_.resourceDirs.size(), 2u);
  EXPECT_NE(position(builder_.resourceDirs, a + sep + L"res"), 2);
  EXPECT_NE(position(builder_.resourceDirs, a + sep + L"layout" + sep + L"res"), 2);
  std::vector<std::wstring> scripts = builder_.scriptFiles;
  std::sort(scripts.begin(), scripts.end());
  EXPECT_EQ(scripts,
            (std::vector<std::wstring>{a + sep + L"layout" + sep + L"main.lua",
                                       a + sep + L"res" + sep + L"images" + sep + L"y.lua"}));
  EXPECT_TRUE(builder_.zipFiles.empty());
  EXPECT_TRUE(builder_.containerFiles.empty());
}

TEST_F(TreeDiscoveryTest, CollectPackItemsWithoutScriptsIsZero) {
  MakeDirs(temp_ / "layout");
  MakeDirs(temp_ / "res/images");
  EXPECT_EQ(builder_.CollectPackItems(Wide(temp_.path())), 0);
  EXPECT_EQ(builder_.layoutDirs.size(), 1u);  // still collected
  EXPECT_EQ(builder_.CollectPackItems(Wide(temp_ / "missing")), 0);
}

TEST_F(TreeDiscoveryTest, TrailingSeparatorOnTheRootIsKept) {
  WriteFile(temp_ / "layout/main.lua", "");
  const std::wstring root = Wide(temp_.path()) + platform::kPathSeparator;
  ASSERT_EQ(builder_.CollectPackItems(root), 1);
  EXPECT_EQ(builder_.layoutDirs.at(0), root + platform::kPathSeparator + L"layout");
}

TEST_F(TreeDiscoveryTest, CollectUnpackItems) {
  WriteFile(temp_ / "pkg/layout.uip", "c");
  WriteFile(temp_ / "pkg/layout.zip", "z");
  WriteFile(temp_ / "pkg/res/images.zip", "z");
  WriteFile(temp_ / "pkg/res/A.ZIP", "z");
  WriteFile(temp_ / "pkg/menu.uip", "c");
  WriteFile(temp_ / "pkg/.old/layout.uip", "c");
  const std::wstring root = Wide(temp_.path());
  ASSERT_EQ(builder_.CollectUnpackItems(root), 1);
  const std::wstring sep(1, platform::kPathSeparator);
  EXPECT_EQ(builder_.containerFiles, (PathList{root + sep + L"pkg" + sep + L"layout.uip"}));
  PathList zips = builder_.zipFiles;
  std::sort(zips.begin(), zips.end());
  EXPECT_EQ(zips, (PathList{root + sep + L"pkg" + sep + L"layout.zip",
                            root + sep + L"pkg" + sep + L"res" + sep + L"images.zip"}));
  EXPECT_TRUE(builder_.scriptFiles.empty());
}

TEST_F(TreeDiscoveryTest, OnlyZipFilesAreEnoughToUnpackButNotToPass) {
  WriteFile(temp_ / "res/a.zip", "z");
  EXPECT_EQ(builder_.CollectUnpackItems(Wide(temp_.path())), 1);
  EXPECT_EQ(builder_.CheckUnpackSource(Wide(temp_.path())), 0);
}

TEST_F(TreeDiscoveryTest, NonUtf8NameIsCollectedAndFoundAgain) {
  const std::string rawName("la\xff\xfeyer", 7);
  WriteFile(temp_ / rawName / "main.lua", "print(1)");
  ASSERT_EQ(builder_.CollectPackItems(Wide(temp_.path())), 1);
  ASSERT_EQ(builder_.scriptFiles.size(), 1u);
  const std::string narrow = platform::WideToNarrow(builder_.scriptFiles[0]);
  EXPECT_EQ(narrow, (temp_ / rawName / "main.lua").string());
  EXPECT_EQ(testing::ReadFile(narrow), "print(1)");
}

TEST_F(TreeDiscoveryTest, LinksAreNotEntered) {
  WriteFile(temp_ / "real/main.lua", "");
  testing::fs::create_directory_symlink(temp_ / "real", temp_ / "real/loop");
  ASSERT_EQ(builder_.CollectPackItems(Wide(temp_.path())), 1);
  EXPECT_EQ(builder_.scriptFiles.size(), 1u);
}

}  // namespace
}  // namespace uippack
