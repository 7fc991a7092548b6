"""Helpers for tests that run our Windows programs under Wine.

Each test file is a plain script: decorate test functions with @case and call
main() at the end. Tests get a private prefix from ctest's resource
allocation (two prefixes, one per parallel worker) and a fresh work folder.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import time
import traceback

WINE = os.environ.get("WINE", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("WINESERVER", "/usr/lib/wine/wineserver")
SOURCE = pathlib.Path(os.environ.get("ZS_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
WIN64_BIN = pathlib.Path(os.environ.get("ZS_WIN64_BIN", SOURCE / "build/win64/bin"))
WIN32_BIN = pathlib.Path(os.environ.get("ZS_WIN32_BIN", SOURCE / "build/win32/bin"))
NATIVE_BIN = pathlib.Path(os.environ.get("ZS_NATIVE_BIN", SOURCE / "build/native/bin"))
WORK = pathlib.Path(os.environ.get("ZS_WINE_WORK", SOURCE / "build/native/wine"))


def prefix_index():
    group = os.environ.get("CTEST_RESOURCE_GROUP_0_WINEPREFIX", "")
    for part in group.split(","):
        if part.startswith("id:"):
            return int(part[3:])
    return int(os.environ.get("ZS_PREFIX_INDEX", "0"))


PREFIX = pathlib.Path(os.environ.get("ZS_WINEPREFIX", WORK / f"prefix{prefix_index()}"))


def wine_env(extra=None):
    env = dict(os.environ)
    env["WINEPREFIX"] = str(PREFIX)
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml,winemenubuilder.exe="
    env.pop("DISPLAY", None) if not env.get("ZS_KEEP_DISPLAY") else None
    if extra:
        env.update(extra)
    return env


def exe(name):
    """Path of one of our Windows programs (x86_64 build)."""
    p = WIN64_BIN / name
    if not p.exists():
        raise FileNotFoundError(f"missing Windows program {p}")
    return p


def native(name):
    p = NATIVE_BIN / name
    if not p.exists():
        raise FileNotFoundError(f"missing native program {p}")
    return p


def winpath(p):
    """Unix path as Wine sees it through drive Z:."""
    return "Z:" + str(pathlib.Path(p).resolve()).replace("/", "\\")


# What Wine's loader prints when it failed to start the program itself
# (ERROR_INTERNAL_ERROR while creating the process): the program never ran.
WINE_START_FAILED = "ShellExecuteEx failed: Internal error"


def start_failed(r, expect_output=False):
    """Why a finished run never ran the program, or None."""
    if r.returncode != 0 and WINE_START_FAILED in r.stderr:
        return "Wine failed to start it (internal error)"
    if expect_output and not r.stdout.strip() and not r.stderr.strip():
        return f"ended with code {r.returncode} and no output"
    return None


def run(args, timeout=60, cwd=None, env=None, check=False, expect_output=False):
    """Runs a Windows program (first argument: unix path) and waits for it.

    Output goes through temporary files, not pipes: a program it starts (an
    X_ copy, a batch) inherits the handles and would keep a pipe open.
    A run that never started the program (see start_failed) is run again,
    three runs in all, and each retry is logged. expect_output: the program
    always prints something once it runs, so an end with no output at all is
    also a start that failed before the program ran."""
    for attempt in range(1, 4):
        r = _run_once(args, timeout, cwd, env)
        why = start_failed(r, expect_output)
        if why is None or attempt == 3:
            break
        print(f"RETRY {pathlib.Path(str(args[0])).name}: {why}; run {attempt + 1} of 3", flush=True)
    if check and r.returncode != 0:
        raise AssertionError(f"{args} exited with {r.returncode}\n{r.stdout}\n{r.stderr}")
    return r


def _run_once(args, timeout, cwd, env):
    import tempfile
    args = [str(a) for a in args]
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.Popen([WINE] + args, cwd=cwd, env=wine_env(env), stdout=out, stderr=err)
        try:
            code = p.wait(timeout)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            raise
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess([WINE] + args, code, out.read().decode("latin-1"),
                                           err.read().decode("latin-1"))


def start(args, cwd=None, env=None, stdout=None):
    """Starts a Windows program and returns at once. Its standard error goes
    to a temporary file (a file, not a pipe: see run), which explain() shows."""
    import tempfile
    args = [str(a) for a in args]
    err = tempfile.TemporaryFile()
    p = subprocess.Popen([WINE] + args, cwd=cwd, env=wine_env(env),
                         stdout=stdout or subprocess.DEVNULL, stderr=err)
    p.errfile = err
    return p


def explain(proc):
    """What a started program left behind: still running, or its exit code,
    and the end of its standard error."""
    state = "still running" if proc.poll() is None else f"exit code {proc.returncode}"
    err = ""
    f = getattr(proc, "errfile", None)
    if f is not None:
        f.seek(0)
        err = f.read()[-2000:].decode("latin-1").strip()
    return f"{state}; stderr: {err or '(empty)'}"


def start_until(args, ready, timeout, what, cwd=None, env=None, attempts=3):
    """Starts a program and waits until ready() holds. A program that ends
    before it is ready never ran its own work (Wine now and then fails a
    start while it loads the program): it is started again, at most
    attempts times in all, and every retry is logged. Returns (process,
    value of ready)."""
    for attempt in range(1, attempts + 1):
        proc = start(args, cwd=cwd, env=env)
        end = time.time() + timeout
        while time.time() < end:
            v = ready()
            if v:
                return proc, v
            if proc.poll() is not None:
                break
            time.sleep(0.1)
        v = ready()
        if v:
            return proc, v
        if proc.poll() is None:
            raise AssertionError(f"timed out waiting for {what} ({explain(proc)})")
        print(f"RETRY {what}: the program ended before it was ready ({explain(proc)}); "
              f"start {attempt + 1} of {attempts}", flush=True)
    raise AssertionError(f"{what}: the program ended before it was ready, {attempts} times ({explain(proc)})")


def wine_user():
    users = PREFIX / "drive_c" / "users"
    for d in sorted(users.iterdir()) if users.exists() else []:
        if d.name not in ("Public",) and (d / "AppData").exists():
            return d.name
    return os.environ.get("USER", "root")


def wine_temp():
    """The unix folder behind the prefix's %TEMP% (HKCU\\Environment)."""
    import re as _re
    reg = PREFIX / "user.reg"
    text = reg.read_text(encoding="latin-1") if reg.exists() else ""
    m = _re.search(r'^"TEMP"="([A-Za-z]):\\\\(.*)"$', text, _re.M)
    if m and m.group(1).lower() == "c" and "%" not in m.group(2):
        return PREFIX / "drive_c" / m.group(2).replace("\\\\", "/")
    return PREFIX / "drive_c" / "users" / wine_user() / "Temp"


