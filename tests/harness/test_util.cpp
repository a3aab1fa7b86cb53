#include "harness/test_util.h"

#include <atomic>

#include "support/format_text.h"
#include "support/unique_handle.h"

namespace twtest {

std::wstring GetEnv(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
  if (length == 0 || length >= ARRAYSIZE(buffer)) return std::wstring();
  return std::wstring(buffer, length);
}

std::wstring TestBinFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring self(path, length < MAX_PATH ? length : 0);
  return self.substr(0, self.rfind(L'\\') + 1);  // the test programs live there too
}

std::wstring MakeScratchFolder(const wchar_t* hint) {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(ARRAYSIZE(temp), temp);
  const std::wstring base = (length > 0 && length < ARRAYSIZE(temp)) ? std::wstring(temp, length) : L".\\";
  // Wine reuses process ids between runs: the tick count keeps names apart.
  const std::wstring folder = tw::FormatText(L"%stwtest-%s-%u-%I64u-%u\\", base.c_str(), hint, GetCurrentProcessId(),
                                             static_cast<unsigned long long>(GetTickCount64()), ++counter);
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  tw::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  tw::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  bytes->clear();
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr)) {
    if (got == 0) return true;
    bytes->append(chunk, got);
  }
  return false;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;  // the test goes on; the quit is the window's
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now < 10 ? end - now : 10), QS_ALLINPUT);
  }
}

bool Capture::BoundsOfNot(uint32_t background, RECT* bounds) const {
  RECT r = {width, height, -1, -1};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (pixels[static_cast<size_t>(y) * width + x] == background) continue;
      r = {x < r.left ? x : r.left, y < r.top ? y : r.top, x > r.right ? x : r.right, y > r.bottom ? y : r.bottom};
    }
  }
  *bounds = {r.left, r.top, r.right + 1, r.bottom + 1};
  return r.right >= 0;
}

Capture CaptureClient(HWND window) {
  Capture capture;
  RECT client;
  if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) return capture;
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  tw::UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  tw::UniqueMemoryDc memory(CreateCompatibleDC(nullptr));  // deleted before the bitmap it holds
  const HDC source = GetDC(window);
  if (bitmap && memory && source != nullptr) {
    SelectObject(memory.Get(), bitmap.Get());
    BitBlt(memory.Get(), 0, 0, client.right, client.bottom, source, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    capture.pixels.assign(p, p + static_cast<size_t>(client.right) * client.bottom);
    for (uint32_t& pixel : capture.pixels) pixel &= 0x00FFFFFF;
    capture.width = client.right;
    capture.height = client.bottom;
  }
  if (source != nullptr) ReleaseDC(window, source);
  return capture;
}

}  // namespace twtest
