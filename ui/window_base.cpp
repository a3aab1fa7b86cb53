#include "ui/window_base.h"

#include "support/format_text.h"

namespace tw {

CWindowImpl::~CWindowImpl() {
  if (window_ != nullptr && IsWindow(window_)) {
    // Later messages of this window must not reach a half-destroyed object.
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    const HWND window = window_;
    window_ = nullptr;
    DestroyWindow(window);  // best effort: fails only on another thread's window
  }
}

bool CWindowImpl::RegisterClassOnce(WindowClassInfo& classInfo) {
  if (classInfo.atom != 0) return true;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  const wchar_t* name = classInfo.className;
  if (name == nullptr) {
    // msvcrt's %p: the address in upper-case hexadecimal, all digits of a pointer.
    lstrcpynW(classInfo.generatedName,
              FormatText(L"TwWnd:%p", static_cast<void*>(&classInfo)).c_str(),
              ARRAYSIZE(classInfo.generatedName));
    name = classInfo.generatedName;
  }
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = classInfo.style;
  windowClass.lpfnWndProc = &CWindowImpl::WindowProc;
  windowClass.hInstance = instance;
  if (classInfo.iconResource != 0) {
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(classInfo.iconResource));
  }
  windowClass.hCursor = LoadCursorW(nullptr, classInfo.cursor);
  windowClass.hbrBackground = classInfo.background;
  windowClass.lpszClassName = name;
  classInfo.atom = RegisterClassExW(&windowClass);
  if (classInfo.atom == 0 && GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
    // Registered by an earlier record of the same name (e.g. a test that
    // ran before); use it as it is.
    classInfo.atom = static_cast<ATOM>(GetClassInfoExW(instance, name, &windowClass));
  }
  return classInfo.atom != 0;
}

HWND CWindowImpl::Create(WindowClassInfo& classInfo, HWND parent, const RECT* rect,
                         const wchar_t* title, DWORD style, DWORD exStyle) {
  if (window_ != nullptr) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  if (!RegisterClassOnce(classInfo)) return nullptr;
  int x = CW_USEDEFAULT, y = CW_USEDEFAULT, width = CW_USEDEFAULT, height = CW_USEDEFAULT;
  if (rect != nullptr) {
    x = rect->left;
    y = rect->top;
    width = rect->right - rect->left;
    height = rect->bottom - rect->top;
  } else if (style & WS_CHILD) {
    // CW_USEDEFAULT is for top-level windows only.
    x = y = width = height = 0;
  }
  // WindowProc binds window_ at WM_NCCREATE; on failure it is null again.
  const HWND window =
      CreateWindowExW(exStyle, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(classInfo.atom)),
                      title, style, x, y, width, height, parent, nullptr, GetModuleHandleW(nullptr),
                      this);
  return window;
}

LRESULT CWindowImpl::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (previousProc_ == &DefWindowProcW) return DefWindowProcW(window_, message, wParam, lParam);
  return CallWindowProcW(previousProc_, window_, message, wParam, lParam);
}

bool CWindowImpl::RestorePreviousProc() {
  if (window_ == nullptr) return false;
  if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window_, GWLP_WNDPROC)) != GetWindowProc()) {
    return false;
  }
  SetLastError(0);
  const LONG_PTR old = SetWindowLongPtrW(window_, GWLP_WNDPROC,
                                         reinterpret_cast<LONG_PTR>(previousProc_));
  if (old == 0 && GetLastError() != 0) return false;
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  window_ = nullptr;
  return true;
}

LRESULT CALLBACK CWindowImpl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* self = static_cast<CWindowImpl*>(create->lpCreateParams);
    if (self != nullptr) {
      self->window_ = window;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  }
  auto* self = reinterpret_cast<CWindowImpl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);

  LRESULT result = 0;
  const bool handled = self->ProcessWindowMessage(window, message, wParam, lParam, result, 0);
  // The handler may have detached the object (RestorePreviousProc).
  if (!handled) {
    if (self->window_ == window) {
      result = self->DefaultProc(message, wParam, lParam);
    } else {
      result = CallWindowProcW(self->previousProc_, window, message, wParam, lParam);
    }
  }
  if (message == WM_NCDESTROY && self->window_ == window) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    self->OnFinalMessage(window);
  }
  return result;
}

}  // namespace tw
