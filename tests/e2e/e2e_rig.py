"""The end-to-end rig: runs the real TarnwickOnlineSetup.exe under Wine against
local servers (an HTTPS version server, HTTP mirrors with fault injection, an
HTTPS error-log collector) and a small setup program of our own, signed at
run time with osslsigncode, that records the command line it was started with.

Every path here is a Linux path unless its name says "win".
"""
import glob
import json
import os
import shutil
import subprocess
import sys
import time
import urllib.parse
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
from test_server import FaultServer  # noqa: E402

WINE = "/usr/lib/wine/wine64"
VERSION_PATH = "/tarnwick.std/versioninfo.ini"
PROTOCOL = 20200204
USER_AGENT = "TarnwickOnlineSetup(Protocol:20200204,Built:2020/03/11)"
MULTI_AGENT = USER_AGENT + "(XHttpMulti)"
# Signers of the test setup programs.
SIGNERS = {
    "good": "/C=DE/O=Orlenhaus/CN=Orlenhaus",
    "longer": "/C=DE/O=Orlenhaus/CN=Orlenhaus Software Ltd",
    "lower": "/C=DE/O=Orlenhaus/CN=orlenhaus",
    "other": "/C=DE/O=Someone Else/CN=Someone Else",
}


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _read(path):
    with open(path, "rb") as f:
        return f.read()


def crc32_of(path):
    return zlib.crc32(_read(path)) & 0xFFFFFFFF


def pe_machine(path):
    """The machine a Windows program was built for: "i386", "x86_64" or the raw number."""
    data = _read(path)
    header = int.from_bytes(data[0x3C:0x40], "little")
    machine = int.from_bytes(data[header + 4:header + 6], "little")
    return {0x14C: "i386", 0x8664: "x86_64"}.get(machine, hex(machine))


def parse_host(host):
    name, _, port = host.partition(":")
    return name, int(port) if port else 443


class RunResult:
    def __init__(self, exit_code, launches, reports, traces, elapsed):
        self.exit_code = exit_code
        self.launches = launches      # command-line argument texts the setup got
        self.reports = reports        # dicts of the error-log query values
        self.traces = traces          # debug receiver texts
        self.elapsed = elapsed        # seconds

    @property
    def logs(self):
        return [r.get("log", "") for r in self.reports]


