// DLLs of the system folder, loaded after start-up. The program's own folder
// (usually the user's downloads) and the current folder are never searched:
// the process runs elevated, and a DLL planted there would run with it.
#pragma once

#include <windows.h>

namespace tw {

// Loads `name` (a file name such as L"wininet.dll") from System32 only, its
// own dependencies too. Null when it cannot be loaded; the last error says why.
// The module stays loaded for the process's life.
HMODULE LoadSystemLibrary(const wchar_t* name);

// GetProcAddress into a pointer of the function's real type (the 32-bit build
// calls through it with the function's own convention, so the type must be
// the declared one: use decltype(&::Function)). False when it is missing.
template <typename Fn>
bool LookUpFunction(HMODULE module, const char* name, Fn* function) {
  // The detour through void(*)() states that the cast is deliberate.
  *function = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return *function != nullptr;
}

}  // namespace tw
