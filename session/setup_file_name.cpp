#include "session/setup_file_name.h"

#include <windows.h>

namespace tw {

namespace {

constexpr wchar_t kDefaultSetupFileName[] = L"TARNWICK-SETUP.EXE";

// Names the system takes for devices in any folder. The digits include the
// superscripts 1, 2 and 3, which it matches as well.
bool IsDeviceName(const std::wstring& name) {
  // The device part ends at the first dot; spaces before it do not count.
  std::wstring base = name.substr(0, name.find(L'.'));
  base.erase(base.find_last_not_of(L' ') + 1);
  if (base.size() == 3) {
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL"}) {
      if (lstrcmpiW(base.c_str(), device) == 0) return true;
    }
    return false;
  }
  if (base.size() == 4) {
    const std::wstring prefix = base.substr(0, 3);
    const wchar_t digit = base[3];
    const bool isPort = lstrcmpiW(prefix.c_str(), L"COM") == 0 || lstrcmpiW(prefix.c_str(), L"LPT") == 0;
    return isPort && ((digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
                      digit == L'\u00B3');
  }
  return lstrcmpiW(base.c_str(), L"CONIN$") == 0 || lstrcmpiW(base.c_str(), L"CONOUT$") == 0;
}

bool IsPlainFileName(const std::wstring& name) {
  if (name.find_first_of(std::wstring(L"\\/:\0", 4)) != std::wstring::npos) return false;
  // Windows drops trailing dots and spaces, so ". ." and "..." name a folder as ".." does.
  if (name.find_first_not_of(L". ") == std::wstring::npos) return false;
  return !IsDeviceName(name);
}

}  // namespace

std::wstring SanitizeSetupFileName(const std::wstring& fileName) {
  if (fileName.empty() || !IsPlainFileName(fileName)) return kDefaultSetupFileName;
  return fileName;
}

}  // namespace tw
