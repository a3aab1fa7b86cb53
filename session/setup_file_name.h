// The name under which the setup file is stored in the temporary folder.
#pragma once

#include <string>

namespace tw {

// The version-info file's FILENAME, or "TARNWICK-SETUP.EXE" when it is empty
// or would leave the temporary folder: the program runs elevated, so a name
// from the server must not reach other folders. Subfolders ("sub\x.exe") are
// kept; a drive, a stream (":"), a rooted path or a ".." component are not.
std::wstring SanitizeSetupFileName(const std::wstring& fileName);

}  // namespace tw
