// The package tests. The source tests and the collection walks on real temporary trees (the
// walks report through markers that live for the process; ctest runs each test in a process of
// its own). The pipeline steps' own logic, with the tools answered by a fake runner: what a
// failing tool prints, where a step stops, and which items it leaves alone. And how paths enter
// command lines: quoted where needed, refused where unsafe, never overflowing.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "package/command_line.h"
#include "package/command_templates.h"
#include "package/consumed_paths.h"
#include "package/package_builder.h"
#include "package/tool_runner.h"
#include "package/tree_copier.h"
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
  for (const auto& p : {nested.path(), nested / "missing", nested / "inner/package.cfg"})
    EXPECT_EQ(builder.CheckPackSource(Wide(p)) + builder.CheckUnpackSource(Wide(p)), 0) << p;
}

TEST(TreeDiscovery, PackWalkFindsLayoutResAndRegularScriptsOutsideHiddenDirectories) {
  TempDir temp;
  const std::string raw("la\xff\xfeyer", 7);  // not UTF-8, and found all the same
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

// Records every command as "run ..." or "start ...", and each wait for the started ones as
// "wait"; awaited ones answer with the queued outcomes, then Completed.
struct FakeRunner final : CommandRunner {
  RunOutcome Run(const std::wstring& commandLine) override {
    commands.push_back("run " + platform::WideToNarrow(commandLine));
    const RunOutcome outcome = outcomes.empty() ? RunOutcome::Completed : outcomes.front();
    if (!outcomes.empty()) outcomes.erase(outcomes.begin());
    return outcome;
  }
  void Start(const std::string& line) override { commands.push_back("start " + line); }
  void WaitForStarted() override { commands.emplace_back("wait"); }
  std::vector<std::string> commands;
  std::vector<RunOutcome> outcomes;
};

// Records each copy among the runner's commands and answers with `result`.
struct FakeCopier final : TreeCopier {
  explicit FakeCopier(FakeRunner& commandsOf) : runner(commandsOf) {}
  int CopyTree(const std::wstring& source, const std::wstring& destination) override {
    runner.commands.push_back("copy " + platform::WideToNarrow(source) + " " +
                              platform::WideToNarrow(destination));
    return result;
  }
  FakeRunner& runner;
  int result = 1;
};

struct PipelineTest : ::testing::Test {
  // Runs step, expects it to return `expected` and gives what it printed.
  std::string Printed(const std::function<int()>& step, int expected) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(step(), expected);
    return ::testing::internal::GetCapturedStdout();
  }
  std::string Printed(int (PackageBuilder::*step)(), int expected) {
    return Printed([&] { return (builder_.*step)(); }, expected);
  }
  testing::TempDir temp_;
  const fs::path res_ = temp_ / "res";
  FakeRunner runner_;
  FakeCopier copier_{runner_};
  PackageBuilder builder_{runner_, copier_};
};

TEST_F(PipelineTest, AFailingToolPrintsItsLineAndStopsTheStep) {
  const std::string a = (temp_ / "a.lua").string();
  builder_.scriptFiles = {Wide(temp_ / "a.lua"), Wide(temp_ / "b.lua")};
  const std::pair<std::vector<RunOutcome>, std::string> cases[] = {
      {{RunOutcome::WaitFailed}, "PreCompile " + a + " failed, WaitForSingleObject failed!\n"},
      {{RunOutcome::Completed, RunOutcome::WaitFailed},
       "PreCompile " + a + " finished!\nCompile " + a + " failed, WaitForSingleObject failed!\n"}};
  for (const auto& [outcomes, printed] : cases) {
    runner_.commands.clear();
    runner_.outcomes = outcomes;
    EXPECT_EQ(Printed(&PackageBuilder::CompileScripts, 0), printed);
    EXPECT_EQ(runner_.commands.size(), outcomes.size());  // nothing runs after the failure
  }
  runner_.outcomes = {RunOutcome::WaitFailed};  // the copy as Windows runs it, through the runner
  EXPECT_EQ(CopyTree(runner_, L"a", L"b"), 0);
  EXPECT_EQ(CopyTree(runner_, L"a", L"b"), 1);
}

// Which subdirectories are archived and removed, uipcheck judges end to end.
TEST_F(PipelineTest, AResourceDirectoryGoneByItsTurnStopsTheStepSilently) {
  builder_.resourceDirs = {Wide(temp_ / "gone")};
  EXPECT_EQ(Printed(&PackageBuilder::CompressResourceDirs, 0), "");
}

