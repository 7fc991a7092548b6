"""Roles at start: a second start of a running setup, the plain agent that
makes and starts its X_ copy, the switches it forwards to the copy as window
messages, the main window's close handling and the log file."""
import pathlib
import re
import shutil
import time

import winelib
from winelib import case, fresh_dir, winpath, wait_until, start, exe
from guidriver import Driver
from stubtest import Setup, run_stub, temp_folder
from proctest import App, proctool

X_CLASS = ".AutoUpdate.X_Tool"


def agent(w, debug_log=True):
    s = Setup(w, "Tool.exe")
    s.package.update({"is_update_agent": 1, "agent_exe": "Tool.exe", "info_file": "Tool.info", "allow_unsigned": 1})
    if debug_log:
        s.package["debug_log"] = 1
    # These tests are about the roles: the copy never checks for updates by itself.
    (pathlib.Path(w) / "Tool.original").write_text("[OriginalSetup]\r\nProbeSecondsInterval=-1\r\n")
    return s.build()


def x_window():
    out = winelib.run([exe("guidriver.exe"), "windows"], expect_output=True).stdout
    return [line.split("\t") for line in out.splitlines() if f"\t{X_CLASS}\t" in line]


def log_lines(w):
    p = w / "X_Tool.log"
    return p.read_text(encoding="latin-1").splitlines() if p.exists() else []


def stop_copy(tool, w):
    run_stub(tool, "/STOP=0")
    wait_until(lambda: not x_window(), 30, what="the X_ copy to end")
    wait_until(lambda: not (w / "X_Tool.exe").exists(), 30, what="X_Tool.exe to delete itself")


@case
def plain_agent_starts_its_x_copy_which_quits_on_stop_and_deletes_itself():
    w = fresh_dir("roles_agent")
    tool = agent(w)
    assert run_stub(tool).returncode == 0
    rows = wait_until(x_window, 30, what="the X_ copy's window")
    assert rows[0][2] == "visible=0", rows  # hidden
    assert (w / "X_Tool.exe").exists()
    # The switch is read ignoring case; a countdown of 0 ends the copy at its next tick.
    run_stub(tool, "/stop=0")
    wait_until(lambda: not x_window(), 30, what="the X_ copy to end")
    wait_until(lambda: not (w / "X_Tool.exe").exists(), 30, what="X_Tool.exe to delete itself")
    log = log_lines(w)
    assert not (w / "X_X_Tool.log").exists()
    text = "\n".join(log)
    for needle in ("=== START === " + winpath(tool), "CreateAndRun_X_Exe() --- Start", "HandleParamOK() --- End",
                   "PostProcessMessage(wm_ShutDown) to: " + winpath(w / "X_Tool.exe"), "DeleteMySelf"):
        assert needle in text, needle
    # Lines of the copy carry the " X " tag after the thread id.
    assert any(re.search(r"^\S+ \S+ +\d+ X === START === ", l) for l in log), log[:6]
    assert any(re.search(r"^\S+ \S+ +\d+ {3}DoRunStubWin\(\) --- Start", l) for l in log), log[:6]


@case
def no_log_file_without_the_debug_flag_or_in_a_setup():
    w = fresh_dir("roles_nolog")
    tool = agent(w, debug_log=False)
    # No copy running: the plain agent makes one, which the countdown of 0 ends
    # at its next tick (too quickly to watch its window come and go).
    run_stub(tool, "/STOP=0")
    assert (w / "X_Tool.exe").exists()
    wait_until(lambda: not (w / "X_Tool.exe").exists(), 40, what="X_Tool.exe to delete itself")
    assert not list(w.glob("*.log")), list(w.glob("*"))
    s = Setup(w, "Setup.exe")
    s.package["debug_log"] = 1
    s.add_engine()
    assert run_stub(s.build(), "/hide").returncode == 0
    assert not list(w.glob("*.log")), list(w.glob("*"))


