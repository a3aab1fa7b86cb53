// The process-wide record of start-up results. Created on first access and
// kept until process exit; written during start-up and by the failure display
// (exitCode), read everywhere else. User-interface thread only.
#pragma once

#include <string>

namespace tw {

struct AppState {
  bool silentMode = false;        // "/S"
  bool autoMode = false;          // "/auto"
  int exitCode = 0;               // 1 after any failure display
  std::wstring firstArgument;     // first command-line argument after the program path
  std::wstring secondArgument;    // passed on to the setup program in silent and auto mode
  std::wstring thirdArgument;     // likewise
  std::wstring languageName;      // UiTextIni section name, or another language's name, or empty
  bool isKorean = false;          // chooses the Korean window title
  // The window station is not interactive (ui/window_station.h): no proxy
  // dialog, and a failed run closes itself as a silent one does.
  bool hiddenStation = false;
};

AppState& GetAppState();

}  // namespace tw
