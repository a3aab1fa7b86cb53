// Centres a window: a child on its parent's client area, a top-level window
// on its owner or else on the work area of the nearest monitor, kept inside
// that area (a window larger than the area sticks to its left and top edges).
#pragma once

#include <windows.h>

namespace tw {

void CenterWindow(HWND window);

// The placement rule alone: x (or y) for a window of the given size centred
// on [centreLow, centreHigh) and kept inside [areaLow, areaHigh).
int CenteredPosition(int centreLow, int centreHigh, int size, int areaLow, int areaHigh);

}  // namespace tw
