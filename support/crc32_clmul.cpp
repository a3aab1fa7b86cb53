// CRC-32 by carry-less multiplication: the bytes are folded in 128-bit lanes
// (PCLMULQDQ: four lanes, 64 bytes a step; VPCLMULQDQ with AVX2: four 256-bit
// lanes, 128 bytes a step) and the last lane is reduced with a Barrett step.
// Only these functions are compiled for those instructions (target
// attributes); Crc32Update calls them only after CPUID has said yes.
//
// Each folding constant is x^n mod P(x) for the distance n beside it, bit
// reflected and shifted left by one, as the reflected register needs;
// P(x) = 0x104C11DB7 and mu = floor(x^64 / P(x)).
#include "support/crc32_kernels.h"

#if defined(__i386__) || defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

#define TW_CLMUL_TARGET __attribute__((target("pclmul,sse2")))
#define TW_WIDE_TARGET __attribute__((target("pclmul,sse2,avx2,vpclmulqdq")))
#define TW_CLMUL_INLINE __attribute__((target("pclmul,sse2"), always_inline)) inline
#if defined(__i386__)
// Windows keeps the x86 stack 4-byte aligned only; spilled vectors need more.
#define TW_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define TW_ALIGN_STACK
#endif

namespace tw {
namespace {

constexpr uint64_t kFold1024[2] = {0x1E88EF372u, 0x14A7FE880u};  // x^(1024+32), x^(1024-32)
constexpr uint64_t kFold512[2] = {0x154442BD4u, 0x1C6E41596u};   // x^(512+32), x^(512-32)
constexpr uint64_t kFold256[2] = {0x0F1DA05AAu, 0x15A546366u};   // x^(256+32), x^(256-32)
constexpr uint64_t kFold128[2] = {0x1751997D0u, 0x0CCAA009Eu};   // x^(128+32), x^(128-32)
constexpr uint64_t kFold64 = 0x163CD6124u;                       // x^64
constexpr uint64_t kBarrett[2] = {0x1DB710641u, 0x1F7011641u};   // P'(x), mu'

TW_CLMUL_INLINE __m128i Pair(const uint64_t (&pair)[2]) {
  return _mm_set_epi64x(static_cast<long long>(pair[1]), static_cast<long long>(pair[0]));
}

TW_CLMUL_INLINE __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Carries `lane` forward over the distance the constants stand for and adds `data`.
TW_CLMUL_INLINE __m128i Fold(__m128i lane, __m128i constants, __m128i data) {
  const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), data);
}

// Folds in the remaining 16-byte blocks (length is a multiple of 16) and
// reduces the lane to the 32-bit register.
TW_CLMUL_INLINE uint32_t FinishLane(__m128i folded, const uint8_t* data, size_t length) {
  const __m128i fold128 = Pair(kFold128);
  for (; length >= 16; data += 16, length -= 16) folded = Fold(folded, fold128, Load(data));

  // 128 bits to 64, then 64 to 32 (the low 32 bits of each half are kept).
  const __m128i low32Mask = _mm_setr_epi32(-1, 0, -1, 0);
  folded = _mm_xor_si128(_mm_srli_si128(folded, 8), _mm_clmulepi64_si128(folded, fold128, 0x10));
  const __m128i fold64 = _mm_set_epi64x(0, static_cast<long long>(kFold64));
  folded = _mm_xor_si128(_mm_srli_si128(folded, 4),
                         _mm_clmulepi64_si128(_mm_and_si128(folded, low32Mask), fold64, 0x00));

  // Barrett reduction.
  const __m128i barrett = Pair(kBarrett);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(folded, low32Mask), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32Mask), barrett, 0x00);
  folded = _mm_xor_si128(folded, t);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(folded, 4)));
}

// The register over `length` bytes: a multiple of 16, at least 64.
TW_ALIGN_STACK TW_CLMUL_TARGET uint32_t FoldBlocks(uint32_t reg, const uint8_t* data,
                                                   size_t length) {
  __m128i lane0 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i lane1 = Load(data + 16);
  __m128i lane2 = Load(data + 32);
  __m128i lane3 = Load(data + 48);
  data += 64;
  length -= 64;

  const __m128i fold512 = Pair(kFold512);
  for (; length >= 64; data += 64, length -= 64) {
    lane0 = Fold(lane0, fold512, Load(data));
    lane1 = Fold(lane1, fold512, Load(data + 16));
    lane2 = Fold(lane2, fold512, Load(data + 32));
    lane3 = Fold(lane3, fold512, Load(data + 48));
  }
  const __m128i fold128 = Pair(kFold128);
  __m128i folded = Fold(lane0, fold128, lane1);
  folded = Fold(folded, fold128, lane2);
  folded = Fold(folded, fold128, lane3);
  return FinishLane(folded, data, length);
}

