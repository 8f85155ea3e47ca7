"""A scripted HTTP server on 127.0.0.1 that misbehaves on purpose, for the
download and whole-program tests.

The behaviour of each path comes from a JSON config mapping paths (without the
query string) to an entry; paths not in it get 404:

    {
      "/rc/pkg/shell.zip": {"behaviour": "ok", "body": "shell.zip"},
      "/missing":          {"behaviour": "status", "status": 404},
      "/moved":            {"behaviour": "redirect", "location": "/rc/pkg/shell.zip"},
      "/short":            {"behaviour": "short", "body": "shell.zip", "cut": 1000},
      "/reset":            {"behaviour": "reset", "body": "shell.zip", "cut": 1000},
      "/hang":             {"behaviour": "hang"},
      "/stall":            {"behaviour": "stall", "body": "shell.zip", "cut": 1000},
      "/slow":             {"behaviour": "slow", "body": "shell.zip", "pieces": 20, "seconds": 3},
      "/chunked":          {"behaviour": "chunked", "body": "shell.zip", "chunk": 4096},
      "/ranges":           {"behaviour": "ranges", "body": "GameClient.zip", "damage": true},
      "/drop":             {"behaviour": "drop", "body": "GameClient.zip", "cut": 0.6}
    }

Bodies: "body" names a file (relative to the config file's folder), "text" is
an inline UTF-8 body; neither gives an empty body. "type" sets Content-Type.

  ok        200 with Content-Length and the whole body
  status    the given status code with a short text body
  redirect  302 (or "status") to "location"
  short     Content-Length of the whole body, only the first "cut" bytes
            (default half), then the connection is closed
  reset     like short, then the connection is reset (RST, not FIN)
  hang      reads the request and never answers, until the client closes
            the connection (its request line is then in FaultServer.gave_up())
            or the server stops
  stall     Content-Length of the whole body, the first "cut" bytes (default
            half), then silence as with hang
  slow      200 with Content-Length; the body in "pieces" parts spread over
            "seconds"
  chunked   200, Transfer-Encoding: chunked, no length; chunks of "chunk"
  ranges    as ok, but a "Range: bytes=A-B", "bytes=A-" or "bytes=-N" request
            gets 206 with Content-Range and a fixed ETag (one whose If-Range
            names another gets the whole body); with "damage", every range
            that does not reach the end of the body has its middle byte
            inverted
  drop      as ranges, but the first answer for the path is cut when "cut"
            (a fraction) of the body has gone out: the connection is closed

Each request line ("GET /path?query") is kept in order (FaultServer.requests())
and, with --log, appended to a file; FaultServer.bytes_sent(path) counts the
body bytes sent for a path. Used in-process as a context manager,
or as a program:

    fault_server.py CONFIG [--port N] [--log FILE]

which prints "port N" on its first line once it listens (N is chosen when
--port is 0 or absent) and serves until SIGTERM or SIGINT.
"""

import argparse
import json
import signal
import socket
import socketserver
import struct
import sys
import threading
import time
from pathlib import Path

# Bounds every wait of a handler, so no thread outlives a forgotten server.
MAX_WAIT_SECONDS = 300
HEADER_LIMIT = 64 * 1024

REASONS = {200: "OK", 206: "Partial Content", 301: "Moved Permanently", 302: "Found", 303: "See Other",
           307: "Temporary Redirect", 403: "Forbidden", 404: "Not Found",
           500: "Internal Server Error", 503: "Service Unavailable"}


def load_config(path):
    path = Path(path)
    return json.loads(path.read_text()), path.parent


class _Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, owner, port):
        self.owner = owner
        super().__init__(("127.0.0.1", port), _Handler)


