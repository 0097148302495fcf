#!/usr/bin/env python3
"""A small HTTP server on 127.0.0.1 for the download tests under Wine.

  http_server.py start STATE_DIR   starts it in the background on a free port,
                                   writes STATE_DIR/port and STATE_DIR/pid and
                                   returns once it answers
  http_server.py stop STATE_DIR    stops it

The server also stops by itself after IDLE_SECONDS without a request, so an
interrupted test run leaves nothing behind for long.

Paths:
  /ok/N               200, Content-Length N, N pattern bytes in several writes
  /status/CODE        that status with a short body
  /chunked/N          200, chunked, no Content-Length
  /short/ANNOUNCED/N  Content-Length ANNOUNCED, N bytes, then the connection closes
  /long/ANNOUNCED/N   Content-Length ANNOUNCED but a chunked body of N bytes
  /echo               200, the request's User-Agent, Pragma and Cache-Control headers
  /hits/PATH          how many requests PATH has had, as text
  anything else       STATE_DIR/www/NAME with Content-Length, where NAME is the
                      request target (path and query) with every character
                      other than letters, digits, ".", "-" and "_" made "_";
                      404 when there is no such file
"""
import http.server
import os
import re
import signal
import socket
import sys
import threading
import time

IDLE_SECONDS = 600


def pattern(size):
    return bytes(((i * 7 + i // 251) & 0xFF) for i in range(size))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    hits = {}
    lock = threading.Lock()
    last_request = [time.monotonic()]

    def log_message(self, *args):
        pass

    def send_body(self, status, body, length=None, chunked=False):
        self.send_response(status)
        if length is not None:
            self.send_header("Content-Length", str(length))
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        self.send_header("Connection", "close")
        self.end_headers()
        if chunked:
            for at in range(0, len(body), 700):
                piece = body[at:at + 700]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                self.wfile.flush()
            self.wfile.write(b"0\r\n\r\n")
        else:
            for at in range(0, len(body), 1500):
                self.wfile.write(body[at:at + 1500])
                self.wfile.flush()
        self.close_connection = True

    def do_GET(self):
        with Handler.lock:
            Handler.hits[self.path] = Handler.hits.get(self.path, 0) + 1
            Handler.last_request[0] = time.monotonic()
        parts = self.path.strip("/").split("/")
        try:
            kind, args = parts[0], [int(p) for p in parts[1:]] if parts[0] != "hits" else []
        except ValueError:
            kind, args = "file", []
        if kind == "ok" and len(args) == 1:
            self.send_body(200, pattern(args[0]), length=args[0])
        elif kind == "status" and len(args) == 1:
            self.send_body(args[0], b"status", length=6)
        elif kind == "chunked" and len(args) == 1:
            self.send_body(200, pattern(args[0]), chunked=True)
        elif kind == "short" and len(args) == 2:
            self.send_body(200, pattern(args[1]), length=args[0])
        elif kind == "long" and len(args) == 2:
            self.send_body(200, pattern(args[1]), length=args[0], chunked=True)
        elif kind == "echo":
            lines = []
            for name in ("User-Agent", "Pragma", "Cache-Control"):
                value = self.headers.get(name)
                lines.append("%s=%s" % (name, "<missing>" if value is None else "[" + value + "]"))
            body = ("\n".join(lines) + "\n").encode()
            self.send_body(200, body, length=len(body))
        elif kind == "hits":
            path = "/" + "/".join(parts[1:])
            with Handler.lock:
                body = str(Handler.hits.get(path, 0)).encode()
            self.send_body(200, body, length=len(body))
        else:
            name = re.sub(r"[^A-Za-z0-9._-]", "_", self.path)
            path = os.path.join(Handler.www, name)
            if name not in (".", "..") and os.path.isfile(path):
                with open(path, "rb") as f:
                    body = f.read()
                self.send_body(200, body, length=len(body))
            else:
                self.send_body(404, b"unknown", length=7)


def serve(state_dir):
    Handler.www = os.path.join(state_dir, "www")
    os.makedirs(Handler.www, exist_ok=True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    port = server.server_address[1]

    def watchdog():
        while time.monotonic() - Handler.last_request[0] < IDLE_SECONDS:
            time.sleep(5)
        server.shutdown()

    threading.Thread(target=watchdog, daemon=True).start()
    with open(os.path.join(state_dir, "port.tmp"), "w") as f:
        f.write(str(port))
    os.replace(os.path.join(state_dir, "port.tmp"), os.path.join(state_dir, "port"))
    server.serve_forever()


def start(state_dir):
    os.makedirs(state_dir, exist_ok=True)
    stop(state_dir)
    pid = os.fork()
    if pid == 0:
        os.setsid()
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)
        try:
            serve(state_dir)
        finally:
            os._exit(0)
    with open(os.path.join(state_dir, "pid"), "w") as f:
        f.write(str(pid))
    port_file = os.path.join(state_dir, "port")
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if os.path.exists(port_file):
            port = int(open(port_file).read())
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                print("http server on 127.0.0.1:%d (pid %d)" % (port, pid))
                return 0
            except OSError:
                pass
        time.sleep(0.05)
    stop(state_dir)
    print("http server did not start", file=sys.stderr)
    return 1


def stop(state_dir):
    pid_file = os.path.join(state_dir, "pid")
    if os.path.exists(pid_file):
        try:
            os.kill(int(open(pid_file).read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        os.remove(pid_file)
    port_file = os.path.join(state_dir, "port")
    if os.path.exists(port_file):
        os.remove(port_file)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(start(sys.argv[2]) if sys.argv[1] == "start" else stop(sys.argv[2]))
