// The hyperlink control: creation and size, colours on hover, the press /
// release rules of a click, the notification and the shell open.
#include <gtest/gtest.h>

#include <memory>

#include "harness/test_env.h"
#include "ui/hyperlink_static.h"
#include "ui/window_test_util.h"

namespace {

constexpr wchar_t kText[] = L"[Open Webpage]";

class LinkTest : public testing::Test {
 protected:
  void SetUp() override {
    parent_ = twtest::CreatePlainWindow(L"link parent", WS_POPUP | WS_VISIBLE, 100, 100, 400, 200);
    ASSERT_NE(parent_, nullptr);
    SetWindowPos(parent_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    target_ = twtest::CreatePlainWindow(L"notify target", WS_POPUP, 0, 0, 10, 10);
    ASSERT_NE(target_, nullptr);
  }
  void TearDown() override {
    link_.reset();
    DestroyWindow(parent_);
    DestroyWindow(target_);
  }

  void MakeLink(const std::wstring& url) {
    link_ = std::make_unique<tw::XHyperLinkStatic>();
    ASSERT_TRUE(link_->Create(parent_, kText, url, 20, 10, 30));
    ASSERT_NE(link_->Hwnd(), nullptr);
    link_->SetBackgroundColor(RGB(255, 255, 255));
    link_->SetNotifyTarget(target_);
    InvalidateRect(link_->Hwnd(), nullptr, TRUE);
    UpdateWindow(parent_);
    twtest::PumpMessages(50);
  }

  POINT LinkCentreOnScreen() const {
    RECT r;
    GetWindowRect(link_->Hwnd(), &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }

  // Takes a notification that reached the target's queue, if any.
  bool TakeNotification(WPARAM* wParam) {
    MSG message;
    if (!PeekMessageW(&message, target_, tw::HyperlinkNotifyMessage(),
                      tw::HyperlinkNotifyMessage(), PM_REMOVE)) {
      return false;
    }
    *wParam = message.wParam;
    return true;
  }

  void Press() { SendMessageW(link_->Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5)); }
  void Release() { SendMessageW(link_->Hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5)); }

  HWND parent_ = nullptr;
  HWND target_ = nullptr;
  std::unique_ptr<tw::XHyperLinkStatic> link_;
};

TEST(LinkRules, DrawFormatFollowsTheStyleBits) {
  struct Case {
    DWORD style;
    UINT format;
  } cases[] = {
      {0x200, DT_VCENTER | DT_SINGLELINE},
      {0x0, DT_WORDBREAK},
      {0x4, DT_SINGLELINE},
      {0x8, DT_SINGLELINE},
      {0x1, DT_WORDBREAK | DT_CENTER},
      {0x2 | 0x200, DT_VCENTER | DT_SINGLELINE | DT_RIGHT},
      {0x4000, DT_WORDBREAK | DT_END_ELLIPSIS},
      {0x8000, DT_WORDBREAK | DT_PATH_ELLIPSIS | DT_SINGLELINE},
  };
  for (const Case& c : cases) EXPECT_EQ(tw::HyperlinkDrawFormat(c.style), c.format) << c.style;
}

TEST(LinkRules, OnlyARealUrlIsOpened) {
  EXPECT_TRUE(tw::HyperlinkOpensUrl(L"https://www.tarnwick.example/tarnwick/dl/"));
  EXPECT_TRUE(tw::HyperlinkOpensUrl(L"url_null"));  // case-sensitive
  EXPECT_TRUE(tw::HyperlinkOpensUrl(L"URL_NULL "));
  EXPECT_FALSE(tw::HyperlinkOpensUrl(L"URL_NULL"));
  EXPECT_FALSE(tw::HyperlinkOpensUrl(L""));
}

TEST_F(LinkTest, EmptyTextOrUrlCreatesNoWindowAndSucceeds) {
  tw::XHyperLinkStatic noText, noUrl;
  EXPECT_TRUE(noText.Create(parent_, L"", L"https://x/", 0, 0, 10));
  EXPECT_TRUE(noUrl.Create(parent_, L"text", L"", 0, 0, 10));
  EXPECT_EQ(noText.Hwnd(), nullptr);
  EXPECT_EQ(noUrl.Hwnd(), nullptr);
  EXPECT_EQ(GetWindow(parent_, GW_CHILD), nullptr);
  EXPECT_NE(tw::HyperlinkNotifyMessage(), 0u);  // registered by the first construction
}

TEST_F(LinkTest, IsAVisibleChildOfItsOwnClassAsWideAsItsTextPlusFive) {
  MakeLink(L"URL_NULL");
  const HWND window = link_->Hwnd();
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | 0x200), WS_CHILD | WS_VISIBLE | 0x200);
  EXPECT_EQ(GetParent(window), parent_);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  EXPECT_NE(lstrcmpiW(className, L"Static"), 0);
  EXPECT_EQ(GetClassLongPtrW(window, GCL_STYLE), CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS);
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_HCURSOR),
            reinterpret_cast<LONG_PTR>(LoadCursorW(nullptr, IDC_ARROW)));

  const HDC dc = GetDC(window);
  const HGDIOBJ previous = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SIZE extent = {};
  GetTextExtentPoint32W(dc, kText, lstrlenW(kText), &extent);
  SelectObject(dc, previous);
  ReleaseDC(window, dc);
  RECT r;
  GetWindowRect(window, &r);
  MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 20);
  EXPECT_EQ(r.top, 10);
  EXPECT_EQ(r.right - r.left, extent.cx + 5);
  EXPECT_EQ(r.bottom - r.top, 30);
  EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, 0), HTCLIENT);
  EXPECT_EQ(link_->url(), L"URL_NULL");
  EXPECT_EQ(link_->text(), kText);
}

