// Crc32Update and its portable kernels (no Windows headers: the benchmark
// builds this file natively as well).
#include "support/crc32.h"

#include <atomic>

#include "support/crc32_kernels.h"

namespace tw {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;  // reflected form of 0x04C11DB7

// kTables[0] is the standard byte table; kTables[k][b] is the register after
// byte b followed by k zero bytes, so that eight bytes take eight lookups
// that do not depend on each other.
struct Crc32Tables {
  uint32_t entries[8][256];
};

constexpr Crc32Tables MakeTables() {
  Crc32Tables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (kPolynomial ^ (c >> 1)) : (c >> 1);
    tables.entries[0][i] = c;
  }
  for (int k = 1; k < 8; ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t previous = tables.entries[k - 1][i];
      tables.entries[k][i] = (previous >> 8) ^ tables.entries[0][previous & 0xFFu];
    }
  }
  return tables;
}

constexpr Crc32Tables kTables = MakeTables();
static_assert(kTables.entries[0][1] == 0x77073096u, "standard CRC-32 table");

// Shorter blocks are not worth the vector set-up.
constexpr size_t kClmulMinimumLength = 64;

enum KernelChoice { kNotChosen, kSliceBy8, kClmul, kVpclmul };

// Asked of the CPU on the first call; racing first calls store the same value.
std::atomic<int> g_kernelChoice{kNotChosen};

int KernelForThisCpu() {
  int choice = g_kernelChoice.load(std::memory_order_relaxed);
  if (choice == kNotChosen) {
    choice = Crc32CpuHasVpclmul() ? kVpclmul : Crc32CpuHasClmul() ? kClmul : kSliceBy8;
    g_kernelChoice.store(choice, std::memory_order_relaxed);
  }
  return choice;
}

uint32_t LoadLittleEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint32_t Crc32RegisterBytewise(uint32_t reg, const uint8_t* data, size_t length) {
  const auto& table = kTables.entries[0];
  for (size_t i = 0; i < length; ++i) reg = (reg >> 8) ^ table[(reg ^ data[i]) & 0xFFu];
  return reg;
}

uint32_t Crc32RegisterSliceBy8(uint32_t reg, const uint8_t* data, size_t length) {
  const auto& t = kTables.entries;
  for (; length >= 8; data += 8, length -= 8) {
    const uint32_t low = reg ^ LoadLittleEndian32(data);
    const uint32_t high = LoadLittleEndian32(data + 4);
    reg = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^
          t[4][low >> 24] ^ t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^
          t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
  }
  return Crc32RegisterBytewise(reg, data, length);
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length) {
  if (data == nullptr) return crc;
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (length >= kClmulMinimumLength) {
    switch (KernelForThisCpu()) {
      case kVpclmul: return ~Crc32RegisterVpclmul(~crc, bytes, length);
      case kClmul: return ~Crc32RegisterClmul(~crc, bytes, length);
      default: break;
    }
  }
  return ~Crc32RegisterSliceBy8(~crc, bytes, length);
}

}  // namespace tw
