// The build stamp, the protocol number and the user agent.
#pragma once

#include <ctime>
#include <string>

namespace tw {

constexpr int ProtocolNumber = 20200204;

// The build's date ("Mar 11 2020") and time ("18:09:17") strings.
const char* BuildDateString();
const char* BuildTimeString();

// 64-bit calendar time of the build in the local time zone.
__time64_t GetBuildTime();
// The same conversion for any date and time strings of the compiler's form.
__time64_t BuildTimeFromStrings(const char* date, const char* time);
// "Jan".."Dec" (case-sensitive, first three characters) -> 0..11, else -1.
int MonthIndexFromName(const char* text);
// The build date formatted with pattern (year, month, day), by default
// "%04d/%02d/%02d"; empty when the time cannot be converted back.
std::wstring FormatBuildDate(const wchar_t* pattern = nullptr);
// "TarnwickOnlineSetup(Protocol:%d,Built:%s)".
std::wstring GetUserAgent();

}  // namespace tw
