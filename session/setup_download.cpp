// The second stage of the session: reuse or download the setup file from the
// mirrors, then compare its CRC-32 with the server's value.
#include <windows.h>

#include <ctime>

#include "config/ui_text.h"
#include "diag/build_stamp.h"
#include "diag/debug_log.h"
#include "net/xhttp_multi.h"
#include "session/main_wnd.h"
#include "session/setup_file_name.h"
#include "session/transfer_options.h"
#include "support/crc32.h"
#include "support/file_helpers.h"
#include "support/format_text.h"
#include "support/unique_handle.h"

namespace tw {

namespace {

constexpr uint32_t kCrcSkipsComparison = 0xFFFFFFFF;

// Low 32 bits of the file's size, or -1 when it cannot be opened.
int32_t GetSetupFileSize(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return -1;
  return static_cast<int32_t>(GetFileSize(file.Get(), nullptr));
}

}  // namespace

void CMainWnd::StartSetupDownload() {
  setupFileName = SanitizeSetupFileName(setupFileName);
  setupFilePath = GetTempFolder() + setupFileName;

  if (FileExists(setupFilePath)) {
    uint32_t crc = 0;
    if (GetFileCrc32(setupFilePath.c_str(), &crc) && crc != 0 && crc == setupCrc) {
      LaunchSetup();  // an earlier run left the right file
      return;
    }
    DeleteFileW(setupFilePath.c_str());
    Sleep(100);
    if (FileExists(setupFilePath)) {
      // Still there (held open by another process): download under a new name.
      const uint32_t now = static_cast<uint32_t>(_time64(nullptr));
      setupFilePath = GetTempFolder() + FormatText(L"TARNWICK-SETUP-%08x-%08x.EXE", setupCrc, now);
    }
  }

  const XHttpOptions options = MakeSessionTransferOptions(Hwnd());
  XHttpMultiRequest request;
  for (int slot = 0; slot < 5; ++slot) request.urls[slot] = setupUrls[slot];
  request.filePath = setupFilePath;
  request.targetWindow = Hwnd();
  request.sleepInterval = sleepInterval;
  request.agent = FormatText(L"%s(%s)", GetUserAgent().c_str(), L"XHttpMulti");

  SendDebugLog(L"ONLINE-SETUP, StartSetupDownload() - %s, %s, %s, %s, %s", setupUrls[0].c_str(),
               setupUrls[1].c_str(), setupUrls[2].c_str(), setupUrls[3].c_str(), setupUrls[4].c_str());

  if (!XHttpMulti_GetAsync(request, &options, multiResult)) {
    const DWORD lastError = GetLastError();
    stage = StageIdle;
    ShowFailure(GetUiText(L"TEXT_DOWNLOAD_FAILED"),
                FormatText(L"err - StartSetupDownload()/XHttpMulti_GetAsync failed, GetLastError()=%u, filePathName=%s",
                           lastError, setupFilePath.c_str()));
    return;
  }
  stage = StageSetupDownload;
  ShowPercent(0);
}

void CMainWnd::OnSetupDownloadComplete(int result) {
  const std::wstring failedText = GetUiText(L"TEXT_DOWNLOAD_FAILED");
  if (result == 0) {
    ShowFailure(FormatText(L"%s (%d-%u)", failedText.c_str(), multiResult->httperr, multiResult->syserr),
                FormatText(L"err at setupfile file download(3), chonsenURL:%s, id:%d, errLine:%d, httperr:%d, syserr:%u",
                           multiResult->chosenUrl.c_str(), multiResult->chosenIndex, multiResult->errLine,
                           multiResult->httperr, multiResult->syserr));
    stage = StageIdle;
    return;
  }

  uint32_t crc = 0;
  if (!GetFileCrc32(setupFilePath.c_str(), &crc)) {
    SendDebugLog(L"updater - CRC 체크 실패");
    ShowFailure(failedText + L"(GetCRC)", L"err - cannot get the setup file crc");
    stage = StageFailed;
    return;
  }
  if (setupCrc == kCrcSkipsComparison || setupCrc == crc) {
    LaunchSetup();
    return;
  }
  SendDebugLog(L"updater - CRC가 다르다..");
  // The file stays on disk; the next run deletes it before downloading again.
  ShowFailure(failedText + L"(DiffCRC)",
              FormatText(L"err - diff crc of the setup file - crc_svr:0x%x, crc_local:0x%x, size_local:%d ",
                         setupCrc, crc, GetSetupFileSize(setupFilePath)));
  stage = StageFailed;
}

}  // namespace tw
