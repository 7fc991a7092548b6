"""Single behaviours of the setup, the web stub and the agent that other
tests do not pin down: the engine's show state and the status line, an
engine that cannot start, the AutoPlay answer during a disk prompt, the
web question's size and the no-connection message, the X_ copy's start
delay, an agent under a foreign name, the diagnostic switch and a huge
"/WAIT=" value."""
import re
import time

import winelib
from agenttest import Product, driver
from guidriver import Driver
from proctest import proctool
from stubtest import Setup, run_stub, setup_folders, write_random
from winelib import case, exe, fresh_dir, start, wait_until, winpath

NO_WININET = {"WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe,wininet="}


def windows_of_class(cls):
    """(hwnd, visible, pid) of the top-level windows of a class."""
    out = winelib.run([exe("guidriver.exe"), "windows"], expect_output=True).stdout
    rows = []
    for line in out.splitlines():
        parts = line.split("\t")
        if len(parts) >= 4 and parts[1].lower() == cls.lower():
            rows.append((parts[0], parts[2] == "visible=1", int(parts[3][4:])))
    return rows


def two_volumes(w):
    """A setup whose data runs over into a second volume file."""
    write_random(w / "big.bin", 1_000_000, seed=5)
    s = Setup(w)
    s.package["volume_size"] = exe("stub.exe").stat().st_size + 600_000
    s.add_engine()
    s.add_file(w / "big.bin", compression="stored")
    return s.build()


def sendto(hwnd, msg, wparam=0, lparam=0):
    r = winelib.run([exe("guidriver.exe"), "sendto", hwnd, msg, wparam, lparam])
    m = re.search(r"result=(-?\d+)", r.stdout)
    assert m, (r.stdout, r.stderr)
    return int(m.group(1))


@case
def engine_show_state_and_status_line_follow_the_foreground():
    for args, show in (((), "5"), (("/hide",), "0")):
        w = fresh_dir("beh_show" + "".join(a.strip("/") for a in args))
        s = Setup(w)
        s.language("English", {"s0": "Show Test", "s1": "Unpacking the test files"})
        s.add_engine()
        exe_path = s.build()
        d = Driver(timeout_ms=30000)
        p = run_stub(exe_path, *args, wait=False)
        if not args:
            # The main window is shown around the extraction, with "s1" in its status line.
            win = d.wait(winpath(exe_path))
            statics = [c[3] for c in win.dump()["children"] if c[0].lower() == "static"]
            assert statics == ["Unpacking the test files"], statics
        assert p.wait(120) == 0
        rep = s.read_report()
        assert rep, "the engine did not run"
        assert rep["StartupShow"] == show, (args, rep["StartupShow"])


@case
def engine_that_cannot_be_started_ends_without_box_or_wait():
    w = fresh_dir("beh_nostart")
    (w / "Engine.exe").write_bytes(b"")  # no program: CreateProcess fails
    s = Setup(w)
    s.add_file(w / "Engine.exe", engine="")
    exe_path = s.build()
    before = setup_folders()
    with winelib.DebugViewer(w) as dv:
        # A box or an endless wait would keep the stub running past the limit.
        r = run_stub(exe_path, timeout=60)
        assert r.returncode == 1603, r.returncode  # an engine that did not run: a failed install
        assert "WinExec(Engine.exe)" in dv.text(), dv.text()
    assert setup_folders() == before


@case
def main_window_answers_autoplay_cancel_during_a_disk_prompt():
    w = fresh_dir("beh_autoplay")
    first = two_volumes(w)
    (w / "Setup.exe.002").unlink()
    p = run_stub(first, wait=False)  # visible: a hidden run never shows the disk prompt
    box = Driver(timeout_ms=30000).wait("ZMsgBox")
    mains = windows_of_class(winpath(first))
    assert len(mains) == 1, mains
    assert sendto(mains[0][0], "QueryCancelAutoPlay") == 1
    box.press("Cancel")
    assert p.wait(120) == 1602  # the user cancelled


