// The process entry: harden, prepare, run the window, tidy up.
#include <windows.h>

#include "app/app_main.h"
#include "diag/setup_log.h"
#include "support/format_text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  tw::HardenProcess();
  if (!tw::AppInit()) return 0;
  tw::LogRunStart();
  const int exitCode = tw::AppRun();
  tw::AppTerm();
  tw::AppendSetupLog(tw::FormatText(L"exit code %d", exitCode));
  return exitCode;
}
