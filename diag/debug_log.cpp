#include "diag/debug_log.h"

#include <windows.h>

#include <cstdarg>
#include <cwchar>
#include <string>

#include "support/format_text.h"

namespace tw {
namespace {

constexpr ULONG_PTR kCopyDataTrace = 1;    // dwData of every trace
constexpr size_t kFixedTraceLimit = 4096;  // characters, SendDebugLogFixed
// How long a trace may wait for the receiver, in ms. Any process on the
// desktop can own a window of that class and title and stop pumping; an
// unbounded send would then hang the window's thread for good.
constexpr UINT kReceiverTimeoutMs = 1000;

// The receiver window of the debugging tool, or null when it is not running.
HWND FindReceiver() { return FindWindowW(L"#32770", L"XRecv"); }

// Sends the text with its terminating null; the block is valid only during
// the send, which waits until the receiver has processed it, at most
// kReceiverTimeoutMs, and not at all for a window that no longer pumps
// (SMTO_ABORTIFHUNG). The result is of no interest: the trace is
// fire-and-forget.
void SendTrace(HWND receiver, const wchar_t* text, size_t length) {
  COPYDATASTRUCT data{};
  data.dwData = kCopyDataTrace;
  data.cbData = static_cast<DWORD>((length + 1) * sizeof(wchar_t));
  data.lpData = const_cast<wchar_t*>(text);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(receiver, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                      SMTO_ABORTIFHUNG | SMTO_BLOCK, kReceiverTimeoutMs, &ignored);
}

}  // namespace

void SendDebugLog(const wchar_t* format, ...) {
  // Looked up first, so that a run without the receiver formats nothing.
  const HWND receiver = FindReceiver();
  if (receiver == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::wstring text = FormatTextV(format, args);
  va_end(args);
  SendTrace(receiver, text.c_str(), text.size());
}

void SendDebugLogFixed(const wchar_t* format, ...) {
  const HWND receiver = FindReceiver();
  if (receiver == nullptr || format == nullptr) return;
  // 4,096 characters of text and a null; _vsnwprintf leaves the buffer
  // unterminated when the output is cut, so the last slot is set here.
  wchar_t buffer[kFixedTraceLimit + 1] = {};
  va_list args;
  va_start(args, format);
  const int written = _vsnwprintf(buffer, kFixedTraceLimit, format, args);
  va_end(args);
  buffer[kFixedTraceLimit] = L'\0';
  // -1 means the output was cut (or the format was bad): send what fitted.
  size_t length = written >= 0 ? static_cast<size_t>(written) : wcsnlen(buffer, kFixedTraceLimit);
  if (length > kFixedTraceLimit) length = kFixedTraceLimit;
  buffer[length] = L'\0';
  SendTrace(receiver, buffer, length);
}

}  // namespace tw
