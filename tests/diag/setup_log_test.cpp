// Credentials in URLs never reach the local log.
#include "diag/setup_log.h"

#include <gtest/gtest.h>

namespace {

TEST(SetupLog, MasksUserNamesAndPasswordsInUrls) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"http://u:p@h:8/x", L"http://***:***@h:8/x"},
      {L"https://u@h", L"https://***@h"},
      {L"http://u:p@ss@h/x?to=a@b", L"http://***:***@h/x?to=a@b"},  // the last "@" before the path ends them
      {L"chonsenURL:http://a:b@h/, 2=HTTP://c:d@h2 end", L"chonsenURL:http://***:***@h/, 2=HTTP://***:***@h2 end"},
      {L"http://h/p@x, user:pass@host, ://@", L"http://h/p@x, user:pass@host, ://@"},
  };
  for (const auto& c : cases) EXPECT_EQ(tw::MaskUrlCredentials(c.first), c.second) << c.first;
}

}  // namespace
