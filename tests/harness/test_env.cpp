#include "harness/test_env.h"

#include <windows.h>

#include <atomic>

#include "support/format_text.h"
#include "support/unique_handle.h"

namespace twtest {

std::wstring GetEnv(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
  if (length == 0 || length >= ARRAYSIZE(buffer)) return std::wstring();
  return std::wstring(buffer, length);
}

std::wstring MakeScratchFolder(const wchar_t* hint) {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(ARRAYSIZE(temp), temp);
  std::wstring base = (length > 0 && length < ARRAYSIZE(temp)) ? std::wstring(temp, length) : L".\\";
  // Wine reuses process ids between runs: the tick count keeps names apart.
  std::wstring folder = tw::FormatText(L"%stwtest-%s-%u-%I64u-%u\\", base.c_str(), hint, GetCurrentProcessId(),
                                       static_cast<unsigned long long>(GetTickCount64()), ++counter);
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  tw::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  tw::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  bytes->clear();
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr)) return false;
    if (got == 0) return true;
    bytes->append(chunk, got);
  }
}

}  // namespace twtest
