#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <memory>

#include "support/sha256.h"
#include "support/unique_handle.h"

namespace tw {
namespace {

constexpr DWORD kReadBlockSize = 65536;  // bytes per ReadFile

struct CryptProviderTraits {
  using Handle = HCRYPTPROV;
  static Handle Invalid() noexcept { return 0; }
  static void Close(Handle h) noexcept { CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {
  using Handle = HCRYPTHASH;
  static Handle Invalid() noexcept { return 0; }
  static void Close(Handle h) noexcept { CryptDestroyHash(h); }
};

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

}  // namespace

bool Sha256Digest::operator==(const Sha256Digest& other) const {
  return std::memcmp(bytes, other.bytes, sizeof(bytes)) == 0;
}

bool ParseSha256(const std::wstring& text, Sha256Digest* digest) {
  if (text.size() != 2 * sizeof(digest->bytes)) return false;
  for (size_t i = 0; i < sizeof(digest->bytes); ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest->bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

std::wstring FormatSha256(const Sha256Digest& digest) {
  static constexpr wchar_t kHexDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (const uint8_t byte : digest.bytes) {
    text.push_back(kHexDigits[byte >> 4]);
    text.push_back(kHexDigits[byte & 0x0F]);
  }
  return text;
}

bool GetOpenFileSha256(HANDLE file, Sha256Digest* digest) {
  // The AES provider hashes SHA-256 from XP SP3 on; no keys are needed.
  HCRYPTPROV providerHandle = 0;
  if (!CryptAcquireContextW(&providerHandle, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
  UniqueHandle<CryptProviderTraits> provider(providerHandle);
  HCRYPTHASH hashHandle = 0;
  if (!CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, &hashHandle)) return false;
  UniqueHandle<CryptHashTraits> hash(hashHandle);

  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  std::unique_ptr<BYTE[]> buffer(new BYTE[kReadBlockSize]);
  for (;;) {
    DWORD got = 0;
    // Unlike the CRC, a read error fails the digest: it must cover the whole file.
    if (!ReadFile(file, buffer.get(), kReadBlockSize, &got, nullptr)) return false;
    if (got == 0) break;
    if (!CryptHashData(hash.Get(), buffer.get(), got, 0)) return false;
  }
  DWORD size = sizeof(digest->bytes);
  return CryptGetHashParam(hash.Get(), HP_HASHVAL, digest->bytes, &size, 0) && size == sizeof(digest->bytes);
}

}  // namespace tw
