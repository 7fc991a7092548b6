"""Setups in folders of any name: the setup file and TEMP in folders whose
names the ANSI code page (1252 here) can hold, or cannot, and file names in
any language inside the package."""
import pathlib
import re

import winelib
from winelib import case, fresh_dir, winpath
from stubtest import Setup, run_stub, temp_folder

# (label, folder name): inside ASCII, inside code page 1252, outside it (also
# outside the Basic Multilingual Plane), and with blanks.
FOLDERS = [
    ("ascii", "Plain"),
    ("cp1252", "Jösé"),
    ("outside", "Łódź 日本語"),
    ("astral", "Emoji \U0001F600 Box"),
    ("blanks", "With  Some Blanks"),
]

# Names the packer stores marked as UTF-8.
NAMED_FILES = {"Müller.txt": b"M\r\n" * 10, "日本.txt": b"J\r\n" * 20, "Ωmega.txt": b"O\r\n" * 30}


def in_ansi(text):
    try:
        text.encode("cp1252")
        return True
    except UnicodeEncodeError:
        return False


def origin_exe(command_line):
    m = re.search(r'/OriginExe="([^"]+)"', command_line)
    assert m, command_line
    return m.group(1)


@case
def setup_runs_from_any_folder_with_temp_there_too():
    root = fresh_dir("unicode_folders")
    failures = []
    for i, (label, name) in enumerate(FOLDERS):
        d = root / name
        temp = d / "Temp"
        temp.mkdir(parents=True)
        src = root / f"src{i}"
        src.mkdir()
        s = Setup(d)
        # The report goes to an ASCII folder: the test engine reads its
        # command line through the ANSI functions.
        s.report = root / f"report-{label}.txt"
        s.add_engine("/ZT_EXIT=7")
        for fname, data in NAMED_FILES.items():
            (src / fname).write_bytes(data)
            s.add_file(src / fname)
        exe = s.build()
        with temp_folder(winpath(temp)):
            r = run_stub(exe, "/hide")
        rep = s.read_report()
        try:
            assert r.returncode == 7, f"exit code {r.returncode}"
            assert rep, "the engine did not run"
            for fname, data in NAMED_FILES.items():
                assert rep["wfiles"].get(fname) == len(data), (fname, rep["wfiles"])
            # An ANSI engine opens the setup file it is given.
            assert rep.get("OpensOriginExe") == "1", rep.get("CommandLine")
            given = origin_exe(rep["CommandLine"])
            if in_ansi(winpath(exe)):
                # Byte for byte what it was before paths were Unicode.
                assert given == winpath(exe), given
            else:
                assert "~" in given and given.isascii(), given
            engine = rep["CommandLine"].split(" /")[0].strip('"')
            if in_ansi(name):
                assert f"\\{name}\\Temp\\SETUP_" in engine, engine
            else:
                # The short form: Wine's short names keep no part of the long one.
                assert "~" in engine and engine.isascii(), engine
            left = sorted(p.name for p in temp.iterdir())
            assert left == [], f"left in TEMP: {left}"
        except AssertionError as e:
            failures.append(f"{label} ({name}): {e}")
    assert not failures, "\n".join(failures)


OUTSIDE = "Łódź 日本語"


@case
def spanned_set_in_a_folder_outside_the_code_page_is_joined_and_run():
    from stubtest import write_random
    root = fresh_dir("unicode_spanned")
    w = root / OUTSIDE
    (w / "Temp").mkdir(parents=True)
    write_random(w / "big.bin", 2_000_000, seed=7)
    s = Setup(w)
    s.report = root / "report.txt"
    s.package["volume_size"] = winelib.exe("stub.exe").stat().st_size + 600_000
    s.add_engine()
    s.add_file(w / "big.bin", name="Größe.bin", compression="stored")
    first = s.build()
    assert len(list(w.glob("Setup.exe.0*"))) >= 2, sorted(p.name for p in w.iterdir())
    with temp_folder(winpath(w / "Temp")):
        r = run_stub(first, "/hide")
    assert r.returncode == 0, r.returncode
    rep = s.read_report()
    assert rep, "the engine did not run"
    assert rep["wfiles"].get("Größe.bin") == 2_000_000, rep["wfiles"]
    assert list((w / "Temp").iterdir()) == []


@case
def web_stub_downloads_into_a_temp_folder_outside_the_code_page():
    import shutil
    from httpservers import Nginx
    root = fresh_dir("unicode_web")
    w = root / OUTSIDE
    temp = w / "Temp"
    temp.mkdir(parents=True)
    real_s = Setup(root, "Real.exe")
    real_s.web = {"base": "http://127.0.0.1", "file": "Real.exe", "token": "WEB-1"}
    real_s.add_engine("/ZT_EXIT=5")
    (root / "Müller.txt").write_bytes(b"x" * 1000)
    real_s.add_file(root / "Müller.txt")
    real = real_s.build()
    with Nginx(root) as web:
        shutil.copy(real, web.root / real.name)
        stub_s = Setup(w, "Web.exe")
        stub_s.package["web_setup"] = 1
        stub_s.web = {"base": f"http://127.0.0.1:{web.port}", "file": "Real.exe", "always": 1, "token": "WEB-1",
                      "size_of": str(real)}
        stub = stub_s.build()
        with temp_folder(winpath(temp)):
            r = run_stub(stub, "/hide")
        assert any("GET /Real.exe" in l for l in web.access_log()), web.access_log()
    assert r.returncode == 5, r.returncode
    rep = real_s.read_report()
    assert rep, "the downloaded setup did not run"
    assert rep["wfiles"].get("Müller.txt") == 1000, rep["wfiles"]
    # The download and the setup folder are gone from TEMP.
    assert list(temp.iterdir()) == [], list(temp.iterdir())


@case
def agent_in_a_folder_outside_the_code_page_installs_and_restarts():
    from agenttest import Product
    from winelib import exe, wait_until

    def programs_running(p):
        # proctool prints paths in UTF-8; winelib reads output as Latin-1.
        out = winelib.run([exe("proctool.exe"), "list"]).stdout.encode("latin-1").decode("utf-8", "replace")
        return [l for l in out.splitlines() if l.split(" ", 1)[-1].strip().lower() == winpath(p.program).lower()]

    with Product(fresh_dir("unicode_agent"), install_name="Łódź 日本語 App") as p:
        p.release(version=101)
        app = p.start_program()
        _, old_pid = p.start_agent()
        p.command(31, 1)
        p.wait_log("PerformAutoUpdate() - END    Result=TRUE", 90)
        rep = p.engine_report()
        assert rep and rep.get("OpensOriginalInfoFile") == "1", rep
        assert p.original()["OriginalSetup"]["VersionOriginal"] == "101"
        assert not (p.install / "Update.exe").exists()
        app.wait(20)
        wait_until(lambda: programs_running(p), 20, what="the restarted program")
        # The agent hands over to a fresh copy of itself, started from this
        # folder; the test ends only once that copy runs (and then stops it).
        wait_until(lambda: (43, 0) in p.pairs(), 30, what="the old agent's end")
        wait_until(lambda: [r for r in p.x_windows() if r[1] != old_pid], 60, what="the new agent")
        winelib.run([exe("proctool.exe"), "terminate", winpath(p.program), 1])


if __name__ == "__main__":
    winelib.main()
