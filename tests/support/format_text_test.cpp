#include "support/format_text.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatText, WideStringsAndNumbers) {
  EXPECT_EQ(tw::FormatText(L"%s (Err:%d)", L"Download failed", 20), L"Download failed (Err:20)");
  EXPECT_EQ(tw::FormatText(L"%d %%", 42), L"42 %");
  EXPECT_EQ(tw::FormatText(L"%08x-%x-%u", 0xabcu, 0xFFFFFFFFu, 4294967295u),
            L"00000abc-ffffffff-4294967295");
  EXPECT_EQ(tw::FormatText(L"%s", L"\xD0C0\xB978"), L"\xD0C0\xB978");
  EXPECT_EQ(tw::FormatText(L""), L"");
}

TEST(FormatText, HasNoLengthLimit) {
  const std::wstring longText(100000, L'x');
  const std::wstring text = tw::FormatText(L"[%s]", longText.c_str());
  ASSERT_EQ(text.size(), longText.size() + 2);
  EXPECT_EQ(text.front(), L'[');
  EXPECT_EQ(text.back(), L']');
}

}  // namespace
