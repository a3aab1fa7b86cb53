#include "session/trust_api.h"

#include "support/system_library.h"

namespace tw {
namespace {

TrustApi g_trust;             // valid once g_trustLoaded is set
bool g_trustLoaded = false;   // user-interface thread only

}  // namespace

const TrustApi* GetTrustApi() {
  if (g_trustLoaded) return &g_trust;
  const HMODULE wintrust = LoadSystemLibrary(L"wintrust.dll");
  const HMODULE crypt32 = wintrust != nullptr ? LoadSystemLibrary(L"crypt32.dll") : nullptr;
  if (crypt32 == nullptr) return nullptr;
  bool complete = true;
#define TW_WINTRUST_LOOK_UP(name) complete = LookUpFunction(wintrust, #name, &g_trust.name) && complete;
#define TW_CRYPT32_LOOK_UP(name) complete = LookUpFunction(crypt32, #name, &g_trust.name) && complete;
  TW_WINTRUST_FUNCTIONS(TW_WINTRUST_LOOK_UP)
  TW_CRYPT32_FUNCTIONS(TW_CRYPT32_LOOK_UP)
#undef TW_WINTRUST_LOOK_UP
#undef TW_CRYPT32_LOOK_UP
  if (!complete) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  g_trustLoaded = true;
  return &g_trust;
}

}  // namespace tw
