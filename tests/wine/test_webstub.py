"""The web stub end to end: nginx on 127.0.0.1 serves the real setup; the
stub takes it from beside itself or downloads it, checks the shared token and
runs it through the setup flow."""
import pathlib
import shutil
import time

import winelib
from winelib import case, fresh_dir, winpath, wait_until
from guidriver import Driver
from httpservers import FaultServer, Nginx
from stubtest import Setup, run_stub, fnv1a64, write_random, spoil_last_check_value

TOKEN = "WEB-TOKEN-1"


def real_setup(w, token=TOKEN, name="Real.exe"):
    s = Setup(w, name)
    s.web = {"base": "http://127.0.0.1", "file": name, "token": token}
    s.add_engine()
    write_random(w / "payload.bin", 300_000, seed=3)
    s.add_file(w / "payload.bin", compression="stored")
    return s, s.build()


def web_stub(w, base, real, always=1, confirm=0, size=None, agent=None, token=TOKEN):
    s = Setup(w, "Web.exe")
    s.package["web_setup"] = 1
    s.package["confirm_download"] = confirm
    if agent:
        s.package["agent_exe"] = agent
        s.package["write_agent_copy"] = 1
    s.web = {"base": base, "file": real.name, "always": always, "token": token}
    if size is not None:
        s.web["size"] = size
    else:
        s.web["size_of"] = str(real)
    if size is not None or agent:
        s.package["allow_unsigned"] = 1
    return s.build()


def downloaded(name="Real.exe"):
    return winelib.wine_temp() / name


@case
def downloads_checks_and_runs_then_deletes_the_download():
    w = fresh_dir("web_download")
    real_s, real = real_setup(w)
    with Nginx(w) as web:
        shutil.copy(real, web.root / real.name)
        stub = web_stub(w / "stubdir" if False else w, f"http://127.0.0.1:{web.port}", real, agent="Agent.exe")
        real.rename(w / "away.exe")  # nothing beside the stub
        assert run_stub(stub, "/hide").returncode == 0
        rep = real_s.read_report()
        assert rep, "the downloaded setup did not run"
        assert any("GET /Real.exe" in l for l in web.access_log()), web.access_log()
    assert not downloaded().exists()
    payload = (w / "payload.bin").read_bytes()
    assert rep["files"]["payload.bin"][:2] == (len(payload), fnv1a64(payload))
    # The agent copy of the stub lies in the setup folder, marked as an agent.
    data = bytearray(stub.read_bytes())
    data[len(data) - 5] = 1
    assert rep["files"]["Agent.exe"][:2] == (len(data), fnv1a64(bytes(data))), rep["files"]


@case
def setup_beside_the_stub_is_used_without_download_unless_always():
    w = fresh_dir("web_local")
    real_s, real = real_setup(w)
    # A base nobody listens on: any download attempt would fail.
    stub = web_stub(w, "http://127.0.0.1:9", real, always=0, confirm=1)
    assert run_stub(stub, "/hide").returncode == 0
    assert real_s.read_report(), "the setup beside the stub did not run"
    assert real.exists(), "a setup beside the stub is never deleted"

    w2 = fresh_dir("web_always")
    good_s, good = real_setup(w2)
    with Nginx(w2) as web:
        shutil.copy(good, web.root / good.name)
        stub2 = web_stub(w2, f"http://127.0.0.1:{web.port}", good, always=1)
        # Beside the stub lies a setup of another product: always-download ignores it.
        _, other = real_setup(fresh_dir("web_always_other"), token="OTHER")
        shutil.copy(other, good)
        assert run_stub(stub2, "/hide").returncode == 0
        assert good_s.read_report(), "the downloaded setup did not run"
        assert len(web.access_log()) >= 1


@case
def question_shows_the_size_and_no_ends_quietly():
    w = fresh_dir("web_question")
    real_s, real = real_setup(w)
    with Nginx(w) as web:
        shutil.copy(real, web.root / real.name)
        stub = web_stub(w, f"http://127.0.0.1:{web.port}", real, confirm=1, size=524288)
        d = Driver(timeout_ms=30000)
        p = run_stub(stub, wait=False)
        box = d.wait("ZMsgBox")
        text = box.dump()["text"]
        assert "INTERNET DOWNLOAD" in text and "Size: 0.500 MB" in text, text
        box.press("No")
        box.gone()
        assert p.wait(60) == 1602
        assert not any(c == "ZMsgBox" for _, c, _, _, _ in d.windows())
        assert real_s.read_report() is None
        assert not web.access_log(), web.access_log()
        # Yes downloads and runs it.
        p = run_stub(stub, wait=False)
        box = d.wait("ZMsgBox")
        box.press("Yes")
        assert p.wait(120) == 0
        assert real_s.read_report()


@case
def hidden_stub_asks_nothing():
    w = fresh_dir("web_hidden")
    real_s, real = real_setup(w)
    with Nginx(w) as web:
        shutil.copy(real, web.root / real.name)
        stub = web_stub(w, f"http://127.0.0.1:{web.port}", real, confirm=1)
        assert run_stub(stub, "/hide", timeout=120).returncode == 0
        assert real_s.read_report()
        assert "/hide" in real_s.read_report()["CommandLine"]


