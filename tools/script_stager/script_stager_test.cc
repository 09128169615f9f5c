#include "tools/script_stager/script_stager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace uippack::script_stager {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

using uippack::testing::BinDir;
using uippack::testing::ReadFile;
using uippack::testing::RunProcess;
using uippack::testing::TempDir;
using uippack::testing::WriteFile;

std::string Stage(std::string_view script, const SymbolSet& symbols) {
  const StageResult result = StageScript(script, symbols);
  EXPECT_FALSE(result.error) << result.error->line << ": " << result.error->message;
  return result.text;
}

TEST(ParseConfigTest, ReadsNamesAndSkipsCommentsAndBlankLines) {
  const ConfigResult config = ParseConfig(
      "\xEF\xBB\xBF# build flags\r\nDEBUG\r\n\r\n  LEVEL = 3 \r\n\t# off: FAST\nOFF=0\n");
  EXPECT_FALSE(config.error);
  EXPECT_EQ(config.symbols, (SymbolSet{"DEBUG", "LEVEL", "OFF"}));
}

TEST(ParseConfigTest, RejectsBadNamesWithTheirLine) {
  const ConfigResult trailingComment = ParseConfig("A\nDEBUG # on\n");
  ASSERT_TRUE(trailingComment.error);
  EXPECT_EQ(trailingComment.error->line, 2u);
  const ConfigResult missingName = ParseConfig("\n\n =1\n");
  ASSERT_TRUE(missingName.error);
  EXPECT_EQ(missingName.error->line, 3u);
}

TEST(StageScriptTest, KeepsTheTakenBranchAndEmptiesEverythingElse) {
  const std::string script =
      "a\n--#if ON\nb\n--#else\nc\n--#endif\n  --#if OFF -- note\nd\n\t--#else\ne\n--#endif\nf";
  EXPECT_EQ(Stage(script, {"ON"}), "a\n\nb\n\n\n\n\n\n\ne\n\nf");
}

TEST(StageScriptTest, NestedBranchesInsideADroppedOneStayDropped) {
  const std::string script =
      "--#if OFF\n--#if ON\nx\n--#else\ny\n--#endif\n--#else\n--#if ON\nz\n--#endif\n--#endif\n";
  EXPECT_EQ(Stage(script, {"ON"}), "\n\n\n\n\n\n\n\nz\n\n\n");
}

TEST(StageScriptTest, KeepsEachLineEndingAsLuaCountsLines) {
  // CR LF, lone CR, LF CR and LF each end one line; an emptied line keeps its own ending.
  const std::string script = "--#if OFF\r\nx\ry\n\rz\n--#endif\r\n\nkeep\r\n";
  EXPECT_EQ(Stage(script, {}), "\r\n\r\n\r\n\r\n\nkeep\r\n");
  EXPECT_EQ(StageScript(script + "--#endif", {}).error->line, 8u);
  EXPECT_EQ(Stage("x\r--#if OFF\ry\r--#endif\rz", {}), "x\r\r\r\rz");
}

TEST(StageScriptTest, PassesOtherBytesThrough) {
  const std::string bom = "\xEF\xBB\xBF";
  EXPECT_EQ(Stage(bom + "--#if OFF\nx\n--#endif", {}), bom + "\n\n");
  const std::string untouched = "--#### banner\n-- #if X\ns = '\xE4\xFF\\0'\n#!odd";
  EXPECT_EQ(Stage(untouched, {}), untouched);
  const std::string bytecode = "\x1BLua\x54\x00\n--#endif\n--#if\n"s;
  EXPECT_EQ(Stage(bytecode, {}), bytecode);
}

TEST(StageScriptTest, ReportsMalformedDirectivesWithTheirLine) {
  struct Case {
    std::string script;
    std::size_t line;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"x\n--#endif\n", 2, "--#endif without --#if"},
      {"--#else\n", 1, "--#else without --#if"},
      {"--#if A\n--#else\n--#else\n--#endif\n", 3, "second --#else for the --#if on line 1"},
      {"--#if A\n--#if B\n--#endif\n", 1, "--#if without --#endif"},
      {"--#if A\n--#endif\n--#if B\n", 3, "--#if without --#endif"},
      {"\n--#if   \n--#endif\n", 2, "--#if without a name"},
      {"--#if !A\n--#endif\n", 1, "invalid name \"!A\" in --#if (use A-Z a-z 0-9 _)"},
      {"--#if A B\n--#endif\n", 1, "unexpected text after --#if A"},
      {"--#if A\n--#elif B\n--#endif\n", 2, "unknown directive --#elif"},
      {"--#if A\n--#endif A\n", 2, "unexpected text after --#endif"},
  };
  for (const Case& c : cases) {
    const StageResult result = StageScript(c.script, {"A"});
    ASSERT_TRUE(result.error) << c.script;
    EXPECT_EQ(result.error->line, c.line) << c.script;
    EXPECT_EQ(result.error->message, c.message) << c.script;
  }
}

