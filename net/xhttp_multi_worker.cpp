#include "net/xhttp_multi_worker.h"

#include <process.h>

#include "net/xhttp_multi.h"

namespace tw {

XHttpMultiWorker::XHttpMultiWorker(const std::wstring& url, const XHttpOptions& options)
    : url_(url), options_(options) {
  InitializeCriticalSection(&lock_);
}

XHttpMultiWorker::~XHttpMultiWorker() {
  RequestStop();
  if (thread_) WaitForSingleObject(thread_.Get(), INFINITE);
  DeleteCriticalSection(&lock_);
}

bool XHttpMultiWorker::Start() {
  started_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  progressed_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  finished_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!started_ || !progressed_ || !finished_) return false;
  thread_.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ThreadMain, this, 0, nullptr)));
  return thread_.IsValid();
}

int32_t XHttpMultiWorker::ContentLength() {
  EnterCriticalSection(&lock_);
  const int32_t value = contentLength_;
  LeaveCriticalSection(&lock_);
  return value;
}

int32_t XHttpMultiWorker::Received() {
  EnterCriticalSection(&lock_);
  const int32_t value = received_;
  LeaveCriticalSection(&lock_);
  return value;
}

bool XHttpMultiWorker::Succeeded() {
  EnterCriticalSection(&lock_);
  const bool value = success_;
  LeaveCriticalSection(&lock_);
  return value;
}

void XHttpMultiWorker::RequestStop() {
  EnterCriticalSection(&lock_);
  stop_ = true;
  LeaveCriticalSection(&lock_);
}

void XHttpMultiWorker::RequireMinimumRate() {
  EnterCriticalSection(&lock_);
  rateRequired_ = true;
  LeaveCriticalSection(&lock_);
}

unsigned __stdcall XHttpMultiWorker::ThreadMain(void* self) {
  static_cast<XHttpMultiWorker*>(self)->Run();
  return 0;
}

void XHttpMultiWorker::Run() {
  int error = 0;
  DWORD systemError = 0;
  bool success = false;
  {
    XHttpContext context(options_);
    if (context.Open(url_) && context.Send()) {
      EnterCriticalSection(&lock_);
      contentLength_ = context.contentLength();
      LeaveCriticalSection(&lock_);
      SetEvent(started_.Get());

      uint8_t buffer[XHttpContext::kChunkSize];
      int32_t total = 0;
      bool rateRequired = false;
      for (;;) {
        DWORD got = 0;
        if (!context.ReadChunk(buffer, &got)) break;
        if (got == 0) {
          // Only a body of exactly the announced length counts; a response
          // without a length can never be shown to be whole.
          success = total == context.contentLength();
          break;
        }
        if (!body_.Write(buffer, got)) {
          error = XHttpMultiErrBodyTooLarge;
          systemError = GetLastError();
          break;
        }
        total += static_cast<int32_t>(got);  // the body stays below 64 MiB
        EnterCriticalSection(&lock_);
        const bool stop = stop_;
        const bool rateNewlyRequired = rateRequired_ && !rateRequired;
        if (!stop) received_ = total;
        LeaveCriticalSection(&lock_);
        if (stop) {
          error = XHttpMultiErrStopped;
          break;
        }
        if (rateNewlyRequired) {
          rateRequired = true;
          context.RequireMinimumRate(options_.chosenMinBytesPerSecond);
        }
        SetEvent(progressed_.Get());
      }
    }
    if (error == 0 && !success) {
      error = context.httperr();
      systemError = context.syserr();
    }
    // The context closes its WinINet handles here, before the controller
    // can see the worker as finished.
  }
  httperr_ = error;
  syserr_ = systemError;
  EnterCriticalSection(&lock_);
  success_ = success;
  LeaveCriticalSection(&lock_);
  SetEvent(finished_.Get());
}

}  // namespace tw
