// Acquiring the private folder (private_folder.h). Folders are made and
// opened with NtCreateFile relative to the temporary folder's handle: the
// handle is to the very folder that the call made or found, never to one that
// another process put in its place between two calls (the user's unelevated
// programs may delete an empty folder in the user's temporary folder), and
// never through a link at its name.
#include <windows.h>
#include <aclapi.h>
#include <ntsecapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "support/file_helpers.h"
#include "support/format_text.h"
#include "support/private_folder.h"

namespace tw {
namespace {

// Enough to list the folder and read its attributes and access list. Shared
// for reading and writing but not deleting: while it is open, nobody can
// rename or delete it.
constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

// Creates (FILE_CREATE, with `security`) or opens (FILE_OPEN) the folder
// `name` inside `parent`; a reparse point at the name is opened as itself.
// Invalid with the last error set on failure (ERROR_ALREADY_EXISTS when the
// name is taken).
UniqueFile OpenFolderIn(HANDLE parent, const wchar_t* name, ULONG disposition, PSECURITY_DESCRIPTOR security) {
  UNICODE_STRING objectName;
  objectName.Length = objectName.MaximumLength = static_cast<USHORT>(lstrlenW(name) * sizeof(wchar_t));
  objectName.Buffer = const_cast<PWSTR>(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, parent, security);
  IO_STATUS_BLOCK io = {};
  HANDLE folder = INVALID_HANDLE_VALUE;
  const NTSTATUS status = NtCreateFile(&folder, kFolderAccess, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
                                       FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
                                       nullptr, 0);
  if (status < 0) {
    SetLastError(RtlNtStatusToDosError(status));
    return UniqueFile();
  }
  return UniqueFile(folder);
}

// The open folder's attributes, owner and access list; *security owns the
// descriptor that the last two point into.
bool ReadFolderFacts(HANDLE folder, FolderFacts* facts, UniqueLocalMemory<void>* security) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(folder, &info)) return false;
  facts->attributes = info.dwFileAttributes;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &facts->owner,
                      nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  security->Reset(descriptor);
  facts->dacl = dacl;
  return true;
}

// Whether the system opened `folder` where it was asked, as `name` inside
// `parent`, and not the target of a link at that name, which some systems
// follow even when told not to. True where the system cannot tell.
bool IsWhereAsked(HANDLE folder, HANDLE parent, const wchar_t* name) {
  std::wstring path, parentPath;
  if (!GetFinalPath(folder, &path)) return GetLastError() == ERROR_PROC_NOT_FOUND;
  if (!GetFinalPath(parent, &parentPath)) return false;
  if (parentPath.empty() || parentPath.back() != L'\\') parentPath += L'\\';
  return lstrcmpiW(path.c_str(), parentPath.append(name).c_str()) == 0;
}

// A folder name of kPrivateFolderName, "-" and 16 hex digits from the
// system's random generator.
struct FolderName {
  wchar_t text[sizeof(kPrivateFolderName) / sizeof(wchar_t) + 17] = {};  // the fixed name until drawn
  FolderName() { std::copy(std::begin(kPrivateFolderName), std::end(kPrivateFolderName), text); }
};

bool DrawFreshName(FolderName* name) {
  uint8_t random[8];
  if (!RtlGenRandom(random, sizeof(random))) return false;
  wchar_t* digit = name->text + sizeof(kPrivateFolderName) / sizeof(wchar_t) - 1;
  *digit++ = L'-';
  for (const uint8_t byte : random) {
    *digit++ = L"0123456789abcdef"[byte >> 4];
    *digit++ = L"0123456789abcdef"[byte & 0x0F];
  }
  *digit = L'\0';
  return true;
}

// The fixed folder when this call makes it, or when it exists and may be
// trusted; else a fresh folder of a name nobody can guess. *name gets the
// name used; *step names what failed when the result is invalid.
UniqueFile MakeOrTakeFolder(HANDLE parent, const std::wstring& temp, PSECURITY_DESCRIPTOR security,
                            FolderName* name, const wchar_t** step) {
  *step = L"private folder not created";
  UniqueFile fixed = OpenFolderIn(parent, name->text, FILE_CREATE, security);
  if (fixed || GetLastError() != ERROR_ALREADY_EXISTS) return fixed;
  // The name is taken. The fresh folder is the fallback, and the owner it
  // gets is the one a folder of ours has.
  *step = L"random name not drawn";
  if (!DrawFreshName(name)) return UniqueFile();
  *step = L"fresh folder not created";
  UniqueFile fresh = OpenFolderIn(parent, name->text, FILE_CREATE, security);
  if (!fresh) return fresh;
  UniqueFile existing = OpenFolderIn(parent, kPrivateFolderName, FILE_OPEN, nullptr);
  FolderFacts ours, facts;
  UniqueLocalMemory<void> ourSecurity, existingSecurity;
  if (existing && ReadFolderFacts(fresh.Get(), &ours, &ourSecurity) &&
      ReadFolderFacts(existing.Get(), &facts, &existingSecurity)) {
    facts.expectedOwner = ours.owner;
    // A link that was followed all the same is judged as the link it is.
    if (!IsWhereAsked(existing.Get(), parent, kPrivateFolderName)) facts.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (IsTrustedPrivateFolder(facts)) {
      fresh.Reset();
      RemoveDirectoryW(std::wstring(temp).append(name->text).c_str());  // best effort: it is empty
      *name = FolderName();
      return existing;
    }
  }
  return fresh;
}

}  // namespace

std::wstring PrivateFolder::FailureLog(const wchar_t* operation) const {
  return FormatText(L"err - %s() %s, GetLastError()=%u", operation, failedStep_, error_);
}

PrivateFolder AcquirePrivateFolder() {
  PrivateFolder folder;
  const std::wstring temp = GetTempFolder();
  const wchar_t* step = L"temporary folder unknown";
  UniqueFile parent;
  UniqueLocalMemory<void> security;
  FolderName name;
  if (!temp.empty()) {
    step = L"temporary folder not opened";
    // The temporary folder may be a link (its owner's choice); only what is
    // made inside must not be.
    parent.Reset(CreateFileW(temp.c_str(), FILE_TRAVERSE | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  }
  if (parent) {
    step = L"access list not made";
    security = MakePrivateFolderSecurity();
  }
  if (security) folder.handle_ = MakeOrTakeFolder(parent.Get(), temp, security.Get(), &name, &step);
  if (folder.handle_) {
    // The path the system resolves for the held folder: no link above it can
    // be turned elsewhere, since no folder on it can be renamed while a
    // folder inside is open. Before Vista the path as made.
    step = L"final path unknown";
    if (GetFinalPath(folder.handle_.Get(), &folder.path_)) {
      folder.path_ += L'\\';
    } else if (GetLastError() == ERROR_PROC_NOT_FOUND) {
      (folder.path_ = temp).append(name.text) += L'\\';
    } else {
      folder.handle_.Reset();
    }
  }
  if (!folder.handle_) {
    folder.failedStep_ = step;
    folder.error_ = GetLastError();
  }
  return folder;
}

}  // namespace tw
