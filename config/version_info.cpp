#include "config/version_info.h"

#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <cwctype>

#include "diag/debug_log.h"

namespace tw {
namespace {

constexpr unsigned short kMachineI386 = 0x014C;
constexpr unsigned short kMachineAmd64 = 0x8664;
constexpr unsigned short kMachineArm64 = 0xAA64;
constexpr unsigned short kProcessorArchitectureAmd64 = 9;

using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE process, USHORT* processMachine,
                                        USHORT* nativeMachine);
using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO info);

// Computed once; 0 until then. User-interface thread only.
int g_machineArch = 0;

// GetProcAddress hands back a generic pointer; the detour through void(*)()
// states that the cast to the real signature is deliberate.
template <typename Fn>
Fn LookUpFunction(const wchar_t* module, const char* name) {
  const HMODULE handle = GetModuleHandleW(module);  // already loaded; nothing is loaded here
  if (handle == nullptr) return nullptr;
  const FARPROC proc = GetProcAddress(handle, name);
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

const wchar_t* const kUrlKeys[5] = {L"URL1", L"URL2", L"URL3", L"URL4", L"URL5"};

}  // namespace

int MachineArchFromNativeMachine(unsigned short nativeMachine) {
  switch (nativeMachine) {
    case kMachineArm64:
      return MachineArchA64;
    case kMachineAmd64:
      return MachineArchX64;
    case kMachineI386:
      return MachineArchX86;
    default:
      return 0;
  }
}

int MachineArchFromProcessorArchitecture(unsigned short processorArchitecture) {
  return processorArchitecture == kProcessorArchitectureAmd64 ? MachineArchX64 : MachineArchX86;
}

int DetectMachineArch() {
  if (g_machineArch != 0) return g_machineArch;
  int arch = 0;
  // The native machine of the system, whatever this process runs as; missing
  // before Windows 10 1709, which is normal.
  if (const auto isWow64Process2 =
          LookUpFunction<IsWow64Process2Fn>(L"Kernel32.dll", "IsWow64Process2")) {
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine)) {
      arch = MachineArchFromNativeMachine(nativeMachine);
    }
  }
  if (arch == 0) {
    if (const auto getNativeSystemInfo =
            LookUpFunction<GetNativeSystemInfoFn>(L"kernel32.dll", "GetNativeSystemInfo")) {
      SYSTEM_INFO info{};
      getNativeSystemInfo(&info);
      arch = MachineArchFromProcessorArchitecture(info.wProcessorArchitecture);
    }
  }
  if (arch == 0) arch = MachineArchX86;
  g_machineArch = arch;
  return arch;
}

const wchar_t* MachineArchTag(int arch) {
  switch (arch) {
    case MachineArchX64:
      return L"X64";
    case MachineArchA64:
      return L"A64";
    default:
      return L"X86";
  }
}

std::wstring GetUpdateDownloadSectionName(const std::wstring& edition) {
  const std::wstring name = L"DOWNLOAD." + edition + L"." + MachineArchTag(DetectMachineArch());
  SendDebugLog(L"@@rGetUpdateDownloadSectionName() - %s", name.c_str());
  return name;
}

void ReadDownloadSection(const IniDocument& document, const std::wstring& section,
                         DownloadInfo* info) {
  // Each field's current value is the default: only a missing key keeps it.
  info->fileName = document.GetString(section, L"FILENAME", info->fileName);
  info->crc32Text = document.GetString(section, L"CRC32", info->crc32Text);
  info->sha256Text = document.GetString(section, L"SHA256", info->sha256Text);
  for (int i = 0; i < 5; ++i)
    info->urls[i] = document.GetString(section, kUrlKeys[i], info->urls[i]);
  info->sleepInterval = document.GetInt(section, L"sleepInterval", info->sleepInterval);
}

void ReadDownloadInfo(const IniDocument& document, const std::wstring& edition,
                      DownloadInfo* info) {
  const std::wstring general = L"DOWNLOAD." + edition;
  const std::wstring specific = GetUpdateDownloadSectionName(edition);
  for (std::wstring& url : info->urls) url.clear();
  // The architecture's section overrides the general one key by key.
  ReadDownloadSection(document, general, info);
  ReadDownloadSection(document, specific, info);
  if (info->sleepInterval > kMaxSleepIntervalMs) info->sleepInterval = kMaxSleepIntervalMs;
}

Crc32Rule Crc32FromText(const std::wstring& text, uint32_t* value) {
  errno = 0;
  *value = static_cast<uint32_t>(wcstoul(text.c_str(), nullptr, 16));  // unsigned long: 32 bits on Windows
  const wchar_t* sign = text.c_str();
  while (iswspace(*sign)) ++sign;  // as wcstoul skips it
  if (errno == ERANGE || *sign == L'+' || *sign == L'-') return Crc32MatchesNone;
  const size_t digits = text.compare(0, 2, L"0x") == 0 || text.compare(0, 2, L"0X") == 0 ? 2 : 0;
  const bool skip = text.size() == digits + 8 && text.find_first_not_of(L"fF", digits) == std::wstring::npos;
  return skip ? Crc32Skip : Crc32Compare;
}

}  // namespace tw
