"""The agent on its failure paths: a copy ended while the update's engine
runs (its record in the ORIGINAL file, the next agent's clean-up and the
update offered again), a once-per-run check made before the server can be
reached (tried again until it answers), and the smaller faults of a long
run: the abort flag of an earlier close, a second request during a check's
question. An installed product (agenttest.Product); the test mode's
TestModeRetryMinute shortens the retry schedule to seconds."""
import functools
import http.server
import shutil
import threading
import time

import winelib
from agenttest import Product, clear_test_mode, driver, set_test_mode
from httpservers import free_port
from stubtest import reg_delete, reg_set, setup_folders
from winelib import case, exe, fresh_dir, wait_until, winpath

KEY = "HKCU\\Software\\Vindraco\\Zelkan\\AutoUpdate"
ENGINE_SLEEP_MS = 12000


def kill_copy(p):
    """Ends the X_ copy as the task manager would: no clean-up of its own."""
    winelib.run([exe("proctool.exe"), "terminate", winpath(p.install / "X_Agent.exe"), 1])
    wait_until(lambda: not p.x_windows(), 20, what="the X_ copy to die")


def restart_agent(p):
    """A new agent, as at the next logon; the old client goes with its agent."""
    old = p.client
    p.start_agent()
    if old and old.poll() is None:
        old.kill()


def leftovers(p, folder):
    return [x for x in (p.install / "Update.exe", winelib.wine_temp() / folder) if x.exists()]


@case
def agent_ended_during_the_engine_run_is_cleaned_up_and_offered_again():
    before = setup_folders()
    with Product(fresh_dir("failures_killed")) as p:
        p.release(version=101, engine_args=f"/ZT_SLEEP={ENGINE_SLEEP_MS}")
        p.start_program()
        p.start_agent()
        p.command(31, 1)
        wait_until(p.engine_report, 90, what="the engine's start")
        # The record names what this run leaves, before the engine ran.
        record = p.original().get("UpdateInProgress", {})
        folder = record.get("SetupFolder", "")
        assert record.get("Version") == "101" and record.get("Package") == "Update.exe", p.original()
        assert folder.startswith("SETUP_") and folder not in before, (record, before)
        assert len(leftovers(p, folder)) == 2, "the package and the setup folder are there while the engine runs"
        kill_copy(p)
        p.report.unlink()

        # The next agent finds the record while the engine still runs from
        # that folder: it leaves its files alone until the engine has ended.
        restart_agent(p)
        p.wait_log("Interrupted update of version 101: a program still runs from", 30)
        assert len(leftovers(p, folder)) == 2
        p.wait_log("Interrupted update of version 101: offered again at the next check", ENGINE_SLEEP_MS / 1000 + 30)
        assert not leftovers(p, folder), leftovers(p, folder)
        assert "UpdateInProgress" not in p.original(), p.original()
        assert p.original()["OriginalSetup"].get("OfferAgain") == "1", p.original()
        # Stamp 2 was recorded by the ended run: only the new offer brings the update back.
        assert p.original()["OriginalSetup"]["Stamp"] == "2"

        assert p.command(30, 100000) == 0  # the agent stays, no hand-over
        p.command(31, 1)
        p.wait_log("PerformAutoUpdate() - END    Result=TRUE", 90)
        assert p.engine_report(), "the update ran again"
        o = p.original()
        assert o["OriginalSetup"]["VersionOriginal"] == "101", o
        assert "OfferAgain" not in o["OriginalSetup"] and "UpdateInProgress" not in o, o
        assert not (p.install / "Update.exe").exists()
        assert setup_folders() == before, (setup_folders(), before)


@case
def a_record_names_only_the_agents_own_leftovers():
    # record, version installed, refused (logged), leftovers of its own removed, offered again
    cases = [
        ({"Version": 101, "Package": "..\\victim.txt", "SetupFolder": "..\\victim"}, 100, True, False, True),
        ({"Version": 101, "Package": "Product.original", "SetupFolder": "Documents"}, 100, True, False, True),
        # The ended run had recorded the version: nothing to offer again.
        ({"Version": 101, "Package": "Update.exe", "SetupFolder": "SETUP_7"}, 101, False, True, False),
    ]
    temp = winelib.wine_temp()
    for record, installed, refused, removed, again in cases:
        victim_dir = temp.parent / "victim"
        try:
            with Product(fresh_dir("failures_record")) as p:
                # What "..\\victim.txt" and "..\\victim" would reach from the agent and temporary folders.
                (p.work / "victim.txt").write_text("keep")
                victim_dir.mkdir(exist_ok=True)
                (victim_dir / "keep.txt").write_text("keep")
                (p.install / "Update.exe").write_bytes(b"left")
                (temp / "SETUP_7").mkdir(exist_ok=True)
                p.write_original(version=installed)
                with open(p.install / "Product.original", "a", encoding="latin-1") as f:
                    f.write("[UpdateInProgress]\r\n" + "".join(f"{k}={v}\r\n" for k, v in record.items()))
                p.start_agent()
                p.wait_log("Interrupted update of version 101: " +
                           ("offered again at the next check" if again else "its version was recorded"), 30)
                o = p.original()
                assert "UpdateInProgress" not in o, (record, o)
                assert (o["OriginalSetup"].get("OfferAgain") == "1") == again, (record, o)
                assert (p.work / "victim.txt").exists() and (victim_dir / "keep.txt").exists(), record
                assert o["OriginalSetup"]["VersionOriginal"] == str(installed), o
                assert ("is not the agent's" in p.log()) == refused, p.log()
                # Only what the record names goes.
                assert (p.install / "Update.exe").exists() != removed, record
                assert (temp / "SETUP_7").exists() != removed, record
        finally:
            shutil.rmtree(victim_dir, ignore_errors=True)
            shutil.rmtree(temp / "SETUP_7", ignore_errors=True)


