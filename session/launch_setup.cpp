// The last stage of the session: check the setup file's signature and signer,
// start it with the switches of this run, and close the window.
#include <windows.h>
#include <shellapi.h>

#include "app/app_state.h"
#include "config/ui_text.h"
#include "session/main_wnd.h"
#include "session/signature.h"
#include "support/format_text.h"
#include "support/unique_handle.h"

namespace tw {

namespace {

constexpr wchar_t kRequiredSigner[] = L"CN=Orlenhaus";

std::wstring MakeLaunchArguments(const AppState& state) {
  if (state.silentMode) return L"/S " + state.secondArgument + L" " + state.thirdArgument;
  if (state.autoMode) return L"/auto " + state.secondArgument + L" " + state.thirdArgument;
  return L"/onlineSetup";
}

}  // namespace

void CMainWnd::LaunchSetup() {
  // The process runs elevated and the temporary folder belongs to the user:
  // hold the file open without write or delete sharing from the verification
  // until the setup has been started, so that what was verified is what runs.
  UniqueFile pinned(CreateFileW(setupFilePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::wstring signerName;
  if (!pinned || !VerifyExeSignature(setupFilePath, pinned.Get(), &signerName)) {
    ShowFailure(GetUiText(L"TEXT_DOWNLOAD_FAILED"), L"err - VerifyExeSignature() failed");
    return;
  }
  if (signerName.find(kRequiredSigner) == std::wstring::npos) {
    // A valid signature by somebody else: never started, reported like a
    // failed verification so that a silent run ends too.
    ShowFailure(GetUiText(L"TEXT_DOWNLOAD_FAILED"),
                FormatText(L"err - VerifyExeSignature() signer mismatch, subject:%s", signerName.c_str()));
    return;
  }

  SetStatusText(GetUiText(L"TEXT_DOWNLOAD_COMPLETED"));
  stage = StageLaunched;
  const std::wstring arguments = MakeLaunchArguments(GetAppState());
  // A failed start is neither shown nor reported: the setup is out of our hands.
  ShellExecuteW(nullptr, L"open", setupFilePath.c_str(), arguments.c_str(), nullptr, SW_SHOW);
  PostMessageW(Hwnd(), WM_CLOSE, 0, 0);
}

}  // namespace tw