@case
def second_start_of_a_running_setup_ends_at_once():
    w = fresh_dir("roles_second")
    s = Setup(w)
    s.add_engine("/ZT_SLEEP=15000")
    exe_path = s.build()
    with winelib.DebugViewer(w) as dv:
        first = run_stub(exe_path, "/hide", wait=False)
        dv.wait_for("WinExec(Engine.exe)", 60)
        t0 = time.time()
        r = run_stub(exe_path, "/hide")
        assert r.returncode == 1618  # another start of the same setup is at work
        assert time.time() - t0 < 12, "the second start waited for the first"
        assert first.poll() is None, "the first setup should still run"
        first.wait(120)
        pids = re.findall(r"^(\d+) ==== STUB START", dv.text(), re.M)
        assert len(pids) == 2, dv.text()
        second = pids[1]
        lines = [l for l in dv.lines() if l.startswith(second + " ")]
        expected = ["==== STUB START ====> ", "==== ThisIs_AutoUpdateProg=FALSE", "==== STUB END ====> "]
        assert len(lines) == 3 and all(l.split(" ", 1)[1].startswith(e) for l, e in zip(lines, expected)), lines


@case
def forwarded_switches_reach_the_running_copy_as_messages():
    w = fresh_dir("roles_forward")
    tool = agent(w)
    # A stand-in for the running copy records what it is posted.
    x = pathlib.Path(w / "X_Tool.exe")
    shutil.copyfile(exe("testwindows.exe"), x)
    with App(x, [f"hidden,title=Agent,class={X_CLASS}"], tag="xcopy") as app:
        run_stub(tool, "/STOP=5", "/WM_MSG=4660:777", "/TEST=0")
        wait_until(lambda: len([m for m in app.messages() if m[0] >= 1123]) >= 3, 20, what="three messages")
        got = [m for m in app.messages() if m[0] in (1123, 1124, 1125)]
        assert (1123, 0, 5, 0) in got, got
        assert (1124, 0, 4660, 777) in got, got
        assert (1125, 0, 31, 0) in got, got
        # /TEST=0 never adds a shut-down; a copy that was running gets none for /TEST=1 either.
        run_stub(tool, "/TEST=1")
        wait_until(lambda: (1125, 0, 31, 1) in app.messages(), 20, what="command 31 with 1")
        assert [m for m in app.messages() if m[0] == 1123] == [(1123, 0, 5, 0)], app.messages()
        # Without a colon the whole value is the handle and the message is 0.
        run_stub(tool, "/WM_MSG=1234")
        wait_until(lambda: (1124, 0, 1234, 0) in app.messages(), 20, what="wm_LocalMsg 1234:0")
        assert "/TRANSIENTx=" not in app.command_line()


@case
def test_switch_starts_a_copy_that_quits_again():
    w = fresh_dir("roles_test1")
    tool = agent(w)
    assert run_stub(tool, "/TEST=1").returncode == 0
    # The copy was started only for this check: wm_ShutDown 2 ends it after a few ticks.
    wait_until(lambda: (w / "X_Tool.exe").exists(), 20, what="the copy")
    wait_until(lambda: not x_window() and not (w / "X_Tool.exe").exists(), 40, what="the copy to quit by itself")
    assert "PostProcessMessage(wm_AgentMsg) to: " + winpath(w / "X_Tool.exe") + " - AU_PerformUpdateCycle (1)" \
        in "\n".join(log_lines(w))


@case
def client_registration_close_requests_and_the_end_notification():
    w = fresh_dir("roles_client")
    tool = agent(w)
    run_stub(tool)
    rows = wait_until(x_window, 30, what="the X_ copy's window")
    hwnd = int(rows[0][0], 16)
    out = w / "notify.txt"
    client = start([exe("notifyclient.exe"), "/msg=32777", "/out=" + winpath(out), "/until=43", "/timeout=90000",
                    "/run", winpath(tool)])
    wait_until(lambda: out.exists() and len(out.read_text().split("\n")) >= 3, 30, what="two notifications")
    pairs = [tuple(map(int, l.split())) for l in out.read_text().split("\n") if l.strip()]
    assert pairs[:2] == [(50, hwnd), (51, 1125)], pairs
    # A folder by the name the copy's setup folder would have, made by someone else.
    t = time.localtime((w / "X_Tool.exe").stat().st_mtime)
    setup_folder = winelib.wine_temp() / f"SETUP_{(t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec // 2)}"
    setup_folder.mkdir(parents=True, exist_ok=True)
    (setup_folder / "left.txt").write_text("x")
    # One close request only asks a download to stop; the window stays.
    xcopy = winpath(w / "X_Tool.exe")
    proctool("post", xcopy, 1, 16, 0, 0)
    time.sleep(2)
    assert x_window(), "the first close request closed the window"
    proctool("post", xcopy, 1, 16, 0, 0)
    wait_until(lambda: not x_window(), 30, what="the second close request to end the copy")
    assert client.wait(60) == 0
    pairs = [tuple(map(int, l.split())) for l in out.read_text().split("\n") if l.strip()]
    assert pairs[-1] == (43, 0), pairs
    wait_until(lambda: not (w / "X_Tool.exe").exists(), 30, what="X_Tool.exe to delete itself")
    # The copy made no setup folder, so its window's end removes none.
    assert (setup_folder / "left.txt").read_text() == "x"
    shutil.rmtree(setup_folder)
    text = "\n".join(log_lines(w))
    assert text.count(".. CloseMainWindow() - Start") == 2
    assert ".. DestroyMainWindow() - End" in text


