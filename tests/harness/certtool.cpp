// tw_certtool <certificate.der>: adds the certificate to the LOCAL_MACHINE
// "Root" store of the Wine prefix, so that WinINet trusts the test servers
// without any check being switched off.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  std::vector<BYTE> bytes(65536);
  DWORD got = 0;
  const BOOL read = file != INVALID_HANDLE_VALUE && ReadFile(file, bytes.data(), 65536, &got, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  const BOOL added = read && got > 0 && store != nullptr &&
                     CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, bytes.data(), got,
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  if (store != nullptr) CertCloseStore(store, 0);
  if (!added) fwprintf(stderr, L"cannot add %ls to the Root store: %lu\n", argv[1], error);
  return added ? 0 : 1;
}
