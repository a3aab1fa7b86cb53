// The folder where the elevated process keeps the files of its runs (the
// version-info file, the setup file, the local log): under the temporary
// folder, writable by SYSTEM and Administrators only, and held open for the
// whole run so that nobody can rename or delete it meanwhile. Every other
// program of the machine, the user's unelevated ones included, may write to
// the temporary folder itself.
#pragma once

#include <windows.h>

#include <string>

#include "support/unique_handle.h"

namespace tw {

// The folder's fixed name; a fresh one gets "-" and 16 hex digits from the
// system's random generator appended.
constexpr wchar_t kPrivateFolderName[] = L"tarnwick-online-setup";

// One per process, owned by the process entry and lent to the window and the
// log; move-only.
class PrivateFolder {
 public:
  PrivateFolder() = default;
  PrivateFolder(PrivateFolder&&) = default;
  PrivateFolder& operator=(PrivateFolder&&) = default;

  bool IsValid() const { return handle_.IsValid(); }
  // The folder's final path with a trailing backslash; empty when none.
  const std::wstring& path() const { return path_; }
  // Why there is none, as the log text of a failed `operation`:
  // "err - <operation>() <step>, GetLastError()=<code>".
  std::wstring FailureLog(const wchar_t* operation) const;

 private:
  friend PrivateFolder AcquirePrivateFolder();
  UniqueFile handle_;           // the folder, without delete sharing
  std::wstring path_;
  const wchar_t* failedStep_ = L"not acquired";
  DWORD error_ = ERROR_SUCCESS;
};

// Creates <temp>\tarnwick-online-setup with the private access list in the
// create call itself, or takes the existing one when IsTrustedPrivateFolder
// says so, else uses a fresh folder of a random name. Invalid (with the
// failed step and its error) when no folder can be had.
PrivateFolder AcquirePrivateFolder();

// What the trust decision on an existing folder is given. owner and dacl
// point into a descriptor that the caller owns; a null dacl means none (every
// access granted).
struct FolderFacts {
  DWORD attributes = 0;
  PSID owner = nullptr;
  const ACL* dacl = nullptr;
  // The owner that a folder this run creates gets: Administrators for an
  // elevated administrator, SYSTEM for LocalSystem (by default).
  PSID expectedOwner = nullptr;
};

// Whether an existing folder may be used as the private folder: a directory
// (not a reparse point) owned by the expected owner, SYSTEM or Administrators,
// whose access list lets nobody else write (inherit-only entries included,
// since they become the access lists of the files made inside). An allow
// entry of a type not read here, or no access list, is not trusted.
bool IsTrustedPrivateFolder(const FolderFacts& facts);

// The descriptor a private folder is created with: protected, full control
// for SYSTEM and Administrators, inherited by files and folders made inside;
// the owner is left to the token's default. Free with LocalFree.
UniqueLocalMemory<void> MakePrivateFolderSecurity();

}  // namespace tw
