// The process entry: harden, prepare, run the window, tidy up.
#include <windows.h>

#include "app/app_main.h"
#include "diag/setup_log.h"
#include "support/format_text.h"
#include "support/private_folder.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  tw::HardenProcess();
  if (!tw::AppInit()) return 0;
  // Held until the process ends; the log and the session work in it.
  const tw::PrivateFolder folder = tw::AcquirePrivateFolder();
  tw::LogRunStart(folder);
  const int exitCode = tw::AppRun(folder);
  tw::AppTerm();
  tw::AppendSetupLog(tw::FormatText(L"exit code %d", exitCode));
  return exitCode;
}
