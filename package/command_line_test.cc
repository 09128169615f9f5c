// How paths enter command lines: quoted where needed, refused where unsafe, never overflowing.
#include "package/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "package/command_templates.h"
#include "platform/path.h"

namespace uippack {
namespace {

TEST(QuotePath, PlainPathsStayOthersAreQuotedAndArchiverWildcardsRefused) {
  const std::wstring all = std::wstring(1, platform::kPathSeparator) + L"*";  // as 7-Zip reads it
  const std::tuple<std::wstring, bool, std::wstring> cases[] = {
      {L"/out/pkg/layout.zip", false, L"/out/pkg/layout.zip"},
      {L"/out/a&b;c$(d)'e f", false, L"\"/out/a&b;c$(d)'e f\""},
      {L"C:\\o\\c,d=e", false, L"\"C:\\o\\c,d=e\""},  // cmd.exe splits at , ; =
      {L"/o/a\"b", false, L"\"/o/a\\\"b\""},
      {L"C:\\my out\\", false, L"\"C:\\my out\\\\\""},  // the closing quote stays a quote
      {L"/o/a*b", false, L"/o/a*b"},                    // rm takes it literally
      {L"/o/layout" + all, true, L"/o/layout" + all},   // only the pattern's own final * is one
      {L"/o/a*b" + all, true, L"<refused>"},
      {L"/o/a?b.zip", true, L"<refused>"},
  };
  for (const auto& [path, archiver, quoted] : cases) {
    std::wstring out;
    EXPECT_EQ(QuotePathForCommandLine(path, archiver, &out) ? out : L"<refused>", quoted) << path;
  }
}

TEST(CommandBuffer, OnlyPercentSTakesAnArgumentAndOnlyWhatFitsIsStartable) {
  // 511 characters fit in a buffer of 512, the terminating zero included; 512 do not.
  const std::wstring_view rd = templates::kRemoveDirectory;
  const std::wstring fits = L"/" + std::wstring(512 - rd.size(), L'b');
  const std::wstring over = fits + L"b";
  const std::pair<CommandBuffer, bool> cases[] = {
      {CommandBuffer(L"rd /s /q %s %d%", {PathArgument(L"/a")}), true},
      {CommandBuffer(rd, {PathArgument(fits)}), true},
      {CommandBuffer(rd, {PathArgument(over)}), false},
      {CommandBuffer(rd, {PathArgument(over)}, CommandBuffer::kCopyCapacity), true},
      {CommandBuffer(templates::kCompile, {ToolDirectoryArgument(L"")}), false},  // "/luac"
  };
  for (const auto& [command, startable] : cases) EXPECT_EQ(command.startable(), startable);
  EXPECT_EQ(cases[0].first.text(), L"rd /s /q /a %d%");
  EXPECT_NE(cases[2].first.text().find(over), std::wstring::npos);  // still shown whole
}

}  // namespace
}  // namespace uippack
