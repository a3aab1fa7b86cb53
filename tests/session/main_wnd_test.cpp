// CMainWnd's window side, in-process: the frame at 96 and 144 DPI, the
// start of the session, the timers, the status line and percentage, the
// failure display and the painting of the status text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "app/app_state.h"
#include "config/ui_text.h"
#include "net/transfer_messages.h"
#include "session/main_wnd.h"
#include "ui/dpi.h"
#include "ui/main_window_frame.h"
#include "ui/window_test_util.h"

namespace {

class MainWndTest : public testing::Test {
 protected:
  void SetUp() override {
    tw::GetAppState() = tw::AppState();
    tw::GetAppState().languageName = L"English";
    savedDpi_ = tw::GetDpiInfo().dpi;
  }
  void TearDown() override {
    wnd_.reset();
    tw::GetDpiInfo().dpi = savedDpi_;
    tw::GetAppState() = tw::AppState();
  }

  // The window without the session: the frame and the hidden link.
  void CreateFrame() {
    wnd_ = std::make_unique<tw::CMainWnd>();
    ASSERT_NE(tw::CreateMainWindowFrame(*wnd_, tw::GetUiText(L"TITLE")), nullptr);
    ASSERT_TRUE(tw::CreateCornerLink(wnd_->homepageLink, wnd_->Hwnd(), L"[Open Webpage]",
                                     L"URL_NULL"));
    ShowWindow(wnd_->homepageLink.Hwnd(), SW_HIDE);
  }
  void ShowOnTop() {
    ShowWindow(wnd_->Hwnd(), SW_SHOW);
    SetWindowPos(wnd_->Hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    UpdateWindow(wnd_->Hwnd());
    twtest::PumpMessages(100);
  }
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageW(wnd_->Hwnd(), message, wParam, lParam);
  }
  bool HasUpdateRegion() { return GetUpdateRect(wnd_->Hwnd(), nullptr, FALSE) != FALSE; }
  bool IsTopmost() {
    return (GetWindowLongPtrW(wnd_->Hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  }

  std::unique_ptr<tw::CMainWnd> wnd_;
  int savedDpi_ = 96;
};

TEST_F(MainWndTest, ConstructionSetsTheInitialValuesAndTheFont) {
  tw::CMainWnd wnd;
  EXPECT_EQ(wnd.totalBytes, -1);
  EXPECT_EQ(wnd.lastPercent, -1);
  EXPECT_EQ(wnd.stage, tw::StageIdle);
  EXPECT_TRUE(wnd.statusText.empty());
  EXPECT_TRUE(wnd.statusFont);
  EXPECT_EQ(wnd.Hwnd(), nullptr);
  EXPECT_EQ(wnd.homepageLink.Hwnd(), nullptr);
  EXPECT_EQ(wnd.backBuffer.bitmap(), nullptr);
  EXPECT_EQ(wnd.multiResult.chosenIndex, -1);
  EXPECT_EQ(wnd.multiResult.httperr, 0);
  EXPECT_EQ(wnd.setupCrc, 0u);
  EXPECT_EQ(wnd.sleepInterval, 0u);
}

TEST_F(MainWndTest, FrameHasTheClassStyleTitleAndSizeAtNinetySixDpi) {
  tw::GetDpiInfo().dpi = 96;
  CreateFrame();
  const HWND window = wnd_->Hwnd();
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  EXPECT_STREQ(className, L"TarnwickOnlineSetupClass");
  EXPECT_EQ(GetClassLongPtrW(window, GCL_STYLE), CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS);
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND),
            reinterpret_cast<LONG_PTR>(GetStockObject(WHITE_BRUSH)));
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_HCURSOR),
            reinterpret_cast<LONG_PTR>(LoadCursorW(nullptr, IDC_ARROW)));
  EXPECT_NE(GetClassLongPtrW(window, GCLP_HICON), 0);  // icon group 107 of this program
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  const LONG_PTR wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN |
                          WS_CLIPSIBLINGS;
  EXPECT_EQ(style & wanted, wanted);
  EXPECT_EQ(style & (WS_VISIBLE | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD), 0);
  EXPECT_EQ(GetParent(window), nullptr);
  EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  EXPECT_STREQ(title, L"Tarnwick Online Setup");

  RECT r, work;
  GetWindowRect(window, &r);
  EXPECT_EQ(r.right - r.left, 750);
  EXPECT_EQ(r.bottom - r.top, 530);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(r.left, (work.left + work.right) / 2 - 750 / 2);
  EXPECT_EQ(r.top, (work.top + work.bottom) / 2 - 530 / 2);

  RECT link;
  GetWindowRect(wnd_->homepageLink.Hwnd(), &link);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&link), 2);
  EXPECT_EQ(link.left, 20);
  EXPECT_EQ(link.top, 10);
  EXPECT_EQ(link.bottom - link.top, 30);
  EXPECT_EQ(wnd_->homepageLink.backgroundColor(), RGB(255, 255, 255));
}

