"""The update installation: an installed product (agenttest.Product) is
updated by its agent from nginx on 127.0.0.1. The update package's engine is
the test engine, which reports its command line into the install folder."""
import time

import winelib
from agenttest import Product, driver
from stubtest import patch
from winelib import case, exe, fresh_dir, wait_until, winpath

UPDATE_PAIRS = [(40, 1), (40, 2), (41, 1), (41, 2), (42, 1), (42, 2)]


def programs_running(p):
    """Process ids of the product program, from the process list."""
    out = winelib.run([exe("proctool.exe"), "list"]).stdout
    target = winpath(p.program).lower()
    return [int(l.split(" ", 1)[0]) for l in out.splitlines() if l.split(" ", 1)[-1].strip().lower() == target]


def end_programs(p):
    winelib.run([exe("proctool.exe"), "terminate", winpath(p.program), 1])


def finished(p, result):
    return p.wait_log(f"PerformAutoUpdate() - END    Result={result}", 90)


def keep_agent(p):
    """A quit countdown far away: the agent stays instead of handing over."""
    assert p.command(30, 100000) == 0


@case
def forced_check_installs_restarts_the_program_and_hands_over():
    with Product(fresh_dir("update_full")) as p:
        p.release(version=101)
        app = p.start_program()
        hwnd, old_pid = p.start_agent()
        p.command(31, 1)
        finished(p, "TRUE")
        rep = p.engine_report()
        assert rep and f'/OriginalInfoFile="{winpath(p.install / "Product.info")}"' in rep["CommandLine"], rep
        assert p.original()["OriginalSetup"]["VersionOriginal"] == "101"
        assert not (p.install / "Update.exe").exists()
        # WM_CLOSE ended the program; it runs again as a new process.
        assert any(m[0] == 16 for m in app.messages()), app.messages()
        app.wait(20)
        wait_until(lambda: programs_running(p), 20, what="the restarted program")
        # The old agent ends and a fresh one takes over after its ten-second wait.
        wait_until(lambda: (43, 0) in p.pairs(), 30, what="the old agent's end")
        rows = wait_until(lambda: [r for r in p.x_windows() if r[1] != old_pid], 60, what="the new agent")
        assert rows and all(r[1] != old_pid for r in p.x_windows())
        got = [x for x in p.pairs() if x[0] in (40, 41, 42)]
        assert got == UPDATE_PAIRS, p.pairs()
        log = p.log()
        assert ".. WinExec - \"" + winpath(p.install / "Agent.exe") + "\" /_ZZ=99 /WAIT=10 /TRANSIENT=|" in log, log
        end_programs(p)


METHODS = [
    # method, program switches, what the test does while the agent waits, restarted
    ("Using WM_QUIT", ["/refuseclose"], None, True),
    ("Using Terminate Process", ["/refuseclose"], None, True),
    ("Don't Shut Down", [], None, False),
    ("", [], "terminate", True),
    ("Issue a Message Box", [], "box", True),
]


@case
def each_shut_down_method():
    for method, switches, action, restarted in METHODS:
        with Product(fresh_dir("update_method")) as p:
            p.release(version=101, method=method)
            app = p.start_program(*switches)
            p.start_agent()
            keep_agent(p)
            p.command(31, 1)
            if action == "terminate":
                p.wait_log("Shut Down Process() - START", 60)
                time.sleep(3)
                assert app.alive() and p.engine_report() is None, f"{method!r}: the agent did not wait"
                end_programs(p)
            elif action == "box":
                box = driver().wait("ZMsgBox")
                assert "CLOSE-Product.exe" in box.dump()["text"], method
                end_programs(p)
                box.press("OK")
                box.gone()
            finished(p, "TRUE")
            rep = p.engine_report()
            assert rep, method
            if method == "Don't Shut Down":
                # The update ran while the program ran; it was not restarted.
                assert app.alive(), method
                assert programs_running(p) == [app.pid], method
            else:
                assert not app.alive() or app.wait(20) is not None, method
                if restarted:
                    wait_until(lambda: [x for x in programs_running(p) if x != app.pid], 20,
                               what=f"{method!r}: the restart")
            end_programs(p)


