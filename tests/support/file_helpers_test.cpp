#include "support/file_helpers.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <cwctype>
#include <string>

#include "harness/test_env.h"

namespace {

const std::wstring kLongPrefix = L"\\\\?\\";

class FileExistsTest : public ::testing::Test {
 protected:
  std::wstring folder_ = twtest::MakeScratchFolder(L"exists");
};

TEST_F(FileExistsTest, FilesDirectoriesAndMissingPaths) {
  const std::wstring file = folder_ + L"present.txt";
  ASSERT_TRUE(twtest::WriteWholeFile(file, "x"));
  EXPECT_TRUE(tw::FileExists(file));
  // A directory is not a file, with or without its trailing backslash.
  EXPECT_FALSE(tw::FileExists(folder_));
  EXPECT_FALSE(tw::FileExists(folder_.substr(0, folder_.size() - 1)));
  EXPECT_FALSE(tw::FileExists(folder_ + L"absent.txt"));
  // A short path in a missing folder (ERROR_PATH_NOT_FOUND) is missing.
  EXPECT_FALSE(tw::FileExists(folder_ + L"no-such-folder\\absent.txt"));
  // Wildcards make an invalid name (ERROR_INVALID_NAME): missing.
  EXPECT_FALSE(tw::FileExists(folder_ + L"bad*name?.txt"));
}

TEST_F(FileExistsTest, FileHeldOpenWithoutSharingStillExists) {
  const std::wstring file = folder_ + L"held.txt";
  ASSERT_TRUE(twtest::WriteWholeFile(file, "x"));
  HANDLE held = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(tw::FileExists(file));
  CloseHandle(held);
}

// Creates a folder through the long-path prefix; an earlier run may have left it.
bool MakeFolder(const std::wstring& path) {
  return CreateDirectoryW((kLongPrefix + path).c_str(), nullptr) ||
         GetLastError() == ERROR_ALREADY_EXISTS;
}

bool MakeFile(const std::wstring& path) {
  HANDLE created = CreateFileW((kLongPrefix + path).c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
  if (created == INVALID_HANDLE_VALUE) return false;
  CloseHandle(created);
  return true;
}

// A folder whose name ends with a dot is reachable only through the "\\?\"
// prefix: without it the dot is dropped from the name and the lookup fails with
// ERROR_PATH_NOT_FOUND. That makes the retry observable: below 260 characters
// no retry is made, from 260 on the retry finds the file.
TEST_F(FileExistsTest, OnlyLongPathsAreRetriedWithThePrefix) {
  const std::wstring shortDir = folder_ + L"dotted.\\";
  ASSERT_TRUE(MakeFolder(shortDir)) << GetLastError();
  const std::wstring shortFile = shortDir + L"file.txt";
  ASSERT_TRUE(MakeFile(shortFile)) << GetLastError();
  ASSERT_LT(shortFile.size(), 260u);
  SetLastError(0xDEADBEEF);
  ASSERT_EQ(GetFileAttributesW(shortFile.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(tw::FileExists(shortFile));

  std::wstring deep = folder_;
  for (int i = 0; i < 3; ++i) {
    deep += std::wstring(100, L'd') + std::to_wstring(i) + L"\\";
    ASSERT_TRUE(MakeFolder(deep)) << GetLastError();
  }
  deep += L"dotted.\\";
  ASSERT_TRUE(MakeFolder(deep)) << GetLastError();
  const std::wstring longFile = deep + L"file.txt";
  ASSERT_TRUE(MakeFile(longFile)) << GetLastError();
  ASSERT_GE(longFile.size(), 260u);
  SetLastError(0xDEADBEEF);
  ASSERT_EQ(GetFileAttributesW(longFile.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(tw::FileExists(longFile));

  // After the retry a directory is still not a file, and a missing file is missing.
  const std::wstring longDir = deep + L"sub";
  ASSERT_TRUE(MakeFolder(longDir)) << GetLastError();
  EXPECT_FALSE(tw::FileExists(longDir));
  EXPECT_FALSE(tw::FileExists(deep + L"absent.txt"));
}

TEST(GetTempFolder, IsAnExistingFolderEndingWithBackslash) {
  const std::wstring temp = tw::GetTempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), L'\\');
  const DWORD attributes = GetFileAttributesW(temp.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(MakeUniqueToken, TimeDigitsThenTheNextRandomNumber) {
  srand(4242);
  const int expectedRandom = rand();
  srand(4242);
  const long long before = static_cast<int>(static_cast<uint32_t>(_time64(nullptr)));
  const std::wstring token = tw::MakeUniqueToken();
  const long long after = static_cast<int>(static_cast<uint32_t>(_time64(nullptr)));

  const std::wstring randomDigits = std::to_wstring(expectedRandom);
  ASSERT_GT(token.size(), randomDigits.size());
  for (wchar_t c : token) EXPECT_TRUE(iswdigit(c)) << token;
  EXPECT_EQ(token.substr(token.size() - randomDigits.size()), randomDigits) << token;
  const long long seconds = std::stoll(token.substr(0, token.size() - randomDigits.size()));
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after);
  EXPECT_EQ(token.size() - randomDigits.size(), 10u);  // seconds since 1970 in this era
}

}  // namespace
