// GetFileCrc32: the CRC-32 of a whole file, read in 4,096-byte blocks.
#include <windows.h>

#include <memory>

#include "support/crc32.h"
#include "support/unique_handle.h"

namespace tw {
namespace {

constexpr DWORD kReadBlockSize = 4096;  // bytes per ReadFile

}  // namespace

bool GetFileCrc32(const wchar_t* path, uint32_t* crc) {
  *crc = 0;
  UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  *crc = GetOpenFileCrc32(file.Get());
  return true;
}

uint32_t GetOpenFileCrc32(HANDLE file) {
  // A fresh handle already stands at the start; kept so that the read always
  // covers the whole file. Its result does not matter: a failure shows in ReadFile.
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);

  // Heap block rather than 4 KiB of stack; freed on return.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadBlockSize]);
  uint32_t value = 0;
  for (;;) {
    DWORD got = 0;
    // A read error ends the loop: the CRC of the bytes read so far is the result.
    if (!ReadFile(file, buffer.get(), kReadBlockSize, &got, nullptr) || got == 0) break;
    value = Crc32Update(value, buffer.get(), got);
  }
  return value;
}

}  // namespace tw
