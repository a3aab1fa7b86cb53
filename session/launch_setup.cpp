// The last stage of the session: check the setup file's signature and signer,
// start it with the switches of this run, and close the window.
#include <windows.h>

#include "app/app_state.h"
#include "config/ui_text.h"
#include "diag/setup_log.h"
#include "session/main_wnd.h"
#include "session/signature.h"
#include "support/file_helpers.h"
#include "support/format_text.h"
#include "support/unique_handle.h"

namespace tw {

namespace {

constexpr wchar_t kMakerName[] = L"Orlenhaus";

std::wstring MakeLaunchArguments(const AppState& state) {
  if (state.silentMode) return L"/S " + state.secondArgument + L" " + state.thirdArgument;
  if (state.autoMode) return L"/auto " + state.secondArgument + L" " + state.thirdArgument;
  return L"/onlineSetup";
}

// "CN=Orlenhaus" begins a relative distinguished name of the subject: some
// common name starts with the maker's name, case-sensitive, and may go on
// ("Orlenhaus Software Ltd"). The subject's text form is no test, since a
// value there may quote the same text (O="CN=Orlenhaus Ltd").
bool IsMakerSigner(const Signer& signer) {
  const size_t length = sizeof(kMakerName) / sizeof(kMakerName[0]) - 1;
  for (const std::wstring& name : signer.commonNames) {
    if (name.compare(0, length, kMakerName) == 0) return true;
  }
  return false;
}

// Starts the verified file as a program (never as a document: no class
// registration of the user's, no zone prompt, nothing but an executable),
// with the private folder as its working folder, so that a DLL it loads by
// name is looked for only where nobody else writes. False with the last error
// set when it does not start.
bool StartSetupProgram(const std::wstring& path, const std::wstring& arguments, const std::wstring& folder) {
  std::wstring commandLine = FormatText(L"\"%s\" %s", path.c_str(), arguments.c_str());  // writable, for CreateProcessW
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

void CMainWnd::LaunchSetup(UniqueFile pinned) {
  // The process runs elevated: the file is held open without write or delete
  // sharing from its checks until the setup has been started, verified
  // through that handle, and started by the path the system resolves for it,
  // so that what was verified is what runs.
  Signer signer;
  const bool verified = pinned && VerifyExeSignature(setupFilePath, pinned.Get(), &signer);
  AppendSetupLog(FormatText(L"signature %s, signer: %s", verified ? L"valid" : L"not valid", signer.subject.c_str()));
  if (!verified) {
    ShowFailure(GetUiText(L"TEXT_DOWNLOAD_FAILED"), L"err - VerifyExeSignature() failed");
    return;
  }
  if (!IsMakerSigner(signer)) {
    // A valid signature by somebody else: never started, reported like a
    // failed verification so that a silent run ends too.
    ShowFailure(GetUiText(L"TEXT_DOWNLOAD_FAILED"),
                FormatText(L"err - VerifyExeSignature() signer mismatch, subject:%s", signer.subject.c_str()));
    return;
  }
  std::wstring launchPath;
  if (!GetFinalPath(pinned.Get(), &launchPath)) {
    const DWORD error = GetLastError();
    if (error != ERROR_PROC_NOT_FOUND) {
      ShowFailure(GetUiText(L"TEXT_DOWNLOAD_FAILED"),
                  FormatText(L"err - LaunchSetup() final path unknown, GetLastError()=%u", error));
      return;
    }
    // Before Vista the system cannot tell; the handle still holds the file itself.
    launchPath = setupFilePath;
  }

  const std::wstring arguments = MakeLaunchArguments(GetAppState());
  AppendSetupLog(FormatText(L"launch \"%s\" %s", launchPath.c_str(), arguments.c_str()));
  const bool started = StartSetupProgram(launchPath, arguments, privateFolder.path());
  const DWORD error = GetLastError();
  pinned.Reset();  // only now: the start has returned
  if (!started) {
    // Nothing runs: a failure like any other, never an exit code 0.
    ShowFailure(GetUiText(L"TEXT_DOWNLOAD_FAILED"),
                FormatText(L"err - LaunchSetup() CreateProcessW failed, GetLastError()=%u", error));
    return;
  }
  SetStatusText(GetUiText(L"TEXT_DOWNLOAD_COMPLETED"));
  stage = StageLaunched;
  PostMessageW(Hwnd(), WM_CLOSE, 0, 0);
}

}  // namespace tw
