#!/usr/bin/env python3
"""Writes and checks the version-info file that TarnwickOnlineSetup.exe reads.

  publish_versioninfo.py write -o versioninfo.ini --mirror BASE_URL [--mirror ...]
        [--setup FILE] [--setup-x86 FILE] [--setup-x64 FILE] [--setup-a64 FILE]
        [--sleep-interval MS] [--protocol N]
  publish_versioninfo.py check URL [--cafile PEM] [--timeout S]

write: each setup file is published under its own name at every mirror base URL
(BASE_URL/NAME, or BASE_URL with {name} replaced by the name). --setup fills the general section DOWNLOAD.PRO, which machines
read first and which alone serves an architecture without a section of its
own; --setup-x86/-x64/-a64 fill DOWNLOAD.PRO.X86/.X64/.A64, which override it
key by key. Refuses what the program would misread; warns of what it treats
in its own way. Exit code 2 on a refusal.

check: fetches the published file, reads it as the program does, downloads
every mirror URL of every architecture once and reports per mirror: status,
Content-Length, CRC-32 against the file's CRC32, SHA-256 against its SHA256
when it has one, and speed. Exit code 1 when
any mirror is stale or down or the file itself would fail; 0 when all is well.
"""
import argparse
import re
import collections
import hashlib
import http.client
import os
import ssl
import sys
import time
import urllib.error
import urllib.parse
import urllib.request
import zlib

PROTOCOL_NUMBER = 20200204   # the highest ONLINE_SETUP_VERSION the program accepts
MAX_MIRRORS = 5              # URL1 .. URL5
ARCH_TAGS = ("X86", "X64", "A64")
GENERAL = "DOWNLOAD.PRO"
CRC_SKIPS_COMPARISON = 0xFFFFFFFF
MAX_SLEEP_INTERVAL_MS = 10000  # the program waits at most this long between mirror starts
# Names the system takes for devices in any folder; the program downloads to
# its default name instead. The port digits include the superscripts 1, 2, 3.
DEVICE_NAME = re.compile(r"(con|prn|aux|nul|conin\$|conout\$|(com|lpt)[1-9\u00b9\u00b2\u00b3]) *(\..*)?$",
                         re.IGNORECASE)
SHA256_TEXT = re.compile(r"[0-9A-Fa-f]{64}$")
# What the program's URL buffers hold (bytes with the terminating zero) and
# the longest URL it escapes at all.
MAX_HOST, MAX_PATH_AND_QUERY, MAX_URL = 256, 2048, 8192
INDEXED_ENTRIES = 30         # a section with more entries finds the last of a name
AGENT = "TarnwickPublishCheck/1"


class Refusal(Exception):
    """Something the program would misread or refuse."""


# ---- rules shared by both modes ------------------------------------------
def check_protocol(value):
    try:
        number = int(str(value), 10)
    except ValueError:
        raise Refusal("ONLINE_SETUP_VERSION %r is not a decimal number" % value)
    if not 1 <= number <= PROTOCOL_NUMBER:
        raise Refusal("ONLINE_SETUP_VERSION %d: the program accepts 1 to %d only" % (number, PROTOCOL_NUMBER))
    return number


def check_file_name(name):
    if not name:
        raise Refusal("empty FILENAME")
    if any(c in name for c in "\\/:") or name in (".", ".."):
        raise Refusal("FILENAME %r has a folder, a drive or a stream: it must be a bare name" % name)
    if name != name.strip() or name[0] in "\"'" or any(ord(c) < 0x20 for c in name):
        raise Refusal("FILENAME %r would be trimmed, unquoted or cut when the program reads it" % name)
    if name.endswith("."):
        raise Refusal("FILENAME %r ends with a dot, which Windows drops" % name)
    if DEVICE_NAME.match(name):
        raise Refusal("FILENAME %r names a device: the program saves the setup under its default name" % name)
    return name


def check_sha256(text):
    """An empty SHA256 is none offered; anything but 64 hex digits fails every download."""
    if text and not SHA256_TEXT.match(text):
        raise Refusal("SHA256 %r is not 64 hex digits: the program would refuse every download" % text)
    return text.lower()


