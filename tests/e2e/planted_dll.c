/* Planted by the end-to-end rig beside the program under the names of system
   DLLs that are not known DLLs (wininet.dll, wintrust.dll, crypt32.dll,
   comctl32.dll). When the loader takes it, it appends its own path (UTF-16,
   a line) to the file named by the environment variable TW_E2E_PLANT_LOG and
   refuses to stay, so that a program that imports it ends at once. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  wchar_t log[MAX_PATH], name[MAX_PATH];
  DWORD length, written;
  HANDLE file;
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  length = GetEnvironmentVariableW(L"TW_E2E_PLANT_LOG", log, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return FALSE;
  length = GetModuleFileNameW(self, name, MAX_PATH);
  file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  WriteFile(file, name, length * sizeof(wchar_t), &written, NULL);
  WriteFile(file, L"\n", sizeof(wchar_t), &written, NULL);
  CloseHandle(file);
  return FALSE;
}
