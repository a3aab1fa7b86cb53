#include "net/wininet_api.h"

#include "support/system_library.h"

namespace tw {
namespace {

// Published once; never freed (the process's life).
WinInetApi* volatile g_winInet = nullptr;

}  // namespace

const WinInetApi* GetWinInetApi() {
  WinInetApi* api = static_cast<WinInetApi*>(InterlockedCompareExchangePointer(
      reinterpret_cast<void* volatile*>(&g_winInet), nullptr, nullptr));
  if (api != nullptr) return api;

  // HTTPS brings in the system's security packages, which load crypt32.dll
  // by name, some loaders from the process's first search path (the
  // program's folder): loaded from System32 before, the name is taken.
  if (LoadSystemLibrary(L"crypt32.dll") == nullptr) return nullptr;
  const HMODULE module = LoadSystemLibrary(L"wininet.dll");
  if (module == nullptr) return nullptr;
  WinInetApi loaded;
  bool complete = true;
#define TW_WININET_LOOK_UP(name) complete = LookUpFunction(module, #name, &loaded.name) && complete;
  TW_WININET_FUNCTIONS(TW_WININET_LOOK_UP)
#undef TW_WININET_LOOK_UP
  if (!complete) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  // Several transfer threads may get here at once: the first table stays,
  // the others are dropped (the module's reference count only grows).
  api = new WinInetApi(loaded);
  WinInetApi* const first = static_cast<WinInetApi*>(InterlockedCompareExchangePointer(
      reinterpret_cast<void* volatile*>(&g_winInet), api, nullptr));
  if (first == nullptr) return api;
  delete api;
  return first;
}

}  // namespace tw
