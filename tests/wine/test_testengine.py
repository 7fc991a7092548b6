"""The stand-in setup engine: its report and its exit code."""
import datetime
import os
import shutil

import winelib
from winelib import case


def fnv1a64(data):
    h = 14695981039346656037
    for b in data:
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


# The published FNV-1a 64 value of "a" pins the constants of both sides.
assert fnv1a64(b"a") == "af63dc4c8601ec8c"


def dos_time(path):
    t = datetime.datetime.fromtimestamp(os.path.getmtime(path))
    return ((t.year - 1980) << 25) | (t.month << 21) | (t.day << 16) | (t.hour << 11) | (t.minute << 5) | (t.second // 2)


@case
def report_lists_command_line_folder_and_files():
    d = winelib.fresh_dir("testengine")
    shutil.copy(winelib.exe("testengine.exe"), d / "Engine.exe")
    (d / "Setup.txt").write_bytes(b"hello\x00world")
    os.utime(d / "Setup.txt", (1000000000, 1000000000))
    report = d / "reports" / "r.txt"
    report.parent.mkdir()
    r = winelib.run([d / "Engine.exe", "/TH_ID=_42", "/ZT_REPORT=" + winelib.winpath(report), "/ZT_EXIT=7",
                     "/AutoUpdateProg"], cwd=d / "reports")
    assert r.returncode == 7, r.returncode
    lines = report.read_text(encoding="latin-1").splitlines()
    values = {}
    files = {}
    for line in lines:
        key, _, value = line.partition("=")
        if key == "File":
            name, size, digest, dos = value.split("|")
            files[name] = (int(size), digest, int(dos))
        else:
            values[key] = value
    assert values["CommandLine"].endswith(" /TH_ID=_42 /ZT_REPORT=" + winelib.winpath(report) +
                                          " /ZT_EXIT=7 /AutoUpdateProg"), values
    assert values["CurrentDir"].lower() == winelib.winpath(d / "reports").lower(), values
    assert values["ThId"] == "_42"
    assert values["AtomAtStart"] == "0"
    assert files["Setup.txt"] == (11, fnv1a64(b"hello\x00world"), dos_time(d / "Setup.txt")), files
    assert files["Engine.exe"][0] == (d / "Engine.exe").stat().st_size
    assert values["ExePath"].lower() == winelib.winpath(d / "Engine.exe").lower(), values
    assert not (d / "reports" / "r.txt.tmp").exists()


if __name__ == "__main__":
    winelib.main()
