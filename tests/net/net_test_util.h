// Helpers of the transfer tests: a window on the test thread that records the
// transfer messages, the local servers' URLs and the generated test bodies.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace nettest {

struct Message {
  UINT message;
  WPARAM id;
  LPARAM value;
  DWORD tick;  // GetTickCount when it arrived
};

// A message-only window of the calling thread; records every transfer
// message that reaches it.
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  HWND window() const { return window_; }
  // Pumps messages until WM_XHTTP_COMPLETE arrived or timeoutMs passed.
  // True when it arrived.
  bool WaitComplete(DWORD timeoutMs);
  // Pumps for the given time, whatever arrives.
  void Pump(DWORD ms);
  // Called on the test thread as COMPLETE arrives, before it is recorded.
  void OnComplete(std::function<void()> hook) { onComplete_ = std::move(hook); }

  const std::vector<Message>& messages() const { return messages_; }
  // The messages of one kind, in order of arrival.
  std::vector<Message> Of(UINT message) const;
  size_t Count(UINT message) const { return Of(message).size(); }
  // The names in order of arrival, e.g. "START,PROGRESS,COMPLETE"; runs of
  // PROGRESS are folded into one.
  std::string Sequence() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
  HWND window_ = nullptr;
  bool complete_ = false;
  std::vector<Message> messages_;
  std::function<void()> onComplete_;
};

// "http://127.0.0.1:PORT" and "https://localhost:PORT" of the fixture's
// servers (port variables TW_HTTP_PORT, TW_HTTPS_PORT, ...); empty when unset.
std::wstring HttpBase();
std::wstring HttpsBase(const wchar_t* portVariable);

// Byte i of a /gen/ body; the same formula as test_server.py's gen_byte.
inline uint8_t GenByte(uint64_t i) { return static_cast<uint8_t>((i * 31 + (i >> 11)) & 0xFF); }
std::string GenBody(size_t size);

}  // namespace nettest
