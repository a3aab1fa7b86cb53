// Runs out of memory on four threads at once with the program's own run-time
// (app/cxx_runtime.cpp), as any run of the program that runs out of memory.
#include <windows.h>

#include "diag/setup_log.h"
#include "support/private_folder.h"

volatile size_t g_size = ~size_t{0} / 2;  // more than any address space holds
void* volatile g_block = nullptr;

DWORD WINAPI AllocateTooMuch(void*) { return (g_block = new char[g_size]) != nullptr; }

int wmain() {
  const tw::PrivateFolder folder = tw::AcquirePrivateFolder();  // the log is where the program keeps it
  tw::BeginSetupLog(folder.path(), L"fatal probe");
  for (int i = 0; i < 4; ++i) CreateThread(nullptr, 0, AllocateTooMuch, nullptr, 0, nullptr);
  Sleep(INFINITE);
  return 0;  // not reached: the first failure ends the process
}
