"""Setups split over volume files: joining split files, the disk prompt
(insert, cancel, forced by the registry), the agent copy written from the
first volume, and the re-launch of a spanned-CD setup from its Y_ copy."""
import os
import pathlib
import shutil
import struct
import time

import guidriver
import winelib
from winelib import case, fresh_dir, winpath, wait_until
from guidriver import Driver
from stubtest import Setup, run_stub, fnv1a64, setup_folders, reg_set, reg_delete, write_random

SPAN_KEY = r"HKEY_CURRENT_USER\Software\Vindraco\Zelkan\SpanDisk"


def spanned(w, first_001=False, agent=None, cd=False):
    """A setup whose 2 MB data file is split over several volumes."""
    write_random(w / "big.bin", 2_000_000, seed=7)
    (w / "small.txt").write_bytes(b"small file\r\n")
    s = Setup(w)
    s.package["volume_size"] = winelib.exe("stub.exe").stat().st_size + 600_000
    if first_001:
        s.package["first_volume_001"] = 1
    if agent:
        s.package["agent_exe"] = agent
        s.package["write_agent_copy"] = 1
        s.package["allow_unsigned"] = 1
    if cd:
        s.package["cd_spanning"] = 1
    s.add_engine()
    s.add_file(w / "small.txt")
    s.add_file(w / "big.bin", compression="stored")
    return s


def check_files(s, w):
    rep = s.read_report()
    assert rep, "the engine did not run"
    big = (w / "big.bin").read_bytes()
    assert rep["files"]["big.bin"][:2] == (len(big), fnv1a64(big)), rep["files"]
    assert rep["files"]["small.txt"][0] == 12
    return rep


@case
def volumes_named_001_are_joined_back():
    w = fresh_dir("vol_001")
    s = spanned(w, first_001=True, agent="Agent.exe")
    first = s.build()
    assert first.name == "Setup.exe.001", first
    vols = sorted(p.name for p in w.glob("Setup.exe.0*"))
    assert len(vols) >= 3, vols
    r = run_stub(first, "/hide")
    assert r.returncode == 0
    rep = check_files(s, w)
    # A first volume named ".exe.001" also yields the agent copy.
    expected = agent_copy_expected(first)
    assert rep["files"]["Agent.exe"][:2] == (len(expected), fnv1a64(expected)), rep["files"].get("Agent.exe")


@case
def missing_volume_is_asked_for_and_inserted():
    w = fresh_dir("vol_insert")
    s = spanned(w)
    first = s.build()
    second = w / "Setup.exe.002"
    away = w / "away.002"
    second.rename(away)
    p = run_stub(first, wait=False)
    d = Driver(timeout_ms=30000)
    box = d.wait("ZMsgBox")
    info = box.dump()
    assert "DISK #2" in info["text"], info["text"]
    assert info["caption"] == "Attention", info
    # "Insert the disk", then OK.
    shutil.copy(away, second)
    box.press("OK")
    assert p.wait(120) == 0
    check_files(s, w)


@case
def cancel_in_the_disk_prompt_starts_no_engine():
    w = fresh_dir("vol_cancel")
    s = spanned(w)
    first = s.build()
    (w / "Setup.exe.002").unlink()
    before = setup_folders()
    p = run_stub(first, wait=False)
    box = Driver(timeout_ms=30000).wait("ZMsgBox")
    box.press("Cancel")
    assert p.wait(120) == 1602
    assert s.read_report() is None
    assert setup_folders() == before


@case
def second_close_during_the_extraction_stops_it_and_starts_no_engine():
    w = fresh_dir("vol_close")
    s = spanned(w)
    first = s.build()
    second = w / "Setup.exe.002"
    away = w / "away.002"
    second.rename(away)
    before = setup_folders()
    p = run_stub(first, wait=False)  # shown, so that its window can be closed like a user would
    d = Driver(timeout_ms=30000)
    box = d.wait("ZMsgBox")  # the disk prompt: the extraction is under way
    main = [r for r in d.windows() if r[1].lower() == winpath(first).lower()]
    assert len(main) == 1, d.windows()
    window = guidriver.Window(d, main[0][1], main[0][0])
    window.close()
    window.close()
    time.sleep(2)
    # The window's end did not pull the folder away under the running extraction.
    assert box.alive(), "the second close ended the program during the extraction"
    assert p.poll() is None
    shutil.copy(away, second)
    box.press("OK")
    assert p.wait(120) == 1602  # closed by the user: cancelled
    assert s.read_report() is None, "an engine was started after the close"
    assert setup_folders() == before


