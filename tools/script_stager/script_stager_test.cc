// ScriptStager: the configuration and the directives on bytes, and the built tool run as uippack
// runs it (the configuration named bare, found in the working directory).
#include "tools/script_stager/script_stager.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace uippack::script_stager {
namespace {

// The staged text, or "!LINE: message" for the first error.
std::string Staged(const std::string& script) {
  std::string staged = "left from before";
  TextError error;
  if (StageScript(script, {"A"}, &staged, &error)) return staged;
  return "!" + std::to_string(error.line) + ": " + error.message;
}

// Dropped and directive lines become empty and keep their own endings, as Lua counts lines (CR
// LF, CR, LF CR and LF each end one), so errors and Lua name the right line. Everything else
// passes byte for byte, bytecode whole.
TEST(ScriptStagerTest, KeepsLineNumbersAndEveryOtherByte) {
  const std::string bom = "\xEF\xBB\xBF", other = "--#### x\n-- #if X\ns = '\xE4\xFF\\0'\n#!odd";
  const std::string bytecode("\x1BLua\x54\x00\n--#endif\n--#if\n", 22);  // with its NUL
  const std::string cases[][2] = {
      {"--#if B\n--#if A\nx\n--#endif\n--#else\nz\n--#endif", "\n\n\n\n\nz\n"},  // nested
      {"--#if B\r\nx\ry\n\rz\n--#endif\r\n\nkeep\r\n", "\r\n\r\n\r\n\r\n\nkeep\r\n"},
      {bom + "  --#if B -- note\nx\n\t--#endif\n" + other, bom + "\n\n\n" + other},
      {bytecode, bytecode},
      {"a\r\nb\rc\n\rd\n\ne\n--#endif\n", "!7: --#endif without --#if"},
      {"--#else\n", "!1: --#else without --#if"},
      {"--#if A\n--#else\n--#else\n--#endif\n", "!3: second --#else for the --#if on line 1"},
      {"--#if A\n--#if B\n--#endif\n", "!1: --#if without --#endif"},
      {"\n--#if   \n--#endif\n", "!2: --#if without a name"},
      {"--#if az_AZ09\n--#endif\n", "\n\n"},  // every end of every range a name may hold
      {"--#if !A\n--#endif\n", "!1: invalid name \"!A\" in --#if (use A-Z a-z 0-9 _)"},
      {"--#if A B\n--#endif\n", "!1: unexpected text after --#if A"},
      {"--#if A\n--#elif B\n--#endif\n", "!2: unknown directive --#elif"},
      {"--#if A\n--#endif A\n", "!2: unexpected text after --#endif"}};
  for (const auto& [script, expected] : cases) EXPECT_EQ(Staged(script), expected) << script;
}

// In place, with the configuration from the working directory (a BOM, CR LF, comments, blanks
// and a value are fine) or none; an error, a full disk included, exits with 1 and leaves OUT as
// it was; a bad command line exits with 2, help with 0. No temporary file is left.
TEST(ScriptStagerTest, TheToolAsUippackRunsIt) {
  using namespace testing;
  TempDir dir;
  // The exit status and what the tool wrote to standard error. Files stop at 512 bytes (ulimit
  // -f 1): a longer output meets a full disk.
  const auto stager = [&, tool = (BinDir() / "ScriptStager").string()](const std::string& line) {
    const auto run = RunProcess(
        {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" " + line, tool}, dir.path());
    return std::to_string(run.exitStatus) + " " + run.err;
  };
  WriteFile(dir / "a.lua", "--#if DEBUG\r\n1\r\n--#else\r\n2\r\n--#endif\r\n");
  EXPECT_EQ(stager("-i a.lua -o o.lua -c PreCompile.txt"), "0 ");  // o.lua: checked below
  WriteFile(dir / "PreCompile.txt", "\xEF\xBB\xBF# X\r\n\r\n  DEBUG = 0 \r\n");
  fs::permissions(dir / "a.lua", fs::perms(0751));  // kept by the rewrite
  EXPECT_EQ(stager("-i a.lua -o a.lua -c PreCompile.txt"), "0 ");
  EXPECT_EQ(ReadFile(dir / "a.lua"), "\r\n1\r\n\r\n\r\n\r\n");
  EXPECT_EQ(fs::status(dir / "a.lua").permissions(), fs::perms(0751));

  WriteFile(dir / "b", "x\n--#endif\n");
  WriteFile(dir / "big.lua", std::string(2000, 'x') + "\n");
  WriteFile(dir / "c", "ok\nD #\n");  // the configuration is read first
  EXPECT_EQ(stager("-i b -o o.lua -c none"), "1 ScriptStager: b:2: --#endif without --#if\n");
  // Each line's exit status and the start of what it says: what cannot be read, made or replaced
  // fails with its cause. A script with nothing to stage is left alone in place.
  const std::pair<const char*, const char*> runs[] = {
      {"-i big.lua -o o.lua -c none", "1 "},
      {"-i b -o o.lua -c c", "1 ScriptStager: c:2: invalid name \"D #"},
      {"-i . -o o.lua -c none", "1 ScriptStager: cannot read .: it is a directory"},
      {"-i no -o o.lua -c none", "1 ScriptStager: cannot read no: No such file"},
      {"-i a.lua -o no/o.lua -c none", "1 ScriptStager: cannot create no/"},
      {"-i a.lua -o . -c none", "1 ScriptStager: cannot replace .: "},
      {"-i a -o '' -c c", "2 ScriptStager: missing value after -o"},
      {"-i a -o a", "2 ScriptStager: -i, -o and -c are all required\nusage: "}};
  for (const auto& [line, says] : runs) EXPECT_TRUE(stager(line).starts_with(says)) << line;
  for (const char* line : {"-i o.lua -o o.lua -c none", "-h", "--help"})
    EXPECT_EQ(stager(line), "0 ") << line;
  for (const char* line : {"", "-o a -c c", "-i a -o a -c", "-i a -i a -o a -c c", "-c c -x y"})
    EXPECT_TRUE(stager(line).starts_with("2 ScriptStager: ")) << line;
  EXPECT_EQ(ReadFile(dir / "o.lua"), "\r\n\r\n\r\n2\r\n\r\n");
  EXPECT_EQ(TreeListing(dir.path()).size(), 6u);  // no temporary, no new file
}

}  // namespace
}  // namespace uippack::script_stager
