#include "session/setup_file_name.h"

#include <gtest/gtest.h>

namespace {

TEST(SetupFileName, NamesInsideTheTemporaryFolderAreKept) {
  for (const wchar_t* name : {L"TARNWICK-SETUP.EXE", L"tarnwick_7_pro.exe", L"sub\\setup.exe", L"a..b.exe",
                              L"...exe"}) {
    EXPECT_EQ(tw::SanitizeSetupFileName(name), name) << name;
  }
}

TEST(SetupFileName, EmptyOrEscapingNamesGiveTheDefault) {
  for (const wchar_t* name : {L"", L"..\\..\\Windows\\evil.exe", L"sub\\..\\..\\x.exe", L"../x.exe",
                              L"\\Windows\\x.exe", L"/x.exe", L"C:\\x.exe", L"c:x.exe", L"x.exe:stream",
                              L"sub\\.. \\x.exe", L"sub\\..\\x.exe", L".."}) {
    EXPECT_EQ(tw::SanitizeSetupFileName(name), L"TARNWICK-SETUP.EXE") << name;
  }
}

}  // namespace
