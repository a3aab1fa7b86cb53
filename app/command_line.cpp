#include "app/command_line.h"

#include <string>

#include "app/language_table.h"

namespace tw {

void PickUiLanguageFor(LANGID language, AppState& state) {
  const char* name = FindLanguageName(language);
  std::wstring wide;
  // The table's names are plain ASCII: widen byte by byte.
  for (const char* c = name; c != nullptr && *c != '\0'; ++c) {
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
  }
  state.languageName = wide;
  if (language == 0x0412) state.isKorean = true;
}

void PickUiLanguage(AppState& state) { PickUiLanguageFor(GetUserDefaultUILanguage(), state); }

void ApplyArguments(int argc, const wchar_t* const* argv, AppState& state) {
  std::wstring arguments[3];
  for (int i = 0; i < 3; ++i) {
    if (argv != nullptr && i + 1 < argc && argv[i + 1] != nullptr) arguments[i] = argv[i + 1];
  }
  const std::wstring& first = arguments[0];
  if (first == L"/en") {
    state.languageName = L"English";
    state.isKorean = false;
  } else if (first == L"/jp") {
    state.languageName = L"Japanese";
    state.isKorean = false;
  } else if (first == L"/S") {
    state.silentMode = true;
  } else if (first == L"/auto") {
    state.autoMode = true;
  }
  state.firstArgument = arguments[0];
  state.secondArgument = arguments[1];
  state.thirdArgument = arguments[2];
}

}  // namespace tw
