"""Hidden operation ("/hide" or the header's Silent) under a deployment tool:
nothing waits for a click, every failure ends at once with the exit code
that tells what went wrong, and the text of each box that was not shown goes
to the debug channel."""
import shutil
import time

import winelib
from winelib import case, fresh_dir, winpath
from guidriver import Driver
from httpservers import Nginx
from stubtest import Setup, run_stub, setup_folders, patch, trailer_offset, reg_set, reg_delete, write_random

SPAN_KEY = r"HKEY_CURRENT_USER\Software\Vindraco\Zelkan\SpanDisk"
TOKEN = "WEB-TOKEN-1"


def run_unattended(exe, *args, limit=60):
    """Runs the stub and watches the screen until it ends: returns its exit
    code and every box or visible stub window seen meanwhile. A stub that
    waits for a user is killed after `limit` seconds and fails the case."""
    p = run_stub(exe, *args, wait=False)
    d = Driver()
    seen = set()
    end = time.time() + limit
    while p.poll() is None:
        if time.time() > end:
            p.kill()
            raise AssertionError(f"still running after {limit} s; windows: {sorted(seen)}")
        for _, cls, visible, _, title in d.windows():
            if cls == "ZMsgBox" or (visible and cls == winpath(exe)):
                seen.add((cls, title))
    return p.returncode, seen


def spanned(w, **package):
    write_random(w / "big.bin", 900_000, seed=11)
    s = Setup(w)
    s.package["volume_size"] = winelib.exe("stub.exe").stat().st_size + 400_000
    s.package.update(package)
    s.add_engine()
    s.add_file(w / "big.bin", compression="stored")
    return s


def damaged(w, **package):
    s = Setup(w)
    s.package.update(package)
    s.language("English", {"s0": "Test", "s7": "Bad CRC!<P>corrupted"})
    s.add_engine()
    write_random(w / "data.bin", 50_000)
    s.add_file(w / "data.bin", compression="stored")
    exe = s.build()
    off = trailer_offset(exe) - 20000
    patch(exe, off, bytes([exe.read_bytes()[off] ^ 0xFF]))
    return s, exe


@case
def hidden_setups_end_at_once_with_the_code_that_tells_why():
    def missing_volume(w):
        s = spanned(w)
        exe = s.build()
        (w / "Setup.exe.002").unlink()
        return s, exe, ("/hide",), 1619, "Volume not found (hidden operation, no disk prompt)"

    def force_prompt_ignored(w):
        s = spanned(w)
        reg_set(SPAN_KEY, "ForcePrompt", "1")
        return s, s.build(), ("/hide",), 0, None

    def damaged_hide(w):
        s, exe = damaged(w)
        return s, exe, ("/hide",), 1620, "MsgBox not shown (hidden operation): Error: Bad CRC! corrupted"

    def damaged_silent_header(w):
        s, exe = damaged(w, silent=1)
        return s, exe, (), 1620, "MsgBox not shown (hidden operation): Error: Bad CRC! corrupted"

    def no_engine(w):
        s = Setup(w)
        s.package["no_engine"] = 1
        (w / "a.txt").write_text("a")
        s.add_file(w / "a.txt")
        return s, s.build(), ("/hide",), 1603, "No engine started, exit code 1603"

    def missing_span_file(w):
        s = Setup(w, "Launcher.exe")
        s.package["no_engine"] = 1
        return s, s.build(), ("/hide", f'/SpanDiskFName1="{winpath(w / "Data.001")}"'), 1619, "Bad CRC!"

    cases = [missing_volume, force_prompt_ignored, damaged_hide, damaged_silent_header, no_engine, missing_span_file]
    for make in cases:
        w = fresh_dir("hidden_" + make.__name__)
        before = setup_folders()
        try:
            s, exe, args, code, debug = make(w)
            with winelib.DebugViewer(w) as dv:
                got, seen = run_unattended(exe, *args)
                text = dv.text()
        finally:
            reg_delete(SPAN_KEY, "ForcePrompt")
        assert got == code, (make.__name__, got, code)
        assert not seen, (make.__name__, seen)
        assert (s.read_report() is not None) == (code == 0), make.__name__
        assert f"==== Setup ExitCode={code}" in text, (make.__name__, text[-2000:])
        if debug:
            assert debug in text, (make.__name__, debug, text[-2000:])
        assert setup_folders() == before, (make.__name__, setup_folders())


def real_setup(w, token):
    s = Setup(w, "Real.exe")
    s.web = {"base": "http://127.0.0.1", "file": "Real.exe", "token": token}
    s.add_engine()
    return s, s.build()


def web_stub(w, base, confirm=1):
    s = Setup(w, "Web.exe")
    s.package["web_setup"] = 1
    s.package["confirm_download"] = confirm
    s.package["allow_unsigned"] = 1
    s.web = {"base": base, "file": "Real.exe", "always": 1, "token": TOKEN, "size": 524288}
    return s.build()


@case
def hidden_web_stubs_end_at_once_with_the_code_that_tells_why():
    w = fresh_dir("hidden_web")
    real_s, real = real_setup(w, token="SOMETHING-ELSE")
    with Nginx(w) as web:
        shutil.copy(real, web.root / real.name)
        cases = [
            # (base, exit code, text of the box that is not shown)
            (f"http://127.0.0.1:{web.port}", 1620, "Error: Bad Secret Token!"),
            ("http://127.0.0.1:9", 1603, "MsgBox not shown (hidden operation): Error: "),
        ]
        for base, code, debug in cases:
            stub = web_stub(w, base)
            with winelib.DebugViewer(w) as dv:
                got, seen = run_unattended(stub, "/hide")
                text = dv.text()
            assert got == code, (base, got)
            assert not seen, (base, seen)
            assert debug in text, (base, text[-2000:])
            assert real_s.read_report() is None
    assert not (winelib.wine_temp() / "Real.exe").exists()


if __name__ == "__main__":
    winelib.main()
