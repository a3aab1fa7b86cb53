// CRC-32 of memory and files, and which paths count as existing files.
#include <gtest/gtest.h>

#include <string>

#include "harness/test_util.h"
#include "support/crc32.h"
#include "support/file_helpers.h"
#include "support/unique_handle.h"

namespace {

uint32_t CrcOf(const std::string& bytes) { return tw::Crc32Update(0, bytes.data(), bytes.size()); }

TEST(Crc32, KnownValuesInOnePassOrPieces) {
  const std::pair<std::string, uint32_t> cases[] = {
      {"", 0}, {"a", 0xE8B7BE43u}, {"123456789", 0xCBF43926u}, {std::string(32, '\0'), 0x190A55ADu}};
  for (const auto& c : cases) EXPECT_EQ(CrcOf(c.first), c.second) << c.first;
  EXPECT_EQ(tw::Crc32Update(tw::Crc32Update(0, "1234", 4), "56789", 5), 0xCBF43926u);
  EXPECT_EQ(tw::Crc32Update(0x12345678u, nullptr, 100), 0x12345678u);
}

TEST(Crc32, FilesAroundTheReadBlockSize) {
  const std::wstring folder = twtest::MakeScratchFolder(L"crc");
  for (size_t size : {0, 1, 4095, 4096, 4097, 100000}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 8));
    const std::wstring path = folder + std::to_wstring(size);
    ASSERT_TRUE(twtest::WriteWholeFile(path, bytes));
    uint32_t crc = 0;
    EXPECT_TRUE(tw::GetFileCrc32(path.c_str(), &crc));
    EXPECT_EQ(crc, CrcOf(bytes)) << size;
  }
  uint32_t crc = 1;
  EXPECT_FALSE(tw::GetFileCrc32((folder + L"missing").c_str(), &crc));
  EXPECT_EQ(crc, 0u);
}

TEST(FileExists, OnlyFilesAndPathsThatMayBeFiles) {
  const std::wstring folder = twtest::MakeScratchFolder(L"exists");
  ASSERT_TRUE(twtest::WriteWholeFile(folder + L"file", "x"));
  ASSERT_TRUE(twtest::WriteWholeFile(folder + L"held", "x"));
  tw::UniqueFile held(CreateFileW((folder + L"held").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.IsValid());
  const std::pair<std::wstring, bool> cases[] = {
      {L"file", true},
      {L"held", true},  // open without sharing: still there
      {L"", false},     // the folder itself
      {L"absent", false},
      {L"no-such-folder\\absent", false},
      {std::wstring(300, L'd') + L"\\absent", false},  // past 260 characters: tried again as a long path
      {L"bad*name?", false},
  };
  for (const auto& c : cases) EXPECT_EQ(tw::FileExists(folder + c.first), c.second) << c.first;
}

}  // namespace
