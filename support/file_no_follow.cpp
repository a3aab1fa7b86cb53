// Files in a folder that a process of lower rights may write to: created,
// opened, replaced and deleted without following a link that was placed there, and
// the final path of an open file.
#include <windows.h>

#include "support/file_helpers.h"
#include "support/system_library.h"
#include "support/unique_handle.h"

namespace tw {
namespace {

constexpr DWORD kNoFollow = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

const wchar_t* LastComponent(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  return path.c_str() + (separator == std::wstring::npos ? 0 : separator + 1);
}

bool NameExists(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

}  // namespace

bool GetFinalPath(HANDLE file, std::wstring* path) {
  using GetFinalPathNameByHandleFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  GetFinalPathNameByHandleFn getFinalPathName = nullptr;
  if (!LookUpFunction(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW", &getFinalPathName)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  std::wstring buffer(MAX_PATH, L'\0');
  DWORD length = getFinalPathName(file, &buffer[0], static_cast<DWORD>(buffer.size()), 0);
  if (length >= buffer.size()) {  // the size needed, terminator included
    buffer.assign(length, L'\0');
    length = getFinalPathName(file, &buffer[0], static_cast<DWORD>(buffer.size()), 0);
  }
  if (length == 0 || length >= buffer.size()) {
    if (length != 0) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  buffer.resize(length);
  // "\\?\C:\..." -> "C:\..." where the short form reaches the file as well.
  static constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
  if (buffer.compare(0, 4, kLongPrefix) == 0 && buffer.size() - 4 < MAX_PATH && buffer.size() >= 7 &&
      buffer[5] == L':' && buffer[6] == L'\\') {
    buffer.erase(0, 4);
  }
  *path = buffer;
  return true;
}

bool IsPlainFileNamed(HANDLE file, const std::wstring& path, DWORD* attributes) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file, &info)) return false;
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) return false;
  if (info.nNumberOfLinks > 1) return false;  // a hard link: the same data has another name
  // A system that opens a symbolic link's target even with
  // FILE_FLAG_OPEN_REPARSE_POINT still names the target here.
  std::wstring finalPath;
  if (!GetFinalPath(file, &finalPath)) return true;  // cannot tell: the checks above decide
  return lstrcmpiW(LastComponent(finalPath), LastComponent(path)) == 0;
}

HANDLE CreateFileNoFollow(const std::wstring& path, DWORD access, DWORD share) {
  for (int attempt = 0;; ++attempt) {
    // A new name: CREATE_NEW fails on any entry there, a link included, so it
    // never writes through one.
    UniqueFile file(CreateFileW(path.c_str(), access, share, nullptr, CREATE_NEW, kNoFollow, nullptr));
    if (file || !NameExists(GetLastError())) return file.Release();
    // Something has the name: it is replaced only through a handle that is
    // known to be that plain file.
    file.Reset(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, kNoFollow, nullptr));
    if (file) {
      if (!IsPlainFileNamed(file.Get(), path)) {
        file.Reset();
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      if (!SetEndOfFile(file.Get())) return INVALID_HANDLE_VALUE;  // a fresh handle stands at 0
      return file.Release();
    }
    // Refused: a read-only file is removed once and made anew; a folder or a
    // link stays, and so does the error.
    if (attempt > 0 || GetLastError() != ERROR_ACCESS_DENIED) return INVALID_HANDLE_VALUE;
    if (!DeleteFileNoFollow(path, true)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
  }
}

HANDLE OpenFileNoFollow(const std::wstring& path, DWORD access, DWORD share) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    UniqueFile file(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, kNoFollow, nullptr));
    if (file) {
      if (IsPlainFileNamed(file.Get(), path)) return file.Release();
      file.Reset();
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return INVALID_HANDLE_VALUE;
    // CREATE_NEW fails on any entry there, a dangling link included.
    file.Reset(CreateFileW(path.c_str(), access, share, nullptr, CREATE_NEW, kNoFollow, nullptr));
    if (file || !NameExists(GetLastError())) return file.Release();
    // Another process created it meanwhile: open that one.
  }
  return INVALID_HANDLE_VALUE;
}

bool DeleteFileNoFollow(const std::wstring& path, bool clearReadOnly) {
  // Read access without delete sharing: while it is open, nobody can delete
  // or rename the file and put a link in its place.
  UniqueFile probe(CreateFileW(path.c_str(), FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, kNoFollow | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!probe) return false;
  DWORD attributes = 0;
  if (!IsPlainFileNamed(probe.Get(), path, &attributes)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (clearReadOnly && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    // Best effort: the deletion below decides.
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  probe.Reset();
  return DeleteFileW(path.c_str()) != FALSE;
}

}  // namespace tw
