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

// Judged apart from the product: a separator, colon or NUL, only dots and spaces, or a
// device name (COM and LPT with 1-9 or a superscript 1-3) before the first dot and spaces.
static bool LeavesTheFolder(const std::wstring& name) {
  std::wstring stem = name.substr(0, name.find(L'.'));
  stem.erase(stem.find_last_not_of(L' ') + 1);
  for (wchar_t& c : stem) c = c >= L'a' && c <= L'z' ? wchar_t(c - L'a' + L'A') : c;
  bool device = stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
                std::wstring(L"123456789\u00B9\u00B2\u00B3").find(stem[3]) != std::wstring::npos;
  for (const wchar_t* named : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) device = device || stem == named;
  return device || name.find_first_of(L"\\/:") != std::wstring::npos || name.find(L'\0') != std::wstring::npos ||
         name.find_first_not_of(L". ") == std::wstring::npos;  // the empty name too
}

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
  // The name used in the temporary folder never leaves it, and a plain one is kept.
  const std::wstring name = tw::SanitizeSetupFileName(info.fileName);
  if (LeavesTheFolder(name) || (!LeavesTheFolder(info.fileName) && name != info.fileName)) __builtin_trap();
  return 0;
}
