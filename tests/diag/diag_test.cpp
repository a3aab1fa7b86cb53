// The diagnostics: the error report's query values (UTF-8, percent-encoded
// but for RFC 3986's unreserved characters), credentials in URLs that never
// reach the local log or a report, and the debug trace against a receiver
// window that never pumps its messages.
#include <windows.h>

#include <gtest/gtest.h>

#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "diag/setup_log.h"

namespace {

TEST(ErrorReport, PercentEncodesAllButUnreservedCharactersAsUtf8) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"AZaz09-._~", L"AZaz09-._~"},
      {L"a b&c=d#e?f%g/h+", L"a%20b%26c%3Dd%23e%3Ff%25g%2Fh%2B"},
      {L"\u00E9\uD55C\x7F", L"%C3%A9%ED%95%9C%7F"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(tw::PercentEncodeQueryValue(c.first), c.second) << c.first;
}

TEST(SetupLog, MasksUserNamesAndPasswordsInUrls) {
  const std::pair<const wchar_t*, const wchar_t*> urls[] = {  // one URL, alone or in a text
      {L"http://u:p@h:8/x", L"http://***:***@h:8/x"},
      {L"https://u@h", L"https://***@h"},
      {L"http://u:p@ss@h/x?to=a@b", L"http://***:***@h/x?to=a@b"},  // the last "@" before the path ends them
      {L"http://u:p,;w 'o\"<r>@h\\x@y", L"http://***:***@h\\x@y"},   // whatever the password holds
  };
  for (const auto& c : urls) {
    EXPECT_EQ(tw::MaskUrlCredentials(c.first), c.second) << c.first;
    EXPECT_EQ(tw::MaskUrlsInText(c.first), c.second) << c.first;
  }
  const std::pair<const wchar_t*, const wchar_t*> texts[] = {
      {L"chonsenURL:http://a:b@h/, 2=HTTP://c:d,e@h2 end", L"chonsenURL:http://***:***@h/, 2=HTTP://***:***@h2 end"},
      {L"http://h/p@x?r=http://a:b@h2", L"http://h/p@x?r=http://***:***@h2"},
      {L"http://h/p@x, user:pass@host, ://@", L"http://h/p@x, user:pass@host, ://@"},
  };
  for (const auto& c : texts) EXPECT_EQ(tw::MaskUrlsInText(c.first), c.second) << c.first;
}

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