@case
def registration_of_no_window_or_a_system_message_is_refused():
    w = fresh_dir("roles_silent")
    tool = agent(w)
    run_stub(tool)
    wait_until(x_window, 30, what="the X_ copy's window")
    out = w / "notify.txt"
    client = start([exe("notifyclient.exe"), "/msg=32777", "/out=" + winpath(out), "/until=43", "/timeout=15000",
                    "/run", winpath(tool)])
    wait_until(lambda: out.exists() and out.read_text().count("\n") >= 2, 30, what="two notifications")
    # No window 1234 and message 0, and the copy's own window with WM_CLOSE:
    # both refused, so the client stays registered and hears the end (either
    # one taken would have sent it elsewhere). The copy's log is not counted:
    # under Wine two processes appending to it at once may lose a line.
    agent_window = int(x_window()[0][0], 16)
    run_stub(tool, "/WM_MSG=1234")
    run_stub(tool, f"/WM_MSG={agent_window}:16")
    time.sleep(2)
    assert x_window(), "the refused registration closed the copy"
    stop_copy(tool, w)
    assert client.wait(60) == 0, "the client should have heard the end"
    pairs = [tuple(map(int, l.split())) for l in out.read_text().split("\n") if l.strip()]
    assert pairs == [(50, pairs[0][1]), (51, 1125), (43, 0)], pairs


@case
def restart_switch_makes_a_fresh_copy_that_ends_at_once_while_one_runs():
    w = fresh_dir("roles_zz99")
    tool = agent(w)
    run_stub(tool)
    wait_until(x_window, 30, what="the X_ copy's window")
    run_stub(tool, "/_ZZ=99", "/WAIT=0", "/X=1")
    def x_lines(kind):
        return [l for l in log_lines(w) if re.search(r"\d X " + kind, l)]
    wait_until(lambda: len(x_lines("=== EXIT ===")) == 1, 30, what="the fresh copy to end")
    assert len(x_lines("=== START ===")) == 2
    assert len(x_window()) == 1
    stop_copy(tool, w)


def named_agent(w, name):
    s = Setup(w, name + ".exe")
    s.package.update({"is_update_agent": 1, "agent_exe": name + ".exe", "info_file": name + ".info",
                      "allow_unsigned": 1})
    (pathlib.Path(w) / (name + ".original")).write_text("[OriginalSetup]\r\nProbeSecondsInterval=-1\r\n")
    return s.build()


@case
def two_copies_delete_themselves_at_once_from_a_temp_folder_with_a_blank():
    folder = winelib.PREFIX / "drive_c" / "Temp Dir With Blank"
    folder.mkdir(exist_ok=True)
    agents = []
    for name in ("AgentA", "AgentB"):
        w = fresh_dir("roles_batch_" + name)
        agents.append((w, name, named_agent(w, name)))
    with temp_folder("C:\\Temp Dir With Blank"):
        for w, name, tool in agents:
            run_stub(tool)
        for w, name, tool in agents:
            wait_until(lambda: Driver().run("windows")[1].count(f"\t.AutoUpdate.X_{name}\t"), 30,
                       what=f"the X_ copy of {name}")
        stops = [run_stub(tool, "/STOP=0", wait=False) for _, _, tool in agents]
        for p in stops:
            p.wait(60)
        for w, name, _ in agents:
            wait_until(lambda: not (w / f"X_{name}.exe").exists(), 40, what=f"X_{name}.exe to delete itself")
        wait_until(lambda: not list(folder.glob("_DEL_ME_*")), 20, what="the batches to delete themselves")


if __name__ == "__main__":
    winelib.main()