TW_WIDE_TARGET inline __m256i LoadWide(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

TW_WIDE_TARGET inline __m256i FoldWide(__m256i lane, __m256i constants, __m256i data) {
  const __m256i low = _mm256_clmulepi64_epi128(lane, constants, 0x00);
  const __m256i high = _mm256_clmulepi64_epi128(lane, constants, 0x11);
  return _mm256_xor_si256(_mm256_xor_si256(low, high), data);
}

// As FoldBlocks with 256-bit lanes; `length` is a multiple of 16, at least 256.
TW_ALIGN_STACK TW_WIDE_TARGET uint32_t FoldBlocksWide(uint32_t reg, const uint8_t* data,
                                                      size_t length) {
  __m256i lane0 = _mm256_xor_si256(LoadWide(data), _mm256_zextsi128_si256(_mm_cvtsi32_si128(
                                                       static_cast<int>(reg))));
  __m256i lane1 = LoadWide(data + 32);
  __m256i lane2 = LoadWide(data + 64);
  __m256i lane3 = LoadWide(data + 96);
  data += 128;
  length -= 128;

  const __m256i fold1024 = _mm256_broadcastsi128_si256(Pair(kFold1024));
  for (; length >= 128; data += 128, length -= 128) {
    lane0 = FoldWide(lane0, fold1024, LoadWide(data));
    lane1 = FoldWide(lane1, fold1024, LoadWide(data + 32));
    lane2 = FoldWide(lane2, fold1024, LoadWide(data + 64));
    lane3 = FoldWide(lane3, fold1024, LoadWide(data + 96));
  }
  const __m256i fold256 = _mm256_broadcastsi128_si256(Pair(kFold256));
  __m256i wide = FoldWide(lane0, fold256, lane1);
  wide = FoldWide(wide, fold256, lane2);
  wide = FoldWide(wide, fold256, lane3);
  // The two 128-bit halves are 16 bytes apart.
  const __m128i folded = Fold(_mm256_castsi256_si128(wide), Pair(kFold128),
                              _mm256_extracti128_si256(wide, 1));
  return FinishLane(folded, data, length);
}

uint64_t ReadXcr0() {
  uint32_t low = 0, high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (static_cast<uint64_t>(high) << 32) | low;
}

}  // namespace

uint32_t Crc32RegisterClmul(uint32_t reg, const uint8_t* data, size_t length) {
  if (length >= 64) {
    const size_t blocks = length & ~static_cast<size_t>(15);
    reg = FoldBlocks(reg, data, blocks);
    data += blocks;
    length -= blocks;
  }
  return Crc32RegisterSliceBy8(reg, data, length);
}

uint32_t Crc32RegisterVpclmul(uint32_t reg, const uint8_t* data, size_t length) {
  if (length < 256) return Crc32RegisterClmul(reg, data, length);
  const size_t blocks = length & ~static_cast<size_t>(15);
  reg = FoldBlocksWide(reg, data, blocks);
  return Crc32RegisterSliceBy8(reg, data + blocks, length - blocks);
}

bool Crc32CpuHasClmul() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & bit_PCLMUL) != 0 && (edx & bit_SSE2) != 0;
}

bool Crc32CpuHasVpclmul() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!Crc32CpuHasClmul() || !__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  // The system must save the YMM registers (XCR0 bits 1 and 2).
  if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0 || (ReadXcr0() & 6) != 6) return false;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return (ebx & bit_AVX2) != 0 && (ecx & bit_VPCLMULQDQ) != 0;
}

}  // namespace tw

#else  // not x86: the tables serve

namespace tw {
uint32_t Crc32RegisterClmul(uint32_t reg, const uint8_t* data, size_t length) {
  return Crc32RegisterSliceBy8(reg, data, length);
}
uint32_t Crc32RegisterVpclmul(uint32_t reg, const uint8_t* data, size_t length) {
  return Crc32RegisterSliceBy8(reg, data, length);
}
bool Crc32CpuHasClmul() { return false; }
bool Crc32CpuHasVpclmul() { return false; }
}  // namespace tw

#endif
