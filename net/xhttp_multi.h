// One file raced from up to five mirror URLs; the leader's body goes to the file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "net/xhttp.h"

namespace tw {

enum XHttpMultiError : int {
  XHttpMultiErrNoUrl = 100,
  XHttpMultiErrLengthMismatch = 101,
  XHttpMultiErrStopped = 102,
  XHttpMultiErrFileWrite = 103,
  XHttpMultiErrBodyTooLarge = 104,
  XHttpMultiErrNoMirror = 199,
};

struct XHttpMultiRequest {
  std::wstring urls[5];          // empty = slot unused
  std::wstring filePath;         // target file, created anew
  HWND targetWindow = nullptr;
  std::wstring agent = L"XHttpMulti";
  uint32_t sleepInterval = 0;    // ms before each start after the first
};

// Owned by the caller, kept alive until WM_XHTTP_COMPLETE; written by the
// controller thread before it posts the message that tells of the change.
struct XHttpMultiResult {
  std::wstring chosenUrl;
  int32_t chosenIndex = -1;
  int32_t errLine = 0;
  int32_t httperr = 0;
  uint32_t syserr = 0;
};

bool XHttpMulti_GetAsync(const XHttpMultiRequest& request, const XHttpOptions* options,
                         XHttpMultiResult* result);

}  // namespace tw
