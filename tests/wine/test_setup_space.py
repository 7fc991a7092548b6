"""Where the setup extracts to: a temporary folder whose path holds a blank,
a temporary drive too small for the package (the question, and the move to a
roomier fixed drive). The temporary drive is a small tmpfs mapped to a Wine
drive letter; the prefix's TEMP is changed for the case and restored."""
import contextlib
import os
import pathlib
import re
import subprocess

import winelib
from winelib import case, fresh_dir, winpath, wait_until
from guidriver import Driver
from stubtest import Setup, run_stub, write_random, temp_folder

@contextlib.contextmanager
def small_drive(w, letter="t", size="4m"):
    """A tmpfs of the given size, mapped to a drive letter of the prefix."""
    mnt = w / "tiny"
    mnt.mkdir(exist_ok=True)
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(mnt)],
                       stderr=subprocess.PIPE)
    if r.returncode != 0:
        raise AssertionError(f"cannot mount a small tmpfs (needs root): {r.stderr.decode().strip()}")
    link = winelib.PREFIX / "dosdevices" / f"{letter}:"
    try:
        if link.is_symlink():
            link.unlink()
        link.symlink_to(mnt)
        (mnt / "Temp").mkdir()
        yield f"{letter.upper()}:\\Temp"
    finally:
        if link.is_symlink():
            link.unlink()
        subprocess.run(["umount", "-l", str(mnt)])


def big_setup(w):
    write_random(w / "big.bin", 6_000_000, seed=11)
    s = Setup(w)
    s.add_engine()
    s.add_file(w / "big.bin", compression="stored")
    return s, s.build()


C_TEMP = winelib.PREFIX / "drive_c" / "TEMP"


@case
def engine_path_with_a_blank_is_quoted():
    w = fresh_dir("space_blank")
    s = Setup(w)
    s.add_engine("/ZT_EXIT=3")
    exe = s.build()
    folder = winelib.PREFIX / "drive_c" / "Temp Dir With Blank"
    folder.mkdir(exist_ok=True)
    with temp_folder("C:\\Temp Dir With Blank"):
        assert run_stub(exe, "/hide").returncode == 3
    cl = s.read_report()["CommandLine"]
    assert re.match(r'"C:\\Temp Dir With Blank\\SETUP_\d+\\Engine\.exe" /hide /ZT_REPORT=', cl), cl
    assert not list(folder.glob("SETUP_*"))


@case
def short_temp_drive_without_a_roomier_one_asks_first():
    w = fresh_dir("space_short")
    s, exe = big_setup(w)
    # C:\TEMP as a plain file: no probe folder can be made on C, so no drive is roomier.
    if C_TEMP.is_dir():
        os.rename(C_TEMP, C_TEMP.with_name("TEMP.saved"))
    C_TEMP.write_text("not a folder")
    try:
        with small_drive(w) as temp, temp_folder(temp):
            d = Driver(timeout_ms=30000)
            p = run_stub(exe, wait=False)
            box = d.wait("ZMsgBox")
            text = box.dump()["text"]
            assert "Limited Free Space on your Temp Drive! (T:)" in text, text
            assert "Estimated space required on your Temp drive is:" in text
            box.press("No")
            assert p.wait(60) == 1602
    finally:
        C_TEMP.unlink()
        if C_TEMP.with_name("TEMP.saved").exists():
            os.rename(C_TEMP.with_name("TEMP.saved"), C_TEMP)
    assert s.read_report() is None


@case
def short_temp_drive_moves_to_the_roomier_fixed_drive():
    w = fresh_dir("space_roomier")
    s, exe = big_setup(w)
    existed = C_TEMP.exists()
    with small_drive(w) as temp, temp_folder(temp):
        assert run_stub(exe, "/hide").returncode == 0
    rep = s.read_report()
    assert rep, "the engine did not run"
    where = rep["ExePath"].rsplit("\\", 1)[0]
    pattern = r"C:\\TEMP\\TEMP_\d{5,6}" if existed else r"C:\\TEMP_\d{5,6}"
    assert re.fullmatch(pattern, where, re.I), where
    assert rep["files"]["big.bin"][0] == 6_000_000
    # The alternative folder goes when the engine has ended.
    unix = winelib.PREFIX / "drive_c" / where[3:].replace("\\", "/")
    assert not unix.exists(), unix


if __name__ == "__main__":
    winelib.main()
