// The Windows side of the test harness, one command per run:
//   tw_wintool addroot <cert.der> adds the certificate to the LOCAL_MACHINE "Root" store of
//                                 the prefix, so that WinINet trusts the test servers
//   tw_wintool receive <log> <close> plays the debugging tool's receiver: a window of class
//                                 "#32770" titled "XRecv" that appends "ready", then each
//                                 WM_COPYDATA as dwData, cbData and text (UTF-8, a line
//                                 each) to <log>, "shown" each time the window below becomes
//                                 visible, and once the file <close> exists, "close posted"
//                                 (WM_CLOSE to it) or "close none"; runs until killed
//   tw_wintool state              prints tab-separated key=value fields (UTF-8) about the
//                                 window of class TarnwickOnlineSetupClass, or "none":
//                                 visible topmost rect (x,y,w,h) work (the work area:
//                                 l,t,r,b) title mutex (the instance mutex exists) link
//                                 linkrect (x,y,w,h in the client area) linktext
//   tw_wintool hold <path>        opens (or creates) the file without sharing, prints "held"
//                                 and keeps it open until killed
//   tw_wintool mutex <name>       creates and owns the named mutex, prints "held"; until killed
//   tw_wintool replace <path> <source>  another account's program: prints "held", then, once <path>
//                                 exists, renames a copy of <source> over it as soon as the system
//                                 lets it (when the last handle without delete sharing closes)
//   tw_wintool answer <user> <pw> fills and confirms (user "-": cancels) the proxy password
//                                 dialogs of that window; prints how many it answered
//   tw_wintool hidden <program>   runs it on a window station that nobody sees; its exit code
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kProgramClass[] = L"TarnwickOnlineSetupClass";
HANDLE g_log = INVALID_HANDLE_VALUE;  // the receiver's log, open for the process's life

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
  return utf8;
}

void AppendLine(const std::wstring& line) {
  const std::string utf8 = Utf8(line + L"\n");
  DWORD written = 0;
  WriteFile(g_log, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COPYDATA) return DefWindowProcW(window, message, wParam, lParam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  std::wstring text;
  if (data->cbData >= sizeof(wchar_t) && data->lpData != nullptr) {
    text.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
    if (text.back() == L'\0') text.pop_back();
  }
  AppendLine(std::to_wstring(data->dwData) + L"\t" + std::to_wstring(data->cbData) + L"\t" + text);
  return TRUE;
}

// Wine 8 raises no EVENT_OBJECT_SHOW (a window-event hook sees only
// EVENT_OBJECT_CREATE), so the program's window is looked at about every
// millisecond: often enough to see one that is shown for a few.
int Receive(const wchar_t* logPath, const wchar_t* closeRequest) {
  g_log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const HWND window = CreateWindowExW(0, L"#32770", L"XRecv", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  if (g_log == INVALID_HANDLE_VALUE || window == nullptr) return 1;
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ReceiverProc));
  AppendLine(L"ready");
  for (bool visible = false, closed = false;; MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT)) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    const HWND program = FindWindowW(kProgramClass, nullptr);
    const bool shown = program != nullptr && IsWindowVisible(program);
    if (shown && !visible) AppendLine(L"shown");
    visible = shown;
    if (closed || GetFileAttributesW(closeRequest) == INVALID_FILE_ATTRIBUTES) continue;
    closed = true;
    AppendLine(program != nullptr && PostMessageW(program, WM_CLOSE, 0, 0) ? L"close posted" : L"close none");
  }
}

