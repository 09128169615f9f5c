// uipcheck against trees packed by the real uippack, ScriptStager, luac and 7-Zip.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "package/package_builder.h"
#include "platform/text.h"
#include "tests/package_fixture.h"

namespace uippack::testing {
namespace {

ProcessResult Uipcheck(std::vector<std::string> arguments, const fs::path& cwd) {
  arguments.insert(arguments.begin(), (BinDir() / "uipcheck").string());
  return RunProcess(arguments, cwd);
}

void Pack(const fs::path& temp, const std::vector<std::string>& mode) {
  std::vector<std::string> arguments = {"-p", "pkg", "out"};
  arguments.insert(arguments.end(), mode.begin(), mode.end());
  ASSERT_EQ(Uippack(arguments, temp).exitStatus, 0);
  ASSERT_TRUE(WaitForRemovals(temp / "out"));
}

void Run7z(const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {(BinDir() / "7z").string()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  ASSERT_EQ(RunProcess(command).exitStatus, 0);
}

TEST(Uipcheck, TellsAPackFromEveryKindOfDifferenceByPath) {
  using Step = std::function<void(const fs::path&)>;
  const Step nothing = [](const fs::path&) {};
  // Incompressible, so the layout archive spans several cycles of the container's block keys
  // (at most 960 KiB each), which a streamed read must get right at every boundary.
  const Step addNoise = [](const fs::path& t) {
    std::string noise(2500000, '\0');
    std::uint32_t state = 12345;
    for (char& byte : noise) byte = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    WriteFile(t / "pkg/layout/images/noise.png", noise);
  };
  struct Case {
    const char* name;
    std::vector<std::string> mode;
    Step beforePack;
    Step afterPack;
    std::vector<std::string> arguments;
    int exitStatus;
    const char* line;  // a regular expression one line of the output must match
  };
  const std::vector<std::string> both = {"pkg", "out"};
  const std::vector<Case> cases = {
      {"clean, both outputs", {}, addNoise, nothing, both, 0, "^uipcheck: out is the pack of pkg "},
      {"clean, container only", {"-uip"}, addNoise, nothing, both, 0, "is the pack of pkg"},
      {"clean, archive only", {"zip"}, nothing, nothing, both, 0, "is the pack of pkg"},
      {"clean, destination alone",
       {},
       nothing,
       nothing,
       {"out"},
       0,
       "^uipcheck: out is consistent"},
      {"rejected script shipped as source",
       {},
       [](const fs::path& t) { WriteFile(t / "pkg/layout/broken.lua", "local = = 1\n"); },
       nothing,
       both,
       1,
       "^out/layout.zip:broken.lua: expected Lua 5.4 bytecode, found .*not bytecode"},
      {"rejected script inside the container",
       {"-uip"},
       [](const fs::path& t) { WriteFile(t / "pkg/layout/broken.lua", "local = = 1\n"); },
       nothing,
       {"out"},
       1,
       "^out/layout.uip:broken.lua: expected Lua 5.4 bytecode"},
      {"resource archive missing a file",
       {},
       nothing,
       [](const fs::path& t) {
         Run7z({"d", (t / "out/res/images.zip").string(), "icons/b.png"});
       },
       both,
       1,
       "^out/res/images.zip:icons/b.png: expected a file \\(from pkg/res/images/icons/"},
      {"stale file after repacking into the old destination",
       {},
       nothing,
       [](const fs::path& t) {
         fs::remove(t / "pkg/res/images/a.png");
         Pack(t, {});
       },
       both,
       1,
       "^out/res/images.zip:a.png: expected nothing, found file"},
      {"truncated container",
       {},
       nothing,
       [](const fs::path& t) {
         fs::resize_file(t / "out/layout.uip", fs::file_size(t / "out/layout.uip") - 10);
       },
       {"out"},
       1,
       "^out/layout.uip: expected the checksum 0x[0-9A-F]{8} its header declares, found "
       "0x[0-9A-F]{8} .*10 bytes shorter than its header says"},
      {"container that wraps another archive",
       {},
       nothing,
       [](const fs::path& t) {
         fs::copy_file(t / "out/res/strings.zip", t / "other.zip");
         PackageBuilder builder;
         ASSERT_EQ(builder.WrapZipToContainer(platform::NarrowToWide((t / "other.zip").string())),
                   1);
         fs::copy_file(t / "other.uip", t / "out/layout.uip", fs::copy_options::overwrite_existing);
       },
       both,
       1,
       "^out/layout.uip: expected the wrap of out/layout.zip"},
      {"leftover layout directory",
       {},
       nothing,
       [](const fs::path& t) { WriteFile(t / "out/layout/main.lua", "print(1)\n"); },
       both,
       1,
       "^out/layout: expected nothing \\(packed into layout.uip or layout.zip\\), found directory"},
      {"extra file",
       {},
       nothing,
       [](const fs::path& t) { WriteFile(t / "out/extra.txt", "x"); },
       both,
       1,
       "^out/extra.txt: expected nothing, found file"},
      {"extra file, as JSON",
       {},
       nothing,
       [](const fs::path& t) { WriteFile(t / "out/extra.txt", "x"); },
       {"--json", "pkg", "out"},
       1,
       "^\\{\"source\":\"pkg\",\"destination\":\"out\",\"verdict\":\"differ\",\"differences\":"
       "\\[\\{\"path\":\"out/extra.txt\",\"expected\":\"nothing\",\"found\":\"file.*\"checked\":"
       "\\{\"files\":[1-9][0-9]*,\"archives\":[1-9]"},
      {"container without its magic",
       {},
       nothing,
       [](const fs::path& t) {
         std::string bytes = ReadFile(t / "out/layout.uip");
         bytes[0] = 'X';
         WriteFile(t / "out/layout.uip", bytes);
       },
       both,
       1,
       "^out/layout.uip: expected a container \\(the magic QMARCHIVE\\), found other bytes"},
      {"a FIFO is reported, never waited on",
       {},
       nothing,
       [](const fs::path& t) { ASSERT_EQ(mkfifo((t / "out/res/pipe").c_str(), 0600), 0); },
       both,
       1,
       "^out/res/pipe: expected nothing, found special file"},
      {"source that is no package", {}, nothing, nothing, {"out", "pkg"}, 2, "not a package"},
      {"bad usage", {}, nothing, nothing, {"--bogus", "out"}, 2, "^usage: uipcheck"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir temp;
    MakePackage(temp / "pkg");
    WriteFile(temp / "pkg/.svn/hidden.lua", "not compiled\n");  // hidden: copied as it is
    WriteFile(temp / "pkg/res/images/\xE4\xB8\xAD b.txt", "named in UTF-8");
    MakeDirs(temp / "pkg/res/empty");  // an archive without entries
    c.beforePack(temp.path());
    Pack(temp.path(), c.mode);
    c.afterPack(temp.path());
    const ProcessResult result = Uipcheck(c.arguments, temp.path());
    EXPECT_EQ(result.exitStatus, c.exitStatus) << result.out << result.err;
    EXPECT_TRUE(
        std::regex_search(result.out + result.err, std::regex(c.line, std::regex::multiline)))
        << result.out << result.err;
  }
}

}  // namespace
}  // namespace uippack::testing
