#!/usr/bin/env python3
"""A scripted account server on 127.0.0.1 for the tests and the demo.

It answers GET /qv/redirect_login_token with the body in ANSWER_FILE (read
anew for every request, so a test may change it between runs) and appends
each request's path and query, one per line, to LOG_FILE.

usage: account_server.py PORT ANSWER_FILE LOG_FILE
"""

import http.server
import sys
from pathlib import Path

LOGIN_PATH = "/qv/redirect_login_token"


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(self.server.log_file, "a", encoding="utf-8") as log:
            log.write(self.path + "\n")
        if self.path.split("?", 1)[0] != LOGIN_PATH:
            self.send_error(404)
            return
        body = Path(self.server.answer_file).read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
    server.answer_file = sys.argv[2]
    server.log_file = sys.argv[3]
    Path(server.log_file).touch()
    print(f"listening on 127.0.0.1:{server.server_address[1]}", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
