#include <gtest/gtest.h>

#include "platform/text.h"

namespace uippack::platform {
namespace {

TEST(NarrowText, Utf8RoundTrip) {
  const std::string utf8 = "layout/\xE4\xB8\xAD\xE6\x96\x87 caf\xC3\xA9 \xF0\x9F\x98\x80";
  const std::wstring wide = NarrowToWide(utf8);
  EXPECT_EQ(wide, L"layout/\u4E2D\u6587 caf\u00E9 \U0001F600");
  EXPECT_EQ(WideToNarrow(wide), utf8);
}

TEST(NarrowText, InvalidBytesSurviveTheRoundTrip) {
  // Stray continuation, truncated sequence, overlong slash, encoded surrogate, Latin-1 byte.
  const std::string raw = std::string("a\x80z\xE4\xB8", 5) + "\xC0\xAF" + "\xED\xB2\x80" + "\xE9";
  const std::wstring wide = NarrowToWide(raw);
  EXPECT_EQ(wide[1], static_cast<wchar_t>(0xDC80));
  EXPECT_EQ(WideToNarrow(wide), raw);
}

}  // namespace
}  // namespace uippack::platform
