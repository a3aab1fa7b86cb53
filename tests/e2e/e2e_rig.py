"""The end-to-end rig: runs the real TarnwickOnlineSetup.exe under Wine against local
servers (an HTTPS version server, five HTTP mirrors with injected faults, an
HTTPS error-log collector) and a small setup program of our own, signed at run
time with osslsigncode, that records the command line it was started with.
tw_wintool.exe records the debug traces and looks at the window.
Paths are Linux paths unless their name says "win"."""
import contextlib
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import time
import urllib.parse
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from test_server import FaultServer  # noqa: E402

WINE = "/usr/lib/wine/wine64"
PROTOCOL = 20200204
USER_AGENT = "TarnwickOnlineSetup(Protocol:20200204,Built:2020/03/11)"
SIGNERS = {"good": "/C=DE/O=Orlenhaus/CN=Orlenhaus", "longer": "/C=DE/O=Orlenhaus/CN=Orlenhaus Software Ltd",
           "lower": "/C=DE/O=Orlenhaus/CN=orlenhaus", "other": "/C=DE/O=Someone Else/CN=Someone Else",
           # the maker's text inside values that any CA signs for its own customer, and a real
           # common name of the maker in a multi-valued RDN
           "o-spoof": "/C=DE/O=CN=Orlenhaus Ltd/CN=Mallory", "cn-spoof": "/C=DE/O=Mallory/CN=Mallory CN=Orlenhaus",
           "multi": "/C=DE/O=Orlenhaus+CN=Orlenhaus"}
PLANTED_DLLS = ("wininet.dll", "wintrust.dll", "crypt32.dll", "comctl32.dll")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def crc32_of(path):
    return zlib.crc32(read(path)) & 0xFFFFFFFF


def sha256_of(path):
    return hashlib.sha256(read(path)).hexdigest()


