#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <ctime>

#include "app/app_main.h"
#include "app/app_state.h"
#include "app/command_line.h"
#include "ui/dpi.h"

namespace tw {

void HardenProcess() {
  // Both are best effort: they fail only on systems that lack them.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
}

bool AppInit() {
  if (FAILED(CoInitialize(nullptr))) return false;
  SetErrorMode(SEM_FAILCRITICALERRORS);
  srand(static_cast<unsigned>(time(nullptr)));
  ReadScreenDpi();
  AppState& state = GetAppState();
  PickUiLanguage(state);
  // The run-time's wide argument vector (the usual quoting rules).
  ApplyArguments(__argc, __wargv, state);
  return true;
}

void AppTerm() { CoUninitialize(); }

}  // namespace tw
