#include "net/xhttp_multi_pick.h"

namespace tw {

void XHttpMultiPickWindow::Open(const int32_t (&counts)[kSlots], DWORD now) {
  open_ = true;
  openedAt_ = now;
  for (int slot = 0; slot < kSlots; ++slot) base_[slot] = counts[slot];
}

int XHttpMultiPickWindow::Observe(const int32_t (&counts)[kSlots], DWORD now) {
  if (!open_) {
    Open(counts, now);
    return -1;
  }
  // Mirrors that failed in the window are simply out (-1 now).
  int live = 0, best = -1;
  int32_t bestGain = 0;
  for (int slot = 0; slot < kSlots; ++slot) {
    if (counts[slot] < 0) continue;
    ++live;
    const int32_t gain = counts[slot] - base_[slot];
    if (gain > bestGain) {
      best = slot;
      bestGain = gain;
    }
  }
  const bool closes = live <= 1 || bestGain >= kPickWindowBytes || now - openedAt_ >= kPickWindowMs;
  if (!closes) return -1;
  if (best < 0) Open(counts, now);  // nobody moved: watch another window
  return best;
}

}  // namespace tw