def sleep_warnings(interval):
    if interval > MAX_SLEEP_INTERVAL_MS:
        return ["sleepInterval %d ms: the program waits at most %d ms between mirror starts"
                % (interval, MAX_SLEEP_INTERVAL_MS)]
    return []


def check_url(url):
    parts = urllib.parse.urlsplit(url)
    if parts.scheme not in ("http", "https") or not parts.hostname:
        raise Refusal("URL %r: absolute http or https URLs only" % url)
    if any(ord(c) <= 0x20 or ord(c) == 0x7F for c in url):
        raise Refusal("URL %r holds white space or control characters" % url)
    path_and_query = len((parts.path or "/").encode()) + len(("?" + parts.query).encode() if parts.query else b"")
    if (len(url) > MAX_URL or len(parts.hostname.encode()) >= MAX_HOST
            or path_and_query >= MAX_PATH_AND_QUERY):
        raise Refusal("URL %r is longer than the program's URL buffers" % url)
    return url


def crc_warnings(crc, name, skips):
    if crc == 0:
        return ["%s: CRC-32 is 0, so the program never reuses this file from the temporary folder "
                "and downloads it on every run" % name]
    if skips:
        return ["%s: CRC-32 is FFFFFFFF, the value that makes the program skip the CRC comparison: "
                "a corrupt download goes straight to the signature check" % name]
    return []


# ---- write ---------------------------------------------------------------
def file_digests(path):
    """(CRC-32, SHA-256 hex) of a file."""
    crc, sha = 0, hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            crc = zlib.crc32(block, crc)
            sha.update(block)
    return crc & 0xFFFFFFFF, sha.hexdigest()


def mirror_url(base, name):
    """BASE/NAME, or BASE with {name} replaced (for a mirror whose URL goes on after the name)."""
    quoted = urllib.parse.quote(name)
    if "{name}" in base:
        return check_url(base.replace("{name}", quoted))
    return check_url(base.rstrip("/") + "/" + quoted)


def version_info_text(sections, mirrors, sleep_interval, protocol=PROTOCOL_NUMBER):
    """sections: [(section name, file name, crc, sha256 hex)]. Returns (text, warnings)."""
    check_protocol(protocol)
    if not mirrors:
        raise Refusal("no mirror URL: the program would have nothing to download")
    if len(mirrors) > MAX_MIRRORS:
        raise Refusal("%d mirrors: the program reads URL1 to URL%d only" % (len(mirrors), MAX_MIRRORS))
    if not 0 <= sleep_interval <= 0xFFFFFFFF:
        raise Refusal("sleepInterval %d is not an unsigned 32-bit number" % sleep_interval)
    warnings = sleep_warnings(sleep_interval)
    lines = ["; Written by tools/publish_versioninfo.py", "[VERSION]",
             "ONLINE_SETUP_VERSION=%d" % protocol, "", "[%s]" % GENERAL,
             "sleepInterval=%d" % sleep_interval]
    general_has_setup = any(section == GENERAL for section, _, _, _ in sections)
    for section, name, crc, sha256 in sections:
        check_file_name(name)
        warnings += crc_warnings(crc, name, crc == CRC_SKIPS_COMPARISON)
        if section != GENERAL:
            lines += ["", "[%s]" % section]
        # All five URL keys, empty ones too: an architecture section overrides
        # the general one key by key, and a URL left out there would send this
        # architecture to the general section's file.
        lines += ["FILENAME=%s" % name, "CRC32=%08X" % crc, "SHA256=%s" % check_sha256(sha256)]
        urls = [mirror_url(base, name) for base in mirrors]
        lines += ["URL%d=%s" % (i + 1, urls[i] if i < len(urls) else "") for i in range(MAX_MIRRORS)]
    if not general_has_setup:
        covered = {section.rsplit(".", 1)[-1] for section, _, _, _ in sections}
        for tag in ARCH_TAGS:
            if tag not in covered:
                warnings.append("no setup for %s machines: neither DOWNLOAD.PRO.%s nor a general --setup" % (tag, tag))
    return "\r\n".join(lines) + "\r\n", warnings


