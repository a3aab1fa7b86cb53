// The connection steps shared by every transfer: Open (URL, session,
// connection), Send (request, status), ReadChunk and ReadToStream.
#include <process.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "net/internet_handle.h"
#include "net/wininet_api.h"
#include "net/xhttp.h"
#include "support/ref_counted.h"

namespace tw {
namespace {

// Sizes of the URL component buffers, in bytes including the terminating zero.
constexpr DWORD kSchemeSize = 32;
constexpr DWORD kHostSize = 256;
constexpr DWORD kUserSize = 128;
constexpr DWORD kPasswordSize = 128;
constexpr DWORD kPathSize = 2048;
constexpr DWORD kExtraSize = 2048;
constexpr DWORD kContentLengthSize = 2048;
// Longest URL (UTF-16 units) that is worth escaping: everything longer cannot
// fit the component buffers anyway.
constexpr size_t kMaxUrlChars = 8192;

constexpr DWORD kBaseRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                    INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI |
                                    INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kBaseRequestFlags == 0x84400300, "request flags");
constexpr DWORD kIgnoreCertFlags =
    SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
    SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS | SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP;
static_assert(kIgnoreCertFlags == 0xF180, "certificate flags");

bool IsSecurityError(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:     // 12037
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:       // 12038
    case ERROR_INTERNET_MIXED_SECURITY:            // 12041
    case ERROR_INTERNET_CHG_POST_IS_NON_SECURE:    // 12042
    case ERROR_INTERNET_POST_IS_NON_SECURE:        // 12043
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:   // 12044
    case ERROR_INTERNET_INVALID_CA:                // 12045
    case ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP:     // 12046
    case ERROR_INTERNET_SEC_CERT_ERRORS:           // 12055
    case ERROR_INTERNET_SEC_CERT_NO_REV:           // 12056
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:       // 12057
      return true;
    default:
      return false;
  }
}

// The WinINet table; every caller runs after Open has loaded it.
const WinInetApi& WinInet() { return *GetWinInetApi(); }

std::unique_ptr<char[]> AllocZeroed(DWORD size) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
  if (buffer) std::memset(buffer.get(), 0, size);
  return buffer;
}

// The three time-out and retry options; set on every handle of the chain
// because some WinINet versions ignore them on the session alone.
void SetTimeoutOptions(HINTERNET handle, const XHttpOptions& options) {
  DWORD value = options.connectTimeout;
  WinInet().InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &value, sizeof(value));
  value = options.receiveTimeout;
  WinInet().InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof(value));
  value = options.connectRetries;
  WinInet().InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_RETRIES, &value, sizeof(value));
}

// HttpSendRequestW on a thread of its own, waited for at most a bound. Some
// WinINet versions apply no time-out to a TLS handshake that the server never
// answers, and closing the handles from another thread does not end the wait
// there. The record is shared by the two threads and freed by the one that lets
// go last; a caller that gives up hands it the handles, so the stuck call
// never sees them closed under it, and they close when it returns, if ever.
struct BoundedSend : RefCounted<BoundedSend> {
  // Declared so that destruction closes request, then connection, then session.
  UniqueInternet session;
  UniqueInternet connection;
  UniqueInternet request;
  HINTERNET target = nullptr;  // the request; the caller keeps it open while it waits
  BOOL sent = FALSE;
  DWORD error = ERROR_SUCCESS;
};

unsigned __stdcall BoundedSendThread(void* parameter) {
  // Adopts the reference the starter took for this thread.
  const RefPtr<BoundedSend> call(static_cast<BoundedSend*>(parameter));
  call->sent = WinInet().HttpSendRequestW(call->target, nullptr, 0, nullptr, 0);
  call->error = call->sent ? ERROR_SUCCESS : GetLastError();
  return 0;
}

// ms beyond connectTimeout plus two receive time-outs (the request going out
// and the answer's headers coming in) before a send counts as stuck.
constexpr uint64_t kSendMarginMs = 2000;

}  // namespace

struct XHttpContext::Impl {
  // Declared so that destruction closes request, then connection, then session.
  UniqueInternet session;
  UniqueInternet connection;
  UniqueInternet request;
  std::unique_ptr<char[]> scheme, host, user, password, path, extra;
  INTERNET_SCHEME schemeNumber = INTERNET_SCHEME_UNKNOWN;
  INTERNET_PORT port = 0;
  DWORD requestFlags = 0;

  void Reset() {
    request.Reset();
    connection.Reset();
    session.Reset();
    scheme.reset();
    host.reset();
    user.reset();
    password.reset();
    path.reset();
    extra.reset();
    schemeNumber = INTERNET_SCHEME_UNKNOWN;
    port = 0;
    requestFlags = 0;
  }
};

