#include "session/transfer_options.h"

#include "app/app_state.h"

namespace tw {

XHttpOptions MakeSessionTransferOptions(HWND window) {
  XHttpOptions options;
  options.dialogParent = window;
  options.connectTimeout = 30000;
  options.receiveTimeout = 30000;
  options.connectRetries = 20;
  // Where nobody can see the proxy's dialog it would wait for ever: a 407 then
  // fails as any 4xx does.
  options.allowAuthDialog = GetAppState().hiddenStation ? 0 : 1;
  options.pickBytes = 262144;
  options.pickMs = 30000;
  return options;
}

XHttpOptions MakeVersionCheckOptions(HWND window) {
  XHttpOptions options = MakeSessionTransferOptions(window);
  options.bodyDeadlineMs = kVersionBodyDeadlineMs;
  return options;
}

}  // namespace tw
