#include "diag/error_report.h"

#include <windows.h>
#include <process.h>

#include <memory>

#include "diag/build_stamp.h"
#include "diag/setup_log.h"
#include "net/write_stream.h"
#include "net/xhttp.h"
#include "support/format_text.h"
#include "support/unique_handle.h"

namespace tw {

namespace {

// How long the caller (the window's thread) waits for one report, in ms: a
// collector that drips or never answers costs each failure at most this, and
// one failure sends three reports at most.
constexpr DWORD kReportWaitMs = 10000;
// Bytes of the answer read at most; it is dropped anyway.
constexpr int32_t kReportAnswerBytes = 4096;

// The report's thread owns its URL (handed over whole) and everything else it
// writes, so that nothing it touches goes away with a caller that stopped
// waiting.
unsigned __stdcall ReportThread(void* parameter) {
  const std::unique_ptr<std::wstring> url(static_cast<std::wstring*>(parameter));
  XMemoryWriteStream answer;
  XHttpOptions options;
  options.sizeLimit = kReportAnswerBytes;
  // Fire and forget: the outcome changes nothing for the user.
  XHttp_Get(*url, &answer, L"XHttp", nullptr, &options);
  return 0;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::wstring PercentEncodeQueryValue(const std::wstring& text) {
  std::wstring encoded;
  if (text.empty()) return encoded;
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  if (size <= 0) return encoded;
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  encoded.reserve(utf8.size() * 3);
  for (const char byte : utf8) {
    const auto c = static_cast<unsigned char>(byte);
    if (IsUnreserved(c)) {
      encoded.push_back(static_cast<wchar_t>(c));
    } else {
      encoded.push_back(L'%');
      encoded.push_back(kHex[c >> 4]);
      encoded.push_back(kHex[c & 0x0F]);
    }
  }
  return encoded;
}

std::wstring BuildErrorLogUrl(const std::wstring& name, const std::wstring& buildDate,
                              const std::wstring& version, const std::wstring& log) {
  // Each value is percent-encoded so that "&", "#", "=" or a URL inside a log
  // text reaches the server whole.
  return FormatText(L"https://" TARNWICK_ERRORLOG_HOST L"/error/app.php?name=%s&buildDate=%s&version=%s&log=%s",
                    PercentEncodeQueryValue(name).c_str(), PercentEncodeQueryValue(buildDate).c_str(),
                    PercentEncodeQueryValue(version).c_str(), PercentEncodeQueryValue(log).c_str());
}

bool ReportErrorLog(const std::wstring& name, const std::wstring& version, const std::wstring& log) {
  std::unique_ptr<std::wstring> url(
      new std::wstring(BuildErrorLogUrl(name, FormatBuildDate(L"%04d%02d%02d"), version, log)));
  const UniqueKernelHandle thread(
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ReportThread, url.get(), 0, nullptr)));
  if (!thread) return true;  // no report, as when the collector cannot be reached
  (void)url.release();  // the thread's now
  // The result is not used: a report that is not done by then is given up.
  (void)WaitForSingleObject(thread.Get(), kReportWaitMs);
  return true;
}

void ReportSetupFailure(const std::wstring& log) {
  AppendSetupLog(L"failure: " + log);
  ReportErrorLog(L"tarnwick.online.setup", FormatText(L"%d", ProtocolNumber), log);
}

}  // namespace tw
