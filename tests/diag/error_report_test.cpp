// The error report's query values: UTF-8, percent-encoded but for RFC 3986's
// unreserved characters.
#include "diag/error_report.h"

#include <gtest/gtest.h>

namespace {

TEST(ErrorReport, PercentEncodesAllButUnreservedCharactersAsUtf8) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"AZaz09-._~", L"AZaz09-._~"},
      {L"a b&c=d#e?f%g/h+", L"a%20b%26c%3Dd%23e%3Ff%25g%2Fh%2B"},
      {L"\u00E9\uD55C\x7F", L"%C3%A9%ED%95%9C%7F"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(tw::PercentEncodeQueryValue(c.first), c.second) << c.first;
}

}  // namespace
