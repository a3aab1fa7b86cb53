// The two entry points of the single-URL transfer: XHttp_GetAsync (worker
// thread, reports by message) and XHttp_Get (on the caller's thread).
#include "net/xhttp.h"

#include <process.h>

#include <memory>

#include "net/transfer_messages.h"

namespace tw {
namespace {

// Process-wide id counter; the first transfer gets 1.
LONG g_lastTransferId = 0;

// Everything the worker needs, handed over whole; the worker deletes it.
struct AsyncTransfer {
  std::wstring url;
  std::unique_ptr<XFileWriteStream> stream;  // null: the body is only counted
  HWND target = nullptr;
  XHttpOptions options;
  LONG id = 0;
  RefPtr<XHttpBody> body;  // this thread's reference; null: not asked for
};

void PostWithRetry(HWND target, UINT message, LONG id, LPARAM value) {
  // Nobody to tell; posting to a null window would land on this thread's queue.
  if (target == nullptr) return;
  // The result is not used: a window that has gone cannot be told anything.
  (void)PostTransferMessage(target, message, static_cast<WPARAM>(id), value);
}

void RunTransfer(AsyncTransfer& t) {
  XHttpContext context(t.options);
  bool succeeded = false;
  bool reported = false;   // ERR and ERR_SYS already posted
  bool oversize = false;   // ended by sizeLimit: the file goes
  if (context.Open(t.url) && context.Send()) {
    PostWithRetry(t.target, WM_XHTTP_START, t.id, static_cast<LPARAM>(context.contentLength()));
    uint8_t buffer[XHttpContext::kChunkSize];
    int64_t total = 0;  // wider than the message carries; clamped when posted
    for (;;) {
      DWORD got = 0;
      if (!context.ReadChunk(buffer, &got)) break;
      if (got == 0) {
        // WinINet ends a body cut short by the server like a whole one.
        succeeded = !context.IsBodyShort(total);
        break;
      }
      if ((t.stream && !t.stream->Write(buffer, got)) || (t.body && !t.body->bytes.Write(buffer, got))) {
        // The context's syserr goes out as it stands: the refused write did
        // not pass through the context.
        PostWithRetry(t.target, WM_XHTTP_ERR, t.id, XHttpErrStreamWrite);
        PostWithRetry(t.target, WM_XHTTP_ERR_SYS, t.id, static_cast<LPARAM>(context.syserr()));
        reported = true;
        break;
      }
      total += got;
      if (context.IsOverSizeLimit(total)) {
        oversize = true;
        break;
      }
      // Progress is posted without retry: a busy window loses progress
      // rather than stalling the download.
      if (t.target != nullptr) {
        PostMessageW(t.target, WM_XHTTP_PROGRESS, static_cast<WPARAM>(t.id),
                     static_cast<LPARAM>(total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total)));
      }
    }
  }
  if (!succeeded && !reported) {
    PostWithRetry(t.target, WM_XHTTP_ERR, t.id, static_cast<LPARAM>(context.httperr()));
    PostWithRetry(t.target, WM_XHTTP_ERR_SYS, t.id, static_cast<LPARAM>(context.syserr()));
  }
  // The file is complete and closed before anybody hears of it.
  if (t.stream) {
    // An endless or oversized body would otherwise leave up to sizeLimit
    // bytes of the server's choosing in the caller's folder.
    oversize ? t.stream->Discard() : t.stream->Close();
    t.stream.reset();
  }
  t.body.Reset();  // done with it before the caller may read it
  PostWithRetry(t.target, WM_XHTTP_COMPLETE, t.id, succeeded ? 1 : 0);
}

unsigned __stdcall TransferThread(void* parameter) {
  std::unique_ptr<AsyncTransfer> transfer(static_cast<AsyncTransfer*>(parameter));
  RunTransfer(*transfer);
  return 0;
}

}  // namespace

bool XHttp_GetAsync(const std::wstring& url, const std::wstring& filePath, HWND target,
                    const wchar_t* agent, const XHttpOptions* options, LONG* idOut,
                    const RefPtr<XHttpBody>& body) {
  std::unique_ptr<XFileWriteStream> file;
  if (!filePath.empty()) {
    file.reset(new XFileWriteStream);
    if (!file->Open(filePath)) {
      const DWORD error = GetLastError();
      file.reset();
      SetLastError(error);  // the creation's error is the caller's to see
      return false;
    }
  }

  std::unique_ptr<AsyncTransfer> transfer(new AsyncTransfer);
  transfer->url = url;
  transfer->stream = std::move(file);
  transfer->target = target;
  if (options != nullptr) transfer->options = *options;
  if (agent != nullptr) transfer->options.agent = agent;
  transfer->body = body.Share();
  transfer->id = InterlockedIncrement(&g_lastTransferId);
  if (idOut != nullptr) *idOut = transfer->id;

  const uintptr_t thread =
      _beginthreadex(nullptr, 0, TransferThread, transfer.get(), 0, nullptr);
  if (thread == 0) {
    // Nothing will ever write the file: close it and remove it again, keeping
    // the thread creation's error for the caller.
    const DWORD error = GetLastError();
    if (transfer->stream) transfer->stream->Discard();
    transfer.reset();
    SetLastError(error);
    return false;
  }
  (void)transfer.release();  // the thread owns it now
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

bool XHttp_Get(const std::wstring& url, XWriteStream* stream, const wchar_t* agent,
               int* httperrOut, const XHttpOptions* options) {
  XHttpContext context;
  if (options != nullptr) context.options() = *options;
  if (agent != nullptr) context.options().agent = agent;
  if (httperrOut != nullptr) *httperrOut = 0;
  if (stream == nullptr) {
    // Nowhere to put the body: the same refusal as a stream that takes nothing.
    context.RecordError(XHttpErrStreamWrite, ERROR_INVALID_PARAMETER);
  } else if (context.Open(url) && context.Send() && context.ReadToStream(stream)) {
    return true;
  }
  if (httperrOut != nullptr) *httperrOut = context.httperr();
  return false;
}

}  // namespace tw