TEST_F(MainWndTest, FrameScalesAtOneHundredFortyFourDpiButTheLinkStaysAtItsPlace) {
  tw::GetDpiInfo().dpi = 144;
  CreateFrame();
  RECT r;
  GetWindowRect(wnd_->Hwnd(), &r);
  EXPECT_EQ(r.right - r.left, 1125);
  EXPECT_EQ(r.bottom - r.top, 795);
  RECT link;
  GetWindowRect(wnd_->homepageLink.Hwnd(), &link);
  MapWindowPoints(nullptr, wnd_->Hwnd(), reinterpret_cast<POINT*>(&link), 2);
  EXPECT_EQ(link.left, 20);
  EXPECT_EQ(link.top, 10);
  EXPECT_EQ(link.bottom - link.top, 45);
}

TEST_F(MainWndTest, KoreanTitleWhenTheSystemIsKorean) {
  tw::GetAppState().languageName = L"Korean";
  tw::GetAppState().isKorean = true;
  CreateFrame();
  wchar_t title[64] = {};
  GetWindowTextW(wnd_->Hwnd(), title, 64);
  EXPECT_STREQ(title, L"타른윅 온라인 설치");
}

TEST_F(MainWndTest, CreateAndStartHidesTheDownloadPageLinkAndStartsTheVersionCheck) {
  wnd_ = std::make_unique<tw::CMainWnd>();
  ASSERT_TRUE(wnd_->CreateAndStart());
  // Everything below is read before any transfer message is dispatched.
  const HWND window = wnd_->Hwnd();
  EXPECT_FALSE(IsWindowVisible(window));
  ASSERT_NE(wnd_->homepageLink.Hwnd(), nullptr);
  EXPECT_FALSE(IsWindowVisible(wnd_->homepageLink.Hwnd()));
  EXPECT_EQ(wnd_->homepageLink.url(), L"https://" TARNWICK_WEB_HOST L"/tarnwick/dl/");
  EXPECT_EQ(wnd_->homepageLink.text(), L"[Open Webpage]");
  EXPECT_EQ(wnd_->stage, tw::StageVersionCheck);
  EXPECT_EQ(wnd_->statusText, L"Checking version...");
  // Detach from the running transfer: its messages go to a window that no
  // longer exists.
  DestroyWindow(window);
}

TEST_F(MainWndTest, TimerOneShowsTheWindowOnTopAndTimerThreeTakesTheTopmostBack) {
  CreateFrame();
  wnd_->OnTimer(tw::TimerShowWindow);
  EXPECT_TRUE(IsWindowVisible(wnd_->Hwnd()));
  EXPECT_TRUE(IsTopmost());
  const ULONGLONG start = GetTickCount64();
  ASSERT_TRUE(twtest::PumpUntil([&] { return !IsTopmost(); }, 3000));
  const ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 250u);
  EXPECT_LE(elapsed, 1500u);
  EXPECT_TRUE(IsWindowVisible(wnd_->Hwnd()));
}