def error_box_for(stub, code):
    d = Driver(timeout_ms=30000)
    p = run_stub(stub, wait=False)
    box = d.wait("ZMsgBox")
    info = box.dump()
    box.press("1")
    assert p.wait(60) == code
    return info


@case
def wrong_token_error_page_and_missing_file_are_reported():
    w = fresh_dir("web_errors")
    real_s, real = real_setup(w, token="SOMETHING-ELSE")
    with Nginx(w) as web:
        shutil.copy(real, web.root / real.name)
        stub = web_stub(w, f"http://127.0.0.1:{web.port}", real)
        info = error_box_for(stub, 1620)
        assert "Bad Secret Token!" in info["text"] and info["caption"] == "Error", info
        assert real_s.read_report() is None
        assert not downloaded().exists()
        # A server error page saved as the setup.
        (web.root / real.name).write_text(
            "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY>gone</BODY></HTML>")
        info = error_box_for(stub, 1603)
        assert "404 File Not Found..." in info["text"], info["text"]
        # A real 404: nothing is saved.
        (web.root / real.name).unlink()
        info = error_box_for(stub, 1603)
        assert "File Not Found !" in info["text"], info["text"]
        assert not downloaded().exists() and not list(winelib.wine_temp().glob("Real.exe.*"))


@case
def hidden_stub_ends_by_itself_when_the_server_stalls():
    # The client's own timeouts, not a test hook: the first contact waits
    # the full receive timeout (60 s), then the stub gives up without a box.
    w = fresh_dir("web_silent")
    real_s, real = real_setup(w)
    with FaultServer() as fault:
        fault.set_mode(real.name, "silent")
        stub = web_stub(w, f"http://127.0.0.1:{fault.port}", real)
        d = Driver(timeout_ms=30000)
        t = time.time()
        assert run_stub(stub, "/hide", timeout=180).returncode == 1603  # a failed download
        took = time.time() - t
        assert 55 <= took <= 120, took
        assert len(fault.requests(real.name)) == 1, fault.requests(real.name)
        assert not any(c == "ZMsgBox" for _, c, _, _, _ in d.windows()), d.windows()
    assert real_s.read_report() is None
    assert not downloaded().exists() and not list(winelib.wine_temp().glob("Real.exe.*"))


@case
def setup_swapped_after_its_check_is_not_run():
    w = fresh_dir("web_swap")
    s = Setup(w, "Real.exe")
    s.web = {"base": "http://127.0.0.1", "file": "Real.exe", "token": TOKEN}
    s.package["temp_drive_notice"] = 1  # a question between the token check and the extraction
    s.add_engine()
    real = s.build()
    w2 = fresh_dir("web_swap_other")
    other_s = Setup(w2, "Real.exe")
    other_s.web = {"base": "http://127.0.0.1", "file": "Real.exe", "token": TOKEN}
    other_s.add_engine()
    other = other_s.build()
    with Nginx(w) as web:
        shutil.copy(real, web.root / real.name)
        stub = web_stub(w, f"http://127.0.0.1:{web.port}", real)
        real.rename(w / "away.exe")
        p = run_stub(stub, wait=False)
        box = Driver(timeout_ms=60000).wait("ZMsgBox")
        assert "Temp Drive" in box.dump()["text"]
        # Another program of the user overwrites the checked download, or
        # replaces it by a rename.
        winelib.run(["cmd", "/c", "copy", "/y", winpath(other), "%TEMP%\\Real.exe"])
        winelib.run(["cmd", "/c", "copy", "/y", winpath(other), "%TEMP%\\Other.exe"])
        winelib.run(["cmd", "/c", "move", "/y", "%TEMP%\\Other.exe", "%TEMP%\\Real.exe"])
        box.press("Yes")
        assert p.wait(120) == 0
    assert other_s.read_report() is None, "the swapped setup ran"
    assert s.read_report(), "the checked setup did not run"
    assert not downloaded().exists()
    other_copy = winelib.wine_temp() / "Other.exe"
    if other_copy.exists():
        other_copy.unlink()


@case
def download_is_deleted_after_a_decompression_error():
    w = fresh_dir("web_zlib")
    (w / "text.txt").write_bytes(b"compressible text " * 5000)
    s = Setup(w, "Real.exe")
    s.web = {"base": "http://127.0.0.1", "file": "Real.exe", "token": TOKEN}
    s.package["checksum"] = 0
    s.add_engine()
    s.add_file(w / "text.txt", compression=9)
    real = s.build()
    spoil_last_check_value(real)
    with Nginx(w) as web:
        shutil.copy(real, web.root / real.name)
        stub = web_stub(w, f"http://127.0.0.1:{web.port}", real)
        real.rename(w / "away.exe")
        info = error_box_for(stub, 1620)  # a damaged package
    assert "error" in info["text"].lower(), info
    assert s.read_report() is None
    assert not downloaded().exists()


if __name__ == "__main__":
    winelib.main()
