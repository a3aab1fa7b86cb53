// Credentials in URLs never reach the local log or a report.
#include "diag/setup_log.h"

#include <gtest/gtest.h>

namespace {

TEST(SetupLog, MasksUserNamesAndPasswordsInUrls) {
  const std::pair<const wchar_t*, const wchar_t*> urls[] = {  // one URL, alone or in a text
      {L"http://u:p@h:8/x", L"http://***:***@h:8/x"},
      {L"https://u@h", L"https://***@h"},
      {L"http://u:p@ss@h/x?to=a@b", L"http://***:***@h/x?to=a@b"},  // the last "@" before the path ends them
      {L"http://u:p,;w 'o\"<r>@h\\x@y", L"http://***:***@h\\x@y"},   // whatever the password holds
  };
  for (const auto& c : urls) {
    EXPECT_EQ(tw::MaskUrlCredentials(c.first), c.second) << c.first;
    EXPECT_EQ(tw::MaskUrlsInText(c.first), c.second) << c.first;
  }
  const std::pair<const wchar_t*, const wchar_t*> texts[] = {
      {L"chonsenURL:http://a:b@h/, 2=HTTP://c:d,e@h2 end", L"chonsenURL:http://***:***@h/, 2=HTTP://***:***@h2 end"},
      {L"http://h/p@x?r=http://a:b@h2", L"http://h/p@x?r=http://***:***@h2"},
      {L"http://h/p@x, user:pass@host, ://@", L"http://h/p@x, user:pass@host, ://@"},
  };
  for (const auto& c : texts) EXPECT_EQ(tw::MaskUrlsInText(c.first), c.second) << c.first;
}

}  // namespace
