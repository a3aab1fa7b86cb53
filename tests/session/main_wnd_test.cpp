// CMainWnd driven through its messages and public calls, judged by what it
// paints; and the setup file names the session accepts.
#include "session/main_wnd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "app/app_state.h"
#include "harness/test_util.h"
#include "net/transfer_messages.h"
#include "session/setup_file_name.h"
#include "ui/dpi.h"
#include "ui/main_window_frame.h"

namespace {

bool IsTopmost(HWND window) { return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

class MainWndTest : public testing::Test {
 protected:
  void SetUp() override {
    tw::GetAppState() = tw::AppState();
    tw::GetAppState().languageName = L"English";
    // The setup download's file goes to a scratch folder, not the prefix's temporary folder.
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", twtest::MakeScratchFolder(L"mainwnd").c_str()));
    folder_ = tw::AcquirePrivateFolder();
    wnd_ = std::make_unique<tw::CMainWnd>(folder_);
    ASSERT_NE(tw::CreateMainWindowFrame(*wnd_, L"test"), nullptr);
    SendMessageW(wnd_->Hwnd(), WM_TIMER, tw::TimerShowWindow, 0);
    shownAt_ = GetTickCount64();
  }
  void TearDown() override { tw::GetAppState() = tw::AppState(); }

  void Send(UINT message, LPARAM value) { SendMessageW(wnd_->Hwnd(), message, 1, value); }
  twtest::Capture Painted() {
    RedrawWindow(wnd_->Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    return twtest::CaptureClient(wnd_->Hwnd());
  }
  // True when the window paints exactly as it does with `text` as its status,
  // which it then has.
  bool Shows(const std::wstring& text) {
    const twtest::Capture before = Painted();
    wnd_->SetStatusText(text);
    return before.width > 0 && Painted().pixels == before.pixels;
  }

  tw::PrivateFolder folder_;
  std::unique_ptr<tw::CMainWnd> wnd_;
  ULONGLONG shownAt_ = 0;
};

TEST_F(MainWndTest, TheShowTimerBringsTheWindowUpOnTopForAWhile) {
  EXPECT_TRUE(IsWindowVisible(wnd_->Hwnd()));
  EXPECT_TRUE(IsTopmost(wnd_->Hwnd()));
  ASSERT_TRUE(twtest::PumpUntil([&] { return !IsTopmost(wnd_->Hwnd()); }, 3000));
  EXPECT_GE(GetTickCount64() - shownAt_, 250u);
}

TEST_F(MainWndTest, PercentageOnlyDuringTheSetupDownloadAndOfAnAnnouncedLength) {
  Send(tw::WM_XHTTP_START, 1000);  // before the setup download: not its length
  // Without a mirror URL the download fails at once; its messages stay queued
  // (nothing here dispatches posted messages) until the window is gone.
  wnd_->StartSetupDownload();
  MSG queued;
  for (int i = 0; i < 500 && !PeekMessageW(&queued, wnd_->Hwnd(), tw::WM_XHTTP_COMPLETE, tw::WM_XHTTP_COMPLETE,
                                            PM_NOREMOVE); ++i) {
    Sleep(10);  // the transfer thread is done with the window's result record once COMPLETE is queued
  }
  EXPECT_TRUE(Shows(L"0 %"));
  Send(tw::WM_XHTTP_PROGRESS, 500);
  EXPECT_TRUE(Shows(L"0 %"));
  Send(tw::WM_XHTTP_START, 1000);
  Send(tw::WM_XHTTP_PROGRESS, 505);
  EXPECT_TRUE(Shows(L"51 %"));  // rounded
  // No length, an empty body, a length past 2 GiB (negative): no percentage.
  for (LPARAM length : {LPARAM(-1), LPARAM(0), LPARAM(INT32_MIN)}) {
    Send(tw::WM_XHTTP_START, length);
    Send(tw::WM_XHTTP_PROGRESS, 900);
    EXPECT_TRUE(Shows(L"51 %")) << length;
  }
}

TEST_F(MainWndTest, PaintsTheStatusAsACentredBlockInsideTheMarginsOnWhite) {
  const struct {
    int width, height;
    const wchar_t* text;
  } cases[] = {
      {750, 530, L""},
      {750, 530, L"42 %"},
      {400, 300, L"42 %"},
      {750, 530, L"Version check failed. Please download the offline setup file. Version check failed. Please "
                 L"download the offline setup file."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << wcslen(c.text));
    SetWindowPos(wnd_->Hwnd(), nullptr, 0, 0, c.width, c.height, SWP_NOMOVE | SWP_NOZORDER);
    wnd_->SetStatusText(c.text);
    const twtest::Capture capture = Painted();
    RECT ink;
    ASSERT_GT(capture.width, 0);
    if (!capture.BoundsOfNot(0xFFFFFF, &ink)) {
      EXPECT_EQ(c.text[0], L'\0') << "nothing painted";
      continue;
    }
    EXPECT_NE(c.text[0], L'\0') << "an empty status paints white";
    const int margin = tw::ScaleForDpi(20);
    EXPECT_GE(ink.left, margin);
    EXPECT_LE(ink.right, capture.width - margin);
    EXPECT_LE(std::abs(ink.left - (capture.width - ink.right)), 12);  // ink sits inside the text cells
    EXPECT_LE(std::abs(ink.top - (capture.height - ink.bottom)), 16);
  }
}

TEST(SetupFileName, OnlyPlainNamesInTheTemporaryFolderAreKept) {
  for (const wchar_t* name : {L"TARNWICK-SETUP.EXE", L"a..b.exe", L"...exe", L"console.exe", L"COM10.exe", L"LPT0.exe",
                              L"nul-setup.exe", L"conx"}) {
    EXPECT_EQ(tw::SanitizeSetupFileName(name), name);
  }
  const std::wstring defaulted[] = {
      L"", L"..", L". .", L"...", L"..\\x.exe", L"../x.exe", L"sub\\setup.exe", L"sub/setup.exe", L"\\x.exe",
      L"C:\\x.exe", L"c:x.exe", L"x.exe:stream", std::wstring(L"x.exe\0.dll", 10),  // the NUL would cut it short
      L"CON", L"con.exe", L"Nul.txt.exe", L"aux", L"PRN.", L"Com1 .exe", L"COM9", L"lpt1.exe", L"COM\u00B9.exe",
      L"CONIN$", L"conout$.exe"};
  for (const std::wstring& name : defaulted) EXPECT_EQ(tw::SanitizeSetupFileName(name), L"TARNWICK-SETUP.EXE") << name;
}

}  // namespace
