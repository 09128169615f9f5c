// The source tests and the collection walks on real temporary trees. The walks report through
// markers that live for the process; ctest runs each test in a process of its own.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "package/package_builder.h"
#include "platform/path.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack {
namespace {

namespace fs = testing::fs;
using testing::MakeDirs;
using testing::TempDir;
using testing::WriteFile;

std::wstring Wide(const fs::path& path) { return platform::NarrowToWide(path.string()); }

PathList Sorted(PathList list) {
  std::sort(list.begin(), list.end());
  return list;
}

TEST(TreeDiscovery, PackSourceNeedsAllFourEntriesOfTheRightKindAndCase) {
  const auto makePackage = [](const fs::path& dir) {
    MakeDirs(dir / "layout");
    MakeDirs(dir / "res");
    WriteFile(dir / "nametable.cfg", "n");
    WriteFile(dir / "package.cfg", "p");
  };
  const std::pair<const char*, std::function<void(const fs::path&)>> cases[] = {
      {"complete", [](const fs::path&) {}},
      {"no layout", [](const fs::path& d) { fs::remove_all(d / "layout"); }},
      {"no res", [](const fs::path& d) { fs::remove_all(d / "res"); }},
      {"no nametable.cfg", [](const fs::path& d) { fs::remove(d / "nametable.cfg"); }},
      {"no package.cfg", [](const fs::path& d) { fs::remove(d / "package.cfg"); }},
      {"layout a file",
       [](const fs::path& d) {
         fs::remove_all(d / "layout");
         WriteFile(d / "layout", "");
       }},
      {"package.cfg a directory",
       [](const fs::path& d) {
         fs::remove(d / "package.cfg");
         MakeDirs(d / "package.cfg");
       }},
      {"Layout", [](const fs::path& d) { fs::rename(d / "layout", d / "Layout"); }},
  };
  PackageBuilder builder;
  for (const auto& [what, change] : cases) {
    TempDir dir;
    makePackage(dir.path());
    change(dir.path());
    EXPECT_EQ(builder.CheckPackSource(Wide(dir.path())), std::string(what) == "complete") << what;
  }
  TempDir nested;  // all four one level down do not count
  makePackage(nested / "inner");
  WriteFile(nested / "file", "x");
  for (const auto& path : {nested.path(), nested / "missing", nested / "file"}) {
    EXPECT_EQ(builder.CheckPackSource(Wide(path)), 0) << path;
    EXPECT_EQ(builder.CheckUnpackSource(Wide(path)), 0) << path;
  }
}

TEST(TreeDiscovery, UnpackSourceSearchesDeepButNotHiddenDirectories) {
  TempDir temp;
  WriteFile(temp / "a/.backup/layout.uip", "x");
  MakeDirs(temp / "b/layout.uip");  // a directory of that name is searched, not found
  WriteFile(temp / "res/a.zip", "z");
  PackageBuilder builder;
  EXPECT_EQ(builder.CheckUnpackSource(Wide(temp.path())), 0);
  EXPECT_EQ(builder.CollectUnpackItems(Wide(temp.path())), 1);  // archives alone suffice here
  WriteFile(temp / "1/2/3/4/5/layout.uip", "x");
  EXPECT_EQ(builder.CheckUnpackSource(Wide(temp.path())), 1);
}

TEST(TreeDiscovery, CollectPackItemsFindsLayoutResAndRegularScriptsOutsideHiddenDirectories) {
  TempDir temp;
  const auto root = temp / "out";
  MakeDirs(root / "a/layout/x/layout");
  MakeDirs(root / "a/res/images");
  MakeDirs(root / "a/layout/res");
  MakeDirs(root / "scripts.lua");
  MakeDirs(root / ".svn/layout");
  WriteFile(root / ".svn/hidden.lua", "");
  WriteFile(root / "a/layout/main.lua", "print(1)");
  WriteFile(root / "a/MAIN.LUA", "");
  WriteFile(root / "a/x.lua.bak", "");
  const std::string rawName("la\xff\xfeyer", 7);  // not UTF-8: found, and found again
  WriteFile(root / "a/res" / rawName / "y.lua", "");
  // Links and FIFOs are never handed to the compiler, nor are linked directories entered.
  fs::create_symlink(root / "a/layout/main.lua", root / "a/link.lua");
  fs::create_directory_symlink(root / "a", root / "a/loop");
  ASSERT_EQ(mkfifo((root / "a/fifo.lua").c_str(), 0644), 0);

  const std::wstring rootPath = Wide(root) + platform::kPathSeparator;  // kept as given
  PackageBuilder builder;
  ASSERT_EQ(builder.CollectPackItems(rootPath), 1);
  const std::wstring a = rootPath + platform::kPathSeparator + L"a";
  const auto child = [](const std::wstring& dir, const wchar_t* name) {
    return platform::ChildPath(dir, name);
  };
  EXPECT_EQ(builder.layoutDirs,
            (PathList{child(a, L"layout"), child(child(child(a, L"layout"), L"x"), L"layout")}));
  EXPECT_EQ(Sorted(builder.resourceDirs),
            Sorted({child(a, L"res"), child(child(a, L"layout"), L"res")}));
  EXPECT_EQ(
      Sorted(builder.scriptFiles),
      Sorted({child(child(a, L"layout"), L"main.lua"),
              child(child(child(a, L"res"), platform::NarrowToWide(rawName).c_str()), L"y.lua")}));
  for (const auto& script : builder.scriptFiles)
    EXPECT_TRUE(fs::exists(platform::WideToNarrow(script)));
  EXPECT_TRUE(builder.zipFiles.empty());
}

TEST(TreeDiscovery, WithoutScriptsThePackWalkFindsNothing) {
  TempDir temp;
  MakeDirs(temp / "layout");
  PackageBuilder builder;
  EXPECT_EQ(builder.CollectPackItems(Wide(temp.path())), 0);
  EXPECT_EQ(builder.layoutDirs.size(), 1u);  // still collected
  EXPECT_EQ(builder.CollectPackItems(Wide(temp / "missing")), 0);
}

TEST(TreeDiscovery, CollectUnpackItemsFindsContainersAndArchivesByExactName) {
  TempDir temp;
  WriteFile(temp / "pkg/layout.uip", "c");
  WriteFile(temp / "pkg/layout.zip", "z");
  WriteFile(temp / "pkg/res/images.zip", "z");
  WriteFile(temp / "pkg/res/A.ZIP", "z");
  WriteFile(temp / "pkg/menu.uip", "c");
  WriteFile(temp / "pkg/.old/layout.uip", "c");
  fs::create_symlink(temp / "pkg/layout.zip", temp / "pkg/res/link.zip");
  ASSERT_EQ(mkfifo((temp / "pkg/res/fifo.zip").c_str(), 0644), 0);
  const std::wstring pkg = Wide(temp / "pkg");
  PackageBuilder builder;
  ASSERT_EQ(builder.CollectUnpackItems(Wide(temp.path())), 1);
  EXPECT_EQ(builder.containerFiles, PathList{platform::ChildPath(pkg, L"layout.uip")});
  EXPECT_EQ(Sorted(builder.zipFiles),
            Sorted({platform::ChildPath(pkg, L"layout.zip"),
                    platform::ChildPath(platform::ChildPath(pkg, L"res"), L"images.zip")}));
  EXPECT_TRUE(builder.scriptFiles.empty());
}

}  // namespace
}  // namespace uippack
