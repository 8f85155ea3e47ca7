"""A throttled resource server on 127.0.0.1 that serves files under /rc/ and
can stop in the middle of one file until the test lets it go on, so a
download can be caught visibly in progress."""

import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

CHUNK = 64 * 1024
# About 3 MiB/s: Wine's download reports progress as data trickles in, not
# for a burst that then stops.
CHUNK_PAUSE = 0.02


class StallServer:
    """Serves root under /rc/ on 127.0.0.1:port. The file named stall_path
    (a path under /rc/, query ignored) sends stall_after bytes, then waits
    until release() before it sends the rest, or closes the connection
    without it when released with cut."""

    def __init__(self, root, port, stall_path, stall_after):
        self.root = Path(root)
        self.port = port
        self.stall_path = stall_path
        self.stall_after = stall_after
        self.stalled = threading.Event()
        self._go_on = threading.Event()
        self._cut = False
        self.requests = []
        self._server = None
        self._thread = None

    def release(self, cut=False):
        self._cut = cut
        self._go_on.set()

    def released(self):
        return self._go_on.is_set()

    def __enter__(self):
        owner = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                owner.requests.append(self.path)
                path = self.path.split("?", 1)[0]
                target = owner.root / path[len("/rc/"):] if path.startswith("/rc/") else None
                if target is None or not target.is_file():
                    self.send_error(404)
                    return
                body = target.read_bytes()
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                stall_at = owner.stall_after if path == owner.stall_path else len(body)
                try:
                    for start in range(0, stall_at, CHUNK):
                        self.wfile.write(body[start:min(start + CHUNK, stall_at)])
                        self.wfile.flush()
                        time.sleep(CHUNK_PAUSE)
                    self.wfile.flush()
                    if stall_at < len(body):
                        owner.stalled.set()
                        owner._go_on.wait(120)
                        if owner._cut:
                            self.close_connection = True
                            return
                        self.wfile.write(body[stall_at:])
                except OSError:
                    pass  # the client went away, as a closed installer does

        self._server = ThreadingHTTPServer(("127.0.0.1", self.port), Handler)
        self._server.daemon_threads = True
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self.release()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(10)
