// The program's resources as the build compiles them (res/app.rc is linked
// into this test): manifest, icon group, accelerators.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string ResourceText(const wchar_t* type, WORD id) {
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return std::string();
  const HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data == nullptr) return std::string();
  return std::string(static_cast<const char*>(data), SizeofResource(module, found));
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(Resources, ManifestAsksForAdministratorDeclaresDpiAwarenessAndFiveSystems) {
  const std::string manifest = ResourceText(MAKEINTRESOURCEW(24), 1);  // RT_MANIFEST
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
  EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
  EXPECT_EQ(CountOf(manifest, "<supportedOS "), 5u);
  for (const char* id : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                         "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                         "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
    EXPECT_NE(manifest.find(id), std::string::npos) << id;
  }
  // No common-controls dependency: the program uses none of them.
  EXPECT_EQ(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
}

TEST(Resources, IconGroupHasTheSevenImages) {
  // GRPICONDIR: 6 bytes, then 14 bytes per image.
  const std::string group = ResourceText(MAKEINTRESOURCEW(14), 107);  // RT_GROUP_ICON
  ASSERT_GE(group.size(), 6u);
  const auto* bytes = reinterpret_cast<const unsigned char*>(group.data());
  const int count = bytes[4] | (bytes[5] << 8);
  ASSERT_EQ(count, 7);
  ASSERT_EQ(group.size(), 6u + 14u * 7);
  std::vector<std::pair<int, int>> images;  // size, bits per pixel
  for (int i = 0; i < count; ++i) {
    const unsigned char* entry = bytes + 6 + 14 * i;
    const int size = entry[0] == 0 ? 256 : entry[0];
    images.emplace_back(size, entry[6] | (entry[7] << 8));
  }
  const std::vector<std::pair<int, int>> expected = {{48, 8},   {32, 8},  {16, 8}, {256, 32},
                                                     {48, 32}, {32, 32}, {16, 32}};
  EXPECT_EQ(images, expected);
  EXPECT_NE(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(107)), nullptr);
}

TEST(Resources, AcceleratorsMapAltSlashAltQuestionMarkAndEscape) {
  const HACCEL table = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(109));
  ASSERT_NE(table, nullptr);
  ACCEL entries[8] = {};
  const int count = CopyAcceleratorTableW(table, entries, 8);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(entries[0].key, '/');
  EXPECT_EQ(entries[0].fVirt & (FVIRTKEY | FALT), FALT);
  EXPECT_EQ(entries[0].cmd, 104);
  EXPECT_EQ(entries[1].key, '?');
  EXPECT_EQ(entries[1].fVirt & (FVIRTKEY | FALT), FALT);
  EXPECT_EQ(entries[1].cmd, 104);
  EXPECT_EQ(entries[2].key, VK_ESCAPE);
  EXPECT_EQ(entries[2].fVirt & (FVIRTKEY | FALT), FVIRTKEY);
  EXPECT_EQ(entries[2].cmd, 32771);
}

}  // namespace
