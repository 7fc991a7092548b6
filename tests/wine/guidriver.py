"""Python side of tools/guidriver: drive the windows of a program under Wine.

    from guidriver import Driver
    d = Driver()                      # runs guidriver.exe in the test's prefix
    box = d.wait("ZMsgBox")           # Window, once it is shown with its controls
    info = box.dump()                 # dict of key=value lines, texts unescaped
    box.press("No")                   # by caption (with or without "&") or 1-based number
    box.key("RETURN"); box.altkey("n"); box.close(); box.sysclose()
    box.gone()                        # waits until this very window has gone

Every call targets the window by its handle once `wait` has found it, so a
second window of the same class (the next box) is never hit by mistake.
See docs/gui-driver.md for the commands and the dump keys.
"""
import atexit
import re
import subprocess

import winelib


def unescape(text):
    def repl(m):
        s = m.group(0)
        if s.startswith("\\x"):
            return chr(int(s[2:], 16))
        return {"\\\\": "\\", "\\r": "\r", "\\n": "\n", "\\t": "\t"}[s]

    return re.sub(r"\\x[0-9A-Fa-f]{2}|\\[\\rnt]", repl, text)


class DriverError(AssertionError):
    pass


_keeper = None


def keep_desktop():
    """Keeps the prefix's desktop process up until the test script ends.

    Wine ends its desktop process shortly after the last program has gone;
    a program started while it is starting or ending can hang, and tests
    start the program under test and the driver at the same moment.
    """
    global _keeper
    if _keeper is not None and _keeper.poll() is None:
        return
    exe = winelib.exe("guidriver.exe")
    winelib.run([exe, "windows"], timeout=60)
    _keeper = winelib.start([exe, "idle", "3600000"])
    atexit.register(_keeper.kill)


class Driver:
    def __init__(self, timeout_ms=15000):
        self.exe = winelib.exe("guidriver.exe")
        self.timeout_ms = timeout_ms
        keep_desktop()

    def run(self, *args, check=True, timeout=None):
        """Runs guidriver with the arguments; returns (exit code, stdout, stderr)."""
        opts = [f"--timeout={self.timeout_ms}"]
        cmd = [self.exe] + opts + [str(a) for a in args]
        limit = timeout or self.timeout_ms / 1000 + 30
        try:
            r = winelib.run(cmd, timeout=limit, expect_output=args[:1] == ("windows",))
        except subprocess.TimeoutExpired:
            # The driver ends by itself (its watchdog) once it runs, so this
            # was a Wine process start that never got going; nothing was done.
            r = winelib.run(cmd, timeout=limit, expect_output=args[:1] == ("windows",))
        if check and r.returncode != 0:
            raise DriverError(f"guidriver {' '.join(map(str, args))} failed ({r.returncode}): "
                              f"{r.stderr.strip()}")
        return r.returncode, r.stdout, r.stderr

    def wait(self, cls, timeout_ms=None, title=None, pid=None, bare=False):
        """Waits for a visible top-level window of the class with its controls
        (bare=True: a window without child controls will do)."""
        args = ["--bare"] if bare else []
        if title is not None:
            args.append(f"--title={title}")
        if pid is not None:
            args.append(f"--pid={pid}")
        args += ["wait", cls]
        if timeout_ms is not None:
            args.append(str(timeout_ms))
        code, out, err = self.run(*args, timeout=(timeout_ms or self.timeout_ms) / 1000 + 30, check=False)
        if code != 0:
            listing = "\n".join("  " + "\t".join(map(str, w)) for w in self.windows())
            raise DriverError(f"guidriver wait {cls} (title={title!r}) failed ({code}): {err.strip()}\n"
                              f"top-level windows:\n{listing}")
        m = re.search(r"hwnd=(0x[0-9A-Fa-f]+)", out)
        if not m:
            raise DriverError(f"no handle in {out!r}")
        return Window(self, cls, m.group(1))

    def exists(self, cls):
        _, out, _ = self.run("windows")
        return any(line.split("\t")[1:2] == [cls] and "visible=1" in line for line in out.splitlines())

    def windows(self):
        """List of (hwnd, class, visible, pid, title)."""
        _, out, _ = self.run("windows")
        rows = []
        for line in out.splitlines():
            parts = line.split("\t")
            if len(parts) >= 5:
                rows.append((parts[0], parts[1], parts[2] == "visible=1", int(parts[3][4:]),
                             unescape("\t".join(parts[4:]))))
        return rows


class Window:
    def __init__(self, driver, cls, hwnd):
        self.driver = driver
        self.cls = cls
        self.hwnd = hwnd

    def _do(self, *args, check=True):
        return self.driver.run("--bare", f"--hwnd={self.hwnd}", args[0], self.cls, *args[1:], check=check)

    def dump(self):
        _, out, _ = self._do("dump")
        info = {"children": []}
        for line in out.splitlines():
            key, _, value = line.partition("=")
            if key == "child":
                info["children"].append([unescape(p) for p in value.split("\t")])
            else:
                info[key] = unescape(value)
        return info

    def buttons(self):
        d = self.dump()
        return [d[f"button{i}"] for i in range(10) if f"button{i}" in d]

    def press(self, which, bmclick=False):
        args = ["press", which]
        if bmclick:
            return self.driver.run("--bmclick", "--bare", f"--hwnd={self.hwnd}", "press", self.cls, which)
        return self._do(*args)

    def key(self, key):
        return self._do("key", key)

    def altkey(self, ch):
        return self._do("altkey", ch)

    def close(self):
        return self._do("close")

    def sysclose(self):
        return self._do("sysclose")

    def resize(self, width, height):
        return self._do("resize", width, height)

    def send(self, msg, wparam=0, lparam=0):
        _, out, _ = self._do("send", msg, wparam, lparam)
        return int(out.strip().split("=", 1)[1])

    def gone(self, timeout_ms=None):
        return self.driver.run(f"--hwnd={self.hwnd}", "gone", self.cls,
                               str(timeout_ms or self.driver.timeout_ms))

    def alive(self):
        code, _, _ = self.driver.run(f"--hwnd={self.hwnd}", "gone", self.cls, "0", check=False)
        return code != 0
