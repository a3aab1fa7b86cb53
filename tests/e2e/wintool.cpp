// Looks at and closes the online setup's window from the end-to-end tests.
//   tw_wintool state  -> prints "visible=<0|1> topmost=<0|1> link=<0|1> linktext=<text>"
//                        for the window of class TarnwickOnlineSetupClass, or "none"
//   tw_wintool close  -> posts WM_CLOSE to it
//   tw_wintool hold <path> -> opens (or creates) the file without any sharing and
//                        keeps it open until killed; prints "held" once it holds it
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct LinkInfo {
  bool found = false;
  bool visible = false;
  std::wstring text;
};

BOOL CALLBACK FindLink(HWND child, LPARAM param) {
  auto* info = reinterpret_cast<LinkInfo*>(param);
  wchar_t text[512] = {};
  GetWindowTextW(child, text, 512);
  info->found = true;
  info->visible = IsWindowVisible(child) != FALSE;
  info->text = text;
  return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"hold") {
    HANDLE file = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      wprintf(L"error %lu\n", GetLastError());
      return 1;
    }
    wprintf(L"held\n");
    fflush(stdout);
    Sleep(INFINITE);
    return 0;
  }
  if (argc != 2) return 2;
  HWND window = FindWindowW(L"TarnwickOnlineSetupClass", nullptr);
  const std::wstring command = argv[1];
  if (window == nullptr) {
    wprintf(L"none\n");
    return command == L"state" ? 0 : 1;
  }
  if (command == L"close") return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
  if (command != L"state") return 2;
  LinkInfo link;
  EnumChildWindows(window, FindLink, reinterpret_cast<LPARAM>(&link));
  const bool topmost = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  // UTF-8 so that the Linux side can read any link text.
  std::wstring line = L"visible=" + std::to_wstring(IsWindowVisible(window) ? 1 : 0) +
                      L" topmost=" + std::to_wstring(topmost ? 1 : 0) +
                      L" link=" + std::to_wstring(link.visible ? 1 : 0) + L" linktext=" + link.text + L"\n";
  char utf8[2048];
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8, sizeof(utf8), nullptr, nullptr);
  if (size > 0) fwrite(utf8, 1, static_cast<size_t>(size - 1), stdout);
  return 0;
}