def fresh_dir(name):
    d = WORK / "tests" / name
    shutil.rmtree(d, ignore_errors=True)
    d.mkdir(parents=True)
    return d


def wait_until(pred, timeout=20.0, step=0.1, what="condition"):
    end = time.time() + timeout
    while time.time() < end:
        v = pred()
        if v:
            return v
        time.sleep(step)
    raise AssertionError(f"timed out waiting for {what}")


class DebugViewer:
    """Runs our debug viewer (window class ".ZDebug.") and collects what it prints."""

    def __init__(self, workdir):
        self.out = pathlib.Path(workdir) / "debugview.txt"
        self.proc = None

    def __enter__(self):
        ready = self.out.with_suffix(".ready")
        if ready.exists():
            ready.unlink()
        self.proc, _ = start_until([exe("dbgview.exe"), "/out=" + winpath(self.out), "/ready=" + winpath(ready)],
                                   ready.exists, 30, "debug viewer")
        return self

    def text(self):
        return self.out.read_text(encoding="latin-1") if self.out.exists() else ""

    def lines(self):
        return self.text().splitlines()

    def wait_for(self, needle, timeout=20):
        return wait_until(lambda: needle in self.text(), timeout, what=repr(needle))

    def __exit__(self, *a):
        if self.proc:
            run([exe("dbgview.exe"), "/quit"], timeout=30)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()


def reset_prefix():
    """Ends every program left in the prefix (a failed case may leave a box
    open that would confuse the next one) and warms the server up again."""
    subprocess.run([WINESERVER, "-k"], env=wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-w"], env=wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-p"], env=wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run(["cmd", "/c", "exit", "0"], timeout=120)
    keep_desktop()


def keep_desktop():
    """One idle program with a window keeps Wine's desktop process up, so it
    never stops and restarts under a program that is just starting."""
    keeper = WIN64_BIN / "guidriver.exe"
    if keeper.exists():
        run([keeper, "windows"], timeout=120)
        p = start([keeper, "idle", "14400000"])
        import atexit
        atexit.register(p.kill)


_cases = []


def case(fn):
    _cases.append(fn)
    return fn


def main():
    only = sys.argv[1:]
    failed = 0
    ran = 0
    keep_desktop()
    for fn in _cases:
        if only and fn.__name__ not in only:
            continue
        ran += 1
        t0 = time.time()
        try:
            fn()
            print(f"PASS {fn.__name__} ({time.time() - t0:.1f}s)", flush=True)
        except Exception:
            failed += 1
            print(f"FAIL {fn.__name__} ({time.time() - t0:.1f}s)", flush=True)
            traceback.print_exc()
            reset_prefix()
    print(f"{ran - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
