// net_bench: throughput and cost of the transfers against the local test
// server (TW_HTTP_PORT), each compared with a bare WinINet loop.
//   net_bench [singleBytes raceBytes [outputFile [pickBytes]]]
// Prints one "key value" line per figure; scripts/bench-net.sh adds curl's
// numbers and the ratios.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/transfer_messages.h"
#include "net/xhttp.h"
#include "net/xhttp_multi.h"
#include "support/unique_handle.h"

namespace {

struct InternetTraits {
  using Handle = HINTERNET;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { InternetCloseHandle(h); }
};
using Internet = tw::UniqueHandle<InternetTraits>;

// Wall and CPU time (all threads of the process) of one measured step.
class Meter {
 public:
  Meter() : wallStart_(Now()), cpuStart_(Cpu()) {}
  double WallSeconds() const { return Now() - wallStart_; }
  double CpuSeconds() const { return Cpu() - cpuStart_; }

 private:
  static double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
  }
  static double Cpu() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
      return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
             1e7;
    };
    return seconds(kernel) + seconds(user);
  }
  double wallStart_, cpuStart_;
};

// The reference: the same 4,096-byte reads with nothing around them, each
// chunk written straight to the file.
bool BareLoop(const std::wstring& url, const std::wstring& path, uint64_t* bytes) {
  Internet session(InternetOpenW(L"bare", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return false;
  Internet request(InternetOpenUrlW(session.Get(), url.c_str(), nullptr, 0,
                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                        INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI |
                                        INTERNET_FLAG_PRAGMA_NOCACHE,
                                    0));
  if (!request) return false;
  tw::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  uint8_t buffer[4096];
  *bytes = 0;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request.Get(), buffer, sizeof(buffer), &got)) return false;
    if (got == 0) return true;
    DWORD written = 0;
    if (!WriteFile(file.Get(), buffer, got, &written, nullptr) || written != got) return false;
    *bytes += got;
  }
}

HWND MakeWindow() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TwNetBench";
  RegisterClassW(&wc);
  return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         wc.hInstance, nullptr);
}

// Pumps until COMPLETE; returns its lParam, or -1 on time-out.
LPARAM WaitComplete(HWND window, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
      if (msg.message == tw::WM_XHTTP_COMPLETE) return msg.lParam;
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return -1;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLPOSTMESSAGE);
  }
}

std::wstring TempFile(const wchar_t* name) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp, length) + name;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t port[16];
  if (GetEnvironmentVariableW(L"TW_HTTP_PORT", port, 16) == 0) {
    fwprintf(stderr, L"TW_HTTP_PORT is not set (run through scripts/bench-net.sh)\n");
    return 2;
  }
  const uint64_t singleBytes = argc > 1 ? _wcstoui64(argv[1], nullptr, 10) : 100000000;
  const uint64_t raceBytes = argc > 2 ? _wcstoui64(argv[2], nullptr, 10) : 60000000;
  const std::wstring base = std::wstring(L"http://127.0.0.1:") + port;
  // A file on a RAM disk keeps the disk's write-back out of the figures.
  const std::wstring file = argc > 3 ? std::wstring(argv[3]) : TempFile(L"net_bench.bin");
  const HWND window = MakeWindow();
  int status = 0;

  // (b) first, so that the peak memory figures belong to the race.
  {
    static const unsigned kRates[5] = {2000000, 5000000, 10000000, 15000000, 20000000};
    tw::XHttpMultiRequest request;
    for (int i = 0; i < 5; ++i) {
      request.urls[i] = base + L"/gen/" + std::to_wstring(raceBytes) +
                        L"?rate=" + std::to_wstring(kRates[i]);
    }
    request.filePath = file;
    request.targetWindow = window;
    // The setup download's settings.
    tw::XHttpOptions options;
    options.connectTimeout = 30000;
    options.receiveTimeout = 30000;
    options.connectRetries = 20;
    options.pickMs = 30000;
    if (argc > 4) options.pickBytes = static_cast<uint32_t>(_wcstoui64(argv[4], nullptr, 10));
    const auto result = tw::XHttpMultiResult::Create();
    Meter meter;
    if (!tw::XHttpMulti_GetAsync(request, &options, result)) return 1;
    const LPARAM ok = WaitComplete(window, 600000);
    const double wall = meter.WallSeconds(), cpu = meter.CpuSeconds();
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    wprintf(L"race_ok %d\nrace_slot %d\nrace_wall_s %.3f\nrace_cpu_s %.3f\n", ok == 1 ? 1 : 0,
            result->chosenIndex, wall, cpu);
    wprintf(L"race_peak_working_set %llu\nrace_peak_pagefile %llu\n",
            static_cast<unsigned long long>(memory.PeakWorkingSetSize),
            static_cast<unsigned long long>(memory.PeakPagefileUsage));
    if (ok != 1) status = 1;

    uint64_t bytes = 0;
    Meter bare;
    const bool bareOk = BareLoop(request.urls[4], file, &bytes);
    wprintf(L"race_bare_ok %d\nrace_bare_wall_s %.3f\nrace_bare_cpu_s %.3f\n",
            bareOk && bytes == raceBytes ? 1 : 0, bare.WallSeconds(), bare.CpuSeconds());
  }

  // (a) one big loopback download.
  {
    const std::wstring url = base + L"/gen/" + std::to_wstring(singleBytes);
    for (int round = 0; round < 3; ++round) {  // alternating rounds; the script keeps the best
      tw::XFileWriteStream stream;
      if (!stream.Open(file)) return 1;
      int httperr = 0;
      Meter meter;
      tw::XHttpOptions options;
      options.sizeLimit = 0;  // no bound: the body is larger than the default
      const bool ok = tw::XHttp_Get(url, &stream, nullptr, &httperr, &options);
      stream.Close();
      const double wall = meter.WallSeconds(), cpu = meter.CpuSeconds();

      uint64_t bytes = 0;
      Meter bare;
      const bool bareOk = BareLoop(url, file, &bytes);
      wprintf(L"single_ok %d\nsingle_wall_s %.3f\nsingle_cpu_s %.3f\n", ok ? 1 : 0, wall, cpu);
      wprintf(L"single_bare_ok %d\nsingle_bare_wall_s %.3f\nsingle_bare_cpu_s %.3f\n",
              bareOk && bytes == singleBytes ? 1 : 0, bare.WallSeconds(), bare.CpuSeconds());
      if (!ok) status = 1;
    }
  }
  DeleteFileW(file.c_str());
  DestroyWindow(window);
  return status;
}
