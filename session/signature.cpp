#include "session/signature.h"

#include "session/trust_api.h"
#include "support/unique_handle.h"

namespace tw {

namespace {

// Closes the WinTrust state of a verification on every path.
class TrustState {
 public:
  TrustState(const TrustApi& api, GUID* action, WINTRUST_DATA* data) : api_(api), action_(action), data_(data) {}
  ~TrustState() {
    data_->dwUIChoice = WTD_UI_NONE;
    data_->dwStateAction = WTD_STATEACTION_CLOSE;
    api_.WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), action_, data_);
  }
  TrustState(const TrustState&) = delete;
  TrustState& operator=(const TrustState&) = delete;

 private:
  const TrustApi& api_;
  GUID* action_;
  WINTRUST_DATA* data_;
};

// The values of the subject's common-name attributes, from the decoded name
// rather than from its text form: there a value may quote "CN=..." itself.
std::vector<std::wstring> ReadCommonNames(const TrustApi& api, PCCERT_CONTEXT certificate) {
  std::vector<std::wstring> names;
  CERT_NAME_INFO* decoded = nullptr;  // LocalAlloc'd by the decoder
  DWORD size = 0;
  const CERT_NAME_BLOB& subject = certificate->pCertInfo->Subject;
  if (!api.CryptDecodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, subject.pbData, subject.cbData,
                               CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size)) {
    return names;
  }
  UniqueLocalMemory<CERT_NAME_INFO> owner(decoded);
  for (DWORD r = 0; r < decoded->cRDN; ++r) {
    const CERT_RDN& rdn = decoded->rgRDN[r];
    for (DWORD a = 0; a < rdn.cRDNAttr; ++a) {
      const CERT_RDN_ATTR& attribute = rdn.rgRDNAttr[a];
      // Text values are decoded to UTF-16; the two binary kinds are not text.
      if (lstrcmpA(attribute.pszObjId, szOID_COMMON_NAME) != 0 ||
          attribute.dwValueType == CERT_RDN_ENCODED_BLOB || attribute.dwValueType == CERT_RDN_OCTET_STRING) {
        continue;
      }
      names.emplace_back(reinterpret_cast<const wchar_t*>(attribute.Value.pbData),
                         attribute.Value.cbData / sizeof(wchar_t));
    }
  }
  return names;
}

void ReadSigner(const TrustApi& api, HANDLE stateData, Signer* signer) {
  CRYPT_PROVIDER_DATA* provider = api.WTHelperProvDataFromStateData(stateData);
  if (provider == nullptr) return;
  CRYPT_PROVIDER_SGNR* signerData = api.WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (signerData == nullptr) return;
  CRYPT_PROVIDER_CERT* leaf = api.WTHelperGetProvCertFromChain(signerData, 0);
  if (leaf == nullptr || leaf->pCert == nullptr) return;
  UniqueLocalMemory<wchar_t> subject(GetCertSubjectName(leaf->pCert));
  if (subject) signer->subject = subject.Get();
  signer->commonNames = ReadCommonNames(api, leaf->pCert);
}

}  // namespace

bool VerifyExeSignature(const std::wstring& path, HANDLE file, Signer* signer) {
  *signer = Signer();
  const TrustApi* api = GetTrustApi();
  if (api == nullptr) return false;  // cannot verify: as good as unsigned

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

  // The caller may have read the file already: the verification reads from its start.
  if (file != nullptr) SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = api->WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  TrustState state(*api, &action, &data);
  if (status != 0) return false;  // no signature, bad digest, untrusted...
  ReadSigner(*api, data.hWVTStateData, signer);
  return true;
}

wchar_t* GetCertSubjectName(PCCERT_CONTEXT certificate) {
  const TrustApi* api = GetTrustApi();
  if (api == nullptr) return nullptr;
  DWORD nameType = CERT_X500_NAME_STR;
  const DWORD length = api->CertGetNameStringW(certificate, CERT_NAME_RDN_TYPE, 0, &nameType, nullptr, 0);
  if (length == 0) return nullptr;
  auto* buffer = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, length * sizeof(wchar_t)));
  if (buffer == nullptr) return nullptr;
  api->CertGetNameStringW(certificate, CERT_NAME_RDN_TYPE, 0, &nameType, buffer, length);
  return buffer;
}

}  // namespace tw
