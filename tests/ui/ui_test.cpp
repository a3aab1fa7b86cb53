// The window base, the hyperlink's click rules, DPI scaling and the back
// buffer, with real windows on the test run's display.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "harness/test_util.h"
#include "ui/dib_buffer.h"
#include "ui/dpi.h"
#include "ui/hyperlink_static.h"
#include "ui/window_base.h"
#include "ui/window_station.h"

namespace {

constexpr UINT kAnswer = WM_APP + 1;
tw::WindowClassInfo g_testClass = {nullptr, 0, nullptr, 0, IDC_ARROW, 0, {}};

class RecordingWindow : public tw::CWindowImpl {
 public:
  explicit RecordingWindow(std::vector<UINT>* seen) : seen_(seen) {}
  bool ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT& result, DWORD) override {
    seen_->push_back(message);
    result = 42;
    return message == kAnswer;
  }
  void OnFinalMessage(HWND window) override { finalWindow = window; }
  HWND Create() {
    const RECT rect = {10, 10, 210, 110};
    return CWindowImpl::Create(g_testClass, nullptr, &rect, L"base", WS_POPUP, 0);
  }
  HWND finalWindow = nullptr;

 private:
  std::vector<UINT>* seen_;  // outlives the object
};

TEST(WindowBase, RoutesTheClassProcedureToTheObjectFromCreationToNcDestroy) {
  std::vector<UINT> seen;
  RecordingWindow window(&seen);
  const HWND handle = window.Create();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(seen.front(), static_cast<UINT>(WM_NCCREATE));
  // One class procedure for every window: no per-object code.
  EXPECT_EQ(GetWindowLongPtrW(handle, GWLP_WNDPROC), GetClassLongPtrW(handle, GCLP_WNDPROC));
  EXPECT_EQ(SendMessageW(handle, kAnswer, 0, 0), 42);
  SendMessageW(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"changed"));  // unhandled: default processing
  wchar_t text[16] = {};
  GetWindowTextW(handle, text, 16);
  EXPECT_STREQ(text, L"changed");
  DestroyWindow(handle);
  EXPECT_EQ(seen.back(), static_cast<UINT>(WM_NCDESTROY));
  EXPECT_EQ(window.finalWindow, handle);
  EXPECT_EQ(window.Hwnd(), nullptr);
}

TEST(WindowBase, DestroyingTheObjectDestroysItsWindowWithoutCallingBack) {
  std::vector<UINT> seen;
  auto window = std::make_unique<RecordingWindow>(&seen);
  const HWND handle = window->Create();
  ASSERT_NE(handle, nullptr);
  const size_t before = seen.size();
  window.reset();
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_EQ(seen.size(), before);
}

