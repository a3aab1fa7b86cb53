// The error-log request sent after every failure display.
#pragma once

#include <string>

namespace tw {

// Percent-encodes the UTF-8 bytes of text; RFC 3986 unreserved characters
// (A-Z a-z 0-9 - . _ ~) stay as they are.
std::wstring PercentEncodeQueryValue(const std::wstring& text);
// https://<error-log host>/error/app.php?name=...&buildDate=...&version=...&log=...
std::wstring BuildErrorLogUrl(const std::wstring& name, const std::wstring& buildDate,
                              const std::wstring& version, const std::wstring& log);
// One blocking GET of the error-log URL; the answer is read and dropped.
// Always true.
bool ReportErrorLog(const std::wstring& name, const std::wstring& version, const std::wstring& log);

}  // namespace tw
