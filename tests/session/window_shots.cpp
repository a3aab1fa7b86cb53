// Shows the main window in one state and saves what the screen shows of it
// (frame included) as a BMP file, for scripts/screenshots.sh:
//   tw_window_shots.exe English|Japanese|Korean checking|percent|failure|xp out.bmp
// The session is not started: the window is driven through its public calls.
#include <windows.h>

#include <string>

#include "app/app_state.h"
#include "config/ui_text.h"
#include "harness/test_util.h"
#include "session/main_wnd.h"
#include "ui/dpi.h"
#include "ui/main_window_frame.h"

namespace {

bool SaveWindowAsBmp(HWND window, const std::wstring& path) {
  RECT r;
  GetWindowRect(window, &r);
  BITMAPINFOHEADER header = {sizeof(header), r.right - r.left, r.bottom - r.top, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  header.biSizeImage = static_cast<DWORD>(tw::DibBuffer::StrideFor(header.biWidth) * header.biHeight);
  void* bits = nullptr;
  tw::UniqueBitmap bitmap(
      CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0));
  tw::UniqueMemoryDc memory(CreateCompatibleDC(nullptr));  // deleted before the bitmap it holds
  if (!bitmap || !memory) return false;
  SelectObject(memory.Get(), bitmap.Get());
  const HDC screen = GetDC(nullptr);
  BitBlt(memory.Get(), 0, 0, header.biWidth, header.biHeight, screen, r.left, r.top, SRCCOPY);
  ReleaseDC(nullptr, screen);
  GdiFlush();
  BITMAPFILEHEADER file = {0x4D42, 0, 0, 0, sizeof(BITMAPFILEHEADER) + sizeof(header)};
  file.bfSize = file.bfOffBits + header.biSizeImage;
  std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
  bytes.append(reinterpret_cast<const char*>(&header), sizeof(header));
  bytes.append(static_cast<const char*>(bits), header.biSizeImage);
  return twtest::WriteWholeFile(path, bytes);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  if (__argc < 4) return 2;
  const std::wstring language = __wargv[1];
  const std::wstring scene = __wargv[2];
  tw::ReadScreenDpi();
  tw::AppState& state = tw::GetAppState();
  state.languageName = language;
  state.isKorean = language == L"Korean";

  const tw::PrivateFolder none;  // the session, which works in it, does not run here
  tw::CMainWnd wnd(none);
  if (tw::CreateMainWindowFrame(wnd, tw::GetUiText(L"TITLE")) == nullptr) return 3;
  const bool xp = scene == L"xp";
  tw::XHyperLinkStatic link;  // the window's own link is made by the session, which does not run here
  tw::CreateCornerLink(link, wnd.Hwnd(), tw::GetUiText(L"TEXT_HOMEPAGE"),
                       xp ? L"http://www.tarnwick.example/tarnwick/old/" : L"https://www.tarnwick.example/tarnwick/dl/");
  ShowWindow(link.Hwnd(), (xp || scene == L"failure") ? SW_SHOW : SW_HIDE);
  if (scene == L"checking") {
    wnd.SetStatusText(tw::GetUiText(L"TEXT_VERSION_CHECKING"));
  } else if (scene == L"percent") {
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
  const bool saved = SaveWindowAsBmp(wnd.Hwnd(), __wargv[3]);
  DestroyWindow(wnd.Hwnd());
  return saved ? 0 : 4;
}
