// File helpers of the session: existence (with the long-path retry), the
// temporary folder and unique file-name tokens.
#pragma once

#include <string>

namespace tw {

// True when the path names an existing file that is not a directory, and also
// for errors other than the not-found codes 2, 3, 53 and 123 (access denied,
// sharing violation...). A path of 260 or more characters that fails with
// ERROR_PATH_NOT_FOUND is tried again with the "\\?\" prefix.
bool FileExists(const std::wstring& path);

// The temporary folder as GetTempPathW reports it (normally ending with a
// backslash); empty when the call fails or the path needs more than 260
// characters.
std::wstring GetTempFolder();

// "%d%d" of the current time in seconds (low 32 bits, signed) and the next
// rand() value: the time's digits directly followed by the random number's.
std::wstring MakeUniqueToken();

}  // namespace tw
