// Authenticode verification of the downloaded setup file.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace tw {

// The subject of the certificate that signed a file.
struct Signer {
  std::wstring subject;                   // X.500 string; empty when it cannot be read
  std::vector<std::wstring> commonNames;  // the value of every CN attribute, in order
};

// True when WinVerifyTrust (generic verify v2, no UI, no revocation check)
// accepts the file that the caller holds open as `file` (the verification
// reads through that handle; `path` names it); *signer then holds the signing
// certificate's subject (empty fields when it cannot be read). False also when
// WinTrust or Crypt32 cannot be loaded.
bool VerifyExeSignature(const std::wstring& path, HANDLE file, Signer* signer);

// The certificate's subject as an X.500 string in a LocalAlloc buffer that the
// caller frees with LocalFree; null when it cannot be read.
wchar_t* GetCertSubjectName(PCCERT_CONTEXT certificate);

}  // namespace tw
