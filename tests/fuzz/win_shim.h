// Forced first into every file of the native fuzz build. The parsers treat
// wchar_t as a UTF-16 unit, so the build uses 2-byte wchar_t (-fshort-wchar);
// the C library's wide functions assume 4 bytes, so the string templates are
// instantiated here (no extern templates) and reach the UTF-16 versions below.
#pragma once

#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

size_t ShimWcslen(const wchar_t* s);
int ShimWmemcmp(const wchar_t* a, const wchar_t* b, size_t n);
const wchar_t* ShimWmemchr(const wchar_t* s, wchar_t c, size_t n);
wchar_t* ShimWmemchr(wchar_t* s, wchar_t c, size_t n);
wchar_t* ShimWmemmove(wchar_t* to, const wchar_t* from, size_t n);
wchar_t* ShimWmemset(wchar_t* to, wchar_t c, size_t n);
unsigned long ShimWcstoul(const wchar_t* s, wchar_t** end, int base);
int ShimIswspace(wint_t c);
namespace std {
using ::ShimIswspace, ::ShimWcslen, ::ShimWcstoul, ::ShimWmemchr, ::ShimWmemcmp, ::ShimWmemmove, ::ShimWmemset;
}
#define wcslen ShimWcslen
#define wmemcmp ShimWmemcmp
#define wmemchr ShimWmemchr
#define wmemcpy ShimWmemmove
#define wmemmove ShimWmemmove
#define wmemset ShimWmemset
#define wcstoul ShimWcstoul
#define iswspace ShimIswspace

#include <string>
