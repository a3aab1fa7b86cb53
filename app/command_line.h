// Start-up: the UI language and the command-line switches into AppState.
#pragma once

#include <windows.h>

#include "app/app_state.h"

namespace tw {

// languageName from the table row of the given LANGID (empty when none);
// isKorean for 0x0412.
void PickUiLanguageFor(LANGID language, AppState& state);
// The same for the user's default UI language.
void PickUiLanguage(AppState& state);

// argv[0] is the program path. Takes the next three arguments (missing ones
// empty) and compares only the first, case-sensitively, against "/en",
// "/jp", "/S" and "/auto" in that order; the first match applies.
void ApplyArguments(int argc, const wchar_t* const* argv, AppState& state);

}  // namespace tw
