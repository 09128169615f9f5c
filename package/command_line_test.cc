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

TEST(QuotePath, PlainPathsStayOthersAreQuotedAndArchiverWildcardsRefused) {
  const std::wstring sep(1, platform::kPathSeparator);
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"/out/pkg/layout.zip", L"/out/pkg/layout.zip"},
      {L"/out/a&b;c$(d)'e f", L"\"/out/a&b;c$(d)'e f\""},
      {L"C:\\o\\c,d=e", L"\"C:\\o\\c,d=e\""},  // cmd.exe splits at , ; =
      {L"/o/a\"b", L"\"/o/a\\\"b\""},
      {L"C:\\my out\\", L"\"C:\\my out\\\\\""},  // the closing quote stays a quote
      {L"/o/a*b", L"/o/a*b"},                    // rm takes it literally
  };
  for (const auto& [path, quoted] : cases) EXPECT_EQ(Quote(path), quoted) << path;
  EXPECT_EQ(Quote(L"/o/layout" + sep + L"*", true), L"/o/layout" + sep + L"*");
  EXPECT_EQ(Quote(L"/o/a*b" + sep + L"*", true), L"<refused>");
  EXPECT_EQ(Quote(L"/o/a?b.zip", true), L"<refused>");
}

TEST(CommandBuffer, OnlyPercentSTakesAnArgument) {
  EXPECT_EQ(CommandBuffer(L"rd /s /q %s %d%", {PathArgument(L"/a")}).text(), L"rd /s /q /a %d%");
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
