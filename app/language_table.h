// Windows language identifiers -> the English language names that name the
// sections of the embedded UI texts.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace tw {

struct LanguageRow {
  uint32_t language;        // LANGID in a 32-bit slot
  const char* name;         // ASCII language name
  const char* subLanguage;  // ASCII; informative only
};

constexpr size_t kLanguageTableRows = 161;
extern const LanguageRow LanguageTable[kLanguageTableRows];

// The name of the first row with that identifier; null when there is none.
const char* FindLanguageName(LANGID language);

}  // namespace tw
