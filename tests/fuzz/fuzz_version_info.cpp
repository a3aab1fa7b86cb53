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

namespace {

// A name that is not a plain file of the temporary folder, judged here on its
// own terms: a separator, a drive or stream colon, a NUL, only dots and
// spaces, or a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM and LPT with
// 1-9 or a superscript 1-3) before the first dot, spaces before it ignored.
bool LeavesTheFolder(const std::wstring& name) {
  for (const wchar_t c : name) {
    if (c == L'\\' || c == L'/' || c == L':' || c == L'\0') return true;
  }
  if (name.find_first_not_of(L". ") == std::wstring::npos) return true;  // the empty name too
  std::wstring stem;
  for (const wchar_t c : name.substr(0, name.find(L'.'))) stem += c >= L'a' && c <= L'z' ? wchar_t(c - 32) : c;
  stem.erase(stem.find_last_not_of(L' ') + 1);
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (stem == device) return true;
  }
  const wchar_t digit = stem.size() == 4 ? stem[3] : 0;
  return (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
         ((digit >= L'1' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

}  // namespace

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
  tw::Crc32FromText(info.crc32Text);
  // The name used in the temporary folder never leaves it, and a plain one is kept.
  const std::wstring name = tw::SanitizeSetupFileName(info.fileName);
  if (LeavesTheFolder(name) || (!LeavesTheFolder(info.fileName) && name != info.fileName)) __builtin_trap();
  return 0;
}
