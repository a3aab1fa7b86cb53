#include "diag/setup_log.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

#include "support/file_helpers.h"
#include "support/format_text.h"
#include "support/unique_handle.h"

namespace tw {
namespace {

constexpr wchar_t kLogFileName[] = L"tarnwick-online-setup.log";
// Every write and the trimming happen under an exclusive lock of one byte far
// beyond any end the file reaches, taken on the file itself: only those who
// may open the file can hold it, and reading or writing its bytes is never
// blocked by it.
constexpr DWORD kLockOffsetHigh = 0x40000000;  // the byte at 2^62
constexpr DWORD kLockWaitMs = 200;
constexpr DWORD kLockRetryMs = 5;
constexpr LONGLONG kSizeCap = 256 * 1024;     // bytes; a line that would reach it is not written
constexpr LONGLONG kTrimAbove = 192 * 1024;   // bytes; a run that finds more drops the oldest runs
constexpr DWORD kKeptAtMost = 128 * 1024;     // bytes of the newest whole runs kept then
constexpr size_t kEventCharsAtMost = 2048;    // UTF-16 units of one event text; more is cut
constexpr char kStartEvent[] = "start ";

struct SetupLog {
  UniqueFile file;            // open for the whole run; invalid: not logging
  volatile LONG stopped = 0;  // 1 once a lock was not had in time: no more lines
};

SetupLog& TheLog() {
  static SetupLog log;
  return log;
}

// Holds the cross-process lock while it lives. A run that cannot have it
// within kLockWaitMs (another instance stuck) stops logging, so that the wait
// is paid once at most; the file stays open, since the last words of a run
// out of memory may come from another thread that is writing at that moment.
class LogLock {
 public:
  explicit LogLock(SetupLog& log) : file_(log.file) {
    const HANDLE file = log.file.Get();
    const DWORD start = GetTickCount();
    for (;;) {
      OVERLAPPED range = LockedRange();
      held_ = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range) != FALSE;
      if (held_ || GetTickCount() - start >= kLockWaitMs) break;
      Sleep(kLockRetryMs);
    }
    if (!held_) InterlockedExchange(&log.stopped, 1);
  }
  ~LogLock() {
    OVERLAPPED range = LockedRange();
    if (held_) UnlockFileEx(file_.Get(), 0, 1, 0, &range);
  }
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;
  bool held() const { return held_; }

 private:
  static OVERLAPPED LockedRange() {
    OVERLAPPED range = {};
    range.OffsetHigh = kLockOffsetHigh;
    return range;
  }

  UniqueFile& file_;
  bool held_ = false;
};

std::string ToUtf8(const std::wstring& text) {
  std::string utf8;
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return utf8;
  utf8.resize(static_cast<size_t>(size));
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &utf8[0], size, nullptr, nullptr);
  return utf8;
}

std::string FormatLine(const std::wstring& text) {
  std::wstring event = MaskUrlsInText(text);
  if (event.size() > kEventCharsAtMost) {
    event.resize(kEventCharsAtMost);
    event += L"...";
  }
  for (wchar_t& c : event) {
    if (c < L' ' || c == 0x7F) c = L' ';
  }
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  return ToUtf8(FormatText(L"%04u-%02u-%02u %02u:%02u:%02u.%03u [pid %u] %s\r\n", now.wYear, now.wMonth, now.wDay,
                           now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, GetCurrentProcessId(),
                           event.c_str()));
}

// Appends at the file's current end, which another instance may have moved;
// the caller holds the lock.
void WriteLineLocked(HANDLE file, const std::string& line) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file, &size) || size.QuadPart + static_cast<LONGLONG>(line.size()) >= kSizeCap) return;
  if (!SetFilePointerEx(file, size, nullptr, FILE_BEGIN)) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// Offset of the first start line that begins in `tail` after a line end;
