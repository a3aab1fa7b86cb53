// Keeps Wine's desktop process alive for the whole test run: a GUI program
// started at the moment the desktop process goes away waits about ten
// seconds for a new one. It runs until the fixture stops the Wine server.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"TarnwickTestKeepAlive";
  RegisterClassW(&windowClass);
  CreateWindowExW(0, windowClass.lpszClassName, L"keepalive", WS_OVERLAPPED, 0, 0, 10, 10,
                  nullptr, nullptr, instance, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
