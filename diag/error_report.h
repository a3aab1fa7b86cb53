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
// One GET of the error-log URL on a thread of its own, waited for at most
// kReportWaitMs; the answer is read up to kReportAnswerBytes (a chunk more
// at most) and dropped. A report still running then ends with the process.
// Always true.
bool ReportErrorLog(const std::wstring& name, const std::wstring& version, const std::wstring& log);
// A failure of the run: its English text as the local log's line "failure:
// <log>" and in the program's report (name "tarnwick.online.setup", version
// ProtocolNumber).
void ReportSetupFailure(const std::wstring& log);

}  // namespace tw
