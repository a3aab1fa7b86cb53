// CMainWnd's window side: construction, creation and the start of the
// session, the message map, the timers, the status line and percentage, the
// failure display, and the double-buffered painting of the status text.
#include "session/main_wnd.h"

#include "app/app_state.h"
#include "config/ui_text.h"
#include "diag/error_report.h"
#include "diag/os_info.h"
#include "diag/setup_log.h"
#include "net/transfer_messages.h"
#include "support/format_text.h"
#include "ui/dpi.h"
#include "ui/main_window_frame.h"
#include "ui/status_font.h"

namespace tw {
namespace {

constexpr UINT kShowDelayMs = 300;
constexpr UINT kTopmostMs = 300;
constexpr UINT kSilentCloseMs = 10;

// Windows 2000 and XP (OsId 1..5) get the notice instead of the session.
constexpr int kFirstSupportedOsId = 6;

std::wstring OldVersionPageUrl() { return L"http://" TARNWICK_WEB_HOST L"/tarnwick/old/"; }
std::wstring DownloadPageUrl() { return L"https://" TARNWICK_WEB_HOST L"/tarnwick/dl/"; }

// A silent run, or one on a window station that is not interactive (a
// service's, a LocalSystem deployment's): a window that waits for the user
// there would wait for ever, so a failed run closes itself.
bool NobodyClosesTheWindow() {
  const AppState& state = GetAppState();
  return state.silentMode || state.hiddenStation;
}

}  // namespace

CMainWnd::CMainWnd(const PrivateFolder& folder) : privateFolder(folder) { statusFont.Reset(CreateStatusFont()); }

// The font, the buffer and the link go with their owners; the window (when it
// still exists) with the base.
CMainWnd::~CMainWnd() = default;

bool CMainWnd::CreateAndStart() {
  if (CreateMainWindowFrame(*this, GetUiText(L"TITLE")) == nullptr) return false;

  if (GetOsId() < kFirstSupportedOsId) {
    statusText = GetUiText(L"TEXT_XP");
    CreateCornerLink(homepageLink, Hwnd(), GetUiText(L"TEXT_HOMEPAGE"), OldVersionPageUrl());
    if (NobodyClosesTheWindow()) {
      // Nobody would ever close a window that shows a notice: end the run at
      // once, as a run that did not install (no report, no transfer).
      GetAppState().exitCode = 1;
      SetTimer(Hwnd(), TimerCloseSilent, kSilentCloseMs, nullptr);
    }
  } else {
    CreateCornerLink(homepageLink, Hwnd(), GetUiText(L"TEXT_HOMEPAGE"), DownloadPageUrl());
    ShowWindow(homepageLink.Hwnd(), SW_HIDE);
    StartCheckVersion();
  }
  if (!GetAppState().silentMode) SetTimer(Hwnd(), TimerShowWindow, kShowDelayMs, nullptr);
  return true;
}

bool CMainWnd::ProcessWindowMessage(HWND /*window*/, UINT message, WPARAM wParam, LPARAM lParam,
                                    LRESULT& result, DWORD /*mapId*/) {
  result = 0;
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return true;
    case WM_PAINT:
      result = OnPaint();
      return true;
    case WM_COMMAND:
      // The accelerator commands 104 and 32771 end here without effect.
      return true;
    case WM_TIMER:
      OnTimer(wParam);
      return true;
    case WM_SIZE:
      OnSize();
      return true;
    default:
      break;
  }
  // The registered transfer messages; wParam (the transfer id) is not looked
  // at: one transfer runs at a time and the stage tells them apart.
  if (message == WM_XHTTP_START) {
    if (stage == StageSetupDownload) totalBytes = static_cast<int32_t>(lParam);
    return true;
  }
  if (message == WM_XHTTP_PROGRESS) {
    // An announced length of 0 gives no percentage (MulDiv would answer -1).
    if (totalBytes > 0) ShowPercent(MulDiv(static_cast<int>(lParam), 100, totalBytes));
    return true;
  }
  if (message == WM_XHTTP_COMPLETE) {
    OnXHttpComplete(static_cast<int>(lParam));
    return true;
  }
  if (message == WM_XHTTP_ERR) {
    OnXHttpErr(static_cast<int>(lParam));
    return true;
  }
  if (message == WM_XHTTP_ERR_SYS) {
    OnXHttpErrSys(static_cast<DWORD>(lParam));
    return true;
  }
  // Read for the local log only; it stays unhandled.
  if (message == WM_XHTTP_MULTI_CHOSEN && stage == StageSetupDownload && lParam >= 0 && lParam < 5) {
    AppendSetupLog(FormatText(L"mirror %d chosen: %s", static_cast<int>(lParam) + 1,
                              MaskUrlCredentials(setupUrls[lParam]).c_str()));
  }
  return false;
}