TEST_F(MainWndTest, PercentagesNeedAnAnnouncedLengthDuringTheSetupDownload) {
  CreateFrame();
  wnd_->stage = tw::StageVersionCheck;
  Send(tw::WM_XHTTP_START, 1, 1000);  // ignored during the version check
  EXPECT_EQ(wnd_->totalBytes, -1);
  Send(tw::WM_XHTTP_PROGRESS, 1, 500);
  EXPECT_TRUE(wnd_->statusText.empty());

  wnd_->stage = tw::StageSetupDownload;
  wnd_->ShowPercent(0);
  EXPECT_EQ(wnd_->statusText, L"0 %");
  Send(tw::WM_XHTTP_PROGRESS, 1, 500);  // before any START: nothing
  EXPECT_EQ(wnd_->statusText, L"0 %");
  Send(tw::WM_XHTTP_START, 1, 1000);
  EXPECT_EQ(wnd_->totalBytes, 1000);
  Send(tw::WM_XHTTP_PROGRESS, 1, 505);
  EXPECT_EQ(wnd_->statusText, L"51 %");  // MulDiv rounds
  EXPECT_EQ(wnd_->lastPercent, 51);
  Send(tw::WM_XHTTP_START, 1, -1);  // no length announced
  EXPECT_EQ(wnd_->totalBytes, -1);
  Send(tw::WM_XHTTP_PROGRESS, 1, 900);
  EXPECT_EQ(wnd_->statusText, L"51 %");
  // An empty body announced: no percentage rather than "-1 %".
  Send(tw::WM_XHTTP_START, 1, 0);
  Send(tw::WM_XHTTP_PROGRESS, 1, 0);
  EXPECT_EQ(wnd_->statusText, L"51 %");
  // A length above 2 GiB arrives negative as well.
  Send(tw::WM_XHTTP_START, 1, static_cast<LPARAM>(static_cast<int32_t>(0x80000000u)));
  Send(tw::WM_XHTTP_PROGRESS, 1, 900);
  EXPECT_EQ(wnd_->statusText, L"51 %");
}

TEST_F(MainWndTest, TheSamePercentageRepaintsOnce) {
  CreateFrame();
  ShowOnTop();
  wnd_->ShowPercent(7);
  EXPECT_TRUE(HasUpdateRegion());
  UpdateWindow(wnd_->Hwnd());
  ASSERT_FALSE(HasUpdateRegion());
  wnd_->ShowPercent(7);
  EXPECT_FALSE(HasUpdateRegion());
  EXPECT_EQ(wnd_->statusText, L"7 %");
  wnd_->SetStatusText(L"7 %");  // an equal text: nothing to paint
  EXPECT_FALSE(HasUpdateRegion());
  wnd_->SetStatusText(L"7 %%");
  EXPECT_TRUE(HasUpdateRegion());
}

TEST_F(MainWndTest, FailureShowsTheTextAndSetsExitCodeOne) {
  CreateFrame();
  wnd_->stage = tw::StageSetupDownload;
  wnd_->ShowFailure(L"Download failed.", L"err - test failure");
  EXPECT_EQ(wnd_->statusText, L"Download failed.");
  EXPECT_EQ(tw::GetAppState().exitCode, 1);
  EXPECT_EQ(wnd_->stage, tw::StageSetupDownload);  // stage is the caller's business
  EXPECT_FALSE(IsWindowVisible(wnd_->homepageLink.Hwnd()));
  twtest::PumpMessages(150);
  EXPECT_TRUE(IsWindow(wnd_->Hwnd()));  // not silent: the user closes it
}

TEST_F(MainWndTest, FailureInSilentModeClosesTheWindowThroughTimerTwo) {
  tw::GetAppState().silentMode = true;
  CreateFrame();
  const HWND window = wnd_->Hwnd();
  const int quitsBefore = twtest::QuitMessagesSeen();
  wnd_->ShowFailure(L"Version check failed.", L"err - test failure");
  EXPECT_EQ(tw::GetAppState().exitCode, 1);
  EXPECT_TRUE(twtest::PumpUntil([&] { return !IsWindow(window); }, 3000));
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(twtest::QuitMessagesSeen(), quitsBefore + 1);  // WM_DESTROY -> PostQuitMessage(0)
}

