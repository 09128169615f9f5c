// The real uippack writes a record for each of the run's four failures, and none for an
// argument error. Every run has paths of its own, which is how its record is found in a log
// that other runs share.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "platform/log_services.h"
#include "platform/text.h"
#include "tests/test_support.h"

namespace uippack::logging {
namespace {

namespace fs = testing::fs;

// The machine-wide folder when this user may write there, else the run's temporary folder.
fs::path LogFileFor(const fs::path& tmp) {
  std::wstring folder;
  const fs::path base =
      platform::GetCommonAppDataFolder(&folder) ? fs::path(platform::WideToNarrow(folder)) : tmp;
  return base / "RUNTRAIL" / "RUNTRAIL_uippack.log";
}

TEST(LogDriverTest, EachFailureOfARunLeavesOneRecord) {
  enum Source { kEmpty, kPackage, kContainer };
  struct Case {
    const char* option;
    Source source;
    bool destinationInside;  // refused by the pipeline: the destination lies in the source
    std::string message;     // with <src> and <dst> for the paths
  };
  const Case cases[] = {
      {"-p", kEmpty, false,
       "No valid uip files found in path = <src>.\nA Valid UIP Path must include each of the "
       "following files:\n\t\t\t\t\t\t \t\t\t\t1.layout folder\n\t\t\t\t2.res folder\n"
       "\t\t\t\t3.nametable.cfg\n\t\t\t\t4.package.cfg\n"},
      {"-P", kPackage, true, "Pack error,source path = <src>, destination path = <dst>"},
      {"-u", kEmpty, false, "No valid uip files found in path = <src>."},
      {"-u", kContainer, true, "Unpack error,source path = <src>, destination path = <dst>"},
  };
  const std::regex prefix(
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\t\[uippack\]\t\[\d+\]\t\[\d+\]\t)"
      R"(\[0x00021078\]\t\[Thu May 20 15:07:02 2010\]\t)");

  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    testing::TempDir dir;
    const fs::path tmp = dir / "tmp";
    const fs::path source = dir / "source";
    const fs::path destination = c.destinationInside ? source / "out" : dir / "destination";
    testing::MakeDirs(tmp);
    testing::MakeDirs(source);
    if (c.source == kPackage) {
      for (const char* d : {"layout", "res"}) testing::MakeDirs(source / d);
      for (const char* f : {"nametable.cfg", "package.cfg"}) testing::WriteFile(source / f, "");
    } else if (c.source == kContainer) {
      testing::WriteFile(source / "layout.uip", "");
    }

    const auto run = testing::RunProcess(
        {(testing::BinDir() / "uippack").string(), c.option, source.string(), destination.string()},
        dir.path(), {"TMPDIR=" + tmp.string()});
    ASSERT_EQ(run.exitStatus, 255) << run.err;  // -1

    std::string message = c.message;
    message.replace(message.find("<src>"), 5, source.string());
    if (const auto at = message.find("<dst>"); at != std::string::npos) {
      message.replace(at, 5, destination.string());
    }
    const std::string content = testing::ReadFile(LogFileFor(tmp));
    const std::string needle = "\t" + message + "\r\n";
    const auto at = content.find(needle);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(content.find(needle, at + 1), std::string::npos);
    const auto lineEnd = content.rfind("\r\n", at);
    const auto start = lineEnd == std::string::npos ? 0 : lineEnd + 2;
    EXPECT_TRUE(std::regex_match(content.substr(start, at + 1 - start), prefix));

    // An unknown option is only printed, whatever the paths.
    const fs::path unlogged = dir / "unlogged";
    testing::RunProcess(
        {(testing::BinDir() / "uippack").string(), "-x", unlogged.string(), destination.string()},
        dir.path(), {"TMPDIR=" + tmp.string()});
    EXPECT_EQ(testing::ReadFile(LogFileFor(tmp)).find(unlogged.string()), std::string::npos);
  }
}

}  // namespace
}  // namespace uippack::logging
