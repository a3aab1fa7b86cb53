// A debug receiver for the end-to-end tests: a top-level window of the dialog
// class "#32770" titled "XRecv" that appends every WM_COPYDATA text it gets
// (dwData, cbData and the text, UTF-8, one line each) to the file given as its
// argument, after a first line "ready". It runs until killed.
#include <windows.h>

#include <string>

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;  // the log file, open for the process's life

void AppendLine(const std::wstring& line) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &utf8[0], size, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(g_log, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COPYDATA) return DefWindowProcW(window, message, wParam, lParam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  std::wstring text;
  if (data->cbData >= sizeof(wchar_t) && data->lpData != nullptr) {
    text.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
    if (text.back() == L'\0') text.pop_back();
  }
  AppendLine(std::to_wstring(data->dwData) + L"\t" + std::to_wstring(data->cbData) + L"\t" + text + L"\n");
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  g_log = CreateFileW(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HWND window = CreateWindowExW(0, L"#32770", L"XRecv", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (g_log == INVALID_HANDLE_VALUE || window == nullptr) return 1;
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ReceiverProc));
  AppendLine(L"ready\n");
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
