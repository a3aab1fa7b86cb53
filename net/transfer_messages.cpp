#include "net/transfer_messages.h"

namespace tw {

// Registered during static initialisation in this order; all six live in this
// one translation unit so the order of definition is the order of registration.
const UINT WM_XHTTP_START = RegisterWindowMessageW(L"WM_XHTTP_START");
const UINT WM_XHTTP_PROGRESS = RegisterWindowMessageW(L"WM_XHTTP_PROGRESS");
const UINT WM_XHTTP_COMPLETE = RegisterWindowMessageW(L"WM_XHTTP_COMPLETE");
const UINT WM_XHTTP_ERR = RegisterWindowMessageW(L"WM_XHTTP_ERR");
const UINT WM_XHTTP_ERR_SYS = RegisterWindowMessageW(L"WM_XHTTP_ERR_SYS");
const UINT WM_XHTTP_MULTI_CHOSEN = RegisterWindowMessageW(L"WM_XHTTP_MULTI_CHOSEN");

bool PostTransferMessage(HWND window, UINT message, WPARAM id, LPARAM value) {
  constexpr int kBudgetMs = 1000;
  constexpr int kRetryMs = 20;
  int budget = kBudgetMs;
  for (;;) {
    if (PostMessageW(window, message, id, value)) return true;
    if (GetLastError() != ERROR_NOT_ENOUGH_QUOTA) return false;
    budget -= kRetryMs;
    Sleep(kRetryMs);
    if (budget <= 0) return false;
  }
}

}  // namespace tw
