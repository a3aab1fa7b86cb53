#include "ui/main_window_frame.h"

#include "ui/center_window.h"
#include "ui/dpi.h"

namespace tw {
namespace {

WindowClassInfo g_mainClass = {kMainWindowClassName,
                               CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS,
                               static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)),
                               kMainIconResource,
                               IDC_ARROW,
                               0,
                               {}};

}  // namespace

HWND CreateMainWindowFrame(CWindowImpl& window, const std::wstring& title) {
  const RECT rect = {0, 0, ScaleForDpi(750), ScaleForDpi(530)};
  const HWND handle = window.Create(g_mainClass, nullptr, &rect, title.c_str(), kMainWindowStyle, 0);
  if (handle == nullptr) return nullptr;
  CenterWindow(handle);
  return handle;
}

bool CreateCornerLink(XHyperLinkStatic& link, HWND parent, const std::wstring& text,
                      const std::wstring& url) {
  const bool created = link.Create(parent, text, url, 20, 10, ScaleForDpi(30));
  link.SetBackgroundColor(RGB(255, 255, 255));
  return created;
}

}  // namespace tw
