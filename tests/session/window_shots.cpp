// Shows the main window in one state and saves what the screen shows of it
// (frame included) as a BMP file, for scripts/screenshots.sh:
//   tw_window_shots.exe English|Japanese|Korean checking|percent|failure|xp out.bmp
// The session is not started: the window side is driven directly.
#include <windows.h>

#include <string>

#include "app/app_state.h"
#include "config/ui_text.h"
#include "session/main_wnd.h"
#include "ui/dpi.h"
#include "ui/main_window_frame.h"
#include "ui/window_test_util.h"

namespace {

// What the screen shows of the window, frame included.
twtest::Capture CaptureWholeWindow(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  const HDC screen = GetDC(nullptr);
  twtest::Capture capture = twtest::CaptureRect(screen, r.left, r.top, r.right - r.left, r.bottom - r.top);
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return capture;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  if (__argc < 4) return 2;
  const std::wstring language = __wargv[1];
  const std::wstring scene = __wargv[2];
  const std::wstring out = __wargv[3];
  tw::ReadScreenDpi();
  tw::AppState& state = tw::GetAppState();
  state.languageName = language;
  state.isKorean = language == L"Korean";

  tw::CMainWnd wnd;
  if (tw::CreateMainWindowFrame(wnd, tw::GetUiText(L"TITLE")) == nullptr) return 3;
  const bool xp = scene == L"xp";
  tw::CreateCornerLink(wnd.homepageLink, wnd.Hwnd(), tw::GetUiText(L"TEXT_HOMEPAGE"),
                       xp ? L"http://www.tarnwick.example/tarnwick/old/"
                          : L"https://www.tarnwick.example/tarnwick/dl/");
  ShowWindow(wnd.homepageLink.Hwnd(), (xp || scene == L"failure") ? SW_SHOW : SW_HIDE);
  if (scene == L"checking") {
    wnd.SetStatusText(tw::GetUiText(L"TEXT_VERSION_CHECKING"));
  } else if (scene == L"percent") {
    wnd.stage = tw::StageSetupDownload;
    wnd.ShowPercent(42);
  } else if (scene == L"failure") {
    wnd.SetStatusText(tw::GetUiText(L"TEXT_VERSION_CHECK_FAILED"));
  } else if (xp) {
    wnd.SetStatusText(tw::GetUiText(L"TEXT_XP"));
  } else {
    return 2;
  }
  wnd.OnTimer(tw::TimerShowWindow);  // shown on top, as 300 ms after the start
  twtest::PumpMessages(800);
  UpdateWindow(wnd.Hwnd());
  twtest::PumpMessages(200);
  const bool saved = twtest::SaveBmp(CaptureWholeWindow(wnd.Hwnd()), out);
  DestroyWindow(wnd.Hwnd());
  return saved ? 0 : 4;
}
