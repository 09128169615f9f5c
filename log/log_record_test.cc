// The log's texts without files: names and texts with their limits, the access-error text, the
// replacement rule, the format rewriting. Whole records and the message's cut are checked in
// log_write_test, the header's text end to end.
#include "log/log_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/path.h"

namespace uippack::logging {
namespace {

TEST(LogRecordTest, NamesAndTextsWithTheirLimits) {
  const std::wstring sep(1, platform::kPathSeparator), n300(300, L'n');
  EXPECT_EQ(ProgramNameOf(sep + L"a.b" + sep + L"my.packer.exe"), L"my.packer");
  EXPECT_EQ(ProgramNameOf(sep + L"a.b" + sep + L"tool"), L"tool");
  EXPECT_EQ(MutexNameFor(n300), (L"#mutexRUNTRAIL_" + n300).substr(0, 255));
  EXPECT_EQ(LogFilePathIn(L"d" + sep, n300), (L"d" + sep + L"RUNTRAIL_" + n300).substr(0, 259));
  EXPECT_EQ(FormatRecordPrefix({2010, 5, 20, 7, 3, 9, 45}, n300, 1, 1),
            (L"2010-05-20 07:03:09.045\t[" + n300).substr(0, 256));
  // The format's address in upper-case hexadecimal, zero-filled to the width of a pointer.
  const auto* address = reinterpret_cast<const void*>(std::uintptr_t{0xAB});  // NOLINT
  EXPECT_EQ(AccessErrorText(address, 0xC0000005),
            L"(!!!)Access Error, Invalid Memory Address : 0x" +
                std::wstring(sizeof(void*) * 2 - 2, L'0') + L"AB, ExceptionCode : 0xc0000005");
}

// A clock set back a year still replaces a file from a lower month number.
TEST(LogRecordTest, ReplacementTestsYearAndMonthSeparately) {
  const int cases[][3] = {{2024, 6, 0}, {2024, 7, 1}, {2024, 5, 0}, {2025, 1, 1},
                          {2025, 6, 1}, {2023, 7, 1}, {2023, 6, 0}, {2023, 1, 0}};
  for (const auto& [year, month, replaced] : cases)
    EXPECT_EQ(NeedsReplacement({2024, 6}, {year, month}), replaced == 1) << year << "-" << month;
}

// A length modifier holds for its own conversion only.
TEST(LogRecordTest, OnlyPlainStringConversionsBecomeWide) {
  std::wstring out;
  AppendWithWideStrings(L"%ls %hs %S %%s %d %lu %#08x %c %s, %-10s|%.3s|%*s|%1$s. %", &out);
  EXPECT_EQ(out, L"%ls %hs %S %%s %d %lu %#08x %c %ls, %-10ls|%.3ls|%*ls|%1$ls. %");
}

}  // namespace
}  // namespace uippack::logging
