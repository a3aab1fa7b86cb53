// The program's only top-level window and the owner of the setup session:
// version check, setup download, CRC and signature check, launch, and the one
// failure display. Everything runs on the user-interface thread; transfers
// reach the window only through the posted transfer messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "config/version_info.h"
#include "net/xhttp.h"
#include "net/xhttp_multi.h"
#include "support/private_folder.h"
#include "support/unique_handle.h"
#include "ui/dib_buffer.h"
#include "ui/hyperlink_static.h"
#include "ui/window_base.h"

namespace tw {

enum SessionStage : int32_t {
  StageIdle = 0,           // no transfer of interest
  StageVersionCheck = 1,   // the version-info transfer runs
  StageSetupDownload = 2,  // the setup-file transfer runs
  StageLaunched = 3,       // the setup program has been started
  StageFailed = 4,         // a completed transfer's file was unusable
};

// Timer ids.
enum MainWndTimer : UINT_PTR {
  TimerShowWindow = 1,   // 300 ms after creation: show, topmost
  TimerCloseSilent = 2,  // 10 ms after a failure in silent mode: WM_CLOSE
  TimerNotTopmost = 3,   // 300 ms after showing: back to the normal z-order
};

class CMainWnd : public CWindowImpl {
 public:
  // The session's files go to `folder`, which the caller owns and keeps until
  // the window is gone; without one the version check fails at once.
  explicit CMainWnd(const PrivateFolder& folder);
  ~CMainWnd() override;

  // Creates the hidden window and starts the session. False when the window
  // cannot be created.
  bool CreateAndStart();

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            LRESULT& result, DWORD mapId) override;

  void OnTimer(UINT_PTR id);
  void SetStatusText(const std::wstring& text);
  void ShowPercent(int percent);
  void ShowFailure(const std::wstring& text, const std::wstring& log);

  // Version check (both stages' error handlers live here too).
  void StartCheckVersion();
  void OnXHttpErr(int code);
  void OnXHttpErrSys(DWORD code);
  void OnXHttpComplete(int result);
  // Setup download and CRC check.
  void StartSetupDownload();
  // Signature check and launch of the setup file that `pinned` holds open
  // without write or delete sharing; it stays open until the start returned.
  void LaunchSetup(UniqueFile pinned);

 private:
  void OnVersionCheckComplete(int result);
  void OnSetupDownloadComplete(int result);
  // Whether the setup file (held open as `file`) has the server's SHA-256:
  // true when none was offered; *localText gets the file's digest.
  bool MatchesServerSha256(HANDLE file, std::wstring* localText) const;
  void OnSize();
  LRESULT OnPaint();

  // The session's state.
  const PrivateFolder& privateFolder;  // borrowed
  int32_t totalBytes = -1;        // announced setup size; -1 until known
  std::wstring versionFilePath;
  // What the version check received, shared with its worker thread, which
  // writes it until COMPLETE; parsed instead of the file.
  RefPtr<XHttpBody> versionBody;
  std::wstring statusText;
  int32_t stage = StageIdle;
  UniqueFont statusFont;          // created at construction; null: the DC's default font
  int32_t lastPercent = -1;
  std::wstring setupUrls[5];
  uint32_t sleepInterval = 0;     // ms
  uint32_t setupCrc = 0;
  Crc32Rule setupCrcRule = Crc32Compare;  // what the CRC32 text asks for
  std::wstring setupSha256Text;   // the download section's SHA256; empty: none offered
  std::wstring setupFileName;
  std::wstring setupFilePath;
  XHyperLinkStatic homepageLink;
  DibBuffer backBuffer;
  // The download's outcome, shared with its controller thread, which writes
  // it until COMPLETE and may outlive this window.
  RefPtr<XHttpMultiResult> multiResult = XHttpMultiResult::Create();
};

// The version-info URL on the version server.
std::wstring VersionInfoUrl();

}  // namespace tw
