// Helpers of the transfer tests: a window of the test thread that records the
// transfer messages, the fixture's server URLs and the generated bodies.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace nettest {

struct Message {
  UINT message;
  LPARAM value;
  DWORD tick;  // GetTickCount when it arrived
};

// A message-only window that records every transfer message reaching it.
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder() { DestroyWindow(window_); }
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  HWND window() const { return window_; }
  // Pumps until WM_XHTTP_COMPLETE arrived; false after timeoutMs.
  bool WaitComplete(DWORD timeoutMs);
  std::vector<Message> Of(UINT message) const;
  // The value of the last message of that kind; -12345 when none came.
  LPARAM Last(UINT message) const;
  // The names in order of arrival, runs of PROGRESS folded: "START,PROGRESS,COMPLETE".
  std::string Sequence() const;

  std::vector<Message> messages;
  std::function<void()> onComplete;  // runs as COMPLETE arrives, before it is recorded

 private:
  HWND window_ = nullptr;
};

// "http://127.0.0.1:PORT" of the fixture's HTTP server, or "https://localhost:PORT"
// of the HTTPS server whose port variable is given; empty when unset.
std::wstring ServerBase(const wchar_t* portVariable = L"TW_HTTP_PORT");
// The first `size` bytes of every /gen/ body (test_server.py's formula).
std::string GenBody(size_t size);

}  // namespace nettest
