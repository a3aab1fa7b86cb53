// SHA-256 of whole files (the system's CryptoAPI) and its hexadecimal form.
#pragma once

#include <cstdint>
#include <string>

namespace tw {

struct Sha256Digest {
  uint8_t bytes[32] = {};
  bool operator==(const Sha256Digest& other) const;
};

// Exactly 64 hexadecimal digits, in either letter case, and nothing else.
bool ParseSha256(const std::wstring& text, Sha256Digest* digest);
// 64 lower-case hexadecimal digits.
std::wstring FormatSha256(const Sha256Digest& digest);
// The digest of a file the caller holds open (GENERIC_READ), read from its
// start. False when the system cannot hash or the file cannot be read; the
// last error says why.
bool GetOpenFileSha256(void* file, Sha256Digest* digest);

}  // namespace tw
