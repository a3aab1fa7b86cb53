// A one-line web link as a child window: blue text, red and underlined while
// the mouse is over it with the hand cursor; a click posts
// "WM_HYPERLINK_STATIC_NOTIFY" to the notify target and has the desktop shell
// open the URL for the signed-in user (ui/desktop_shell.h); where none does,
// the link shows the address instead and puts it on the clipboard.
#pragma once

#include <windows.h>

#include <string>

#include "support/unique_handle.h"
#include "ui/window_base.h"

namespace tw {

// The registered "WM_HYPERLINK_STATIC_NOTIFY" (wParam: the control object's
// address, lParam 0); 0 until the first control is constructed.
UINT HyperlinkNotifyMessage();

// Style bit of the control: one line, centred vertically.
constexpr DWORD kHyperlinkCenterImage = 0x200;

// The DrawTextW format for a control window style.
UINT HyperlinkDrawFormat(DWORD style);
// Whether a click opens the URL: not when empty or exactly "URL_NULL".
bool HyperlinkOpensUrl(const std::wstring& url);

class XHyperLinkStatic : public CWindowImpl {
 public:
  XHyperLinkStatic();
  ~XHyperLinkStatic() override = default;

  // Creates the child window at (left, top), as wide as its text + 5 pixels
  // and height pixels high. Empty text or URL: no window, and success.
  bool Create(HWND parent, const std::wstring& text, const std::wstring& url, int left, int top,
              int height);

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            LRESULT& result, DWORD mapId) override;

  void SetBackgroundColor(COLORREF color) { backgroundColor_ = color; }
  void SetNotifyTarget(HWND target) { notifyTarget_ = target; }

  const std::wstring& url() const { return url_; }
  const std::wstring& text() const { return text_; }
  bool hovering() const { return hovering_ != 0; }
  bool pressed() const { return pressed_ != 0; }
  COLORREF backgroundColor() const { return backgroundColor_; }

 private:
  void OnPaint();
  void OnEraseBackground(HDC dc);
  void OnButtonUp();
  void OnMouseMove();
  void FitToText(int left, int top, int height);
  // The address as the link's text and on the clipboard, for the user to
  // open himself.
  void ShowUrlInstead();

  HWND notifyTarget_ = nullptr;
  std::wstring url_;
  std::wstring text_;
  HFONT normalFont_ = nullptr;  // borrowed: the parent's font or a stock font
  UniqueFont underlineFont_;    // owned
  LONG hovering_ = 0;           // non-zero while mouse-leave tracking is active
  HCURSOR handCursor_ = nullptr;  // shared system cursor
  COLORREF backgroundColor_;
  LONG pressed_ = 0;
};

}  // namespace tw
