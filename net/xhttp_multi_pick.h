// When and whom the multi-URL transfer picks once the lead has passed
// pickBytes: the mirror that receives the most during a short window more.
//
// The first pickBytes measure round-trip time and burst size, not speed: a
// server that sends a second's allowance at once before it paces, TCP slow
// start and edge buffers let a slow mirror pass the threshold as early as a
// fast one. So every live mirror's count is noted when the window opens, and
// the window closes after kPickWindowMs or as soon as one mirror has received
// kPickWindowBytes in it. The counts of one reading are all taken together,
// so every mirror is measured over the same interval and the amounts rank
// the mirrors by rate without a clock finer than GetTickCount.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tw {

// Bytes one mirror may receive in the window before it closes, which also
// bounds what each loser costs in it. Chosen by measurement (bench/): with
// 256 KiB or 1 MiB a throttled server's first burst (nginx sends up to 2 MiB
// at once) could close the window before the fast mirror had shown its speed;
// 4 MiB only cost the losers more.
constexpr int32_t kPickWindowBytes = 2 * 1024 * 1024;
constexpr DWORD kPickWindowMs = 500;  // the longest window, milliseconds

class XHttpMultiPickWindow {
 public:
  static constexpr int kSlots = 5;

  // counts: each slot's received bytes, read together; -1 for a slot without
  // a live worker. now: GetTickCount. The first call opens the window.
  // Returns the slot to pick, or -1 to go on watching. A window in which
  // nobody received anything starts again; one with a single mirror left
  // closes at once (the controller picks a lone mirror itself as soon as it
  // leads past pickBytes).
  int Observe(const int32_t (&counts)[kSlots], DWORD now);

 private:
  void Open(const int32_t (&counts)[kSlots], DWORD now);

  bool open_ = false;
  DWORD openedAt_ = 0;
  int32_t base_[kSlots] = {};  // counts when the window opened
};

}  // namespace tw
