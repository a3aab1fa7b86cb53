// The process entry: harden, prepare, run the window, tidy up.
#include <windows.h>

#include "app/app_main.h"
#include "diag/error_report.h"
#include "diag/setup_log.h"
#include "support/format_text.h"
#include "support/private_folder.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  tw::HardenProcess();
  HRESULT comResult = S_OK;
  const bool started = tw::AppInit(&comResult);
  // Held until the process ends; the log and the session work in it.
  const tw::PrivateFolder folder = tw::AcquirePrivateFolder();
  tw::LogRunStart(folder);
  int exitCode = 1;  // a run that cannot start failed: deployment tools know 0 and 1 only
  if (started) {
    exitCode = tw::AppRun(folder);
    tw::AppTerm();
  } else {
    tw::ReportSetupFailure(tw::FormatText(L"err - AppInit() failed, CoInitialize:0x%08x", comResult));
  }
  tw::AppendSetupLog(tw::FormatText(L"exit code %d", exitCode));
  return exitCode;
}
