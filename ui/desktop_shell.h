// Web pages opened for the signed-in user, never with this process's token:
// the program runs elevated, and a browser started with an administrator's
// token (one typed in for a standard user) would hand that user an
// administrator's file dialogs.
#pragma once

#include <windows.h>

#include <string>

namespace tw {

// Asks the shell that runs the desktop to open `url` in its own process (its
// IShellDispatch2::ShellExecute, reached from the desktop's entry in
// ShellWindows), so that the browser runs with the desktop user's token. COM
// must be initialised on the calling thread. False when no desktop shell
// answers or it refuses; nothing is opened then.
bool OpenUrlAsDesktopUser(const std::wstring& url);

// Puts `text` on the clipboard as Unicode text, for the user to paste; false
// when the clipboard cannot be had. `owner` is the window that owns it.
bool CopyTextToClipboard(HWND owner, const std::wstring& text);

}  // namespace tw
