// The screen's logical pixels per inch, read once at start-up, and the
// scaling of 96-DPI lengths to it.
#pragma once

namespace tw {

struct DpiInfo {
  int dpi = 96;  // logical pixels per inch; 96 until read
};

// The process-wide record, created on first use.
DpiInfo& GetDpiInfo();
// GetDC(null) + GetDeviceCaps(LOGPIXELSX), once; keeps 96 when there is no DC.
void ReadScreenDpi();
// MulDiv(n, dpi, 96): rounded to nearest, halves away from zero.
int ScaleForDpi(int n);

}  // namespace tw
