#include "net_test_util.h"

#include "harness/test_util.h"
#include "net/transfer_messages.h"

namespace nettest {
namespace {

const char* NameOf(UINT message) {
  if (message == tw::WM_XHTTP_START) return "START";
  if (message == tw::WM_XHTTP_PROGRESS) return "PROGRESS";
  if (message == tw::WM_XHTTP_COMPLETE) return "COMPLETE";
  if (message == tw::WM_XHTTP_ERR) return "ERR";
  if (message == tw::WM_XHTTP_ERR_SYS) return "ERR_SYS";
  if (message == tw::WM_XHTTP_MULTI_CHOSEN) return "CHOSEN";
  return nullptr;
}

}  // namespace

MessageRecorder::MessageRecorder() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"TwNetTestRecorder";
  RegisterClassW(&windowClass);  // fails harmlessly when already registered
  window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            windowClass.hInstance, nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

LRESULT CALLBACK MessageRecorder::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MessageRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || NameOf(message) == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  if (message == tw::WM_XHTTP_COMPLETE && self->onComplete) self->onComplete();
  self->messages.push_back({message, wParam, lParam, GetTickCount()});
  return 0;
}

bool MessageRecorder::WaitComplete(DWORD timeoutMs) {
  return twtest::PumpUntil([this] { return !Of(tw::WM_XHTTP_COMPLETE).empty(); }, timeoutMs);
}

std::vector<Message> MessageRecorder::Of(UINT message) const {
  std::vector<Message> out;
  for (const Message& m : messages) {
    if (m.message == message) out.push_back(m);
  }
  return out;
}

LPARAM MessageRecorder::Last(UINT message) const {
  const std::vector<Message> list = Of(message);
  return list.empty() ? LPARAM(-12345) : list.back().value;
}

std::string MessageRecorder::Sequence() const {
  std::string out;
  const char* last = nullptr;
  for (const Message& m : messages) {
    const char* name = NameOf(m.message);
    if (name == last && m.message == tw::WM_XHTTP_PROGRESS) continue;
    out += (out.empty() ? "" : ",") + std::string(name);
    last = name;
  }
  return out;
}

std::wstring HttpBase() {
  const std::wstring port = twtest::GetEnv(L"TW_HTTP_PORT");
  return port.empty() ? port : L"http://127.0.0.1:" + port;
}

std::wstring HttpsBase(const wchar_t* portVariable) {
  const std::wstring port = twtest::GetEnv(portVariable);
  return port.empty() ? port : L"https://localhost:" + port;
}

std::string GenBody(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 31 + (i >> 11)) & 0xFF);
  return body;
}

}  // namespace nettest
