// The debug trace against a receiver window that never pumps its messages.
#include "diag/debug_log.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

HANDLE g_release = nullptr;  // set: the hung receiver may go

// Creates the receiver, tells `parameter` (an event), then waits without pumping.
DWORD WINAPI RunHungReceiver(void* parameter) {
  const HWND window = CreateWindowExW(0, L"#32770", L"XRecv", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  SetEvent(parameter);
  WaitForSingleObject(g_release, INFINITE);
  DestroyWindow(window);
  return 0;
}

DWORD WINAPI Trace(void* fixed) {
  fixed ? tw::SendDebugLogFixed(L"fixed %d", 1) : tw::SendDebugLog(L"formatted %d", 2);
  return 0;
}

TEST(DebugLog, AHungReceiverDoesNotHoldTheSenderBack) {
  for (void* fixed : {static_cast<void*>(nullptr), static_cast<void*>(&g_release)}) {
    g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE owner = CreateThread(nullptr, 0, RunHungReceiver, ready, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
    const HANDLE sender = CreateThread(nullptr, 0, Trace, fixed, 0, nullptr);
    // A bounded send returns after about a second; an unbounded one not while the receiver hangs.
    EXPECT_EQ(WaitForSingleObject(sender, 15000), WAIT_OBJECT_0) << (fixed ? "SendDebugLogFixed" : "SendDebugLog");
    SetEvent(g_release);  // also frees a sender stuck in an unbounded send
    for (HANDLE h : {sender, owner, ready, g_release}) WaitForSingleObject(h, INFINITE), CloseHandle(h);
  }
}

}  // namespace
