// Packing with the real tools: ScriptStager, luac and 7-Zip.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/package_builder.h"
#include "platform/text.h"
#include "tests/package_fixture.h"

namespace uippack::testing {
namespace {

using Lines = std::vector<std::string>;

std::wstring Wide(const fs::path& path) { return platform::NarrowToWide(path.string()); }

// Unwraps a copy of the container beside it and gives the archive's path.
fs::path UnwrapCopy(const fs::path& container, const fs::path& scratch) {
  const fs::path copy = scratch / "copy.uip";
  fs::create_directories(scratch);
  fs::copy_file(container, copy, fs::copy_options::overwrite_existing);
  PackageBuilder builder;
  EXPECT_EQ(builder.VerifyContainer(Wide(copy)), 1);
  EXPECT_EQ(builder.UnwrapContainerToZip(Wide(copy)), 1);
  return scratch / "copy.zip";
}

TEST(Pack, PackageBecomesItsShippingForm) {
  TempDir temp;
  MakePackage(temp / "pkg");
  const auto before = TreeListing(temp / "pkg");
  const ProcessResult result = Uippack({"-p", "pkg", "out"}, temp.path());
  ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;

  // Our lines in their order; the scripts in listing order, so compare them as a set.
  Lines lines = OwnLines(result.out);
  ASSERT_EQ(lines.size(), 12u) << result.out;
  EXPECT_EQ(lines[0], "Start packing uip files, please wait...");
  Lines compileLines(lines.begin() + 1, lines.begin() + 5);
  std::sort(compileLines.begin(), compileLines.end());
  EXPECT_EQ(compileLines, (Lines{"Compile out/layout/main.lua finished!",
                                 "Compile out/layout/screens/home.lua finished!",
                                 "PreCompile out/layout/main.lua finished!",
                                 "PreCompile out/layout/screens/home.lua finished!"}));
  EXPECT_EQ(lines[1].rfind("PreCompile ", 0), 0u);
  EXPECT_EQ(lines[5], "Compile all lua files finished!");
  EXPECT_EQ(lines[6], "Compress out/layout finished!");
  EXPECT_EQ(lines[7], "Compress all layout directories finished!");
  Lines resourceLines(lines.begin() + 8, lines.begin() + 10);
  std::sort(resourceLines.begin(), resourceLines.end());
  EXPECT_EQ(resourceLines,
            (Lines{"Compress out/res/images finished!", "Compress out/res/strings finished!"}));
  EXPECT_EQ(lines[10], "Compress all resource directories finished!");
  EXPECT_EQ(lines[11], "Pack all uip files ok!");

  ASSERT_TRUE(WaitForRemovals(temp / "out"));
  EXPECT_EQ(TreeListing(temp / "pkg"), before);  // the source is never touched
  const fs::path out = temp / "out";
  EXPECT_EQ(ReadFile(out / "nametable.cfg"), "home=Home\n");
  EXPECT_EQ(ReadFile(out / "package.cfg"), "name=test\n");
  EXPECT_EQ(ReadFile(out / "res/loose.txt"), "stays as it is\n");
  EXPECT_FALSE(fs::exists(out / "layout"));

  // The layout archive: deflated, the directory's content at its root, scripts compiled.
  const fs::path layoutZip = out / "layout.zip";
  EXPECT_EQ(ZipEntries(layoutZip),
            (Lines{"main.lua Deflate", "screens/", "screens/home.lua Deflate",
                   "screens/readme.txt Deflate"}));
  const fs::path unwrapped = UnwrapCopy(out / "layout.uip", temp / "scratch");
  EXPECT_EQ(ReadFile(unwrapped), ReadFile(layoutZip));
  EXPECT_EQ(RunProcess({(BinDir() / "7z").string(), "t", unwrapped.string()}).exitStatus, 0);

  // Resource archives are stored, one per subdirectory, holding its whole subtree.
  EXPECT_EQ(ZipEntries(out / "res/images.zip"),
            (Lines{"a.png Store", "icons/", "icons/b.png Store"}));
  EXPECT_EQ(ZipEntries(out / "res/strings.zip"), (Lines{"en.txt Store"}));
}

TEST(Pack, CompiledScriptsRunLikeTheirSources) {
  TempDir temp;
  const fs::path demo = SourceDir() / "examples/demo";
  const ProcessResult result =
      Uippack({"-p", demo.string(), (temp / "out").string(), "keep-zip"}, temp.path());
  ASSERT_EQ(result.exitStatus, 0) << result.out;
  ASSERT_TRUE(WaitForRemovals(temp / "out"));
  EXPECT_FALSE(fs::exists(temp / "out/layout.uip"));
  ASSERT_EQ(RunProcess({(BinDir() / "7z").string(), "x", (temp / "out/layout.zip").string(),
                        "-o" + (temp / "compiled").string(), "-y"})
                .exitStatus,
            0);
  int scripts = 0;
  for (const auto& entry : fs::recursive_directory_iterator(demo / "layout")) {
    if (entry.path().extension() != ".lua") continue;
    ++scripts;
    const fs::path compiled = temp / "compiled" / fs::relative(entry.path(), demo / "layout");
    EXPECT_TRUE(IsLua54Bytecode(compiled)) << compiled;
    const std::string source = ReadFile(entry.path());
    if (source.find("--#") == std::string::npos) {
      EXPECT_EQ(RunLua(compiled), RunLua(entry.path())) << compiled;
    } else {
      // Without a PreCompile.txt in the working directory no symbol is defined.
      EXPECT_NE(RunLua(compiled).find("release build"), std::string::npos);
      EXPECT_EQ(RunLua(compiled).find("debug build"), std::string::npos);
    }
  }
  EXPECT_GE(scripts, 3);
}

TEST(Pack, PreCompileConfigurationComesFromTheWorkingDirectory) {
  TempDir temp;
  WriteFile(temp / "PreCompile.txt", "DEBUG\n");
  MakePackage(temp / "pkg");
  WriteFile(temp / "pkg/layout/main.lua",
            "--#if DEBUG\nprint('debug')\n--#else\nprint('release')\n--#endif\nerror('line 6')\n");
  ASSERT_EQ(Uippack({"-p", "pkg", "out", "zip"}, temp.path()).exitStatus, 0);
  ASSERT_TRUE(WaitForRemovals(temp / "out"));
  ASSERT_EQ(RunProcess({(BinDir() / "7z").string(), "x", (temp / "out/layout.zip").string(),
                        "-o" + (temp / "x").string(), "-y"})
                .exitStatus,
            0);
  const ProcessResult run = RunProcess({"/usr/bin/lua5.4", (temp / "x/main.lua").string()});
  EXPECT_EQ(run.out, "debug\n");
  EXPECT_NE(run.err.find(":6: line 6"), std::string::npos) << run.err;  // line numbers kept
}

TEST(Pack, ModesDecideBetweenContainerAndArchive) {
  struct Case {
    std::vector<std::string> mode;
    bool container;
    bool archive;
  };
  for (const Case& c :
       {Case{{}, true, true}, Case{{"-uip"}, true, false}, Case{{"-UIP"}, true, false},
        Case{{"uip"}, false, true}, Case{{"-uipx"}, false, true}}) {
    TempDir temp;
    MakePackage(temp / "pkg");
    std::vector<std::string> arguments = {"-p", "pkg", "out"};
    arguments.insert(arguments.end(), c.mode.begin(), c.mode.end());
    const ProcessResult result = Uippack(arguments, temp.path());
    const std::string mode = c.mode.empty() ? "(none)" : c.mode[0];
    ASSERT_EQ(result.exitStatus, 0) << mode;
    ASSERT_TRUE(WaitForRemovals(temp / "out")) << mode;
    EXPECT_EQ(fs::exists(temp / "out/layout.uip"), c.container) << mode;
    EXPECT_EQ(fs::exists(temp / "out/layout.zip"), c.archive) << mode;
  }
}

TEST(Pack, RejectedScriptDoesNotStopTheRun) {
  TempDir temp;
  MakePackage(temp / "pkg");
  WriteFile(temp / "pkg/layout/broken.lua", "local = = 1\n");
  const ProcessResult result = Uippack({"-p", "pkg", "out"}, temp.path());
  EXPECT_EQ(result.exitStatus, 0);
  const Lines lines = OwnLines(result.out);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Compile out/layout/broken.lua finished!"),
            lines.end());
  EXPECT_EQ(lines.back(), "Pack all uip files ok!");
}

TEST(Pack, HiddenResourceSubdirectoriesStay) {
  TempDir temp;
  MakePackage(temp / "pkg");
  WriteFile(temp / "pkg/res/.cache/x.txt", "x");
  WriteFile(temp / "pkg/.git/layout/hidden.lua", "x");
  ASSERT_EQ(Uippack({"-p", "pkg", "out"}, temp.path()).exitStatus, 0);
  ASSERT_TRUE(WaitForRemovals(temp / "out"));
  EXPECT_EQ(ReadFile(temp / "out/res/.cache/x.txt"), "x");
  EXPECT_FALSE(fs::exists(temp / "out/res/.cache.zip"));
  EXPECT_EQ(ReadFile(temp / "out/.git/layout/hidden.lua"), "x");  // never compiled or archived
}

TEST(Pack, MissingArchiverIsAStartFailure) {
  TempDir temp;
  const fs::path tools = temp / "tools";
  fs::create_directories(tools);
  fs::copy_file(BinDir() / "uippack", tools / "uippack");
  fs::copy_file(BinDir() / "ScriptStager", tools / "ScriptStager");
  fs::create_symlink(fs::read_symlink(BinDir() / "luac"), tools / "luac");
  MakePackage(temp / "pkg");
  const ProcessResult result =
      RunProcess({(tools / "uippack").string(), "-p", "pkg", "out"}, temp.path());
  EXPECT_EQ(result.exitStatus, 255);
  const Lines lines = OwnLines(result.out);
  ASSERT_GE(lines.size(), 3u);
  const std::string expectedStart =
      "Compress out/layout failed, CreateProcess failed!,cmdline = \"" + tools.string() +
      "/7z\"  a -tzip " + (temp / "out/layout.zip").string() + " " +
      (temp / "out/layout/*").string() + " -r -mx=9";
  EXPECT_EQ(lines[lines.size() - 2], expectedStart);
  EXPECT_EQ(lines.back(), "Pack error,source path = pkg, destination path = out");
  EXPECT_TRUE(IsLua54Bytecode(temp / "out/layout/main.lua"));  // the scripts stay compiled
}

TEST(Pack, AwkwardNamesArePackedAsThemselvesAndNothingOutsideChanges) {
  TempDir temp;
  const std::string odd = "a b & c;$(d)'e \xE4\xB8\xAD";
  const fs::path source = temp / ("src " + odd);
  MakePackage(source);
  WriteFile(source / "layout" / odd / "x y.lua", "print('odd')\n");
  WriteFile(source / "res" / odd / "f g.txt", "g");
  WriteFile(source / "res" / "-rf" / "h.txt", "h");
  WriteFile(temp / "bystander/keep.txt", "keep");
  const fs::path destination = temp / ("dst " + odd);
  const auto sourceBefore = TreeListing(source);
  const auto bystanderBefore = TreeListing(temp / "bystander");

  const ProcessResult result = Uippack({"-p", source.string(), destination.string()}, temp.path());
  ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
  ASSERT_TRUE(WaitForRemovals(destination));
  EXPECT_EQ(OwnLines(result.out).back(), "Pack all uip files ok!");
  EXPECT_NE(result.out.find("Compile " + (destination / "layout" / odd / "x y.lua").string() +
                            " finished!"),
            std::string::npos);
  const Lines layoutEntries = ZipEntries(destination / "layout.zip");
  EXPECT_NE(std::find(layoutEntries.begin(), layoutEntries.end(), odd + "/x y.lua Deflate"),
            layoutEntries.end());
  EXPECT_EQ(ZipEntries(destination / "res" / (odd + ".zip")), (Lines{"f g.txt Store"}));
  EXPECT_EQ(ZipEntries(destination / "res/-rf.zip"), (Lines{"h.txt Store"}));
  EXPECT_EQ(TreeListing(source), sourceBefore);
  EXPECT_EQ(TreeListing(temp / "bystander"), bystanderBefore);
  // Only the source, the destination and the bystander lie in temp.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(temp.path())) ++entries;
  EXPECT_EQ(entries, 3);
}

TEST(Pack, WildcardsInNamesFailTheirItemCleanly) {
  TempDir temp;
  MakePackage(temp / "pkg");
  WriteFile(temp / "pkg/res/st*r/x.txt", "x");
  WriteFile(temp / "pkg/res/stxr/y.txt", "y");
  const ProcessResult result = Uippack({"-p", "pkg", "out"}, temp.path());
  EXPECT_EQ(result.exitStatus, 255);
  EXPECT_NE(result.out.find("Compress out/res/st*r failed, CreateProcess failed!,cmdline = "),
            std::string::npos);
  ASSERT_TRUE(WaitUntilGone(temp / "out/layout"));
  EXPECT_EQ(ReadFile(temp / "out/res/st*r/x.txt"), "x");  // not removed
  EXPECT_EQ(ReadFile(temp / "pkg/res/stxr/y.txt"), "y");
}

}  // namespace
}  // namespace uippack::testing
