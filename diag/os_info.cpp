#include "diag/os_info.h"

#include "support/format_text.h"

namespace tw {
namespace {

constexpr int kOsUnknown = 18;
constexpr LONG kStatusSuccess = 0;

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW* info);

// Computed once; 0 until then. User-interface thread only.
int g_osId = 0;
DWORD g_osVersion[3] = {};  // major, minor, build; stored with g_osId

// Indexed by OsId 0..17; 18 and anything outside is "Unknown OS".
const wchar_t* const kOsNames[] = {
    L"Undef",
    L"Windows 2000",
    L"Windows XP",
    L"Windows XP (SP1)",
    L"Windows XP (SP2)",
    L"Windows XP (SP3)",
    L"Windows 2000",  // 5.2 carries the same text as 5.0
    L"Windows Vista",
    L"Windows Vista (SP1)",
    L"Windows Vista (SP2)",
    L"Windows Server 2008",
    L"Windows 7",
    L"Windows 7 (SP1)",
    L"Windows Server 2008 R2",
    L"Windows 8",
    L"Windows 8.1",
    L"Windows Server 2012 R2",
    L"Windows 10",
};
static_assert(sizeof(kOsNames) / sizeof(kOsNames[0]) == kOsUnknown, "one name per OsId below 18");

int OsIdForWindows5(DWORD minor, WORD servicePackMajor) {
  if (minor == 1) {
    switch (servicePackMajor) {
      case 1:
        return 3;
      case 2:
        return 4;
      case 3:
        return 5;
      default:
        return 2;
    }
  }
  if (minor == 2) return 6;
  return 1;  // 5.0, and 5.3 or later
}

int OsIdForWindows6(DWORD minor, WORD servicePackMajor, bool workstation) {
  switch (minor) {
    case 0:
      if (!workstation) return 10;
      return servicePackMajor == 1 ? 8 : servicePackMajor == 2 ? 9 : 7;
    case 1:
      if (!workstation) return 13;
      return servicePackMajor == 1 ? 12 : 11;
    case 2:
      return 14;
    case 3:
      return workstation ? 15 : 16;
    default:
      return kOsUnknown;
  }
}

}  // namespace

int OsIdFromVersion(DWORD major, DWORD minor, WORD servicePackMajor, BYTE productType) {
  const bool workstation = productType == VER_NT_WORKSTATION;
  switch (major) {
    case 5:
      return OsIdForWindows5(minor, servicePackMajor);
    case 6:
      return OsIdForWindows6(minor, servicePackMajor, workstation);
    case 10:
      return 17;
    default:
      return kOsUnknown;
  }
}

int GetOsId() {
  if (g_osId != 0) return g_osId;
  // Every early exit below leaves "Unknown OS" stored.
  g_osId = kOsUnknown;

  // RtlGetVersion, unlike GetVersionExW, is not subject to the manifest-based
  // version lie.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return g_osId;
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (rtlGetVersion == nullptr) return g_osId;

  OSVERSIONINFOEXW info{};
  static_assert(sizeof(info) == 284, "RTL_OSVERSIONINFOEXW is 284 bytes");
  info.dwOSVersionInfoSize = sizeof(info);
  if (rtlGetVersion(&info) != kStatusSuccess) return g_osId;
  if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) return g_osId;

  g_osVersion[0] = info.dwMajorVersion;
  g_osVersion[1] = info.dwMinorVersion;
  g_osVersion[2] = info.dwBuildNumber;
  g_osId = OsIdFromVersion(info.dwMajorVersion, info.dwMinorVersion, info.wServicePackMajor,
                           info.wProductType);
  return g_osId;
}

std::wstring GetOsVersionNumbers() {
  GetOsId();
  if (g_osVersion[0] == 0) return std::wstring();
  return FormatText(L"%u.%u.%u", g_osVersion[0], g_osVersion[1], g_osVersion[2]);
}

const wchar_t* GetOsName(int osId) {
  if (osId < 0 || osId >= kOsUnknown) return L"Unknown OS";
  return kOsNames[osId];
}

}  // namespace tw
