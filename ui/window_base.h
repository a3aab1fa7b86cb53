// The window-implementation base of the program's window classes. It owns the
// window handle, registers the object's window class on the first creation,
// and routes the class's window procedure to the object: the object pointer
// arrives in CREATESTRUCT::lpCreateParams at WM_NCCREATE and is kept in
// GWLP_USERDATA until WM_NCDESTROY. No per-object code is generated.
#pragma once

#include <windows.h>

namespace tw {

// What the base registers for a class (WNDCLASSEXW without the procedure,
// which is always CWindowImpl's). One static instance per derived class.
struct WindowClassInfo {
  const wchar_t* className;  // null: a name is generated from this record's address
  UINT style;
  HBRUSH background;
  WORD iconResource;         // 0: no icon; else a resource id of this module
  const wchar_t* cursor;     // system cursor id (IDC_...)
  ATOM atom;                 // 0 until registered
  wchar_t generatedName[48];
};

class CWindowImpl {
 public:
  CWindowImpl() = default;
  CWindowImpl(const CWindowImpl&) = delete;
  CWindowImpl& operator=(const CWindowImpl&) = delete;

  // The message map: true when the message was handled, with its result.
  // Only map 0 is used.
  virtual bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    LRESULT& result, DWORD mapId) = 0;
  // Destroying the object detaches it from a window that still exists and
  // destroys that window without calling back into the object.
  virtual ~CWindowImpl();
  virtual WNDPROC GetWindowProc() { return &CWindowImpl::WindowProc; }
  // Called after WM_NCDESTROY, once the object no longer has a window.
  virtual void OnFinalMessage(HWND /*window*/) {}

  HWND Hwnd() const { return window_; }

  // Registers the class on first use and creates the window; null with the
  // last error on failure. rect: left, top, right, bottom (outer pixels), or
  // null for the default position and size.
  HWND Create(WindowClassInfo& classInfo, HWND parent, const RECT* rect, const wchar_t* title,
              DWORD style, DWORD exStyle);

  // Where unhandled messages go: DefWindowProcW, or the procedure that was
  // in place before this object's one.
  LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  // Puts the previous window procedure back while the window still uses
  // ours; on success the object forgets the window and later messages go
  // straight to that procedure. Used on WM_DESTROY.
  bool RestorePreviousProc();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static bool RegisterClassOnce(WindowClassInfo& classInfo);

  HWND window_ = nullptr;
  WNDPROC previousProc_ = &DefWindowProcW;
};

}  // namespace tw
