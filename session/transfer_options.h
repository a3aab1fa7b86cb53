// The transfer options that both downloads of the session use.
#pragma once

#include <windows.h>

#include "net/xhttp.h"

namespace tw {

// The defaults, then: proxy dialog owned by `window` and allowed (also in
// silent mode), 30 s connect and receive time-outs, 20 connection retries,
// pickMs 30000 (pickBytes stays 262,144).
XHttpOptions MakeSessionTransferOptions(HWND window);

}  // namespace tw
