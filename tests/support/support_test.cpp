// CRC-32 and SHA-256 of memory and files, which paths count as existing files,
// and files replaced without following a link.
#include <gtest/gtest.h>

#include <string>

#include "harness/test_util.h"
#include "support/crc32.h"
#include "support/file_helpers.h"
#include "support/sha256.h"
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

TEST(Sha256, KnownDigestOfAFileAndItsHexForms) {
  const std::wstring path = twtest::MakeScratchFolder(L"sha") + L"abc";
  ASSERT_TRUE(twtest::WriteWholeFile(path, "abc"));
  tw::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  tw::Sha256Digest digest, parsed;
  ASSERT_TRUE(tw::GetOpenFileSha256(file.Get(), &digest));
  const std::wstring known = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  EXPECT_EQ(tw::FormatSha256(digest), known);
  std::wstring upper = known;
  for (wchar_t& c : upper) c = towupper(c);
  ASSERT_TRUE(tw::ParseSha256(upper, &parsed));
  EXPECT_TRUE(parsed == digest);
  for (const std::wstring& bad : {known.substr(1), known + L"0", L"g" + known.substr(1), L" " + known.substr(1), std::wstring()}) {
    EXPECT_FALSE(tw::ParseSha256(bad, &parsed)) << bad;
  }
}

TEST(CreateFileNoFollow, ReplacesPlainFilesOnlyAndNeverWritesThroughALink) {
  const std::wstring folder = twtest::MakeScratchFolder(L"nofollow");
  ASSERT_TRUE(twtest::WriteWholeFile(folder + L"victim", "system file"));
  struct Case {
    const wchar_t* name;
    DWORD expectedError;  // 0: created, empty
  } cases[] = {{L"new", 0}, {L"plain", 0}, {L"readonly", 0}, {L"folder", ERROR_ACCESS_DENIED},
               {L"hardlink", ERROR_ACCESS_DENIED}, {L"held", ERROR_SHARING_VIOLATION}};
  ASSERT_TRUE(twtest::WriteWholeFile(folder + L"plain", "old"));
  ASSERT_TRUE(twtest::WriteWholeFile(folder + L"readonly", "old"));
  ASSERT_TRUE(SetFileAttributesW((folder + L"readonly").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryW((folder + L"folder").c_str(), nullptr));
  ASSERT_TRUE(CreateHardLinkW((folder + L"hardlink").c_str(), (folder + L"victim").c_str(), nullptr));
  ASSERT_TRUE(twtest::WriteWholeFile(folder + L"held", "old"));
  tw::UniqueFile held(CreateFileW((folder + L"held").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  for (const Case& c : cases) {
    const std::wstring path = folder + c.name;
    SetLastError(0xDEADBEEF);
    tw::UniqueFile file(tw::CreateFileNoFollow(path, GENERIC_WRITE, FILE_SHARE_READ));
    EXPECT_EQ(file ? 0 : GetLastError(), c.expectedError) << c.name;
    if (c.expectedError == 0) {
      EXPECT_EQ(GetFileSize(file.Get(), nullptr), 0u) << c.name;
    }
  }
  std::string victim;
  EXPECT_TRUE(twtest::ReadWholeFile(folder + L"victim", &victim));
  EXPECT_EQ(victim, "system file");
}

}  // namespace