void CMainWnd::OnTimer(UINT_PTR id) {
  const HWND window = Hwnd();
  switch (id) {
    case TimerShowWindow:
      KillTimer(window, TimerShowWindow);
      ShowWindow(window, SW_SHOW);
      SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      SetTimer(window, TimerNotTopmost, kTopmostMs, nullptr);
      break;
    case TimerNotTopmost:
      KillTimer(window, TimerNotTopmost);
      SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      break;
    case TimerCloseSilent:
      KillTimer(window, TimerCloseSilent);
      PostMessageW(window, WM_CLOSE, 0, 0);
      break;
    default:
      break;
  }
}

void CMainWnd::SetStatusText(const std::wstring& text) {
  if (text == statusText) return;
  statusText = text;
  InvalidateRect(Hwnd(), nullptr, TRUE);
}

void CMainWnd::ShowPercent(int percent) {
  if (percent == lastPercent) return;
  lastPercent = percent;
  SetStatusText(FormatText(L"%d %%", percent));
}

void CMainWnd::ShowFailure(const std::wstring& text, const std::wstring& log) {
  SetStatusText(text);
  ReportSetupFailure(log);
  AppState& state = GetAppState();
  state.exitCode = 1;
  if (NobodyClosesTheWindow()) SetTimer(Hwnd(), TimerCloseSilent, kSilentCloseMs, nullptr);
}

void CMainWnd::OnSize() {
  RECT client = {};
  GetClientRect(Hwnd(), &client);
  backBuffer.Release();
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return;  // minimised: stays empty until restored
  backBuffer.Create(width, height);       // reports its own failure to the debug receiver
}

LRESULT CMainWnd::OnPaint() {
  const HWND window = Hwnd();
  const HDC dc = backBuffer.DrawingDc();
  if (dc != nullptr) {
    const HGDIOBJ previousFont = statusFont ? SelectObject(dc, statusFont.Get()) : nullptr;
    backBuffer.FillWhite();
    const int margin = ScaleForDpi(20);
    const RECT area = {margin, margin, backBuffer.width() - margin, backBuffer.height() - margin};
    RECT block = area;
    const int length = static_cast<int>(statusText.size());
    DrawTextW(dc, statusText.c_str(), length, &block, DT_CALCRECT | DT_WORDBREAK);
    const int blockWidth = block.right - block.left;
    const int blockHeight = block.bottom - block.top;
    const int x = ((area.right - area.left) - blockWidth) / 2 + margin;
    const int y = ((area.bottom - area.top) - blockHeight) / 2 + margin;
    block = {x, y, x + blockWidth, y + blockHeight};
    DrawTextW(dc, statusText.c_str(), length, &block, DT_WORDBREAK);
    if (previousFont != nullptr) SelectObject(dc, previousFont);
  }
  PAINTSTRUCT paint;
  const HDC target = BeginPaint(window, &paint);
  if (target != nullptr) {
    backBuffer.CopyTo(target);  // an empty buffer copies nothing; the paint still ends
    EndPaint(window, &paint);
  }
  return 0;
}

}  // namespace tw
