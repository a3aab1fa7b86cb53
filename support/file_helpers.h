// File helpers of the session: existence (with the long-path retry), the
// temporary folder, unique file-name tokens, and the creation and deletion of
// files in a folder that another user-level process may write to (the
// temporary folder) without following a link placed there.
#pragma once

#include <windows.h>

#include <string>

namespace tw {

// True when the path names an existing file that is not a directory, and also
// for errors other than the not-found codes 2, 3, 53 and 123 (access denied,
// sharing violation...). A path of 260 or more characters that fails with
// ERROR_PATH_NOT_FOUND is tried again with the "\\?\" prefix.
bool FileExists(const std::wstring& path);

// The temporary folder as GetTempPath2W (where the system has it) or
// GetTempPathW reports it (normally ending with a backslash), however long;
// empty only when the system cannot name one (the last error then says why).
std::wstring GetTempFolder();

// "%d%d" of the current time in seconds (low 32 bits, signed) and the next
// rand() value: the time's digits directly followed by the random number's.
std::wstring MakeUniqueToken();

// Whether `file`, opened by `path`, is the plain file that path's last
// component names: not a folder, not a link (symbolic link, junction, or a
// hard link that gives the data another name too), and (where the system can
// tell) its resolved name is that component. *attributes gets its attributes.
bool IsPlainFileNamed(HANDLE file, const std::wstring& path, DWORD* attributes = nullptr);

// Opens `path` for writing as an empty file, like CREATE_ALWAYS, but never
// through a link at its last component: a new name is created, an existing
// plain file is truncated through a handle checked to be that file, and a
// read-only file is replaced. Anything else there (a link, a folder) fails
// with ERROR_ACCESS_DENIED and stays untouched. On failure the last error is
// the failing call's (ERROR_SHARING_VIOLATION for a file held open).
HANDLE CreateFileNoFollow(const std::wstring& path, DWORD access, DWORD share);

// Opens the plain file at `path` as it is (or creates it empty when there is
// none), never through a link at its last component: for files that are
// appended to. A link or folder there fails with ERROR_ACCESS_DENIED.
HANDLE OpenFileNoFollow(const std::wstring& path, DWORD access, DWORD share);

// Deletes the plain file at `path` (read-only too when clearReadOnly); a link
// or folder there is left alone (ERROR_ACCESS_DENIED). False when nothing was
// deleted.
bool DeleteFileNoFollow(const std::wstring& path, bool clearReadOnly);

// The path by which the system knows an open file (links in every component
// resolved, long names), "\\?\" dropped from a drive path shorter than
// MAX_PATH. False when it cannot be had; ERROR_PROC_NOT_FOUND where the system
// (before Vista) has no way to ask.
bool GetFinalPath(HANDLE file, std::wstring* path);

}  // namespace tw
