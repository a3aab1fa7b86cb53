#include "diag/build_stamp.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "support/format_text.h"

namespace tw {
namespace {

constexpr size_t kScanBufferSize = 1024;  // bytes, for the stamp strings and the month name

const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Copies text (null: empty) into buffer, cut to what the buffer holds.
void CopyCut(const char* text, char (&buffer)[kScanBufferSize]) {
  size_t length = 0;
  if (text != nullptr) {
    for (; text[length] != '\0' && length + 1 < kScanBufferSize; ++length) buffer[length] = text[length];
  }
  buffer[length] = '\0';
}

bool IsScanSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// scanf's %s: skips white space, then copies the word up to the next white
// space, cut to capacity - 1 characters (the rest of an overlong word is
// skipped). False when no word is left.
bool ScanWord(const char** cursor, char* word, size_t capacity) {
  const char* p = *cursor;
  while (IsScanSpace(*p)) ++p;
  if (*p == '\0') return false;
  size_t length = 0;
  for (; *p != '\0' && !IsScanSpace(*p); ++p) {
    if (length + 1 < capacity) word[length++] = *p;
  }
  word[length] = '\0';
  *cursor = p;
  return true;
}

// scanf's %d: white space, an optional sign and decimal digits, read with
// strtol (which saturates instead of overflowing). False without a digit.
bool ScanInt(const char** cursor, int* value) {
  char* end = nullptr;
  const long number = std::strtol(*cursor, &end, 10);
  if (end == *cursor) return false;
  *value = number > INT_MAX ? INT_MAX : number < INT_MIN ? INT_MIN : static_cast<int>(number);
  *cursor = end;
  return true;
}

bool ScanColon(const char** cursor) {
  if (**cursor != ':') return false;
  ++*cursor;
  return true;
}

}  // namespace

const char* BuildDateString() {
#if defined(TARNWICK_STAMP_DATE)
  return TARNWICK_STAMP_DATE;  // from SOURCE_DATE_EPOCH
#elif defined(TARNWICK_STAMP_FROM_COMPILER)
  return __DATE__;
#else
  return "Mar 11 2020";
#endif
}

const char* BuildTimeString() {
#if defined(TARNWICK_STAMP_TIME)
  return TARNWICK_STAMP_TIME;
#elif defined(TARNWICK_STAMP_FROM_COMPILER)
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

  // "%s %d %d" as scanf reads it: the first field that does not scan ends
  // the reading and it and the ones after it stay 0.
  CopyCut(date, buffer);
  const char* cursor = buffer;
  if (ScanWord(&cursor, monthName, sizeof(monthName)) && ScanInt(&cursor, &day)) {
    ScanInt(&cursor, &year);
  }
  fields.tm_year = year - 1900;
  fields.tm_mday = day;
  fields.tm_mon = MonthIndexFromName(monthName);

  // "%d:%d:%d": a colon must follow each number directly.
  CopyCut(time, buffer);
  cursor = buffer;
  if (ScanInt(&cursor, &hour) && ScanColon(&cursor) && ScanInt(&cursor, &minute) &&
      ScanColon(&cursor)) {
    ScanInt(&cursor, &second);
  }
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
