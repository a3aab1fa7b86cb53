#include "ui/dpi.h"

#include <windows.h>

namespace tw {

DpiInfo& GetDpiInfo() {
  static DpiInfo info;
  return info;
}

void ReadScreenDpi() {
  const HDC screen = GetDC(nullptr);
  if (screen == nullptr) return;
  GetDpiInfo().dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
}

int ScaleForDpi(int n) {
  return MulDiv(n, GetDpiInfo().dpi, 96);
}

}  // namespace tw
