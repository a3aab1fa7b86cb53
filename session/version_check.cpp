// The first stage of the session: fetch the version-info file, accept or
// refuse it, take the download description and hand over to the download.
// Also the two error-message handlers, which serve both transfers.
#include <windows.h>

#include "config/ini_document.h"
#include "config/ui_text.h"
#include "config/version_info.h"
#include "diag/build_stamp.h"
#include "diag/os_info.h"
#include "diag/setup_log.h"
#include "net/xhttp.h"
#include "session/main_wnd.h"
#include "session/transfer_options.h"
#include "support/file_helpers.h"
#include "support/format_text.h"

namespace tw {

namespace {

constexpr wchar_t kVersionFileName[] = L"tarnwick.versioninfo.ini";
constexpr wchar_t kEdition[] = L"PRO";

// Whether `text` starts with the lower-case ASCII `prefix`, in either case.
bool StartsWithAsciiNoCase(const std::wstring& text, const wchar_t* prefix) {
  for (size_t i = 0; prefix[i] != L'\0'; ++i) {
    if (i >= text.size()) return false;
    const wchar_t c = text[i] >= L'A' && text[i] <= L'Z' ? text[i] + (L'a' - L'A') : text[i];
    if (c != prefix[i]) return false;
  }
  return true;
}

// Mirrors are fetched over HTTP or HTTPS only; WinINet would take another
// scheme's host and port and speak HTTP to them all the same.
bool IsWebUrl(const std::wstring& url) {
  return StartsWithAsciiNoCase(url, L"http://") || StartsWithAsciiNoCase(url, L"https://");
}

}  // namespace

std::wstring VersionInfoUrl() {
  return L"https://" TARNWICK_VERSION_HOST L"/tarnwick.std/versioninfo.ini";
}

void CMainWnd::StartCheckVersion() {
  const std::wstring url = VersionInfoUrl();
  const std::wstring agent = GetUserAgent();
  const XHttpOptions options = MakeVersionCheckOptions(Hwnd());
  AppendSetupLog(L"version check " + url);

  // Without the private folder the files would land where others may write.
  const std::wstring& folder = privateFolder.path();
  if (!privateFolder.IsValid()) {
    stage = StageIdle;
    ShowFailure(GetUiText(L"TEXT_VERSION_CHECK_FAILED"), privateFolder.FailureLog(L"StartCheckVersion"));
    ShowWindow(homepageLink.Hwnd(), SW_SHOW);
    return;
  }
  versionFilePath = folder + kVersionFileName;
  versionBody = XHttpBody::Create();
  bool started = XHttp_GetAsync(url, versionFilePath, Hwnd(), agent.c_str(), &options, nullptr, versionBody);
  DWORD lastError = started ? ERROR_SUCCESS : GetLastError();
  if (!started && lastError == ERROR_SHARING_VIOLATION) {
    // Another instance holds the usual file open: use a name of our own.
    versionFilePath = folder + L"tarnwick.versioninfo." + MakeUniqueToken() + L".ini";
    started = XHttp_GetAsync(url, versionFilePath, Hwnd(), agent.c_str(), &options, nullptr, versionBody);
    if (!started) lastError = GetLastError();
  }

  if (started) {
    stage = StageVersionCheck;
    SetStatusText(GetUiText(L"TEXT_VERSION_CHECKING"));
    return;
  }
  stage = StageIdle;
  ShowFailure(GetUiText(L"TEXT_VERSION_CHECK_FAILED"),
              FormatText(L"err - StartCheckVersion()/XHttp_GetAsync failed, GetLastError()=%u, filePathName=%s",
                         lastError, versionFilePath.c_str()));
  ShowWindow(homepageLink.Hwnd(), SW_SHOW);
}

void CMainWnd::OnXHttpErr(int code) {
  const std::wstring codeText = FormatText(L"XHTTPERR:%d", code);
  if (stage == StageVersionCheck) {
    ShowFailure(GetUiText(L"TEXT_VERSION_CHECK_FAILED"),
                L"OnXHttpErr() - cannot download version file " + codeText);
    return;
  }
  ShowFailure(FormatText(L"%s (Err:%d)", GetUiText(L"TEXT_DOWNLOAD_FAILED").c_str(), code),
              L"OnXHttpErr() at setupfile file download " + codeText);
}

void CMainWnd::OnXHttpErrSys(DWORD code) {
  const std::wstring sysText = FormatText(L"SYSERR:%d, ver_url:%s, os:%s", code, VersionInfoUrl().c_str(),
                                          GetOsName(GetOsId()));
  ShowFailure(GetUiText(L"TEXT_VERSION_CHECK_FAILED"),
              L"OnXHttpErr() - cannot download version file " + sysText);
}

void CMainWnd::OnXHttpComplete(int result) {
  switch (stage) {
    case StageVersionCheck:
      OnVersionCheckComplete(result);
      break;
    case StageSetupDownload:
      OnSetupDownloadComplete(result);
      break;
    default:
      break;  // no transfer of interest runs in the other stages
  }
}

void CMainWnd::OnVersionCheckComplete(int result) {
  if (result == 0) {
    ShowFailure(GetUiText(L"TEXT_VERSION_CHECK_FAILED"), L"err - cannot download version file(2)");
    ShowWindow(homepageLink.Hwnd(), SW_SHOW);
    stage = StageIdle;
    return;
  }

  // What was received, not the file, which others may have replaced since.
  IniDocument document;
  if (!document.LoadBytes(versionBody->bytes.Data(), static_cast<uint64_t>(versionBody->bytes.GetSize()))) {
    ShowFailure(GetUiText(L"TEXT_VERSION_CHECK_FAILED"), L"err at open version file");
    ShowWindow(homepageLink.Hwnd(), SW_SHOW);
    stage = StageFailed;
    return;
  }

  // The server's protocol number must not be newer than ours; 0 means missing.
  const uint32_t version = document.GetInt(L"VERSION", L"ONLINE_SETUP_VERSION", 0);
  if (version == 0 || static_cast<int32_t>(version) > ProtocolNumber) {
    ShowFailure(GetUiText(L"TEXT_VERSION_CHECK_FAILED"), L"err at using old version");
    ShowWindow(homepageLink.Hwnd(), SW_SHOW);
    stage = StageFailed;
    return;
  }

  AppendSetupLog(FormatText(L"version check ok, ONLINE_SETUP_VERSION %u", version));
  DownloadInfo info;
  info.sleepInterval = sleepInterval;
  info.fileName = setupFileName;
  ReadDownloadInfo(document, kEdition, &info);
  for (int slot = 0; slot < 5; ++slot) setupUrls[slot] = IsWebUrl(info.urls[slot]) ? info.urls[slot] : L"";
  sleepInterval = info.sleepInterval;
  setupFileName = info.fileName;
  setupCrcRule = Crc32FromText(info.crc32Text, &setupCrc);
  setupSha256Text = info.sha256Text;

  StartSetupDownload();
}

}  // namespace tw
