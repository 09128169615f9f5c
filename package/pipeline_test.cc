// The pipeline steps' own logic, with the tools answered by a fake runner: which commands run in
// which order, what each outcome prints, and where a step stops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/package_builder.h"
#include "package/tool_runner.h"
#include "platform/path.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack {
namespace {

using testing::TempDir;

std::wstring Wide(const testing::fs::path& path) { return platform::NarrowToWide(path.string()); }
std::string Narrow(const std::wstring& text) { return platform::WideToNarrow(text); }
const std::wstring kSep(1, platform::kPathSeparator);

// Records every command; awaited ones answer with the queued outcomes, then Completed.
class FakeRunner final : public CommandRunner {
 public:
  RunOutcome Run(const std::wstring& commandLine) override {
    commands.push_back(L"run " + commandLine);
    if (outcomes.empty()) return RunOutcome::Completed;
    const RunOutcome outcome = outcomes.front();
    outcomes.erase(outcomes.begin());
    return outcome;
  }
  void Start(const std::string& narrowCommandLine) override {
    commands.push_back(L"start " + platform::NarrowToWide(narrowCommandLine));
  }
  // Command `index` is of `kind` ("run "/"start ") and holds needle.
  bool Ran(std::size_t index, std::wstring_view kind, std::wstring_view needle) const {
    return index < commands.size() && commands[index].rfind(kind, 0) == 0 &&
           commands[index].find(needle) != std::wstring::npos;
  }
  std::vector<std::wstring> commands;
  std::vector<RunOutcome> outcomes;
};

class PipelineTest : public ::testing::Test {
 protected:
  // Runs step and gives what it printed.
  template <typename Step>
  std::string Printed(Step step, int expected) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ((builder_.*step)(), expected);
    return ::testing::internal::GetCapturedStdout();
  }
  TempDir temp_;
  FakeRunner runner_;
  PackageBuilder builder_{runner_};
};

TEST_F(PipelineTest, CompileScriptsPrecompilesThenCompilesEachScript) {
  const std::wstring a = Wide(temp_ / "a.lua");
  const std::wstring b = Wide(temp_ / "b c.lua");
  builder_.scriptFiles = {a, b};
  const std::string out = Printed(&PackageBuilder::CompileScripts, 1);
  ASSERT_EQ(runner_.commands.size(), 4u);
  EXPECT_TRUE(runner_.Ran(0, L"run ", L"ScriptStager\" -i " + a + L" -o " + a));
  EXPECT_TRUE(runner_.Ran(1, L"run ", L"luac\" -o " + a + L" " + a));
  EXPECT_TRUE(runner_.Ran(3, L"run ", L" -o \"" + b + L"\" \"" + b + L"\""));
  EXPECT_EQ(out, "PreCompile " + Narrow(a) + " finished!\nCompile " + Narrow(a) +
                     " finished!\nPreCompile " + Narrow(b) + " finished!\nCompile " + Narrow(b) +
                     " finished!\nCompile all lua files finished!\n");
}

TEST_F(PipelineTest, ToolFailuresPrintTheirLineAndStopTheStep) {
  const std::wstring a = Wide(temp_ / "a.lua");
  builder_.scriptFiles = {a, Wide(temp_ / "b.lua")};
  runner_.outcomes = {RunOutcome::StartFailed};
  std::string out = Printed(&PackageBuilder::CompileScripts, 0);
  ASSERT_EQ(runner_.commands.size(), 1u);  // the script is never compiled, the next never started
  EXPECT_EQ(out, "PreCompile " + Narrow(a) + " failed, CreateProcess failed!,cmdline = " +
                     Narrow(runner_.commands[0].substr(4)) + "\n");

  runner_.commands.clear();
  runner_.outcomes = {RunOutcome::Completed, RunOutcome::WaitFailed};
  out = Printed(&PackageBuilder::CompileScripts, 0);
  EXPECT_EQ(runner_.commands.size(), 2u);
  EXPECT_EQ(out, "PreCompile " + Narrow(a) + " finished!\nCompile " + Narrow(a) +
                     " failed, WaitForSingleObject failed!\n");
}

