"""A small HTTP server that misbehaves on purpose, for the HTTP client tests.

Files are served from a dict {name: (bytes, mtime)}; how each name is
served is set per name in `modes`:

  "normal"     200 with Content-Length and Last-Modified; honours "Range: bytes=N-"
  "nolength"   200 without Content-Length; the body ends when the connection closes
  "cut:N"      announces the whole length but closes the connection after N bytes
  "missing"    404 with an HTML page
  "status:N"   status N (a 500, say) with a short HTML page
  "norange"    like "normal" but always 200 with the whole body, even for a Range request
  "slow"       the body in small pieces with pauses (bounded: gives up after `slow_limit` s)
  "noprobe"    like "normal", but a request for the first byte only ("Range: bytes=0-0") gets a 503
  "longer:N"   like "normal", but a range answer carries N bytes more than its Content-Range says
  "redirect:U" 302 to the address U (the file need not exist)
  "grow:N"     the first-byte request ("Range: bytes=0-0") sees the file as it is; every other
               request gets it with N bytes more, as a server that swaps in a larger file

Stall modes answer every request alike (Range ignored) and then keep the
connection open without a further byte, until the client gives up, the
server stops or `stall_limit` seconds have passed:

  "silent"     reads the request and answers nothing at all
  "stall:N"    sends the headers (200, whole Content-Length) and the first N bytes of the body

Every request's path and headers go to `log` (a list of (path, {header: value}))
so a test can check what the client asked for. Listens on 127.0.0.1 only, in
a background thread; use it as a context manager so it always stops.
"""
import email.utils
import http.server
import re
import socket
import sys
import threading
import time

NOT_FOUND_PAGE = (b"<html>\r\n<head><title>404 Not Found</title></head>\r\n"
                  b"<body>\r\n<center><h1>404 Not Found</h1></center>\r\n</body>\r\n</html>\r\n")


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        srv = self.server.owner
        name = self.path.lstrip("/")
        with srv.lock:
            srv.log.append((self.path, {k.lower(): v for k, v in self.headers.items()}))
            mode = srv.modes.get(name, "normal")
            entry = srv.files.get(name)
        if mode == "silent" or (mode.startswith("stall:") and entry is not None):
            if mode != "silent":
                data, mtime = entry
                self.send_response(200)
                self.send_header("Last-Modified", email.utils.formatdate(mtime, usegmt=True))
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self._write(data[:int(mode[6:])])
                self.wfile.flush()
            self._hold(srv, name)
            return
        if mode == "noprobe" and self.headers.get("Range") == "bytes=0-0":
            self._send(503, b"busy", {"Content-Type": "text/plain"})
            return
        if mode.startswith("redirect:"):
            self._send(302, b"moved", {"Location": mode[9:], "Content-Type": "text/plain"})
            return
        if mode.startswith("status:"):
            code = int(mode[7:])
            self._send(code, f"<html><body><h1>{code} Error</h1></body></html>\r\n".encode(),
                       {"Content-Type": "text/html"})
            return
        if entry is None or mode == "missing":
            self._send(404, NOT_FOUND_PAGE, {"Content-Type": "text/html"})
            return
        data, mtime = entry
        if mode.startswith("grow:") and self.headers.get("Range") != "bytes=0-0":
            data = data + b"G" * int(mode[5:])
        headers = {"Last-Modified": email.utils.formatdate(mtime, usegmt=True),
                   "Content-Type": "application/octet-stream"}
        if mode == "nolength":
            self.send_response(200)
            for k, v in headers.items():
                self.send_header(k, v)
            self.send_header("Connection", "close")
            self.end_headers()
            self._write(data)
            self.close_connection = True
            return
        if mode.startswith("cut:"):
            n = int(mode[4:])
            self.send_response(200)
            for k, v in headers.items():
                self.send_header(k, v)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self._write(data[:n])
            self.wfile.flush()
            # An abrupt end, as a dropped connection looks to the client.
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
            return
        if mode == "slow":
            self.send_response(200)
            for k, v in headers.items():
                self.send_header(k, v)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            end = time.time() + srv.slow_limit
            pos = 0
            while pos < len(data) and time.time() < end:
                if not self._write(data[pos:pos + srv.slow_piece]):
                    break
                pos += srv.slow_piece
                with srv.lock:
                    srv.slow_sent[name] = pos
                time.sleep(srv.slow_pause)
            self.close_connection = True
            return
        rng = self.headers.get("Range")
        m = re.fullmatch(r"bytes=(\d+)-", rng or "")
        ranges = mode in ("normal", "noprobe") or mode.startswith("longer:")
        if ranges and m and int(m.group(1)) < len(data):
            first = int(m.group(1))
            headers["Content-Range"] = f"bytes {first}-{len(data) - 1}/{len(data)}"
            extra = b"X" * int(mode[7:]) if mode.startswith("longer:") else b""
            self._send(206, data[first:] + extra, headers)
        elif ranges and m:
            headers["Content-Range"] = f"bytes */{len(data)}"
            self._send(416, b"", headers)
        else:
            self._send(200, data, headers)

    def _hold(self, srv, name):
        """Keeps the connection open, silent, until the client closes it."""
        with srv.lock:
            srv.held[name] = srv.held.get(name, 0) + 1
        end = time.time() + srv.stall_limit
        self.connection.settimeout(0.2)
        while time.time() < end and not srv.stopping.is_set():
            try:
                if not self.connection.recv(4096):
                    break
            except socket.timeout:
                continue
            except OSError:
                break
        self.close_connection = True

    def _send(self, status, body, headers):
        self.send_response(status)
        for k, v in headers.items():
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self._write(body)

    def _write(self, data):
        try:
            self.wfile.write(data)
            return True
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True
            return False


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # Clients drop kept-alive connections at will; only real faults are worth a trace.
        if not isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            super().handle_error(request, client_address)


class FaultServer:
    def __init__(self):
        self.files = {}
        self.modes = {}
        self.log = []
        self.slow_sent = {}
        self.slow_piece = 1024
        self.slow_pause = 0.05
        self.slow_limit = 60.0
        self.stall_limit = 300.0
        self.held = {}  # name: requests held silent so far
        self.stopping = threading.Event()
        self.lock = threading.Lock()
        self._httpd = None
        self._thread = None
        self.port = 0

    def add(self, name, data, mtime=None, mode="normal"):
        with self.lock:
            self.files[name] = (data, int(mtime if mtime is not None else time.time()))
            self.modes[name] = mode

    def set_mode(self, name, mode):
        with self.lock:
            self.modes[name] = mode

    def url(self, name):
        return f"http://127.0.0.1:{self.port}/{name}"

    def stalls(self, name):
        """How many requests for name a stall mode has held so far."""
        with self.lock:
            return self.held.get(name, 0)

    def requests(self, name):
        """Headers of every request for name, oldest first."""
        with self.lock:
            return [h for p, h in self.log if p.lstrip("/") == name]

    def start(self, port=0):
        """On a free port, or on the given one (again after a stop, as a server that was down)."""
        self.stopping.clear()
        self._httpd = _Server(("127.0.0.1", port), _Handler)
        self._httpd.owner = self
        self.port = self._httpd.server_address[1]
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        self.stopping.set()
        if self._httpd:
            self._httpd.shutdown()
            self._httpd.server_close()
            self._httpd = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *a):
        self.stop()
