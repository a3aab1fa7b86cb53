// Which Windows the program runs on.
#pragma once

#include <windows.h>

#include <string>

namespace tw {

// 1..17 as in the table of Windows versions, 18 "Unknown OS". Asks
// RtlGetVersion once and keeps the result for the process.
int GetOsId();
// The version numbers that GetOsId was computed from ("10.0.19045"); empty
// when the system could not tell.
std::wstring GetOsVersionNumbers();
// The mapping that GetOsId applies to the version record, testable alone.
int OsIdFromVersion(DWORD major, DWORD minor, WORD servicePackMajor, BYTE productType);
// "Undef" for 0, "Unknown OS" for 18 and above and for negative values.
const wchar_t* GetOsName(int osId);

}  // namespace tw
