#include "xrecv_receiver.h"

namespace twtest {
namespace {

constexpr wchar_t kReceiverProperty[] = L"twtest.XRecvReceiver";

}  // namespace

XRecvReceiver::XRecvReceiver() {
  window_ = CreateWindowExW(0, L"#32770", L"XRecv", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) return;
  SetPropW(window_, kReceiverProperty, this);
  dialogProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc)));
}

XRecvReceiver::~XRecvReceiver() {
  if (window_ == nullptr) return;
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(dialogProc_));
  RemovePropW(window_, kReceiverProperty);
  DestroyWindow(window_);
}

LRESULT CALLBACK XRecvReceiver::WindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  auto* self = static_cast<XRecvReceiver*>(GetPropW(window, kReceiverProperty));
  if (message == WM_COPYDATA && self != nullptr) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    ReceivedTrace trace;
    trace.wParam = wParam;
    trace.dwData = data->dwData;
    trace.cbData = data->cbData;
    const auto* chars = static_cast<const wchar_t*>(data->lpData);
    const size_t count = data->cbData / sizeof(wchar_t);
    if (chars != nullptr && count > 0) {
      std::wstring all(chars, count);
      trace.nullTerminated = all.back() == L'\0';
      trace.text = all.substr(0, all.find(L'\0'));
    }
    self->traces_.push_back(std::move(trace));
    return TRUE;
  }
  WNDPROC previous = self != nullptr ? self->dialogProc_ : nullptr;
  if (previous == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return CallWindowProcW(previous, window, message, wParam, lParam);
}

}  // namespace twtest
