#include "support/system_library.h"

#include <string>

namespace tw {

HMODULE LoadSystemLibrary(const wchar_t* name) {
  const HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // The flag is unknown (Windows before 8 without its loader update): load by
  // the full path. The altered search order then looks for the DLL's own
  // dependencies in its folder, System32, instead of the program's folder.
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0) return nullptr;  // last error from GetSystemDirectoryW
  if (length >= MAX_PATH) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return nullptr;
  }
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace tw
