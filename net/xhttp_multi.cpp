// The multi-URL transfer: a controller thread starts one worker per mirror,
// picks the fastest once the lead has passed pickBytes (xhttp_multi_pick.h),
// stops the others and writes the winner's body to the file in one go.
#ifdef TW_XHTTP_MULTI_OLD_PICK
// The benchmark's second copy of this file, under its own name: the pick of
// old, where the first count past pickBytes decides. Never in the program.
#define XHttpMulti_GetAsync XHttpMulti_GetAsyncOldPick
#endif
#include "net/xhttp_multi.h"

#include <process.h>

#include <memory>

#include "net/transfer_messages.h"
#include "net/xhttp_multi_pick.h"
#include "net/xhttp_multi_worker.h"

namespace tw {
namespace {

constexpr int kSlots = 5;
constexpr DWORD kPollMs = 5;  // each wait on a worker's event
static_assert(kSlots == XHttpMultiPickWindow::kSlots, "one slot table");
#ifdef TW_XHTTP_MULTI_OLD_PICK
constexpr bool kPickFirstPastBytes = true;  // the benchmark's copy
#else
constexpr bool kPickFirstPastBytes = false;
#endif

// Failure locations left in XHttpMultiResult::errLine.
constexpr int32_t kErrLineNoUrl = 282;
constexpr int32_t kErrLineLengthMismatch = 346;
constexpr int32_t kErrLineFileWrite = 509;
constexpr int32_t kErrLineChosenFailed = 526;
constexpr int32_t kErrLineNoMirror = 541;

// Process-wide id counter of this kind of transfer; the first gets 1.
LONG g_lastMultiId = 0;

// Handed whole to the controller thread, which deletes it.
struct MultiTransfer {
  std::wstring urls[kSlots];
  std::unique_ptr<XFileWriteStream> stream;  // null when no file was asked for
  HWND target = nullptr;
  uint32_t sleepInterval = 0;
  XHttpOptions options;
  LONG id = 0;
  // This thread's own reference: the record lives until the thread has
  // made its last write, however early the caller lets go of it.
  RefPtr<XHttpMultiResult> result;
};

bool IsSet(HANDLE event) { return WaitForSingleObject(event, kPollMs) == WAIT_OBJECT_0; }

class Controller {
 public:
  explicit Controller(MultiTransfer& t) : t_(t) {}
  // Destroys the remaining workers (waiting for their threads) only after
  // COMPLETE was posted by Run.
  void Run();

 private:
  void Post(UINT message, LPARAM value) {
    if (t_.target != nullptr) (void)PostTransferMessage(t_.target, message, t_.id, value);
  }
  void PostPlain(UINT message, LPARAM value) {
    if (t_.target != nullptr) PostMessageW(t_.target, message, t_.id, value);
  }
  bool AnyLive() const { return LiveWorkers() > 0; }
  int LiveWorkers() const {
    int live = 0;
    for (const auto& w : workers_)
      if (w) ++live;
    return live;
  }
  // A worker that ended without success: keep its error, then destroy it.
  void Retire(int slot) {
    if (workers_[slot]->httperr() != 0) {
      lastErr_ = workers_[slot]->httperr();
      lastSys_ = workers_[slot]->syserr();
    }
    workers_[slot].reset();
  }
  // Records the pick, tells the window, stops every other worker.
  void Choose(int slot);
  bool StartWorkers();
  // False when the mirrors announced different lengths.
  bool WaitFirstAnswer();
  // The slot of the worker that succeeded, or -1; chosen_ tells whether the
  // rule picked one.
  int Race();
  bool Finish(int winner);

