// What the unit tests share: the test run's environment (server ports, bin
// folder, scratch folders), whole files, message pumping with a deadline, and
// captures of what a window shows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace twtest {

// The value of an environment variable, empty when unset.
std::wstring GetEnv(const wchar_t* name);
// The folder of the test program, where the helper programs are too; ends in '\'.
std::wstring TestBinFolder();
// A fresh empty folder (ending with a backslash) under the temporary folder.
std::wstring MakeScratchFolder(const wchar_t* hint);
// False on any failure.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
bool ReadWholeFile(const std::wstring& path, std::string* bytes);

// Dispatches this thread's messages until done() is true or timeoutMs have
// passed; true when done() became true.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
inline void PumpMessages(DWORD ms) { PumpUntil([] { return false; }, ms); }

// What a window's client area shows, as 0x00RRGGBB pixels, rows top-down.
struct Capture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  // Bounding box of the pixels that are not `background`; false when none.
  bool BoundsOfNot(uint32_t background, RECT* bounds) const;
};
Capture CaptureClient(HWND window);

}  // namespace twtest
