#include "ui/hyperlink_static.h"

#include "ui/desktop_shell.h"

namespace tw {
namespace {

UINT g_notifyMessage = 0;  // written once by the first constructor (UI thread)

// A class of the control's own; its background is never seen because the
// control erases and paints everything itself.
WindowClassInfo g_linkClass = {nullptr,   CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS,
                               reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)),
                               0,         IDC_ARROW, 0, {}};

HFONT FontOf(HWND window) {
  return reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
}

}  // namespace

UINT HyperlinkNotifyMessage() { return g_notifyMessage; }

UINT HyperlinkDrawFormat(DWORD style) {
  UINT format;
  if (style & kHyperlinkCenterImage) {
    format = DT_VCENTER | DT_SINGLELINE;
  } else if (style & (0x4 | 0x8)) {
    format = DT_SINGLELINE;
  } else {
    format = DT_WORDBREAK;
  }
  if (style & 0x1) format |= DT_CENTER;
  if (style & 0x2) format |= DT_RIGHT;
  if (style & 0x4000) format |= DT_END_ELLIPSIS;
  if (style & 0x8000) format |= DT_PATH_ELLIPSIS | DT_SINGLELINE;
  return format;
}

bool HyperlinkOpensUrl(const std::wstring& url) {
  return !url.empty() && url != L"URL_NULL";
}

XHyperLinkStatic::XHyperLinkStatic()
    : handCursor_(LoadCursorW(nullptr, IDC_HAND)), backgroundColor_(GetSysColor(COLOR_BTNFACE)) {
  if (g_notifyMessage == 0) g_notifyMessage = RegisterWindowMessageW(L"WM_HYPERLINK_STATIC_NOTIFY");
}

bool XHyperLinkStatic::Create(HWND parent, const std::wstring& text, const std::wstring& url,
                              int left, int top, int height) {
  if (text.empty() || url.empty()) return true;
  if (CWindowImpl::Create(g_linkClass, parent, nullptr, text.c_str(),
                          WS_CHILD | WS_VISIBLE | kHyperlinkCenterImage, 0) == nullptr) {
    return false;
  }
  url_ = url;
  text_ = text;
  if (normalFont_ == nullptr) {
    normalFont_ = FontOf(parent);
    if (normalFont_ == nullptr) normalFont_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTW font = {};
    if (GetObjectW(normalFont_, sizeof(font), &font) == sizeof(font)) {
      font.lfUnderline = TRUE;
      underlineFont_.Reset(CreateFontIndirectW(&font));
    }
  }
  FitToText(left, top, height);
  return true;
}

void XHyperLinkStatic::FitToText(int left, int top, int height) {
  const HWND window = Hwnd();
  SIZE extent = {};
  const HDC dc = GetDC(window);
  if (dc != nullptr) {
    HFONT font = FontOf(window);
    if (font == nullptr) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    const HGDIOBJ previous = SelectObject(dc, font);
    GetTextExtentPoint32W(dc, text_.c_str(), static_cast<int>(text_.size()), &extent);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
  }
  MoveWindow(window, left, top, extent.cx + 5, height, TRUE);
}

bool XHyperLinkStatic::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam,
                                            LPARAM /*lParam*/, LRESULT& result, DWORD /*mapId*/) {
  result = 0;
  switch (message) {
    case WM_NCHITTEST:
      result = HTCLIENT;
      return true;
    case WM_PAINT:
      OnPaint();
      return true;
    case WM_ERASEBKGND:
      OnEraseBackground(reinterpret_cast<HDC>(wParam));
      return true;
    case WM_LBUTTONDOWN:
      pressed_ = 1;
      SetCapture(window);
      return true;
    case WM_LBUTTONUP:
      if (pressed_) OnButtonUp();
      return true;
    case WM_MOUSEMOVE:
      OnMouseMove();
      return false;
    case WM_MOUSELEAVE:
      hovering_ = 0;
      InvalidateRect(window, nullptr, FALSE);
      return false;
    case WM_DESTROY:
      RestorePreviousProc();
      return false;
    default:
      return false;
  }
}

void XHyperLinkStatic::OnPaint() {
  const HWND window = Hwnd();
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(window, &paint);
  if (dc == nullptr) return;
  RECT client;
  GetClientRect(window, &client);
  SetBkColor(dc, backgroundColor_);
  HGDIOBJ previousFont;
  if (hovering_) {
    SetTextColor(dc, RGB(255, 0, 0));
    previousFont = SelectObject(dc, underlineFont_.Get());
  } else {
    SetTextColor(dc, RGB(0, 0, 255));
    previousFont = SelectObject(dc, normalFont_);
  }
  const UINT format = HyperlinkDrawFormat(static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)));
  DrawTextW(dc, text_.c_str(), -1, &client, format);
  if (previousFont != nullptr) SelectObject(dc, previousFont);
  EndPaint(window, &paint);
}

void XHyperLinkStatic::OnEraseBackground(HDC dc) {
  RECT client;
  GetClientRect(Hwnd(), &client);
  const COLORREF previous = SetBkColor(dc, backgroundColor_);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &client, nullptr, 0, nullptr);
  SetBkColor(dc, previous);
}

void XHyperLinkStatic::OnButtonUp() {
  pressed_ = 0;
  ReleaseCapture();
  POINT cursor;
  RECT bounds;
  if (!GetCursorPos(&cursor) || !GetWindowRect(Hwnd(), &bounds)) return;
  if (!PtInRect(&bounds, cursor)) return;
  // With no target the post lands in this thread's queue, where no window
  // takes it.
  PostMessageW(notifyTarget_, g_notifyMessage, reinterpret_cast<WPARAM>(this), 0);
  // Never opened with this process's token: by the desktop shell, or the
  // user gets the address.
  if (HyperlinkOpensUrl(url_) && !OpenUrlAsDesktopUser(url_)) ShowUrlInstead();
}

void XHyperLinkStatic::ShowUrlInstead() {
  const HWND window = Hwnd();
  CopyTextToClipboard(window, url_);  // best effort: the link shows the address as well
  if (text_ == url_) return;
  text_ = url_;
  SetWindowTextW(window, text_.c_str());
  RECT bounds = {};
  GetWindowRect(window, &bounds);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&bounds), 2);
  FitToText(bounds.left, bounds.top, bounds.bottom - bounds.top);
}

void XHyperLinkStatic::OnMouseMove() {
  SetCursor(handCursor_);
  if (hovering_) return;
  const HWND window = Hwnd();
  InvalidateRect(window, nullptr, FALSE);
  TRACKMOUSEEVENT track = {};
  track.cbSize = sizeof(track);
  track.dwFlags = TME_HOVER | TME_LEAVE;
  track.hwndTrack = window;
  track.dwHoverTime = 1;  // ms
  hovering_ = TrackMouseEvent(&track);
}

}  // namespace tw
