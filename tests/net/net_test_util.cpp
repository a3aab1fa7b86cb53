#include "net_test_util.h"

#include "harness/test_util.h"
#include "net/transfer_messages.h"

namespace nettest {
namespace {

const char* NameOf(UINT message) {
  const std::pair<UINT, const char*> names[] = {
      {tw::WM_XHTTP_START, "START"}, {tw::WM_XHTTP_PROGRESS, "PROGRESS"}, {tw::WM_XHTTP_COMPLETE, "COMPLETE"},
      {tw::WM_XHTTP_ERR, "ERR"},     {tw::WM_XHTTP_ERR_SYS, "ERR_SYS"},    {tw::WM_XHTTP_MULTI_CHOSEN, "CHOSEN"}};
  for (const auto& n : names) {
    if (n.first == message) return n.second;
  }
  return nullptr;
}

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MessageRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || NameOf(message) == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  if (message == tw::WM_XHTTP_COMPLETE && self->onComplete) self->onComplete();
  self->messages.push_back({message, lParam, GetTickCount()});
  return 0;
}

}  // namespace

MessageRecorder::MessageRecorder() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = RecorderProc;
  windowClass.lpszClassName = L"TwNetTestRecorder";
  RegisterClassW(&windowClass);  // fails harmlessly when already registered
  window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
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
  for (size_t i = 0; i < messages.size(); ++i) {
    if (i > 0 && messages[i].message == tw::WM_XHTTP_PROGRESS && messages[i - 1].message == tw::WM_XHTTP_PROGRESS) continue;
    out += (out.empty() ? "" : ",") + std::string(NameOf(messages[i].message));
  }
  return out;
}

std::wstring ServerBase(const wchar_t* portVariable) {
  const std::wstring port = twtest::GetEnv(portVariable);
  if (port.empty()) return port;
  return (std::wstring(portVariable) == L"TW_HTTP_PORT" ? L"http://127.0.0.1:" : L"https://localhost:") + port;
}

std::string GenBody(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 31 + (i >> 11)) & 0xFF);
  return body;
}

}  // namespace nettest
