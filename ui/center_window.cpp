#include "ui/center_window.h"

namespace tw {

int CenteredPosition(int centreLow, int centreHigh, int size, int areaLow, int areaHigh) {
  int position = (centreLow + centreHigh) / 2 - size / 2;  // both truncate toward zero
  if (position + size > areaHigh) position = areaHigh - size;
  if (position < areaLow) position = areaLow;
  return position;
}

void CenterWindow(HWND window) {
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  HWND reference = (style & WS_CHILD) ? GetParent(window) : GetWindow(window, GW_OWNER);
  RECT own;
  if (!GetWindowRect(window, &own)) return;
  RECT area;
  RECT centre;
  if (style & WS_CHILD) {
    const HWND parent = GetParent(window);
    if (parent == nullptr || !GetClientRect(parent, &area)) return;
    if (!GetClientRect(reference, &centre)) return;
    MapWindowPoints(reference, parent, reinterpret_cast<POINT*>(&centre), 2);
  } else {
    if (reference != nullptr && (!IsWindowVisible(reference) || IsIconic(reference))) {
      reference = nullptr;
    }
    const HMONITOR monitor =
        MonitorFromWindow(reference != nullptr ? reference : window, MONITOR_DEFAULTTONEAREST);
    if (monitor == nullptr) return;
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetMonitorInfoW(monitor, &info)) return;
    area = info.rcWork;
    if (reference == nullptr || !GetWindowRect(reference, &centre)) centre = area;
  }
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;
  const int x = CenteredPosition(centre.left, centre.right, width, area.left, area.right);
  const int y = CenteredPosition(centre.top, centre.bottom, height, area.top, area.bottom);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace tw