@case
def force_prompt_from_the_registry_asks_for_present_disks():
    w = fresh_dir("vol_force")
    s = spanned(w)
    first = s.build()
    nvol = len(list(w.glob("Setup.exe*"))) - 0
    reg_set(SPAN_KEY, "ForcePrompt", "1")
    try:
        p = run_stub(first, wait=False)
        d = Driver(timeout_ms=30000)
        asked = []
        while p.poll() is None:
            try:
                box = d.wait("ZMsgBox", timeout_ms=5000)
            except AssertionError:
                continue
            text = box.dump()["text"]
            asked.append(text)
            box.press("OK")
            box.gone()
        assert p.returncode == 0
        assert any("DISK #2" in t for t in asked), asked
    finally:
        reg_delete(SPAN_KEY, "ForcePrompt")
    check_files(s, w)


def agent_copy_expected(setup_exe):
    """Stub plus header items of volume 1, 0xFC cleared, trailer marked as agent."""
    data = setup_exe.read_bytes()
    end = struct.unpack_from("<I", data, 0xFC)[0] or len(data)
    tlen = struct.unpack_from("<I", data, end - 4)[0]
    trailer = bytearray(data[end - tlen:end])
    hcount = trailer[1] or 2
    pos = struct.unpack_from("<I", trailer, 4)[0]
    for _ in range(hcount):
        n = struct.unpack_from("<i", data, pos)[0]
        pos += 4 + abs(n)
    copy = bytearray(data[:pos])
    copy[0xFC:0x100] = b"\0\0\0\0"
    trailer[69] = 1
    trailer[70:74] = struct.pack("<I", 74)
    # A package of its own: no files, no space to ask for, no later volumes,
    # no web download, no copy of its own, and the checksum of its own bytes.
    trailer[8:12] = b"\0\0\0\0"
    trailer[28:64] = bytes(36)
    trailer[65] &= ~0x06
    trailer[66] = 0
    trailer[68] = 0
    whole = bytes(copy) + bytes(trailer[:74])
    if struct.unpack_from("<I", trailer, 16)[0] != 1234:
        trailer[16:20] = struct.pack("<I", volume_sum(whole, 74))
    return bytes(copy) + bytes(trailer[:74])


def volume_sum(data, tlen):
    """The volume checksum of a file whose PackageEnd low half is 0: its dwords
    while more than 4 counted bytes are left, plus 1234 per full 4 KiB piece
    that leaves more."""
    remaining, total, pos = len(data) - tlen, 0, 0
    while True:
        piece = data[pos:pos + 4096]
        pos += len(piece)
        for i in range(0, len(piece) - 3, 4):
            remaining -= 4
            if remaining > 4:
                total += struct.unpack_from("<I", piece, i)[0]
        if remaining > 4:
            total += 1234
        if len(piece) != 4096:
            return total & 0xFFFFFFFF


@case
def agent_copy_is_written_for_exe_packages_only():
    w = fresh_dir("vol_agent")
    s = spanned(w, agent="Agent.exe")
    first = s.build()
    assert run_stub(first, "/hide").returncode == 0
    rep = check_files(s, w)
    expected = agent_copy_expected(first)
    assert rep["files"]["Agent.exe"][:2] == (len(expected), fnv1a64(expected)), rep["files"].get("Agent.exe")

    # A package named Data.001, run through another stub, gets no agent copy.
    w2 = fresh_dir("vol_agent_data")
    s2 = spanned(w2, first_001=True)
    s2.output = w2 / "Data"
    data001 = s2.build()
    assert data001.name == "Data.001"
    launcher = Setup(w2, "Launcher.exe")
    launcher.package["no_engine"] = 1  # it reads the package of Data.001
    launcher.package["agent_exe"] = "Agent.exe"
    launcher.package["write_agent_copy"] = 1
    launcher.package["allow_unsigned"] = 1
    lexe = launcher.build()
    assert run_stub(lexe, "/hide", f'/SpanDiskFName1="{winpath(data001)}"').returncode == 0
    rep2 = check_files(s2, w2)
    assert "Agent.exe" not in rep2["files"], rep2["files"]


@case
def spanned_cd_setup_relaunches_from_its_y_copy():
    w = fresh_dir("vol_cd")
    s = spanned(w, first_001=True, cd=True)
    first = s.build()
    launcher = w / "Setup.exe"
    shutil.copy(first, launcher)
    os.utime(launcher, (first.stat().st_atime, first.stat().st_mtime))
    r = run_stub(launcher, "/hide", "/X=5")
    assert r.returncode == 0  # the first start ends at once
    wait_until(lambda: s.read_report(), 60, what="the engine started by the Y_ copy")
    rep = check_files(s, w)
    cl = rep["CommandLine"]
    assert "/SpanCdLvl=" not in cl and "/SpanDiskFName1=" not in cl, cl
    assert f'/OriginExe="{winpath(launcher)}"' in cl, cl
    assert "/X=5" in cl, cl
    # The Y_ copy removes itself and its folder once it has ended.
    folder = rep["ExePath"].rsplit("\\", 1)[0]
    name = folder.rsplit("\\", 1)[1]
    temp = winelib.wine_temp()
    wait_until(lambda: not (temp / name).exists(), 60, what=f"{name} to be removed")


if __name__ == "__main__":
    winelib.main()
