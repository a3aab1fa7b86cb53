#include "support/crc32_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/crc32.h"

namespace {

// Bit by bit, straight from the polynomial: shares nothing with the kernels.
uint32_t BitwiseCrc(const uint8_t* data, size_t length) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    c ^= data[i];
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

struct Kernel {
  const char* name;
  uint32_t (*crc)(const uint8_t* data, size_t length);
  bool (*cpuHasIt)();  // the folding kernels need their instructions; null: any CPU
};

const Kernel kKernels[] = {
    {"Crc32Update", [](const uint8_t* d, size_t n) { return tw::Crc32Update(0, d, n); }, nullptr},
    {"SliceBy8", [](const uint8_t* d, size_t n) { return ~tw::Crc32RegisterSliceBy8(~0u, d, n); }, nullptr},
    {"Clmul", [](const uint8_t* d, size_t n) { return ~tw::Crc32RegisterClmul(~0u, d, n); },
     tw::Crc32CpuHasClmul},
    {"Vpclmul", [](const uint8_t* d, size_t n) { return ~tw::Crc32RegisterVpclmul(~0u, d, n); },
     tw::Crc32CpuHasVpclmul},
};

// One case per kernel: a kernel this CPU lacks shows as a skipped case with the reason.
class Crc32Kernels : public testing::TestWithParam<Kernel> {
 protected:
  void SetUp() override {
    if (GetParam().cpuHasIt && !GetParam().cpuHasIt()) GTEST_SKIP() << GetParam().name << ": this CPU lacks its instructions";
  }
};
INSTANTIATE_TEST_SUITE_P(Each, Crc32Kernels, testing::ValuesIn(kKernels),
                         [](const testing::TestParamInfo<Kernel>& info) { return std::string(info.param.name); });

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

TEST_P(Crc32Kernels, EveryAlignmentAndRandomLengthsUpTo4096AndSeveralMebibytes) {
  const std::vector<uint8_t> bytes = RandomBytes(4096 + 16, 7);
  std::mt19937 random(11);
  std::vector<size_t> lengths = {0,   1,   7,   8,   15,  16,  17,   63,  64,
                                 65,  79,  127, 128, 129, 255, 256, 257, 383, 4095, 4096};
  for (int i = 0; i < 150; ++i) lengths.push_back(random() % 4097);
  for (size_t alignment = 0; alignment < 16; ++alignment) {
    for (const size_t length : lengths) {
      const uint8_t* data = bytes.data() + alignment;
      ASSERT_EQ(GetParam().crc(data, length), BitwiseCrc(data, length))
          << "alignment " << alignment << " length " << length;
    }
  }
  const std::vector<uint8_t> mebibytes = RandomBytes((3 << 20) + 5, 13);
  EXPECT_EQ(GetParam().crc(mebibytes.data(), mebibytes.size()), BitwiseCrc(mebibytes.data(), mebibytes.size()));
}

TEST(Crc32Update, SeveralMebibytesInRandomPieces) {
  const std::vector<uint8_t> bytes = RandomBytes((3 << 20) + 5, 13);
  const uint32_t expected = BitwiseCrc(bytes.data(), bytes.size());
  std::mt19937 random(17);
  uint32_t crc = 0;
  for (size_t offset = 0; offset < bytes.size();) {
    const size_t piece = std::min<size_t>(random() % 70000, bytes.size() - offset);
    crc = tw::Crc32Update(crc, bytes.data() + offset, piece);
    offset += piece;
  }
  EXPECT_EQ(crc, expected);
}

}  // namespace
