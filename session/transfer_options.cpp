#include "session/transfer_options.h"

namespace tw {

XHttpOptions MakeSessionTransferOptions(HWND window) {
  XHttpOptions options;
  options.dialogParent = window;
  options.connectTimeout = 30000;
  options.receiveTimeout = 30000;
  options.connectRetries = 20;
  options.allowAuthDialog = 1;
  options.pickBytes = 262144;
  options.pickMs = 30000;
  return options;
}

}  // namespace tw
