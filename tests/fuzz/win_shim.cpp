// The functions of win_shim.h and shim/windows.h.
#include <windows.h>

size_t ShimWcslen(const wchar_t* s) { return static_cast<size_t>(ShimWmemchr(s, 0, SIZE_MAX) - s); }
const wchar_t* ShimWmemchr(const wchar_t* s, wchar_t c, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (s[i] == c) return s + i;
  }
  return nullptr;
}
wchar_t* ShimWmemchr(wchar_t* s, wchar_t c, size_t n) { return const_cast<wchar_t*>(ShimWmemchr(s + 0, c, n)); }
int ShimWmemcmp(const wchar_t* a, const wchar_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}
wchar_t* ShimWmemmove(wchar_t* to, const wchar_t* from, size_t n) {
  return static_cast<wchar_t*>(std::memmove(to, from, n * sizeof(wchar_t)));
}
wchar_t* ShimWmemset(wchar_t* to, wchar_t c, size_t n) {
  for (size_t i = 0; i < n; ++i) to[i] = c;
  return to;
}
int ShimIswspace(wint_t c) {
  return (c >= 9 && c <= 13) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
// As the C run-time's with a 32-bit unsigned long: white space, a sign, 0x in
// base 16, digits; a minus negates, an overflow gives 0xFFFFFFFF.
unsigned long ShimWcstoul(const wchar_t* s, wchar_t** end, int base) {
  const wchar_t* p = s;
  while (ShimIswspace(*p)) ++p;
  const bool minus = *p == L'-';
  if (*p == L'-' || *p == L'+') ++p;
  if (base == 16 && p[0] == L'0' && (p[1] | 0x20) == L'x') p += 2;
  const wchar_t* const digits = p;
  uint64_t value = 0;
  for (int d; (d = *p >= L'0' && *p <= L'9' ? *p - L'0' : (*p | 0x20) >= L'a' && (*p | 0x20) <= L'z' ? (*p | 0x20) - L'a' + 10 : 99) < base; ++p) {
    value = value * base + d > 0xFFFFFFFFu ? 0x100000000u : value * base + d;
  }
  if (end != nullptr) *end = const_cast<wchar_t*>(p == digits ? s : p);
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : minus ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
}

int lstrcmpiW(const wchar_t* a, const wchar_t* b) {
  const auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c | 0x20) : c; };
  for (;; ++a, ++b) {
    if (fold(*a) != fold(*b)) return fold(*a) < fold(*b) ? -1 : 1;
    if (*a == 0) return 0;
  }
}

int MultiByteToWideChar(UINT, DWORD, const char* in, int inBytes, wchar_t* out, int outUnits) {
  const auto* b = reinterpret_cast<const unsigned char*>(in);
  int units = 0;
  const auto put = [&](uint32_t unit) {
    if (out != nullptr && units < outUnits) out[units] = static_cast<wchar_t>(unit);
    ++units;
  };
  for (int i = 0; i < inBytes;) {
    const int extra = b[i] < 0x80 ? 0 : b[i] >> 5 == 6 ? 1 : b[i] >> 4 == 14 ? 2 : b[i] >> 3 == 30 ? 3 : -1;
    uint32_t cp = b[i] & (0x7F >> (extra < 0 ? 0 : extra + (extra > 0)));
    int taken = 1;
    while (extra > 0 && taken <= extra && i + taken < inBytes && (b[i + taken] & 0xC0) == 0x80) cp = cp << 6 | (b[i + taken++] & 0x3F);
    static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (extra < 0 || taken != extra + 1 || cp < kLeast[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      put(0xFFFD);
    } else if (cp > 0xFFFF) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
    i += taken;
  }
  return out != nullptr && units > outUnits ? 0 : units;
}
