"""Process search, main-window choice, closing and waiting, driven through
proctool against copies of the testwindows program."""
import subprocess
import time

from proctest import App, copy_program, proctool, proctool_lines, read_keys
from winelib import case, exe, fresh_dir, main, start, wait_until, winpath

WM_CLOSE, WM_QUIT = 16, 18
VISIBLE_TITLED = "visible,title=Main"


@case
def search_by_path_name_and_short_form():
    d = fresh_dir("process_search") / "Long Folder Name"
    d.mkdir()
    path = copy_program(d, "LongApplicationName.exe")
    with App(path, [VISIBLE_TITLED]) as app:
        short, _ = proctool("shortpath", app.win)
        assert short and short.upper() != app.win.upper(), f"no distinct short form: {short!r}"
        upper = app.win.upper()
        # (text sought, expected by IsProcessRunning)
        for sought, expected in [
            ('"' + app.win + '"', True),
            ("  " + upper + "  ", True),
            ("LongApplicationName.exe", True),
            ("longapplicationname.EXE", True),
            (short, True),
            (winpath(d / "Missing.exe"), False),
            ("Z:\\nowhere\\LongApplicationName.exe", False),
            ("LongApplicationName", False),
        ]:
            out, code = proctool("running", sought)
            assert out == ("TRUE" if expected else "FALSE"), (sought, out)
            assert code == (0 if expected else 1), (sought, code)
        # Full path and short form are full paths: found with full-path-only too,
        # through each process list that can see full paths here.
        for mode in ("modules", "imagename"):
            for sought in (app.win, short):
                out, _ = proctool("find", sought, 1, mode=mode)
                assert out == str(app.pid), (mode, sought, out, app.pid)
        # The snapshot list of this family carries bare names only.
        out, _ = proctool("find", "LongApplicationName.exe", 0, mode="toolhelp")
        assert out == str(app.pid), out
    app.wait()
    out, _ = proctool("running", app.win)
    assert out == "FALSE", "an ended process is still reported"


@case
def closing_operations_ignore_bare_names():
    d = fresh_dir("process_bare")
    path = copy_program(d, "bareapp.exe")
    with App(path, [VISIBLE_TITLED]) as app:
        for command in ("close-wmclose", "close-wmquit", "terminate"):
            out, _ = proctool(command, "bareapp.exe", 1)
            assert out == "FALSE", (command, out)
        out, _ = proctool("post", "bareapp.exe", 1, 1125, 31, 1)
        assert out == "FALSE", out
        # The same name without full-path-only does reach the window.
        out, _ = proctool("post", "bareapp.exe", 0, 1125, 31, 2)
        assert out == "TRUE", out
        wait_until(lambda: (1125, 0, 31, 2) in app.messages(), 10, what="message 1125")
        time.sleep(0.5)
        assert app.alive()
        assert [m for m in app.messages() if m[0] in (WM_CLOSE, WM_QUIT, 1125)] == [(1125, 0, 31, 2)]


@case
def two_copies_the_last_listed_is_found():
    d = fresh_dir("process_two")
    path = copy_program(d, "twice.exe")
    with App(path, [VISIBLE_TITLED], tag="a") as a, App(path, [VISIBLE_TITLED], tag="b") as b:
        for mode in ("modules", "toolhelp"):
            out = proctool_lines("list", mode=mode)
            order = [int(line.split()[0]) for line in out if line.strip()]
            assert a.pid in order and b.pid in order, (mode, order)
            last = a.pid if order.index(a.pid) > order.index(b.pid) else b.pid
            sought = a.win if mode == "modules" else "twice.exe"
            found, _ = proctool("find", sought, 0, mode=mode)
            assert found == str(last), (mode, found, last, order)


# (what, window specs, index of the window that must be chosen, None for
# none, or FIRST for whichever of the windows comes first in enumeration order)
FIRST = "first"
MAIN_WINDOW_CASES = [
    ("only hidden untitled windows", ["hidden", "hidden"], None),
    ("hidden titled beats visible untitled", ["visible", "hidden,title=T"], 1),
    ("visible titled beats hidden titled", ["hidden,title=A", "visible,title=B"], 1),
    ("equal scores: the first enumerated", ["visible,title=A", "visible,title=B"], FIRST),
    ("the root of an owner chain wins", ["hidden", "visible,title=A,owner=0", "visible,title=B,owner=1"], 0),
    ("more owned windows win",
     ["visible,title=A", "hidden", "hidden,owner=0", "hidden,owner=1", "hidden,owner=1"], 1),
]


@case
def main_window_is_chosen_by_score():
    d = fresh_dir("process_main")
    path = copy_program(d, "mainwin.exe")
    for n, (what, windows, expected) in enumerate(MAIN_WINDOW_CASES):
        with App(path, windows, tag=f"c{n}") as app:
            if expected == FIRST:
                listed = [int(line.split()[0]) for line in proctool_lines("windows", app.pid)]
                expected = min(range(len(app.hwnds)), key=lambda i: listed.index(app.hwnds[i]))
            out, _ = proctool("mainwindow", app.win, 1)
            want = 0 if expected is None else app.hwnds[expected]
            assert out == str(want), (what, out, app.hwnds)
            out, _ = proctool("post", app.win, 1, 1123, 5, 0)
            assert out == ("FALSE" if expected is None else "TRUE"), (what, out)
            if expected is not None:
                wait_until(lambda: (1123, expected, 5, 0) in app.messages(), 10, what=what)
            else:
                time.sleep(0.5)
                assert not [m for m in app.messages() if m[0] == 1123], what


