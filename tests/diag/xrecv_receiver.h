// A stand-in for the debugging tool's receiver: a top-level window of the
// dialog class "#32770" titled "XRecv" that records every WM_COPYDATA it gets.
// Create and use it on one thread; the senders reach it by SendMessageW.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace twtest {

struct ReceivedTrace {
  WPARAM wParam = 0;
  ULONG_PTR dwData = 0;
  DWORD cbData = 0;
  std::wstring text;            // the characters before the first null within cbData
  bool nullTerminated = false;  // the last character within cbData is a null
};

class XRecvReceiver {
 public:
  XRecvReceiver();
  ~XRecvReceiver();
  XRecvReceiver(const XRecvReceiver&) = delete;
  XRecvReceiver& operator=(const XRecvReceiver&) = delete;

  bool IsValid() const { return window_ != nullptr; }
  const std::vector<ReceivedTrace>& Traces() const { return traces_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  WNDPROC dialogProc_ = nullptr;  // the class's own procedure, for everything else
  std::vector<ReceivedTrace> traces_;
};

}  // namespace twtest
