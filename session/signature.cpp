#include "session/signature.h"

#include <softpub.h>
#include <wintrust.h>

#include "support/unique_handle.h"

namespace tw {

namespace {

// Closes the WinTrust state of a verification on every path.
class TrustState {
 public:
  TrustState(GUID* action, WINTRUST_DATA* data) : action_(action), data_(data) {}
  ~TrustState() {
    data_->dwUIChoice = WTD_UI_NONE;
    data_->dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), action_, data_);
  }
  TrustState(const TrustState&) = delete;
  TrustState& operator=(const TrustState&) = delete;

 private:
  GUID* action_;
  WINTRUST_DATA* data_;
};

std::wstring ReadSignerSubject(HANDLE stateData) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
  if (provider == nullptr) return std::wstring();
  CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (signer == nullptr) return std::wstring();
  CRYPT_PROVIDER_CERT* leaf = WTHelperGetProvCertFromChain(signer, 0);
  if (leaf == nullptr || leaf->pCert == nullptr) return std::wstring();
  UniqueLocalMemory<wchar_t> subject(GetCertSubjectName(leaf->pCert));
  return subject ? std::wstring(subject.Get()) : std::wstring();
}

}  // namespace

bool VerifyExeSignature(const std::wstring& path, HANDLE file, std::wstring* signerName) {
  signerName->clear();
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file;

  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  TrustState state(&action, &data);
  if (status != 0) return false;  // no signature, bad digest, untrusted...
  *signerName = ReadSignerSubject(data.hWVTStateData);
  return true;
}

bool VerifyExeSignature(const std::wstring& path, std::wstring* signerName) {
  return VerifyExeSignature(path, nullptr, signerName);
}

wchar_t* GetCertSubjectName(PCCERT_CONTEXT certificate) {
  DWORD nameType = CERT_X500_NAME_STR;
  const DWORD length = CertGetNameStringW(certificate, CERT_NAME_RDN_TYPE, 0, &nameType, nullptr, 0);
  if (length == 0) return nullptr;
  auto* buffer = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, length * sizeof(wchar_t)));
  if (buffer == nullptr) return nullptr;
  CertGetNameStringW(certificate, CERT_NAME_RDN_TYPE, 0, &nameType, buffer, length);
  return buffer;
}

}  // namespace tw
