#include "session/setup_file_name.h"

namespace tw {

namespace {

constexpr wchar_t kDefaultSetupFileName[] = L"TARNWICK-SETUP.EXE";

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool StaysInFolder(const std::wstring& name) {
  if (IsSeparator(name.front()) || name.find(L':') != std::wstring::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    // Windows drops trailing dots and spaces from a component, so ". ." and
    // ".. " name the parent folder as ".." does.
    const std::wstring component = name.substr(start, end - start);
    if (component.find_first_not_of(L". ") == std::wstring::npos && component.find(L"..") != std::wstring::npos) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace

std::wstring SanitizeSetupFileName(const std::wstring& fileName) {
  if (fileName.empty() || !StaysInFolder(fileName)) return kDefaultSetupFileName;
  return fileName;
}

}  // namespace tw
