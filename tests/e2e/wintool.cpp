// Looks at and closes the online setup's window for the end-to-end tests.
//   tw_wintool state       -> one line of tab-separated key=value fields (UTF-8) about the
//                             window of class TarnwickOnlineSetupClass, or "none":
//                             visible topmost rect (x,y,w,h) work (the work area: l,t,r,b)
//                             title mutex (the instance mutex exists) link linkrect
//                             (x,y,w,h in the client area) linktext
//   tw_wintool close       -> posts WM_CLOSE to it
//   tw_wintool hold <path> -> opens (or creates) the file without any sharing and keeps it
//                             open until killed; prints "held" once it holds it
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

std::wstring Box(int x, int y, int width, int height) {
  return std::to_wstring(x) + L"," + std::to_wstring(y) + L"," + std::to_wstring(width) + L"," +
         std::to_wstring(height);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"hold") {
    HANDLE file = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    wprintf(L"held\n");
    fflush(stdout);
    Sleep(INFINITE);
  }
  if (argc != 2) return 2;
  const std::wstring command = argv[1];
  const HWND window = FindWindowW(L"TarnwickOnlineSetupClass", nullptr);
  if (window == nullptr) {
    wprintf(L"none\n");
    return command == L"state" ? 0 : 1;
  }
  if (command == L"close") return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
  if (command != L"state") return 2;
  RECT r = {}, work = {}, link = {};
  GetWindowRect(window, &r);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"tarnwick-std-setup");
  if (mutex != nullptr) CloseHandle(mutex);
  const HWND child = GetWindow(window, GW_CHILD);  // the link, the only child
  GetWindowRect(child, &link);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&link), 2);
  const std::wstring line =
      L"visible=" + std::to_wstring(IsWindowVisible(window) ? 1 : 0) + L"\ttopmost=" +
      std::to_wstring((GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0) + L"\trect=" +
      Box(r.left, r.top, r.right - r.left, r.bottom - r.top) + L"\twork=" +
      Box(work.left, work.top, work.right, work.bottom) + L"\ttitle=" + TextOf(window) +
      L"\tmutex=" + std::to_wstring(mutex != nullptr ? 1 : 0) + L"\tlink=" +
      std::to_wstring(child != nullptr && IsWindowVisible(child) ? 1 : 0) + L"\tlinkrect=" +
      Box(link.left, link.top, link.right - link.left, link.bottom - link.top) + L"\tlinktext=" + TextOf(child) + L"\n";
  char utf8[4096];
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8, sizeof(utf8), nullptr, nullptr);
  if (size > 0) fwrite(utf8, 1, static_cast<size_t>(size - 1), stdout);
  return 0;
}
