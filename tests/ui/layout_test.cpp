// DPI scaling, centring and the status font's height.
#include <gtest/gtest.h>

#include "ui/center_window.h"
#include "ui/dpi.h"
#include "ui/status_font.h"
#include "support/unique_handle.h"
#include "ui/window_test_util.h"

namespace {

class DpiScope {
 public:
  explicit DpiScope(int dpi) : saved_(tw::GetDpiInfo().dpi) { tw::GetDpiInfo().dpi = dpi; }
  ~DpiScope() { tw::GetDpiInfo().dpi = saved_; }

 private:
  int saved_;
};

TEST(Dpi, ScalesNinetySixDpiLengthsRoundingHalvesAwayFromZero) {
  struct Case {
    int dpi, n, expected;
  } cases[] = {
      {96, 750, 750},  {96, 20, 20},   {144, 750, 1125}, {144, 530, 795}, {144, 20, 30},
      {144, 30, 45},   {144, 1, 2},    {144, -1, -2},    {120, 750, 938}, {120, 530, 663},
      {192, 750, 1500}, {72, 3, 2},
  };
  for (const Case& c : cases) {
    DpiScope scope(c.dpi);
    EXPECT_EQ(tw::ScaleForDpi(c.n), c.expected) << "dpi " << c.dpi << " n " << c.n;
  }
}

TEST(Dpi, IsNinetySixUntilReadAndThenTheScreens) {
  // The test program never read the screen before this test.
  const int before = tw::GetDpiInfo().dpi;
  tw::ReadScreenDpi();
  const HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(tw::GetDpiInfo().dpi, GetDeviceCaps(screen, LOGPIXELSX));
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(before, 96);
}

TEST(CenterWindow, PlacementRuleClampsRightThenLeft) {
  struct Case {
    int low, high, size, areaLow, areaHigh, expected;
  } cases[] = {
      {0, 1280, 750, 0, 1280, 265},     // plain centring
      {0, 1281, 751, 0, 1281, 265},     // (1281 / 2) - (751 / 2) truncates twice
      {0, 1280, 2000, 0, 1280, 0},      // larger than the area: stick to the left
      {100, 300, 50, 0, 1280, 175},     // centred on a reference window
      {1200, 1400, 200, 0, 1280, 1080}, // would run past the right edge
      {-300, -100, 100, 0, 1280, 0},    // would start left of the area
      {-7, 0, 0, -10, 10, -3},          // division truncates toward zero
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tw::CenteredPosition(c.low, c.high, c.size, c.areaLow, c.areaHigh), c.expected)
        << c.low << ".." << c.high << " size " << c.size;
  }
}

TEST(CenterWindow, CentresATopLevelWindowOnTheWorkArea) {
  const HWND window = twtest::CreatePlainWindow(L"centre", WS_POPUP, 3, 4, 301, 201);
  ASSERT_NE(window, nullptr);
  tw::CenterWindow(window);
  RECT work;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  RECT placed;
  GetWindowRect(window, &placed);
  EXPECT_EQ(placed.left, (work.left + work.right) / 2 - 301 / 2);
  EXPECT_EQ(placed.top, (work.top + work.bottom) / 2 - 201 / 2);
  EXPECT_EQ(placed.right - placed.left, 301);
  EXPECT_EQ(placed.bottom - placed.top, 201);
  EXPECT_FALSE(IsWindowVisible(window));  // placement only: no show, no activation
  DestroyWindow(window);
}

TEST(CenterWindow, AWindowLargerThanTheWorkAreaSticksToItsTopLeft) {
  const HWND window = twtest::CreatePlainWindow(L"big", WS_POPUP, 50, 60, 5000, 4000);
  ASSERT_NE(window, nullptr);
  tw::CenterWindow(window);
  RECT work, placed;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(window, &placed);
  EXPECT_EQ(placed.left, work.left);
  EXPECT_EQ(placed.top, work.top);
  DestroyWindow(window);
}

TEST(CenterWindow, CentresAChildOnItsParentsClientArea) {
  const HWND parent = twtest::CreatePlainWindow(L"parent", WS_POPUP, 0, 0, 400, 300);
  ASSERT_NE(parent, nullptr);
  const HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 100, 50, parent, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(child, nullptr);
  tw::CenterWindow(child);
  RECT placed;
  GetWindowRect(child, &placed);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ(placed.left, 150);
  EXPECT_EQ(placed.top, 125);
  DestroyWindow(parent);
}

TEST(StatusFont, HeightIsTwiceTheIconTitleHeightInPointsAtTheScreensDpi) {
  struct Case {
    LONG lfHeight;
    unsigned dpi;
    int expected;
  } cases[] = {
      {-12, 96, 32}, {-15, 120, 50}, {10, 96, -26}, {-12, 144, 48}, {-11, 96, 29}, {0, 96, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tw::StatusFontHeight(c.lfHeight, c.dpi), c.expected)
        << c.lfHeight << " at " << c.dpi;
  }
}

TEST(StatusFont, ComesFromTheIconTitleFont) {
  LONG height = 0;
  const std::wstring face = tw::GetIconTitleFont(&height);
  LOGFONTW expected = {};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(expected), &expected, 0));
  EXPECT_EQ(face, expected.lfFaceName);
  EXPECT_EQ(height, expected.lfHeight);

  tw::UniqueFont font(tw::CreateStatusFont());
  ASSERT_TRUE(font);
  LOGFONTW made = {};
  ASSERT_EQ(GetObjectW(font.Get(), sizeof(made), &made), static_cast<int>(sizeof(made)));
  EXPECT_EQ(made.lfHeight, tw::StatusFontHeight(expected.lfHeight, static_cast<unsigned>(tw::GetDpiInfo().dpi)));
  EXPECT_EQ(made.lfWeight, FW_NORMAL);
  EXPECT_EQ(made.lfQuality, CLEARTYPE_QUALITY);
  EXPECT_STREQ(made.lfFaceName, expected.lfFaceName);
}

}  // namespace
