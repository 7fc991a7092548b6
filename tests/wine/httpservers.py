"""Web servers for the HTTP client tests and the benchmark.

Nginx runs as the current user with a private configuration: its pid file,
logs and temporary folders live in the given work folder, it listens on
127.0.0.1 on a free port and serves a private document root with
Content-Length, Last-Modified and Range support. The access log records the
Range header and the status of every request. Use it (and FaultServer from
faultserver.py) as a context manager so it is stopped even when a test fails.

    with Nginx(workdir) as web:
        (web.root / "a.bin").write_bytes(b"...")
        url = web.url("a.bin")
"""
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import time

NGINX = os.environ.get("ZS_NGINX", "/usr/sbin/nginx")

from faultserver import FaultServer  # noqa: E402,F401  (re-exported for the tests)


def free_port():
    """A port that was free a moment ago: bind port 0 and let it go."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _wait_listening(port, proc, timeout=10.0):
    end = time.time() + timeout
    while time.time() < end:
        if proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


class Nginx:
    def __init__(self, workdir):
        self.work = pathlib.Path(workdir).resolve() / "nginx"
        self.root = self.work / "root"
        self.port = 0
        self.proc = None

    def url(self, name):
        return f"http://127.0.0.1:{self.port}/{name}"

    def access_log(self):
        """Lines "status|range header|request line", oldest first."""
        p = self.work / "access.log"
        return p.read_text(encoding="latin-1").splitlines() if p.exists() else []

    def _config(self):
        w = self.work
        user = "user root;\n" if os.geteuid() == 0 else ""
        return f"""{user}daemon off;
master_process off;
worker_processes 1;
pid {w}/nginx.pid;
error_log {w}/error.log warn;
events {{ worker_connections 64; }}
http {{
    client_body_temp_path {w}/tmp/body;
    proxy_temp_path {w}/tmp/proxy;
    fastcgi_temp_path {w}/tmp/fastcgi;
    uwsgi_temp_path {w}/tmp/uwsgi;
    scgi_temp_path {w}/tmp/scgi;
    log_format zs '$status|$http_range|$request';
    access_log {w}/access.log zs;
    default_type application/octet-stream;
    sendfile on;
    keepalive_timeout 5;
    server {{
        listen 127.0.0.1:{self.port};
        root {self.root};
    }}
}}
"""

    def start(self):
        shutil.rmtree(self.work, ignore_errors=True)
        (self.work / "tmp").mkdir(parents=True)
        self.root.mkdir()
        for attempt in range(5):
            self.port = free_port()
            (self.work / "nginx.conf").write_text(self._config())
            self.proc = subprocess.Popen(
                [NGINX, "-p", str(self.work), "-c", str(self.work / "nginx.conf"), "-e", str(self.work / "error.log")],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if _wait_listening(self.port, self.proc):
                return self
            self.stop()  # the port was taken meanwhile: try another one
        raise RuntimeError("nginx did not start: " + (self.work / "error.log").read_text(errors="replace"))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGQUIT)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *a):
        self.stop()
