// printf-style formatting into a new wide string, without a length limit.
// %s takes a wide string (msvcrt's wide conventions); %d, %u, %x, %08x as usual.
#pragma once

#include <cstdarg>
#include <string>

namespace tw {

std::wstring FormatText(const wchar_t* format, ...);
std::wstring FormatTextV(const wchar_t* format, va_list args);

}  // namespace tw
