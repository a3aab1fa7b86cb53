#include "ui/window_test_util.h"

#include "harness/test_env.h"

namespace twtest {
namespace {

int g_quits = 0;

void DispatchPending() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ++g_quits;
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

void PumpMessages(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    DispatchPending();
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    const DWORD wait = static_cast<DWORD>(end - now < 10 ? end - now : 10);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
  }
}

int QuitMessagesSeen() { return g_quits; }

bool Capture::BoundsOfNot(uint32_t background, RECT* bounds) const {
  bool any = false;
  RECT r = {width, height, -1, -1};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (At(x, y) == background) continue;
      any = true;
      if (x < r.left) r.left = x;
      if (y < r.top) r.top = y;
      if (x > r.right) r.right = x;
      if (y > r.bottom) r.bottom = y;
    }
  }
  if (any) *bounds = {r.left, r.top, r.right + 1, r.bottom + 1};
  return any;
}

int Capture::Count(const std::function<bool(uint32_t)>& test) const {
  int n = 0;
  for (uint32_t p : pixels) n += test(p) ? 1 : 0;
  return n;
}

Capture CaptureRect(HDC source, int x, int y, int width, int height) {
  Capture capture;
  if (source == nullptr || width <= 0 || height <= 0) return capture;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return capture;
  const HDC memory = CreateCompatibleDC(source);
  const HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
  GdiFlush();
  capture.width = width;
  capture.height = height;
  const auto* p = static_cast<const uint32_t*>(bits);
  capture.pixels.assign(p, p + static_cast<size_t>(width) * height);
  for (uint32_t& pixel : capture.pixels) pixel &= 0x00FFFFFF;
  SelectObject(memory, previous);
  DeleteDC(memory);
  DeleteObject(bitmap);
  return capture;
}

Capture CaptureClient(HWND window) {
  RECT client;
  if (!GetClientRect(window, &client)) return Capture();
  const HDC source = GetDC(window);
  Capture capture = CaptureRect(source, 0, 0, client.right, client.bottom);
  if (source != nullptr) ReleaseDC(window, source);
  return capture;
}

bool SaveBmp(const Capture& capture, const std::wstring& path) {
  const int stride = ((capture.width * 3) + 3) & ~3;
  std::string bytes;
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = capture.width;
  header.biHeight = -capture.height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biSizeImage = static_cast<DWORD>(stride * capture.height);
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + header.biSizeImage;
  bytes.append(reinterpret_cast<const char*>(&file), sizeof(file));
  bytes.append(reinterpret_cast<const char*>(&header), sizeof(header));
  for (int y = 0; y < capture.height; ++y) {
    std::string row(stride, '\0');
    for (int x = 0; x < capture.width; ++x) {
      const uint32_t p = capture.At(x, y);
      row[x * 3] = static_cast<char>(Blue(p));
      row[x * 3 + 1] = static_cast<char>(Green(p));
      row[x * 3 + 2] = static_cast<char>(Red(p));
    }
    bytes += row;
  }
  return WriteWholeFile(path, bytes);
}

HWND CreatePlainWindow(const wchar_t* title, DWORD style, int x, int y, int width, int height) {
  static ATOM atom = 0;
  if (atom == 0) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"TwTestPlainWindow";
    atom = RegisterClassW(&windowClass);
  }
  return CreateWindowExW(0, L"TwTestPlainWindow", title, style, x, y, width, height, nullptr,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
}

std::wstring TestBinFolder() {
  std::wstring folder = GetEnv(L"TW_TEST_BIN");
  if (folder.empty()) return folder;
  for (wchar_t& c : folder) {
    if (c == L'/') c = L'\\';
  }
  if (folder[0] == L'\\') folder = L"Z:" + folder;
  if (folder.back() != L'\\') folder += L'\\';
  return folder;
}

}  // namespace twtest
