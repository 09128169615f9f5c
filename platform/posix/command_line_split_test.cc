#include "platform/posix/command_line_split.h"

#include <gtest/gtest.h>

namespace uippack::platform {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, QuotedProgramAndPlainArguments) {
  EXPECT_EQ(
      SplitCommandLine(R"("/opt/my tools/7z"  a -tzip /o/layout.zip /o/layout/* -r -mx=9)"),
      (Args{"/opt/my tools/7z", "a", "-tzip", "/o/layout.zip", "/o/layout/*", "-r", "-mx=9"}));
  EXPECT_EQ(SplitCommandLine("cp -Rp a b"), (Args{"cp", "-Rp", "a", "b"}));
  // The program name takes no escapes: a backslash before its closing quote stays.
  EXPECT_EQ(SplitCommandLine(R"("C:\dir\" x)"), (Args{R"(C:\dir\)", "x"}));
}

TEST(SplitCommandLine, QuotesKeepBlanksAndJoinPieces) {
  EXPECT_EQ(SplitCommandLine(R"(rm -rf "/tmp/a b/layout")"),
            (Args{"rm", "-rf", "/tmp/a b/layout"}));
  EXPECT_EQ(SplitCommandLine(R"(7z x -o"/d/my dir" -y)"), (Args{"7z", "x", "-o/d/my dir", "-y"}));
  EXPECT_EQ(SplitCommandLine(R"(p "" "a""b")"), (Args{"p", "", "a\"b"}));
  EXPECT_EQ(SplitCommandLine("p\ta\t\tb  "), (Args{"p", "a", "b"}));
}

TEST(SplitCommandLine, BackslashesBeforeQuotes) {
  EXPECT_EQ(SplitCommandLine(R"(p a\\b "c\\" d\"e f\\\"g)"),
            (Args{"p", R"(a\\b)", R"(c\)", R"(d"e)", R"(f\"g)"}));
  // A trailing backslash that ends a quoted path must be doubled to survive.
  EXPECT_EQ(SplitCommandLine(R"(p "C:\out\\")"), (Args{"p", R"(C:\out\)"}));
}

}  // namespace
}  // namespace uippack::platform
