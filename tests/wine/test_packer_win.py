"""The Windows packer: extract a split package under Wine, as the native packer does."""
import os
import re
import subprocess
import time

from winelib import case, exe, fresh_dir, main, native, run, winpath


def local(t):
    return int(time.mktime(t + (0, 0, -1)))


@case
def extract_with_the_windows_packer():
    w = fresh_dir("packer_win")
    stub = bytearray(0x400)
    stub[0:2] = b"MZ"
    stub[0x100:0x104] = b"PE\0\0"
    (w / "stub.exe").write_bytes(bytes(stub))
    files = {"engine.exe": b"MZ engine " * 40, "data.bin": os.urandom(20000) + b"tail" * 2000}
    for i, (name, content) in enumerate(files.items()):
        (w / name).write_bytes(content)
        t = local((2020 + i, 6, 7, 8, 9, 10))
        os.utime(w / name, (t, t))
    (w / "m.txt").write_text("[package]\nstub = stub.exe\noutput = Setup.exe\nvolume_size = 9000\n"
                             "[file]\nsource = engine.exe\nengine = /S\n[file]\nsource = data.bin\ncompression = 1\n")
    subprocess.run([str(native("packer")), "build", "m.txt"], cwd=w, check=True, capture_output=True)
    assert (w / "Setup.exe.002").exists()
    r = run([exe("packer.exe"), "extract", winpath(w / "Setup.exe"), winpath(w / "out")], timeout=120)
    assert r.returncode == 0, r.stdout + r.stderr
    assert sorted(os.listdir(w / "out")) == sorted(files)
    for name, content in files.items():
        assert (w / "out" / name).read_bytes() == content, name
        assert (w / "out" / name).stat().st_mtime == (w / name).stat().st_mtime, name
    assert re.search(r"engine\.exe  \[engine /S\]", r.stdout), r.stdout
    assert re.search(r"^extract: \d+ volumes, 2 files, ", r.stdout, re.M), r.stdout


main()