// npos when there is none. Event texts hold no line ends, so every line
// begins with its time and "[pid N] ". Each search stays inside its line, so
// that a tail of many lines costs one pass.
size_t FirstRunStart(const std::string& tail) {
  for (size_t end = tail.find('\n'); end != std::string::npos; end = tail.find('\n', end + 1)) {
    const std::string_view line = std::string_view(tail).substr(end + 1, tail.find('\n', end + 1) - (end + 1));
    const size_t pidEnd = line.find("] ");
    if (pidEnd != std::string_view::npos && line.substr(pidEnd + 2, sizeof(kStartEvent) - 1) == kStartEvent) {
      return end + 1;
    }
  }
  return std::string::npos;
}

// When the file has grown past kTrimAbove, keeps only the newest whole runs
// that fit in kKeptAtMost bytes. The buffer has that fixed size whatever the
// file's. The caller holds the lock.
void DropOldestRunsLocked(HANDLE file) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= kTrimAbove) return;
  LARGE_INTEGER from = {};
  from.QuadPart = size.QuadPart - kKeptAtMost;
  std::string tail(kKeptAtMost, '\0');
  DWORD read = 0;
  if (!SetFilePointerEx(file, from, nullptr, FILE_BEGIN) || !ReadFile(file, &tail[0], kKeptAtMost, &read, nullptr)) {
    return;
  }
  tail.resize(read);
  const size_t start = FirstRunStart(tail);
  tail.erase(0, start == std::string::npos ? tail.size() : start);
  const LARGE_INTEGER origin = {};
  DWORD written = 0;
  if (!SetFilePointerEx(file, origin, nullptr, FILE_BEGIN)) return;
  if (!tail.empty() && !WriteFile(file, tail.data(), static_cast<DWORD>(tail.size()), &written, nullptr)) return;
  SetEndOfFile(file);
}

// The masking of MaskUrlCredentials at the first "://" of text, or at every one.
std::wstring MaskCredentials(const std::wstring& text, bool everyUrl) {
  std::wstring masked;
  size_t copied = 0;
  for (size_t scheme = text.find(L"://"); scheme != std::wstring::npos;
       scheme = everyUrl ? text.find(L"://", scheme + 3) : std::wstring::npos) {
    const size_t authority = scheme + 3;
    const size_t authorityEnd = std::min(text.find_first_of(L"/?#\\", authority), text.size());
    const size_t at = text.rfind(L'@', authorityEnd - 1);
    if (at == std::wstring::npos || at <= authority) continue;  // no user name to hide
    const size_t colon = text.find(L':', authority);
    masked.append(text, copied, authority - copied);
    masked += colon < at ? L"***:***" : L"***";
    copied = at;
    scheme = at;
  }
  masked.append(text, copied, std::wstring::npos);
  return masked;
}

}  // namespace

std::wstring MaskUrlCredentials(const std::wstring& url) { return MaskCredentials(url, false); }

std::wstring MaskUrlsInText(const std::wstring& text) { return MaskCredentials(text, true); }

void BeginSetupLog(const std::wstring& folder, const std::wstring& startText) {
  // Never the current folder: without a private folder there is no log.
  if (folder.empty()) return;
  SetupLog& log = TheLog();
  // Read and write, no delete sharing: other instances append meanwhile, and
  // nobody can delete or rename the file and put a link in its place.
  log.file.Reset(OpenFileNoFollow(folder + kLogFileName, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE));
  if (!log.file) return;
  LogLock lock(log);
  if (!lock.held()) return;
  DropOldestRunsLocked(log.file.Get());
  WriteLineLocked(log.file.Get(), FormatLine(L"start " + startText));
}

void AppendSetupLog(const std::wstring& text) {
  SetupLog& log = TheLog();
  if (!log.file || log.stopped != 0) return;
  const std::string line = FormatLine(text);
  LogLock lock(log);
  if (lock.held()) WriteLineLocked(log.file.Get(), line);
}

}  // namespace tw
