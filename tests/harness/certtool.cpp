// tw_certtool addroot <certificate.der>: adds a certificate to the
// LOCAL_MACHINE "Root" store of the Wine prefix, so that WinINet trusts
// the test servers' certificates without any check being switched off.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 || std::wstring(argv[1]) != L"addroot") {
    fwprintf(stderr, L"usage: tw_certtool addroot <certificate.der>\n");
    return 2;
  }
  HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fwprintf(stderr, L"cannot open %ls: %lu\n", argv[2], GetLastError());
    return 1;
  }
  std::vector<BYTE> bytes(65536);
  DWORD got = 0;
  const BOOL read = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(file);
  if (!read || got == 0) return 1;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (store == nullptr) {
    fwprintf(stderr, L"cannot open the Root store: %lu\n", GetLastError());
    return 1;
  }
  const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, bytes.data(), got,
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(store, 0);
  if (!added) {
    fwprintf(stderr, L"cannot add the certificate: %lu\n", error);
    return 1;
  }
  return 0;
}
