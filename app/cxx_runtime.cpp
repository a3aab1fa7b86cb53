// The C++ run-time pieces that the program's code reaches, replaced by small
// definitions so that the static C++ run-time's exception machinery (throw,
// unwinder, terminate handler and its demangler) stays out of the program.
// Linked into the program only: the test programs keep the ordinary run-time.
//
// The program's code never catches anything. Where the library would throw
// (an allocation that fails, a string longer than max_size()) or would call
// std::terminate (a pure virtual call), the run ends here as a failed one:
// the local log's line and the report ("err - out of memory, size:N"), then
// exit code 1 at once, with no unwinding and no handlers. Deployment tools
// know the exit codes 0 and 1 only.
#include <windows.h>

#include <bits/functexcept.h>
#include <cstdlib>
#include <new>

#include "diag/error_report.h"
#include "diag/setup_log.h"
#include "support/format_text.h"

namespace {

constexpr UINT kFailedRunExitCode = 1;
// Set aside at start and given back before the last words, so that a failed
// allocation still leaves room for them: heap for the texts, and address
// space for the report's threads, whose stacks are reserved there.
constexpr size_t kReserveHeapBytes = 256 * 1024;
constexpr SIZE_T kReserveAddressBytes = 8 * 1024 * 1024;
void* g_reserveHeap = std::malloc(kReserveHeapBytes);
void* g_reserveAddresses = VirtualAlloc(nullptr, kReserveAddressBytes, MEM_RESERVE, PAGE_NOACCESS);
// ms that a second failing thread waits for the first to end the process
// (the report alone may take 10 s), before it ends it itself.
constexpr DWORD kLastWordsMs = 30000;
// The id of the thread that says the last words; 0 (no thread has it) until then.
volatile LONG g_endingThread = 0;

// what: a short English text; size: the allocation's bytes, 0 for none.
[[noreturn]] void EndProcessNow(const char* what, std::size_t size) {
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  const LONG ending = InterlockedCompareExchange(&g_endingThread, self, 0);
  if (ending == 0) {
    std::free(g_reserveHeap);
    VirtualFree(g_reserveAddresses, 0, MEM_RELEASE);
    const unsigned long long bytes = size;
    tw::ReportSetupFailure(size != 0 ? tw::FormatText(L"err - %hs, size:%I64u", what, bytes)
                                     : tw::FormatText(L"err - %hs", what));
    tw::AppendSetupLog(tw::FormatText(L"exit code %u", kFailedRunExitCode));
  } else if (ending != self) {
    Sleep(kLastWordsMs);  // another thread says them and ends the process
  }
  // A failure during the last words themselves (ending == self) ends at once.
  TerminateProcess(GetCurrentProcess(), kFailedRunExitCode);
  // TerminateProcess on the own process does not return; should it ever,
  // an illegal instruction still ends the process.
  __builtin_trap();
}

void* AllocateOrEnd(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) EndProcessNow("out of memory", size);
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrEnd(size); }
void* operator new[](std::size_t size) { return AllocateOrEnd(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

extern "C" void __cxa_pure_virtual() { EndProcessNow("pure virtual call", 0); }

// What the standard library's inline code calls where it would throw.
namespace std {
void __throw_bad_exception() { EndProcessNow("runtime failure", 0); }
void __throw_bad_alloc() { EndProcessNow("out of memory", 0); }
void __throw_bad_array_new_length() { EndProcessNow("runtime failure", 0); }
void __throw_bad_cast() { EndProcessNow("runtime failure", 0); }
void __throw_bad_typeid() { EndProcessNow("runtime failure", 0); }
void __throw_logic_error(const char*) { EndProcessNow("runtime failure", 0); }
void __throw_domain_error(const char*) { EndProcessNow("runtime failure", 0); }
void __throw_invalid_argument(const char*) { EndProcessNow("runtime failure", 0); }
void __throw_length_error(const char*) { EndProcessNow("runtime failure", 0); }
void __throw_out_of_range(const char*) { EndProcessNow("runtime failure", 0); }
void __throw_out_of_range_fmt(const char*, ...) { EndProcessNow("runtime failure", 0); }
void __throw_runtime_error(const char*) { EndProcessNow("runtime failure", 0); }
void __throw_range_error(const char*) { EndProcessNow("runtime failure", 0); }
void __throw_overflow_error(const char*) { EndProcessNow("runtime failure", 0); }
void __throw_underflow_error(const char*) { EndProcessNow("runtime failure", 0); }
void __throw_bad_function_call() { EndProcessNow("runtime failure", 0); }
}  // namespace std
