// Move-only owner of a WinINet handle (session, connection or request).
#pragma once

#include <windows.h>
#include <wininet.h>

#include "net/wininet_api.h"
#include "support/unique_handle.h"

namespace tw {

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() noexcept { return nullptr; }
  // A handle exists only once the WinINet table has been loaded.
  static void Close(Handle h) noexcept { GetWinInetApi()->InternetCloseHandle(h); }
};
using UniqueInternet = UniqueHandle<InternetHandleTraits>;

}  // namespace tw
