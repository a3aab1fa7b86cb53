// The main window's frame: its class, style, size and placement, and the
// place of the link in its top-left corner.
#pragma once

#include <windows.h>

#include <string>

#include "ui/hyperlink_static.h"
#include "ui/window_base.h"

namespace tw {

constexpr wchar_t kMainWindowClassName[] = L"TarnwickOnlineSetupClass";
constexpr WORD kMainIconResource = 107;
constexpr DWORD kMainWindowStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
                                   WS_CLIPCHILDREN | WS_CLIPSIBLINGS;

// Creates window's hidden top-level window at (0, 0) with an outer size of
// ScaleForDpi(750) x ScaleForDpi(530) and centres it on its monitor. Null
// with the last error when it cannot be created.
HWND CreateMainWindowFrame(CWindowImpl& window, const std::wstring& title);

// Creates the link at (20, 10) (unscaled), ScaleForDpi(30) high, on a white
// background, and leaves it visible.
bool CreateCornerLink(XHyperLinkStatic& link, HWND parent, const std::wstring& text,
                      const std::wstring& url);

}  // namespace tw
