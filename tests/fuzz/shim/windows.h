// The few Windows types and functions that the parsers use (win_shim.cpp).
#pragma once

#include <cstdint>

#define WINAPI
#define CP_UTF8 65001u
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(-1))
#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 1u
#define OPEN_EXISTING 3u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_BEGIN 0u
typedef int BOOL;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint16_t USHORT, WORD;
typedef void *HANDLE, *HMODULE, *HACCEL, *HFONT, *HBITMAP, *HDC;
typedef void (*FARPROC)();
typedef union { struct { DWORD LowPart; LONG HighPart; }; long long QuadPart; } LARGE_INTEGER;
typedef struct { WORD wProcessorArchitecture; WORD wReserved; DWORD rest[9]; } SYSTEM_INFO, *LPSYSTEM_INFO;

// UTF-8 whatever the code page; a malformed sequence becomes U+FFFD as with
// flags 0. The units needed, or written, or 0 when out is too small.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* in, int inBytes, wchar_t* out, int outUnits);
// Case-insensitive for ASCII letters; enough for the device names compared.
int lstrcmpiW(const wchar_t* a, const wchar_t* b);
inline HANDLE CreateFileW(const wchar_t*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) { return INVALID_HANDLE_VALUE; }
inline HMODULE GetModuleHandleW(const wchar_t*) { return nullptr; }
inline DWORD GetLastError() { return 0; }
inline void SetLastError(DWORD) {}
// Never reached: nothing is opened and no module found.
inline BOOL GetFileSizeEx(HANDLE, LARGE_INTEGER*) { __builtin_trap(); }
inline BOOL ReadFile(HANDLE, void*, DWORD, DWORD*, void*) { __builtin_trap(); }
inline DWORD SetFilePointer(HANDLE, LONG, LONG*, DWORD) { __builtin_trap(); }
inline BOOL CloseHandle(HANDLE) { __builtin_trap(); }
inline HANDLE GetCurrentProcess() { __builtin_trap(); }
inline FARPROC GetProcAddress(HMODULE, const char*) { __builtin_trap(); }
BOOL DeleteObject(void*);
BOOL DeleteDC(HDC);
void* LocalFree(void*);
BOOL DestroyAcceleratorTable(HACCEL);