TEST_F(MainWndTest, SizeRebuildsTheBackBufferAndAMinimisedWindowHasNone) {
  CreateFrame();
  RECT client;
  GetClientRect(wnd_->Hwnd(), &client);
  EXPECT_EQ(wnd_->backBuffer.width(), client.right);
  EXPECT_EQ(wnd_->backBuffer.height(), client.bottom);
  SetWindowPos(wnd_->Hwnd(), nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
  GetClientRect(wnd_->Hwnd(), &client);
  EXPECT_EQ(wnd_->backBuffer.width(), client.right);
  EXPECT_EQ(wnd_->backBuffer.height(), client.bottom);
  EXPECT_EQ(wnd_->backBuffer.stride(), tw::DibBuffer::StrideFor(client.right));
  ShowWindow(wnd_->Hwnd(), SW_MINIMIZE);
  GetClientRect(wnd_->Hwnd(), &client);
  if (client.right == 0 || client.bottom == 0) {
    EXPECT_EQ(wnd_->backBuffer.bitmap(), nullptr);
  }
  ShowWindow(wnd_->Hwnd(), SW_RESTORE);
  EXPECT_NE(wnd_->backBuffer.bitmap(), nullptr);
}

// Paints: a white client area with the text block centred.
class MainWndPaintTest : public MainWndTest {
 protected:
  twtest::Capture PaintAndCapture(const std::wstring& text) {
    wnd_->SetStatusText(text);
    RedrawWindow(wnd_->Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    twtest::PumpMessages(50);
    return twtest::CaptureClient(wnd_->Hwnd());
  }
};

TEST_F(MainWndPaintTest, AnEmptyTextLeavesTheClientAreaWhite) {
  CreateFrame();
  ShowOnTop();
  const twtest::Capture capture = PaintAndCapture(L"");
  ASSERT_GT(capture.width, 0);
  RECT bounds;
  EXPECT_FALSE(capture.BoundsOfNot(0xFFFFFF, &bounds));
}

TEST_F(MainWndPaintTest, ShortTextIsCentredInTheClientArea) {
  CreateFrame();
  ShowOnTop();
  const twtest::Capture capture = PaintAndCapture(L"42 %");
  ASSERT_GT(capture.width, 0);
  EXPECT_EQ(capture.At(0, 0), 0xFFFFFFu);
  EXPECT_EQ(capture.At(capture.width - 1, capture.height - 1), 0xFFFFFFu);
  RECT ink;
  ASSERT_TRUE(capture.BoundsOfNot(0xFFFFFF, &ink));
  // Ink sits inside the text cell, so allow a few pixels of side bearing.
  const int leftGap = ink.left, rightGap = capture.width - ink.right;
  EXPECT_LE(std::abs(leftGap - rightGap), 6) << leftGap << " vs " << rightGap;
  const int topGap = ink.top, bottomGap = capture.height - ink.bottom;
  EXPECT_LE(std::abs(topGap - bottomGap), 16) << topGap << " vs " << bottomGap;
  // Black text on white.
  EXPECT_GT(capture.Count([](uint32_t p) { return p == 0; }), 10);
}

TEST_F(MainWndPaintTest, LongTextWrapsInsideTheMarginsAsACentredBlock) {
  CreateFrame();
  ShowOnTop();
  const std::wstring text =
      L"Version check failed. Please download the offline setup file. Version check failed. "
      L"Please download the offline setup file.";
  const twtest::Capture capture = PaintAndCapture(text);
  RECT ink;
  ASSERT_TRUE(capture.BoundsOfNot(0xFFFFFF, &ink));
  const int margin = tw::ScaleForDpi(20);
  EXPECT_GE(ink.left, margin);
  EXPECT_LE(ink.right, capture.width - margin);
  EXPECT_GT(ink.bottom - ink.top, 60);  // more than one line
  EXPECT_LE(std::abs(ink.top - (capture.height - ink.bottom)), 16);
}

}  // namespace
