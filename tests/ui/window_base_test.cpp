// The window base: object binding through GWLP_USERDATA, the message map and
// default processing, unbinding at WM_NCDESTROY, class registration.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ui/window_base.h"

namespace {

constexpr UINT kAnswerMessage = WM_APP + 1;

tw::WindowClassInfo g_testClass = {nullptr, CS_DBLCLKS, nullptr, 0, IDC_ARROW, 0, {}};
tw::WindowClassInfo g_otherClass = {nullptr, 0, nullptr, 0, IDC_ARROW, 0, {}};

class RecordingWindow : public tw::CWindowImpl {
 public:
  bool ProcessWindowMessage(HWND window, UINT message, WPARAM, LPARAM, LRESULT& result,
                            DWORD mapId) override {
    messages.push_back(message);
    EXPECT_EQ(window, Hwnd());
    EXPECT_EQ(mapId, 0u);
    if (message == kAnswerMessage) {
      result = 42;
      return true;
    }
    return false;
  }
  void OnFinalMessage(HWND window) override { finalWindow = window; }

  std::vector<UINT> messages;
  HWND finalWindow = nullptr;
};

bool Saw(const RecordingWindow& w, UINT message) {
  for (UINT m : w.messages) {
    if (m == message) return true;
  }
  return false;
}

HWND CreateTest(RecordingWindow& window, tw::WindowClassInfo& info = g_testClass) {
  const RECT rect = {10, 10, 210, 110};
  return window.Create(info, nullptr, &rect, L"base", WS_POPUP, 0);
}

TEST(WindowBase, BindsTheObjectFromCreationOnWithoutPerObjectCode) {
  RecordingWindow window;
  const HWND handle = CreateTest(window);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(window.Hwnd(), handle);
  EXPECT_EQ(GetWindowLongPtrW(handle, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&window));
  EXPECT_TRUE(Saw(window, WM_NCCREATE));
  EXPECT_TRUE(Saw(window, WM_CREATE));
  // Every window of the class runs the one class procedure: no thunk.
  EXPECT_EQ(GetWindowLongPtrW(handle, GWLP_WNDPROC), GetClassLongPtrW(handle, GCLP_WNDPROC));
  EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(handle, GWLP_WNDPROC)),
            window.GetWindowProc());
  DestroyWindow(handle);
}

TEST(WindowBase, HandledMessagesReturnTheMapsResultOthersGetDefaultProcessing) {
  RecordingWindow window;
  const HWND handle = CreateTest(window);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(SendMessageW(handle, kAnswerMessage, 0, 0), 42);
  // WM_SETTEXT is not handled: DefWindowProcW stores the text.
  SendMessageW(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"changed"));
  wchar_t text[32] = {};
  GetWindowTextW(handle, text, 32);
  EXPECT_STREQ(text, L"changed");
  DestroyWindow(handle);
}

TEST(WindowBase, UnbindsAtNcDestroyAndCallsTheFinalHook) {
  RecordingWindow window;
  const HWND handle = CreateTest(window);
  ASSERT_NE(handle, nullptr);
  ASSERT_TRUE(DestroyWindow(handle));
  EXPECT_TRUE(Saw(window, WM_DESTROY));
  EXPECT_TRUE(Saw(window, WM_NCDESTROY));
  EXPECT_EQ(window.finalWindow, handle);
  EXPECT_EQ(window.Hwnd(), nullptr);
}

TEST(WindowBase, DestroyingTheObjectDestroysItsWindowWithoutCallingBack) {
  HWND handle = nullptr;
  size_t seenBefore = 0;
  {
    auto window = std::make_unique<RecordingWindow>();
    handle = CreateTest(*window);
    ASSERT_NE(handle, nullptr);
    seenBefore = window->messages.size();
    // The messages of the destruction must not reach the dying object (its
    // members are gone by then): the base detaches first.
    window.reset();
  }
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_GT(seenBefore, 0u);
}

TEST(WindowBase, RegistersEachClassOnceUnderAGeneratedName) {
  RecordingWindow a, b, c;
  ASSERT_NE(CreateTest(a), nullptr);
  const ATOM atom = g_testClass.atom;
  ASSERT_NE(atom, 0);
  ASSERT_NE(CreateTest(b), nullptr);
  EXPECT_EQ(g_testClass.atom, atom);
  ASSERT_NE(CreateTest(c, g_otherClass), nullptr);
  EXPECT_NE(g_otherClass.atom, atom);
  wchar_t nameA[64] = {}, nameC[64] = {};
  GetClassNameW(a.Hwnd(), nameA, 64);
  GetClassNameW(c.Hwnd(), nameC, 64);
  EXPECT_STRNE(nameA, nameC);
  EXPECT_GT(wcslen(nameA), 0u);
  EXPECT_EQ(GetClassLongPtrW(a.Hwnd(), GCL_STYLE), CS_DBLCLKS);
  DestroyWindow(a.Hwnd());
  DestroyWindow(b.Hwnd());
  DestroyWindow(c.Hwnd());
}

TEST(WindowBase, AnObjectCreatesOneWindowOnly) {
  RecordingWindow window;
  ASSERT_NE(CreateTest(window), nullptr);
  SetLastError(0);
  EXPECT_EQ(CreateTest(window), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  DestroyWindow(window.Hwnd());
}

}  // namespace
