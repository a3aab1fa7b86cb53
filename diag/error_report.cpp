#include "diag/error_report.h"

#include <windows.h>

#include "diag/build_stamp.h"
#include "net/write_stream.h"
#include "net/xhttp.h"
#include "support/format_text.h"

namespace tw {

namespace {

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
  XMemoryWriteStream answer;  // read and dropped
  const std::wstring buildDate = FormatBuildDate(L"%04d%02d%02d");
  // Fire and forget: the outcome changes nothing for the user.
  XHttp_Get(BuildErrorLogUrl(name, buildDate, version, log), &answer, L"XHttp", nullptr, nullptr);
  return true;
}

}  // namespace tw
