// The WinINet functions the transfers call, looked up once from the system's
// wininet.dll (it is not a known DLL, so it is loaded from System32 only and
// only when the first transfer starts, never through the import table).
#pragma once

#include <windows.h>
#include <wininet.h>

namespace tw {

#define TW_WININET_FUNCTIONS(X)                                                          \
  X(InternetCrackUrlA) X(InternetOpenW) X(InternetSetOptionW) X(InternetQueryOptionW)   \
  X(InternetConnectA) X(HttpOpenRequestA) X(HttpAddRequestHeadersW) X(HttpSendRequestW) \
  X(HttpQueryInfoA) X(InternetErrorDlg) X(InternetQueryDataAvailable) X(InternetReadFile) \
  X(InternetCloseHandle)

// One pointer per function, each of the function's declared type.
struct WinInetApi {
#define TW_WININET_MEMBER(name) decltype(&::name) name;
  TW_WININET_FUNCTIONS(TW_WININET_MEMBER)
#undef TW_WININET_MEMBER
};

// The table, loaded on first use by any thread and kept for the process's
// life. Null when wininet.dll or one of its functions cannot be had; the last
// error is then the loader's.
const WinInetApi* GetWinInetApi();

}  // namespace tw
