#!/usr/bin/env python3
"""Local HTTP/HTTPS test servers with faults chosen by the query string.

`test_server.py --state STATE` (run by wine-env.sh) serves STATE/www over plain
HTTP and over HTTPS with a good, an expired and a wrong-host certificate and one
that never answers the TLS handshake, and writes the ports to STATE/servers.env. The end-to-end rig imports FaultServer.

Paths: /gen/<size> a body of <size> bytes, byte i = (i * 31 + (i >> 11)) & 0xFF;
/echo... the request target and "User-Agent: ..."; anything else the file of
that path under the docroot, 404 when missing. Query parameters (combinable,
stateless so that they can travel inside mirror URLs): status=<code>,
redirect=<target> (301), nolength=1 (the body ends with the connection),
rate=<bytes per second>, burst=<n> bytes sent at once before the rate applies
(as a server that hands out an allowance before it paces), chunk=<n> bytes per
write when throttled (1: a drip), delay_ms=<n> before answering, drop_after=<n>
bytes then close, reset_after=<n> bytes then a TCP reset, stall_after=<n> bytes
then hold the connection (at most 120 s), length=<n> announced instead of the
body's size, headers=<n> bytes of filler headers, serve=<path> in place of the
requested one. A server's `faults` apply to every request (the version server's
path is fixed); faults["stall_handshake"] holds TLS connections unanswered.
Each request's record has at (its arrival, time.monotonic()), body_sent as it goes
and body_size when its answer ends; the fixture's HTTP server also appends
"<target> <sent>" to STATE/sent-http.log (the benchmark's count of the losers' bytes).
"""
import argparse
import os
import select
import signal
import socket
import ssl
import struct
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

STALL_LIMIT_S = 120
BLOCK = 2048  # the (i >> 11) term changes every BLOCK bytes
# i * 31 mod 256 repeats every 256 bytes and BLOCK * 31 is a multiple of 256,
# so block k is block 0 with k added to every byte: 256 variants.
_BLOCKS = [bytes((j * 31 + k) & 0xFF for j in range(BLOCK)) for k in range(256)]


