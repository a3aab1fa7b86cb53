// The three steps of the process: prepare, run the window's message loop,
// tidy up.
#pragma once

#include <windows.h>

#include "support/private_folder.h"

namespace tw {

// COM, error mode, random seed, DPI, UI language, switches, the window
// station. False only when COM cannot be initialised (*comResult says why);
// the process then ends with 1.
bool AppInit(HRESULT* comResult);
// Accelerators, the named mutex, the main window and its message loop; the
// session works in `folder`. Returns the process exit code:
// AppState::exitCode, or 1 when the window cannot be created.
int AppRun(const PrivateFolder& folder);
void AppTerm();
// The run's start line in the local log in `folder` (none without a folder):
// version, build, command line, Windows version and UI language.
void LogRunStart(const PrivateFolder& folder);

// The process hardening done before anything else: DLLs only from System32,
// termination on heap corruption.
void HardenProcess();

}  // namespace tw