@case
def root_owner_follows_the_chain():
    d = fresh_dir("process_owner")
    path = copy_program(d, "owner.exe")
    with App(path, ["hidden", "hidden,owner=0", "hidden,owner=1"]) as app:
        for index, expected in [(0, 0), (1, app.hwnds[0]), (2, app.hwnds[0])]:
            out, _ = proctool("rootowner", app.hwnds[index])
            assert out == str(expected), (index, out)


# (command, refuse WM_CLOSE, message recorded, ends, exit code when it ends)
CLOSE_CASES = [
    ("close-wmclose", False, (WM_CLOSE, 0, 15, 255), True, 7),
    ("close-wmclose", True, (WM_CLOSE, 0, 15, 255), False, None),
    ("close-wmquit", False, (WM_QUIT, 0, 15, 255), True, 7),
    ("terminate", False, None, True, 0),
]


@case
def closing_methods_end_the_program():
    d = fresh_dir("process_close")
    path = copy_program(d, "closeme.exe")
    for n, (command, refuse, message, ends, code) in enumerate(CLOSE_CASES):
        extra = ["/exit=7"] + (["/refuseclose"] if refuse else [])
        with App(path, [VISIBLE_TITLED, "hidden"], extra=extra, tag=f"c{n}") as app:
            out, _ = proctool(command, app.win, 1)
            assert out == "TRUE", (command, out)
            if ends:
                assert app.wait(20) == code, (command, app.proc.returncode)
            else:
                wait_until(lambda: message in app.messages(), 10, what="refused WM_CLOSE")
                time.sleep(1.0)
                assert app.alive(), "refused WM_CLOSE ended the program"
            if message:
                assert message in app.messages(), (command, app.messages())


@case
def wait_for_process_end():
    d = fresh_dir("process_wait")
    path = copy_program(d, "waitme.exe")
    # Not running: one step of one second on this family, two on the other.
    for mode, low, high in [("modules", 900, 1900), ("toolhelp", 1900, 2900)]:
        out, _ = proctool("wait-end", path.name, 0, mode=mode)
        assert low <= int(out) <= high, (mode, out)
    with App(path, [VISIBLE_TITLED]) as app:
        # Limited: gives up after the limit, at the next one-second step.
        out, _ = proctool("wait-end", app.win, 2000)
        assert 2000 < int(out) <= 4000, out
        assert app.alive()
        # Unlimited: returns within a step of the end of the process.
        waiter = start([exe("proctool.exe"), "wait-end", '"' + app.win + '"', 0], stdout=subprocess.PIPE)
        time.sleep(3.5)
        assert waiter.poll() is None, "the wait ended while the process ran"
        app.stop()
        out, _ = waiter.communicate(timeout=20)
        assert 3000 <= int(out.decode().strip()) <= 6500, out


@case
def wait_while_window_exists():
    d = fresh_dir("process_window")
    path = copy_program(d, "windowed.exe")
    # Nothing to wait for: returns at once, also when neither class nor title is given.
    for cls, title in [("ZNoSuchClass", ""), ("", "No such title"), ("", "")]:
        out, _ = proctool("wait-window", cls, title)
        assert int(out) < 500, (cls, title, out)
    with App(path, ["hidden,class=ZWaitClass,title=Busy"]) as app:
        out, _ = proctool("wait-window", "ZWaitClass", "Other title")
        assert int(out) < 500, out
        waiter = start([exe("proctool.exe"), "wait-window", "ZWaitClass", ""], stdout=subprocess.PIPE)
        time.sleep(2.0)
        assert waiter.poll() is None, "the wait ended while the window existed"
        out, _ = proctool("close-wmclose", app.win, 1)
        assert out == "TRUE"
        out, _ = waiter.communicate(timeout=20)
        assert int(out.decode().strip()) >= 1500, out


@case
def notify_client_records_and_passes_its_handle():
    d = fresh_dir("process_notify")
    target = copy_program(d, "notified.exe")
    out_file, handle_file, report = d / "pairs.txt", d / "handle.txt", d / "target.report"
    client = start([exe("notifyclient.exe"), "/msg=1300", "/out=" + winpath(out_file),
                    "/handle=" + winpath(handle_file), "/until=43", "/timeout=30000", "/run",
                    winpath(target), "/report=" + winpath(report), "/window=hidden", "/lifetime=20000"])
    try:
        handle = wait_until(lambda: handle_file.exists() and handle_file.read_text().strip(), 20)
        wait_until(lambda: (read_keys(report) or {}).get("cmdline"), 20, what="target started")
        assert read_keys(report)["cmdline"].endswith(f" /WM_MSG={handle}:1300"), read_keys(report)
        for w, l in [(50, 12345), (43, 0)]:
            out, _ = proctool("post", "notifyclient.exe", 0, 1300, w, l)
            assert out == "TRUE", out
        assert client.wait(20) == 0
        assert out_file.read_text().splitlines() == ["50 12345", "43 0"], out_file.read_text()
    finally:
        if client.poll() is None:
            client.kill()
        proctool("terminate", winpath(target), 1)


main()
