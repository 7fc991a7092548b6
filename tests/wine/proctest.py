"""Helpers for tests that drive the process-control operations under Wine:
copies of the testwindows program with chosen windows, and the proctool
command-line front end."""
import pathlib
import shutil
import subprocess

from winelib import exe, run, start_until, wait_until, winpath


def proctool(*args, mode=None, timeout=60):
    """Runs proctool; returns (first output line, exit code)."""
    argv = [exe("proctool.exe")]
    if mode:
        argv.append("--list=" + mode)
    r = run(argv + [str(a) for a in args], timeout=timeout, expect_output=True)
    lines = r.stdout.splitlines()
    return (lines[0].strip() if lines else ""), r.returncode


def proctool_lines(*args, mode=None):
    argv = [exe("proctool.exe")] + (["--list=" + mode] if mode else []) + [str(a) for a in args]
    return run(argv, timeout=60, expect_output=True).stdout.splitlines()


def read_keys(path):
    try:
        text = pathlib.Path(path).read_text(encoding="latin-1")
    except OSError:
        return None
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def copy_program(folder, name):
    """A private copy of testwindows.exe, so that each test seeks its own file."""
    p = pathlib.Path(folder) / name
    shutil.copyfile(exe("testwindows.exe"), p)
    return p


class App:
    """One running copy of testwindows, started with the given window specs."""

    def __init__(self, path, windows, extra=(), tag="app", lifetime=60000, files_dir=None):
        self.path = pathlib.Path(path)
        # The report and ready files (testwindows reads its arguments through
        # the ANSI functions: files_dir for a program in a folder outside them).
        folder = pathlib.Path(files_dir) if files_dir else self.path.parent
        self.report = folder / f"{tag}.report"
        ready = folder / f"{tag}.ready"
        for f in (self.report, ready):
            if f.exists():
                f.unlink()
        args = [self.path, "/report=" + winpath(self.report), "/ready=" + winpath(ready),
                f"/lifetime={lifetime}"] + ["/window=" + w for w in windows] + list(extra)
        self.proc, keys = start_until(args, lambda: read_keys(ready), 30, f"{tag} ready")
        self.pid = int(keys["pid"])
        self.hwnds = [int(keys[f"hwnd{i}"]) for i in range(len(windows))]

    @property
    def win(self):
        return winpath(self.path)

    def messages(self):
        """(msg, window index, wParam, lParam) for every recorded message."""
        try:
            text = self.report.read_text(encoding="latin-1")
        except OSError:
            return []
        out = []
        for line in text.splitlines():
            if line.startswith("msg="):
                k = dict(part.split("=", 1) for part in line.split())
                out.append((int(k["msg"]), int(k["win"]), int(k["w"]), int(k["l"])))
        return out

    def command_line(self):
        return read_keys(self.report).get("cmdline", "")

    def alive(self):
        return self.proc.poll() is None

    def wait(self, timeout=20):
        return self.proc.wait(timeout)

    def stop(self):
        if self.alive():
            self.proc.kill()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                pass

    def __enter__(self):
        return self

    def __exit__(self, *a):
        self.stop()
