#include "diag/os_info.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "harness/test_env.h"
#include "support/unique_handle.h"

namespace {

constexpr BYTE kWorkstation = VER_NT_WORKSTATION;
constexpr BYTE kServer = VER_NT_SERVER;

TEST(OsIdFromVersion, MapsTheVersionTable) {
  struct Case {
    DWORD major, minor;
    WORD servicePack;
    BYTE productType;
    int osId;
  };
  const Case cases[] = {
      {5, 0, 0, kWorkstation, 1},
      {5, 0, 4, kWorkstation, 1},
      {5, 3, 0, kWorkstation, 1},
      {5, 1, 0, kWorkstation, 2},
      {5, 1, 4, kWorkstation, 2},
      {5, 1, 1, kWorkstation, 3},
      {5, 1, 2, kWorkstation, 4},
      {5, 1, 3, kWorkstation, 5},
      {5, 1, 3, kServer, 5},
      {5, 2, 2, kServer, 6},
      {6, 0, 0, kWorkstation, 7},
      {6, 0, 3, kWorkstation, 7},
      {6, 0, 1, kWorkstation, 8},
      {6, 0, 2, kWorkstation, 9},
      {6, 0, 2, kServer, 10},
      {6, 1, 0, kWorkstation, 11},
      {6, 1, 2, kWorkstation, 11},
      {6, 1, 1, kWorkstation, 12},
      {6, 1, 1, kServer, 13},
      {6, 2, 0, kWorkstation, 14},
      {6, 2, 0, kServer, 14},
      {6, 3, 0, kWorkstation, 15},
      {6, 3, 0, kServer, 16},
      {6, 4, 0, kWorkstation, 18},
      {10, 0, 0, kWorkstation, 17},
      {10, 7, 0, kServer, 17},
      {4, 0, 6, kWorkstation, 18},
      {11, 0, 0, kWorkstation, 18},
      {0, 0, 0, 0, 18},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tw::OsIdFromVersion(c.major, c.minor, c.servicePack, c.productType), c.osId)
        << c.major << "." << c.minor << " SP" << c.servicePack << " type " << int{c.productType};
  }
}

TEST(GetOsName, NamesEveryIdAndRejectsTheRest) {
  struct Case {
    int osId;
    const wchar_t* name;
  };
  const Case cases[] = {
      {0, L"Undef"},
      {1, L"Windows 2000"},
      {2, L"Windows XP"},
      {5, L"Windows XP (SP3)"},
      {6, L"Windows 2000"},
      {10, L"Windows Server 2008"},
      {13, L"Windows Server 2008 R2"},
      {14, L"Windows 8"},
      {15, L"Windows 8.1"},
      {16, L"Windows Server 2012 R2"},
      {17, L"Windows 10"},
      {18, L"Unknown OS"},
      {99, L"Unknown OS"},
      {-1, L"Unknown OS"},
  };
  for (const Case& c : cases) EXPECT_STREQ(tw::GetOsName(c.osId), c.name) << c.osId;
}

// GetOsId against the real system: the test program copies itself under a
// name for which Wine reports another Windows version, and the copy checks
// the id it computes (the child test below runs only in such a copy).
TEST(GetOsId, FollowsTheVersionTheSystemReports) {
  struct Case {
    const wchar_t* wineVersion;
    int osId;
  };
  // What Wine 8 reports in a 64-bit prefix: winxp 5.1 SP3, win7 6.1 SP1 with a
  // server product type, win81 6.3 workstation, win10 10.0.
  const Case cases[] = {{L"winxp", 5}, {L"win7", 13}, {L"win81", 15}, {L"win10", 17}};

  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH);
  const std::wstring folder = twtest::MakeScratchFolder(L"osid");
  for (const Case& c : cases) {
    const std::wstring exeName = std::wstring(L"osid_probe_") + c.wineVersion + L".exe";
    const std::wstring copy = folder + exeName;
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE)) << GetLastError();
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + exeName;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, c.wineVersion,
                              static_cast<DWORD>((wcslen(c.wineVersion) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);

    std::wstring commandLine = L"\"" + copy + L"\" --gtest_filter=GetOsIdChild.*";
    ASSERT_TRUE(SetEnvironmentVariableW(L"TW_EXPECT_OS_ID", std::to_wstring(c.osId).c_str()));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(copy.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(L"TW_EXPECT_OS_ID", nullptr);
    ASSERT_TRUE(started) << GetLastError();
    tw::UniqueKernelHandle processHandle(process.hProcess);
    tw::UniqueKernelHandle threadHandle(process.hThread);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    ASSERT_TRUE(GetExitCodeProcess(process.hProcess, &exitCode));
    EXPECT_EQ(exitCode, 0u) << "child for "
                            << std::string(c.wineVersion, c.wineVersion + wcslen(c.wineVersion));
  }
}

TEST(GetOsIdChild, ComputesTheExpectedId) {
  const std::wstring expected = twtest::GetEnv(L"TW_EXPECT_OS_ID");
  if (expected.empty())
    GTEST_SKIP() << "runs only in a copy started by GetOsId.FollowsTheVersionTheSystemReports";
  const int first = tw::GetOsId();
  EXPECT_EQ(first, std::stoi(expected));
  EXPECT_EQ(tw::GetOsId(), first);
}

}  // namespace
