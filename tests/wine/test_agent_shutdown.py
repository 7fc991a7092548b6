"""The agent's shut-down of the program before an update, and stopping the
agent while it waits: a program that does not end makes the agent abandon
the update after the shut-down wait, and a stop ends the agent within
seconds, also from inside a box. An installed product (agenttest.Product);
the test mode's TestModeShutDownWait shortens the wait to seconds."""
import shutil
import time

import winelib
from agenttest import Product, clear_test_mode, driver, set_test_mode
from stubtest import reg_delete, reg_set, run_stub
from winelib import case, fresh_dir, wait_until

KEY = "HKCU\\Software\\Vindraco\\Zelkan\\AutoUpdate"
WAIT_S = 6  # the shortened shut-down wait


def with_test_folder(p, folder):
    """The release, also in the test mode's folder."""
    folder.mkdir(exist_ok=True)
    for name in ("Product.info", "Update.exe"):
        shutil.copyfile(p.srv / name, folder / name)


def shortened_wait(folder, today=True):
    set_test_mode(folder, None if today else time.strftime("%d-%b-%Y", time.localtime(time.time() - 86400)).upper())
    reg_set(KEY, "TestModeShutDownWait", str(WAIT_S))


def clear_hook():
    clear_test_mode()
    reg_delete(KEY, "TestModeShutDownWait")


def assert_nothing_installed(p, app):
    assert p.engine_report() is None, p.engine_report()
    assert p.original()["OriginalSetup"]["VersionOriginal"] == "100", p.original()
    assert not (p.install / "Update.exe").exists(), "the package was kept"
    assert app.alive() and p.program_running(), "the program did not keep running"


@case
def program_that_does_not_end_abandons_the_update():
    # method, program switches: WM_CLOSE refused; the ask-to-close box that nobody answers.
    for method, switches in [("Using WM_CLOSE", ["/refuseclose"]), ("Issue a Message Box", [])]:
        w = fresh_dir("shutdown_abandon")
        try:
            with Product(w) as p:
                p.release(version=101, method=method)
                with_test_folder(p, w / "testfolder")
                shortened_wait(w / "testfolder")
                app = p.start_program(*switches)
                p.start_agent()
                p.command(31, 1)
                p.wait_log("Shut Down Process() - START", 60)
                if method == "Issue a Message Box":
                    box = driver().wait("ZMsgBox")
                    assert "CLOSE-Product.exe" in box.dump()["text"]
                p.wait_log(f"Product.exe did not end within {WAIT_S} s", 60)
                assert "Update abandoned: " in p.log(), p.log()
                p.wait_log("PerformAutoUpdate() - END    Result=FALSE", 20)
                assert_nothing_installed(p, app)
                if method == "Using WM_CLOSE":
                    assert any(m[0] == 16 for m in app.messages()), app.messages()
                else:
                    box.gone()  # it closed by itself at the deadline
                assert (44, 1) in p.pairs() and (42, 1) not in p.pairs(), p.pairs()
                # The agent is idle again and answers.
                assert p.command(7) == 0
                assert not driver().exists("ZMsgBox")
        finally:
            clear_hook()


@case
def stop_during_the_wait_ends_the_agent_within_seconds():
    # The hook counts only in the test mode: with yesterday's date the wait keeps its full length.
    w = fresh_dir("shutdown_stop_wait")
    try:
        with Product(w) as p:
            p.release(version=101, method="Using WM_CLOSE")
            with_test_folder(p, w / "testfolder")
            shortened_wait(w / "testfolder", today=False)
            app = p.start_program("/refuseclose")
            p.start_agent()
            p.command(31, 1)
            p.wait_log("Shut Down Process() - START", 60)
            time.sleep(WAIT_S + 4)
            assert "Update abandoned" not in p.log(), p.log()
            # Command 30: the countdown of two ticks runs out during the wait.
            t0 = time.time()
            assert p.command(30, 2) == 0
            wait_until(lambda: not p.x_windows(), 20, what="the X_ copy to end")
            assert time.time() - t0 < 10, time.time() - t0
            wait_until(lambda: not (p.install / "X_Agent.exe").exists(), 20, what="the X_ copy's file to go")
            assert "Update abandoned: the agent was asked to stop" in p.log(), p.log()
            assert_nothing_installed(p, app)
            assert (43, 0) in p.pairs() and (44, 1) not in p.pairs(), p.pairs()
    finally:
        clear_hook()


@case
def stop_during_the_ask_to_close_box_closes_it_and_ends_the_agent():
    with Product(fresh_dir("shutdown_stop_box")) as p:
        p.release(version=101, method="Issue a Message Box")
        app = p.start_program()
        p.start_agent()
        p.command(31, 1)
        box = driver().wait("ZMsgBox")
        assert "CLOSE-Product.exe" in box.dump()["text"]
        # Through the plain agent, whose message reaches the open box first.
        t0 = time.time()
        assert run_stub(p.agent, "/STOP=0").returncode == 0
        box.gone()
        wait_until(lambda: not p.x_windows(), 20, what="the X_ copy to end")
        assert time.time() - t0 < 10, time.time() - t0
        wait_until(lambda: not (p.install / "X_Agent.exe").exists(), 20, what="the X_ copy's file to go")
        # No box came back after the stop closed this one.
        assert not driver().exists("ZMsgBox")
        assert "Update abandoned: the agent was asked to stop" in p.log(), p.log()
        assert_nothing_installed(p, app)


if __name__ == "__main__":
    winelib.main()
