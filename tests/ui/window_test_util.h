// Helpers of the window tests: message pumping with a deadline and pixel
// capture of what a window shows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace twtest {

// Dispatches this thread's messages for ms milliseconds. WM_QUIT is counted,
// not acted on.
void PumpMessages(DWORD ms);
// Dispatches messages until done() is true or timeoutMs have passed.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
// The number of WM_QUIT messages the pumps have seen.
int QuitMessagesSeen();

// A capture of a window's client area as 0x00RRGGBB pixels, rows top-down.
struct Capture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  // Bounding box of pixels that are not `background`; false when none.
  bool BoundsOfNot(uint32_t background, RECT* bounds) const;
  int Count(const std::function<bool(uint32_t)>& test) const;
};
// The pixels (0x00RRGGBB) of a rectangle of a device context; empty on failure.
Capture CaptureRect(HDC source, int x, int y, int width, int height);
// BitBlt from the window's client DC; the window should be visible and on top.
Capture CaptureClient(HWND window);
// Saves a capture as a 24-bit BMP file.
bool SaveBmp(const Capture& capture, const std::wstring& path);

// Colour tests on 0x00RRGGBB.
inline int Red(uint32_t p) { return (p >> 16) & 0xFF; }
inline int Green(uint32_t p) { return (p >> 8) & 0xFF; }
inline int Blue(uint32_t p) { return p & 0xFF; }
inline bool IsReddish(uint32_t p) { return Red(p) > 150 && Green(p) < 100 && Blue(p) < 100; }
inline bool IsBluish(uint32_t p) { return Blue(p) > 150 && Red(p) < 100 && Green(p) < 100; }

// A plain top-level window of a test class (DefWindowProc), for parents
// and notification targets.
HWND CreatePlainWindow(const wchar_t* title, DWORD style, int x, int y, int width, int height);

// The test run's bin folder (TW_TEST_BIN) as a Windows path ending in '\'.
std::wstring TestBinFolder();

}  // namespace twtest
