"""The self-extracting setup end to end: packages made by the packer, run by
the stub under Wine, with the test engine reporting what it got."""
import os
import re
import shutil
import struct
import time

import winelib
from winelib import case, fresh_dir, winpath
from guidriver import Driver
from stubtest import (Setup, run_stub, fnv1a64, setup_folders, patch, trailer_offset, reg_set, reg_delete, write_random,
                      spoil_last_check_value)


def dos(y, mo, d, h, mi, s):
    return (((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) | (s // 2))


@case
def single_volume_runs_the_engine_with_its_contract():
    w = fresh_dir("setup_single")
    (w / "readme.txt").write_bytes(b"hello world\r\n" * 100)
    write_random(w / "data.bin", 70000)
    s = Setup(w)
    s.add_engine("/ZT_EXIT=7 /LANG=DE")
    s.add_file(w / "readme.txt", time="2024-05-17 13:45:30")
    s.add_file(w / "data.bin", name="Data.bin", compression="stored", time="2001-02-03 04:05:06")
    exe = s.build()
    before = setup_folders()
    r = run_stub(exe, "/hide", "/X=1")
    assert r.returncode == 7, r.returncode
    rep = s.read_report()
    assert rep, "the engine did not run"
    files = rep["files"]
    assert files["readme.txt"] == (1300, fnv1a64(b"hello world\r\n" * 100), dos(2024, 5, 17, 13, 45, 30)), files
    data = (w / "data.bin").read_bytes()
    assert files["Data.bin"] == (70000, fnv1a64(data), dos(2001, 2, 3, 4, 5, 6)), files
    cl = rep["CommandLine"]
    tag = rep["ThId"]
    assert re.fullmatch(r"_\d+", tag), tag
    m = re.fullmatch(r'(\S+\\SETUP_\d+\\Engine\.exe) /hide /X=1 /ZT_REPORT=\S+ /ZT_EXIT=7 /LANG=DE '
                     r'/TH_ID=(_\d+) /OriginExe="([^"]+)"', cl)
    assert m, cl
    assert m.group(3) == winpath(exe), (m.group(3), winpath(exe))
    assert rep["AtomAtStart"] == "1"
    # The setup folder is gone afterwards.
    assert setup_folders() == before, setup_folders()


@case
def engine_dialog_is_waited_for_and_atom_left_keeps_shortcuts():
    w = fresh_dir("setup_dialog")
    s = Setup(w)
    s.package["info_file"] = "App.info"
    s.add_engine("/ZT_DIALOG=5000 /ZT_KEEPATOM")
    exe = s.build()
    link = w / "StartUp.lnk"
    link.write_text("x")
    (w / "App.original").write_text(f"[UnInstall]\r\nStartUpLink={winpath(link)}\r\n")
    (w / "App.info").write_text("[NewSetup]\r\nRemoveStartUpShortcut=1\r\n")
    r = run_stub(exe, "/hide")
    assert r.returncode == 0
    assert s.read_report()
    # The stub ended only after the engine's dialog window was gone.
    rows = Driver().windows()
    assert not any(c.startswith(".SDialog_Class_Name.") for _, c, _, _, _ in rows), rows
    # The engine left its atom: the update did not complete, so no shortcut goes.
    assert link.exists()


@case
def engine_that_finishes_removes_the_shortcuts_it_is_told_to():
    w = fresh_dir("setup_shortcut")
    s = Setup(w)
    s.package["info_file"] = "App.info"
    s.add_engine()
    exe = s.build()
    link1, link2 = w / "StartUp.lnk", w / "Check.lnk"
    link1.write_text("x")
    link2.write_text("x")
    (w / "App.original").write_text(
        f"[UnInstall]\r\nStartUpLink={winpath(link1)}\r\nCheckforNewUpdateLink={winpath(link2)}\r\n")
    (w / "App.info").write_text("[NewSetup]\r\nRemoveStartUpShortcut=1\r\nRemoveCheckForNewUpdateShortcut=0\r\n")
    assert run_stub(exe, "/hide").returncode == 0
    assert not link1.exists()
    assert link2.exists()


@case
def given_origin_is_kept_and_span_switches_never_reach_the_engine():
    w = fresh_dir("setup_switches")
    s = Setup(w)
    s.add_engine()
    exe = s.build()
    origin = 'Z:\\somewhere\\First Setup.exe'
    r = run_stub(exe, "/hide", f'/OriginExe="{origin}"', "/SpanCdLvl=3", f'/SpanDiskFName1="{winpath(exe)}"')
    assert r.returncode == 0
    cl = s.read_report()["CommandLine"]
    assert cl.count("/OriginExe=") == 1 and f'/OriginExe="{origin}"' in cl, cl
    assert "/SpanCdLvl=" not in cl and "/SpanDiskFName1=" not in cl, cl


@case
def bad_checksum_shows_the_error_and_starts_nothing():
    w = fresh_dir("setup_crc")
    write_random(w / "data.bin", 50000)
    s = Setup(w)
    s.language("English", {"s0": "Test", "s7": "Bad CRC!<P>corrupted"})
    s.add_engine()
    s.add_file(w / "data.bin", compression="stored")
    exe = s.build()
    off = trailer_offset(exe) - 20000
    data = bytearray(exe.read_bytes())
    patch(exe, off, bytes([data[off] ^ 0xFF]))
    p = run_stub(exe, wait=False)
    box = Driver().wait("ZMsgBox")
    info = box.dump()
    assert "Bad CRC!" in info.get("text", ""), info
    box.press("1")
    assert p.wait(60) == 1620
    assert s.read_report() is None


@case
def corrupt_compressed_item_is_reported_and_cleaned_up():
    w = fresh_dir("setup_zlib")
    (w / "text.txt").write_bytes(b"compressible text " * 5000)
    s = Setup(w)
    s.package["checksum"] = 0
    s.add_engine()
    s.add_file(w / "text.txt", compression=9)
    exe = s.build()
    spoil_last_check_value(exe)
    before = setup_folders()
    p = run_stub(exe, wait=False)
    box = Driver().wait("ZMsgBox")
    info = box.dump()
    # The whole stream was inflated and its check value does not match: zlib's data error.
    assert (info["caption"], info["text"]) == ("Error", "ERROR\r\n\r\nDecompression error: data error\r\n"), info
    box.press("1")
    assert p.wait(60) == 1620
    assert s.read_report() is None
    assert setup_folders() == before


@case
def space_notice_answered_no_extracts_nothing():
    w = fresh_dir("setup_space_no")
    s = Setup(w)
    s.package["temp_drive_notice"] = 1
    s.add_engine()
    exe = s.build()
    p = run_stub(exe, wait=False)
    box = Driver().wait("ZMsgBox")
    text = box.dump()["text"]
    assert "Zelkan will extract files to your Temp Drive (C:)" in text, text
    assert "Continue with Setup?" in text
    box.press("No")
    assert p.wait(60) == 1602
    assert s.read_report() is None


@case
def unsafe_item_names_are_never_written():
    w = fresh_dir("setup_names")
    (w / "AAAevil.txt").write_bytes(b"evil")
    (w / "good.txt").write_bytes(b"good")
    s = Setup(w)
    s.package["checksum"] = 0
    s.add_engine()
    s.add_file(w / "AAAevil.txt", compression="stored")
    s.add_file(w / "good.txt", compression="stored")
    exe = s.build()
    data = exe.read_bytes()
    i = data.index(b"|AAAevil.txt|")
    patch(exe, i + 1, b"..\\evil.txt")
    target = winelib.wine_temp() / "evil.txt"
    if target.exists():
        target.unlink()
    assert run_stub(exe, "/hide").returncode == 0
    rep = s.read_report()
    assert rep and "good.txt" in rep["files"], rep
    assert not target.exists()
    assert not any("evil" in n for n in rep["files"]), rep["files"]


@case
def item_running_past_the_end_stops_with_the_checksum_error():
    w = fresh_dir("setup_overrun")
    (w / "a.txt").write_bytes(b"a" * 1000)
    s = Setup(w)
    s.package["checksum"] = 0
    s.add_engine()
    s.add_file(w / "a.txt", compression="stored")
    exe = s.build()
    data = exe.read_bytes()
    i = data.index(b"|a.txt|")
    # The length word of that stored item sits just before its header text.
    n = struct.unpack_from("<i", data, i - 4)[0]
    assert n < 0
    patch(exe, i - 4, struct.pack("<i", -0x7FFFFFF0))
    p = run_stub(exe, wait=False)
    box = Driver().wait("ZMsgBox")
    assert "Bad CRC!" in box.dump()["text"]
    box.press("1")
    assert p.wait(60) == 1620
    assert s.read_report() is None


def stamp_folder(exe):
    """The SETUP_n name that the stub derives from its file's time of day."""
    t = time.localtime(os.stat(exe).st_mtime)
    return f"SETUP_{(t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec // 2)}"


def engine_folder(rep):
    return rep["ExePath"].rsplit("\\", 1)[0].rsplit("\\", 1)[1]


@case
def existing_setup_folder_or_a_link_in_its_place_survives_a_setup():
    w = fresh_dir("setup_existing")
    s = Setup(w)
    s.add_engine()
    exe = s.build()
    taken = winelib.wine_temp() / stamp_folder(exe)
    victim = w / "victim"
    try:
        # Another setup's running folder (or any folder) of that name.
        taken.mkdir(parents=True, exist_ok=True)
        (taken / "keep.txt").write_text("theirs")
        before = setup_folders()
        assert run_stub(exe, "/hide").returncode == 0
        rep = s.read_report()
        assert rep and engine_folder(rep) == taken.name + "_1", rep and rep["ExePath"]
        assert (taken / "keep.txt").read_text() == "theirs"
        assert setup_folders() == before, "the setup's own folder stays"
        # A link in its place, pointing at someone's files.
        (taken / "keep.txt").unlink()
        taken.rmdir()
        victim.mkdir()
        (victim / "precious.txt").write_text("precious")
        taken.symlink_to(victim, target_is_directory=True)
        s.report.unlink()
        assert run_stub(exe, "/hide").returncode == 0
        assert s.read_report(), "the engine did not run"
        assert (victim / "precious.txt").read_text() == "precious"
        assert taken.is_symlink()
    finally:
        if taken.is_symlink():
            taken.unlink()
        shutil.rmtree(taken, ignore_errors=True)


@case
def two_setups_with_the_same_stamp_run_at_once_and_both_finish():
    setups = []
    for n in ("a", "b"):
        w = fresh_dir(f"setup_twins_{n}")
        write_random(w / "data.bin", 200_000, seed=ord(n))
        s = Setup(w)
        s.add_engine("/ZT_SLEEP=4000")
        s.add_file(w / "data.bin", compression="stored")
        setups.append((s, s.build(), w))
    stamp = os.stat(setups[0][1]).st_mtime
    os.utime(setups[1][1], (stamp, stamp))  # build tools often stamp one fixed time
    before = setup_folders()
    runs = [run_stub(exe, "/hide", wait=False) for _, exe, _ in setups]
    assert [p.wait(120) for p in runs] == [0, 0]
    folders = set()
    for s, exe, w in setups:
        rep = s.read_report()
        assert rep, f"the engine of {exe} did not run"
        data = (w / "data.bin").read_bytes()
        assert rep["files"]["data.bin"][:2] == (len(data), fnv1a64(data)), rep["files"]
        assert sorted(rep["files"]) == ["Engine.exe", "data.bin"], rep["files"]
        folders.add(engine_folder(rep))
    assert len(folders) == 2, folders
    assert setup_folders() == before, setup_folders()


@case
def device_named_items_are_skipped():
    w = fresh_dir("setup_devices")
    for name in ("AAAAAAA", "BBB", "good.txt"):
        (w / name).write_bytes(b"x" * 10)
    s = Setup(w)
    s.package["checksum"] = 0
    s.add_engine()
    s.add_file(w / "AAAAAAA", compression="stored")
    s.add_file(w / "BBB", compression="stored")
    s.add_file(w / "good.txt", compression="stored")
    exe = s.build()
    data = exe.read_bytes()
    patch(exe, data.index(b"|AAAAAAA|") + 1, b"CON.txt")
    patch(exe, data.index(b"|BBB|") + 1, b"NUL")
    # A write to the console device would fail with an error box and never end.
    with winelib.DebugViewer(w) as dv:
        assert run_stub(exe, "/hide", timeout=90).returncode == 0
        dv.wait_for("unsafe name: NUL")
        assert "unsafe name: CON.txt" in dv.text()
    rep = s.read_report()
    assert rep and sorted(rep["files"]) == ["Engine.exe", "good.txt"], rep and rep["files"]


if __name__ == "__main__":
    winelib.main()