XHttpContext::XHttpContext() : impl_(new Impl) {}

XHttpContext::XHttpContext(const XHttpOptions& options) : impl_(new Impl), options_(options) {}

XHttpContext::~XHttpContext() {
  impl_->Reset();
  delete impl_;
}

void XHttpContext::RecordError(int code) { RecordError(code, GetLastError()); }

void XHttpContext::RecordError(int code, DWORD systemError) {
  httperr_ = code;
  syserr_ = systemError;
  if (IsSecurityError(systemError)) httperr_ = XHttpErrSecurity;
}

std::string XHttpContext::EscapeUrl(const std::wstring& url) {
  std::string escaped;
  if (url.empty()) return escaped;
  const int length = WideCharToMultiByte(CP_UTF8, 0, url.data(), static_cast<int>(url.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (length <= 0) return escaped;
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, url.data(), static_cast<int>(url.size()), &utf8[0], length,
                      nullptr, nullptr);
  escaped.reserve(utf8.size());
  for (const char c : utf8) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte > 0x7F || byte < 0x20) {
      static constexpr char kHexDigits[] = "0123456789ABCDEF";
      const char hex[3] = {'%', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
      escaped.append(hex, 3);
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

bool XHttpContext::Open(const std::wstring& url) {
  impl_->Reset();
  httperr_ = 0;
  syserr_ = 0;
  contentLength_ = -1;
  announcedLength_ = -1;
  bodyStarted_ = false;

  Impl& s = *impl_;
  s.scheme = AllocZeroed(kSchemeSize);
  s.host = AllocZeroed(kHostSize);
  s.user = AllocZeroed(kUserSize);
  s.password = AllocZeroed(kPasswordSize);
  s.path = AllocZeroed(kPathSize);
  s.extra = AllocZeroed(kExtraSize);
  if (!s.scheme || !s.host || !s.user || !s.password || !s.path || !s.extra) {
    RecordError(XHttpErrAllocUrlBuffer, ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  // No WinINet (it could not be loaded from System32): the session cannot be
  // opened, with the loader's error.
  if (GetWinInetApi() == nullptr) {
    RecordError(XHttpErrInternetOpen);
    return false;
  }

  if (url.size() > kMaxUrlChars) {
    RecordError(XHttpErrCrackUrl, ERROR_INTERNET_INVALID_URL);
    return false;
  }
  const std::string escaped = EscapeUrl(url);

  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszScheme = s.scheme.get();
  parts.dwSchemeLength = kSchemeSize;
  parts.lpszHostName = s.host.get();
  parts.dwHostNameLength = kHostSize;
  parts.lpszUserName = s.user.get();
  parts.dwUserNameLength = kUserSize;
  parts.lpszPassword = s.password.get();
  parts.dwPasswordLength = kPasswordSize;
  parts.lpszUrlPath = s.path.get();
  parts.dwUrlPathLength = kPathSize;
  parts.lpszExtraInfo = s.extra.get();
  parts.dwExtraInfoLength = kExtraSize;
  if (escaped.empty() || !WinInet().InternetCrackUrlA(escaped.c_str(), 0, 0, &parts)) {
    if (escaped.empty()) SetLastError(ERROR_INTERNET_INVALID_URL);
    RecordError(XHttpErrCrackUrl);
    return false;
  }
  // Path and query are joined in the path buffer when the request is made;
  // refuse here what would not fit rather than cut it.
  const size_t pathLength = strnlen(s.path.get(), kPathSize);
  const size_t extraLength = strnlen(s.extra.get(), kExtraSize);
  if (pathLength >= kPathSize || extraLength >= kExtraSize ||
      pathLength + extraLength >= kPathSize) {
    RecordError(XHttpErrCrackUrl, ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  s.schemeNumber = parts.nScheme;
  s.port = parts.nPort;

  s.requestFlags = kBaseRequestFlags;
  if (options_.noAutoRedirect) s.requestFlags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (s.schemeNumber == INTERNET_SCHEME_HTTPS) s.requestFlags |= INTERNET_FLAG_SECURE;

  s.session.Reset(WinInet().InternetOpenW(options_.agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                nullptr, 0));
  if (!s.session) {
    RecordError(XHttpErrInternetOpen);
    return false;
  }
  // Option results are not checked: a WinINet that refuses one still works
  // with its own defaults.
  SetTimeoutOptions(s.session.Get(), options_);
  if (options_.maxConnsPerServer != 0) {
    DWORD value = options_.maxConnsPerServer;
    WinInet().InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &value, sizeof(value));
  }

  s.connection.Reset(WinInet().InternetConnectA(s.session.Get(), s.host.get(), s.port, s.user.get(),
                                      s.password.get(), INTERNET_SERVICE_HTTP, 0, 0));
  if (!s.connection) {
    RecordError(XHttpErrConnect);
    return false;
  }
  SetTimeoutOptions(s.connection.Get(), options_);
  return true;
}

bool XHttpContext::Send() {
  Impl& s = *impl_;
  if (!s.connection) {
    RecordError(XHttpErrNoHandle, ERROR_INVALID_HANDLE);
    return false;
  }
  s.request.Reset();

  // Query after path, in the path buffer; Open made sure that both fit.
  const size_t pathLength = strnlen(s.path.get(), kPathSize);
  const size_t extraLength = strnlen(s.extra.get(), kExtraSize);
  if (pathLength + extraLength >= kPathSize) {
    RecordError(XHttpErrOpenRequest, ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(s.path.get() + pathLength, s.extra.get(), extraLength);
  s.path[pathLength + extraLength] = '\0';
  s.extra[0] = '\0';  // joined now; a second Send must not append it again

  const char* acceptTypes[] = {"*/*", nullptr};
  s.request.Reset(WinInet().HttpOpenRequestA(s.connection.Get(), "GET", s.path.get(), nullptr, nullptr,
                                   acceptTypes, s.requestFlags, 0));
  if (!s.request) {
    RecordError(XHttpErrOpenRequest);
    return false;
  }
  SetTimeoutOptions(s.request.Get(), options_);

  if (s.schemeNumber == INTERNET_SCHEME_HTTPS && options_.ignoreCertErrors) {
    DWORD flags = 0;
    DWORD size = sizeof(flags);
    if (WinInet().InternetQueryOptionW(s.request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) {
      flags |= kIgnoreCertFlags;
      WinInet().InternetSetOptionW(s.request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
    }
  }

  if (!options_.extraHeaders.empty()) {
    if (!WinInet().HttpAddRequestHeadersW(s.request.Get(), options_.extraHeaders.c_str(),
                                static_cast<DWORD>(options_.extraHeaders.size()),
                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
      RecordError(XHttpErrAddHeaders);
      return false;
    }
  }

  // At most two sends: the second only after the user answered the proxy's
  // request for credentials.
  for (int attempt = 0;; ++attempt) {
    if (!SendRequestBounded()) {
      RecordError(XHttpErrSendRequest);
      return false;
    }
    if (attempt > 0 || !options_.allowAuthDialog || options_.dialogParent == nullptr) break;
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinInet().HttpQueryInfoA(s.request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr) ||
        status != HTTP_STATUS_PROXY_AUTH_REQ) {
      break;
    }
    if (WinInet().InternetErrorDlg(options_.dialogParent, s.request.Get(), ERROR_INTERNET_INCORRECT_PASSWORD,
                         FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                             FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                         nullptr) != ERROR_INTERNET_FORCE_RETRY) {
      break;
    }
  }

  char text[kContentLengthSize] = {};
  DWORD size = sizeof(text) - 1;
  contentLength_ = -1;
  announcedLength_ = -1;
  if (WinInet().HttpQueryInfoA(s.request.Get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
    // A number that does not fit 32 bits signed is reported as no length,
    // but a body shorter than it still counts as cut short.
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end != text && value >= 0) announcedLength_ = value;
    if (end != text && value >= -1 && value <= INT32_MAX) contentLength_ = static_cast<int32_t>(value);
  }

  char status[32] = {};
  size = sizeof(status) - 1;
  if (!WinInet().HttpQueryInfoA(s.request.Get(), HTTP_QUERY_STATUS_CODE, status, &size, nullptr)) {
    RecordError(XHttpErrQueryStatus);
    return false;
  }
  syserr_ = GetLastError();
  int code = 0;
  switch (status[0]) {
    case '2': return true;
    case '1': code = XHttpErrStatus1xx; break;
    case '3': code = XHttpErrStatus3xx; break;
    case '4': code = XHttpErrStatus4xx; break;
    case '5': code = XHttpErrStatus5xx; break;
    default: code = XHttpErrStatusOther; break;
  }
  RecordError(code, syserr_);
  return false;
}

bool XHttpContext::SendRequestBounded() {
  Impl& s = *impl_;
  const uint64_t bound = uint64_t{options_.connectTimeout} + 2 * uint64_t{options_.receiveTimeout} + kSendMarginMs;
  const DWORD waitMs = bound >= INFINITE ? INFINITE : static_cast<DWORD>(bound);
  RefPtr<BoundedSend> call(new BoundedSend);
  call->target = s.request.Get();
  call->AddRef();  // the thread's
  UniqueKernelHandle thread(
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, BoundedSendThread, call.Get(), 0, nullptr)));
  if (!thread) {
    const DWORD error = GetLastError();
    call->Release();  // no thread took it
    SetLastError(error);
    return false;
  }
  if (WaitForSingleObject(thread.Get(), waitMs) == WAIT_OBJECT_0) {
    const BOOL sent = call->sent;
    const DWORD error = call->error;
    call.Reset();  // freed here, so that nothing runs after the error is set
    SetLastError(error);
    return sent != FALSE;
  }
  // Stuck: the call keeps the handles; this transfer has none left. Let go
  // before the error is set: should the thread have ended meanwhile, the
  // record and its handles close here.
  call->session = std::move(s.session);
  call->connection = std::move(s.connection);
  call->request = std::move(s.request);
  call.Reset();
  SetLastError(ERROR_INTERNET_TIMEOUT);
  return false;
}

bool XHttpContext::ReadChunk(uint8_t* buffer, DWORD* bytesRead) {
  *bytesRead = 0;
  Impl& s = *impl_;
  if (!s.request) {
    RecordError(XHttpErrNoHandle, ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD available = 0;  // bytes that can be read without waiting; 0 at the end
  if (!WinInet().InternetQueryDataAvailable(s.request.Get(), &available, 0, 0)) {
    RecordError(XHttpErrQueryDataAvailable);
    return false;
  }
  if (!bodyStarted_) {
    bodyStarted_ = true;
    bodyStartedAt_ = GetTickCount();
    progressWindowStart_ = bodyStartedAt_;
    progressWindowBytes_ = 0;
  }
  // A read waits until its whole size has arrived, whatever the receive
  // time-out: asking for what is there lets the minimum-progress rule look at
  // a dripping body after every byte rather than after every 4,096.
  const DWORD wanted = available > 0 && available < kChunkSize ? available : kChunkSize;
  if (!WinInet().InternetReadFile(s.request.Get(), buffer, wanted, bytesRead)) {
    RecordError(XHttpErrReadFile);
    return false;
  }
  const bool pastDeadline =
      options_.bodyDeadlineMs != 0 && GetTickCount() - bodyStartedAt_ >= options_.bodyDeadlineMs;
  if (*bytesRead > 0 && (MadeTooLittleProgress(*bytesRead) || pastDeadline)) {
    *bytesRead = 0;
    RecordError(XHttpErrReadFile, ERROR_INTERNET_TIMEOUT);
    return false;
  }
  return true;
}

bool XHttpContext::MadeTooLittleProgress(DWORD got) {
  if (options_.stallWindowMs == 0 || options_.stallMinBytes == 0) return false;
  // Saturates rather than wraps: more than 4 GiB in one window is progress.
  progressWindowBytes_ = got > UINT32_MAX - progressWindowBytes_ ? UINT32_MAX : progressWindowBytes_ + got;
  const DWORD now = GetTickCount();  // differences stay right across its wrap
  if (now - progressWindowStart_ < options_.stallWindowMs) return false;
  if (progressWindowBytes_ < options_.stallMinBytes) return true;
  progressWindowStart_ = now;  // enough came: the next window starts
  progressWindowBytes_ = 0;
  return false;
}

void XHttpContext::RequireMinimumRate(uint32_t bytesPerSecond) {
  const uint64_t perWindow = uint64_t{bytesPerSecond} * options_.stallWindowMs / 1000;
  if (perWindow > options_.stallMinBytes) {
    options_.stallMinBytes = perWindow > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(perWindow);
  }
  progressWindowStart_ = GetTickCount();
  progressWindowBytes_ = 0;
}

bool XHttpContext::IsBodyShort(int64_t received) {
  if (announcedLength_ < 0 || received >= announcedLength_) return false;
  RecordError(XHttpErrReadFile, ERROR_INTERNET_CONNECTION_RESET);
  return true;
}

bool XHttpContext::IsOverSizeLimit(int64_t received) {
  if (options_.sizeLimit <= 0 || received <= options_.sizeLimit) return false;
  RecordError(XHttpErrSizeLimit, ERROR_FILE_TOO_LARGE);
  return true;
}

bool XHttpContext::ReadToStream(XWriteStream* stream) {
  uint8_t buffer[kChunkSize];
  int64_t received = 0;  // body bytes of this transfer
  for (;;) {
    DWORD got = 0;
    if (!ReadChunk(buffer, &got)) return false;
    if (got == 0) return !IsBodyShort(received);
    if (!stream->Write(buffer, got)) {
      RecordError(XHttpErrStreamWrite);
      return false;
    }
    received += got;
    if (IsOverSizeLimit(received)) return false;
  }
}

}  // namespace tw