// The built tool, run as uippack runs it: config named bare, resolved in the working directory.
class ScriptStagerProcessTest : public ::testing::Test {
 protected:
  testing::ProcessResult Stager(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {(BinDir() / "ScriptStager").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, dir_.path());
  }
  TempDir dir_;
};

TEST_F(ScriptStagerProcessTest, RewritesInPlaceWithTheConfigFromTheWorkingDirectory) {
  WriteFile(dir_ / "PreCompile.txt", "# flags\nDEBUG=1\n");
  const std::string script = (dir_ / "a b" / "main.lua").string();
  WriteFile(script, "--#if DEBUG\r\nprint(1)\r\n--#else\r\nprint(2)\r\n--#endif\r\n");
  const auto result = Stager({"-i", script, "-o", script, "-c", "PreCompile.txt"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(ReadFile(script), "\r\nprint(1)\r\n\r\n\r\n\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "a b"), {}), 1);  // no temporary left
}

TEST_F(ScriptStagerProcessTest, MissingConfigDefinesNothingAndAbsoluteConfigWorks) {
  WriteFile(dir_ / "in.lua", "--#if DEBUG\nprint(1)\n--#endif\n");
  auto result = Stager({"-c", "absent.txt", "-i", "in.lua", "-o", "out.lua"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(ReadFile(dir_ / "out.lua"), "\n\n\n");

  TempDir elsewhere;
  WriteFile(elsewhere / "flags.txt", "DEBUG\n");
  result = Stager({"-i", "in.lua", "-o", "out.lua", "-c", (elsewhere / "flags.txt").string()});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(ReadFile(dir_ / "out.lua"), "\nprint(1)\n\n");
}

TEST_F(ScriptStagerProcessTest, ErrorsLeaveTheOutputUntouched) {
  WriteFile(dir_ / "bad.lua", "x\n--#endif\n");
  WriteFile(dir_ / "out.lua", "old");
  auto result = Stager({"-i", "bad.lua", "-o", "out.lua", "-c", "PreCompile.txt"});
  EXPECT_NE(result.exitStatus, 0);
  EXPECT_EQ(result.err, "ScriptStager: bad.lua:2: --#endif without --#if\n");
  EXPECT_EQ(ReadFile(dir_ / "out.lua"), "old");
  result = Stager({"-i", "bad.lua", "-o", "new.lua", "-c", "PreCompile.txt"});
  EXPECT_NE(result.exitStatus, 0);
  EXPECT_FALSE(fs::exists(dir_ / "new.lua"));

  WriteFile(dir_ / "good.lua", "x\n");
  WriteFile(dir_ / "PreCompile.txt", "ok\nnot ok\n");
  result = Stager({"-i", "good.lua", "-o", "out.lua", "-c", "PreCompile.txt"});
  EXPECT_NE(result.exitStatus, 0);
  EXPECT_NE(result.err.find("PreCompile.txt:2: invalid name \"not ok\""), std::string::npos);
  EXPECT_EQ(ReadFile(dir_ / "out.lua"), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), {}), 4);  // no temporary left
}

TEST_F(ScriptStagerProcessTest, RejectsABadCommandLineWithUsage) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"-i", "a.lua", "-o", "a.lua"},
           {"-i", "a.lua", "-o", "a.lua", "-c"},
           {"-i", "a.lua", "-i", "a.lua", "-o", "a.lua", "-c", "c"},
           {"-i", "a.lua", "-o", "a.lua", "-c", "c", "-x", "y"},
       }) {
    const auto result = Stager(args);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.err.find("usage: ScriptStager -i INPUT -o OUTPUT -c CONFIG"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace uippack::script_stager
