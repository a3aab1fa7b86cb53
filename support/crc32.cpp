#include "support/crc32.h"

#include <windows.h>

#include <array>
#include <memory>

#include "support/unique_handle.h"

namespace tw {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;  // reflected form of 0x04C11DB7
constexpr DWORD kReadBlockSize = 4096;         // bytes per ReadFile

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (kPolynomial ^ (c >> 1)) : (c >> 1);
    table[i] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x77073096u, "standard CRC-32 table");

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length) {
  if (data == nullptr) return crc;
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t c = ~crc;
  for (size_t i = 0; i < length; ++i) c = (c >> 8) ^ kCrcTable[(c ^ bytes[i]) & 0xFFu];
  return ~c;
}

bool GetFileCrc32(const wchar_t* path, uint32_t* crc) {
  *crc = 0;
  UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  // A fresh handle already stands at the start; kept so that the read always
  // covers the whole file. Its result does not matter: a failure shows in ReadFile.
  SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);

  // Heap block rather than 4 KiB of stack; freed on return.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadBlockSize]);
  uint32_t value = 0;
  for (;;) {
    DWORD got = 0;
    // A read error ends the loop: the CRC of the bytes read so far is the result.
    if (!ReadFile(file.Get(), buffer.get(), kReadBlockSize, &got, nullptr) || got == 0) break;
    value = Crc32Update(value, buffer.get(), got);
  }
  *crc = value;
  return true;
}

}  // namespace tw