@case
def web_stub_asks_with_size_zero_and_reports_no_connection():
    w = fresh_dir("beh_web")
    s = Setup(w, "Web.exe")
    s.package.update({"web_setup": 1, "confirm_download": 1, "allow_unsigned": 1})
    s.web = {"base": "http://127.0.0.1:9", "file": "Real.exe", "always": 1, "token": "WEB-1"}  # no size
    stub = s.build()
    d = Driver(timeout_ms=30000)
    p = winelib.start([exe("launch.exe"), winpath(stub)], cwd=str(w), env=NO_WININET)
    box = d.wait("ZMsgBox", title="Confirm")
    text = box.dump()["text"]
    assert text.endswith("\r\nSize: 0.000 MB\r\n\r\n"), repr(text)
    box.press("Yes")
    box.gone()
    box = d.wait("ZMsgBox", title="Error")
    text = box.dump()["text"]
    # "s12", then the system's own error text after an empty line.
    assert re.fullmatch(r"ERROR\r\n\r\nNo valid Internet Connection\.\r\nCan not Download File!\r\n\r\n[^\r\n]+\r\n",
                        text), repr(text)
    box.press("OK")
    p.wait(60)


@case
def delay_reaches_the_x_copy_as_sleepx_and_holds_back_its_first_check():
    with Product(fresh_dir("beh_delay")) as p:
        p.write_original(setup={"ProbeSecondsInterval": 0})
        p.release(version=100)
        with winelib.DebugViewer(p.work) as dv:
            run_stub(p.agent, "/DELAY=6")
            p.wait_log("GetOkToPerformAU = 3", 60)
            counts = [int(v) for v in re.findall(r"AutoUpdateTimerCount=(-?\d+)", dv.text())]
        assert "/SleepX=6" in p.log(), p.log()
        # Counter from -6: five ticks without a check, the first check at 1.
        assert counts[:7] == [-5, -4, -3, -2, -1, 0, 1], counts
        assert p.log().count("GetOkToPerformAU = ") == 1, p.log()


@case
def agent_under_a_foreign_name_runs_the_window_itself():
    with Product(fresh_dir("beh_foreign")) as p:
        other = p.install / "Renamed.exe"
        other.write_bytes(p.agent.read_bytes())
        proc = start([exe("launch.exe"), winpath(other)], cwd=str(p.install))
        rows = wait_until(lambda: windows_of_class(".AutoUpdate.Renamed"), 30, what="its own window")
        assert not rows[0][1], rows  # hidden, like the X_ copy's
        assert proctool("running", winpath(other))[0] == "TRUE"
        assert not p.x_windows() and not list(p.install.glob("X_*.exe")), list(p.install.iterdir())
        sendto(rows[0][0], 1123, 0, 0)  # wm_ShutDown with countdown 0
        wait_until(lambda: not windows_of_class(".AutoUpdate.Renamed"), 30, what="the window to go")
        proc.wait(30)


@case
def diagnostic_detail_needs_dvx_exactly_938():
    with Product(fresh_dir("beh_dvx")) as p:
        p.release(version=100)
        p.start_agent(env={"DVX": "938 "})
        p.command(31, 2)
        d = driver()
        box = d.wait("ZMsgBox")
        box.press("Yes")
        box.gone()
        box = d.wait("ZMsgBox")
        text = box.dump()["text"]
        assert text.strip() == "NOTHING-TO-DO", repr(text)
        box.press("OK")
        box.gone()


@case
def huge_wait_is_not_cut_short():
    with Product(fresh_dir("beh_wait")) as p:
        # 4294968 s * 1000 wraps to 704 ms in 32 bits.
        proc = run_stub(p.agent, "/WAIT=4294968", wait=False)
        try:
            p.wait_log("Wait 4294968 SEC", 30)
            time.sleep(4)
            assert not (p.install / "X_Agent.exe").exists() and not p.x_windows()
        finally:
            winelib.run([exe("proctool.exe"), "terminate", winpath(p.agent), 1])
            proc.wait(30)


if __name__ == "__main__":
    winelib.main()
