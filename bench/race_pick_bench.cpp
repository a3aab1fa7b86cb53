// race_pick_bench: how well the mirror race picks the fastest mirror, on nginx
// (TW_NGINX_PORT, throttled by limit_rate) and on the paced test server
// (TW_HTTP_PORT), with the pick rule of the program and the rule of old (the
// first count past pickBytes decides; xhttp_multi.cpp compiled a second time
// with TW_XHTTP_MULTI_OLD_PICK) in the same run, round by round.
//   race_pick_bench ROUNDS BYTES [OUTPUT_FILE [RULES]]
// The file /race-BYTES.bin is written into TW_HTTP_DOCROOT, which both servers
// serve. Prints one line per transfer:
//   run KIND MIX RULE ROUND OK WINNER FASTEST WALL_S PICK_S TAG
// RULE is new, old or alone (the fastest mirror by itself, same client);
// RULES (default "new,old,alone") chooses among them. WINNER is
// result->chosenIndex (-1: a mirror finished before any pick), PICK_S the time
// to "WM_XHTTP_MULTI_CHOSEN" (-1 without one). Each URL carries
// "t=TAG-sSLOT", so that scripts/bench-net.sh can find the bytes each server
// sent to each mirror in its logs.
#include <windows.h>

#include <cstdio>
#include <string>

#include "net/transfer_messages.h"
#include "net/xhttp_multi.h"

namespace tw {
bool XHttpMulti_GetAsyncOldPick(const XHttpMultiRequest& request, const XHttpOptions* options,
                                const RefPtr<XHttpMultiResult>& result);
}

namespace {

enum Server { kNginx, kTest };
struct Mirror {
  Server server;
  const wchar_t* query;  // nullptr: the slot holds no URL
};
struct Mix {
  const char* kind;
  const char* name;
  Mirror mirrors[3];
  int fastest;
};

// The far mirror (a first byte 150 ms late, fast afterwards) is the test
// server in both kinds: nginx has no delay of its own.
const Mix kMixes[] = {
    {"nginx", "bursting", {{kNginx, L"rate=1m"}, {kNginx, L""}, {kNginx, L"rate=500k"}}, 1},
    {"nginx", "delayed", {{kNginx, L"rate=1m"}, {kTest, L"delay_ms=150"}, {kNginx, nullptr}}, 1},
    {"nginx", "paced", {{kNginx, L"rate=2m"}, {kNginx, L"rate=4m"}, {kNginx, L"rate=16m"}}, 2},
    {"test", "bursting",
     {{kTest, L"rate=1048576&burst=1048576"}, {kTest, L""}, {kTest, L"rate=512000&burst=512000"}}, 1},
    {"test", "delayed", {{kTest, L"rate=1048576"}, {kTest, L"delay_ms=150"}, {kTest, nullptr}}, 1},
    {"test", "paced", {{kTest, L"rate=2000000"}, {kTest, L"rate=4000000"}, {kTest, L"rate=16000000"}}, 2},
};

std::wstring Env(const wchar_t* name) {
  wchar_t value[1024];
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length == 0 || length >= 1024 ? std::wstring() : std::wstring(value, length);
}

double Seconds() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Pumps until COMPLETE; returns its lParam, or -1 on time-out. *chosenAt:
// Seconds() when CHOSEN arrived, unchanged without one.
LPARAM WaitComplete(HWND window, DWORD timeoutMs, double* chosenAt) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
      if (msg.message == tw::WM_XHTTP_MULTI_CHOSEN) *chosenAt = Seconds();
      if (msg.message == tw::WM_XHTTP_COMPLETE) return msg.lParam;
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return -1;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLPOSTMESSAGE);
  }
}

