// Stands in for the real setup program in the end-to-end tests: appends the
// command line it was started with (UTF-8, one line) to the file named by the
// environment variable TW_E2E_LAUNCH_LOG (without it, started by a process
// other than the test's, to this program's path + ".launch.log"), loads
// "version.dll" by name as setups do, then ends.
#include <windows.h>

#include <string>

namespace {

// Makes the program about 1 MiB, so that downloads of it take long enough for
// the mirror race to choose a mirror (past 262,144 bytes).
const unsigned char kPadding[1 << 20] = {1, 2, 3};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  volatile unsigned char touch = kPadding[GetTickCount() & 0xFFFFF];
  (void)touch;
  wchar_t logPath[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"TW_E2E_LAUNCH_LOG", logPath, MAX_PATH);
  if (length == 0 && (length = GetModuleFileNameW(nullptr, logPath, MAX_PATH - 12)) != 0) {
    lstrcatW(logPath, L".launch.log");
  }
  if (length == 0 || length >= MAX_PATH - 12) return 2;
  const std::wstring line = std::wstring(GetCommandLineW()) + L"\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &utf8[0], size, nullptr, nullptr);
  HANDLE file = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
  LoadLibraryW(L"version.dll");  // searched for in this program's folder first, as a setup's imports are
  return 0;
}
