// libFuzzer target: a version-info file as a hostile server could send it,
// through the INI parser, the download sections, the CRC text and the setup
// file name. Crashes, sanitizer reports and broken promises are findings.
#include <windows.h>

#include "config/ini_document.h"
#include "config/version_info.h"
#include "session/setup_file_name.h"

namespace tw {
void SendDebugLog(const wchar_t*, ...) {}
}  // namespace tw

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024 * 1024) return 0;
  tw::IniDocument document;
  if (!document.ParseBuffer(data, static_cast<int32_t>(size))) return 0;
  for (const tw::IniSection& section : document.Sections()) {
    if (document.FindSection(section.name) == nullptr) __builtin_trap();  // every section can be found
  }
  tw::DownloadInfo info;
  tw::ReadDownloadInfo(document, L"PRO", &info);
  if (info.sleepInterval > tw::kMaxSleepIntervalMs) __builtin_trap();
  uint32_t crc = 0;  // only the publishing tool's skip text skips the comparison
  if (tw::Crc32FromText(info.crc32Text, &crc) == tw::Crc32Skip && crc != 0xFFFFFFFF) __builtin_trap();
  // The name used in the temporary folder never leaves it.
  const std::wstring name = tw::SanitizeSetupFileName(info.fileName);
  if (name.empty() || name[0] == L'\\' || name[0] == L'/' || name.find(L':') != std::wstring::npos) __builtin_trap();
  return 0;
}
