#include "support/crc32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "harness/test_env.h"
#include "support/unique_handle.h"

namespace {

uint32_t CrcOf(const std::string& bytes) { return tw::Crc32Update(0, bytes.data(), bytes.size()); }

// Deterministic bytes that are not a repeating short pattern.
std::string PseudoRandomBytes(size_t count, uint32_t seed) {
  std::string bytes(count, '\0');
  for (char& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<char>(seed >> 24);
  }
  return bytes;
}

TEST(Crc32Update, KnownValues) {
  struct Case {
    const char* text;
    uint32_t crc;
  };
  const Case cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case& c : cases) EXPECT_EQ(CrcOf(c.text), c.crc) << c.text;
  const std::string zeros(32, '\0');
  EXPECT_EQ(CrcOf(zeros), 0x190A55ADu);
}

TEST(Crc32Update, NullDataLeavesTheValue) {
  EXPECT_EQ(tw::Crc32Update(0x12345678u, nullptr, 100), 0x12345678u);
  EXPECT_EQ(tw::Crc32Update(0, nullptr, 0), 0u);
}

TEST(Crc32Update, ContinuesAcrossBlocks) {
  const std::string bytes = PseudoRandomBytes(10007, 1);
  const uint32_t whole = CrcOf(bytes);
  for (size_t cut : {size_t{0}, size_t{1}, size_t{8}, size_t{4096}, size_t{5003}, bytes.size()}) {
    const uint32_t first = tw::Crc32Update(0, bytes.data(), cut);
    EXPECT_EQ(tw::Crc32Update(first, bytes.data() + cut, bytes.size() - cut), whole) << cut;
  }
}

class FileCrcTest : public ::testing::Test {
 protected:
  std::wstring folder_ = twtest::MakeScratchFolder(L"crc");
};

TEST_F(FileCrcTest, MatchesTheMemoryCrcAroundBlockSizes) {
  // Sizes around the 4,096-byte read block.
  for (size_t size : {size_t{0}, size_t{1}, size_t{4095}, size_t{4096}, size_t{4097}, size_t{8193},
                      size_t{100000}}) {
    const std::string bytes = PseudoRandomBytes(size, static_cast<uint32_t>(size));
    const std::wstring path = folder_ + L"data-" + std::to_wstring(size) + L".bin";
    ASSERT_TRUE(twtest::WriteWholeFile(path, bytes));
    uint32_t crc = 0xDEADBEEFu;
    ASSERT_TRUE(tw::GetFileCrc32(path.c_str(), &crc)) << size;
    EXPECT_EQ(crc, CrcOf(bytes)) << size;
  }
}

TEST_F(FileCrcTest, TwoHalvesEqualOnePass) {
  const std::string bytes = PseudoRandomBytes(12345, 99);
  const std::wstring path = folder_ + L"halves.bin";
  ASSERT_TRUE(twtest::WriteWholeFile(path, bytes));
  uint32_t fileCrc = 0;
  ASSERT_TRUE(tw::GetFileCrc32(path.c_str(), &fileCrc));
  const size_t half = bytes.size() / 2;
  const uint32_t first = tw::Crc32Update(0, bytes.data(), half);
  EXPECT_EQ(tw::Crc32Update(first, bytes.data() + half, bytes.size() - half), fileCrc);
}

TEST_F(FileCrcTest, KnownFileValue) {
  const std::wstring path = folder_ + L"check.txt";
  ASSERT_TRUE(twtest::WriteWholeFile(path, "123456789"));
  uint32_t crc = 0;
  ASSERT_TRUE(tw::GetFileCrc32(path.c_str(), &crc));
  EXPECT_EQ(crc, 0xCBF43926u);
}

TEST_F(FileCrcTest, MissingFileFailsWithZero) {
  uint32_t crc = 0xDEADBEEFu;
  EXPECT_FALSE(tw::GetFileCrc32((folder_ + L"missing.bin").c_str(), &crc));
  EXPECT_EQ(crc, 0u);
}

TEST_F(FileCrcTest, FileOpenForWritingWithoutSharingFailsWithZero) {
  const std::wstring path = folder_ + L"locked.bin";
  ASSERT_TRUE(twtest::WriteWholeFile(path, "locked content"));
  tw::UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer.IsValid()) << GetLastError();
  uint32_t crc = 0xDEADBEEFu;
  EXPECT_FALSE(tw::GetFileCrc32(path.c_str(), &crc));
  EXPECT_EQ(crc, 0u);
  writer.Reset();
  EXPECT_TRUE(tw::GetFileCrc32(path.c_str(), &crc));
  EXPECT_EQ(crc, CrcOf("locked content"));
}

}  // namespace
