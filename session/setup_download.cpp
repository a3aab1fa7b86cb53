// The second stage of the session: reuse or download the setup file from the
// mirrors, then compare its CRC-32 (and SHA-256 when the server offers one)
// with the server's values.
#include <windows.h>

#include <ctime>
#include <utility>

#include "config/ui_text.h"
#include "config/version_info.h"
#include "diag/build_stamp.h"
#include "diag/debug_log.h"
#include "diag/setup_log.h"
#include "net/xhttp_multi.h"
#include "session/main_wnd.h"
#include "session/setup_file_name.h"
#include "session/transfer_options.h"
#include "support/crc32.h"
#include "support/file_helpers.h"
#include "support/format_text.h"
#include "support/sha256.h"
#include "support/unique_handle.h"

namespace tw {

namespace {

// The setup file, held open for reading without write or delete sharing from
// its checks until its start: what was checked is what runs. Opened as
// GetFileCrc32 opens a file.
UniqueFile PinSetupFile(const std::wstring& path) {
  return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// A name of this run's own, for when the usual one is held by another process.
std::wstring ReplacementSetupPath(const std::wstring& folder, uint32_t setupCrc) {
  const uint32_t now = static_cast<uint32_t>(_time64(nullptr));
  return folder + FormatText(L"TARNWICK-SETUP-%08x-%08x.EXE", setupCrc, now);
}

}  // namespace

bool CMainWnd::MatchesServerSha256(HANDLE file, std::wstring* localText) const {
  localText->clear();
  if (setupSha256Text.empty()) return true;
  Sha256Digest local;
  if (!GetOpenFileSha256(file, &local)) return false;
  *localText = FormatSha256(local);
  AppendSetupLog(L"SHA-256 server " + setupSha256Text + L", local " + *localText);
  // A value that is not 64 hexadecimal digits matches nothing: the server
  // asked for a check that cannot be made.
  Sha256Digest server;
  return ParseSha256(setupSha256Text, &server) && server == local;
}

void CMainWnd::StartSetupDownload() {
  setupFileName = SanitizeSetupFileName(setupFileName);
  // Only the private folder: a file that others could have put or changed is
  // never reused, and nothing is downloaded where others may write.
  const std::wstring& folder = privateFolder.path();
  if (!privateFolder.IsValid()) {
    stage = StageIdle;
    ShowFailure(GetUiText(L"TEXT_DOWNLOAD_FAILED"), privateFolder.FailureLog(L"StartSetupDownload"));
    return;
  }
  setupFilePath = folder + setupFileName;

  if (FileExists(setupFilePath)) {
    UniqueFile pinned = PinSetupFile(setupFilePath);
    std::wstring localSha256;
    if (pinned) {
      const uint32_t crc = GetOpenFileCrc32(pinned.Get());
      if (setupCrcRule != Crc32MatchesNone && crc != 0 && crc == setupCrc &&
          MatchesServerSha256(pinned.Get(), &localSha256)) {
        AppendSetupLog(FormatText(L"reusing %s, CRC-32 0x%08x", setupFilePath.c_str(), crc));
        LaunchSetup(std::move(pinned));  // an earlier run left the right file
        return;
      }
    }
    pinned.Reset();
    // Only a plain file goes: a link placed there stays, and so does its target.
    DeleteFileNoFollow(setupFilePath, false);
    Sleep(100);
    if (FileExists(setupFilePath)) {
      // Still there (held open by another process, or a link): download under a new name.
      setupFilePath = ReplacementSetupPath(folder, setupCrc);
    }
  }

  const XHttpOptions options = MakeSessionTransferOptions(Hwnd());
  XHttpMultiRequest request;
  for (int slot = 0; slot < 5; ++slot) request.urls[slot] = setupUrls[slot];
  request.filePath = setupFilePath;
  request.targetWindow = Hwnd();
  request.sleepInterval = sleepInterval;
  request.agent = FormatText(L"%s(%s)", GetUserAgent().c_str(), L"XHttpMulti");

  // Mirror URLs leave the process masked: any window may call itself the
  // debug receiver, and the log is read by others.
  std::wstring masked[5];
  std::wstring mirrors;
  for (int slot = 0; slot < 5; ++slot) {
    masked[slot] = MaskUrlCredentials(setupUrls[slot]);
    if (!setupUrls[slot].empty()) mirrors += FormatText(L", %d=%s", slot + 1, masked[slot].c_str());
  }
  SendDebugLog(L"ONLINE-SETUP, StartSetupDownload() - %s, %s, %s, %s, %s", masked[0].c_str(), masked[1].c_str(),
               masked[2].c_str(), masked[3].c_str(), masked[4].c_str());

  bool started = XHttpMulti_GetAsync(request, &options, multiResult);
  DWORD lastError = started ? ERROR_SUCCESS : GetLastError();
  if (!started && lastError == ERROR_SHARING_VIOLATION && setupFilePath == folder + setupFileName) {
    // Another instance began writing the usual name after the check above.
    setupFilePath = ReplacementSetupPath(folder, setupCrc);
    request.filePath = setupFilePath;
    started = XHttpMulti_GetAsync(request, &options, multiResult);
    if (!started) lastError = GetLastError();
  }
  AppendSetupLog(L"setup download to " + setupFilePath + L" from mirrors" + mirrors);
  if (!started) {
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
                           MaskUrlCredentials(multiResult->chosenUrl).c_str(), multiResult->chosenIndex, multiResult->errLine,
                           multiResult->httperr, multiResult->syserr));
    stage = StageIdle;
    return;
  }

  UniqueFile pinned = PinSetupFile(setupFilePath);
  if (!pinned) {
    SendDebugLog(L"updater - CRC 체크 실패");
    ShowFailure(failedText + L"(GetCRC)", L"err - cannot get the setup file crc");
    stage = StageFailed;
    return;
  }
  // Low 32 bits of the size, for the logs.
  const int32_t size = static_cast<int32_t>(GetFileSize(pinned.Get(), nullptr));
  const uint32_t crc = GetOpenFileCrc32(pinned.Get());
  AppendSetupLog(FormatText(L"downloaded %d bytes, CRC-32 server 0x%08x, local 0x%08x", size, setupCrc, crc));
  if (setupCrcRule == Crc32MatchesNone || (setupCrcRule == Crc32Compare && setupCrc != crc)) {
    SendDebugLog(L"updater - CRC가 다르다..");
    // The file stays on disk; the next run deletes it before downloading again.
    ShowFailure(failedText + L"(DiffCRC)",
                FormatText(L"err - diff crc of the setup file - crc_svr:0x%x, crc_local:0x%x, size_local:%d ",
                           setupCrc, crc, size));
    stage = StageFailed;
    return;
  }
  std::wstring localSha256;
  if (!MatchesServerSha256(pinned.Get(), &localSha256)) {
    ShowFailure(failedText + L"(DiffSHA)",
                FormatText(L"err - diff sha256 of the setup file - sha_svr:%s, sha_local:%s, size_local:%d ",
                           setupSha256Text.c_str(), localSha256.c_str(), size));
    stage = StageFailed;
    return;
  }
  LaunchSetup(std::move(pinned));
}

}  // namespace tw
