#include "support/format_text.h"

#include <cstdio>

namespace tw {

std::wstring FormatTextV(const wchar_t* format, va_list args) {
  if (format == nullptr) return std::wstring();
  va_list measureArgs;
  va_copy(measureArgs, args);
  const int length = _vscwprintf(format, measureArgs);
  va_end(measureArgs);
  if (length <= 0) return std::wstring();
  // Room for the terminator that _vsnwprintf writes when it fits.
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  va_list writeArgs;
  va_copy(writeArgs, args);
  const int written = _vsnwprintf(&text[0], text.size(), format, writeArgs);
  va_end(writeArgs);
  text.resize(written < 0 ? 0 : static_cast<size_t>(written));
  return text;
}

std::wstring FormatText(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = FormatTextV(format, args);
  va_end(args);
  return text;
}

}  // namespace tw
