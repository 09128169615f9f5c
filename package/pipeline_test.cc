// The pipeline steps' own logic, with the tools answered by a fake: which commands run in which
// order, what each outcome prints, and where a step stops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/package_builder.h"
#include "package/tool_runner.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack {
namespace {

using testing::TempDir;

std::wstring Wide(const testing::fs::path& path) { return platform::NarrowToWide(path.string()); }
const std::wstring kSep(1, platform::kPathSeparator);

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hooks_.run = [this](const std::wstring& line) {
      commands_.push_back(L"run " + line);
      return outcomes_.empty() ? RunOutcome::Completed : Next();
    };
    hooks_.start = [this](const std::string& line) {
      commands_.push_back(L"start " + platform::NarrowToWide(line));
    };
    SetCommandHooksForTesting(&hooks_);
    ResetFoundMarkersForTesting();
  }
  void TearDown() override { SetCommandHooksForTesting(nullptr); }

  RunOutcome Next() {
    const RunOutcome outcome = outcomes_.front();
    outcomes_.erase(outcomes_.begin());
    return outcome;
  }
  // Commands recorded so far, each reduced to its first word after "run"/"start" and whether
  // it names path.
  bool Ran(std::size_t index, std::wstring_view kind, std::wstring_view needle) const {
    return index < commands_.size() && commands_[index].rfind(kind, 0) == 0 &&
           commands_[index].find(needle) != std::wstring::npos;
  }

  CommandHooks hooks_;
  std::vector<std::wstring> commands_;
  std::vector<RunOutcome> outcomes_;
  TempDir temp_;
  PackageBuilder builder_;
};

TEST_F(PipelineTest, CompileScriptsPrecompilesThenCompilesEachScript) {
  const std::wstring a = Wide(temp_ / "a.lua");
  const std::wstring b = Wide(temp_ / "b c.lua");
  builder_.scriptFiles = {a, b};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(builder_.CompileScripts(), 1);
  const std::string out = ::testing::internal::GetCapturedStdout();

  ASSERT_EQ(commands_.size(), 4u);
  EXPECT_TRUE(Ran(0, L"run ", L"ScriptStager"));
  EXPECT_TRUE(Ran(0, L"run ", L" -i " + a + L" -o " + a + L" -c PreCompile.txt"));
  EXPECT_TRUE(Ran(1, L"run ", L"luac"));
  EXPECT_TRUE(Ran(1, L"run ", L" -o " + a + L" " + a));
  EXPECT_TRUE(Ran(3, L"run ", L" -o \"" + b + L"\" \"" + b + L"\""));
  const std::string na = platform::WideToNarrow(a);
  const std::string nb = platform::WideToNarrow(b);
  EXPECT_EQ(out, "PreCompile " + na + " finished!\nCompile " + na + " finished!\nPreCompile " + nb +
                     " finished!\nCompile " + nb + " finished!\nCompile all lua files finished!\n");
}

TEST_F(PipelineTest, ToolFailuresPrintTheirLineAndStopTheStep) {
  const std::wstring a = Wide(temp_ / "a.lua");
  builder_.scriptFiles = {a, Wide(temp_ / "b.lua")};

  outcomes_ = {RunOutcome::StartFailed};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(builder_.CompileScripts(), 0);
  std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(commands_.size(), 1u);  // the script is never compiled, the next never started
  const std::string line = platform::WideToNarrow(commands_[0].substr(4));
  EXPECT_EQ(out, "PreCompile " + platform::WideToNarrow(a) +
                     " failed, CreateProcess failed!,cmdline = " + line + "\n");

  commands_.clear();
  outcomes_ = {RunOutcome::Completed, RunOutcome::WaitFailed};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(builder_.CompileScripts(), 0);
  out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(commands_.size(), 2u);
  EXPECT_EQ(out, "PreCompile " + platform::WideToNarrow(a) + " finished!\nCompile " +
                     platform::WideToNarrow(a) + " failed, WaitForSingleObject failed!\n");
}

TEST_F(PipelineTest, EmptyListsPrintOnlyTheClosingLines) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(builder_.CompileScripts(), 1);
  EXPECT_EQ(builder_.CompressLayoutDirs(), 1);
  EXPECT_EQ(builder_.CompressResourceDirs(), 1);
  EXPECT_EQ(builder_.DecompressContainers(), 1);
  EXPECT_EQ(builder_.DecompressZipFiles(), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Compile all lua files finished!\nCompress all layout directories finished!\n"
            "Compress all resource directories finished!\n"
            "Decompress all resource zip files finished!\n"
            "Decompress all resource zip files finished!\n");
  EXPECT_TRUE(commands_.empty());
}

