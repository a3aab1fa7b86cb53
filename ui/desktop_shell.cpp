#include "ui/desktop_shell.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <cstring>

namespace tw {
namespace {

// Owns every interface reached on the way to the desktop shell (each slot
// holds one reference, to an interface derived from IUnknown); releases them
// together.
struct ComChain {
  IUnknown* objects[8] = {};
  ~ComChain() {
    for (IUnknown* object : objects) {
      if (object != nullptr) object->Release();
    }
  }
  void** Slot(int index) { return reinterpret_cast<void**>(&objects[index]); }
  template <typename T>
  T* At(int index) const { return static_cast<T*>(objects[index]); }
};

// The desktop shell's IShellDispatch2, held by `chain`: from the desktop's
// entry in the ShellWindows of the shell's process (a local server only: an
// in-process object would run here, elevated) through its top-level browser
// and the desktop view's background object. Null when a step fails.
IShellDispatch2* ReachDesktopShell(ComChain& chain) {
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, chain.Slot(0)))) {
    return nullptr;
  }
  VARIANT none = {};  // VT_EMPTY
  long desktopWindow = 0;
  if (chain.At<IShellWindows>(0)->FindWindowSW(&none, &none, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                                               reinterpret_cast<IDispatch**>(chain.Slot(1))) != S_OK ||
      chain.objects[1] == nullptr ||
      FAILED(chain.objects[1]->QueryInterface(IID_IServiceProvider, chain.Slot(2))) ||
      FAILED(chain.At<IServiceProvider>(2)->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, chain.Slot(3))) ||
      FAILED(chain.At<IShellBrowser>(3)->QueryActiveShellView(reinterpret_cast<IShellView**>(chain.Slot(4)))) ||
      FAILED(chain.At<IShellView>(4)->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, chain.Slot(5))) ||
      FAILED(chain.objects[5]->QueryInterface(IID_IShellFolderViewDual, chain.Slot(6))) ||
      FAILED(chain.At<IShellFolderViewDual>(6)->get_Application(reinterpret_cast<IDispatch**>(chain.Slot(7)))) ||
      chain.objects[7] == nullptr) {
    return nullptr;
  }
  IShellDispatch2* shell = nullptr;
  return SUCCEEDED(chain.objects[7]->QueryInterface(IID_PPV_ARGS(&shell))) ? shell : nullptr;
}

}  // namespace

bool OpenUrlAsDesktopUser(const std::wstring& url) {
  ComChain chain;
  IShellDispatch2* const shell = ReachDesktopShell(chain);
  if (shell == nullptr) return false;
  BSTR file = SysAllocString(url.c_str());
  VARIANT none = {}, show = {};  // VT_EMPTY
  show.vt = VT_I4;
  show.lVal = SW_SHOWNORMAL;
  const HRESULT result = file != nullptr ? shell->ShellExecute(file, none, none, none, show) : E_OUTOFMEMORY;
  SysFreeString(file);
  shell->Release();
  return SUCCEEDED(result);
}

bool CopyTextToClipboard(HWND owner, const std::wstring& text) {
  if (!OpenClipboard(owner)) return false;
  bool copied = false;
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  // Moveable memory that the clipboard owns once SetClipboardData took it.
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  void* target = memory != nullptr ? GlobalLock(memory) : nullptr;
  if (target != nullptr) {
    std::memcpy(target, text.c_str(), bytes);
    GlobalUnlock(memory);
    copied = EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  }
  if (!copied && memory != nullptr) GlobalFree(memory);
  CloseClipboard();
  return copied;
}

}  // namespace tw
