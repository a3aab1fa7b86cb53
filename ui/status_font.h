// The main window's status font, derived from the icon-title font.
#pragma once

#include <windows.h>

#include <string>

namespace tw {

// The icon-title font's face name and lfHeight; "System" and 10 when the
// system cannot tell.
std::wstring GetIconTitleFont(LONG* height);
// trunc(-(2 * h * dpi / 72)) with 2 * h as a float: a negative lfHeight gives
// a positive cell height (-12 at 96 DPI gives 32).
int StatusFontHeight(LONG iconTitleHeight, unsigned dpi);
// The font (weight 400, ClearType quality); null when it cannot be made.
HFONT CreateStatusFont();

}  // namespace tw
