#!/usr/bin/env python3
"""Local HTTP/HTTPS test servers with faults chosen by the query string.

Run by wine-env.sh as `test_server.py --state STATE`: starts four servers on
127.0.0.1 (plain HTTP, HTTPS with the good certificate, HTTPS with the expired
one, HTTPS with the wrong host name) and writes their ports to
STATE/servers.env. Importable for other tests:

    from test_server import FaultServer, gen_bytes
    server = FaultServer(docroot="/some/dir", log_path="/tmp/requests.jsonl")
    server.start(); ... server.port ...; server.stop()

URLs (all stateless; the faults come from the query so that they can travel
inside mirror URLs):
  /gen/<size>       a body of <size> bytes, byte i = gen_byte(i)
  /file/<name>      the file <name> from docroot
  /echo[/...]       the request target as received, then "User-Agent: ..."
  anything else     the file of that path under docroot; 404 when missing
Query parameters (combinable):
  status=<code>     answer with that status and a small body
  nolength=1        no Content-Length, the body ends when the connection closes
  length=<n>        announce <n> as Content-Length whatever the body is
  rate=<n>          send at most <n> body bytes per second
  burst=<n>         with rate: send the first <n> body bytes at once, as a
                    server that hands out an allowance before it paces
  stall_after=<n>   send <n> body bytes, then hold the connection (until the
                    client goes, the server stops, or 120 s)
  drop_after=<n>    send <n> body bytes, then close the connection
  delay_ms=<n>      wait before answering
  redirect=<target> answer 301 with Location <target>
"""

import argparse
import json
import os
import select
import signal
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

STALL_LIMIT_S = 120
BLOCK = 2048  # gen_byte's second term changes every BLOCK bytes


def gen_byte(i):
    """Byte i of every /gen/ body. The one place the formula lives."""
    return (i * 31 + (i >> 11)) & 0xFF


# i * 31 mod 256 repeats every 256 bytes and BLOCK * 31 is a multiple of 256,
# so block k is the first block with k added to every byte: 256 variants.
_BLOCKS = [bytes(gen_byte(j) + k & 0xFF for j in range(BLOCK)) for k in range(256)]