TEST_F(LinkTest, BlueUntilHoveredThenRedWithTheHandAndBlueAgainOnLeave) {
  MakeLink(L"URL_NULL");
  twtest::Capture normal = twtest::CaptureClient(link_->Hwnd());
  ASSERT_GT(normal.width, 0);
  EXPECT_EQ(normal.At(0, 0), 0xFFFFFFu);  // white background from the owner
  EXPECT_GT(normal.Count(twtest::IsBluish), 10);
  EXPECT_EQ(normal.Count(twtest::IsReddish), 0);

  const POINT centre = LinkCentreOnScreen();
  SetCursorPos(centre.x, centre.y);
  SendMessageW(link_->Hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_TRUE(link_->hovering());
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
  UpdateWindow(link_->Hwnd());
  twtest::Capture hovered = twtest::CaptureClient(link_->Hwnd());
  EXPECT_GT(hovered.Count(twtest::IsReddish), 10);
  EXPECT_EQ(hovered.Count(twtest::IsBluish), 0);
  // The underline: a red row near the bottom of the text that the normal
  // drawing does not have.
  int underlineRows = 0;
  for (int y = 0; y < hovered.height; ++y) {
    int reds = 0;
    for (int x = 0; x < hovered.width; ++x) reds += twtest::IsReddish(hovered.At(x, y)) ? 1 : 0;
    if (reds > hovered.width / 2) ++underlineRows;
  }
  EXPECT_GE(underlineRows, 1);

  // The hand is set on every move, hovering or not.
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  SendMessageW(link_->Hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(6, 6));
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));

  SendMessageW(link_->Hwnd(), WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(link_->hovering());
  UpdateWindow(link_->Hwnd());
  twtest::Capture left = twtest::CaptureClient(link_->Hwnd());
  EXPECT_GT(left.Count(twtest::IsBluish), 10);
  EXPECT_EQ(left.Count(twtest::IsReddish), 0);
}

TEST_F(LinkTest, AClickOnTheLinkNotifiesTheTargetWithTheObjectsAddress) {
  MakeLink(L"URL_NULL");
  const POINT centre = LinkCentreOnScreen();
  ASSERT_TRUE(SetCursorPos(centre.x, centre.y));
  Press();
  EXPECT_TRUE(link_->pressed());
  EXPECT_EQ(GetCapture(), link_->Hwnd());
  Release();
  EXPECT_FALSE(link_->pressed());
  EXPECT_EQ(GetCapture(), nullptr);
  WPARAM wParam = 0;
  ASSERT_TRUE(TakeNotification(&wParam));
  EXPECT_EQ(wParam, reinterpret_cast<WPARAM>(link_.get()));
}

TEST_F(LinkTest, PressDragOutAndReleaseDoesNothingButReleaseTheCapture) {
  MakeLink(L"URL_NULL");
  const POINT centre = LinkCentreOnScreen();
  SetCursorPos(centre.x, centre.y);
  Press();
  ASSERT_EQ(GetCapture(), link_->Hwnd());
  RECT r;
  GetWindowRect(link_->Hwnd(), &r);
  // Just outside: the right and bottom edges are exclusive.
  ASSERT_TRUE(SetCursorPos(r.right, centre.y));
  Release();
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_FALSE(link_->pressed());
  WPARAM wParam = 0;
  EXPECT_FALSE(TakeNotification(&wParam));
}

TEST_F(LinkTest, AReleaseWithoutAPressOnTheLinkDoesNothing) {
  MakeLink(L"URL_NULL");
  const POINT centre = LinkCentreOnScreen();
  SetCursorPos(centre.x, centre.y);
  Release();
  WPARAM wParam = 0;
  EXPECT_FALSE(TakeNotification(&wParam));
}

// The shell really opens the URL: a helper program that leaves a marker file.
class LinkOpenTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    const std::wstring bin = twtest::TestBinFolder();
    ASSERT_FALSE(bin.empty()) << "TW_TEST_BIN is not set";
    folder_ = twtest::MakeScratchFolder(L"link");
    marker_ = folder_ + L"marker.exe";
    ASSERT_TRUE(CopyFileW((bin + L"tw_link_marker.exe").c_str(), marker_.c_str(), FALSE));
  }
  bool MarkerRan(DWORD waitMs) {
    const std::wstring ran = marker_ + L".ran";
    return twtest::PumpUntil(
        [&] { return GetFileAttributesW(ran.c_str()) != INVALID_FILE_ATTRIBUTES; }, waitMs);
  }
  std::wstring folder_;
  std::wstring marker_;
};

TEST_F(LinkOpenTest, AClickOpensTheUrlWithTheShell) {
  MakeLink(marker_);
  const POINT centre = LinkCentreOnScreen();
  SetCursorPos(centre.x, centre.y);
  Press();
  Release();
  EXPECT_TRUE(MarkerRan(10000));
}

TEST_F(LinkOpenTest, ADragOutOpensNothing) {
  MakeLink(marker_);
  const POINT centre = LinkCentreOnScreen();
  SetCursorPos(centre.x, centre.y);
  Press();
  RECT r;
  GetWindowRect(link_->Hwnd(), &r);
  SetCursorPos(centre.x, r.bottom + 3);
  Release();
  EXPECT_FALSE(MarkerRan(2000));
}

}  // namespace
