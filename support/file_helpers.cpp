#include "support/file_helpers.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "support/format_text.h"
#include "support/system_library.h"

namespace tw {
namespace {

constexpr int kClassicPathLimit = 260;  // characters, MAX_PATH

// Existence after GetFileAttributesW failed with `error`: only the not-found
// codes mean "missing"; anything else (access denied, sharing violation...)
// counts as existing, and the caller meets the real error when it opens the file.
bool ExistsAfterError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
      return false;
    default:
      return true;
  }
}

}  // namespace

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  DWORD error = GetLastError();
  if (error == ERROR_PATH_NOT_FOUND) {
    if (lstrlenW(path.c_str()) < kClassicPathLimit) return false;
    // Long paths are reachable only past the classic limit's normalisation.
    const std::wstring longPath = L"\\\\?\\" + path;
    attributes = GetFileAttributesW(longPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    error = GetLastError();
  }
  return ExistsAfterError(error);
}

std::wstring GetTempFolder() {
  // GetTempPath2W gives LocalSystem a folder of its own (C:\Windows\SystemTemp,
  // not C:\Windows\Temp, where every user may create files); older systems
  // have only GetTempPathW.
  decltype(&::GetTempPathW) getTempPath = nullptr;
  if (!LookUpFunction(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W", &getTempPath)) getTempPath = GetTempPathW;
  // 260 characters first; when the path needs more (a long TMP), the system
  // says how many, itself bounding them at 32,767. The variable may change
  // between the calls, hence a few rounds.
  std::wstring buffer(kClassicPathLimit, L'\0');
  for (int round = 0; round < 3; ++round) {
    const DWORD length = getTempPath(static_cast<DWORD>(buffer.size()), &buffer[0]);
    if (length == 0) return std::wstring();  // last error from the call
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.assign(length, L'\0');  // the size needed, terminator included
  }
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return std::wstring();
}

std::wstring MakeUniqueToken() {
  // Low 32 bits of the 64-bit time, printed as a signed number.
  const int seconds = static_cast<int>(static_cast<uint32_t>(_time64(nullptr)));
  return FormatText(L"%d%d", seconds, rand());
}

}  // namespace tw
