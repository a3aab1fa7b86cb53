// CRC-32 (ISO-HDLC: reflected, polynomial 0xEDB88320, initial value and final
// complement all ones) of memory blocks and files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

// Continues the finished CRC-32 `crc` over `length` bytes at `data`; a new
// computation starts from 0. A null `data` returns `crc` unchanged.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);

// CRC-32 of a whole file, read sequentially in 4,096-byte blocks. False only
// when the file cannot be opened (then *crc is 0); a read error part way
// through ends the loop and yields the CRC of the bytes read so far.
bool GetFileCrc32(const wchar_t* path, uint32_t* crc);
// The same through a file the caller holds open (GENERIC_READ), from its start.
uint32_t GetOpenFileCrc32(void* file);

}  // namespace tw