def gen_bytes(offset, count):
    """Bytes [offset, offset + count) of a /gen/ body."""
    parts, end = [], offset + count
    while offset < end:
        k, j = divmod(offset, BLOCK)
        take = min(BLOCK - j, end - offset)
        parts.append(_BLOCKS[k & 0xFF][j:j + take])
        offset += take
    return b"".join(parts)


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):  # the owner records the requests
        pass

    def do_GET(self):
        owner = self.server.owner
        split = urllib.parse.urlsplit(self.path)
        query = dict(owner.faults, **{k: v[0] for k, v in urllib.parse.parse_qs(split.query, keep_blank_values=True).items()})
        self.entry = {"path": split.path, "query": split.query, "headers": dict(self.headers.items()),
                      "body_size": None, "body_sent": 0, "at": time.monotonic()}
        with owner.lock:
            owner.requests.append(self.entry)
        number = {k: int(v) for k, v in query.items() if v.lstrip("-").isdigit()}
        if number.get("delay_ms") and owner.stopping.wait(number["delay_ms"] / 1000.0):
            self.close_connection = True
            return
        path = urllib.parse.unquote(query.get("serve", split.path))
        if "redirect" in query:
            self.send_response(301)
            self.send_header("Location", query["redirect"])
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif "status" in number:
            self._send(number["status"], b"status %d\n" % number["status"], number)
        elif path.startswith("/gen/") and path[5:].isdigit():
            self._send(200, int(path[5:]), number)
        elif path == "/echo" or path.startswith("/echo/"):
            self._send(200, ("%s\nUser-Agent: %s\n" % (self.path, self.headers.get("User-Agent", ""))).encode(), number)
        else:
            data = owner.read_doc(path)
            self._send(404, b"not found\n", number) if data is None else self._send(200, data, number)

    def _send(self, status, body, number):
        """body: bytes, or the size of a generated body."""
        size = body if isinstance(body, int) else len(body)
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if number.get("nolength"):
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(number.get("length", size)))
            self.close_connection = number.get("length", size) > size  # the client sees the body cut short
        for i in range(number.get("headers", 0) // 1000):
            self.send_header("X-Fill-%d" % i, "f" * 980)
        self.end_headers()
        limit = min([size] + [number[k] for k in ("stall_after", "drop_after", "reset_after") if k in number])
        rate, burst, start, sent = number.get("rate"), number.get("burst", 0), time.monotonic(), 0
        chunk = number.get("chunk") or (max(1024, min(65536, rate // 500)) if rate else 65536)  # about 2 ms steps
        try:
            while sent < limit:
                n = min(chunk, limit - sent)
                self.wfile.write(gen_bytes(sent, n) if isinstance(body, int) else body[sent:sent + n])
                sent += n
                self.entry["body_sent"] = sent
                ahead = start + max(0, sent - burst) / float(rate) - time.monotonic() if rate else 0
                if ahead > 0 and self.server.owner.stopping.wait(ahead):
                    break
            if limit < size:
                self.close_connection = True
                self.wfile.flush()
                if "reset_after" in number and limit == number["reset_after"]:
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    self.connection.close()  # RST instead of FIN
                elif "drop_after" in number and limit == number["drop_after"]:
                    self.connection.shutdown(socket.SHUT_RDWR)  # a broken mirror
                else:
                    _hold(self.server.owner, self.connection)
        except OSError:
            self.close_connection = True
        finally:
            self.entry.update(body_size=size, body_sent=sent)
            self.server.owner.record_sent(self.path, sent)

def _hold(owner, connection):
    """Holds a connection unanswered until the client goes, the server stops or time is up."""
    deadline = time.monotonic() + STALL_LIMIT_S
    while not owner.stopping.is_set() and time.monotonic() < deadline:
        readable, _, _ = select.select([connection], [], [], 0.2)
        if readable and not connection.recv(4096):
            return


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, owner, address):
        self.owner = owner
        super().__init__(address, _Handler)

    def finish_request(self, request, client_address):
        # On the connection's own thread, so that a slow TLS handshake never holds up the accept loop.
        try:
            if self.owner.faults.get("stall_handshake"):
                _hold(self.owner, request)  # the ClientHello is never answered
            elif self.owner.tls is not None:
                request.settimeout(30)
                request = self.owner.tls.wrap_socket(request, server_side=True)
                request.settimeout(None)
            super().finish_request(request, client_address)
        except (OSError, ssl.SSLError):
            pass  # e.g. a client that refused our certificate or went away
        finally:
            request.close()  # the TLS wrapper is ours to close; the server closes only the plain socket

    def handle_error(self, request, client_address):
        pass


class FaultServer:
    """One test server on 127.0.0.1 (HTTPS when certfile is given); requests holds what it was asked."""

    def __init__(self, port=0, certfile=None, keyfile=None, docroot=None, sent_log=None):
        self.requested_port, self.port, self.sent_log = port, None, sent_log
        self.docroot = os.path.abspath(docroot) if docroot else None
        self.requests, self.lock, self.stopping, self.faults = [], threading.Lock(), threading.Event(), {}
        self.tls = None
        if certfile:
            self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls.load_cert_chain(certfile, keyfile)
        self._server = None

    def start(self):
        """Binds and serves; returns once the socket listens."""
        self.stopping.clear()
        self._server = _Server(self, ("127.0.0.1", self.requested_port))
        self.port = self._server.server_address[1]
        threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()
        return self

    def stop(self):
        self.stopping.set()
        if self._server is not None:
            self._server.shutdown()
            self._server.server_close()
            self._server = None

    def record_sent(self, target, sent):
        if self.sent_log:
            with self.lock, open(self.sent_log, "a", encoding="utf-8") as f:
                f.write("%s %d\n" % (target, sent))

    def read_doc(self, url_path):
        if not self.docroot:
            return None
        full = os.path.realpath(os.path.join(self.docroot, url_path.lstrip("/")))
        if not full.startswith(self.docroot + os.sep):
            return None  # outside the docroot
        try:
            with open(full, "rb") as f:
                return f.read()
        except OSError:
            return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--state", required=True)
    state = os.path.abspath(parser.parse_args().state)
    docroot = os.path.join(state, "www")
    os.makedirs(docroot, exist_ok=True)

    def cert(name):
        return dict(certfile=os.path.join(state, "certs", name + ".pem"), keyfile=os.path.join(state, "certs", name + ".key"))
    sent_log = os.path.join(state, "sent-http.log")
    if os.path.exists(sent_log):
        os.remove(sent_log)  # one run's answers
    servers = {"TW_HTTP_PORT": FaultServer(docroot=docroot, sent_log=sent_log), "TW_HTTPS_EXPIRED_PORT": FaultServer(**cert("expired")),
               "TW_HTTPS_WRONGHOST_PORT": FaultServer(**cert("wronghost")), "TW_HTTPS_PORT": FaultServer(**cert("localhost")),
               "TW_HTTPS_STALL_PORT": FaultServer(**cert("localhost"))}
    servers["TW_HTTPS_STALL_PORT"].faults["stall_handshake"] = 1
    for server in servers.values():
        server.start()
    done = threading.Event()
    for number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(number, lambda *_: done.set())
    with open(os.path.join(state, "servers.env.tmp"), "w") as f:
        f.writelines("export %s=%d\n" % (name, s.port) for name, s in servers.items())
    os.replace(os.path.join(state, "servers.env.tmp"), os.path.join(state, "servers.env"))  # appears whole
    done.wait()
    for server in servers.values():
        server.stop()


if __name__ == "__main__":
    main()
