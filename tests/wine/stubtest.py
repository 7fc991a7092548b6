"""Building setup files with the packer and running them under Wine.

    s = Setup(workdir, "Setup.exe")
    s.add_file(path, name=None, compression=None, time=None, engine=None)
    s.package["temp_drive_notice"] = 1
    s.language("English", {"s0": "Demo"})
    exe = s.build()                 # runs the native packer, returns the first volume's path
    r = run_stub(exe, "/hide")      # runs it and waits

The test engine (tools/testengine) is packed with `add_engine`, which makes
it write its report into the work folder.
"""
import contextlib
import os
import pathlib
import re
import struct
import subprocess

import winelib


def packer():
    return winelib.native("packer")


class Setup:
    def __init__(self, workdir, name="Setup.exe", stub=None):
        self.dir = pathlib.Path(workdir)
        self.output = self.dir / name
        self.stub = stub or winelib.exe("stub.exe")
        self.package = {}
        self.web = None
        self.languages = []
        self.files = []
        self.report = self.dir / "engine-report.txt"

    def language(self, name, texts):
        self.languages.append((name, dict(texts)))

    def add_file(self, source, name=None, compression=None, time=None, engine=None):
        f = {"source": str(source)}
        if name is not None:
            f["name"] = name
        if compression is not None:
            f["compression"] = str(compression)
        if time is not None:
            f["time"] = str(time)
        if engine is not None:
            f["engine"] = engine
        self.files.append(f)

    def add_engine(self, args="", name="Engine.exe"):
        """The test engine, reporting into this setup's work folder."""
        engine_args = f'/ZT_REPORT={winelib.winpath(self.report)} {args}'.strip()
        self.add_file(winelib.exe("testengine.exe"), name=name, engine=engine_args)

    def manifest_text(self):
        lines = ["[package]", f"stub = {self.stub}", f"output = {self.output}"]
        lines += [f"{k} = {v}" for k, v in self.package.items()]
        if self.web is not None:
            lines.append("[web]")
            lines += [f"{k} = {v}" for k, v in self.web.items()]
        for name, texts in self.languages or [("English", {"s0": "Test Setup"})]:
            lines.append(f"[language {name}]")
            lines += [f"{k} = {v}" for k, v in texts.items()]
        for f in self.files:
            lines.append("[file]")
            lines += [f"{k} = {v}" for k, v in f.items()]
        return "\n".join(lines) + "\n"

    def build(self):
        m = self.dir / (self.output.name + ".manifest")
        m.write_text(self.manifest_text())
        r = subprocess.run([str(packer()), "build", str(m)], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if r.returncode != 0:
            raise AssertionError(f"packer failed: {r.stderr.decode()}")
        first = self.output
        if not first.exists():
            first = pathlib.Path(str(self.output) + ".001")
        return first

    def read_report(self):
        if not self.report.exists():
            return None
        rep = {"files": {}, "wfiles": {}}
        for raw in self.report.read_bytes().splitlines():
            # FileW= lines are UTF-8; the rest is what the ANSI functions gave.
            line = raw.decode("utf-8" if raw.startswith(b"FileW=") else "latin-1")
            k, _, v = line.partition("=")
            if k == "FileW":
                name, size = v.rsplit("|", 1)
                rep["wfiles"][name] = int(size)
            elif k == "File":
                name, size, h, dos = v.split("|")
                rep["files"][name] = (int(size), h, int(dos))
            else:
                rep[k] = v
        return rep


class Finished:
    def __init__(self, returncode, stdout):
        self.returncode = returncode
        self.stdout = stdout


def command_line(exe, *args):
    """A Windows command line: the program path quoted when it holds a blank."""
    p = winelib.winpath(exe) if "/" in str(exe) else str(exe)
    if " " in p:
        p = f'"{p}"'
    return " ".join([p] + [str(a) for a in args])


class Started:
    """A stub running under the launcher: poll() and wait() give its full
    32-bit exit code (a process's own code would keep only the low byte);
    everything else is the launcher's Popen."""

    def __init__(self, cl, cwd):
        import subprocess
        import tempfile
        import time
        # A launcher that Wine failed to start ends at once without a word
        # (or with Wine's internal error): it is started again, up to three
        # times, as winelib.run does. One still running after the grace time
        # has started.
        for attempt in range(1, 4):
            self._out = tempfile.TemporaryFile()
            self._p = winelib.start([winelib.exe("launch.exe"), cl], cwd=cwd, stdout=self._out)
            self._code = None
            end = time.time() + 2
            while self._p.poll() is None and time.time() < end:
                time.sleep(0.05)
            if self._p.poll() is None or attempt == 3:
                break
            self._out.seek(0)
            self._p.errfile.seek(0)
            r = subprocess.CompletedProcess([], self._p.returncode, self._out.read().decode("latin-1"),
                                            self._p.errfile.read().decode("latin-1"))
            why = winelib.start_failed(r, expect_output=True)
            if why is None:
                break
            print(f"RETRY launch.exe: {why}; start {attempt + 1} of 3", flush=True)

    def _full(self):
        if self._code is None and self._p.returncode is not None:
            self._out.seek(0)
            m = re.search(rb"exit=(\d+)", self._out.read())
            self._code = int(m.group(1)) if m else self._p.returncode
        return self._code

    def poll(self):
        self._p.poll()
        return self._full()

    def wait(self, timeout=None):
        self._p.wait(timeout)
        return self._full()

    @property
    def returncode(self):
        return self._full()

    def __getattr__(self, name):
        return getattr(self._p, name)


def run_stub(exe, *args, timeout=120, wait=True):
    """Runs a setup file with exactly these arguments (no re-quoting); with
    wait, returns its full exit code, else the running stub (Started)."""
    cl = command_line(exe, *args)
    cwd = str(pathlib.Path(exe).parent)
    if not wait:
        return Started(cl, cwd)
    # The launcher tries a start that Wine fails internally again itself, and
    # it always prints: no output means the launcher itself never ran.
    r = winelib.run([winelib.exe("launch.exe"), cl], timeout=timeout, cwd=cwd, expect_output=True)
    m = re.search(r"exit=(\d+)", r.stdout)
    if not m:
        raise AssertionError(f"launch failed: {r.stdout} {r.stderr}")
    return Finished(int(m.group(1)), r.stdout)


def fnv1a64(data):
    h = 0xcbf29ce484222325
    for b in data:
        h ^= b
        h = (h * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return f"{h:016x}"


def setup_folders():
    """SETUP_ folders currently in the prefix's temporary folder."""
    t = winelib.wine_temp()
    return sorted(p.name for p in t.glob("SETUP_*")) if t.exists() else []


def patch(path, offset, data):
    with open(path, "r+b") as f:
        f.seek(offset)
        f.write(data)


def spoil_last_check_value(path):
    """Inverts the Adler-32 that ends the last item's zlib stream (the four
    bytes before the trailer): every deflate block stays intact, so the only
    right outcome is zlib's data error once the whole stream is inflated."""
    off = trailer_offset(path) - 4
    with open(path, "rb") as f:
        f.seek(off)
        check = f.read(4)
    patch(path, off, bytes(b ^ 0xFF for b in check))


def trailer_offset(path):
    """File offset of the 74-byte trailer of a package file."""
    data = pathlib.Path(path).read_bytes()
    end = len(data)
    if data[:2] == b"MZ" and data[0x100:0x102] == b"PE":
        hi, lo = struct.unpack_from("<II", data, 0xF8)
        if hi or lo:
            end = (hi << 32) | lo
    n = struct.unpack_from("<I", data, end - 4)[0]
    return end - n


def reg_set(key, name, value, kind="REG_SZ"):
    winelib.run(["reg", "add", key, "/v", name, "/t", kind, "/d", str(value), "/f"], check=True)


def reg_delete(key, name):
    winelib.run(["reg", "delete", key, "/v", name, "/f"])


def write_random(path, size, seed=1):
    import random
    rnd = random.Random(seed)
    pathlib.Path(path).write_bytes(rnd.randbytes(size))


ENV_KEY = r"HKEY_CURRENT_USER\Environment"


def reg_query(key, name):
    r = winelib.run(["reg", "query", key, "/v", name])
    for line in r.stdout.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[0].lower() == name.lower():
            return parts[1], parts[2].strip()
    return None


@contextlib.contextmanager
def temp_folder(win_path):
    """Programs started inside see TEMP and TMP = win_path."""
    old = {n: reg_query(ENV_KEY, n) for n in ("TEMP", "TMP")}
    try:
        for n in old:
            winelib.run(["reg", "add", ENV_KEY, "/v", n, "/t", "REG_SZ", "/d", win_path, "/f"], check=True)
        yield
    finally:
        for n, v in old.items():
            if v:
                winelib.run(["reg", "add", ENV_KEY, "/v", n, "/t", v[0], "/d", v[1], "/f"], check=True)
