// The real uippack writes a record for each of the run's four failures, and none for an
// argument error. Each run uses paths of its own, which is how its records are found in a log
// that other runs share.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "log/log_record.h"
#include "platform/platform.h"
#include "tests/test_support.h"

namespace uippack::logging {
namespace {

namespace fs = testing::fs;

class LogDriverTest : public ::testing::Test {
 protected:
  // Where uippack's log lands: the machine-wide folder when it may be written, else the
  // temporary folder the run is given.
  fs::path LogFile() const {
    std::wstring folder;
    const fs::path base =
        platform::GetCommonAppDataFolder(&folder) ? fs::path(platform::WideToNarrow(folder)) : tmp_;
    return base / "RUNTRAIL" / "RUNTRAIL_uippack.log";
  }

  int Run(const std::string& option, const fs::path& source, const fs::path& destination) {
    const auto result = testing::RunProcess(
        {(testing::BinDir() / "uippack").string(), option, source.string(), destination.string()},
        dir_.path(), {"TMPDIR=" + tmp_.string()});
    return result.exitStatus;
  }

  std::string LogContent() const {
    return fs::exists(LogFile()) ? testing::ReadFile(LogFile()) : std::string();
  }

  // The one record whose message is exactly `message`, with a well-formed prefix.
  void ExpectOneRecord(const std::string& message) const {
    const std::string content = LogContent();
    const std::string needle = "\t" + message + "\r\n";
    const auto at = content.find(needle);
    ASSERT_NE(at, std::string::npos) << "no record: " << message;
    EXPECT_EQ(content.find(needle, at + 1), std::string::npos) << "two records: " << message;
    const auto lineEnd = content.rfind("\r\n", at);
    const auto start = lineEnd == std::string::npos ? 0 : lineEnd + 2;
    const std::string prefix = content.substr(start, at + 1 - start);
    static const std::regex kPrefix(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\t\[uippack\]\t\[\d+\]\t\[\d+\]\t)"
        R"(\[0x00021078\]\t\[Thu May 20 15:07:02 2010\]\t)");
    EXPECT_TRUE(std::regex_match(prefix, kPrefix)) << prefix;
  }

  void MakePackage(const fs::path& root) const {
    testing::MakeDirs(root / "layout");
    testing::MakeDirs(root / "res");
    testing::WriteFile(root / "nametable.cfg", "");
    testing::WriteFile(root / "package.cfg", "");
  }

  testing::TempDir dir_;
  fs::path tmp_ = dir_ / "tmp";
  fs::path source_ = dir_ / "source";
  fs::path destination_ = dir_ / "destination";

  void SetUp() override {
    testing::MakeDirs(tmp_);
    testing::MakeDirs(source_);
  }
};

constexpr int kFailure = 255;  // -1 as the shell sees it

TEST_F(LogDriverTest, RejectedPackSource) {
  ASSERT_EQ(Run("-p", source_, destination_), kFailure);
  ExpectOneRecord("No valid uip files found in path = " + source_.string() +
                  ".\nA Valid UIP Path must include each of the following files:\n"
                  "\t\t\t\t\t\t \t\t\t\t1.layout folder\n\t\t\t\t2.res folder\n"
                  "\t\t\t\t3.nametable.cfg\n\t\t\t\t4.package.cfg\n");
}

TEST_F(LogDriverTest, FailedPackPipeline) {
  MakePackage(source_);
  const fs::path inside = source_ / "out";  // refused: the destination lies in the source
  ASSERT_EQ(Run("-P", source_, inside), kFailure);
  ExpectOneRecord("Pack error,source path = " + source_.string() +
                  ", destination path = " + inside.string());
}

TEST_F(LogDriverTest, RejectedUnpackSource) {
  ASSERT_EQ(Run("-u", source_, destination_), kFailure);
  ExpectOneRecord("No valid uip files found in path = " + source_.string() + ".");
}

TEST_F(LogDriverTest, FailedUnpackPipeline) {
  testing::WriteFile(source_ / "layout.uip", "");
  const fs::path inside = source_ / "out";
  ASSERT_EQ(Run("-u", source_, inside), kFailure);
  ExpectOneRecord("Unpack error,source path = " + source_.string() +
                  ", destination path = " + inside.string());
}

TEST_F(LogDriverTest, ArgumentErrorsAreNotLogged) {
  ASSERT_EQ(Run("-x", source_, destination_), kFailure);
  EXPECT_EQ(LogContent().find(source_.string()), std::string::npos);
}

}  // namespace
}  // namespace uippack::logging
