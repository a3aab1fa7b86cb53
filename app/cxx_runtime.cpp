// The C++ run-time pieces that the program's code reaches, replaced by small
// definitions so that the static C++ run-time's exception machinery (throw,
// unwinder, terminate handler and its demangler) stays out of the program.
// Linked into the program only: the test programs keep the ordinary run-time.
//
// The program's code never catches anything. Where the library would throw
// (an allocation that fails, a string longer than max_size()) or would call
// std::terminate (a pure virtual call), the process ends here at once with
// kFatalRuntimeExitCode: no message box, no handlers, no unwinding.
#include <windows.h>

#include <bits/functexcept.h>
#include <cstdlib>
#include <new>

namespace {

// abort()'s exit code, which the run-time's terminate path ends with as well.
constexpr UINT kFatalRuntimeExitCode = 3;

[[noreturn]] void EndProcessNow() {
  TerminateProcess(GetCurrentProcess(), kFatalRuntimeExitCode);
  // TerminateProcess on the own process does not return; should it ever,
  // an illegal instruction still ends the process.
  __builtin_trap();
}

void* AllocateOrEnd(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) EndProcessNow();
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

extern "C" void __cxa_pure_virtual() { EndProcessNow(); }

// What the standard library's inline code calls where it would throw.
namespace std {
void __throw_bad_exception() { EndProcessNow(); }
void __throw_bad_alloc() { EndProcessNow(); }
void __throw_bad_array_new_length() { EndProcessNow(); }
void __throw_bad_cast() { EndProcessNow(); }
void __throw_bad_typeid() { EndProcessNow(); }
void __throw_logic_error(const char*) { EndProcessNow(); }
void __throw_domain_error(const char*) { EndProcessNow(); }
void __throw_invalid_argument(const char*) { EndProcessNow(); }
void __throw_length_error(const char*) { EndProcessNow(); }
void __throw_out_of_range(const char*) { EndProcessNow(); }
void __throw_out_of_range_fmt(const char*, ...) { EndProcessNow(); }
void __throw_runtime_error(const char*) { EndProcessNow(); }
void __throw_range_error(const char*) { EndProcessNow(); }
void __throw_overflow_error(const char*) { EndProcessNow(); }
void __throw_underflow_error(const char*) { EndProcessNow(); }
void __throw_bad_function_call() { EndProcessNow(); }
}  // namespace std
