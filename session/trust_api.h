// The WinTrust and Crypt32 functions of the signature check, looked up once
// from the system's wintrust.dll and crypt32.dll (neither is a known DLL, so
// both come from System32 only, at the first check, never through the import
// table).
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

namespace tw {

#define TW_WINTRUST_FUNCTIONS(X)                                                     \
  X(WinVerifyTrust) X(WTHelperProvDataFromStateData) X(WTHelperGetProvSignerFromChain) \
  X(WTHelperGetProvCertFromChain)
#define TW_CRYPT32_FUNCTIONS(X) X(CertGetNameStringW) X(CryptDecodeObjectEx)

// One pointer per function, each of the function's declared type.
struct TrustApi {
#define TW_TRUST_MEMBER(name) decltype(&::name) name;
  TW_WINTRUST_FUNCTIONS(TW_TRUST_MEMBER)
  TW_CRYPT32_FUNCTIONS(TW_TRUST_MEMBER)
#undef TW_TRUST_MEMBER
};

// The table, loaded on first use; user-interface thread only. Null when a
// library or function cannot be had (the last error is the loader's); a
// later call tries again.
const TrustApi* GetTrustApi();

}  // namespace tw
