#include <windows.h>

#include "app/app_main.h"
#include "app/app_state.h"
#include "session/main_wnd.h"
#include "support/unique_handle.h"

namespace tw {
namespace {

constexpr WORD kAcceleratorResource = 109;
constexpr wchar_t kInstanceMutexName[] = L"tarnwick-std-setup";

}  // namespace

int AppRun(const PrivateFolder& folder) {
  CMainWnd mainWnd(folder);
  // A resource of this module: released with the module, not destroyed.
  const HACCEL accelerators =
      LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAcceleratorResource));
  // Held while the loop runs; a second instance runs all the same, and a
  // failed creation (null) is ignored.
  UniqueKernelHandle instanceMutex(CreateMutexW(nullptr, FALSE, kInstanceMutexName));
  if (!mainWnd.CreateAndStart()) return 1;

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (accelerators != nullptr && TranslateAcceleratorW(mainWnd.Hwnd(), accelerators, &message)) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return GetAppState().exitCode;
}

}  // namespace tw