def cmd_write(args):
    chosen = [(GENERAL, args.setup)] + [("%s.%s" % (GENERAL, tag), getattr(args, "setup_" + tag.lower()))
                                        for tag in ARCH_TAGS]
    chosen = [(section, path) for section, path in chosen if path]
    if not chosen:
        raise Refusal("no setup file given (--setup or --setup-x86/-x64/-a64)")
    sections = [(section, os.path.basename(path)) + file_digests(path) for section, path in chosen]
    text, warnings = version_info_text(sections, args.mirror or [], args.sleep_interval, args.protocol)
    for warning in warnings:
        print("warning: " + warning, file=sys.stderr)
    with open(args.output, "w", encoding="utf-8", newline="") as f:
        f.write(text)
    for section, name, crc, sha256 in sections:
        print("%-20s %s  CRC32 %08X  SHA256 %s" % (section, name, crc, sha256))
    return 0


# ---- reading as the program reads ----------------------------------------
# The program's white space: U+0009..U+000D, U+0020, U+00A0 and the spaces above U+00FF.
_WHITE = "\t\n\v\f\r \u00a0" + "".join(chr(c) for c in range(0x100, 0x3001) if chr(c).isspace())


def _trim(text):
    return text.strip(_WHITE)


def parse_ini(data):
    """{folded section name: [(key, value)]} from INI bytes, the program's way."""
    if data[:2] == b"\xff\xfe":
        text = data[2:len(data) - len(data) % 2].decode("utf-16-le", "replace")
    else:
        text = data[3:] if data[:3] == b"\xef\xbb\xbf" else data
        text = text.split(b"\0", 1)[0].decode("utf-8", "replace")
    sections, current = {}, None
    for raw in text.replace("\r", "").split("\n"):
        line = _trim(raw)
        if not line or line.startswith(";"):
            continue
        if len(line) >= 2 and line[0] == "[" and line[-1] == "]":
            name = _trim(line[1:-1])
            current = sections.setdefault(name.lower(), []) if name else None
        elif current is not None and "=" in line:
            key, value = _trim(line.split("=", 1)[0]), _trim(line.split("=", 1)[1])
            if len(value) >= 2 and value[0] == value[-1] and value[0] in "\"'":
                value = value[1:-1]
            if key:
                current.append((key, value))
        elif current is not None:
            current.append((_trim(line.split(";", 1)[0]), ""))
    return sections


def lookup(sections, section, key, default):
    entries = sections.get(section.lower())
    if entries is None:
        return default
    found = [value for name, value in entries if name.lower() == key.lower()]
    if not found:
        return default
    return found[-1] if len(entries) > INDEXED_ENTRIES else found[0]


def wcstoul(text, base):
    """The run-time's wcstoul: spaces, sign, optional 0x (base 16), digits; saturates."""
    text = text.lstrip(" \t\n\v\f\r")
    sign = -1 if text[:1] == "-" else 1
    text = text[1:] if text[:1] in "+-" else text
    if base == 16 and text[:2].lower() == "0x":
        text = text[2:]
    digits = ""
    for c in text:
        if c.lower() not in "0123456789abcdef"[:base]:
            break
        digits += c
    if not digits:
        return 0
    value = int(digits, base)
    return 0xFFFFFFFF if value > 0xFFFFFFFF else (value * sign) & 0xFFFFFFFF


def effective_download(sections, tag):
    """What the program on a machine of this architecture downloads."""
    info = {"FILENAME": "", "CRC32": "", "SHA256": "", "sleepInterval": 0}
    urls = [""] * MAX_MIRRORS
    for section in (GENERAL, "%s.%s" % (GENERAL, tag)):
        info["FILENAME"] = lookup(sections, section, "FILENAME", info["FILENAME"])
        info["CRC32"] = lookup(sections, section, "CRC32", info["CRC32"])
        info["SHA256"] = lookup(sections, section, "SHA256", info["SHA256"])
        urls = [lookup(sections, section, "URL%d" % (i + 1), urls[i]) for i in range(MAX_MIRRORS)]
        interval = lookup(sections, section, "sleepInterval", None)
        if interval is not None:
            info["sleepInterval"] = wcstoul(interval, 10)
    info["urls"] = urls
    info["crc"], info["crc_rule"] = crc_rule(info["CRC32"])
    return info