TEST_F(PipelineTest, LayoutDirectoryIsArchivedThenRemovedWithoutItsTrailingSeparator) {
  const std::wstring layout = Wide(temp_ / "layout");
  builder_.layoutDirs = {layout + kSep};
  builder_.modeOption = L"zip-only";  // no wrap: nothing is read from the (absent) archive
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(builder_.CompressLayoutDirs(), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Compress " + platform::WideToNarrow(layout) +
                " finished!\nCompress all layout directories finished!\n");
  ASSERT_EQ(commands_.size(), 2u);
  EXPECT_TRUE(Ran(0, L"run ", L"  a -tzip " + layout + L".zip " + layout + kSep + L"* -r -mx=9"));
  EXPECT_TRUE(Ran(1, L"start ", layout));
  EXPECT_EQ(commands_[1].find(layout + kSep), std::wstring::npos);
}

TEST_F(PipelineTest, ResourceSubdirectoriesButNotFilesOrHiddenOnes) {
  const auto res = temp_ / "res";
  testing::MakeDirs(res / "images");
  testing::MakeDirs(res / ".svn");
  testing::WriteFile(res / "loose.txt", "x");
  builder_.resourceDirs = {Wide(res)};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(builder_.CompressResourceDirs(), 1);
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::wstring images = Wide(res / "images");
  ASSERT_EQ(commands_.size(), 2u);
  EXPECT_TRUE(Ran(0, L"run ", L"  a -tzip " + images + L".zip " + images + kSep + L"* -r -mx=0"));
  EXPECT_TRUE(Ran(1, L"start ", images));
  EXPECT_EQ(out, "Compress " + platform::WideToNarrow(images) +
                     " finished!\nCompress all resource directories finished!\n");

  // A resource directory that is gone by its turn stops the step without a line.
  commands_.clear();
  builder_.resourceDirs = {Wide(temp_ / "gone")};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(builder_.CompressResourceDirs(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(PipelineTest, ContainersAreExtractedThenArchiveAndContainerDeleted) {
  const std::wstring container = Wide(temp_ / "pkg/layout.uip");
  const std::wstring stem = Wide(temp_ / "pkg/layout");
  builder_.containerFiles = {container};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(builder_.DecompressContainers(), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Decompress " + platform::WideToNarrow(stem) +
                ".zip finished!\nDecompress all resource zip files finished!\n");
  ASSERT_EQ(commands_.size(), 3u);
  EXPECT_TRUE(Ran(0, L"run ", L"  x " + stem + L".zip -o" + stem + L" -y"));
  EXPECT_TRUE(Ran(1, L"start ", stem + L".zip"));
  EXPECT_TRUE(Ran(2, L"start ", container));
}

TEST_F(PipelineTest, ExtractionStartFailureNamesTheArchive) {
  const std::wstring archive = Wide(temp_ / "res/a.b.zip");
  builder_.zipFiles = {archive, Wide(temp_ / "res/c.zip")};
  outcomes_ = {RunOutcome::StartFailed};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(builder_.DecompressZipFiles(), 0);
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(commands_.size(), 1u);
  EXPECT_TRUE(Ran(0, L"run ", L" -o" + Wide(temp_ / "res/a.b") + L" -y"));
  EXPECT_EQ(out.rfind("Decompress " + platform::WideToNarrow(archive) +
                          " failed, CreateProcess failed!,cmdline = ",
                      0),
            0u);
}

TEST_F(PipelineTest, OverlappingTreesAreRefusedBeforeAnythingRuns) {
  const auto source = temp_ / "pkg";
  testing::MakeDirs(source);
  for (const auto& destination : {source, source / "out", temp_.path()}) {
    commands_.clear();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(builder_.PackAll(Wide(source), Wide(destination)), 0);
    EXPECT_EQ(builder_.UnpackAll(Wide(source), Wide(destination)), 0);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(commands_.empty()) << destination;
    EXPECT_NE(out.find("Refused: destination path = "), std::string::npos);
  }
  // A sibling whose name merely starts like the source is a separate tree: it is copied.
  ::testing::internal::CaptureStdout();
  builder_.PackAll(Wide(source), Wide(temp_ / "pkg2"));
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(testing::fs::is_directory(temp_ / "pkg2"));
}

}  // namespace
}  // namespace uippack
