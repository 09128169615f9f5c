// How paths enter command lines: quoted where needed, refused where unsafe, never overflowing.
#include "package/command_line.h"

#include <gtest/gtest.h>

#include "package/command_templates.h"
#include "platform/path.h"

namespace uippack {
namespace {

std::wstring Quote(std::wstring_view path, bool archiver = false) {
  std::wstring quoted;
  return QuotePathForCommandLine(path, archiver, &quoted) ? quoted : L"<refused>";
}

TEST(QuotePath, PlainPathsStayAsTheyAre) {
  EXPECT_EQ(Quote(L"/out/pkg/layout.zip"), L"/out/pkg/layout.zip");
  EXPECT_EQ(Quote(L"C:\\ui\\pkg_1-2\\layout"), L"C:\\ui\\pkg_1-2\\layout");
}

TEST(QuotePath, AnythingElseIsQuotedSoItStaysOneArgument) {
  EXPECT_EQ(Quote(L"/out/my pkg/layout"), L"\"/out/my pkg/layout\"");
  EXPECT_EQ(Quote(L"/out/a&b;c$(d)'e"), L"\"/out/a&b;c$(d)'e\"");
  EXPECT_EQ(Quote(L"C:\\o\\c,d"), L"\"C:\\o\\c,d\"");
  EXPECT_EQ(Quote(L"C:\\o\\e=f"), L"\"C:\\o\\e=f\"");
  EXPECT_EQ(Quote(L"/out/\u4E2D\u6587"), L"\"/out/\u4E2D\u6587\"");
  // A trailing backslash is doubled so it cannot escape the closing quote.
  EXPECT_EQ(Quote(L"C:\\my out\\"), L"\"C:\\my out\\\\\"");
}

TEST(QuotePath, ArchiverWildcardsAreRefusedExceptThePatternStar) {
  const std::wstring sep(1, platform::kPathSeparator);
  EXPECT_EQ(Quote(L"/o/layout" + sep + L"*", true), L"/o/layout" + sep + L"*");
  EXPECT_EQ(Quote(L"/o/a*b" + sep + L"*", true), L"<refused>");
  EXPECT_EQ(Quote(L"/o/a?b.zip", true), L"<refused>");
  EXPECT_EQ(Quote(L"/o/a*b", false), L"/o/a*b");  // rm and cp take it literally
}

TEST(QuotePath, QuotesInPosixNamesAreEscaped) {
  EXPECT_EQ(Quote(L"/o/a\"b"), L"\"/o/a\\\"b\"");
  EXPECT_EQ(Quote(L"/o/100%"), L"\"/o/100%\"");
}

TEST(CommandBuffer, FormatsTemplatesWithAbsolutePaths) {
  const CommandBuffer command(templates::kArchiveLayout,
                              {ToolDirectoryArgument(L"/opt/my tools"),
                               ArchiverPathArgument(platform::AbsolutePath(L"out/layout.zip")),
                               ArchiverPathArgument(L"out/layout/*")});
  ASSERT_TRUE(command.startable());
  const std::wstring absolute = platform::AbsolutePath(L"out/layout");
  EXPECT_NE(command.text().find(L"\"  a -tzip "), std::wstring::npos);
  EXPECT_NE(command.text().find(absolute + L".zip"), std::wstring::npos);
  EXPECT_NE(command.text().find(absolute + L"/*"), std::wstring::npos);
}

TEST(CommandBuffer, TooLongOrWithoutToolDirectoryIsNotStartable) {
  const std::wstring longPath = L"/" + std::wstring(600, L'a');
  const CommandBuffer tooLong(templates::kRemoveDirectory, {PathArgument(longPath)});
  EXPECT_FALSE(tooLong.startable());
  EXPECT_NE(tooLong.text().find(longPath), std::wstring::npos);  // still shown whole

  const CommandBuffer copyFits(L"cmd.exe /c xcopy /e /s /k /y %s %s",
                               {PathArgument(longPath), PathArgument(L"/d")},
                               CommandBuffer::kCopyCapacity);
  EXPECT_TRUE(copyFits.startable());

  // Exactly at the limit: 511 characters fit in 512, 512 do not.
  const std::wstring prefix(
      templates::kRemoveDirectory.substr(0, templates::kRemoveDirectory.size() - 2));
  const std::wstring fits = L"/" + std::wstring(511 - prefix.size() - 1, L'b');
  EXPECT_TRUE(CommandBuffer(templates::kRemoveDirectory, {PathArgument(fits)}).startable());
  EXPECT_FALSE(CommandBuffer(templates::kRemoveDirectory, {PathArgument(fits + L"b")}).startable());

  EXPECT_FALSE(
      CommandBuffer(templates::kCompile,
                    {ToolDirectoryArgument(L""), PathArgument(L"/a.lua"), PathArgument(L"/a.lua")})
          .startable());
}

}  // namespace
}  // namespace uippack