TEST_F(PipelineTest, ArchivesAreExtractedOnlyIntoADirectoryOfTheirOwn) {
  // What stands at the target must be nothing yet or a real directory; the name a real one.
  testing::WriteFile(res_ / "file", "a file where the directory would go");
  fs::create_directory_symlink(temp_.path(), res_ / "link");
  builder_.containerFiles = {Wide(res_ / "file.uip"), Wide(res_ / "layout.uip")};
  Printed(&PackageBuilder::DecompressContainers, 1);
  ASSERT_EQ(runner_.commands.size(), 3u);  // extracted, then the archive and container deleted
  EXPECT_EQ(runner_.commands[2], "start rm -f " + (res_ / "layout.uip").string());

  // The zip beside the container was extracted with it: it only gets its line.
  for (const char* name :
       {"...zip", "..zip", ".zip", "file.zip", "link.zip", "layout.zip", "a.b.zip", "c.zip"})
    builder_.zipFiles.push_back(Wide(res_ / name));
  runner_.outcomes = {RunOutcome::StartFailed};
  const std::string out = Printed(&PackageBuilder::DecompressZipFiles, 0);
  EXPECT_TRUE(out.starts_with("Decompress " + (res_ / "layout.zip").string() +
                              " finished!\nDecompress " + (res_ / "a.b.zip").string() +
                              " failed, CreateProcess"))
      << out;
  EXPECT_EQ(runner_.commands.size(), 4u);  // a.b.zip alone was tried, and stopped the step
}

// What was archived and is being removed is not worked on again: a layout directory inside an
// archived one only gets its line, a res directory inside one is not listed, a resource
// subdirectory the layout step archived is passed over, and one holding a layout directory
// being removed is archived once that removal has ended.
TEST_F(PipelineTest, WhatLiesInAnArchivedDirectoryIsNotArchivedAgain) {
  const fs::path layout = temp_ / "layout";
  testing::MakeTree(temp_.path(),
                    {"layout/res/images/", "res/layout/", "res/skin/layout/", "res/skin/res/x/"});
  std::string expected;
  for (const auto& dir : {layout, layout / "a/layout", res_ / "layout", res_ / "skin/layout"}) {
    builder_.layoutDirs.push_back(Wide(dir) + platform::kPathSeparator);  // dropped again
    expected += "Compress " + dir.string() + " finished!\n";
  }
  builder_.resourceDirs = {Wide(layout / "res"), Wide(res_), Wide(res_ / "skin/res")};
  builder_.modeOption = L"zip";
  std::string printed = Printed(&PackageBuilder::CompressLayoutDirs, 1);
  printed += Printed(&PackageBuilder::CompressResourceDirs, 1);
  expected += "Compress all layout directories finished!\nCompress " + (res_ / "skin").string() +
              " finished!\nCompress all resource directories finished!\n";
  EXPECT_EQ(printed, expected);
  std::vector<std::string> kinds;
  for (const auto& command : runner_.commands) kinds.push_back(command.substr(0, 4));
  EXPECT_EQ(kinds, (std::vector<std::string>{"run ", "star", "run ", "star", "run ", "star", "wait",
                                             "run ", "star"}));
  EXPECT_EQ(runner_.commands.back(), "start rm -rf " + (res_ / "skin").string());
}

TEST_F(PipelineTest, OverlappingTreesAreRefusedBeforeAnythingIsCopied) {
  // The sibling's name starts like the source's, but it is a tree of its own.
  const fs::path source = temp_ / "pkg", sibling = temp_ / "pkg2";
  testing::MakeDirs(source);
  // Both fail: unpacking finds nothing to work on.
  const auto packAndUnpack = [&](const fs::path& destination) {
    return builder_.PackAll(Wide(source), Wide(destination)) +
           builder_.UnpackAll(Wide(source), Wide(destination));
  };
  for (const auto& destination : {source, source / "out", temp_.path(), sibling}) {
    const bool refused =
        Printed([&] { return packAndUnpack(destination); }, 0).starts_with("Refused: ");
    EXPECT_EQ(refused, destination != sibling) << destination;
  }
  EXPECT_TRUE(fs::is_empty(source));
  // Every run, refused or failed, ends by waiting for what it started; only the sibling is
  // copied to.
  const std::string copy = "copy " + source.string() + " " + sibling.string();
  std::vector<std::string> expected(6, "wait");
  expected.insert(expected.end(), {copy, "wait", copy, "wait"});
  EXPECT_EQ(runner_.commands, expected);

  // A failed copy ends the run before what an earlier run left in the destination is walked.
  testing::MakeTree(sibling, {"a.lua", "layout/", "res/x/", "layout.uip", "res/y.zip"});
  runner_.commands.clear();
  copier_.result = 0;
  EXPECT_EQ(Printed([&] { return packAndUnpack(sibling); }, 0), "");
  EXPECT_EQ(runner_.commands, (std::vector<std::string>{copy, "wait", copy, "wait"}));
  EXPECT_TRUE(builder_.scriptFiles.empty() && builder_.zipFiles.empty());
}

