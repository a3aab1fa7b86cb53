#include "diag/build_stamp.h"

#include <cstdio>
#include <cstring>

#include "support/format_text.h"

namespace tw {
namespace {

constexpr size_t kScanBufferSize = 1024;  // bytes, for the stamp strings and the month name

const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

const char* BuildDateString() {
#ifdef TARNWICK_STAMP_FROM_COMPILER
  return __DATE__;
#else
  return "Mar 11 2020";
#endif
}

const char* BuildTimeString() {
#ifdef TARNWICK_STAMP_FROM_COMPILER
  return __TIME__;
#else
  return "18:09:17";
#endif
}

int MonthIndexFromName(const char* text) {
  if (text == nullptr) return -1;
  for (int i = 0; i < 12; ++i) {
    if (std::strncmp(text, kMonthNames[i], 3) == 0) return i;
  }
  return -1;
}

__time64_t BuildTimeFromStrings(const char* date, const char* time) {
  // Daylight-saving flag 0: the stamp is read as standard time.
  struct tm fields {};
  char buffer[kScanBufferSize];
  char monthName[kScanBufferSize] = "";
  int day = 0;
  int year = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;

  // snprintf cuts an overlong input instead of overrunning the buffer; the
  // widths keep every scanned word inside its buffer. Fields that do not
  // scan stay 0.
  std::snprintf(buffer, sizeof(buffer), "%s", date ? date : "");
  std::sscanf(buffer, "%1023s %d %d", monthName, &day, &year);
  fields.tm_year = year - 1900;
  fields.tm_mday = day;
  fields.tm_mon = MonthIndexFromName(monthName);

  std::snprintf(buffer, sizeof(buffer), "%s", time ? time : "");
  std::sscanf(buffer, "%d:%d:%d", &hour, &minute, &second);
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = 0;
  return _mktime64(&fields);
}

__time64_t GetBuildTime() { return BuildTimeFromStrings(BuildDateString(), BuildTimeString()); }

std::wstring FormatBuildDate(const wchar_t* pattern) {
  const __time64_t buildTime = GetBuildTime();
  const struct tm* local = _localtime64(&buildTime);
  if (local == nullptr) return std::wstring();
  return FormatText(pattern ? pattern : L"%04d/%02d/%02d", local->tm_year + 1900, local->tm_mon + 1,
                    local->tm_mday);
}

std::wstring GetUserAgent() {
  return FormatText(L"TarnwickOnlineSetup(Protocol:%d,Built:%s)", ProtocolNumber,
                    FormatBuildDate().c_str());
}

}  // namespace tw