int AddRoot(const wchar_t* path) {
  const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  std::vector<BYTE> bytes(65536);
  DWORD got = 0;
  const BOOL read = file != INVALID_HANDLE_VALUE && ReadFile(file, bytes.data(), 65536, &got, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  const HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  const BOOL added = read && got > 0 && store != nullptr &&
                     CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, bytes.data(), got,
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  if (store != nullptr) CertCloseStore(store, 0);
  if (!added) fwprintf(stderr, L"cannot add %ls to the Root store: %lu\n", path, error);
  return added ? 0 : 1;
}

std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

std::wstring Box(LONG a, LONG b, LONG c, LONG d) {
  return std::to_wstring(a) + L"," + std::to_wstring(b) + L"," + std::to_wstring(c) + L"," + std::to_wstring(d);
}

std::wstring State(HWND window) {
  RECT r = {}, work = {}, link = {};
  GetWindowRect(window, &r);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"tarnwick-std-setup");
  if (mutex != nullptr) CloseHandle(mutex);
  const HWND child = GetWindow(window, GW_CHILD);  // the link, the only child
  GetWindowRect(child, &link);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&link), 2);
  const auto flag = [](bool on) { return std::wstring(on ? L"1" : L"0"); };
  return L"visible=" + flag(IsWindowVisible(window)) + L"\ttopmost=" +
         flag(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) + L"\trect=" +
         Box(r.left, r.top, r.right - r.left, r.bottom - r.top) + L"\twork=" +
         Box(work.left, work.top, work.right, work.bottom) + L"\ttitle=" + TextOf(window) + L"\tmutex=" +
         flag(mutex != nullptr) + L"\tlink=" + flag(child != nullptr && IsWindowVisible(child)) + L"\tlinkrect=" +
         Box(link.left, link.top, link.right - link.left, link.bottom - link.top) + L"\tlinktext=" + TextOf(child);
}

int Replace(const wchar_t* path, const wchar_t* source) {
  const std::wstring copy = std::wstring(path) + L".new";
  if (!CopyFileW(source, copy.c_str(), FALSE)) return 1;
  wprintf(L"held\n");
  fflush(stdout);
  const DWORD start = GetTickCount();
  while (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES ||
         !MoveFileExW(copy.c_str(), path, MOVEFILE_REPLACE_EXISTING)) {
    if (GetTickCount() - start > 60000) return 1;
  }
  return 0;
}

int Answer(const wchar_t* user, const wchar_t* password) {
  const HWND owner = FindWindowW(kProgramClass, nullptr);
  int answered = 0;
  for (HWND dialog = nullptr; owner != nullptr && (dialog = FindWindowExW(nullptr, dialog, L"#32770", nullptr));) {
    const HWND name = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
    const HWND secret = FindWindowExW(dialog, name, L"Edit", nullptr);
    if (GetWindow(dialog, GW_OWNER) != owner || secret == nullptr) continue;
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(user));
    SendMessageW(secret, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(password));
    answered += PostMessageW(dialog, WM_COMMAND, lstrcmpW(user, L"-") == 0 ? IDCANCEL : IDOK, 0) ? 1 : 0;
  }
  wprintf(L"%d\n", answered);
  return 0;
}

int RunHidden(const wchar_t* program) {
  std::wstring command = L"\"" + std::wstring(program) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  // Wine makes the station (without WSF_VISIBLE) and the desktop when the program first needs them.
  startup.lpDesktop = const_cast<wchar_t*>(L"tw-hidden\\Default");
  PROCESS_INFORMATION process = {};
  DWORD code = 102;
  if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
  }
  return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (argc == 4 && command == L"replace") return Replace(argv[2], argv[3]);
  if (argc == 3 && command == L"addroot") return AddRoot(argv[2]);
  if (argc == 4 && command == L"receive") return Receive(argv[2], argv[3]);
  if (argc == 3 && (command == L"hold" || command == L"mutex")) {
    if (command == L"mutex" ? CreateMutexW(nullptr, TRUE, argv[2]) == nullptr
                            : CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr) ==
                                  INVALID_HANDLE_VALUE) {
      return 1;
    }
    wprintf(L"held\n");
    fflush(stdout);
    Sleep(INFINITE);
  }
  if (argc == 4 && command == L"answer") return Answer(argv[2], argv[3]);
  if (argc == 3 && command == L"hidden") return RunHidden(argv[2]);
  const HWND window = FindWindowW(kProgramClass, nullptr);
  if (command != L"state") return 2;
  const std::string line = window != nullptr ? Utf8(State(window) + L"\n") : "none\n";
  fwrite(line.data(), 1, line.size(), stdout);
  return 0;
}