bool WriteBody(const std::wstring& path, uint64_t size) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  static uint8_t block[1 << 16];
  bool ok = true;
  for (uint64_t done = 0; ok && done < size;) {
    const DWORD n = static_cast<DWORD>(size - done < sizeof(block) ? size - done : sizeof(block));
    for (DWORD i = 0; i < n; ++i) block[i] = static_cast<uint8_t>((done + i) * 31 + ((done + i) >> 11));
    DWORD written = 0;
    ok = WriteFile(file, block, n, &written, nullptr) && written == n;
    done += n;
  }
  CloseHandle(file);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring nginxPort = Env(L"TW_NGINX_PORT"), testPort = Env(L"TW_HTTP_PORT");
  const std::wstring docroot = Env(L"TW_HTTP_DOCROOT");
  if (argc < 3 || nginxPort.empty() || testPort.empty() || docroot.empty()) {
    fwprintf(stderr, L"usage: race_pick_bench ROUNDS BYTES [OUTPUT_FILE [RULES]] (run by scripts/bench-net.sh)\n");
    return 2;
  }
  const int rounds = _wtoi(argv[1]);
  const uint64_t bytes = _wcstoui64(argv[2], nullptr, 10);
  wchar_t temp[MAX_PATH + 1];
  const DWORD tempLength = GetTempPathW(MAX_PATH, temp);
  const std::wstring output =
      argc > 3 ? std::wstring(argv[3]) : std::wstring(temp, tempLength) + L"race_pick_bench.bin";
  const std::wstring rules = argc > 4 ? argv[4] : L"new,old,alone";
  const std::wstring name = L"/race-" + std::to_wstring(bytes) + L".bin";
  if (!WriteBody(L"Z:" + docroot + name, bytes)) return 1;
  const std::wstring bases[2] = {L"http://127.0.0.1:" + nginxPort + name,
                                 L"http://127.0.0.1:" + testPort + name};

  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TwRacePickBench";
  RegisterClassW(&wc);
  const HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, wc.hInstance, nullptr);
  // The setup download's options.
  tw::XHttpOptions options;
  options.connectTimeout = 30000;
  options.receiveTimeout = 30000;
  options.connectRetries = 20;
  options.pickMs = 30000;

  for (const Mix& mix : kMixes) {
    printf("mix %s %s %d", mix.kind, mix.name, mix.fastest);
    for (const Mirror& m : mix.mirrors) {
      if (m.query != nullptr)
        printf(" %s:%ls", m.server == kNginx ? "nginx" : "test", m.query[0] ? m.query : L"unthrottled");
    }
    printf("\n");
  }
  // Tells this run's requests apart from earlier ones in the servers' logs.
  const unsigned long runId = GetTickCount();
  int status = 0;
  for (int round = 0; round < rounds; ++round) {
    for (const Mix& mix : kMixes) {
      // The three runs of a round in turn, starting with another each round.
      static const char* const kRules[3] = {"new", "old", "alone"};
      for (int k = 0; k < 3; ++k) {
        const char* rule = kRules[(k + round) % 3];
        const std::string ruleName = rule;
        if (rules.find(std::wstring(ruleName.begin(), ruleName.end())) == std::wstring::npos) continue;
        char tag[64];
        snprintf(tag, sizeof(tag), "%lu-%s-%s-%s-%d", runId, mix.kind, mix.name, rule, round);
        tw::XHttpMultiRequest request;
        for (int slot = 0; slot < 3; ++slot) {
          const Mirror& m = mix.mirrors[slot];
          if (m.query == nullptr || (ruleName == "alone" && slot != mix.fastest)) continue;
          request.urls[slot] = bases[m.server] + L"?" + m.query + (m.query[0] ? L"&" : L"") +
                               L"t=" + std::wstring(tag, tag + strlen(tag)) + L"-s" +
                               std::to_wstring(slot);
        }
        request.filePath = output;
        request.targetWindow = window;
        const auto result = tw::XHttpMultiResult::Create();
        const double start = Seconds();
        double chosenAt = start - 1;
        const bool started = ruleName == "old"
                                 ? tw::XHttpMulti_GetAsyncOldPick(request, &options, result)
                                 : tw::XHttpMulti_GetAsync(request, &options, result);
        const LPARAM ok = started ? WaitComplete(window, 300000, &chosenAt) : 0;
        const double wall = Seconds() - start;
        printf("run %s %s %s %d %d %d %d %.3f %.3f %s\n", mix.kind, mix.name, rule, round,
               ok == 1 ? 1 : 0, result->chosenIndex, mix.fastest, wall, chosenAt - start, tag);
        fflush(stdout);
        if (ok != 1) status = 1;
        // The stopped losers close their connections; keep them out of the
        // next transfer's time.
        Sleep(300);
      }
    }
  }
  DeleteFileW(output.c_str());
  DestroyWindow(window);
  return status;
}