def crc_rule(text):
    """(value, rule) of a CRC32 text as the program reads it: "skip" only for eight F (either case, an optional
    0x); "none", no file matches, for a sign or more than 32 bits; else "compare"."""
    stripped = text.lstrip(" \t\n\v\f\r")
    digits = re.match(r"(?:0[xX])?([0-9A-Fa-f]*)", stripped).group(1)
    if stripped[:1] in ("+", "-") or (digits and int(digits, 16) > 0xFFFFFFFF):
        return wcstoul(text, 16), "none"
    return wcstoul(text, 16), "skip" if re.fullmatch(r"(?:0[xX])?[fF]{8}", text) else "compare"


def program_takes_version(text):
    """Whether the program goes on with this ONLINE_SETUP_VERSION: wcstoul's number taken as a signed 32-bit one,
    neither 0 nor above PROTOCOL_NUMBER (so 2147483648 and above pass, as negative numbers do)."""
    value = wcstoul(text, 10)
    return value != 0 and (value if value < 1 << 31 else value - (1 << 32)) <= PROTOCOL_NUMBER


# ---- check ---------------------------------------------------------------
Fetched = collections.namedtuple("Fetched", "status length size crc sha256 seconds body")


def fetch(url, context, timeout, keep_body=False):
    """One GET, the body read to its end. Network failures raise OSError or
    http.client.HTTPException (a body cut short)."""
    request = urllib.request.Request(url, headers={"User-Agent": AGENT, "Cache-Control": "no-cache"})
    started = time.monotonic()
    try:
        response = urllib.request.urlopen(request, timeout=timeout, context=context)
    except urllib.error.HTTPError as error:
        return Fetched(error.code, None, 0, 0, "", time.monotonic() - started, b"")
    with response:
        length = response.headers.get("Content-Length")
        crc, size, kept, sha = 0, 0, [], hashlib.sha256()
        for block in iter(lambda: response.read(1 << 16), b""):
            crc = zlib.crc32(block, crc)
            sha.update(block)
            size += len(block)
            if keep_body:
                kept.append(block)
    return Fetched(response.status, int(length) if length is not None else None, size, crc & 0xFFFFFFFF,
                   sha.hexdigest(), time.monotonic() - started, b"".join(kept))


