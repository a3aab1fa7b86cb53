#include "diag/build_stamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

namespace {

bool IsPublishedStamp() {
  return std::strcmp(tw::BuildDateString(), "Mar 11 2020") == 0 &&
         std::strcmp(tw::BuildTimeString(), "18:09:17") == 0;
}

TEST(MonthIndexFromName, FirstThreeCharactersCaseSensitive) {
  struct Case {
    const char* text;
    int index;
  };
  const Case cases[] = {
      {"Jan", 0},  {"Feb", 1},  {"Mar", 2}, {"Apr", 3},  {"May", 4},  {"Jun", 5},    {"Jul", 6},
      {"Aug", 7},  {"Sep", 8},  {"Oct", 9}, {"Nov", 10}, {"Dec", 11}, {"March", 2},  {"Decx", 11},
      {"jan", -1}, {"JAN", -1}, {"Ja", -1}, {"", -1},    {"Foo", -1}, {nullptr, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tw::MonthIndexFromName(c.text), c.index) << (c.text ? c.text : "null");
}

TEST(BuildTimeFromStrings, ReadsTheCompilerForm) {
  const __time64_t t = tw::BuildTimeFromStrings("Mar 11 2020", "18:09:17");
  ASSERT_NE(t, -1);
  const tm* local = _localtime64(&t);
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(local->tm_year, 120);
  EXPECT_EQ(local->tm_mon, 2);
  EXPECT_EQ(local->tm_mday, 11);
  // Read as standard time: in a daylight-saving period it comes back an hour later.
  EXPECT_TRUE(local->tm_hour == 18 || local->tm_hour == 19) << local->tm_hour;
  EXPECT_EQ(local->tm_min, 9);
  EXPECT_EQ(local->tm_sec, 17);

  // One day later is 86,400 seconds later (both dates well away from March 8).
  const __time64_t a = tw::BuildTimeFromStrings("Jan 14 2021", "00:00:00");
  const __time64_t b = tw::BuildTimeFromStrings("Jan 15 2021", "00:00:00");
  EXPECT_EQ(b - a, 86400);
}

TEST(BuildTimeFromStrings, UnknownMonthIsDecemberOfTheYearBefore) {
  const __time64_t t = tw::BuildTimeFromStrings("Foo 11 2020", "12:00:00");
  ASSERT_NE(t, -1);
  const tm* local = _localtime64(&t);
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(local->tm_year, 119);
  EXPECT_EQ(local->tm_mon, 11);
  EXPECT_EQ(local->tm_mday, 11);
}

TEST(BuildTimeFromStrings, OverlongOrBrokenInputIsHandled) {
  // A month word longer than the scan buffer is cut, not overrun; without a
  // day and year the date lies before 1970 and cannot be converted.
  const std::string overlong = "Mar" + std::string(3000, 'x');
  EXPECT_EQ(tw::BuildTimeFromStrings(overlong.c_str(), "18:09:17"), -1);
  EXPECT_EQ(tw::BuildTimeFromStrings("", ""), -1);
  EXPECT_EQ(tw::BuildTimeFromStrings(nullptr, nullptr), -1);
}

TEST(FormatBuildDate, PatternsAndUserAgent) {
  if (!IsPublishedStamp()) GTEST_SKIP() << "built with the compiler's stamp";
  EXPECT_EQ(tw::FormatBuildDate(), L"2020/03/11");
  EXPECT_EQ(tw::FormatBuildDate(nullptr), L"2020/03/11");
  EXPECT_EQ(tw::FormatBuildDate(L"%04d%02d%02d"), L"20200311");
  EXPECT_EQ(tw::GetUserAgent(), L"TarnwickOnlineSetup(Protocol:20200204,Built:2020/03/11)");
  EXPECT_EQ(tw::GetBuildTime(), tw::BuildTimeFromStrings("Mar 11 2020", "18:09:17"));
}

}  // namespace
