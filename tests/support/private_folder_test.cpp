// The access list the private folder is made with, and the decision on an existing folder of its name, on
// descriptors built here: Wine neither stores nor enforces access lists (the end-to-end runs take the folder
// again across runs and refuse a link in its place).
#include "support/private_folder.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <regex>
#include <string>

#include "harness/test_util.h"
#include "support/format_text.h"

namespace {

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
