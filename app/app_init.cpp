#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <ctime>

#include "app/app_main.h"
#include "app/app_state.h"
#include "app/command_line.h"
#include "diag/build_stamp.h"
#include "diag/os_info.h"
#include "diag/setup_log.h"
#include "support/format_text.h"
#include "support/system_library.h"
#include "ui/dpi.h"
#include "ui/window_station.h"

namespace tw {

void HardenProcess() {
  // Looked up rather than imported: Windows XP and an unpatched Vista or 7
  // lack it, and the program must still start there (XP gets its notice).
  // The DLLs the program loads itself come from System32 by full path anyway
  // (support/system_library.h); this covers those the system loads for it.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  SetDefaultDllDirectoriesFn setDefaultDllDirectories = nullptr;
  SetDllDirectoryFn setDllDirectory = nullptr;
  if (LookUpFunction(kernel, "SetDefaultDllDirectories", &setDefaultDllDirectories)) {
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);  // best effort
  } else if (LookUpFunction(kernel, "SetDllDirectoryW", &setDllDirectory)) {
    // Without it, at least the current folder leaves the search (XP SP1 on).
    setDllDirectory(L"");  // best effort
  }
  // Best effort as well; present since XP SP3.
  HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
}

bool AppInit(HRESULT* comResult) {
  *comResult = CoInitialize(nullptr);
  if (FAILED(*comResult)) return false;
  SetErrorMode(SEM_FAILCRITICALERRORS);
  // The process id keeps instances started in the same second from drawing the
  // same fallback file names; the multiplier spreads it over the bits rand() uses.
  srand(static_cast<unsigned>(time(nullptr)) ^ (GetCurrentProcessId() * 0x9E3779B1u));
  ReadScreenDpi();
  AppState& state = GetAppState();
  PickUiLanguage(state);
  // The run-time's wide argument vector (the usual quoting rules).
  ApplyArguments(__argc, __wargv, state);
  state.hiddenStation = IsOwnStationHidden();
  return true;
}

void AppTerm() { CoUninitialize(); }

void LogRunStart(const PrivateFolder& folder) {
  std::wstring buildTime;
  for (const char* c = BuildTimeString(); *c != '\0'; ++c) buildTime.push_back(static_cast<unsigned char>(*c));
  const AppState& state = GetAppState();
  BeginSetupLog(folder.path(),
                FormatText(L"version %d built %s %s, command line: %s, %s (%s), UI language 0x%04x %s", ProtocolNumber,
                           FormatBuildDate().c_str(), buildTime.c_str(), GetCommandLineW(), GetOsName(GetOsId()),
                           GetOsVersionNumbers().c_str(), GetUserDefaultUILanguage(), state.languageName.c_str()));
}

}  // namespace tw
