// The driver through its real executable: console bytes and exit status of every outcome that
// ends before a pipeline runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

namespace uippack::testing {
namespace {

constexpr int kFailureStatus = 255;  // -1 as a POSIX shell sees it

const std::string kLessArguments = "Less arguments,at least three arguments are needed!\n";
const std::string kOptionError = "option error, please use -p for packing and -u for unpacking\n";

std::string PackRejection(const std::string& source) {
  return "Start packing uip files, please wait...\n"
         "No valid uip files found in path = " +
         source + ".\nA Valid UIP Path must include each of the following files:\n" +
         std::string(22, '\t') + " " + std::string(4, '\t') +
         "1.layout folder\n\t\t\t\t2.res folder\n\t\t\t\t3.nametable.cfg\n" +
         "\t\t\t\t4.package.cfg\n\n";
}

std::string UnpackRejection(const std::string& source) {
  return "Start unpacking uip files, please wait...\nNo valid uip files found in path = " + source +
         ".\n";
}

ProcessResult Uippack(std::vector<std::string> arguments, const fs::path& cwd = {}) {
  arguments.insert(arguments.begin(), (BinDir() / "uippack").string());
  return RunProcess(arguments, cwd);
}

TEST(Driver, TooFewArgumentsPrintOnlyTheirLine) {
  for (const auto& arguments :
       std::vector<std::vector<std::string>>{{}, {"-p"}, {"-p", "src"}, {"-x", "src"}}) {
    const ProcessResult result = Uippack(arguments);
    EXPECT_EQ(result.out, kLessArguments);
    EXPECT_EQ(result.exitStatus, kFailureStatus);
  }
}

TEST(Driver, UnknownOptionsAreRejectedWithoutLookingAtThePaths) {
  for (const char* option : {"-x", "/p", "-pack", "p", "--p", ""}) {
    const ProcessResult result = Uippack({option, "/does/not/exist", "/nor/this"});
    EXPECT_EQ(result.out, kOptionError) << option;
    EXPECT_EQ(result.exitStatus, kFailureStatus);
  }
}

TEST(Driver, RejectedPackSourceLeavesTheDestinationUntouched) {
  TempDir temp;
  WriteFile(temp / "dst/keep.txt", "keep");
  MakeDirs(temp / "src/layout");  // res and the two files are missing
  const auto before = TreeListing(temp.path());
  for (const char* option : {"-p", "-P"}) {
    const ProcessResult result =
        Uippack({option, (temp / "src").string(), (temp / "dst").string(), "-uip", "ignored"});
    EXPECT_EQ(result.out, PackRejection((temp / "src").string()));
    EXPECT_EQ(result.exitStatus, kFailureStatus);
  }
  EXPECT_EQ(TreeListing(temp.path()), before);
  EXPECT_FALSE(fs::exists(temp / "missing"));
  const ProcessResult missing = Uippack({"-p", "missing", (temp / "new").string()}, temp.path());
  EXPECT_EQ(missing.out, PackRejection("missing"));
  EXPECT_FALSE(fs::exists(temp / "new"));
}

TEST(Driver, RejectedUnpackSource) {
  TempDir temp;
  WriteFile(temp / "src/res/a.zip", "not a container");
  WriteFile(temp / "dst/layout.uip", "only the source is tested");
  const auto before = TreeListing(temp.path());
  for (const char* option : {"-u", "-U"}) {
    const ProcessResult result =
        Uippack({option, (temp / "src").string(), (temp / "dst").string()});
    EXPECT_EQ(result.out, UnpackRejection((temp / "src").string()));
    EXPECT_EQ(result.exitStatus, kFailureStatus);
  }
  EXPECT_EQ(TreeListing(temp.path()), before);
}

TEST(Driver, ForeignSeparatorsAreConvertedBeforeTestingAndPrinting) {
  TempDir temp;
  MakeDirs(temp / "ui/pkg");
  const ProcessResult result = Uippack({"-u", "ui\\pkg", "out\\pkg"}, temp.path());
  EXPECT_EQ(result.out, UnpackRejection("ui/pkg"));
  EXPECT_EQ(result.exitStatus, kFailureStatus);
}

TEST(Driver, PackWithoutScriptsEndsWithThePackErrorAfterTheCopy) {
  TempDir temp;
  MakeDirs(temp / "pkg/layout");
  MakeDirs(temp / "pkg/res/images");
  WriteFile(temp / "pkg/nametable.cfg", "n");
  WriteFile(temp / "pkg/package.cfg", "p");
  const ProcessResult result = Uippack({"-p", "pkg", "out"}, temp.path());
  EXPECT_EQ(result.out,
            "Start packing uip files, please wait...\n"
            "Pack error,source path = pkg, destination path = out\n");
  EXPECT_EQ(result.exitStatus, kFailureStatus);
  EXPECT_TRUE(fs::is_directory(temp / "out/res/images"));  // copied, then nothing else
}

TEST(Driver, OverlappingDestinationIsRefusedBeforeTheCopy) {
  TempDir temp;
  MakeDirs(temp / "pkg/layout");
  MakeDirs(temp / "pkg/res");
  WriteFile(temp / "pkg/layout/main.lua", "print(1)");
  WriteFile(temp / "pkg/nametable.cfg", "n");
  WriteFile(temp / "pkg/package.cfg", "p");
  const auto before = TreeListing(temp.path());
  const ProcessResult result = Uippack({"-p", "pkg", "pkg/out"}, temp.path());
  EXPECT_EQ(result.out,
            "Start packing uip files, please wait...\n"
            "Refused: destination path = pkg/out is the source path = pkg or lies inside it or "
            "contains it, nothing copied!\n"
            "Pack error,source path = pkg, destination path = pkg/out\n");
  EXPECT_EQ(result.exitStatus, kFailureStatus);
  EXPECT_EQ(TreeListing(temp.path()), before);
}

}  // namespace
}  // namespace uippack::testing
