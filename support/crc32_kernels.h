// The CRC-32 kernels behind Crc32Update, for its tests and benchmark. Each
// continues the CRC register (the complement of a finished CRC) over `length`
// bytes at `data`; none of them has an alignment or length requirement.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

// One table lookup per byte: the reference.
uint32_t Crc32RegisterBytewise(uint32_t reg, const uint8_t* data, size_t length);
// Eight bytes per step through eight tables: where the CPU lacks PCLMULQDQ.
uint32_t Crc32RegisterSliceBy8(uint32_t reg, const uint8_t* data, size_t length);
// Carry-less multiplication folding, 128 bits wide. Only when Crc32CpuHasClmul().
uint32_t Crc32RegisterClmul(uint32_t reg, const uint8_t* data, size_t length);
// The same, 256 bits wide (VPCLMULQDQ, AVX2). Only when Crc32CpuHasVpclmul().
uint32_t Crc32RegisterVpclmul(uint32_t reg, const uint8_t* data, size_t length);

// CPUID: PCLMULQDQ and SSE2 are both there.
bool Crc32CpuHasClmul();
// CPUID and XCR0: VPCLMULQDQ and AVX2 are there and the system saves YMM state.
bool Crc32CpuHasVpclmul();

}  // namespace tw