// A link whose URL is tw_fake_setup.exe, which notes its start in TW_E2E_LAUNCH_LOG, a variable of this
// process's environment, or, started by another process (the desktop shell), beside itself.
class LinkTest : public testing::Test {
 protected:
  void SetUp() override {
    parent_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 100, 100, 400, 200, nullptr, nullptr, nullptr, nullptr);
    target_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    launchLog_ = twtest::MakeScratchFolder(L"link") + L"launch.log";
    ASSERT_TRUE(SetEnvironmentVariableW(L"TW_E2E_LAUNCH_LOG", launchLog_.c_str()));  // inherited by what we start
    DeleteFileW(shellLaunchLog_.c_str());
    ASSERT_TRUE(link_.Create(parent_, L"[Open Webpage]", twtest::TestBinFolder() + L"tw_fake_setup.exe", 20, 10, 30));
    link_.SetNotifyTarget(target_);
    RECT r;
    GetWindowRect(link_.Hwnd(), &r);
    inside_ = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    outside_ = {r.right, inside_.y};  // the right edge is exclusive
  }
  void TearDown() override {
    DestroyWindow(parent_);
    DestroyWindow(target_);
  }
  // Presses (optionally) at `inside_`, releases at `at`; true when the target was notified.
  bool Click(bool press, POINT at) {
    SetCursorPos(inside_.x, inside_.y);
    if (press) SendMessageW(link_.Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SetCursorPos(at.x, at.y);
    SendMessageW(link_.Hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(GetCapture(), nullptr);
    MSG message;
    const UINT notify = tw::HyperlinkNotifyMessage();
    if (!PeekMessageW(&message, target_, notify, notify, PM_REMOVE)) return false;
    EXPECT_EQ(message.wParam, reinterpret_cast<WPARAM>(&link_));
    return true;
  }

  HWND parent_ = nullptr;
  HWND target_ = nullptr;
  std::wstring launchLog_;
  const std::wstring shellLaunchLog_ = twtest::TestBinFolder() + L"tw_fake_setup.exe.launch.log";
  tw::XHyperLinkStatic link_;
  POINT inside_ = {}, outside_ = {};
};

TEST_F(LinkTest, OnlyAPressAndReleaseOnTheLinkNotifiesAndOpensTheUrl) {
  EXPECT_FALSE(Click(false, inside_));
  EXPECT_FALSE(Click(true, outside_));
  EXPECT_TRUE(Click(true, inside_));
  // Opened by the desktop shell for its user, never by this process with its token and environment.
  const auto exists = [](const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; };
  EXPECT_TRUE(twtest::PumpUntil([&] { return exists(shellLaunchLog_); }, 10000));
  EXPECT_FALSE(exists(launchLog_));
}

TEST(Scaling, NinetySixDpiLengthsRoundHalvesAwayFromZero) {
  const int saved = tw::GetDpiInfo().dpi;
  const int cases[][3] = {{96, 750, 750}, {144, 750, 1125}, {144, 1, 2}, {144, -1, -2}, {120, 750, 938}, {72, 3, 2}};
  for (const auto& c : cases) {
    tw::GetDpiInfo().dpi = c[0];
    EXPECT_EQ(tw::ScaleForDpi(c[1]), c[2]) << c[1] << " at " << c[0];
  }
  tw::GetDpiInfo().dpi = saved;
}

TEST(DibBuffer, WhiteTopDownRowsOfThreeBytesPerPixelRoundedUpToFour) {
  const int strides[][2] = {{1, 4}, {3, 12}, {4, 12}, {5, 16}, {750, 2252}};
  for (const auto& c : strides) EXPECT_EQ(tw::DibBuffer::StrideFor(c[0]), c[1]) << c[0];
  tw::DibBuffer buffer;
  ASSERT_TRUE(buffer.Create(5, 3));
  for (int i = 0; i < 3 * 16; ++i) EXPECT_TRUE(i % 16 == 15 || buffer.pixels()[i] == 255) << i;
  SetPixel(buffer.DrawingDc(), 1, 0, RGB(10, 20, 30));  // top row, blue green red
  GdiFlush();
  EXPECT_EQ(buffer.pixels()[3], 30);
  EXPECT_EQ(buffer.pixels()[5], 10);
  // Sizes whose image would not fit in 31 bits are refused like a failed allocation.
  const std::pair<int, int> refusedSizes[] = {{0, 10}, {10, -1}, {1 << 20, 1 << 20}, {(1 << 20) + 1, 1}, {40000, 40000}};
  for (const auto& size : refusedSizes) {
    tw::DibBuffer refused;
    EXPECT_FALSE(refused.Create(size.first, size.second)) << size.first << "x" << size.second;
    EXPECT_EQ(refused.pixels(), nullptr);
  }
}

TEST(WindowStation, HiddenOnlyWhenItsFlagsLackVisible) {  // a service's, say: nobody sees a window there
  EXPECT_FALSE(tw::IsOwnStationHidden());  // the test run's desktop
  const struct { bool read; DWORD flags; bool hidden; } cases[] = {
      {true, WSF_VISIBLE, false}, {true, WSF_VISIBLE | 2, false}, {true, 0, true}, {true, 2, true}, {false, 0, false}};
  for (const auto& c : cases) EXPECT_EQ(tw::IsStationHidden(c.read, c.flags), c.hidden) << c.read << " " << c.flags;
}

}  // namespace
