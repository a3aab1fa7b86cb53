// The process entry: harden, prepare, run the window, tidy up.
#include <windows.h>

#include "app/app_main.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  tw::HardenProcess();
  if (!tw::AppInit()) return 0;
  const int exitCode = tw::AppRun();
  tw::AppTerm();
  return exitCode;
}