class Rig:
    def __init__(self, state, bindir, version_host, errorlog_host):
        self.state = state
        self.bindir = bindir
        # The program under test: the build's own, or the one the suite was
        # pointed at (the 32-bit release built with the test servers).
        self.exe = os.environ.get("TW_E2E_EXE") or os.path.join(bindir, "TarnwickOnlineSetup.exe")
        self.work = os.path.join(state, "e2e")
        os.makedirs(self.work, exist_ok=True)
        self.env = dict(os.environ)
        self.env.update(WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.prefix = self.env["WINEPREFIX"]
        self.version_host = version_host
        self.errorlog_host = errorlog_host
        self.version_docroot = os.path.join(self.work, "version-docroot")
        self.mirror_docroot = os.path.join(self.work, "mirror-docroot")
        for d in (self.version_docroot, self.mirror_docroot):
            shutil.rmtree(d, ignore_errors=True)
            os.makedirs(d)
        self.launch_log = os.path.join(self.work, "launch.log")
        self.trace_log = os.path.join(self.work, "traces.log")
        self.setups = {}
        self.servers = []

    # ---- set-up -------------------------------------------------------
    def start(self):
        self._make_setups()
        certs = os.path.join(self.state, "certs")
        cert, key = os.path.join(certs, "localhost.pem"), os.path.join(certs, "localhost.key")
        _, vport = parse_host(self.version_host)
        _, eport = parse_host(self.errorlog_host)
        self.version_server = FaultServer(port=vport, certfile=cert, keyfile=key, docroot=self.version_docroot,
                                          log_path=os.path.join(self.work, "version-requests.jsonl"))
        self.errorlog_server = FaultServer(port=eport, certfile=cert, keyfile=key, docroot=self.work,
                                           log_path=os.path.join(self.work, "errorlog-requests.jsonl"))
        self.mirrors = [FaultServer(docroot=self.mirror_docroot) for _ in range(5)]
        for server in [self.version_server, self.errorlog_server] + self.mirrors:
            server.start()
            self.servers.append(server)

    def stop(self):
        for server in self.servers:
            server.stop()
        self.servers = []

    def _make_setups(self):
        """Signed, unsigned, tampered and other-signer variants of the test setup."""
        out = os.path.join(self.work, "setups")
        os.makedirs(out, exist_ok=True)
        base = os.path.join(self.bindir, "tw_fake_setup.exe")
        ca_key, ca_pem = os.path.join(out, "codeca.key"), os.path.join(out, "codeca.pem")
        if not os.path.exists(ca_pem):
            _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca_pem,
                  "-days", "3650", "-subj", "/CN=Tarnwick Test Code Signing CA",
                  "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign"])
        for name, subject in SIGNERS.items():
            key, pem = os.path.join(out, name + ".key"), os.path.join(out, name + ".pem")
            if not os.path.exists(pem):
                csr, ext = os.path.join(out, name + ".csr"), os.path.join(out, name + ".ext")
                _run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
                      "-subj", subject])
                with open(ext, "w") as f:
                    f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                            "extendedKeyUsage=codeSigning\n")
                _run(["openssl", "x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
                      "-days", "3650", "-extfile", ext, "-out", pem])
            chain = os.path.join(out, name + ".chain.pem")
            with open(chain, "wb") as f:
                f.write(_read(pem) + _read(ca_pem))
            signed = os.path.join(out, name + ".exe")
            if os.path.exists(signed):
                os.remove(signed)
            _run(["osslsigncode", "sign", "-certs", chain, "-key", key, "-h", "sha256",
                  "-n", "Tarnwick Setup", "-in", base, "-out", signed])
            self.setups[name] = signed
        unsigned = os.path.join(out, "unsigned.exe")
        shutil.copyfile(base, unsigned)
        self.setups["unsigned"] = unsigned
        # Tampered: one byte of the code changed after signing.
        tampered = os.path.join(out, "tampered.exe")
        data = bytearray(_read(self.setups["good"]))
        data[0x400 + 16] ^= 0xFF
        with open(tampered, "wb") as f:
            f.write(bytes(data))
        self.setups["tampered"] = tampered
        for name, path in self.setups.items():
            shutil.copyfile(path, os.path.join(self.mirror_docroot, name + ".exe"))

    # ---- scenario helpers --------------------------------------------
    def temp_folder(self):
        folders = [f for f in glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "Temp"))
                   if "/Public/" not in f]
        if not folders:
            raise RuntimeError("no temporary folder in the prefix")
        return folders[0]

    def temp_win(self):
        return "C:\\users\\%s\\Temp\\" % os.path.basename(os.path.dirname(self.temp_folder()))

    def clean_temp(self):
        temp = self.temp_folder()
        for pattern in ("tarnwick.versioninfo*", "TARNWICK-SETUP*", "*.EXE", "sub"):
            for path in glob.glob(os.path.join(temp, pattern)):
                if os.path.isdir(path):
                    shutil.rmtree(path, ignore_errors=True)
                else:
                    os.remove(path)

    def mirror_url(self, slot, name, **faults):
        query = urllib.parse.urlencode(faults)
        return "http://127.0.0.1:%d/file/%s.exe%s" % (self.mirrors[slot].port, name, "?" + query if query else "")

    def publish_version(self, text=None, raw=None):
        path = os.path.join(self.version_docroot, VERSION_PATH.lstrip("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if text is None and raw is None:
            if os.path.exists(path):
                os.remove(path)
            return
        with open(path, "wb") as f:
            f.write(raw if raw is not None else text.encode("utf-8"))

    def version_text(self, setup="good", version=PROTOCOL, crc=None, urls=None, filename=None,
                     sleep_interval=None, extra=""):
        crc = crc32_of(self.setups[setup]) if crc is None else crc
        urls = [self.mirror_url(0, setup)] if urls is None else urls
        lines = ["[VERSION]", "ONLINE_SETUP_VERSION = %s" % version, "", "[DOWNLOAD.PRO]"]
        if filename is not None:
            lines.append("FILENAME = %s" % filename)
        lines.append("CRC32 = %s" % (crc if isinstance(crc, str) else "%08X" % crc))
        for i, url in enumerate(urls):
            lines.append("URL%d = %s" % (i + 1, url))
        if sleep_interval is not None:
            lines.append("sleepInterval = %s" % sleep_interval)
        return "\n".join(lines) + "\n" + extra

    def wine(self, args, **kw):
        return subprocess.Popen([WINE] + args, env=self.env, stdin=subprocess.DEVNULL, **kw)

    def wintool(self, *args):
        out = os.path.join(self.work, "wintool.out")
        with open(out, "wb") as f:
            code = self.wine([os.path.join(self.bindir, "tw_wintool.exe")] + list(args), stdout=f,
                             stderr=subprocess.DEVNULL).wait(timeout=60)
        return code, _read(out).decode("utf-8", "replace").strip()

    def hold_file(self, path_win):
        """A Windows process that holds the file open without sharing; kill() it when done."""
        out = os.path.join(self.work, "hold.out")
        with open(out, "wb") as f:
            proc = self.wine([os.path.join(self.bindir, "tw_wintool.exe"), "hold", path_win], stdout=f,
                             stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while time.time() < deadline:
            if b"held" in _read(out):
                return proc
            if proc.poll() is not None:
                break
            time.sleep(0.05)
        proc.kill()
        raise RuntimeError("could not hold " + path_win)

    def run_holding(self, path_win, *args, **kw):
        """run() while another Windows process holds path_win open without sharing."""
        holder = self.hold_file(path_win)
        try:
            return self.run(*args, **kw)
        finally:
            holder.kill()
            holder.wait()

    def run(self, args=(), timeout=90, close_when=None, receiver=True, lang=None, expect_exit=True):
        """Runs the online setup once. close_when(rig) -> True closes the window
        (for runs that are not silent and end on a failure)."""
        for path in (self.launch_log, self.trace_log):
            if os.path.exists(path):
                os.remove(path)
        for server in self.servers:
            server.requests.clear()
        env = dict(self.env)
        env["TW_E2E_LAUNCH_LOG"] = win_path(self.launch_log)
        if lang:
            env["LANG"] = lang
            env["LC_ALL"] = lang
        xrecv = None
        if receiver:
            xrecv = subprocess.Popen([WINE, os.path.join(self.bindir, "tw_xrecv.exe"), win_path(self.trace_log)],
                                     env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            _wait_for(lambda: os.path.exists(self.trace_log) and b"ready" in _read(self.trace_log), 20)
        started = time.time()
        with open(os.path.join(self.work, "setup.out"), "wb") as out:
            proc = subprocess.Popen([WINE, self.exe] + list(args),
                                    env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        closed = False
        try:
            while proc.poll() is None:
                if time.time() - started > timeout:
                    raise AssertionError("the online setup did not end within %d s" % timeout)
                if close_when is not None and not closed and close_when(self):
                    self.wintool("close")
                    closed = True
                time.sleep(0.1)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            if xrecv is not None:
                xrecv.kill()
                xrecv.wait()
        elapsed = time.time() - started
        # The setup program is started asynchronously by the shell.
        launches = []
        if os.path.exists(self.launch_log) or _wait_for(lambda: os.path.exists(self.launch_log), 3):
            time.sleep(0.2)
            launches = [strip_program(line) for line in
                        _read(self.launch_log).decode("utf-8").splitlines() if line]
        traces = []
        if os.path.exists(self.trace_log):
            for line in _read(self.trace_log).decode("utf-8").splitlines():
                parts = line.split("\t", 2)
                if len(parts) == 3:
                    traces.append({"dwData": int(parts[0]), "cbData": int(parts[1]), "text": parts[2]})
        reports = []
        for request in list(self.errorlog_server.requests):
            values = urllib.parse.parse_qs(request["query"], keep_blank_values=True)
            report = {k: v[0] for k, v in values.items()}
            report["_path"] = request["path"]
            report["_agent"] = request["headers"].get("User-Agent", "")
            report["_raw_query"] = request["query"]
            reports.append(report)
        return RunResult(proc.returncode, launches, reports, traces, elapsed)

    def set_windows_version(self, version):
        """Per-program Windows version of the prefix (None: the default)."""
        key = r"HKCU\Software\Wine\AppDefaults\TarnwickOnlineSetup.exe"
        if version is None:
            args = ["reg", "delete", key, "/v", "Version", "/f"]
        else:
            args = ["reg", "add", key, "/v", "Version", "/d", version, "/f"]
        self.wine(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait(timeout=60)


def strip_program(command_line):
    """The arguments of a command line: everything after the program path."""
    line = command_line
    if line.startswith('"'):
        end = line.find('"', 1)
        rest = line[end + 1:]
    else:
        rest = line[line.find(" "):] if " " in line else ""
    return rest[1:] if rest.startswith(" ") else rest


def _run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _wait_for(predicate, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


def wait_for(predicate, seconds):
    return _wait_for(predicate, seconds)


def requests_json(server):
    return json.dumps(list(server.requests), indent=1)
