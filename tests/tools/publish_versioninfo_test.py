"""tools/publish_versioninfo.py against the suite's fault-injecting server."""
import contextlib
import hashlib
import io
import os
import socket
import sys
import tempfile
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
import publish_versioninfo as tool  # noqa: E402
from test_server import FaultServer  # noqa: E402


def run(*argv):
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        code = tool.main(list(argv))
    return code, out.getvalue(), err.getvalue()


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Write(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tw-publish-")
        self.out = os.path.join(self.dir, "versioninfo.ini")

    def setup_file(self, name, data=b"MZ setup"):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_writes_the_sections_and_keys_the_program_reads(self):
        general = self.setup_file("Setup 32.exe", b"x86 setup")
        x64 = self.setup_file("setup64.exe", b"x64 setup")
        code, _, err = run("write", "-o", self.out, "--setup", general, "--setup-x64", x64,
                           "--mirror", "https://m1.example/tw/", "--mirror", "http://m2.example/{name}?k=1",
                           "--sleep-interval", "250")
        self.assertEqual((code, err), (0, ""))
        with open(self.out, "rb") as f:
            lines = f.read().decode("utf-8").split("\r\n")
        self.assertEqual(lines[1:], [
            "[VERSION]", "ONLINE_SETUP_VERSION=20200204", "",
            "[DOWNLOAD.PRO]", "sleepInterval=250", "FILENAME=Setup 32.exe",
            "CRC32=%08X" % zlib.crc32(b"x86 setup"), "SHA256=" + hashlib.sha256(b"x86 setup").hexdigest(),
            "URL1=https://m1.example/tw/Setup%2032.exe", "URL2=http://m2.example/Setup%2032.exe?k=1",
            "URL3=", "URL4=", "URL5=", "",
            "[DOWNLOAD.PRO.X64]", "FILENAME=setup64.exe", "CRC32=%08X" % zlib.crc32(b"x64 setup"),
            "SHA256=" + hashlib.sha256(b"x64 setup").hexdigest(),
            "URL1=https://m1.example/tw/setup64.exe", "URL2=http://m2.example/setup64.exe?k=1",
            "URL3=", "URL4=", "URL5=", ""])

    def test_refuses_what_the_program_would_misread(self):
        good = ["--mirror", "http://m.example/"]
        cases = [
            ("six mirrors", ["--mirror", "http://m.example/"] * 6, "mirrors"),
            ("no mirror", [], "no mirror"),
            ("ftp mirror", ["--mirror", "ftp://m.example/"], "http or https"),
            ("space in mirror", ["--mirror", "http://m.example/a b/"], "white space"),
            ("protocol 0", good + ["--protocol", "0"], "accepts 1 to 20200204"),
            ("newer protocol", good + ["--protocol", "20200205"], "accepts 1 to 20200204"),
            ("sleep below 0", good + ["--sleep-interval", "-1"], "unsigned 32-bit"),
            ("folder in name", good, "folder", "sub\\setup.exe"),
            ("drive in name", good, "folder, a drive", "C:setup.exe"),
            ("quoted name", good, "unquoted", '"setup.exe"'),
            ("device name", good, "names a device", "Com1 .exe"),
            ("console name", good, "names a device", "con"),
        ]
        for case in cases:
            label, args, message = case[:3]
            name = case[3] if len(case) > 3 else "setup.exe"
            with self.subTest(label):
                out = os.path.join(self.dir, label + ".ini")
                code, _, err = run("write", "-o", out, "--setup-x86", self.setup_file(name), *args)
                self.assertEqual(code, 2)
                self.assertIn(message, err)
                self.assertFalse(os.path.exists(out))

    def test_warns_of_values_the_program_treats_apart(self):
        code, _, err = run("write", "-o", self.out, "--setup", self.setup_file("empty.exe", b""),
                           "--mirror", "http://m.example/", "--sleep-interval", "10001")
        self.assertEqual(code, 0)
        self.assertIn("CRC-32 is 0, so the program never reuses", err)
        self.assertIn("sleepInterval 10001 ms: the program waits at most 10000 ms", err)
        _, warnings = tool.version_info_text([("DOWNLOAD.PRO", "a.exe", 0xFFFFFFFF, "")], ["http://m/"], 0)
        self.assertIn("skip the CRC comparison", warnings[0])
        _, warnings = tool.version_info_text([("DOWNLOAD.PRO.X64", "a.exe", 1, "")], ["http://m/"], 0)
        self.assertEqual([w.split(":")[0] for w in warnings], ["no setup for X86 machines", "no setup for A64 machines"])


class Read(unittest.TestCase):
    def test_duplicate_keys_as_the_program_finds_them(self):
        # First of a name; the last once the section holds more than 30 entries (its index).
        for count, expected in ((2, "first"), (31, "last")):
            entries = ["URL1 = first"] + ["k%d = v" % i for i in range(count - 2)] + ["url1 = last"]
            sections = tool.parse_ini(("[Download.Pro]\n" + "\n".join(entries)).encode())
            self.assertEqual(tool.effective_download(sections, "X64")["urls"][0], expected, count)


class Check(unittest.TestCase):
    """A version server and two mirrors: one with the setup, one stale."""

    def setUp(self):
        root = tempfile.mkdtemp(prefix="tw-check-")
        self.good = b"the current setup " * 5000
        self.docs = {name: os.path.join(root, name) for name in ("version", "good", "stale")}
        for name, path in self.docs.items():
            os.makedirs(path)
        for name, data in (("good", self.good), ("stale", b"last month's setup " * 4000)):
            with open(os.path.join(self.docs[name], "setup.exe"), "wb") as f:
                f.write(data)
        self.servers = {name: FaultServer(docroot=path).start() for name, path in self.docs.items()}
        self.addCleanup(lambda: [s.stop() for s in self.servers.values()])

    def url(self, server, path):
        return "http://127.0.0.1:%d%s" % (self.servers[server].port, path)

    def check(self, urls, digests=None, version=20200204):
        lines = ["[VERSION]", "ONLINE_SETUP_VERSION = %d" % version, "[download.pro]"]
        lines += digests or ["crc32 = 0x%08x" % zlib.crc32(self.good)]
        lines += ["URL%d = %s" % (i + 1, url) for i, url in enumerate(urls)]
        with open(os.path.join(self.docs["version"], "versioninfo.ini"), "w") as f:
            f.write("\n".join(lines) + "\n")
        return run("check", self.url("version", "/versioninfo.ini"), "--timeout", "5")

    def test_reports_each_mirror(self):
        cases = [  # URL, verdict in the report
            (self.url("good", "/setup.exe"), "ok status 200, Content-Length %d" % len(self.good)),
            (self.url("stale", "/setup.exe"), "STALE status 200"),
            ("http://127.0.0.1:%d/setup.exe" % closed_port(), "DOWN (URLError"),
            (self.url("good", "/missing/setup.exe"), "DOWN (status 404)"),
            (self.url("good", "/setup.exe?drop_after=1000"), "DOWN status 200, Content-Length %d, 1000 bytes" % len(self.good)),
        ]
        code, out, _ = self.check([url for url, _ in cases])
        self.assertEqual(code, 1, out)
        for url, verdict in cases:
            self.assertIn("%s: %s" % (url, verdict), out)
        self.assertIn("(expected %08X)" % zlib.crc32(self.good), out)
        self.assertIn("X64: the same as X86", out)
        code, out, _ = run("check", "http://127.0.0.1:%d/versioninfo.ini" % closed_port(), "--timeout", "5")
        self.assertEqual((code, "DOWN" in out), (1, True), out)

    def test_sha256_judges_the_mirrors(self):
        mirrors = [self.url("good", "/setup.exe"), self.url("stale", "/setup.exe")]
        # CRC32 FFFFFFFF leaves the comparison to the SHA-256 alone.
        code, out, _ = self.check(mirrors, ["CRC32=FFFFFFFF", "SHA256=" + hashlib.sha256(self.good).hexdigest().upper()])
        self.assertEqual(code, 1, out)
        self.assertIn("%s: ok" % mirrors[0], out)
        self.assertIn("%s: STALE" % mirrors[1], out)
        self.assertIn("(expected %s)" % hashlib.sha256(self.good).hexdigest(), out)
        code, out, _ = self.check(mirrors[:1], ["SHA256=abc"])
        self.assertEqual(code, 1, out)
        self.assertIn("REFUSED: SHA256 'abc' is not 64 hex digits", out)

    def test_version_and_crc_read_as_the_program_reads_them(self):
        # A signed comparison takes 4294967295 (no kill switch); "-1" makes wcstoul's FFFFFFFF, which skips nothing.
        for version, crc, refused in ((20200205, "FFFFFFFF", "ONLINE_SETUP_VERSION"), (4294967295, "FFFFFFFF", None),
                                      (20200204, "-1", "REFUSED: CRC32 '-1' has a sign")):
            code, out, _ = self.check([self.url("good", "/setup.exe"), self.url("good", "/setup.exe?rate=2000000")],
                                      ["CRC32=" + crc], version)
            self.assertEqual((code, "REFUSED" in out), (int(bool(refused)), bool(refused)), out)
            self.assertIn(refused or "0 problem(s)", out)


if __name__ == "__main__":
    unittest.main()
