// One HTTP GET through WinINet into an XWriteStream: asynchronously on a worker
// thread that reports by the transfer messages, or synchronously.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "net/write_stream.h"
#include "support/ref_counted.h"

namespace tw {

// Transfer error codes (httperr).
enum XHttpError : int {
  XHttpErrCrackUrl = 1,
  XHttpErrInternetOpen = 2,
  XHttpErrConnect = 3,
  XHttpErrNoHandle = 4,
  XHttpErrOpenRequest = 5,
  XHttpErrSendRequest = 6,
  XHttpErrQueryStatus = 7,
  XHttpErrStatus1xx = 8,
  XHttpErrStatus3xx = 9,
  XHttpErrStatus4xx = 10,
  XHttpErrStatus5xx = 11,
  XHttpErrStatusOther = 12,
  XHttpErrQueryDataAvailable = 13,
  XHttpErrReadFile = 14,
  XHttpErrAllocUrlBuffer = 18,
  XHttpErrStreamWrite = 20,
  XHttpErrSizeLimit = 21,
  XHttpErrAddHeaders = 22,
  XHttpErrSecurity = 99,
};

// Every transfer copies this record by value.
struct XHttpOptions {
  std::wstring agent = L"XHttp";
  uint32_t connectTimeout = 10000;   // ms
  uint32_t receiveTimeout = 10000;   // ms
  uint32_t connectRetries = 5;
  uint32_t maxConnsPerServer = 0;    // process-wide when not 0
  uint32_t noAutoRedirect = 0;
  // Bytes: a body that brings more ends with 21 (0 or less: no bound); the
  // asynchronous transfer then deletes its file. Not used by XHttpMulti, whose
  // workers' memory streams hold 64 MiB at most.
  int32_t sizeLimit = 31457280;
  uint32_t ignoreCertErrors = 0;
  std::wstring extraHeaders;
  uint8_t allowAuthDialog = 0;
  HWND dialogParent = nullptr;
  uint32_t pickBytes = 262144;       // XHttpMulti only
  uint32_t pickMs = 5000;            // XHttpMulti only
  // Minimum progress of a body: fewer than stallMinBytes over stallWindowMs
  // ends the transfer as a receive time-out would (14, 12002). Each read is
  // bounded by receiveTimeout alone, which a server that drips a byte just
  // before every time-out defeats; a body slower than stallMinBytes per
  // stallWindowMs now ends within about stallWindowMs + receiveTimeout (a
  // faster one still ends at sizeLimit). 0 in either turns the rule off.
  uint32_t stallWindowMs = 60000;
  uint32_t stallMinBytes = 1024;
  // Bytes per second that an XHttpMulti mirror must bring, averaged over each
  // stallWindowMs, once it is chosen (or once pickMs has passed without a
  // choice): 2 KiB/s, 120 KiB a minute, which a slow modem line still
  // brings. Below it the body ends as a stalled one does (14, 12002); the
  // stall rule alone would let a 30 MB body drip for weeks. 0: no such rule.
  uint32_t chosenMinBytesPerSecond = 2048;
  // ms from the first read within which the whole body must have arrived,
  // else it ends as a receive time-out would (14, 12002); 0: no deadline.
  uint32_t bodyDeadlineMs = 0;
};

// The state of one transfer; lives on the stack of the thread that runs it.
class XHttpContext {
 public:
  static constexpr uint32_t kChunkSize = 4096;

  XHttpContext();
  explicit XHttpContext(const XHttpOptions& options);
  ~XHttpContext();
  XHttpContext(const XHttpContext&) = delete;
  XHttpContext& operator=(const XHttpContext&) = delete;

  bool Open(const std::wstring& url);
  bool Send();
  // One read of at most kChunkSize bytes; *bytesRead 0 marks the end of the body.
  bool ReadChunk(uint8_t* buffer, DWORD* bytesRead);
  bool ReadToStream(XWriteStream* stream);
  // At the end of the body: true, with error 14 / ERROR_INTERNET_CONNECTION_RESET
  // recorded, when fewer than the announced Content-Length bytes arrived (the
  // server closed the connection early; WinINet reports that as a normal end).
  bool IsBodyShort(int64_t received);
  // After a chunk: true, with error 21 recorded, once more than sizeLimit
  // bytes have arrived.
  bool IsOverSizeLimit(int64_t received);

  int httperr() const { return httperr_; }
  DWORD syserr() const { return syserr_; }
  // The announced length when it fits 32 bits signed, else -1 (as none).
  int32_t contentLength() const { return contentLength_; }
  XHttpOptions& options() { return options_; }
  // From now on at least bytesPerSecond averaged over each stallWindowMs
  // (never less than stallMinBytes); a new window starts now.
  void RequireMinimumRate(uint32_t bytesPerSecond);
  // Records a failure: code, then the thread's last error (security errors
  // turn the code into 99).
  void RecordError(int code);
  void RecordError(int code, DWORD systemError);

  // The URL as WinINet receives it: UTF-8, bytes above 0x7F and below 0x20
  // replaced by %XX, nothing else touched.
  static std::string EscapeUrl(const std::wstring& url);

 private:
  // HttpSendRequestW, bounded by the time-outs even where WinINet is not.
  bool SendRequestBounded();
  // The minimum-progress rule after a read of `got` > 0 bytes: true when the
  // window closed with fewer than stallMinBytes in it.
  bool MadeTooLittleProgress(DWORD got);

  struct Impl;
  Impl* impl_;  // owned: WinINet handles and URL component buffers
  XHttpOptions options_;
  int httperr_ = 0;
  DWORD syserr_ = 0;
  int32_t contentLength_ = -1;
  int64_t announcedLength_ = -1;  // the whole Content-Length; -1 when none
  bool bodyStarted_ = false;       // the first read of the body was made
  DWORD bodyStartedAt_ = 0;        // GetTickCount at that read
  DWORD progressWindowStart_ = 0;  // GetTickCount when the window opened
  uint32_t progressWindowBytes_ = 0;
};

// The body of an asynchronous transfer as it arrived, for a caller that must
// read what was received rather than the file, which other processes may
// change once it is closed. Shared by the caller and the worker thread, which
// writes it until it posts WM_XHTTP_COMPLETE; the caller reads it after.
class XHttpBody : public RefCounted<XHttpBody> {
 public:
  static RefPtr<XHttpBody> Create() { return RefPtr<XHttpBody>(new XHttpBody); }

  XMemoryWriteStream bytes;  // bounded by the options' sizeLimit

 private:
  friend class RefCounted<XHttpBody>;
  XHttpBody() = default;
  ~XHttpBody() = default;
};

// Starts a transfer of url into filePath (created anew; empty: the body is
// counted, not stored) on a detached worker thread that posts the transfer
// messages to target. agent, when not null, replaces the options' agent;
// options null means the defaults; body, when given, receives the body too (a
// body it cannot hold fails the transfer as a refused write). False when the
// file cannot be created (the last error is the creation's) or the thread
// cannot start.
bool XHttp_GetAsync(const std::wstring& url, const std::wstring& filePath, HWND target,
                    const wchar_t* agent, const XHttpOptions* options, LONG* idOut,
                    const RefPtr<XHttpBody>& body = RefPtr<XHttpBody>());

// Runs a transfer on the calling thread into the caller's stream. True when
// the whole body was written.
bool XHttp_Get(const std::wstring& url, XWriteStream* stream, const wchar_t* agent,
               int* httperrOut, const XHttpOptions* options);

}  // namespace tw