class LateServer:
    """A plain web server that comes up on a given port only when asked."""

    def __init__(self, root, port):
        self.root, self.port, self.httpd = root, port, None
        self.requests = []

    def start(self):
        outer = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *a):
                outer.requests.append(self.path)

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", self.port),
                                                     functools.partial(Handler, directory=str(self.root)))
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def stop(self):
        if self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()


def web_test_mode(p, url):
    set_test_mode(p.work)  # today's date; the address comes next
    reg_set(KEY, "TestModeURL", url)
    reg_set(KEY, "TestModeRetryMinute", "1")


def clear_hooks():
    clear_test_mode()
    reg_delete(KEY, "TestModeRetryMinute")


def checks(p):
    return p.log().count("GetOkToPerformAU = ")


@case
def once_per_run_check_before_the_server_is_up_is_tried_again_until_it_answers():
    w = fresh_dir("failures_retry")
    port = free_port()
    server = LateServer(w / "nginx" / "root", port)
    try:
        with Product(w) as p:
            p.write_original(setup={"ProbeSecondsInterval": 0})
            p.release(version=100)  # nothing newer: an answered check ends with status 3
            web_test_mode(p, f"http://127.0.0.1:{port}/upd")
            p.start_agent()
            # No server on that port: tried again after 1 and 5 "minutes" of one second.
            p.wait_log("Check got no answer: tried again in 1 s", 30)
            p.wait_log("Check got no answer: tried again in 5 s", 20)
            assert "GetOkToPerformAU = 0" in p.log()
            server.start()
            p.wait_log("GetOkToPerformAU = 3", 20)
            p.wait_log("Check answered: no further tries in this run", 5)
            seen, asked = checks(p), len(server.requests)
            assert asked and all(r == "/upd/Product.info" for r in server.requests), server.requests
            # Answered: not one more check in this run, even after the longest delay so far.
            time.sleep(8)
            assert checks(p) == seen and len(server.requests) == asked, (p.log(), server.requests)
    finally:
        server.stop()
        clear_hooks()


@case
def once_per_run_check_that_gets_an_error_page_is_not_tried_again():
    w = fresh_dir("failures_answered")
    try:
        with Product(w) as p:
            p.write_original(setup={"ProbeSecondsInterval": 0})
            # nginx answers 404: the server is there, the run checks no more.
            web_test_mode(p, p.nginx.url("nothing-here"))
            p.start_agent()
            p.wait_log("GetOkToPerformAU = 0", 30)
            time.sleep(4)
            assert "tried again" not in p.log() and checks(p) == 1, p.log()
            assert any("/nothing-here/Product.info" in l and l.startswith("404") for l in p.nginx.access_log())
    finally:
        clear_hooks()


@case
def a_failed_copy_after_an_earlier_close_is_not_called_aborted():
    w = fresh_dir("failures_abortflag")
    folder = w / "testfolder"
    try:
        with Product(w) as p:
            p.release(version=101, extra={"RequestConfirmationBeforeDownload": 1})
            folder.mkdir()
            for name in ("Product.info", "Update.exe"):
                shutil.copyfile(p.srv / name, folder / name)
            set_test_mode(folder)
            hwnd, _ = p.start_agent()
            # One close: it stops a download that runs (none does) and leaves the agent running.
            winelib.run([exe("guidriver.exe"), "sendto", hwnd, 16, 0, 0])
            assert p.x_windows()
            p.command(31, 1)
            d = driver()
            box = d.wait("ZMsgBox")
            assert "ANNOUNCE-Product" in box.dump()["text"]
            (folder / "Update.exe").unlink()  # gone before the copy
            box.press("Yes")
            box.gone()
            box = d.wait("ZMsgBox")
            text = box.dump()["text"]
            assert "File not Found!" in text and "Aborted" not in text, text
            box.press("OK")
            box.gone()
    finally:
        clear_test_mode()


@case
def a_second_user_check_during_the_first_ones_question_waits_for_its_turn():
    with Product(fresh_dir("failures_mode")) as p:
        p.release(version=100)
        p.start_agent()
        d = driver()
        p.command(31, 2)
        box = d.wait("ZMsgBox")
        assert "CHECK-Product?" in box.dump()["text"]
        p.command(31, 2)  # reaches the agent through the open box
        box.press("Yes")
        box.gone()
        # The first check stays the user's: it tells why nothing happened.
        box = d.wait("ZMsgBox")
        assert "NOTHING-TO-DO" in box.dump()["text"], box.dump()
        box.press("OK")
        box.gone()
        # The second request comes after it, as a user's check of its own.
        box = d.wait("ZMsgBox")
        assert "CHECK-Product?" in box.dump()["text"]
        box.press("No")
        box.gone()
        time.sleep(2)
        assert not d.exists("ZMsgBox")


if __name__ == "__main__":
    winelib.main()