TEST_F(PipelineTest, LayoutAndResourceDirectoriesAreArchivedThenRemoved) {
  const auto res = temp_ / "res";
  testing::MakeDirs(res / "images");
  testing::MakeDirs(res / ".svn");  // never a hidden subdirectory or a file
  testing::WriteFile(res / "loose.txt", "x");
  builder_.layoutDirs = {Wide(temp_ / "layout") + kSep};  // archived without the separator
  builder_.resourceDirs = {Wide(res)};
  builder_.modeOption = L"zip-only";  // no wrap: nothing is read from the (absent) archive
  const struct {
    int (PackageBuilder::*step)();
    std::wstring directory;
    const wchar_t* level;
    const char* closing;
  } steps[] = {{&PackageBuilder::CompressLayoutDirs, Wide(temp_ / "layout"), L"9", "layout"},
               {&PackageBuilder::CompressResourceDirs, Wide(res / "images"), L"0", "resource"}};
  for (const auto& [step, directory, level, closing] : steps) {
    runner_.commands.clear();
    EXPECT_EQ(Printed(step, 1), "Compress " + Narrow(directory) + " finished!\nCompress all " +
                                    closing + " directories finished!\n");
    ASSERT_EQ(runner_.commands.size(), 2u);
    EXPECT_TRUE(runner_.Ran(
        0, L"run ",
        L"  a -tzip " + directory + L".zip " + directory + kSep + L"* -r -mx=" + level));
    EXPECT_TRUE(runner_.Ran(1, L"start ", directory));
    EXPECT_EQ(runner_.commands[1].find(directory + kSep), std::wstring::npos);
  }
  // A resource directory that is gone by its turn stops the step without a line.
  builder_.resourceDirs = {Wide(temp_ / "gone")};
  EXPECT_EQ(Printed(&PackageBuilder::CompressResourceDirs, 0), "");
}

TEST_F(PipelineTest, ArchivesAreExtractedIntoTheirOwnDirectoryThenDeleted) {
  const std::wstring container = Wide(temp_ / "pkg/layout.uip");
  const std::wstring stem = Wide(temp_ / "pkg/layout");
  builder_.containerFiles = {container};
  EXPECT_EQ(Printed(&PackageBuilder::DecompressContainers, 1),
            "Decompress " + Narrow(stem) +
                ".zip finished!\nDecompress all resource zip files finished!\n");
  ASSERT_EQ(runner_.commands.size(), 3u);
  EXPECT_TRUE(runner_.Ran(0, L"run ", L"  x " + stem + L".zip -o" + stem + L" -y"));
  EXPECT_TRUE(runner_.Ran(1, L"start ", stem + L".zip"));
  EXPECT_TRUE(runner_.Ran(2, L"start ", container));

  // An archive with no directory of its own to go to is left alone; the step goes on.
  runner_.commands.clear();
  const auto res = temp_ / "res";
  testing::WriteFile(res / "file", "a file where the directory would go");
  testing::fs::create_directory_symlink(temp_.path(), res / "link");
  builder_.zipFiles = {Wide(res / "...zip"),   Wide(res / ".zip"),    Wide(res / "file.zip"),
                       Wide(res / "link.zip"), Wide(res / "a.b.zip"), Wide(res / "c.zip")};
  runner_.outcomes = {RunOutcome::StartFailed};
  const std::string out = Printed(&PackageBuilder::DecompressZipFiles, 0);
  ASSERT_EQ(runner_.commands.size(), 1u);
  EXPECT_TRUE(runner_.Ran(0, L"run ", L" -o" + Wide(res / "a.b") + L" -y"));
  EXPECT_EQ(out.rfind("Decompress " + Narrow(Wide(res / "a.b.zip")) +
                          " failed, CreateProcess failed!,cmdline = ",
                      0),
            0u);
}

TEST_F(PipelineTest, OverlappingTreesAreRefusedBeforeAnythingRuns) {
  const auto source = temp_ / "pkg";
  testing::MakeDirs(source);
  for (const auto& destination : {source, source / "out", temp_.path()}) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(builder_.PackAll(Wide(source), Wide(destination)), 0);
    EXPECT_EQ(builder_.UnpackAll(Wide(source), Wide(destination)), 0);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Refused: destination path = "), std::string::npos) << destination;
  }
  EXPECT_TRUE(runner_.commands.empty());
  EXPECT_EQ(testing::fs::directory_iterator(source), testing::fs::directory_iterator());
  // A sibling whose name merely starts like the source is a separate tree: it is copied.
  ::testing::internal::CaptureStdout();
  builder_.PackAll(Wide(source), Wide(temp_ / "pkg2"));
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(testing::fs::is_directory(temp_ / "pkg2"));
}

TEST(LayoutOutputs, TheModeDecidesWhatALayoutDirectoryLeaves) {
  EXPECT_EQ(LayoutOutputsFor(L""), LayoutOutputs::ArchiveAndContainer);
  for (const wchar_t* uip : {L"-uip", L"-UIP", L"-Uip"}) {
    EXPECT_EQ(LayoutOutputsFor(uip), LayoutOutputs::ContainerOnly);
  }
  for (const wchar_t* other : {L"zip", L"-uipx", L"uip", L" "}) {
    EXPECT_EQ(LayoutOutputsFor(other), LayoutOutputs::ArchiveOnly);
  }
}

}  // namespace
}  // namespace uippack
