// The name under which the setup file is stored in the temporary folder.
#pragma once

#include <string>

namespace tw {

// The version-info file's FILENAME, or "TARNWICK-SETUP.EXE" when it is empty
// or not a plain file name: the program runs elevated, so a name from the
// server must neither reach another folder (a separator, a drive or stream
// ":", ".." or another name of only dots and spaces) nor name a device (CON,
// PRN, AUX, NUL, COM1-9, LPT1-9, with any extension), nor be cut short by an
// embedded NUL.
std::wstring SanitizeSetupFileName(const std::wstring& fileName);

}  // namespace tw
