#include "net/transfer_messages.h"

#include <gtest/gtest.h>

#include <set>

#include "net_test_util.h"

namespace {

TEST(TransferMessagesTest, RegisteredUnderTheirNamesBeforeMain) {
  struct Case {
    UINT value;
    const wchar_t* name;
  };
  const Case cases[] = {
      {tw::WM_XHTTP_START, L"WM_XHTTP_START"},
      {tw::WM_XHTTP_PROGRESS, L"WM_XHTTP_PROGRESS"},
      {tw::WM_XHTTP_COMPLETE, L"WM_XHTTP_COMPLETE"},
      {tw::WM_XHTTP_ERR, L"WM_XHTTP_ERR"},
      {tw::WM_XHTTP_ERR_SYS, L"WM_XHTTP_ERR_SYS"},
      {tw::WM_XHTTP_MULTI_CHOSEN, L"WM_XHTTP_MULTI_CHOSEN"},
  };
  std::set<UINT> seen;
  for (const Case& c : cases) {
    EXPECT_GE(c.value, 0xC000u) << c.name;
    EXPECT_EQ(c.value, RegisterWindowMessageW(c.name)) << c.name;
    seen.insert(c.value);
  }
  EXPECT_EQ(seen.size(), 6u);
}

TEST(TransferMessagesTest, PostsAtOnceToAWindowAndGivesUpOnOtherErrors) {
  nettest::MessageRecorder recorder;
  EXPECT_TRUE(tw::PostTransferMessage(recorder.window(), tw::WM_XHTTP_START, 7, -1));
  recorder.Pump(50);
  ASSERT_EQ(recorder.messages().size(), 1u);
  EXPECT_EQ(recorder.messages()[0].id, 7u);
  EXPECT_EQ(recorder.messages()[0].value, LPARAM(-1));  // all bits set

  // A window that does not exist: no retry, so no delay.
  const DWORD start = GetTickCount();
  EXPECT_FALSE(tw::PostTransferMessage(reinterpret_cast<HWND>(0x7ffff0), tw::WM_XHTTP_START, 1, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_LT(GetTickCount() - start, 100u);
}

// Fills the test thread's queue with posts until the system refuses one.
// Returns how many were posted, or 0 when the queue never filled.
size_t FillQueue(HWND window) {
  const UINT filler = WM_APP + 7;
  // Windows refuses the 10,001st post by default; twice that is plenty.
  for (size_t posted = 0; posted < 20000; ++posted) {
    if (!PostMessageW(window, filler, 0, 0)) {
      return GetLastError() == ERROR_NOT_ENOUGH_QUOTA ? posted : 0;
    }
  }
  return 0;
}

TEST(TransferMessagesTest, FullQueueRetriesForAboutOneSecondAndDropsProgress) {
  nettest::MessageRecorder recorder;
  if (FillQueue(recorder.window()) == 0) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {}
    GTEST_SKIP() << "this system does not limit a thread's message queue "
                    "(PostMessageW never failed with ERROR_NOT_ENOUGH_QUOTA)";
  }
  // With the queue full: retried messages give up after about one second...
  DWORD start = GetTickCount();
  EXPECT_FALSE(tw::PostTransferMessage(recorder.window(), tw::WM_XHTTP_COMPLETE, 1, 1));
  const DWORD waited = GetTickCount() - start;
  EXPECT_GE(waited, 900u);
  EXPECT_LT(waited, 2500u);
  // ...and a plain post fails at once.
  EXPECT_FALSE(PostMessageW(recorder.window(), tw::WM_XHTTP_PROGRESS, 1, 1));

  // A queue that drains while the sender retries lets the message through.
  struct Args {
    HWND window;
    BOOL posted;
  } args = {recorder.window(), FALSE};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        auto* a = static_cast<Args*>(p);
        a->posted = tw::PostTransferMessage(a->window, tw::WM_XHTTP_COMPLETE, 1, 1);
        return 0;
      },
      &args, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  Sleep(300);  // the sender is retrying now
  start = GetTickCount();
  recorder.Pump(0);  // drains the fillers; COMPLETE may arrive later
  ASSERT_TRUE(recorder.WaitComplete(3000));
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  EXPECT_TRUE(args.posted);
  EXPECT_EQ(recorder.Count(tw::WM_XHTTP_PROGRESS), 0u);
}

}  // namespace
