#include "diag/debug_log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "xrecv_receiver.h"

namespace {

TEST(SendDebugLog, SendsTheFormattedTextWithItsNull) {
  twtest::XRecvReceiver receiver;
  ASSERT_TRUE(receiver.IsValid()) << GetLastError();
  tw::SendDebugLog(L"abc");
  tw::SendDebugLog(L"%s, %d, %u, %08x", L"\xBC84\xC804", -5, 7u, 0xABCu);
  ASSERT_EQ(receiver.Traces().size(), 2u);
  const twtest::ReceivedTrace& abc = receiver.Traces()[0];
  EXPECT_EQ(abc.text, L"abc");
  EXPECT_EQ(abc.cbData, 8u);
  EXPECT_EQ(abc.dwData, 1u);
  EXPECT_EQ(abc.wParam, 0u);
  EXPECT_TRUE(abc.nullTerminated);
  EXPECT_EQ(receiver.Traces()[1].text, L"\xBC84\xC804, -5, 7, 00000abc");
}

TEST(SendDebugLog, LongTextArrivesWhole) {
  twtest::XRecvReceiver receiver;
  ASSERT_TRUE(receiver.IsValid());
  const std::wstring longText(5000, L'x');
  tw::SendDebugLog(L"[%s]", longText.c_str());
  ASSERT_EQ(receiver.Traces().size(), 1u);
  EXPECT_EQ(receiver.Traces()[0].text, L"[" + longText + L"]");
  EXPECT_EQ(receiver.Traces()[0].cbData, 5003u * 2);
}

TEST(SendDebugLogFixed, CutsAt4096Characters) {
  twtest::XRecvReceiver receiver;
  ASSERT_TRUE(receiver.IsValid());
  std::wstring longText;
  for (int i = 0; i < 5000; ++i) longText.push_back(static_cast<wchar_t>(L'a' + i % 26));
  tw::SendDebugLogFixed(L"%s", longText.c_str());
  tw::SendDebugLogFixed(L"%s", longText.substr(0, 4096).c_str());
  tw::SendDebugLogFixed(L"%s", longText.substr(0, 4097).c_str());
  tw::SendDebugLogFixed(L"@@rMemoy \xBD80\xC871??? - err:%u", 8u);
  tw::SendDebugLogFixed(L"abc");
  ASSERT_EQ(receiver.Traces().size(), 5u);
  for (int i = 0; i < 3; ++i) {
    const twtest::ReceivedTrace& trace = receiver.Traces()[i];
    EXPECT_EQ(trace.text, longText.substr(0, 4096)) << i;
    EXPECT_EQ(trace.cbData, 4097u * 2) << i;
    EXPECT_TRUE(trace.nullTerminated) << i;
    EXPECT_EQ(trace.dwData, 1u) << i;
  }
  EXPECT_EQ(receiver.Traces()[3].text, L"@@rMemoy \xBD80\xC871??? - err:8");
  EXPECT_EQ(receiver.Traces()[4].cbData, 8u);
}

// Proof that nothing is formatted without a receiver: the format and its
// argument live in a guard page, and a vectored handler notes the first touch
// (the system lifts the guard on that touch, so execution simply goes on).
class GuardedText {
 public:
  GuardedText() {
    page_ = static_cast<wchar_t*>(
        VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (page_ == nullptr) return;
    wcscpy(page_, L"trace %s");
    wcscpy(page_ + 64, L"argument");
    DWORD old = 0;
    VirtualProtect(page_, 4096, PAGE_READWRITE | PAGE_GUARD, &old);
    s_page = page_;
    s_touched = false;
    handler_ = AddVectoredExceptionHandler(1, &OnException);
  }
  ~GuardedText() {
    if (handler_ != nullptr) RemoveVectoredExceptionHandler(handler_);
    if (page_ != nullptr) VirtualFree(page_, 0, MEM_RELEASE);
    s_page = nullptr;
  }
  bool IsValid() const { return page_ != nullptr && handler_ != nullptr; }
  const wchar_t* Format() const { return page_; }
  const wchar_t* Argument() const { return page_ + 64; }
  static bool Touched() { return s_touched; }

 private:
  static LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != STATUS_GUARD_PAGE_VIOLATION || record->NumberParameters < 2) {
      return EXCEPTION_CONTINUE_SEARCH;
    }
    const auto address = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    const auto page = reinterpret_cast<const char*>(s_page);
    if (page == nullptr || address < page || address >= page + 4096)
      return EXCEPTION_CONTINUE_SEARCH;
    s_touched = true;
    return EXCEPTION_CONTINUE_EXECUTION;
  }

  wchar_t* page_ = nullptr;
  void* handler_ = nullptr;
  static inline wchar_t* s_page = nullptr;
  static inline volatile bool s_touched = false;
};

TEST(SendDebugLog, WithoutReceiverNothingIsFormatted) {
  ASSERT_EQ(FindWindowW(L"#32770", L"XRecv"), nullptr);
  {
    GuardedText guarded;
    ASSERT_TRUE(guarded.IsValid());
    tw::SendDebugLog(guarded.Format(), guarded.Argument());
    tw::SendDebugLogFixed(guarded.Format(), guarded.Argument());
    EXPECT_FALSE(GuardedText::Touched());
  }
  // The same probe notices formatting when a receiver is there.
  twtest::XRecvReceiver receiver;
  ASSERT_TRUE(receiver.IsValid());
  for (int fixed = 0; fixed < 2; ++fixed) {
    GuardedText guarded;
    ASSERT_TRUE(guarded.IsValid());
    if (fixed) {
      tw::SendDebugLogFixed(guarded.Format(), guarded.Argument());
    } else {
      tw::SendDebugLog(guarded.Format(), guarded.Argument());
    }
    EXPECT_TRUE(GuardedText::Touched()) << fixed;
  }
  ASSERT_EQ(receiver.Traces().size(), 2u);
  EXPECT_EQ(receiver.Traces()[0].text, L"trace argument");
  EXPECT_EQ(receiver.Traces()[1].text, L"trace argument");
}

}  // namespace
