// Authenticode verification of the downloaded setup file.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace tw {

// True when WinVerifyTrust (generic verify v2, no UI, no revocation check)
// accepts the file; *signerName then holds the signing certificate's subject
// as an X.500 string (empty when it cannot be read).
bool VerifyExeSignature(const std::wstring& path, std::wstring* signerName);
// The same on a file that the caller holds open (`file` may be null): the
// verification reads through that handle.
bool VerifyExeSignature(const std::wstring& path, HANDLE file, std::wstring* signerName);

// The certificate's subject as an X.500 string in a LocalAlloc buffer that the
// caller frees with LocalFree; null when it cannot be read.
wchar_t* GetCertSubjectName(PCCERT_CONTEXT certificate);

}  // namespace tw