// Paths as one walk spells them: the same path or one below it lies within; a name that only
// begins like the directory's does not.
TEST(ConsumedPaths, APathLiesWithinItselfAndTheDirectoriesAboveIt) {
  // The path, the paths consumed, whether the path is consumed and whether it holds one.
  const std::tuple<const wchar_t*, std::vector<std::wstring>, bool, bool> cases[] = {
      {L"o/layout", {L"o/layout"}, true, true},
      {L"o/layout/a/layout", {L"o/res/x", L"o/layout"}, true, false},
      {L"o/layout/res", {L"o/layout/"}, true, false},
      {L"o/res/skin", {L"o/res/skin/layout"}, false, true},
      {L"o/layout2", {L"o/layout"}, false, false},
      {L"o/res", {}, false, false},
      {L"o/res", {L""}, false, false}};
  for (const auto& [path, consumed, isConsumed, holdsConsumed] : cases)
    EXPECT_EQ(std::pair(IsConsumed(path, consumed), HoldsConsumed(path, consumed)),
              std::pair(isConsumed, holdsConsumed))
        << path;
}

TEST(LayoutOutputs, TheModeDecidesWhatALayoutDirectoryLeaves) {
  using enum LayoutOutputs;
  const std::pair<const wchar_t*, LayoutOutputs> cases[] = {
      {L"", ArchiveAndContainer}, {L"-uip", ContainerOnly}, {L"-UIP", ContainerOnly},
      {L"-Uip", ContainerOnly},   {L"zip", ArchiveOnly},    {L"-uipx", ArchiveOnly},
      {L"uip", ArchiveOnly},      {L" ", ArchiveOnly}};
  for (const auto& [mode, outputs] : cases) EXPECT_EQ(LayoutOutputsFor(mode), outputs) << mode;
}

// Plain paths stay, others are quoted and archiver wildcards refused; only %s takes an argument,
// and only what fits is startable.
TEST(CommandLine, PathsAreQuotedOrRefusedAndCommandsStartableOnlyWhenTheyFit) {
  const std::wstring all = std::wstring(1, platform::kPathSeparator) + L"*";  // as 7-Zip reads it
  const std::tuple<std::wstring, bool, std::wstring> paths[] = {
      {L"C:\\o/AZaz09_-+~@/layout.zip", false, L"C:\\o/AZaz09_-+~@/layout.zip"},
      {L"/out/a&b;c$(d)'e f", false, L"\"/out/a&b;c$(d)'e f\""},
      {L"C:\\o\\c,d=e", false, L"\"C:\\o\\c,d=e\""},  // cmd.exe splits at , ; =
      {L"/o/a\"b", false, L"\"/o/a\\\"b\""},
      {L"C:\\my out\\", false, L"\"C:\\my out\\\\\""},  // the closing quote stays a quote
      {L"/o/a*b", false, L"/o/a*b"},                    // rm takes it literally
      {L"/o/layout" + all, true, L"/o/layout" + all},   // only the pattern's own final * is one
      {L"/o/a*b" + all, true, L"<refused>"},
      {L"/o/a?b.zip", true, L"<refused>"}};
  for (const auto& [path, archiver, quoted] : paths) {
    std::wstring out;
    EXPECT_EQ(QuotePathForCommandLine(path, archiver, &out) ? out : L"<refused>", quoted) << path;
  }

  // 511 characters fit in a buffer of 512, the terminating zero included; 512 do not.
  const std::wstring_view rd = templates::kRemoveDirectory;
  const std::wstring fits = L"/" + std::wstring(512 - rd.size(), L'b');
  const std::wstring over = fits + L"b";
  const std::pair<CommandBuffer, bool> commands[] = {
      {CommandBuffer(L"rd %d /s /q %s %", {PathArgument(L"/a")}), true},
      {CommandBuffer(rd, {PathArgument(fits)}), true},
      {CommandBuffer(rd, {PathArgument(over)}), false},
      {CommandBuffer(rd, {PathArgument(over)}, CommandBuffer::kCopyCapacity), true},
      {CommandBuffer(templates::kCompile, {ToolDirectoryArgument(L"")}), false},  // "/luac"
  };
  for (const auto& [command, startable] : commands) EXPECT_EQ(command.startable(), startable);
  EXPECT_EQ(commands[0].first.text(), L"rd %d /s /q /a %");
  EXPECT_NE(commands[2].first.text().find(over), std::wstring::npos);  // still shown whole
}

}  // namespace
}  // namespace uippack
