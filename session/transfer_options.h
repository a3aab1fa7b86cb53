// The transfer options that both downloads of the session use.
#pragma once

#include <windows.h>

#include "net/xhttp.h"

namespace tw {

// The defaults, then: proxy dialog owned by `window` and allowed (also in
// silent mode) unless nobody can see it (AppState::hiddenStation), 30 s
// connect and receive time-outs, 20 connection retries, pickMs 30000
// (pickBytes stays 262,144).
XHttpOptions MakeSessionTransferOptions(HWND window);

// ms within which the version-info file's whole body must have arrived: it is
// a few hundred bytes, and the stall rule alone would let a server drip it up
// to the size limit (30 MiB) for weeks.
constexpr uint32_t kVersionBodyDeadlineMs = 60000;
// The session's options with that deadline.
XHttpOptions MakeVersionCheckOptions(HWND window);

}  // namespace tw
