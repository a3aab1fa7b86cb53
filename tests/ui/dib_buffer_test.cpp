// The back buffer: layout of the DIB section, the white fill, the kept
// memory DC and the release of every field.
#include <gtest/gtest.h>

#include <string>

#include "ui/dib_buffer.h"

namespace {

TEST(DibBuffer, StrideIsThreeBytesPerPixelRoundedUpToFour) {
  struct Case {
    int width, stride;
  } cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {734, 2204}, {750, 2252}, {1125, 3376}};
  for (const Case& c : cases) EXPECT_EQ(tw::DibBuffer::StrideFor(c.width), c.stride) << c.width;
}

TEST(DibBuffer, CreatesAWhiteTopDownBuffer) {
  tw::DibBuffer buffer;
  ASSERT_TRUE(buffer.Create(5, 3));
  EXPECT_NE(buffer.bitmap(), nullptr);
  EXPECT_EQ(buffer.width(), 5);
  EXPECT_EQ(buffer.height(), 3);
  EXPECT_EQ(buffer.stride(), 16);
  EXPECT_EQ(buffer.memoryDc(), nullptr);  // made at the first paint
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 15; ++x) {
      EXPECT_EQ(buffer.pixels()[y * 16 + x], 255) << x << "," << y;
    }
  }
  DIBSECTION section = {};
  ASSERT_EQ(GetObjectW(buffer.bitmap(), sizeof(section), &section), static_cast<int>(sizeof(section)));
  EXPECT_EQ(section.dsBmih.biBitCount, 24);

  // Row 0 is the top row, bytes in the order blue, green, red.
  const HDC dc = buffer.DrawingDc();
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(buffer.DrawingDc(), dc);  // kept
  SetPixel(dc, 1, 0, RGB(10, 20, 30));
  GdiFlush();
  EXPECT_EQ(buffer.pixels()[3], 30);
  EXPECT_EQ(buffer.pixels()[4], 20);
  EXPECT_EQ(buffer.pixels()[5], 10);
  ASSERT_TRUE(buffer.FillWhite());
  EXPECT_EQ(buffer.pixels()[3], 255);
}

TEST(DibBuffer, ReleaseClearsEveryFieldAndAnEmptyBufferDoesNothing) {
  tw::DibBuffer buffer;
  ASSERT_TRUE(buffer.Create(7, 7));
  ASSERT_NE(buffer.DrawingDc(), nullptr);
  const HBITMAP bitmap = buffer.bitmap();
  buffer.Release();
  EXPECT_EQ(buffer.bitmap(), nullptr);
  EXPECT_EQ(buffer.memoryDc(), nullptr);
  EXPECT_EQ(buffer.pixels(), nullptr);
  EXPECT_EQ(buffer.width(), 0);
  EXPECT_EQ(buffer.height(), 0);
  EXPECT_EQ(buffer.stride(), 0);
  EXPECT_EQ(GetObjectType(bitmap), 0u);  // deleted
  EXPECT_FALSE(buffer.FillWhite());
  EXPECT_EQ(buffer.DrawingDc(), nullptr);
  EXPECT_FALSE(buffer.CopyTo(GetDC(nullptr)));
}

TEST(DibBuffer, RefusesEmptySizes) {
  tw::DibBuffer buffer;
  EXPECT_FALSE(buffer.Create(0, 10));
  EXPECT_FALSE(buffer.Create(10, 0));
  EXPECT_FALSE(buffer.Create(-1, 10));
  EXPECT_EQ(buffer.bitmap(), nullptr);
  ASSERT_TRUE(buffer.Resize(4, 4));
  ASSERT_TRUE(buffer.Resize(8, 2));
  EXPECT_EQ(buffer.width(), 8);
}

TEST(DibBuffer, CopiesWithOrWithoutTheKeptDc) {
  tw::DibBuffer source;
  ASSERT_TRUE(source.Create(4, 4));
  tw::DibBuffer target;
  ASSERT_TRUE(target.Create(4, 4));
  const HDC targetDc = target.DrawingDc();
  PatBlt(targetDc, 0, 0, 4, 4, BLACKNESS);
  GdiFlush();
  ASSERT_EQ(target.pixels()[0], 0);
  EXPECT_TRUE(source.CopyTo(targetDc));  // temporary DC
  GdiFlush();
  EXPECT_EQ(target.pixels()[0], 255);
  EXPECT_EQ(source.memoryDc(), nullptr);
  SetPixel(source.DrawingDc(), 0, 0, RGB(1, 2, 3));
  EXPECT_TRUE(source.CopyTo(targetDc));  // kept DC
  GdiFlush();
  EXPECT_EQ(target.pixels()[0], 3);
}

// A stand-in for the debugging tool's receiver: a dialog-class window titled
// "XRecv" that keeps the texts it is sent.
std::wstring g_received;
WNDPROC g_dialogProc = nullptr;
LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    g_received.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / 2);
    if (!g_received.empty() && g_received.back() == L'\0') g_received.pop_back();
    return TRUE;
  }
  return CallWindowProcW(g_dialogProc, window, message, wParam, lParam);
}

TEST(DibBuffer, AFailedCreationTellsTheDebugReceiverAndLeavesTheBufferEmpty) {
  const HWND receiver = CreateWindowExW(0, L"#32770", L"XRecv", WS_POPUP, 0, 0, 10, 10, nullptr,
                                        nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(receiver, nullptr);
  g_dialogProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(receiver, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ReceiverProc)));
  struct Case {
    int width, height;
  } cases[] = {{1 << 20, 1 << 20}, {(1 << 20) + 1, 1}, {40000, 40000}};
  for (const Case& c : cases) {
    g_received.clear();
    tw::DibBuffer buffer;
    EXPECT_FALSE(buffer.Create(c.width, c.height)) << c.width << "x" << c.height;
    EXPECT_EQ(buffer.bitmap(), nullptr);
    EXPECT_EQ(buffer.pixels(), nullptr);
    EXPECT_EQ(buffer.width(), 0);
    EXPECT_EQ(buffer.stride(), 0);
    EXPECT_EQ(g_received.rfind(L"@@rMemoy 부족??? - err:", 0), 0u) << c.width << "x" << c.height;
  }
  DestroyWindow(receiver);
}

}  // namespace