  MultiTransfer& t_;
  std::unique_ptr<XHttpMultiWorker> workers_[kSlots];
  int chosen_ = -1;
  int lastErr_ = 0;
  DWORD lastSys_ = 0;
};

bool Controller::StartWorkers() {
  int live = 0;
  for (int slot = 0; slot < kSlots; ++slot) {
    // The pause comes before every slot but the first, used or not, so the
    // starts always take 4 x sleepInterval.
    if (slot > 0) Sleep(t_.sleepInterval);
    if (t_.urls[slot].empty()) continue;
    std::unique_ptr<XHttpMultiWorker> worker(new XHttpMultiWorker(t_.urls[slot], t_.options));
    if (!worker->Start()) continue;  // as if the slot held no URL
    workers_[slot] = std::move(worker);
    ++live;
  }
  return live > 0;
}

bool Controller::WaitFirstAnswer() {
  while (AnyLive()) {
    for (int slot = 0; slot < kSlots; ++slot) {
      XHttpMultiWorker* w = workers_[slot].get();
      if (w == nullptr) continue;
      if (IsSet(w->started())) {
        Post(WM_XHTTP_START, static_cast<LPARAM>(w->ContentLength()));
        // One check of the lengths known at this moment; later answers are
        // not compared.
        int32_t reference = 0;
        for (auto& other : workers_) {
          if (!other) continue;
          const int32_t length = other->ContentLength();
          if (length <= 0) continue;
          if (reference == 0) {
            reference = length;
          } else if (length != reference) {
            return false;
          }
        }
        return true;
      }
      if (IsSet(w->finished()) && !w->Succeeded()) Retire(slot);
    }
  }
  return true;  // nobody answered; the race below ends at once
}

void Controller::Choose(int slot) {
  chosen_ = slot;
  t_.result->chosenIndex = slot;
  t_.result->chosenUrl = t_.urls[slot];
  PostPlain(WM_XHTTP_MULTI_CHOSEN, static_cast<LPARAM>(slot));
  for (int other = 0; other < kSlots; ++other) {
    if (other != slot && workers_[other]) workers_[other]->RequestStop();
  }
  workers_[slot]->RequireMinimumRate();
}

int Controller::Race() {
  int32_t highest = 0;
  const DWORD raceStart = GetTickCount();
  const int32_t pickBytes = static_cast<int32_t>(t_.options.pickBytes);
  const int32_t pickMs = static_cast<int32_t>(t_.options.pickMs);
  XHttpMultiPickWindow window;
  bool ratesRequired = false;
  while (AnyLive()) {
    // The counts of every worker that made progress in this scan; the lead
    // is the largest of them. (Judging each worker the moment it is read
    // would favour low slots: during the 5 ms waits of one scan a faster
    // mirror in a higher slot pulls ahead unseen.)
    int leader = -1;
    int32_t leaderReceived = 0;
    for (int slot = 0; slot < kSlots; ++slot) {
      XHttpMultiWorker* w = workers_[slot].get();
      if (w == nullptr || !IsSet(w->progressed())) continue;
      const int32_t received = w->Received();
      if (leader < 0 || received > leaderReceived) {
        leader = slot;
        leaderReceived = received;
      }
    }
    if (leader >= 0 && leaderReceived > highest) {
      highest = leaderReceived;
      PostPlain(WM_XHTTP_PROGRESS, static_cast<LPARAM>(highest));
      // The leader is picked at once when there is nobody to compare it
      // with, and by anyone who sets a new lead once pickMs has passed.
      const int32_t elapsed = static_cast<int32_t>(GetTickCount() - raceStart);
      const bool pastBytes = highest > pickBytes && (kPickFirstPastBytes || LiveWorkers() == 1);
      if (chosen_ < 0 && (pastBytes || (pickMs != 0 && elapsed > pickMs))) Choose(leader);
    }
    // Ended workers first, so that one that failed is out before the window
    // below can pick it, and one that succeeded wins at once.
    for (int slot = 0; slot < kSlots; ++slot) {
      XHttpMultiWorker* w = workers_[slot].get();
      if (w == nullptr || !IsSet(w->finished())) continue;
      if (w->Succeeded()) return slot;
      Retire(slot);
    }
    // pickMs past without a choice (a leader failed before it was picked, say):
    // every mirror still running is held to the chosen one's rate, else one
    // that drips below the lead would run on under the stall rule alone.
    const int32_t raceMs = static_cast<int32_t>(GetTickCount() - raceStart);
    if (!ratesRequired && chosen_ < 0 && pickMs != 0 && raceMs > pickMs) {
      ratesRequired = true;
      for (auto& w : workers_)
        if (w) w->RequireMinimumRate();
    }
    if (!kPickFirstPastBytes && chosen_ < 0 && highest > pickBytes && AnyLive()) {
      int32_t counts[kSlots];
      for (int slot = 0; slot < kSlots; ++slot)
        counts[slot] = workers_[slot] ? workers_[slot]->Received() : -1;
      const int pick = window.Observe(counts, GetTickCount());
      if (pick >= 0) Choose(pick);
    }
  }
  return -1;
}

bool Controller::Finish(int winner) {
  XHttpMultiResult& result = *t_.result.Get();
  if (winner < 0) {
    if (chosen_ < 0) {
      result.httperr = lastErr_;
      result.syserr = lastSys_;
      result.errLine = kErrLineNoMirror;
      Post(WM_XHTTP_ERR, lastErr_ != 0 ? lastErr_ : XHttpMultiErrNoMirror);
    } else {
      result.errLine = kErrLineChosenFailed;  // told by COMPLETE 0 alone
    }
    return false;
  }
  if (!t_.stream) return true;  // no file asked for: the body was only fetched
  XMemoryWriteStream& body = workers_[winner]->body();
  const bool written = t_.stream->Write(body.Data(), static_cast<uint32_t>(body.GetSize())) &&
                       t_.stream->Flush();
  if (written) {
    t_.stream->Close();
    return true;
  }
  // Never leave a part of the file behind.
  t_.stream->Discard();
  result.errLine = kErrLineFileWrite;
  Post(WM_XHTTP_ERR, XHttpMultiErrFileWrite);
  return false;
}

void Controller::Run() {
  bool succeeded = false;
  if (!StartWorkers()) {
    t_.result->errLine = kErrLineNoUrl;
    Post(WM_XHTTP_ERR, XHttpMultiErrNoUrl);
  } else if (!WaitFirstAnswer()) {
    t_.result->errLine = kErrLineLengthMismatch;
    Post(WM_XHTTP_ERR, XHttpMultiErrLengthMismatch);
  } else {
    succeeded = Finish(Race());
  }
  t_.stream.reset();  // closes the file if it is still open
  Post(WM_XHTTP_COMPLETE, succeeded ? 1 : 0);
  // The workers still live are stopped and waited for by their destructors.
}

unsigned __stdcall ControllerThread(void* parameter) {
  std::unique_ptr<MultiTransfer> transfer(static_cast<MultiTransfer*>(parameter));
  {
    Controller controller(*transfer);
    controller.Run();
  }
  return 0;
}

}  // namespace

bool XHttpMulti_GetAsync(const XHttpMultiRequest& request, const XHttpOptions* options,
                         const RefPtr<XHttpMultiResult>& result) {
  if (!result) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::unique_ptr<XFileWriteStream> file;
  if (!request.filePath.empty()) {
    file.reset(new XFileWriteStream);
    if (!file->Open(request.filePath)) {
      const DWORD error = GetLastError();
      file.reset();
      SetLastError(error);
      return false;
    }
  }

  std::unique_ptr<MultiTransfer> transfer(new MultiTransfer);
  for (int slot = 0; slot < kSlots; ++slot) transfer->urls[slot] = request.urls[slot];
  transfer->stream = std::move(file);
  transfer->target = request.targetWindow;
  transfer->sleepInterval = request.sleepInterval;
  if (options != nullptr) transfer->options = *options;
  if (!request.agent.empty()) transfer->options.agent = request.agent;
  transfer->result = result.Share();
  transfer->id = InterlockedIncrement(&g_lastMultiId);

  const uintptr_t thread =
      _beginthreadex(nullptr, 0, ControllerThread, transfer.get(), 0, nullptr);
  if (thread == 0) {
    // Nothing will ever fill the file: remove it, keeping the thread
    // creation's error for the caller.
    const DWORD error = GetLastError();
    if (transfer->stream) transfer->stream->Discard();
    SetLastError(error);
    return false;
  }
  (void)transfer.release();  // the controller thread owns it now
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

}  // namespace tw
