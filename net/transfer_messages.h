// Registered window messages by which the transfers report to a window.
// Registered during static initialisation, before any window exists.
#pragma once

#include <windows.h>

namespace tw {

extern const UINT WM_XHTTP_START;         // wParam id, lParam contentLength (-1: none)
extern const UINT WM_XHTTP_PROGRESS;      // wParam id, lParam bytes received so far
extern const UINT WM_XHTTP_COMPLETE;      // wParam id, lParam 1 success / 0 failure
extern const UINT WM_XHTTP_ERR;           // wParam id, lParam httperr
extern const UINT WM_XHTTP_ERR_SYS;       // wParam id, lParam syserr
extern const UINT WM_XHTTP_MULTI_CHOSEN;  // wParam id, lParam chosen slot 0..4

// Posts with retry: while the target's queue is full (ERROR_NOT_ENOUGH_QUOTA)
// tries again every 20 ms, at most 50 calls in all. Any other failure gives up.
bool PostTransferMessage(HWND window, UINT message, WPARAM id, LPARAM value);

}  // namespace tw
