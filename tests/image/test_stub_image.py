"""Checks of both built stubs (x86_64 and i686): the header layout the packer
relies on, and an import table that names only libraries Windows always takes
from its system folder (a planted DLL beside a downloaded setup is never loaded)."""
import os
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from pe import PE  # noqa: E402

KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll",
              "ole32.dll", "comdlg32.dll"}
SRC = pathlib.Path(__file__).resolve().parents[2]
BINS = {
    "x86_64": pathlib.Path(os.environ.get("ZS_WIN64_BIN", SRC / "build/win64/bin")),
    "i686": pathlib.Path(os.environ.get("ZS_WIN32_BIN", SRC / "build/win32/bin")),
}

failures = []


def check(cond, msg):
    if not cond:
        failures.append(msg)


for arch, bindir in BINS.items():
    stub = bindir / "stub.exe"
    if not stub.exists():
        failures.append(f"{arch}: {stub} was not built")
        continue
    pe = PE(stub)
    check(pe.lfanew == 0x100, f"{arch}: e_lfanew is {pe.lfanew:#x}, expected 0x100")
    check(pe.data[0x100:0x102] == b"PE", f"{arch}: no PE mark at 0x100")
    check(all(b == 0 for b in pe.data[0x90:0x100]), f"{arch}: bytes 0x90..0xFF are not free")
    check(pe.pe32plus == (arch == "x86_64"), f"{arch}: wrong image kind")
    check(pe.subsystem == 2, f"{arch}: not a GUI-subsystem program (subsystem {pe.subsystem})")
    check(pe.has_resource_dir(), f"{arch}: no resources")
    dlls = [d.lower() for d in pe.imported_dlls()]
    check(dlls, f"{arch}: no imports found")
    bad = [d for d in dlls if d not in KNOWN_DLLS]
    check(not bad, f"{arch}: imports libraries outside the system's known set: {bad}")
    rsrc = pe.data
    check(b"requireAdministrator" in rsrc, f"{arch}: manifest without requireAdministrator")
    check("M\0A\0I\0N\0I\0C\0O\0N".encode() in rsrc or b"M\0A\0I\0N\0I\0C\0O\0N\0" in rsrc,
          f"{arch}: no icon resource named MainIcon")
    check("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O".encode() in rsrc, f"{arch}: no version information")
    print(f"{arch}: PE at {pe.lfanew:#x}, imports {sorted(dlls)}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
