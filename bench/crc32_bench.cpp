// crc32_bench: CRC-32 throughput of the program's kernels against zlib's
// crc32() over the same bytes, natively (scripts/bench.sh builds it with the
// host compiler and -lz). Prints one "key value" line per figure, GB/s.
//   crc32_bench [megabytesPerRound]
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/crc32.h"
#include "support/crc32_kernels.h"

namespace {

using Kernel = uint32_t (*)(const uint8_t* data, size_t length, uint32_t crc);

uint32_t Ours(const uint8_t* d, size_t n, uint32_t c) { return tw::Crc32Update(c, d, n); }
uint32_t SliceBy8(const uint8_t* d, size_t n, uint32_t c) {
  return ~tw::Crc32RegisterSliceBy8(~c, d, n);
}
uint32_t Bytewise(const uint8_t* d, size_t n, uint32_t c) {
  return ~tw::Crc32RegisterBytewise(~c, d, n);
}
uint32_t Zlib(const uint8_t* d, size_t n, uint32_t c) {
  return static_cast<uint32_t>(crc32(c, d, static_cast<uInt>(n)));
}

struct Candidate {
  const char* name;
  Kernel kernel;
  double bestSeconds;
  uint32_t crc;
};

// One round: `total` bytes in calls of `block` bytes over a buffer that stays
// in the cache, as GetFileCrc32 hands over each 4,096-byte read.
double TimeRound(Kernel kernel, const std::vector<uint8_t>& buffer, size_t block, size_t total,
                 uint32_t* crc) {
  const auto start = std::chrono::steady_clock::now();
  uint32_t c = 0;
  for (size_t done = 0; done < total;) {
    for (size_t offset = 0; offset + block <= buffer.size() && done < total; offset += block) {
      c = kernel(buffer.data() + offset, block, c);
      done += block;
    }
  }
  *crc = c;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const size_t total = megabytes << 20;
  std::vector<uint8_t> buffer(256 * 1024);
  uint32_t seed = 12345;
  for (uint8_t& b : buffer) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);

  std::printf("clmul %d\n", tw::Crc32CpuHasClmul() ? 1 : 0);
  for (const size_t block : {size_t{4096}, size_t{65536}}) {
    Candidate candidates[] = {{"ours", Ours, 1e9, 0},
                              {"zlib", Zlib, 1e9, 0},
                              {"slice8", SliceBy8, 1e9, 0},
                              {"bytewise", Bytewise, 1e9, 0}};
    // Alternating rounds, best of five each: the machine is shared.
    for (int round = 0; round < 5; ++round) {
      for (Candidate& c : candidates) {
        const size_t bytes = c.kernel == Bytewise ? total / 8 : total;
        const double seconds = TimeRound(c.kernel, buffer, block, bytes, &c.crc) * total / bytes;
        if (seconds < c.bestSeconds) c.bestSeconds = seconds;
      }
    }
    for (const Candidate& c : candidates) {
      std::printf("gbps_%s_%zu %.3f\n", c.name, block, total / c.bestSeconds / 1e9);
    }
    // The kernels must agree, or the figures mean nothing.
    if (candidates[0].crc != candidates[1].crc || candidates[0].crc != candidates[2].crc) {
      std::printf("mismatch %08x %08x %08x\n", candidates[0].crc, candidates[1].crc,
                  candidates[2].crc);
      return 1;
    }
  }
  return 0;
}
