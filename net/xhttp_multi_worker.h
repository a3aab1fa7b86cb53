// One mirror of a multi-URL transfer: a thread that fetches the URL into a
// memory stream and tells the controller about it by three events.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "net/write_stream.h"
#include "net/xhttp.h"
#include "support/unique_handle.h"

namespace tw {

class XHttpMultiWorker {
 public:
  XHttpMultiWorker(const std::wstring& url, const XHttpOptions& options);
  // Asks the thread to stop and waits for it, without a time limit: a worker
  // blocked in a read notices only when the read ends or times out.
  ~XHttpMultiWorker();
  XHttpMultiWorker(const XHttpMultiWorker&) = delete;
  XHttpMultiWorker& operator=(const XHttpMultiWorker&) = delete;

  // Creates the events and starts the thread; false (last error set) when
  // either fails.
  bool Start();

  HANDLE started() const { return started_.Get(); }
  HANDLE progressed() const { return progressed_.Get(); }
  HANDLE finished() const { return finished_.Get(); }

  // Read under the lock.
  int32_t ContentLength();
  int32_t Received();
  bool Succeeded();
  void RequestStop();
  // From its next chunk on, the worker must bring the options'
  // chosenMinBytesPerSecond or fail as a stalled body does.
  void RequireMinimumRate();

  // Valid once finished() is set.
  int httperr() const { return httperr_; }
  DWORD syserr() const { return syserr_; }
  const std::wstring& url() const { return url_; }
  // The body; read only once finished() is set.
  XMemoryWriteStream& body() { return body_; }

 private:
  static unsigned __stdcall ThreadMain(void* self);
  void Run();

  const std::wstring url_;
  XMemoryWriteStream body_;
  const XHttpOptions options_;
  UniqueKernelHandle thread_;
  UniqueKernelHandle started_;     // auto-reset: the response was accepted
  UniqueKernelHandle progressed_;  // auto-reset: a chunk was stored
  UniqueKernelHandle finished_;    // manual-reset: the thread is done
  CRITICAL_SECTION lock_;          // guards the five fields below
  int32_t contentLength_ = 0;      // 0 until the response was accepted
  int32_t received_ = 0;
  bool stop_ = false;
  bool rateRequired_ = false;
  bool success_ = false;
  int httperr_ = 0;                // written before finished_ is set
  DWORD syserr_ = 0;
};

}  // namespace tw
