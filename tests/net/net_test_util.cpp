#include "net_test_util.h"

#include "harness/test_env.h"
#include "net/transfer_messages.h"

namespace nettest {

namespace {
const wchar_t kClassName[] = L"TwNetTestRecorder";
}

MessageRecorder::MessageRecorder() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClassName;
  RegisterClassW(&wc);  // fails harmlessly when already registered
  window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            wc.hInstance, nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageRecorder::~MessageRecorder() {
  if (window_ != nullptr) DestroyWindow(window_);
}

LRESULT CALLBACK MessageRecorder::WindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  auto* self = reinterpret_cast<MessageRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr &&
      (message == tw::WM_XHTTP_START || message == tw::WM_XHTTP_PROGRESS ||
       message == tw::WM_XHTTP_COMPLETE || message == tw::WM_XHTTP_ERR ||
       message == tw::WM_XHTTP_ERR_SYS || message == tw::WM_XHTTP_MULTI_CHOSEN)) {
    if (message == tw::WM_XHTTP_COMPLETE) {
      if (self->onComplete_) self->onComplete_();
      self->complete_ = true;
    }
    self->messages_.push_back({message, wParam, lParam, GetTickCount()});
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool MessageRecorder::WaitComplete(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!complete_) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  return true;
}

void MessageRecorder::Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

std::vector<Message> MessageRecorder::Of(UINT message) const {
  std::vector<Message> out;
  for (const Message& m : messages_)
    if (m.message == message) out.push_back(m);
  return out;
}

std::string MessageRecorder::Sequence() const {
  std::string out;
  const char* last = nullptr;
  for (const Message& m : messages_) {
    const char* name = m.message == tw::WM_XHTTP_START      ? "START"
                       : m.message == tw::WM_XHTTP_PROGRESS ? "PROGRESS"
                       : m.message == tw::WM_XHTTP_COMPLETE ? "COMPLETE"
                       : m.message == tw::WM_XHTTP_ERR      ? "ERR"
                       : m.message == tw::WM_XHTTP_ERR_SYS  ? "ERR_SYS"
                                                            : "CHOSEN";
    if (last == name && m.message == tw::WM_XHTTP_PROGRESS) continue;
    if (!out.empty()) out += ",";
    out += name;
    last = name;
  }
  return out;
}

std::wstring HttpBase() {
  const std::wstring port = twtest::GetEnv(L"TW_HTTP_PORT");
  return port.empty() ? std::wstring() : L"http://127.0.0.1:" + port;
}

std::wstring HttpsBase(const wchar_t* portVariable) {
  const std::wstring port = twtest::GetEnv(portVariable);
  return port.empty() ? std::wstring() : L"https://localhost:" + port;
}

std::string GenBody(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>(GenByte(i));
  return body;
}

}  // namespace nettest
