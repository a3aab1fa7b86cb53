// CRC-32 (every kernel against a bitwise reference) and SHA-256 of memory and
// files, which paths count as existing files, files replaced without following
// a link, and the private folder.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "harness/test_util.h"
#include "support/crc32.h"
#include "support/crc32_kernels.h"
#include "support/file_helpers.h"
#include "support/format_text.h"
#include "support/private_folder.h"
#include "support/sha256.h"
#include "support/unique_handle.h"

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

// The private folder's access list, and the decision on an existing folder of its name, on descriptors built
// here: Wine neither stores nor enforces access lists (the end-to-end runs take the folder again across runs and
// refuse a link in its place).
TEST(PrivateFolder, IsMadeWithAProtectedListOfSystemAndAdministratorsThatItsContentInherits) {
  const tw::UniqueLocalMemory<void> security = tw::MakePrivateFolderSecurity();
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  ASSERT_TRUE(security && GetSecurityDescriptorControl(security.Get(), &control, &revision) &&
              GetSecurityDescriptorOwner(security.Get(), &owner, &defaulted) &&
              GetSecurityDescriptorDacl(security.Get(), &present, &dacl, &defaulted) && present && dacl != nullptr);
  EXPECT_NE(control & SE_DACL_PROTECTED, 0);  // nothing inherited from the temporary folder
  EXPECT_EQ(owner, nullptr);                  // the token's default owner
  std::wstring entries;  // type, inheritance, rights, trustee
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    LPWSTR sid = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ConvertSidToStringSidW(&ace->SidStart, &sid));
    entries += tw::FormatText(L"%d %x %x %s;", ace->Header.AceType, ace->Header.AceFlags, ace->Mask, sid);
    LocalFree(sid);
  }
  EXPECT_EQ(entries, L"0 3 1f01ff S-1-5-18;0 3 1f01ff S-1-5-32-544;");  // full control, files and folders
}

TEST(PrivateFolder, IsMadeThenTakenAgainOrFreshWhereSomethingElseHasItsName) {
  const std::wstring temp = twtest::MakeScratchFolder(L"private"), fixed = temp + L"tarnwick-online-setup\\";
  ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", temp.c_str()));
  EXPECT_EQ(tw::AcquirePrivateFolder().path(), fixed);
  EXPECT_EQ(tw::AcquirePrivateFolder().path(), fixed);  // the fresh folder it was compared with is gone again
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((temp + L"tarnwick*").c_str(), &found);
  EXPECT_FALSE(search != INVALID_HANDLE_VALUE && FindNextFileW(search, &found)) << found.cFileName;
  FindClose(search);
  ASSERT_TRUE(RemoveDirectoryW(fixed.c_str()) && twtest::WriteWholeFile(temp + L"tarnwick-online-setup", "x"));
  const std::wstring fresh = tw::AcquirePrivateFolder().path();
  EXPECT_TRUE(fresh.compare(0, fixed.size() - 1, fixed, 0, fixed.size() - 1) == 0 &&
              std::regex_match(fresh.substr(fixed.size() - 1), std::wregex(L"-[0-9a-f]{16}\\\\")))
      << fresh;
  EXPECT_NE(tw::AcquirePrivateFolder().path(), fresh);
}

TEST(PrivateFolder, AnExistingFolderIsTakenOnlyWhenNobodyButItsOwnerSystemAndAdministratorsCanWriteIt) {
  const std::wstring ours = L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", user = L"S-1-5-21-1-2-3-1001";
  const std::wstring wine = L"S-1-5-21-0-0-0-1000";  // how Wine reads back every folder: its user, not protected
  const DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
  const struct {
    const wchar_t* what;
    DWORD attributes;
    std::wstring descriptor, expectedOwner;
    bool trusted;
    BYTE lastEntryType = ACCESS_ALLOWED_ACE_TYPE;  // changed after the conversion: a kind SDDL cannot give here
  } cases[] = {
      {L"made by an elevated administrator", kFolder, L"O:BAD:P" + ours, L"BA", true},
      {L"made by LocalSystem", kFolder, L"O:SYD:P" + ours, L"SY", true},
      {L"owned by SYSTEM, run as an administrator", kFolder, L"O:SYD:P" + ours, L"BA", true},
      {L"as Wine reads it", kFolder, L"O:" + wine + L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + wine + L")", wine, true},
      {L"read for everybody, denied to users", kFolder, L"O:BAD:P" + ours + L"(A;;FR;;;WD)(D;;FA;;;BU)", L"BA", true},
      {L"owned by an ordinary user", kFolder, L"O:" + user + L"D:P" + ours, L"BA", false},
      {L"Everyone may add files", kFolder, L"O:BAD:P" + ours + L"(A;;0x2;;;WD)", L"BA", false},
      {L"users may add folders", kFolder, L"O:BAD:P" + ours + L"(A;;0x4;;;BU)", L"BA", false},
      {L"users may change the list", kFolder, L"O:BAD:P" + ours + L"(A;;WD;;;BU)", L"BA", false},
      {L"users get the maximum allowed", kFolder, L"O:BAD:P" + ours + L"(A;;0x2000000;;;BU)", L"BA", false},
      {L"files made inside writable by users", kFolder, L"O:BAD:P" + ours + L"(A;OICIIO;GW;;;BU)", L"BA", false},
      {L"not protected, inheriting write for users", kFolder, L"O:BAD:" + ours + L"(A;OICIID;0x1301bf;;;BU)", L"BA",
       false},
      {L"an allow entry of a kind not read", kFolder, L"O:BAD:P" + ours + L"(A;;FR;;;WD)", L"BA", false,
       ACCESS_ALLOWED_OBJECT_ACE_TYPE},
      {L"no access list", kFolder, L"O:BA", L"BA", false},
      {L"a reparse point", kFolder | FILE_ATTRIBUTE_REPARSE_POINT, L"O:BAD:P" + ours, L"BA", false},
      {L"a file", FILE_ATTRIBUTE_ARCHIVE, L"O:BAD:P" + ours, L"BA", false},
  };
  for (const auto& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID expected = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.descriptor.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr) &&
                ConvertStringSidToSidW(c.expectedOwner.c_str(), &expected))
        << c.what;
    const tw::UniqueLocalMemory<void> ownedDescriptor(descriptor), ownedExpected(expected);
    tw::FolderFacts facts;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &facts.owner, &defaulted) &&
                GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ACE_HEADER* last = nullptr;
    if (present && dacl != nullptr && GetAce(dacl, dacl->AceCount - 1, reinterpret_cast<void**>(&last))) {
      last->AceType = c.lastEntryType == ACCESS_ALLOWED_ACE_TYPE ? last->AceType : c.lastEntryType;
    }
    facts.attributes = c.attributes;
    facts.dacl = present ? dacl : nullptr;
    facts.expectedOwner = expected;
    EXPECT_EQ(tw::IsTrustedPrivateFolder(facts), c.trusted) << c.what;
  }
}

}  // namespace