def cmd_check(args):
    context = ssl.create_default_context(cafile=args.cafile)
    problems = 0
    try:
        published = fetch(args.url, context, args.timeout, keep_body=True)
    except (OSError, ValueError, http.client.HTTPException) as error:
        print("version-info %s: DOWN (%s)" % (args.url, getattr(error, "reason", error)))
        return 1
    if not 200 <= published.status < 300:
        print("version-info %s: DOWN (status %d)" % (args.url, published.status))
        return 1
    print("version-info %s: %d bytes" % (args.url, published.size))
    sections = parse_ini(published.body)
    version = lookup(sections, "VERSION", "ONLINE_SETUP_VERSION", "0")
    if not program_takes_version(version):
        print("  REFUSED by the program: ONLINE_SETUP_VERSION %r is missing, 0 or above %d" % (version, PROTOCOL_NUMBER))
        problems += 1

    results = {}  # url -> fetch result or error text; each mirror is asked once
    seen = {}     # what an architecture downloads -> the first tag that does
    for tag in ARCH_TAGS:
        info = effective_download(sections, tag)
        key = (info["FILENAME"], info["crc"], info["SHA256"], info["sleepInterval"], tuple(info["urls"]))
        if key in seen:
            print("%s: the same as %s" % (tag, seen[key]))
            continue
        seen[key] = tag
        urls = [url for url in info["urls"] if url]
        print("%s: FILENAME %s, CRC32 %08X, sleepInterval %d ms" % (
            tag, info["FILENAME"] or "(default)", info["crc"], info["sleepInterval"]))
        notes = []
        try:
            if info["FILENAME"]:
                check_file_name(info["FILENAME"])
            if not urls:
                raise Refusal("no mirror URL")
            sha256 = check_sha256(info["SHA256"])
        except Refusal as refusal:
            notes.append("REFUSED: %s" % refusal)
            sha256 = ""
        if info["crc_rule"] == "none":
            notes.append("REFUSED: CRC32 %r has a sign or more than 32 bits: the program matches no file with it"
                         % info["CRC32"])
        notes += ["warning: " + w for w in crc_warnings(info["crc"], info["FILENAME"] or "the setup",
                                                        info["crc_rule"] == "skip")]
        notes += ["warning: " + w for w in sleep_warnings(info["sleepInterval"])]
        for note in notes:
            print("  " + note)
        problems += sum(note.startswith("REFUSED") for note in notes)
        lengths = set()
        for slot, url in enumerate(info["urls"]):
            if not url:
                continue
            if url not in results:
                try:
                    check_url(url)
                    results[url] = fetch(url, context, args.timeout)
                except Refusal as refusal:
                    results[url] = "refused: %s" % refusal
                except (OSError, ValueError, http.client.HTTPException) as error:
                    results[url] = "%s: %s" % (type(error).__name__, getattr(error, "reason", error))
            verdict, detail = judge(results[url], None if info["crc_rule"] == "skip" else info["crc"], sha256)
            if isinstance(results[url], Fetched) and results[url].length is not None:
                lengths.add(results[url].length)
            problems += verdict != "ok"
            print("  URL%d %s: %s %s" % (slot + 1, url, verdict.upper() if verdict != "ok" else "ok", detail))
        if len(lengths) > 1:
            print("  DIFFERENT Content-Lengths %s: the program's race fails (101) when two of them "
                  "answer first" % sorted(lengths))
            problems += 1
    print("%d problem(s)" % problems)
    return 1 if problems else 0


def judge(result, expected_crc, expected_sha256=""):
    """("ok" | "stale" | "down", text) for one mirror's fetch result; expected_crc None: not compared."""
    if isinstance(result, str):
        return "down", "(%s)" % result
    status, length, size, crc, sha256, seconds, _ = result
    if not 200 <= status < 300:
        return "down", "(status %d)" % status
    speed = "%.2f MB/s" % (size / seconds / 1e6 if seconds > 0 else 0.0)
    text = "status %d, Content-Length %s, %d bytes, CRC-32 %08X" % (
        status, "none" if length is None else length, size, crc)
    if length is None:
        return "down", text + " (the program needs a Content-Length), " + speed
    if length != size:
        return "down", text + " (the body and its Content-Length differ), " + speed
    if expected_crc is not None and crc != expected_crc:
        return "stale", text + " (expected %08X), %s" % (expected_crc, speed)
    if expected_sha256 and sha256 != expected_sha256:
        return "stale", text + ", SHA-256 %s (expected %s), %s" % (sha256, expected_sha256, speed)
    return "ok", text + ", " + speed


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    write = commands.add_parser("write", help="write the version-info file")
    write.add_argument("-o", "--output", required=True)
    write.add_argument("--mirror", action="append",
                       help="base URL of a mirror, or a URL with {name} (up to five)")
    write.add_argument("--setup", help="setup file of the general section DOWNLOAD.PRO")
    for tag in ARCH_TAGS:
        write.add_argument("--setup-" + tag.lower(), help="setup file of DOWNLOAD.PRO." + tag)
    write.add_argument("--sleep-interval", type=int, default=0, help="milliseconds between mirror starts")
    write.add_argument("--protocol", default=PROTOCOL_NUMBER, help="ONLINE_SETUP_VERSION")
    check = commands.add_parser("check", help="check the published file and its mirrors")
    check.add_argument("url")
    check.add_argument("--cafile", help="CA certificates (PEM) to trust for https")
    check.add_argument("--timeout", type=float, default=30.0, help="seconds per request")
    args = parser.parse_args(argv)
    try:
        if args.command == "write":
            args.protocol = check_protocol(args.protocol)
            return cmd_write(args)
        return cmd_check(args)
    except Refusal as refusal:
        print("refused: %s" % refusal, file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
