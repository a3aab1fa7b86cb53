#include "config/version_info.h"

#include <gtest/gtest.h>

#include <string>

#include "xrecv_receiver.h"

namespace {

using tw::DownloadInfo;
using tw::IniDocument;

void Parse(IniDocument* document, const std::string& text) {
  EXPECT_TRUE(document->ParseBuffer(reinterpret_cast<const uint8_t*>(text.data()),
                                    static_cast<int32_t>(text.size())));
}

TEST(MachineArch, NativeMachineCodes) {
  struct Case {
    unsigned short machine;
    int code;
  };
  const Case cases[] = {{0xAA64, 3}, {0x8664, 2}, {0x014C, 1},
                        {0x01C4, 0}, {0x0000, 0}, {0x0200, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(tw::MachineArchFromNativeMachine(c.machine), c.code) << c.machine;
}

TEST(MachineArch, ProcessorArchitectureCodes) {
  // Only AMD64 (9) is recognised; ARM64 (12), Intel (0) and anything else are X86.
  struct Case {
    unsigned short architecture;
    int code;
  };
  const Case cases[] = {{9, 2}, {0, 1}, {12, 1}, {6, 1}, {0xFFFF, 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(tw::MachineArchFromProcessorArchitecture(c.architecture), c.code) << c.architecture;
  }
}

TEST(MachineArch, TagsAndThisMachine) {
  EXPECT_STREQ(tw::MachineArchTag(1), L"X86");
  EXPECT_STREQ(tw::MachineArchTag(2), L"X64");
  EXPECT_STREQ(tw::MachineArchTag(3), L"A64");
  EXPECT_STREQ(tw::MachineArchTag(0), L"X86");
  // The tests run as x64 programs on an x64 system.
  EXPECT_EQ(tw::DetectMachineArch(), tw::MachineArchX64);
  EXPECT_EQ(tw::DetectMachineArch(), tw::MachineArchX64);
}

TEST(GetUpdateDownloadSectionName, NamesTheArchitectureSectionAndTracesIt) {
  twtest::XRecvReceiver receiver;
  ASSERT_TRUE(receiver.IsValid());
  EXPECT_EQ(tw::GetUpdateDownloadSectionName(L"PRO"), L"DOWNLOAD.PRO.X64");
  ASSERT_EQ(receiver.Traces().size(), 1u);
  EXPECT_EQ(receiver.Traces()[0].text, L"@@rGetUpdateDownloadSectionName() - DOWNLOAD.PRO.X64");
}

TEST(ReadDownloadInfo, ArchitectureSectionOverridesKeyByKey) {
  IniDocument document;
  Parse(&document,
        "[VERSION]\nONLINE_SETUP_VERSION = 20200204\n"
        "[DOWNLOAD.PRO]\nFILENAME = general.exe\nCRC32 = 0x1234ABCD\nURL1 = https://a.example/g1\n"
        "URL3 = https://a.example/g3\nsleepInterval = 500\n"
        "[DOWNLOAD.PRO.X64]\nFILENAME = x64.exe\nURL2 = https://b.example/x2\nURL3 =\n"
        "[DOWNLOAD.PRO.X86]\nURL4 = https://wrong.example/x86\n"
        "[DOWNLOAD.PRO.A64]\nURL5 = https://wrong.example/a64\n");
  DownloadInfo info;
  tw::ReadDownloadInfo(document, L"PRO", &info);
  EXPECT_EQ(info.fileName, L"x64.exe");
  EXPECT_EQ(info.crc32Text, L"0x1234ABCD");
  EXPECT_EQ(info.urls[0], L"https://a.example/g1");
  EXPECT_EQ(info.urls[1], L"https://b.example/x2");
  EXPECT_EQ(info.urls[2], L"");  // present but empty in the architecture section
  EXPECT_EQ(info.urls[3], L"");
  EXPECT_EQ(info.urls[4], L"");
  EXPECT_EQ(info.sleepInterval, 500u);
}

TEST(ReadDownloadInfo, LowerCaseNamesAndEmptyOverrides) {
  IniDocument document;
  Parse(&document,
        "[download.pro]\nfilename = general.exe\nsleepinterval = 250\nurl5 = https://c.example/5\n"
        "[download.pro.x64]\nFILENAME =\nsleepInterval = soon\n");
  DownloadInfo info;
  tw::ReadDownloadInfo(document, L"PRO", &info);
  EXPECT_EQ(info.fileName, L"");
  EXPECT_EQ(info.sleepInterval, 0u);  // not a number
  EXPECT_EQ(info.urls[4], L"https://c.example/5");
}

TEST(ReadDownloadInfo, MissingSectionsKeepFieldsButClearUrls) {
  IniDocument document;
  Parse(&document, "[VERSION]\nONLINE_SETUP_VERSION = 1\n");
  DownloadInfo info;
  for (std::wstring& url : info.urls) url = L"https://stale.example/";
  info.fileName = L"kept.exe";
  info.crc32Text = L"FFFFFFFF";
  info.sleepInterval = 42;
  tw::ReadDownloadInfo(document, L"PRO", &info);
  for (const std::wstring& url : info.urls) EXPECT_EQ(url, L"");
  EXPECT_EQ(info.fileName, L"kept.exe");
  EXPECT_EQ(info.crc32Text, L"FFFFFFFF");
  EXPECT_EQ(info.sleepInterval, 42u);
}

TEST(ReadDownloadSection, ReadsOverCurrentValues) {
  IniDocument document;
  Parse(&document, "[S]\nURL2 = two\nCRC32 = abc\n");
  DownloadInfo info;
  info.urls[0] = L"one";
  info.fileName = L"name.exe";
  tw::ReadDownloadSection(document, L"S", &info);
  EXPECT_EQ(info.urls[0], L"one");
  EXPECT_EQ(info.urls[1], L"two");
  EXPECT_EQ(info.crc32Text, L"abc");
  EXPECT_EQ(info.fileName, L"name.exe");
}

}  // namespace