def gen_bytes(offset, count):
    """Bytes [offset, offset + count) of a /gen/ body."""
    parts = []
    end = offset + count
    while offset < end:
        k, j = divmod(offset, BLOCK)
        take = min(BLOCK - j, end - offset)
        parts.append(_BLOCKS[k & 0xFF][j:j + take])
        offset += take
    return b"".join(parts)


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TwFaultServer/1"

    def log_message(self, fmt, *args):  # quiet; requests go to the log file
        pass

    def do_HEAD(self):
        self._answer(head=True)

    def do_GET(self):
        self._answer(head=False)

    # -- helpers -------------------------------------------------------------
    def _int(self, query, name, default=None):
        try:
            return int(query[name][0])
        except (KeyError, ValueError, IndexError):
            return default

    def _answer(self, head):
        owner = self.server.owner
        split = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(split.query, keep_blank_values=True)
        # body_sent is filled in when the answer ends (in memory only, not in the log file).
        self._entry = {
            "method": self.command,
            "path": split.path,
            "query": split.query,
            "target": self.path,
            "headers": {k: v for k, v in self.headers.items()},
            "time": time.time(),
            "body_size": None,
            "body_sent": 0,
        }
        owner._record(self._entry)

        delay = self._int(query, "delay_ms")
        if delay:
            if owner._stopping.wait(delay / 1000.0):
                self.close_connection = True
                return

        redirect = query.get("redirect", [None])[0]
        if redirect is not None:
            body = b"moved\n"
            self.send_response(301)
            self.send_header("Location", redirect)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if not head:
                self.wfile.write(body)
            return

        status = self._int(query, "status")
        if status is not None:
            self._send_body(status, (b"status %d\n" % status), query, head)
            return

        path = urllib.parse.unquote(split.path)
        if path.startswith("/gen/"):
            try:
                size = int(path[5:])
            except ValueError:
                size = -1
            if size < 0:
                self._send_body(400, b"bad size\n", query, head)
                return
            self._send_body(200, size, query, head)
            return
        if path == "/echo" or path.startswith("/echo/"):
            ua = self.headers.get("User-Agent", "")
            body = ("%s\nUser-Agent: %s\n" % (self.path, ua)).encode("utf-8", "replace")
            self._send_body(200, body, query, head)
            return
        if path.startswith("/file/"):
            path = "/" + path[6:]
        data = owner._read_doc(path)
        if data is None:
            self._send_body(404, b"not found\n", query, head)
            return
        self._send_body(200, data, query, head)

    def _send_body(self, status, body, query, head):
        """body: bytes, or an int for a generated body of that size."""
        size = body if isinstance(body, int) else len(body)
        nolength = query.get("nolength", ["0"])[0] not in ("", "0")
        length = self._int(query, "length")
        rate = self._int(query, "rate")
        burst = self._int(query, "burst", 0)
        stall_after = self._int(query, "stall_after")
        drop_after = self._int(query, "drop_after")

        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if nolength:
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(length if length is not None else size))
        self.end_headers()
        if head:
            return

        limit = size
        if stall_after is not None:
            limit = min(limit, stall_after)
        if drop_after is not None:
            limit = min(limit, drop_after)
        start = time.monotonic()
        sent = 0
        chunk = 65536
        if rate:
            # Small steps (about 2 ms each) so that a throttled body flows
            # evenly rather than in bursts.
            chunk = max(1024, min(chunk, rate // 500))
        owner = self.server.owner
        try:
            while sent < limit:
                n = min(chunk, limit - sent)
                data = gen_bytes(sent, n) if isinstance(body, int) else body[sent:sent + n]
                self.wfile.write(data)
                sent += n
                if rate:
                    ahead = start + max(0, sent - burst) / float(rate) - time.monotonic()
                    if ahead > 0 and owner._stopping.wait(ahead):
                        break
        except OSError:
            self.close_connection = True
            return
        finally:
            self._entry.update(body_size=size, body_sent=sent)
            owner._record_sent(self.path, sent)
        if drop_after is not None and drop_after < size:
            self._drop()
        elif stall_after is not None and stall_after < size:
            self._stall()
        elif length is not None and length != size:
            # The announced length was a lie: the connection cannot be reused.
            self.close_connection = True

    def _drop(self):
        """Ends the connection in the middle of the body, as a broken mirror would."""
        self.close_connection = True
        try:
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def _stall(self):
        """Holds the connection open until the client goes or time is up."""
        self.close_connection = True
        owner = self.server.owner
        deadline = time.monotonic() + STALL_LIMIT_S
        while not owner._stopping.is_set() and time.monotonic() < deadline:
            try:
                readable, _, _ = select.select([self.connection], [], [], 0.2)
                if readable and not self.connection.recv(4096):
                    return  # the client closed its side
            except (OSError, ValueError):
                return


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, owner, address):
        self.owner = owner
        super().__init__(address, _Handler)

    def finish_request(self, request, client_address):
        # Runs on the connection's own thread, so a slow TLS handshake never
        # holds up the accept loop.
        if self.owner._ssl is not None:
            try:
                request.settimeout(30)
                request = self.owner._ssl.wrap_socket(request, server_side=True)
                request.settimeout(None)
            except (OSError, ssl.SSLError):
                return  # e.g. the client refused our certificate
        try:
            super().finish_request(request, client_address)
        except (OSError, ssl.SSLError):
            pass

    def handle_error(self, request, client_address):
        pass  # clients that go away mid-answer are part of the tests


class FaultServer:
    """One test server on 127.0.0.1 (HTTPS when certfile is given)."""

    def __init__(self, port=0, certfile=None, keyfile=None, docroot=None, log_path=None,
                 sent_log_path=None):
        self._requested_port = port
        self.docroot = os.path.abspath(docroot) if docroot else None
        self.log_path = log_path
        self.sent_log_path = sent_log_path  # "<target> <body bytes sent>" per answer
        self.requests = []  # dicts; append under _lock, read a copy via snapshot()
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        self._ssl = None
        if certfile:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(certfile, keyfile)
            self._ssl = ctx
        self._server = None
        self._thread = None
        self.port = None

    def start(self):
        """Binds and starts serving; returns once the socket is listening."""
        self._server = _Server(self, ("127.0.0.1", self._requested_port))
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.1}, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        self._stopping.set()
        if self._server is not None:
            self._server.shutdown()
            self._server.server_close()
            self._server = None

    def snapshot(self):
        with self._lock:
            return list(self.requests)

    def _record(self, entry):
        with self._lock:
            self.requests.append(entry)
            if self.log_path:
                with open(self.log_path, "a", encoding="utf-8") as f:
                    f.write(json.dumps(entry) + "\n")

    def _record_sent(self, target, sent):
        if self.sent_log_path:
            with self._lock, open(self.sent_log_path, "a", encoding="utf-8") as f:
                f.write("%s %d\n" % (target, sent))

    def _read_doc(self, url_path):
        if not self.docroot:
            return None
        full = os.path.realpath(os.path.join(self.docroot, url_path.lstrip("/")))
        if full != self.docroot and not full.startswith(self.docroot + os.sep):
            return None  # outside docroot
        try:
            with open(full, "rb") as f:
                return f.read()
        except OSError:
            return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--state", required=True)
    args = parser.parse_args()
    state = os.path.abspath(args.state)
    certs = os.path.join(state, "certs")
    docroot = os.path.join(state, "www")
    os.makedirs(docroot, exist_ok=True)

    def cert(name):
        return dict(certfile=os.path.join(certs, name + ".pem"),
                    keyfile=os.path.join(certs, name + ".key"))

    for name in ("requests-http.jsonl", "requests-https.jsonl", "sent-http.log"):
        try:
            os.remove(os.path.join(state, name))  # one run's requests per log
        except OSError:
            pass

    servers = {
        "TW_HTTP_PORT": FaultServer(docroot=docroot,
                                    log_path=os.path.join(state, "requests-http.jsonl"),
                                    sent_log_path=os.path.join(state, "sent-http.log")),
        "TW_HTTPS_PORT": FaultServer(docroot=docroot, **cert("localhost"),
                                     log_path=os.path.join(state, "requests-https.jsonl")),
        "TW_HTTPS_EXPIRED_PORT": FaultServer(docroot=docroot, **cert("expired")),
        "TW_HTTPS_WRONGHOST_PORT": FaultServer(docroot=docroot, **cert("wronghost")),
    }
    for server in servers.values():
        server.start()

    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())

    lines = ["export %s=%d\n" % (name, s.port) for name, s in servers.items()]
    lines.append("export TW_HTTP_DOCROOT='%s'\n" % docroot)
    tmp = os.path.join(state, "servers.env.tmp")
    with open(tmp, "w") as f:
        f.writelines(lines)
    os.replace(tmp, os.path.join(state, "servers.env"))  # appears whole
    sys.stdout.write("".join(lines))
    sys.stdout.flush()

    while not done.wait(1.0):
        pass
    for server in servers.values():
        server.stop()


if __name__ == "__main__":
    main()
