// Localized UI texts: the embedded UiTextIni (UTF-8, 1647 bytes, sections
// English, Italian, Japanese, Korean) and the lookup with its fallbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/ini_document.h"

namespace tw {

extern const uint8_t kUiTextIni[];
extern const size_t kUiTextIniSize;  // 1647

// The process-wide document holding UiTextIni, parsed on the first call.
IniDocument& GetUiTextIni();

// "TITLE" gives one of the two window titles (by AppState::isKorean);
// any other key is looked up in the section AppState::languageName, then in
// "English", and finally yields the key itself. Never fails.
std::wstring GetUiText(const std::wstring& key);

}  // namespace tw