@case
def no_restart_when_the_program_was_not_running_or_the_agent_is_quitting():
    with Product(fresh_dir("update_norestart")) as p:
        p.release(version=101)
        p.start_agent()
        keep_agent(p)
        p.command(31, 1)
        finished(p, "TRUE")
        time.sleep(2)
        assert not programs_running(p)
        # The countdown above 0 kept the agent from restarting itself.
        assert ".. WinExec - " not in p.log()
        assert len(p.x_windows()) == 1


REFUSED = [
    # what, how the served package is spoiled, the error the user sees
    ("foreign token", "token", "Bad Secret Token!"),
    ("payload byte flipped", "flip", "damaged or incomplete"),
    # Its recorded package end now lies beyond the file: no package, so no token.
    ("one byte cut from the middle", "cut", "Bad Secret Token!"),
]


@case
def refused_packages_shut_nothing_down():
    for what, spoil, message in REFUSED:
        with Product(fresh_dir("update_refused")) as p:
            p.release(version=101, token="OTHER-1" if spoil == "token" else "PRODUCT-1",
                      extra={"RequestConfirmationBeforeDownload": 1})
            pkg = p.srv / "Update.exe"
            data = bytearray(pkg.read_bytes())
            if spoil == "flip":
                data[len(data) // 2] ^= 0x5A
            elif spoil == "cut":
                del data[len(data) // 2]
            pkg.write_bytes(bytes(data))
            app = p.start_program()
            p.start_agent()
            keep_agent(p)
            p.command(31, 1)
            d = driver()
            box = d.wait("ZMsgBox")
            assert "ANNOUNCE-Product-S12" in box.dump()["text"], what
            box.press("Yes")
            box.gone()
            box = d.wait("ZMsgBox")
            assert message in box.dump()["text"], (what, box.dump()["text"])
            box.press("OK")
            box.gone()
            finished(p, "FALSE")
            assert not (p.install / "Update.exe").exists(), what
            assert app.alive() and not any(m[0] == 16 for m in app.messages()), what
            assert p.engine_report() is None, what
            assert p.original()["OriginalSetup"]["VersionOriginal"] == "100", what


@case
def names_from_the_info_file_never_leave_the_agent_folder():
    with Product(fresh_dir("update_names")) as p:
        outside = p.work / "evil.exe"
        outside.write_text("keep me")
        p.build_update("evil.exe")
        size = (p.srv / "evil.exe").stat().st_size
        p.release(version=101, update="..\\evil.exe", size=size, build=False)
        p.start_agent()
        keep_agent(p)
        p.command(31, 1)
        finished(p, "TRUE")
        assert outside.read_text() == "keep me"
        assert not (p.install / "evil.exe").exists()
        # The agent's own file is never a download target.
        agent_bytes = p.agent.read_bytes()
        p.build_update("Agent.exe")
        p.release(version=102, stamp=3, update="Agent.exe", size=(p.srv / "Agent.exe").stat().st_size, build=False)
        p.command(31, 1)
        p.wait_log("GetOkToPerformAU = 5 - Download file size error", 30)
        assert p.agent.read_bytes() == agent_bytes
        assert p.original()["OriginalSetup"]["VersionOriginal"] == "101"


@case
def missing_package_on_the_server_is_no_offer():
    with Product(fresh_dir("update_404")) as p:
        p.release(version=101)
        (p.srv / "Update.exe").unlink()
        app = p.start_program()
        p.start_agent()
        p.command(31, 1)
        p.wait_log("GetOkToPerformAU = 5 - Download file size error", 30)
        assert "  HttpSize=-1" in p.log()
        time.sleep(2)
        assert app.alive() and "PerformAutoUpdate" not in p.log()


@case
def failing_update_keeps_the_version_and_restarts_the_program():
    with Product(fresh_dir("update_fails")) as p:
        p.release(version=101, engine_args="/ZT_EXIT=3 /ZT_KEEPATOM", extra={"InformFinish": 1})
        app = p.start_program()
        p.start_agent()
        p.command(31, 1)
        finished(p, "FALSE")
        assert p.engine_report(), "the engine should have run"
        assert p.original()["OriginalSetup"]["VersionOriginal"] == "100"
        assert not (p.install / "Update.exe").exists()
        assert not driver().exists("ZMsgBox"), "no finish box after a failed update"
        app.wait(20)
        wait_until(lambda: programs_running(p), 20, what="the restarted program")
        # A failed update does not restart the agent.
        assert ".. ReStartAutoUpdateExe()" not in p.log()
        end_programs(p)


@case
def user_requested_update_asks_only_the_check_question_and_shows_the_finish_box():
    with Product(fresh_dir("update_user")) as p:
        p.release(version=101, extra={"RequestConfirmationBeforeDownload": 1, "RequestConfirmationBeforeInstall": 1})
        app = p.start_program()
        p.start_agent()
        keep_agent(p)
        p.command(31, 2)
        d = driver()
        box = d.wait("ZMsgBox")
        assert "CHECK-Product?" in box.dump()["text"]
        box.press("Yes")
        box.gone()
        # No announcement, no install question: the next box is the finish box with the restart question.
        box = d.wait("ZMsgBox", timeout_ms=90000)
        text = box.dump()["text"]
        assert "FINISHED-Product-RESTART?" in text, text
        assert p.engine_report(), "the finish box comes after the update"
        box.press("Yes")
        box.gone()
        finished(p, "TRUE")
        app.wait(20)
        wait_until(lambda: programs_running(p), 20, what="the restarted program")
        end_programs(p)


@case
def test_mode_copies_the_package_from_the_folder_and_says_when_it_is_gone():
    from agenttest import clear_test_mode, set_test_mode
    w = fresh_dir("update_testmode")
    folder = w / "testfolder"
    folder.mkdir()
    try:
        with Product(w) as p:
            p.release(version=101, extra={"RequestConfirmationBeforeDownload": 1})
            for name in ("Product.info", "Update.exe"):
                (folder / name).write_bytes((p.srv / name).read_bytes())
            set_test_mode(folder)
            app = p.start_program()
            p.start_agent()
            keep_agent(p)
            d = driver()
            # The package vanishes while the announcement waits: nothing can be fetched.
            p.command(31, 1)
            box = d.wait("ZMsgBox")
            assert "ANNOUNCE-Product-S12" in box.dump()["text"]
            (folder / "Update.exe").rename(folder / "Update.kept")
            box.press("Yes")
            box.gone()
            box = d.wait("ZMsgBox")
            text = box.dump()["text"]
            assert "File not Found!" in text and winpath(folder / "Update.exe") in text, text
            box.press("OK")
            box.gone()
            finished(p, "FALSE")
            assert app.alive() and p.engine_report() is None
            # With the package there, it is copied (not downloaded) and installed.
            (folder / "Update.kept").rename(folder / "Update.exe")
            p.release(version=101, stamp=3, build=False, size=(folder / "Update.exe").stat().st_size,
                      extra={"RequestConfirmationBeforeDownload": 1})
            (folder / "Product.info").write_bytes((p.srv / "Product.info").read_bytes())
            p.command(31, 1)
            box = d.wait("ZMsgBox")
            box.press("Yes")
            box.gone()
            finished(p, "TRUE")
            assert p.engine_report() and p.original()["OriginalSetup"]["VersionOriginal"] == "101"
            assert not [l for l in p.nginx.access_log() if "Update.exe" in l], p.nginx.access_log()
            assert (folder / "Update.exe").exists(), "the test folder's package stays"
            end_programs(p)
    finally:
        clear_test_mode()


if __name__ == "__main__":
    winelib.main()