class _Handler(socketserver.BaseRequestHandler):
    def handle(self):
        owner = self.server.owner
        sock = self.request
        sock.settimeout(30)
        while not owner.stopping.is_set():
            request = self._read_request(sock)
            if request is None:
                return
            method, target, headers = request
            owner.log(f"{method} {target}")
            entry = owner.entry(target.split("?", 1)[0])
            if not self._answer(sock, entry, owner, f"{method} {target}", headers):
                return

    @staticmethod
    def _read_request(sock):
        data = b""
        while b"\r\n\r\n" not in data:
            try:
                part = sock.recv(4096)
            except OSError:
                return None
            if not part or len(data) > HEADER_LIMIT:
                return None
            data += part
        lines = data.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
        words = lines[0].split(" ")
        if len(words) < 2:
            return None
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        return words[0], words[1], headers

    def _answer(self, sock, entry, owner, request_line, headers):
        """Sends the answer; False when the connection is finished with."""
        behaviour = entry.get("behaviour", "ok")
        body = owner.body(entry)
        kind = entry.get("type", "application/octet-stream")
        if behaviour == "ok":
            self._head(sock, 200, {"Content-Type": kind, "Content-Length": len(body)})
            sock.sendall(body)
            return True
        if behaviour in ("ranges", "drop"):
            path = request_line.split(" ")[1].split("?", 1)[0]
            wanted = headers.get("range", "")
            tag = headers.get("if-range")
            if not wanted.startswith("bytes=") or (tag is not None and tag != '"fixed"'):
                first, last, status = 0, len(body) - 1, 200
            else:
                first, _, last = wanted[6:].partition("-")
                if first:
                    first = int(first)
                    last = min(int(last), len(body) - 1) if last else len(body) - 1
                else:
                    first, last = max(0, len(body) - int(last)), len(body) - 1
                status = 206
            part = bytearray(body[first:last + 1])
            if entry.get("damage") and last < len(body) - 1:
                part[len(part) // 2] ^= 0xFF
            fields = {"Content-Type": kind, "Content-Length": len(part), "ETag": '"fixed"'}
            if status == 206:
                fields["Content-Range"] = f"bytes {first}-{last}/{len(body)}"
            self._head(sock, status, fields)
            if behaviour == "drop" and owner.first_answer(path):
                cut = int(len(body) * entry.get("cut", 0.5))
                owner.count(path, len(part[:cut]))
                sock.sendall(bytes(part[:cut]))
                return False
            owner.count(path, len(part))
            sock.sendall(bytes(part))
            return True
        if behaviour == "status":
            text = f"status {entry['status']}\n".encode()
            self._head(sock, entry["status"],
                       {"Content-Type": "text/plain", "Content-Length": len(text)})
            sock.sendall(text)
            return True
        if behaviour == "redirect":
            self._head(sock, entry.get("status", 302),
                       {"Location": entry["location"], "Content-Length": 0})
            return True
        if behaviour in ("short", "reset"):
            cut = entry.get("cut", len(body) // 2)
            self._head(sock, 200, {"Content-Type": kind, "Content-Length": len(body)})
            sock.sendall(body[:cut])
            if behaviour == "reset":
                # Closed here with a zero linger: an RST, with no FIN before it.
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                sock.close()
            return False
        if behaviour == "stall":
            self._head(sock, 200, {"Content-Type": kind, "Content-Length": len(body)})
            sock.sendall(body[:entry.get("cut", len(body) // 2)])
            behaviour = "hang"
        if behaviour == "hang":
            sock.settimeout(0.2)
            deadline = time.monotonic() + MAX_WAIT_SECONDS
            while not owner.stopping.is_set() and time.monotonic() < deadline:
                try:
                    if sock.recv(4096):
                        continue
                except socket.timeout:
                    continue
                except OSError:
                    pass
                owner.note_gave_up(request_line)
                return False
            return False
        if behaviour == "slow":
            pieces = max(1, entry.get("pieces", 20))
            pause = entry.get("seconds", 3) / pieces
            self._head(sock, 200, {"Content-Type": kind, "Content-Length": len(body)})
            step = -(-len(body) // pieces)
            for start in range(0, len(body), step):
                if owner.stopping.wait(pause):
                    return False
                sock.sendall(body[start:start + step])
            return True
        if behaviour == "chunked":
            size = max(1, entry.get("chunk", 4096))
            self._head(sock, 200, {"Content-Type": kind, "Transfer-Encoding": "chunked"})
            for start in range(0, len(body), size):
                piece = body[start:start + size]
                sock.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
            sock.sendall(b"0\r\n\r\n")
            return True
        raise ValueError(f"unknown behaviour {behaviour!r}")

    @staticmethod
    def _head(sock, status, headers):
        lines = [f"HTTP/1.1 {status} {REASONS.get(status, 'Status')}"]
        lines += [f"{name}: {value}" for name, value in headers.items()]
        sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))


class FaultServer:
    """Serves config (a dict, bodies relative to base) on 127.0.0.1:port in
    a background thread; port 0 picks a free port."""

    def __init__(self, config, base=".", port=0, log_file=None):
        self.config = config
        self.base = Path(base)
        self.log_file = Path(log_file) if log_file else None
        self.stopping = threading.Event()
        self._requests = []
        self._gave_up = []
        self._answered = set()
        self._bytes = {}
        self._lock = threading.Lock()
        self._server = _Server(self, port)
        self.port = self._server.server_address[1]
        self._thread = None

    def entry(self, path):
        return self.config.get(path, {"behaviour": "status", "status": 404})

    def body(self, entry):
        if "body" in entry:
            return (self.base / entry["body"]).read_bytes()
        return entry.get("text", "").encode()

    def log(self, line):
        with self._lock:
            self._requests.append(line)
            if self.log_file:
                with self.log_file.open("a") as f:
                    f.write(line + "\n")

    def requests(self):
        """The request lines so far, as "METHOD /path?query"."""
        with self._lock:
            return list(self._requests)

    def first_answer(self, path):
        """True the first time it is asked for path."""
        with self._lock:
            first = path not in self._answered
            self._answered.add(path)
            return first

    def count(self, path, size):
        with self._lock:
            self._bytes[path] = self._bytes.get(path, 0) + size

    def bytes_sent(self, path):
        """Body bytes of "ranges" and "drop" answers sent for path."""
        with self._lock:
            return self._bytes.get(path, 0)

    def note_gave_up(self, line):
        with self._lock:
            self._gave_up.append(line)

    def gave_up(self):
        """Request lines of "hang" and "stall" answers whose client closed
        the connection."""
        with self._lock:
            return list(self._gave_up)

    def __enter__(self):
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(MAX_WAIT_SECONDS)


def main():
    parser = argparse.ArgumentParser(description="Scripted faulty HTTP server on 127.0.0.1")
    parser.add_argument("config", help="JSON file mapping paths to behaviours")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log", help="file to append each request line to")
    args = parser.parse_args()
    config, base = load_config(args.config)
    done = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: done.set())
    with FaultServer(config, base, args.port, args.log) as server:
        print(f"port {server.port}", flush=True)
        while not done.wait(1):
            pass


if __name__ == "__main__":
    sys.exit(main())