def forge_crc(data, crc):
    """A signed PE file made to have the CRC-32 crc, its signature still valid: what anyone serving a mirror
    can do. Eight bytes are added to the certificate table (the file's end), which the signature does not cover;
    the last four are chosen for the CRC."""
    data = bytearray(data)
    header = int.from_bytes(data[0x3C:0x40], "little")
    directory = header + 24 + (96 if data[header + 24] == 0x0B and data[header + 25] == 0x01 else 112) + 4 * 8
    size = int.from_bytes(data[directory + 4:directory + 8], "little")
    data[directory + 4:directory + 8] = (size + 8).to_bytes(4, "little")
    data += bytes(4)
    table = [0] * 256
    for i in range(256):
        c = i
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table[i] = c
    top = {table[i] >> 24: i for i in range(256)}
    state, indexes = crc ^ 0xFFFFFFFF, []
    for _ in range(4):  # run the register backwards from the wanted final state
        i = top[state >> 24]
        indexes.append(i)
        state = ((state ^ table[i]) << 8) & 0xFFFFFFFF
    register = zlib.crc32(data) ^ 0xFFFFFFFF
    for i in reversed(indexes):  # choose the byte that lands on each index going forwards
        data.append((register ^ i) & 0xFF)
        register = (register >> 8) ^ table[i]
    return bytes(data)


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def openssl(*args):
    subprocess.run(("openssl",) + args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def wait_for(predicate, seconds):
    deadline = time.time() + seconds
    while not predicate() and time.time() < deadline:
        time.sleep(0.05)
    return predicate()


def pe_machine(path):
    """The machine a Windows program was built for: "i386", "x86_64" or the raw number."""
    data = read(path)
    header = int.from_bytes(data[0x3C:0x40], "little")
    return {0x14C: "i386", 0x8664: "x86_64"}.get(int.from_bytes(data[header + 4:header + 6], "little"), "?")


class RunResult:
    def __init__(self, exit_code, launches, reports, traces, elapsed, watched):
        self.exit_code, self.elapsed = exit_code, elapsed  # elapsed in seconds
        # What the receiver saw of the window: how often it was shown; the close: None, "posted" or "none" (no window)
        self.shown = watched.count("shown")
        self.close = next((line[6:] for line in watched if line.startswith("close ")), None)
        self.programs = [program for program, _ in launches]  # the program paths the setup was started by
        self.launches = [args for _, args in launches]  # the argument texts the setup program was started with
        self.reports = reports    # dicts of the error reports' query values
        self.traces = traces      # dicts: dwData, cbData, text
        self.logs = [r.get("log", "") for r in reports]


class Rig:
    """The servers and setups; start() starts the servers ("host:port" of the program's build)."""

    def __init__(self, state, bindir, version_host, errorlog_host):
        self.state, self.bindir = state, bindir
        # The program under test: the build's own, or the one the suite is
        # pointed at (the 32-bit release built with the test servers).
        self.exe = os.environ.get("TW_E2E_EXE") or os.path.join(bindir, "TarnwickOnlineSetup.exe")
        # The program's folder under the temporary folder ("": the temporary folder itself, as builds before it).
        self.folder_name = os.environ.get("TW_E2E_FOLDER", "tarnwick-online-setup")
        self.work = os.path.join(state, "e2e")
        self.env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.version_docroot, self.mirror_docroot = (os.path.join(self.work, d) for d in ("version", "mirror"))
        for folder in (self.version_docroot, self.mirror_docroot):
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
        self.launch_log, self.trace_log, self.close_request = (
            os.path.join(self.work, n) for n in ("launch.log", "traces.log", "close.request"))
        self.slowest_launch = 0.0  # seconds from a run's end to its setup's line, the longest seen
        self.setups = {}
        cert = dict(certfile=os.path.join(state, "certs", "localhost.pem"),
                    keyfile=os.path.join(state, "certs", "localhost.key"))
        self.version_server = FaultServer(port=int(version_host.split(":")[1]), docroot=self.version_docroot, **cert)
        self.errorlog_server = FaultServer(port=int(errorlog_host.split(":")[1]), **cert)
        self.mirrors = [FaultServer(docroot=self.mirror_docroot) for _ in range(5)]
        self.servers = [self.version_server, self.errorlog_server] + self.mirrors

    def start(self):
        self._make_setups()
        for server in self.servers:
            server.start()
        # The prefix outlives every run: no Windows version or DPI of an earlier one stays.
        self.set_windows_version(None, check=False)
        self.set_dpi(96)
        # A program that crashes ends at once instead of waiting behind Wine's crash dialog.
        self.reg(r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", ("REG_DWORD", "0"))

    def _make_setups(self):
        """Setups signed by each signer, unsigned, and tampered after signing."""
        out = os.path.join(self.work, "setups")
        os.makedirs(out, exist_ok=True)
        base = os.path.join(self.bindir, "tw_fake_setup.exe")
        ca_key, ca_pem = os.path.join(out, "codeca.key"), os.path.join(out, "codeca.pem")
        if not os.path.exists(ca_pem):
            openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca_pem, "-days", "3650",
                    "-subj", "/CN=Tarnwick Test Code Signing CA", "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "keyUsage=critical,keyCertSign")
        # Each signer signs the setup; the maker also signs a DLL, which passes the signature check but is no program.
        for name, subject, source in [(n, s, base) for n, s in SIGNERS.items()] + [
                ("dll", SIGNERS["good"], self.planted_dll(pe_machine(base)))]:
            key, pem, chain = (os.path.join(out, ("good" if name == "dll" else name) + ext)
                               for ext in (".key", ".pem", ".chain.pem"))
            if not os.path.exists(pem):
                csr, ext = os.path.join(out, name + ".csr"), os.path.join(out, name + ".ext")
                openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", subject)
                with open(ext, "w") as f:
                    f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
                openssl("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial", "-days", "3650",
                        "-extfile", ext, "-out", pem)
            with open(chain, "wb") as f:
                f.write(read(pem) + read(ca_pem))
            signed = os.path.join(out, name + ".exe")
            if os.path.exists(signed):
                os.remove(signed)
            subprocess.run(["osslsigncode", "sign", "-certs", chain, "-key", key, "-h", "sha256", "-n", "Tarnwick Setup",
                            "-in", source, "-out", signed], check=True, stdout=subprocess.DEVNULL)
            self.setups[name] = signed
        self.setups["unsigned"] = base
        tampered = bytearray(read(self.setups["good"]))
        tampered[0x400 + 16] ^= 0xFF  # one byte of the code
        self.setups["tampered"] = os.path.join(out, "tampered.exe")
        with open(self.setups["tampered"], "wb") as f:
            f.write(tampered)
        for name, path in self.setups.items():
            shutil.copyfile(path, os.path.join(self.mirror_docroot, name + ".exe"))

    def stop(self):
        for server in self.servers:
            server.stop()

    # ---- the prefix -------------------------------------------------------
    def system_temp(self):
        """The temporary folder, where every program of the account may write."""
        return [f for f in glob.glob(os.path.join(self.env["WINEPREFIX"], "drive_c", "users", "*", "Temp"))
                if "/Public/" not in f][0]

    def temp_folder(self):
        """The program's folder, where its files are."""
        return os.path.join(self.system_temp(), self.folder_name)

    def temp_win(self):
        return "C:\\users\\%s\\Temp\\%s" % (os.path.basename(os.path.dirname(self.system_temp())),
                                             self.folder_name + "\\" if self.folder_name else "")

    def clean_temp(self):
        """Empties the program's folder, which stays as between runs, and takes from the temporary folder what
        runs and tests leave there (fresh folders of the program included)."""
        folder = self.temp_folder()
        if os.path.islink(folder) or os.path.isfile(folder):  # put in the folder's place by a test
            os.remove(folder)
        os.makedirs(folder, exist_ok=True)
        left = {p for pattern in ("tarnwick*", "TARNWICK*", "*.EXE", "*.dll")
                for p in glob.glob(os.path.join(self.system_temp(), pattern))} | set(glob.glob(os.path.join(folder, "*")))
        for path in left - {folder.rstrip("/")}:
            shutil.rmtree(path) if os.path.isdir(path) and not os.path.islink(path) else os.remove(path)

    def wine(self, *args, **kw):
        return subprocess.Popen((WINE,) + args, env=kw.pop("env", self.env), stdin=subprocess.DEVNULL,
                                stdout=kw.pop("stdout", subprocess.DEVNULL), stderr=subprocess.DEVNULL, **kw)

    def reg(self, key, value, data, check=True):
        """Sets (data: (type, text)) or deletes (data None) a registry value of the prefix."""
        args = ["add", key, "/v", value, "/t", data[0], "/d", data[1]] if data else ["delete", key, "/v", value]
        code = self.wine("reg", *args, "/f").wait(timeout=60)
        if check and code != 0:
            raise RuntimeError("reg %s: exit code %d" % (" ".join(args), code))

    def set_windows_version(self, version, check=True):
        self.reg(r"HKCU\Software\Wine\AppDefaults\TarnwickOnlineSetup.exe", "Version", version and ("REG_SZ", version),
                 check)

    def set_proxy(self, port):  # WinINet's proxy for the prefix: 127.0.0.1:port, or none
        key = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
        self.reg(key, "ProxyEnable", ("REG_DWORD", "1" if port else "0"))
        self.reg(key, "ProxyServer", ("REG_SZ", "127.0.0.1:%s" % port) if port else None, check=False)

    def set_dpi(self, dpi):
        self.reg(r"HKCU\Control Panel\Desktop", "LogPixels", ("REG_DWORD", str(dpi)))

    def wintool(self, *args):
        """tw_wintool's exit code and output."""
        out = os.path.join(self.work, "wintool.out")
        with open(out, "wb") as f:
            code = self.wine(os.path.join(self.bindir, "tw_wintool.exe"), *args, stdout=f).wait(timeout=60)
        return code, read(out).decode("utf-8", "replace").strip()

    def window_state(self):
        """What tw_wintool sees of the program's window: a dict, empty when there is none."""
        text = self.wintool("state")[1]
        return dict(field.split("=", 1) for field in text.split("\t")) if "=" in text else {}

    @contextlib.contextmanager
    def holding(self, path_win, command="hold", *args):
        """Another Windows process holds path_win open without sharing (or does another tw_wintool command)."""
        out = os.path.join(self.work, "hold.out")
        with open(out, "wb") as f:
            holder = self.wine(os.path.join(self.bindir, "tw_wintool.exe"), command, path_win, *args, stdout=f)
        try:
            if not wait_for(lambda: b"held" in read(out), 20):
                raise RuntimeError("could not %s %s" % (command, path_win))
            yield
        finally:
            holder.kill()
            holder.wait()

    def run_holding(self, path_win, *args, **kw):
        with self.holding(path_win):
            return self.run(*args, **kw)

    # ---- the servers ------------------------------------------------------
    def mirror_url(self, slot, name, **faults):
        query = urllib.parse.urlencode(faults)
        return "http://127.0.0.1:%d/%s.exe%s" % (self.mirrors[slot].port, name, "?" + query if query else "")

    def publish_version(self, text=None, raw=None):
        path = os.path.join(self.version_docroot, "tarnwick.std", "versioninfo.ini")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if text is None and raw is None:
            os.path.exists(path) and os.remove(path)
            return
        with open(path, "wb") as f:
            f.write(raw if raw is not None else text.encode("utf-8"))

    def version_text(self, setup="good", version=PROTOCOL, crc=None, urls=None, filename=None, sleep_interval=None,
                     sha256=None):
        crc = crc32_of(self.setups[setup]) if crc is None else crc
        lines = ["[VERSION]", "ONLINE_SETUP_VERSION = %s" % version, "", "[DOWNLOAD.PRO]"]
        lines += ["FILENAME = %s" % filename] if filename is not None else []
        lines.append("CRC32 = %s" % (crc if isinstance(crc, str) else "%08X" % crc))
        lines += ["SHA256 = %s" % sha256] if sha256 is not None else []
        for i, url in enumerate([self.mirror_url(0, setup)] if urls is None else urls):
            lines.append("URL%d = %s" % (i + 1, url))
        lines += ["sleepInterval = %s" % sleep_interval] if sleep_interval is not None else []
        return "\n".join(lines) + "\n"

    def planted_dll(self, machine):
        """tests/e2e/planted_dll.c built for machine ("i386" or "x86_64")."""
        dll = os.path.join(self.work, "planted-%s.dll" % machine)
        if not os.path.exists(dll):
            subprocess.run(["%s-w64-mingw32-gcc-win32" % {"i386": "i686"}.get(machine, machine), "-shared", "-s", "-O1",
                            "-static-libgcc", "-o", dll, os.path.join(os.path.dirname(__file__), "planted_dll.c")],
                           check=True)
        return dll

    def plant_dlls(self, exe):
        """A copy of exe in a folder of its own beside DLLs of ours named as system DLLs; the copy and the log
        that those DLLs write when they are loaded."""
        machine = pe_machine(exe)
        dll = self.planted_dll(machine)
        folder = os.path.join(self.work, "planted-" + machine)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name in PLANTED_DLLS:
            shutil.copyfile(dll, os.path.join(folder, name))
        shutil.copyfile(exe, os.path.join(folder, os.path.basename(exe)))
        return os.path.join(folder, os.path.basename(exe)), os.path.join(folder, "loaded.log")

    # ---- one run ----------------------------------------------------------
    def run(self, args=(), timeout=90, close_when=None, receiver=True, lang=None, exe=None, env=None, win_env=None,
            launch=None):
        """Runs the online setup (or exe) once. close_when(rig) -> True has the receiver close its window; launch:
        whether the run starts the setup (None: if it ends with 0). env: more Unix environment for Wine; win_env:
        Windows variables (TMP...) that a Windows parent, cmd, sets for the program, in the empty folder self.cwd."""
        for path in (self.launch_log, self.trace_log, self.close_request):
            os.path.exists(path) and os.remove(path)
        for server in self.servers:
            server.requests.clear()
        env = dict(self.env, TW_E2E_LAUNCH_LOG=win_path(self.launch_log), **(env or {}))
        env.update(dict(LANG=lang, LC_ALL=lang) if lang else {})
        xrecv = self.wine(os.path.join(self.bindir, "tw_wintool.exe"), "receive", win_path(self.trace_log),
                          win_path(self.close_request)) if receiver or close_when else None
        if xrecv and not wait_for(lambda: os.path.exists(self.trace_log) and b"ready" in read(self.trace_log), 20):
            raise RuntimeError("the debug receiver did not start")
        command, cwd = (exe or self.exe,) + tuple(args), None
        if win_env:
            cwd = self.cwd = os.path.join(self.work, "cwd")
            shutil.rmtree(cwd, ignore_errors=True)
            os.makedirs(cwd)
            command = ("cmd", "/c", "".join("set %s=%s&& " % item for item in win_env.items())
                       + " ".join((win_path(command[0]),) + command[1:]))
        proc = self.wine(*command, env=env, cwd=cwd)
        started = time.time()
        try:
            while proc.poll() is None:
                if time.time() - started > timeout:
                    raise AssertionError("the online setup did not end within %d s" % timeout)
                if close_when is not None and not os.path.exists(self.close_request) and close_when(self):
                    open(self.close_request, "w").close()
                time.sleep(0.005)
            # The receiver answers a request that came as the program ended.
            os.path.exists(self.close_request) and wait_for(lambda: b"close " in read(self.trace_log), 10)
        finally:
            for p in (proc, xrecv):
                if p is not None and p.poll() is None:
                    p.kill()
                    p.wait()
        ended = time.time()
        def lines():  # the launch log's whole lines
            data = read(self.launch_log) if os.path.exists(self.launch_log) else b""
            return data.decode("utf-8").splitlines() if data.endswith(b"\n") else []
        # A launch is waited for; its absence as long as the slowest launch took, thrice (a second at least).
        expected = proc.returncode == 0 if launch is None else launch
        if wait_for(lines, 60 if expected else max(1.0, 3 * self.slowest_launch)) and expected:
            self.slowest_launch = max(self.slowest_launch, time.time() - ended)
        launches = [split_program(line) for line in lines() if line]
        watched = read(self.trace_log).decode("utf-8").splitlines() if xrecv else []
        traces = []
        for line in watched:
            parts = line.split("\t", 2)
            if len(parts) == 3:
                traces.append({"dwData": int(parts[0]), "cbData": int(parts[1]), "text": parts[2]})
        reports = []
        for request in list(self.errorlog_server.requests):
            report = {k: v[0] for k, v in urllib.parse.parse_qs(request["query"], keep_blank_values=True).items()}
            report.update(_path=request["path"], _agent=request["headers"].get("User-Agent", ""),
                          _raw_query=request["query"])
            reports.append(report)
        return RunResult(proc.returncode, launches, reports, traces, ended - started, watched)


def split_program(command_line):
    """A command line's program path and its arguments: everything after the path."""
    if not command_line.startswith('"'):
        program, _, rest = command_line.partition(" ")
        return program, rest
    end = command_line.find('"', 1)
    rest = command_line[end + 1:]
    return command_line[1:end], rest[1:] if rest.startswith(" ") else rest
