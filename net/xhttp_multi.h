// One file raced from up to five mirror URLs; the leader's body goes to the file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "net/xhttp.h"
#include "support/ref_counted.h"

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

// The outcome of one transfer, shared by the caller and the transfer's
// controller thread: each holds a reference, so the thread's writes always land
// in a live record, also when the caller lets go first (a window closed during
// the download). Written by the controller before it posts the message that
// tells of the change; the caller reads it only after that message.
class XHttpMultiResult : public RefCounted<XHttpMultiResult> {
 public:
  // A new record: chosenUrl empty, chosenIndex -1, the rest 0.
  static RefPtr<XHttpMultiResult> Create() { return RefPtr<XHttpMultiResult>(new XHttpMultiResult); }

  std::wstring chosenUrl;
  int32_t chosenIndex = -1;
  int32_t errLine = 0;
  int32_t httperr = 0;
  uint32_t syserr = 0;

 private:
  friend class RefCounted<XHttpMultiResult>;
  XHttpMultiResult() = default;
  ~XHttpMultiResult() = default;
};

// Starts the transfer; it keeps a reference to result until its controller
// thread has ended. False (last error set) when the file cannot be created or
// the thread cannot start.
bool XHttpMulti_GetAsync(const XHttpMultiRequest& request, const XHttpOptions* options,
                         const RefPtr<XHttpMultiResult>& result);

}  // namespace tw
