// The debug trace against a receiver window that never pumps its messages.
#include "diag/debug_log.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

struct HungReceiver {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

// Creates the receiver, then waits without pumping until released.
DWORD WINAPI RunHungReceiver(void* parameter) {
  auto* receiver = static_cast<HungReceiver*>(parameter);
  const HWND window = CreateWindowExW(0, L"#32770", L"XRecv", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  SetEvent(receiver->ready);
  WaitForSingleObject(receiver->release, INFINITE);
  DestroyWindow(window);
  return 0;
}

DWORD WINAPI Trace(void* parameter) {
  if (parameter != nullptr) {
    tw::SendDebugLogFixed(L"fixed %d", 1);
  } else {
    tw::SendDebugLog(L"formatted %d", 2);
  }
  return 0;
}

TEST(DebugLog, AHungReceiverDoesNotHoldTheSenderBack) {
  int marker = 0;
  for (void* fixed : {static_cast<void*>(nullptr), static_cast<void*>(&marker)}) {
    HungReceiver receiver;
    const HANDLE owner = CreateThread(nullptr, 0, RunHungReceiver, &receiver, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(receiver.ready, 10000), WAIT_OBJECT_0);
    const HANDLE sender = CreateThread(nullptr, 0, Trace, fixed, 0, nullptr);
    // A bounded send returns after about a second; an unbounded one never
    // while the receiver stays hung.
    EXPECT_EQ(WaitForSingleObject(sender, 15000), WAIT_OBJECT_0) << (fixed ? "SendDebugLogFixed" : "SendDebugLog");
    SetEvent(receiver.release);  // also frees a sender stuck in an unbounded send
    for (HANDLE h : {sender, owner, receiver.ready, receiver.release}) {
      WaitForSingleObject(h, INFINITE);
      CloseHandle(h);
    }
  }
}

}  // namespace
