// The source tests and the collection walks on real temporary trees. The walks report through
// markers that live for the process; ctest runs each test in a process of its own.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "package/package_builder.h"
#include "platform/path.h"
#include "tests/test_support.h"

namespace uippack {
namespace {

namespace fs = testing::fs;
using platform::ChildPath;
using testing::TempDir;
using testing::Wide;

PathList Sorted(PathList list) {
  std::sort(list.begin(), list.end());
  return list;
}

TEST(TreeDiscovery, PackSourceNeedsAllFourEntriesOfTheRightKindAndCase) {
  const std::vector<std::string> package = {"layout/", "res/", "nametable.cfg", "package.cfg"};
  // Each case swaps one entry of a complete package for another, or ("") leaves it out.
  std::vector<std::pair<std::string, std::string>> cases = {
      {"layout/", "layout"}, {"package.cfg", "package.cfg/"}, {"layout/", "Layout/"}};
  for (const auto& entry : package) cases.emplace_back(entry, "");
  PackageBuilder builder;
  for (const auto& [out, in] : cases) {
    TempDir dir;
    std::vector<std::string> entries = package;
    std::replace(entries.begin(), entries.end(), out, in);
    std::erase(entries, "");
    testing::MakeTree(dir.path(), entries);
    EXPECT_EQ(builder.CheckPackSource(Wide(dir.path())), 0) << out << " -> " << in;
  }
  TempDir nested;
  testing::MakeTree(nested / "inner", package);
  EXPECT_EQ(builder.CheckPackSource(Wide(nested / "inner")), 1);
  // Neither test takes all four one level down, nothing, or a file.
  for (const auto& path : {nested.path(), nested / "missing", nested / "inner/package.cfg"}) {
    EXPECT_EQ(builder.CheckPackSource(Wide(path)), 0) << path;
    EXPECT_EQ(builder.CheckUnpackSource(Wide(path)), 0) << path;
  }
}

TEST(TreeDiscovery, PackWalkFindsLayoutResAndRegularScriptsOutsideHiddenDirectories) {
  TempDir temp;
  const std::string raw("la\xff\xfeyer", 7);  // not UTF-8: found, and found again
  testing::MakeTree(temp / "out",
                    {"a/layout/x/layout/", "a/res/images/", "a/layout/res/", "scripts.lua/",
                     ".svn/layout/", ".svn/hidden.lua", "a/layout/main.lua", "a/MAIN.LUA",
                     "a/x.lua.bak", "a/res/" + raw + "/y.lua"});
  // Links and FIFOs are never handed to the compiler, nor are linked directories entered.
  fs::create_symlink(temp / "out/a/layout/main.lua", temp / "out/a/link.lua");
  fs::create_directory_symlink(temp / "out/a", temp / "out/a/loop");
  ASSERT_EQ(mkfifo((temp / "out/a/fifo.lua").c_str(), 0644), 0);

  PackageBuilder none;  // without a script, or a directory, the walk finds nothing
  EXPECT_EQ(none.CollectPackItems(Wide(temp / "out/a/layout/x")), 0);
  EXPECT_EQ(none.CollectPackItems(Wide(temp / "missing")), 0);

  const std::wstring root = Wide(temp / "out") + platform::kPathSeparator;  // kept as given
  PackageBuilder builder;
  ASSERT_EQ(builder.CollectPackItems(root), 1);
  const std::wstring a = ChildPath(root, L"a"), layout = ChildPath(a, L"layout");
  EXPECT_EQ(builder.layoutDirs, (PathList{layout, ChildPath(ChildPath(layout, L"x"), L"layout")}));
  EXPECT_EQ(Sorted(builder.resourceDirs),
            Sorted({ChildPath(a, L"res"), ChildPath(layout, L"res")}));
  const std::wstring rawScript = ChildPath(ChildPath(a, L"res"), platform::NarrowToWide(raw));
  EXPECT_EQ(Sorted(builder.scriptFiles),
            Sorted({ChildPath(layout, L"main.lua"), ChildPath(rawScript, L"y.lua")}));
  for (const auto& s : builder.scriptFiles) EXPECT_TRUE(fs::exists(platform::WideToNarrow(s)));
}

TEST(TreeDiscovery, UnpackWalksFindContainersAndArchivesByExactNameOutsideHiddenDirectories) {
  TempDir temp;
  // Neither a hidden directory's container nor a directory of that name counts; archives alone
  // leave the source untaken but are worth a walk.
  testing::MakeTree(temp.path(), {"pkg/.old/layout.uip", "pkg/b/layout.uip/", "pkg/layout.zip",
                                  "pkg/res/images.zip", "pkg/res/A.ZIP", "pkg/menu.uip"});
  fs::create_symlink(temp / "pkg/layout.zip", temp / "pkg/res/link.zip");
  ASSERT_EQ(mkfifo((temp / "pkg/res/fifo.zip").c_str(), 0644), 0);
  const std::wstring pkg = Wide(temp / "pkg");
  PackageBuilder builder;
  EXPECT_EQ(builder.CheckUnpackSource(Wide(temp.path())), 0);
  ASSERT_EQ(builder.CollectUnpackItems(Wide(temp.path())), 1);
  EXPECT_EQ(Sorted(builder.zipFiles), Sorted({ChildPath(pkg, L"layout.zip"),
                                              ChildPath(ChildPath(pkg, L"res"), L"images.zip")}));
  EXPECT_TRUE(builder.containerFiles.empty());

  testing::MakeTree(temp.path(), {"pkg/1/2/3/4/layout.uip"});  // searched deep
  EXPECT_EQ(builder.CheckUnpackSource(Wide(temp.path())), 1);
  builder.CollectUnpackItems(Wide(temp.path()));
  EXPECT_EQ(builder.containerFiles, PathList{Wide(temp / "pkg/1/2/3/4/layout.uip")});
}

}  // namespace
}  // namespace uippack
